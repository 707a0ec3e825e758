#include "decoder/retry/syndrome_solve.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decoder/ldpc/alist.hpp"
#include "decoder/retry/bit_vector.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::retry {
namespace {

using qarel::test::error_message;

// Eight variables (0..4 the erased parity, never in a check here): c0 = {5, 6}, c1 = {6, 7}.
struct SmallCode {
    ldpc::LdpcGraph graph = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{5, 6}, {6, 7}}), 8);
    std::vector<float> llrs{0, 0, 0, 0, 0, 1.0f, 2.0f, 3.0f};
    std::vector<std::uint8_t> bits = std::vector<std::uint8_t>(8, 0);

    SolveResult solve(const SolveSettings& settings, const AcceptanceTest& accept = {},
                      std::vector<SolveConstraint> constraints = {}) {
        return solve_syndrome(bits, llrs, constraints, settings, accept, graph);
    }
};

TEST(SyndromeSolve, ErasedParityBitsAreTheFirstUnknowns) {
    const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    std::vector<float> llrs(graph.variable_count, 8.0f);
    std::fill_n(llrs.begin(), 5, 0.0f);
    std::vector<std::uint8_t> bits(graph.variable_count, 0);  // the all-zero codeword...
    bits[2] = 1;                                              // ...with an erased bit wrong
    const auto unknowns = select_solve_unknowns(bits, llrs, {}, 5, graph);
    ASSERT_EQ(unknowns.size(), 5u);
    for (std::uint64_t i = 0; i < 5; ++i) EXPECT_LT(unknowns[i].full_variable_index, 5u);

    const auto solved = solve_syndrome(bits, llrs, {}, {.unknown_budget = 5}, {}, graph);
    EXPECT_TRUE(solved.converged);
    EXPECT_EQ(solved.flips, 1u);
    EXPECT_EQ(solved.candidates_evaluated, 1u);
    EXPECT_EQ(bits, std::vector<std::uint8_t>(graph.variable_count, 0));

    // A transmitted bit in error is not among five unknowns: the system has no solution.
    bits[100] = 1;
    const auto before = bits;
    const auto failed = solve_syndrome(bits, llrs, {}, {.unknown_budget = 5}, {}, graph);
    EXPECT_FALSE(failed.converged);
    EXPECT_GT(failed.syndrome_weight, 0u);
    EXPECT_EQ(bits, before);
}

TEST(SyndromeSolve, SatisfiedBitsNeedOnlyTheAcceptanceTest) {
    SmallCode code;
    const auto accepted = code.solve({.unknown_budget = 4});
    EXPECT_TRUE(accepted.converged);
    EXPECT_EQ(accepted.candidates_evaluated, 0u);

    const AcceptanceTest reject_all = [](std::span<const std::uint8_t>) { return false; };
    const auto rejected = code.solve({.unknown_budget = 4}, reject_all);
    EXPECT_FALSE(rejected.converged);
    EXPECT_EQ(rejected.candidates_evaluated, 1u);  // the zero solution, then no search budget
    EXPECT_EQ(code.bits, std::vector<std::uint8_t>(8, 0));
    EXPECT_FALSE(code.solve({.unknown_budget = 0}, reject_all).converged);
}

TEST(SyndromeSolve, TheNullSpaceSearchRunsWithinItsBudget) {
    SmallCode code;
    code.bits[5] = 1;  // c0 fails; flipping 5 alone is the particular solution
    // Accepts only candidates that also flip erased bit 0, a null-space move of cost 0.
    const AcceptanceTest needs_bit0 = [](std::span<const std::uint8_t> bits) { return bits[0] == 1; };
    const auto one = code.solve({.unknown_budget = 10, .nullspace_search = 1}, needs_bit0);
    EXPECT_FALSE(one.converged);
    EXPECT_EQ(one.candidates_evaluated, 1u);
    EXPECT_EQ(code.bits, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1, 0, 0}));

    const auto two = code.solve({.unknown_budget = 10, .nullspace_search = 2}, needs_bit0);
    EXPECT_TRUE(two.converged);
    EXPECT_EQ(two.candidates_evaluated, 2u);
    EXPECT_EQ(two.flips, 2u);
    EXPECT_EQ(code.bits, (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SyndromeSolve, ConstraintsSteerTheSolutionOrEndIt) {
    SmallCode code;
    code.bits[5] = 1;
    // Variables 6 and 7 must end as 1: the checks then force 5 to stay 1.
    const auto steered = code.solve({.unknown_budget = 1}, {}, {{6, 1}, {7, 1}, {7, 1}});
    EXPECT_TRUE(steered.converged);
    EXPECT_EQ(steered.flips, 2u);
    EXPECT_EQ(code.bits, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1, 1, 1}));

    SmallCode contradictory;
    contradictory.bits[5] = 1;
    const auto before = contradictory.bits;
    EXPECT_EQ(contradictory.solve({.unknown_budget = 8}, {}, {{6, 0}, {6, 1}}).candidates_evaluated, 0u);
    EXPECT_FALSE(contradictory.solve({.unknown_budget = 8}, {}, {{8, 0}}).converged);  // no such variable
    EXPECT_FALSE(contradictory.solve({.unknown_budget = 8}, {}, {{6, 2}}).converged);  // not a bit
    EXPECT_EQ(contradictory.bits, before);

    std::vector<std::uint8_t> short_bits(7, 0);
    EXPECT_EQ(error_message<std::runtime_error>([&] {
                  solve_syndrome(short_bits, code.llrs, {}, {.unknown_budget = 1}, {}, code.graph);
              }),
              "LDPC final-failed syndrome solve spans do not match graph variable count");
}

TEST(SyndromeSolve, CostMinimisationMovesFlipsToLessReliableBits) {
    // Variable 5 sits in both failing checks c0 = {5, 6} and c1 = {5, 7}, so it ranks after 6
    // and 7: the particular solution flips 6 and 7 (|LLR| 0.6 in all), flipping 5 alone costs 0.5.
    SmallCode plain;
    plain.graph = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{5, 6}, {5, 7}}), 8);
    plain.llrs = {0, 0, 0, 0, 0, 0.5f, 0.3f, 0.3f};
    plain.bits[5] = 1;
    SmallCode minimised = plain;
    const auto solved = plain.solve({.unknown_budget = 8});
    ASSERT_TRUE(solved.converged);
    EXPECT_EQ(solved.flips, 2u);
    EXPECT_EQ(plain.bits, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1, 1, 1}));
    const auto cheaper = minimised.solve({.unknown_budget = 8, .minimize_cost_passes = 1});
    ASSERT_TRUE(cheaper.converged);
    EXPECT_EQ(cheaper.flips, 1u);
    EXPECT_EQ(minimised.bits, std::vector<std::uint8_t>(8, 0));
}

TEST(BitVector, XorOfDifferentSizesIsAnError) {
    BitVector a(65), b(64), c(65);
    c.set(64);
    a ^= c;
    EXPECT_EQ(a.lowest_set_bit(), 64u);
    EXPECT_EQ(error_message<std::runtime_error>([&] { a ^= b; }), "bit-vector XOR size mismatch");
}

}  // namespace
}  // namespace qarel::retry
