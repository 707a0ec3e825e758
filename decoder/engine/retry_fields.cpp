#include "decoder/engine/retry_fields.hpp"

namespace qarel::engine {

void store_retry_outcome(CodewordResults& r, std::uint64_t k, const retry::RetryOutcome& outcome) {
    r.retry_attempts[k] = outcome.attempts;
    if (!outcome.selected) return;
    const retry::RetryAttempt& w = outcome.winner;
    r.ldpc[k] = outcome.ldpc;
    r.retry_selected[k] = 1;
    r.retry_layered[k] = w.layered ? 1 : 0;
    r.retry_llr_scale[k] = w.llr_scale;
    r.retry_llr_clip[k] = w.llr_clip;
    r.retry_weak_erase_fraction[k] = w.weak_erase_fraction;
    r.retry_attenuation[k] = w.attenuation;
    r.retry_unsatisfied_erase_count[k] = w.unsatisfied_erase_count;
    r.retry_final_failed_erase_count[k] = w.final_failed_erase_count;
    r.retry_final_failed_flip_count[k] = w.final_failed_flip_count;
    r.retry_final_failed_greedy_flip_count[k] = w.final_failed_greedy_flip_count;
    r.retry_final_failed_syndrome_solve_count[k] = w.final_failed_syndrome_solve_count;
    r.retry_qam_plane[k] = w.qam_plane;
    r.retry_variable_range_first[k] = w.variable_range ? w.variable_range->first : kNoVariableRange;
    r.retry_variable_range_last[k] = w.variable_range ? w.variable_range->last : kNoVariableRange;
    const auto& windows = outcome.winner_windows;
    r.retry_branch_window_first[k] = windows.size() == 1 ? windows.front().first : kNoBranchWindow;
    r.retry_branch_window_last[k] = windows.size() == 1 ? windows.front().last : kNoBranchWindow;
    r.retry_branch_window_group[k] = windows.size() >= 2 ? retry::branch_window_group_text(windows) : std::string();
    r.retry_bch_corrected_errors[k] = outcome.bch_corrected_errors;
}

retry::RetryAttempt recorded_retry_attempt(const CodewordResults& r, std::uint64_t k, retry::BranchWindowSet& windows) {
    windows.clear();
    if (r.retry_branch_window_first[k] != kNoBranchWindow && r.retry_branch_window_last[k] != kNoBranchWindow)
        windows.push_back({r.retry_branch_window_first[k], r.retry_branch_window_last[k]});
    retry::RetryAttempt a;
    a.llr_scale = static_cast<float>(r.retry_llr_scale[k]);
    a.llr_clip = static_cast<float>(r.retry_llr_clip[k]);
    a.weak_erase_fraction = static_cast<float>(r.retry_weak_erase_fraction[k]);
    a.unsatisfied_erase_count = r.retry_unsatisfied_erase_count[k];
    a.final_failed_erase_count = r.retry_final_failed_erase_count[k];
    a.final_failed_flip_count = r.retry_final_failed_flip_count[k];
    a.final_failed_greedy_flip_count = r.retry_final_failed_greedy_flip_count[k];
    a.final_failed_syndrome_solve_count = r.retry_final_failed_syndrome_solve_count[k];
    a.attenuation = static_cast<float>(r.retry_attenuation[k]);
    if (r.retry_variable_range_first[k] != kNoVariableRange)
        a.variable_range = retry::VariableRange{r.retry_variable_range_first[k], r.retry_variable_range_last[k]};
    a.branch_windows = &windows;
    a.qam_plane = r.retry_qam_plane[k];
    a.layered = r.retry_layered[k] != 0;
    return a;
}

}  // namespace qarel::engine
