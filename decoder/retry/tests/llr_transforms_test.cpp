#include "decoder/retry/llr_transforms.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "decoder/ldpc/fec_profile.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::retry {
namespace {

constexpr std::uint64_t kVariables = 7493;

// Distinct non-zero LLRs: variable v gets magnitude v + 1 and alternating signs.
std::vector<float> ramp() {
    std::vector<float> llrs(kVariables, 0.0f);
    for (std::uint64_t v = 5; v < kVariables; ++v) llrs[v] = static_cast<float>(v + 1) * (v % 2 ? -1.0f : 1.0f);
    return llrs;
}

std::vector<float> transformed(const LlrTransform& t, const std::vector<float>& source = ramp(),
                               const ldpc::LdpcGraph& graph = {}) {
    std::vector<float> attempt(source.size());
    build_retry_llrs(graph, source, attempt, t);
    return attempt;
}

std::vector<std::uint64_t> erased_transmitted(const std::vector<float>& llrs) {
    std::vector<std::uint64_t> t;
    for (std::uint64_t v = 5; v < llrs.size(); ++v)
        if (llrs[v] == 0.0f) t.push_back(v - 5);
    return t;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(RetryLlrs, ScaleAndClipTouchOnlyTransmittedVariables) {
    std::vector<float> source = ramp();
    source[0] = 3.0f;  // an erased-parity entry that is not zero stays as it is
    EXPECT_TRUE(same_bits(transformed({}, source), source));
    const auto zero = transformed({.scale = 0.0f}, source);
    EXPECT_EQ(zero[0], 3.0f);
    EXPECT_EQ(erased_transmitted(zero).size(), 7488u);
    const auto half = transformed({.scale = 0.5f, .clip = 100.0f}, source);
    EXPECT_EQ(half[5], -3.0f);           // -6 x 0.5
    EXPECT_EQ(half[6], 3.5f);            // 7 x 0.5
    EXPECT_EQ(half[1000], 100.0f);       // 500.5 clipped
    EXPECT_EQ(half[1001], -100.0f);
}

TEST(RetryLlrs, SelectiveErasureByRangeWindowAndPlane) {
    const auto plane = erased_transmitted(transformed({.qam_plane = 2}));
    EXPECT_EQ(plane.size(), 1248u);
    EXPECT_TRUE(std::all_of(plane.begin(), plane.end(), [](std::uint64_t t) { return t % 6 == 2; }));

    const BranchWindow first_branch[] = {{0, 0}};
    const auto window = erased_transmitted(transformed({.branch_windows = first_branch}));
    EXPECT_EQ(window.size(), 7488u / 52);
    EXPECT_EQ(std::vector<std::uint64_t>(window.begin(), window.begin() + 8),
              (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5, 312, 313}));

    const auto range_and_plane = erased_transmitted(transformed({.variable_range = VariableRange{10, 30}, .qam_plane = 1}));
    EXPECT_EQ(range_and_plane, (std::vector<std::uint64_t>{13, 19, 25}));
    EXPECT_EQ(erased_transmitted(transformed({.variable_range = VariableRange{10, 30}})).size(), 21u);
}

TEST(RetryLlrs, WeakEraseRemovesTheSmallestMagnitudes) {
    const auto half = erased_transmitted(transformed({.weak_erase_fraction = 0.5f}));
    ASSERT_EQ(half.size(), 3744u);
    EXPECT_EQ(half.back(), 3743u);  // the ramp's smallest magnitudes are its first variables
    EXPECT_TRUE(erased_transmitted(transformed({.weak_erase_fraction = 1.0f / 7489.0f})).empty());
}

// Three checks over variables 5..9: c0 = {5, 6}, c1 = {6, 7}, c2 = {8, 9}.
ldpc::LdpcGraph small_graph() {
    return ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{5, 6}, {6, 7}, {8, 9}}), kVariables);
}

