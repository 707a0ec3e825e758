#include "decoder/ldpc/min_sum_lanes.hpp"

#include <gtest/gtest.h>

#include <random>

#include "decoder/ldpc/fec_profile.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/qc_code.hpp"

namespace qarel::ldpc {
namespace {

std::vector<FloodingKernel> available_kernels() {
    std::vector<FloodingKernel> kernels{FloodingKernel::generic};
    if (flooding_kernel_available(FloodingKernel::avx2)) kernels.push_back(FloodingKernel::avx2);
    return kernels;
}

// Decodes the codewords with every kernel and compares each lane with decoding it alone.
void expect_lanes_match_reference(const std::vector<std::vector<float>>& codewords, const LdpcGraph& graph,
                                  const MinSumSettings& settings) {
    std::vector<LdpcDecodeResult> expected(codewords.size());
    std::vector<std::vector<std::uint8_t>> expected_bits(codewords.size(), std::vector<std::uint8_t>(graph.variable_count));
    for (std::size_t i = 0; i < codewords.size(); ++i)
        expected[i] = decode_min_sum_flooding(codewords[i], graph, expected_bits[i], settings);

    for (const FloodingKernel kernel : available_kernels()) {
        SCOPED_TRACE(static_cast<int>(kernel));
        std::vector<std::vector<std::uint8_t>> bits(codewords.size(), std::vector<std::uint8_t>(graph.variable_count, 9));
        std::vector<LdpcDecodeResult> results(codewords.size());
        std::vector<FloodingJob> jobs;
        for (std::size_t i = 0; i < codewords.size(); ++i) jobs.push_back({codewords[i], bits[i], &results[i]});
        decode_min_sum_flooding_many(jobs, graph, settings, kernel);
        for (std::size_t i = 0; i < codewords.size(); ++i) {
            EXPECT_EQ(results[i], expected[i]) << i;
            EXPECT_EQ(bits[i], expected_bits[i]) << i;
        }
    }
}

TEST(MinSumLanes, EveryLaneMatchesDecodingItAlone) {
    for (const std::uint64_t rate : {1u, 2u, 3u}) {
        SCOPED_TRACE(rate);
        const auto& profile = fec_profile_for_rate(rate);
        const auto base = testgen::generate_dtmb_like_code({.rate = rate});
        const LdpcGraph graph = build_ldpc_graph(testgen::expand_base_matrix(base), base.variable_count());
        const double waterfall_db[] = {-2.5, 0.0, 2.2};
        std::vector<std::vector<float>> codewords;
        std::mt19937_64 engine(rate);
        for (int i = 0; i < 11; ++i) {
            std::vector<std::uint8_t> message(profile.message_bits);
            for (auto& bit : message) bit = engine() & 1u;
            // Noise around the waterfall, so some lanes converge early, some late, some never.
            testgen::Channel channel({.kind = testgen::ChannelKind::bpsk,
                                      .esn0_db = waterfall_db[rate - 1] - 1.0 + 0.25 * i,
                                      .seed = rate * 100 + static_cast<std::uint64_t>(i)});
            auto llrs = channel.transmit(testgen::encode_dtmb_like_codeword(base, message));
            std::fill_n(llrs.begin(), 5, 0.0f);
            codewords.push_back(std::move(llrs));
        }
        // Codewords from the start (finished before any iteration) between the noisy ones, so
        // lanes are refilled both at once and after iterating.
        codewords.insert(codewords.begin() + 3, std::vector<float>(graph.variable_count, 1.0f));
        codewords.insert(codewords.begin() + 9, 2, std::vector<float>(graph.variable_count, 1.0f));
        expect_lanes_match_reference(codewords, graph, {50, 0.75f});
        expect_lanes_match_reference(codewords, graph, {3, 0.5f});
        expect_lanes_match_reference({codewords.begin() + 5, codewords.begin() + 6}, graph, {50, 0.75f});
    }
}

TEST(MinSumLanes, TiesZerosAndSmallChecksAsAlone) {
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1, 2}, {2}, {}, {1, 3}, {3, 3}}), 4);
    expect_lanes_match_reference({{2.0f, -2.0f, 5.0f, 1.0f}, {0.0f, -3.0f, -0.0f, 2.0f}, {-0.0f, 0.0f, 1.0f, -1.0f},
                                  {1.0f, 1.0f, -1.0f, 1.0f}},
                                 graph, {10, 0.75f});
}

TEST(MinSumLanes, ArgumentChecks) {
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}}), 2);
    std::vector<float> llrs(2, 1.0f), short_llrs(1, 1.0f);
    std::vector<std::uint8_t> bits(2);
    LdpcDecodeResult result;
    const auto error = [&](std::span<const float> input, const MinSumSettings& settings) {
        const std::vector<FloodingJob> jobs{{input, bits, &result}};
        return test::error_message<std::invalid_argument>([&] { decode_min_sum_flooding_many(jobs, graph, settings); });
    };
    EXPECT_EQ(error(llrs, {0, 0.75f}), "LDPC max iterations must be positive");
    EXPECT_EQ(error(llrs, {5, 0.0f}), "LDPC attenuation must be positive and finite");
    EXPECT_EQ(error(short_llrs, {5, 0.75f}), "LDPC input/output size must match graph variable count");
    EXPECT_NO_THROW(decode_min_sum_flooding_many({}, graph, {5, 0.75f}));
}

}  // namespace
}  // namespace qarel::ldpc
