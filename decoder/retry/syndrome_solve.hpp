#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::retry {

// A variable whose hard bit the solve must end with.
struct SolveConstraint {
    std::uint64_t full_variable_index = 0;
    std::uint8_t bit = 0;
    bool operator==(const SolveConstraint&) const = default;
};

// A variable the solve may flip, with what ranks it.
struct SolveUnknown {
    std::uint64_t full_variable_index = 0;
    std::uint64_t unsatisfied_check_count = 0;
    std::int64_t flip_syndrome_delta = 0;
    float llr_magnitude = 0.0f;
};

struct SolveSettings {
    std::uint64_t unknown_budget = 0;
    std::uint64_t minimize_cost_passes = 0;
    std::uint64_t nullspace_search = 0;  // candidates tried in all, the particular solution included
    std::uint64_t nullspace_depth = 2;   // 1..3 null-space vectors combined
};

struct SolveResult {
    std::uint64_t candidates_evaluated = 0;
    std::uint64_t flips = 0;
    std::uint64_t syndrome_weight = 0;
    bool converged = false;
};

// Judges a candidate's full hard-bit vector; an empty function accepts everything without
// being asked.
using AcceptanceTest = std::function<bool(std::span<const std::uint8_t>)>;

// The unknowns for a budget: the variables of unsatisfied checks and the erased parity
// variables, least reliable per unsatisfied check first, then the constrained variables.
std::vector<SolveUnknown> select_solve_unknowns(std::span<const std::uint8_t> hard_bits, std::span<const float> llrs,
                                                std::span<const SolveConstraint> constraints,
                                                std::uint64_t unknown_budget, const ldpc::LdpcGraph& graph);

// Finishes hard bits that leave checks unsatisfied by solving the checks (and constraints)
// over GF(2) for a few unreliable unknowns, lowering the flipped reliability with null-space
// moves and searching further null-space combinations until `accept` takes a candidate. On
// success the bits hold the accepted candidate; otherwise they are left exactly as they came.
SolveResult solve_syndrome(std::span<std::uint8_t> hard_bits, std::span<const float> llrs,
                           std::span<const SolveConstraint> constraints, const SolveSettings& settings,
                           const AcceptanceTest& accept, const ldpc::LdpcGraph& graph);

}  // namespace qarel::retry
