#include "tools/testgen/qc_code.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/hard_h_graph.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::testgen {
namespace {

class GeneratedCode : public testing::TestWithParam<std::uint64_t> {};

TEST_P(GeneratedCode, HasTheProfileShapeAndNoFourCycles) {
    const std::uint64_t rate = GetParam();
    const ldpc::FecProfile& profile = ldpc::fec_profile_for_rate(rate);
    const QcBaseMatrix base = generate_dtmb_like_code({.rate = rate});
    EXPECT_EQ(base.variable_count(), profile.variable_count());
    EXPECT_EQ(base.block_rows, profile.parity_blocks);

    const ldpc::CheckRows rows = expand_base_matrix(base);
    EXPECT_EQ(rows.row_count(), profile.parity_bits());
    EXPECT_EQ(count_four_cycles(rows, base.variable_count()), 0u);

    // Every message column has weight of at least 3.
    for (std::uint64_t column = base.block_rows; column < base.block_columns; ++column) {
        std::uint64_t weight = 0;
        for (std::uint64_t row = 0; row < base.block_rows; ++row)
            weight += base.shift(row, column) != QcBaseMatrix::kZeroBlock;
        EXPECT_GE(weight, 3u) << column;
    }
}

TEST_P(GeneratedCode, EncodedCodewordsSatisfyEveryCheck) {
    const std::uint64_t rate = GetParam();
    const ldpc::FecProfile& profile = ldpc::fec_profile_for_rate(rate);
    const QcBaseMatrix base = generate_dtmb_like_code({.rate = rate, .seed = 7});
    const ldpc::LdpcGraph graph = ldpc::build_ldpc_graph(expand_base_matrix(base), base.variable_count());

    std::mt19937_64 engine(rate);
    for (int trial = 0; trial < 4; ++trial) {
        std::vector<std::uint8_t> message(profile.message_bits);
        for (auto& bit : message) bit = static_cast<std::uint8_t>(engine() & 1u);
        if (trial == 0) std::fill(message.begin(), message.end(), 0);
        if (trial == 1) message.assign(message.size(), 0), message[0] = 1;  // a single message bit
        const auto codeword = encode_dtmb_like_codeword(base, message);
        EXPECT_EQ(ldpc::syndrome_weight(codeword, graph), 0u) << trial;
        EXPECT_TRUE(std::equal(message.begin(), message.end(), codeword.begin() + profile.parity_bits()));
    }
}

TEST_P(GeneratedCode, AlistRoundTripsThroughTheDecodersReader) {
    const std::uint64_t rate = GetParam();
    const std::string& path = test::generated_code_alist(rate);
    const ldpc::LdpcGraph graph = ldpc::load_alist_graph(path);
    const ldpc::LdpcGraph expected =
        ldpc::build_ldpc_graph(expand_base_matrix(generate_dtmb_like_code({.rate = rate})), 7493);
    EXPECT_EQ(graph.variable_count, 7493u);
    EXPECT_EQ(graph.check_offsets, expected.check_offsets);
    EXPECT_EQ(graph.edge_count(), expected.edge_count());

    const ldpc::LdpcGraph hard_h = ldpc::load_hard_h_graph(path, rate);
    EXPECT_EQ(hard_h.variable_count, 7488u);
    // Only the rows that touch the 5 erased bits of the weight-3 first column are dropped.
    EXPECT_EQ(hard_h.check_count(), graph.check_count() - 15);
}

INSTANTIATE_TEST_SUITE_P(AllRates, GeneratedCode, testing::Values(1u, 2u, 3u));

TEST(GeneratedCodeOptions, SeedsAreReproducibleAndWeightsChecked) {
    const auto a = generate_dtmb_like_code({.rate = 2, .seed = 11});
    const auto b = generate_dtmb_like_code({.rate = 2, .seed = 11});
    const auto c = generate_dtmb_like_code({.rate = 2, .seed = 12});
    EXPECT_EQ(a.shifts, b.shifts);
    EXPECT_NE(a.shifts, c.shifts);
    const auto heavy = generate_dtmb_like_code({.rate = 3, .message_column_weight = 5});
    EXPECT_EQ(count_four_cycles(expand_base_matrix(heavy), heavy.variable_count()), 0u);
    EXPECT_THROW(generate_dtmb_like_code({.rate = 3, .message_column_weight = 2}), std::invalid_argument);
    EXPECT_THROW(generate_dtmb_like_code({.rate = 3, .message_column_weight = 12}), std::invalid_argument);
    EXPECT_THROW(generate_dtmb_like_code({.rate = 4}), std::invalid_argument);
}

TEST(GeneratedCodeOptions, FourCycleCounterFindsSharedPairs) {
    EXPECT_EQ(count_four_cycles(ldpc::CheckRows::from_lists({{0, 1, 2}, {1, 2, 3}, {0, 3}, {0, 2}}), 4), 2u);
}

}  // namespace
}  // namespace qarel::testgen
