#include "decoder/ldpc/min_sum.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_support.hpp"

#include <functional>
#include <limits>
#include <random>
#include <stdexcept>

#include "decoder/ldpc/fec_profile.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/qc_code.hpp"

namespace qarel::ldpc {
namespace {

using Decoder = LdpcDecodeResult (*)(std::span<const float>, const LdpcGraph&, std::span<std::uint8_t>,
                                     const MinSumSettings&);
const Decoder kDecoders[] = {decode_min_sum_flooding, decode_min_sum_layered};

// A rate-3 generated code and codewords of it sent through a BPSK channel.
struct CodeUnderTest {
    testgen::QcBaseMatrix base = testgen::generate_dtmb_like_code({.rate = 3});
    LdpcGraph graph = build_ldpc_graph(testgen::expand_base_matrix(base), 7493);

    std::vector<std::uint8_t> random_codeword(std::uint64_t seed) const {
        std::mt19937_64 engine(seed);
        std::vector<std::uint8_t> message(6096);
        for (auto& bit : message) bit = engine() & 1u;
        return testgen::encode_dtmb_like_codeword(base, message);
    }

    // Full-length LLRs of a codeword over BPSK with the erased parity set to 0.
    static std::vector<float> received(const std::vector<std::uint8_t>& codeword, double esn0_db, std::uint64_t seed) {
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = esn0_db, .seed = seed});
        auto llrs = channel.transmit(codeword);
        std::fill_n(llrs.begin(), 5, 0.0f);
        return llrs;
    }
};

TEST(MinSum, ArgumentChecks) {
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}}), 2);
    std::vector<float> llrs(2, 1.0f);
    std::vector<std::uint8_t> bits(2);
    for (const Decoder decode : kDecoders) {
        EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode(std::vector<float>(3, 1.0f), graph, bits, {}); }),
                  "LDPC input/output size must match graph variable count");
        EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode(llrs, graph, std::span(bits).first(1), {}); }),
                  "LDPC input/output size must match graph variable count");
        EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode(llrs, graph, bits, {0, 0.75f}); }), "LDPC max iterations must be positive");
        for (const float attenuation : {0.0f, -1.0f, std::numeric_limits<float>::infinity(),
                                        std::numeric_limits<float>::quiet_NaN()})
            EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode(llrs, graph, bits, {5, attenuation}); }),
                      "LDPC attenuation must be positive and finite");
        LdpcGraph broken = graph;
        broken.check_offsets.back() = 3;
        EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode(llrs, broken, bits, {}); }), "LDPC graph edge count is invalid");
    }
}

TEST(MinSum, ACodewordAtTheInputNeedsNoIterations) {
    const CodeUnderTest code;
    const auto codeword = code.random_codeword(1);
    std::vector<float> llrs(codeword.size());
    for (std::size_t v = 0; v < llrs.size(); ++v) llrs[v] = codeword[v] ? -4.0f : 4.0f;
    for (const Decoder decode : kDecoders) {
        std::vector<std::uint8_t> bits(7493 + 3, 7);  // a longer output keeps its extra bytes
        EXPECT_EQ(decode(llrs, code.graph, bits, {}), (LdpcDecodeResult{0, true, 0}));
        EXPECT_TRUE(std::equal(codeword.begin(), codeword.end(), bits.begin()));
        EXPECT_EQ(bits[7493], 7);
    }
}

TEST(MinSum, TiedMinimaGiveEveryEdgeThatMagnitude) {
    // One check over three variables with magnitudes 2, 2, 5 and one negative sign. With the
    // tie, every edge hears 0.75 x 2, which leaves the decision unchanged for ever; giving the
    // first edge the next larger magnitude instead would flip it and satisfy the check.
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1, 2}}), 3);
    const std::vector<float> llrs{2.0f, -2.0f, 5.0f};
    for (const Decoder decode : kDecoders) {
        std::vector<std::uint8_t> bits(3);
        EXPECT_EQ(decode(llrs, graph, bits, {10, 0.75f}), (LdpcDecodeResult{10, false, 1}));
        EXPECT_EQ(bits, (std::vector<std::uint8_t>{0, 1, 0}));
    }
}

