#include "decoder/retry/retry_plan.hpp"

#include <algorithm>

#include "decoder/ldpc/source_frames.hpp"

namespace qarel::retry {
namespace {

template <typename T>
void append_unique(std::vector<T>& list, const std::vector<T>& values) {
    for (const T& value : values)
        if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

bool in_any(const std::vector<options::FrameRange>& ranges, std::uint64_t f) {
    return std::any_of(ranges.begin(), ranges.end(), [&](const auto& r) { return r.first <= f && f <= r.last; });
}

// The branch windows of the mode-2 source-frame windows that apply to the frame. When there
// are two or more, the unions of windows that overlap or touch, taken from each window in
// ascending order, are added after them.
std::vector<BranchWindow> source_frame_branch_windows(const RetryPlan& plan, std::uint64_t f) {
    std::vector<BranchWindow> windows;
    const auto add = [&](std::uint64_t first, std::uint64_t last) {
        if (const auto span = ldpc::branches_carrying_source_frames(f, first, last))
            windows.push_back({span->first, span->last});
    };
    for (const auto& w : plan.mode2_source_frame_windows) add(w.first, w.last);
    for (const auto& rule : plan.mode2_source_frame_window_rules)
        if (rule.fec_first <= f && f <= rule.fec_last) add(rule.source_first, rule.source_last);
    if (windows.size() < 2) return windows;

    std::vector<BranchWindow> sorted = windows;
    std::sort(sorted.begin(), sorted.end(),
              [](const BranchWindow& a, const BranchWindow& b) { return a.first != b.first ? a.first < b.first : a.last < b.last; });
    std::vector<BranchWindow> unions;
    for (std::size_t start = 0; start < sorted.size(); ++start) {
        std::uint64_t last = sorted[start].last;
        for (std::size_t next = start + 1; next < sorted.size() && sorted[next].first <= last + 1; ++next) {
            last = std::max(last, sorted[next].last);
            unions.push_back({sorted[start].first, last});
        }
    }
    for (const auto& u : unions)
        if (std::find(windows.begin(), windows.end(), u) == windows.end()) windows.push_back(u);
    return windows;
}

}  // namespace

RetryPlan build_retry_plan(const options::RunOptions& o) {
    RetryPlan plan;
    append_unique(plan.llr_scales, o.retry_llr_scales);
    append_unique(plan.llr_clips, o.retry_llr_clips);
    append_unique(plan.weak_erase_fractions, o.retry_weak_erase_fractions);
    append_unique(plan.unsatisfied_erase_counts, o.retry_unsatisfied_erase_counts);
    append_unique(plan.final_failed_erase_counts, o.retry_final_failed_erase_counts);
    append_unique(plan.final_failed_flip_counts, o.retry_final_failed_flip_counts);
    append_unique(plan.final_failed_greedy_flip_counts, o.retry_final_failed_greedy_flip_counts);
    append_unique(plan.final_failed_syndrome_solve_counts, o.retry_final_failed_syndrome_solve_counts);
    plan.attenuations = {o.attenuation};
    append_unique(plan.attenuations, o.retry_attenuations);
    append_unique(plan.qam_planes, o.retry_qam_planes);

    plan.variable_ranges = o.retry_variable_ranges;
    plan.branch_windows = o.retry_branch_windows;
    plan.branch_window_groups = o.retry_branch_window_groups;
    plan.branch_window_frame_ranges = o.retry_branch_window_frame_ranges;
    plan.branch_window_rules = o.retry_branch_window_rules;
    plan.mode2_source_frame_windows = o.retry_mode2_source_frame_windows;
    plan.mode2_source_frame_window_rules = o.retry_mode2_source_frame_rules;
    plan.layered = o.retry_layered;

    plan.baseline_decoder_settings = {o.max_iterations, o.attenuation};
    plan.retry_decoder_settings = {o.retry_max_iterations, o.attenuation};
    plan.require_ts_packet_syntax = o.retry_require_ts_packet_syntax || o.retry_require_ts_packet_continuity;
    plan.require_ts_packet_continuity = o.retry_require_ts_packet_continuity;
    plan.retry_enabled = o.retry_enabled;
    plan.solve_minimize_cost_passes = o.retry_final_failed_syndrome_solve_minimize_cost_passes;
    plan.solve_nullspace_search = o.retry_final_failed_syndrome_solve_nullspace_search;
    plan.solve_nullspace_depth = o.retry_final_failed_syndrome_solve_nullspace_depth;
    plan.ts_header_templates = o.retry_final_failed_syndrome_solve_ts_header_templates;
    plan.ts_continuity_headers = o.retry_final_failed_syndrome_solve_ts_continuity_headers;
    plan.ts_continuity_header_templates = o.retry_final_failed_syndrome_solve_ts_continuity_header_templates;
    return plan;
}

std::vector<BranchWindowSet> branch_window_sets(const RetryPlan& plan, std::uint64_t f) {
    const bool frame_takes_windows =
        plan.branch_window_frame_ranges.empty() || in_any(plan.branch_window_frame_ranges, f);
    std::vector<BranchWindowSet> sets{{}};
    if (!plan.branch_windows.empty() && frame_takes_windows)
        for (const auto& w : plan.branch_windows) sets.push_back({w});
    for (const auto& rule : plan.branch_window_rules)
        if (rule.fec_first <= f && f <= rule.fec_last) sets.push_back({{rule.branch_first, rule.branch_last}});
    for (const auto& w : source_frame_branch_windows(plan, f)) sets.push_back({w});
    if (frame_takes_windows)
        for (const auto& group : plan.branch_window_groups) sets.push_back(group.windows);
    return sets;
}

}  // namespace qarel::retry
