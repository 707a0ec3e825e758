#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "decoder/ldpc/min_sum.hpp"
#include "decoder/options/run_options.hpp"

namespace qarel::retry {

// Sentinels of the per-codeword retry fields.
inline constexpr std::uint64_t kNoQamPlane = 6;
inline constexpr std::uint64_t kNoBranchWindow = 52;
inline constexpr std::uint64_t kNoVariableRange = std::numeric_limits<std::uint64_t>::max();

using options::BranchWindow;
using options::VariableRange;
using BranchWindowSet = std::vector<BranchWindow>;

// The run-wide retry attempt lists, built once from the command line and read by every
// worker. Each value list starts with the value that means "no change" and holds every other
// value once, in command-line order.
struct RetryPlan {
    std::vector<float> llr_scales{1.0f};
    std::vector<float> llr_clips{0.0f};
    std::vector<float> weak_erase_fractions{0.0f};
    std::vector<std::uint64_t> unsatisfied_erase_counts{0};
    std::vector<std::uint64_t> final_failed_erase_counts{0};
    std::vector<std::uint64_t> final_failed_flip_counts{0};
    std::vector<std::uint64_t> final_failed_greedy_flip_counts{0};
    std::vector<std::uint64_t> final_failed_syndrome_solve_counts{0};
    std::vector<float> attenuations;
    std::vector<std::uint64_t> qam_planes{kNoQamPlane};

    std::vector<VariableRange> variable_ranges;
    std::vector<BranchWindow> branch_windows;
    std::vector<options::BranchWindowGroup> branch_window_groups;
    std::vector<options::FrameRange> branch_window_frame_ranges;
    std::vector<options::BranchWindowRule> branch_window_rules;
    std::vector<options::SourceFrameWindow> mode2_source_frame_windows;
    std::vector<options::SourceFrameRule> mode2_source_frame_window_rules;
    bool layered = false;

    ldpc::MinSumSettings baseline_decoder_settings;
    ldpc::MinSumSettings retry_decoder_settings;  // attenuation replaced per attempt
    bool require_ts_packet_syntax = false;
    bool require_ts_packet_continuity = false;
    bool retry_enabled = false;

    // The syndrome solve's tuning and the header constraints it may be given.
    std::uint64_t solve_minimize_cost_passes = 0;
    std::uint64_t solve_nullspace_search = 0;
    std::uint64_t solve_nullspace_depth = 2;
    std::vector<options::TsHeaderTemplate> ts_header_templates;
    bool ts_continuity_headers = false;
    bool ts_continuity_header_templates = false;
};

RetryPlan build_retry_plan(const options::RunOptions& options);

// The branch window sets tried on a codeword of frame `frame_index`: the empty set, each
// single window that applies to the frame, each window of the mode-2 source-frame windows
// (with the unions of neighbouring ones), then each group.
std::vector<BranchWindowSet> branch_window_sets(const RetryPlan& plan, std::uint64_t frame_index);

}  // namespace qarel::retry
