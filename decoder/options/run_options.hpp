#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/options/rule_records.hpp"

namespace qarel::options {

enum class LdpcAccel { cpu, cuda };

inline std::string_view ldpc_accel_name(LdpcAccel accel) { return accel == LdpcAccel::cuda ? "cuda" : "cpu"; }

// The parsed and validated command line, read-only for the whole run. Scalars hold the
// last occurrence of their option, lists every occurrence in command-line order.
struct RunOptions {
    std::uint64_t fec_rate = 0;
    std::string alist_path;
    std::uint64_t codewords_per_frame = 3;
    bool codewords_per_frame_given = false;
    std::optional<std::uint64_t> qam;  // 16, 32 or 64
    std::string qam32_frame_phase = "auto";
    std::uint64_t workers = 0;
    std::uint64_t max_iterations = 50;
    std::optional<std::uint64_t> retry_max_iterations_option;
    float attenuation = 0.75f;
    std::optional<float> llr_clip;
    LdpcAccel ldpc_accel = LdpcAccel::cpu;

    std::vector<float> retry_llr_clips;
    std::vector<float> retry_llr_scales;
    std::vector<float> retry_weak_erase_fractions;
    std::vector<float> retry_attenuations;
    std::vector<std::uint64_t> retry_unsatisfied_erase_counts;
    std::vector<std::uint64_t> retry_final_failed_erase_counts;
    std::vector<std::uint64_t> retry_final_failed_flip_counts;
    std::vector<std::uint64_t> retry_final_failed_greedy_flip_counts;
    std::vector<std::uint64_t> retry_final_failed_syndrome_solve_counts;
    std::uint64_t retry_final_failed_syndrome_solve_minimize_cost_passes = 0;
    std::uint64_t retry_final_failed_syndrome_solve_nullspace_search = 0;
    std::uint64_t retry_final_failed_syndrome_solve_nullspace_depth = 2;
    bool retry_final_failed_syndrome_solve_ts_continuity_headers = false;
    bool retry_final_failed_syndrome_solve_ts_continuity_header_templates = false;
    std::vector<TsHeaderTemplate> retry_final_failed_syndrome_solve_ts_header_templates;
    std::vector<std::uint64_t> retry_qam_planes;
    std::vector<VariableRange> retry_variable_ranges;
    std::vector<BranchWindow> retry_branch_windows;  // sweeps append here too
    std::vector<BranchWindowGroup> retry_branch_window_groups;
    std::vector<FrameRange> retry_branch_window_frame_ranges;
    std::vector<BranchWindowRule> retry_branch_window_rules;
    std::vector<SourceFrameWindow> retry_mode2_source_frame_windows;
    std::vector<SourceFrameRule> retry_mode2_source_frame_rules;
    std::vector<SourceFrameWindow> select_mode2_source_frame_windows;
    std::vector<SourceFrameRule> select_mode2_source_frame_rules;
    bool retry_layered = false;
    bool cuda_retry_clips = false;
    bool retry_require_ts_packet_syntax = false;
    bool retry_require_ts_packet_continuity = false;

    std::uint64_t decode_batch_frames = 16;
    bool score_initial_syndrome = false;
    float early_syndrome_reject_ratio = -1.0f;  // -1: off
    bool require_output = false;
    bool clean_frames_only = false;
    bool fail_on_unclean_frame = false;
    bool emit_clean_codewords = false;
    bool emit_bch_clean_codewords = false;
    bool emit_bch_clean_packets = false;
    bool emit_forced_codewords = false;
    bool mark_discontinuities = false;
    bool insert_discontinuity_packets = false;
    std::uint64_t frame_index_offset = 0;

    std::optional<std::uint64_t> hard_h_gate_window_codewords;
    std::optional<std::uint64_t> hard_h_gate_step_codewords;
    std::optional<double> hard_h_gate_threshold;
    std::uint64_t hard_h_gate_fill_max_gap_frames = 0;
    std::vector<FrameRange> force_frame_ranges;
    std::vector<FrameRange> omit_frame_ranges;
    std::vector<CodewordLlrScaleRule> codeword_llr_scale_rules;
    std::vector<VariableLlrScaleRule> variable_llr_scale_rules;
    std::vector<VariableModLlrScaleRule> variable_mod_llr_scale_rules;

    std::optional<std::string> frame_diagnostics_out;
    std::uint64_t failed_variable_diagnostics_top = 0;
    std::optional<std::string> packet_provenance_out;

    // Live operation; none of these changes the output, the provenance, the diagnostics or
    // the run summary.
    std::optional<std::string> status_out;      // a path, or "-" for standard output
    std::optional<std::uint64_t> status_fd;     // an open descriptor inherited from the caller
    double status_interval_s = 1.0;
    bool progress = false;
    bool mark_transport_errors = false;         // changes the output: TEI on unclean packets
    bool erase_nonfinite_llrs = false;          // NaN and infinities read as 0 instead of failing

    std::vector<std::string> positional;
    std::string input_path = "-";
    std::string output_path = "-";

    // Settings derived from the options above once the command line is complete.
    bool hard_h_gate_enabled = false;
    bool select_mode2_enabled = false;
    bool initial_syndrome_scoring = false;
    bool retry_enabled = false;
    std::uint64_t retry_max_iterations = 50;

    std::uint64_t signal_frames_per_fec_group() const { return qam == 32u ? 2 : 1; }
    bool status_enabled() const { return status_out.has_value() || status_fd.has_value(); }
};

}  // namespace qarel::options