TEST(MinSum, ZeroLlrDecidesZeroAndCountsAsPositive) {
    // LLRs 0 and -3 on one check: the zero edge hears -0.75 x 3 and flips to 1, the other hears
    // a zero-magnitude message and stays 1, which satisfies the check after one iteration.
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}}), 2);
    for (const Decoder decode : kDecoders) {
        std::vector<std::uint8_t> bits(2);
        EXPECT_EQ(decode(std::vector<float>{0.0f, -3.0f}, graph, bits, {5, 0.75f}), (LdpcDecodeResult{1, true, 0}));
        EXPECT_EQ(bits, (std::vector<std::uint8_t>{1, 1}));
        EXPECT_EQ(decode(std::vector<float>{-0.0f, 0.0f}, graph, bits, {5, 0.75f}), (LdpcDecodeResult{0, true, 0}));
        EXPECT_EQ(bits, (std::vector<std::uint8_t>{0, 0}));
    }
}

TEST(MinSum, DegreeZeroAndOneChecksNeverChangeAPosterior) {
    // Check 1 has a single edge on variable 2, whose LLR is negative: it stays unsatisfied
    // and variable 2 keeps its decision; check 2 has no edges.
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}, {2}, {}}), 3);
    for (const Decoder decode : kDecoders) {
        std::vector<std::uint8_t> bits(3);
        EXPECT_EQ(decode(std::vector<float>{1.0f, 2.0f, -1.0f}, graph, bits, {4, 0.75f}),
                  (LdpcDecodeResult{4, false, 1}));
        EXPECT_EQ(bits, (std::vector<std::uint8_t>{0, 0, 1}));
    }
}

TEST(MinSum, NoisyCodewordsConvergeToTheTransmittedCodeword) {
    const CodeUnderTest code;
    std::uint64_t flooding_iterations = 0;
    std::uint64_t layered_iterations = 0;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        const auto codeword = code.random_codeword(seed);
        const auto llrs = CodeUnderTest::received(codeword, 2.5, seed);
        std::vector<std::uint8_t> bits(7493);
        const auto flooding = decode_min_sum_flooding(llrs, code.graph, bits, {50, 0.75f});
        EXPECT_TRUE(flooding.converged);
        EXPECT_EQ(bits, codeword);
        const auto layered = decode_min_sum_layered(llrs, code.graph, bits, {50, 0.75f});
        EXPECT_TRUE(layered.converged);
        EXPECT_EQ(bits, codeword);
        EXPECT_GT(flooding.iterations, 0u);
        flooding_iterations += flooding.iterations;
        layered_iterations += layered.iterations;
    }
    // The layered schedule passes new information on within an iteration.
    EXPECT_LT(layered_iterations, flooding_iterations);
}

TEST(MinSum, StopsAtTheIterationLimit) {
    const CodeUnderTest code;
    bool found = false;
    for (std::uint64_t seed = 1; seed <= 40 && !found; ++seed) {
        const auto codeword = code.random_codeword(seed);
        const auto llrs = CodeUnderTest::received(codeword, 6.0, seed);
        std::vector<std::uint8_t> bits(7493);
        if (decode_min_sum_flooding(llrs, code.graph, bits, {50, 0.75f}) != LdpcDecodeResult{2, true, 0}) continue;
        found = true;
        const auto limited = decode_min_sum_flooding(llrs, code.graph, bits, {1, 0.75f});
        EXPECT_EQ(limited.iterations, 1u);
        EXPECT_FALSE(limited.converged);
        EXPECT_GT(limited.final_syndrome_weight, 0u);
        EXPECT_EQ(limited.final_syndrome_weight, syndrome_weight(bits, code.graph));
    }
    EXPECT_TRUE(found) << "no codeword needed exactly two iterations";
}

}  // namespace
}  // namespace qarel::ldpc