TEST(RetryLlrs, UnsatisfiedEraseTakesTheVariablesOfFailedChecks) {
    const auto graph = small_graph();
    std::vector<float> source(kVariables, 1.0f);
    std::fill(source.begin(), source.begin() + 5, 0.0f);
    source[6] = -2.0f;  // c0 and c1 fail; variable 6 sits in both
    source[7] = 5.0f;
    source[5] = 0.0f;   // already erased: never a candidate
    EXPECT_EQ(erased_transmitted(transformed({.unsatisfied_erase_count = 1}, source, graph)),
              (std::vector<std::uint64_t>{0, 1}));
    // More than the candidates (6, then 7): exactly those are erased.
    EXPECT_EQ(erased_transmitted(transformed({.unsatisfied_erase_count = 10}, source, graph)),
              (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_EQ(qarel::test::error_message<std::runtime_error>([&] {
                  std::vector<float> short_llrs(10, 1.0f), out(10);
                  build_retry_llrs(graph, short_llrs, out, {.unsatisfied_erase_count = 1});
              }),
              "LDPC retry LLR size does not match graph variable count");
}

TEST(FailedVariables, RankedByUnsatisfiedChecksThenIndex) {
    // Variable 1 is in both failed checks; 0, 2 and 3 in one each; 4's check holds.
    const auto graph = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{0, 1}, {1, 2, 3}, {3, 4}, {4}}), 5);
    const std::vector<std::uint8_t> bits{0, 1, 0, 0, 0};
    const auto ranking = rank_failed_variables(graph, bits, 10);
    EXPECT_EQ(ranking.unsatisfied_checks, 2u);
    ASSERT_EQ(ranking.variables.size(), 4u);
    const FailedVariable& top = ranking.variables[0];
    EXPECT_EQ(top.full_variable_index, 1u);
    EXPECT_EQ(top.decoded_bit, 1u);
    EXPECT_EQ(top.check_degree, 2u);
    EXPECT_EQ(top.unsatisfied_check_count, 2u);
    EXPECT_EQ(top.flip_syndrome_delta, -2);
    EXPECT_EQ(ranking.variables[1].full_variable_index, 0u);
    EXPECT_EQ(ranking.variables[3].full_variable_index, 3u);
    EXPECT_EQ(ranking.variables[3].flip_syndrome_delta, 0);  // one check holds, one fails
    EXPECT_EQ(rank_failed_variables(graph, bits, 2).variables.size(), 2u);
}

TEST(FailedVariables, FinalFailedFlipNegatesOnlyHelpfulFlips) {
    // Three bits in error on their own (delta -1 each) and two shared-check neighbours with
    // delta 0 that must not be touched.
    const auto graph = ldpc::build_ldpc_graph(
        ldpc::CheckRows::from_lists({{10}, {20}, {30}, {40, 41}, {41, 50}}), kVariables);
    std::vector<std::uint8_t> bits(kVariables, 0);
    bits[10] = bits[20] = bits[30] = 1;
    std::vector<float> llrs(kVariables, 2.0f);
    llrs[30] = 0.0f;
    flip_final_failed_variables(graph, llrs, bits, 5);
    EXPECT_EQ(llrs[10], -2.0f);
    EXPECT_EQ(llrs[20], -2.0f);
    EXPECT_TRUE(std::signbit(llrs[30]) && llrs[30] == 0.0f);  // -0.0: still an erasure
    EXPECT_EQ(std::count(llrs.begin(), llrs.end(), 2.0f), static_cast<std::ptrdiff_t>(kVariables) - 3);

    std::vector<float> erased(kVariables, 2.0f);
    erase_final_failed_variables(graph, erased, bits, 2);
    EXPECT_EQ(erased[10], 0.0f);
    EXPECT_EQ(erased[20], 0.0f);
    EXPECT_EQ(erased[30], 2.0f);

    std::vector<std::uint8_t> short_bits(100, 0);
    EXPECT_EQ(qarel::test::error_message<std::runtime_error>([&] { flip_final_failed_variables(graph, llrs, short_bits, 1); }),
              "LDPC final-failed flip retry spans do not match graph variable count");
    EXPECT_EQ(qarel::test::error_message<std::runtime_error>([&] { erase_final_failed_variables(graph, llrs, short_bits, 1); }),
              "LDPC final-failed retry spans do not match graph variable count");
}

TEST(FailedVariables, GreedyFlipStopsWhenNoFlipHelps) {
    // Bit 0 wrong in checks {0} and {0, 1}: flipping it satisfies both. Then check {2, 3}
    // fails with both bits in a second, satisfied check: no flip lowers the weight.
    const auto graph = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{0}, {0, 1}, {2, 3}, {2, 4}, {3, 5}}), 6);
    std::vector<std::uint8_t> bits{1, 0, 1, 0, 1, 0};
    const auto result = greedy_flip_bits(graph, bits, 10);
    EXPECT_EQ(result.flips, 1u);
    EXPECT_EQ(result.final_syndrome_weight, 1u);
    EXPECT_EQ(bits, (std::vector<std::uint8_t>{0, 0, 1, 0, 1, 0}));

    std::vector<std::uint8_t> fixable{1, 0, 0, 0, 0, 0};
    EXPECT_EQ(greedy_flip_bits(graph, fixable, 0).final_syndrome_weight, 2u);  // no budget, nothing flipped
    const auto fixed = greedy_flip_bits(graph, fixable, 3);
    EXPECT_EQ(fixed.flips, 1u);
    EXPECT_EQ(fixed.final_syndrome_weight, 0u);
    std::vector<std::uint8_t> wrong_size(5, 0);
    EXPECT_EQ(qarel::test::error_message<std::runtime_error>([&] { greedy_flip_bits(graph, wrong_size, 1); }),
              "LDPC final-failed greedy flip retry span does not match graph variable count");
}

}  // namespace
}  // namespace qarel::retry
