#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/retry/llr_transforms.hpp"
#include "decoder/retry/retry_plan.hpp"

namespace qarel::retry {

// One combination of the plan's dimensions.
struct RetryAttempt {
    float llr_scale = 1.0f;
    float llr_clip = 0.0f;
    float weak_erase_fraction = 0.0f;
    std::uint64_t unsatisfied_erase_count = 0;
    std::uint64_t final_failed_erase_count = 0;
    std::uint64_t final_failed_flip_count = 0;
    std::uint64_t final_failed_greedy_flip_count = 0;
    std::uint64_t final_failed_syndrome_solve_count = 0;
    float attenuation = 0.75f;
    std::optional<VariableRange> variable_range;
    const BranchWindowSet* branch_windows = nullptr;  // never null in an enumerated attempt
    std::uint64_t qam_plane = kNoQamPlane;
    bool layered = false;
};

// The LLR transform of an attempt (its branch windows, when it has any, stay borrowed).
inline LlrTransform llr_transform_of(const RetryAttempt& a) {
    return {a.llr_scale,
            a.llr_clip,
            a.weak_erase_fraction,
            a.unsatisfied_erase_count,
            a.variable_range,
            a.branch_windows != nullptr ? std::span<const BranchWindow>(*a.branch_windows) : std::span<const BranchWindow>(),
            a.qam_plane};
}

// Calls `visit` for every attempt of the plan on a codeword whose frame has the given window
// sets, outermost dimension first, skipping the combination that repeats the baseline decode.
template <typename Visit>
void for_each_attempt(const RetryPlan& plan, const std::vector<BranchWindowSet>& window_sets, Visit&& visit);

std::uint64_t attempt_count(const RetryPlan& plan, const std::vector<BranchWindowSet>& window_sets);

// "3:5,10:12" for a set of two or more windows.
std::string branch_window_group_text(const BranchWindowSet& windows);

// How a successful attempt ranks against the best so far: fewer BCH corrections win, then
// fewer LDPC iterations; on a full tie the earlier attempt stays.
struct AttemptScore {
    std::uint64_t bch_corrected_errors = 0;
    std::uint64_t iterations = 0;
};
inline bool improves_on(const AttemptScore& challenger, const AttemptScore& best) {
    if (challenger.bch_corrected_errors != best.bch_corrected_errors)
        return challenger.bch_corrected_errors < best.bch_corrected_errors;
    return challenger.iterations < best.iterations;
}

// Run-wide inputs of the retries, read-only on the workers.
struct RetryContext {
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    const RetryPlan* plan = nullptr;
    std::uint64_t scrambler_reset_bits = 0;
    // The calling worker's decoder for the attempts; none: the plain decoder.
    ldpc::CodewordDecoder* decoder = nullptr;
};

// One codeword handed to the retries: its full LLRs (scaled, not clipped), the baseline
// decoder's final hard bits, its slot and its frame.
struct RetryCodeword {
    std::span<const float> llrs;
    std::span<const std::uint8_t> baseline_bits;
    std::uint64_t codeword_slot = 0;
    std::uint64_t frame_index = 0;
};

// What the retries of one codeword achieved. `winner` and the rest are meaningful only when
// `selected`.
struct RetryOutcome {
    std::uint64_t attempts = 0;
    bool selected = false;
    RetryAttempt winner;
    BranchWindowSet winner_windows;
    ldpc::LdpcDecodeResult ldpc;
    std::uint64_t bch_corrected_errors = 0;
};

// Runs every attempt of the plan on the codeword and keeps the successful attempt with the
// fewest BCH corrections, then the fewest iterations, then the earliest. On success the
// winner's hard bits are written to `decoded_bits`; otherwise it is left alone.
RetryOutcome run_codeword_retries(const RetryCodeword& codeword, std::span<std::uint8_t> decoded_bits,
                                  const RetryContext& context);

template <typename Visit>
void for_each_attempt(const RetryPlan& plan, const std::vector<BranchWindowSet>& window_sets, Visit&& visit) {
    std::vector<std::optional<VariableRange>> ranges{std::nullopt};
    ranges.insert(ranges.end(), plan.variable_ranges.begin(), plan.variable_ranges.end());
    const float baseline_attenuation = plan.baseline_decoder_settings.attenuation;
    RetryAttempt a;
    for (const float scale : plan.llr_scales)
    for (const float clip : plan.llr_clips)
    for (const float fraction : plan.weak_erase_fractions)
    for (const std::uint64_t unsatisfied : plan.unsatisfied_erase_counts)
    for (const std::uint64_t erase : plan.final_failed_erase_counts)
    for (const std::uint64_t flip : plan.final_failed_flip_counts)
    for (const std::uint64_t greedy : plan.final_failed_greedy_flip_counts)
    for (const std::uint64_t solve : plan.final_failed_syndrome_solve_counts)
    for (const float attenuation : plan.attenuations)
    for (const auto& range : ranges)
    for (const auto& windows : window_sets)
    for (const std::uint64_t plane : plan.qam_planes)
    for (const bool layered : {false, true}) {
        if (layered && !plan.layered) continue;
        const bool repeats_baseline = !layered && scale == 1.0f && clip == 0.0f && fraction == 0.0f &&
                                      unsatisfied == 0 && erase == 0 && flip == 0 && greedy == 0 && solve == 0 &&
                                      attenuation == baseline_attenuation && !range && windows.empty() &&
                                      plane == kNoQamPlane;
        if (repeats_baseline) continue;
        a = {scale, clip, fraction, unsatisfied, erase, flip, greedy, solve, attenuation, range, &windows, plane, layered};
        visit(a);
    }
}

}  // namespace qarel::retry
