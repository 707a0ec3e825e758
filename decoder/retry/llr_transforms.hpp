#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/retry/retry_plan.hpp"

namespace qarel::retry {

// A variable that sits in at least one unsatisfied check of a hard-bit vector.
struct FailedVariable {
    std::uint64_t full_variable_index = 0;
    std::uint8_t decoded_bit = 0;
    std::uint64_t check_degree = 0;
    std::uint64_t satisfied_check_count = 0;
    std::uint64_t unsatisfied_check_count = 0;
    // Change of the syndrome weight if this one bit were flipped.
    std::int64_t flip_syndrome_delta = 0;
};

// Per variable: its number of edges and of edges in unsatisfied checks of a hard-bit vector
// (bit 0 of each byte counts); a variable listed twice in a check counts twice.
struct VariableCheckCounts {
    std::vector<std::uint64_t> degree;
    std::vector<std::uint64_t> unsatisfied;
    std::uint64_t unsatisfied_checks = 0;
};
VariableCheckCounts count_variable_checks(const ldpc::LdpcGraph& graph, std::span<const std::uint8_t> hard_bits);

struct FailedVariableRanking {
    std::vector<FailedVariable> variables;  // most unsatisfied checks first, then by index
    std::uint64_t unsatisfied_checks = 0;
};

// The variables of unsatisfied checks, most unsatisfied checks first, ties by full index;
// at most `limit` of them. Bit 0 of each hard bit counts.
FailedVariableRanking rank_failed_variables(const ldpc::LdpcGraph& graph, std::span<const std::uint8_t> hard_bits,
                                            std::uint64_t limit);

// What one retry attempt does to the codeword's LLRs before the final-failed transforms.
struct LlrTransform {
    float scale = 1.0f;
    float clip = 0.0f;  // 0: no clip
    float weak_erase_fraction = 0.0f;
    std::uint64_t unsatisfied_erase_count = 0;
    std::optional<VariableRange> variable_range{};
    std::span<const BranchWindow> branch_windows{};
    std::uint64_t qam_plane = kNoQamPlane;
};

// Copies `source` (full-codeword LLRs) into `attempt` and applies, in order: scale, erasure by
// variable range, branch windows and QAM plane, clip, weak erase and unsatisfied erase. The
// 5 erased parity variables are never touched.
void build_retry_llrs(const ldpc::LdpcGraph& graph, std::span<const float> source, std::span<float> attempt,
                      const LlrTransform& transform);

// True when every transmitted LLR (full index 5 onwards) is zero: such an attempt carries no
// information and is not decoded. A NaN counts as information.
bool transmitted_llrs_all_zero(std::span<const float> llrs);

// Erases the `count` top-ranked failed variables of `analysed_bits`.
void erase_final_failed_variables(const ldpc::LdpcGraph& graph, std::span<float> attempt,
                                  std::span<const std::uint8_t> analysed_bits, std::uint64_t count);
// Negates (by sign bit) the LLRs of the first `count` ranked failed variables of
// `analysed_bits` whose flip would lower the syndrome weight.
void flip_final_failed_variables(const ldpc::LdpcGraph& graph, std::span<float> attempt,
                                 std::span<const std::uint8_t> analysed_bits, std::uint64_t count);

// The same two transforms on a ranking made beforehand (the full ranking of the analysed
// bits), so attempts that share their analysed bits rank them once.
void erase_ranked_variables(std::span<float> attempt, const FailedVariableRanking& ranking, std::uint64_t count);
void flip_ranked_variables(std::span<float> attempt, const FailedVariableRanking& ranking, std::uint64_t count);

struct GreedyFlipResult {
    std::uint64_t flips = 0;
    std::uint64_t final_syndrome_weight = 0;
};

// Flips, up to `count` times, the top-ranked variable whose flip lowers the syndrome weight.
GreedyFlipResult greedy_flip_bits(const ldpc::LdpcGraph& graph, std::span<std::uint8_t> hard_bits,
                                  std::uint64_t count);

}  // namespace qarel::retry
