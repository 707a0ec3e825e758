#include "decoder/diag/run_summary.hpp"

#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>


namespace qarel::diag {
namespace {

// Writes key=value lines; numbers in the stream's default format (6 significant digits)
// unless written as fixed.
class SummaryWriter {
public:
    explicit SummaryWriter(std::ostream& out) : out_(out) {}

    SummaryWriter& count(const char* key, std::uint64_t value) { return line(key, std::to_string(value)); }
    SummaryWriter& flag(const char* key, bool value) { return line(key, value ? "true" : "false"); }
    SummaryWriter& word(const char* key, std::string_view value) { return line(key, std::string(value)); }
    SummaryWriter& real(const char* key, double value) {
        std::ostringstream text;
        text << value;
        return line(key, text.str());
    }
    SummaryWriter& fixed(const char* key, double value) {
        std::ostringstream text;
        text << std::fixed << std::setprecision(6) << value;
        return line(key, text.str());
    }
    SummaryWriter& count_or_off(const char* key, std::optional<std::uint64_t> value) {
        return value ? count(key, *value) : word(key, "off");
    }

private:
    SummaryWriter& line(const char* key, const std::string& value) {
        out_ << key << '=' << value << '\n';
        return *this;
    }
    std::ostream& out_;
};

}  // namespace

void write_run_summary(std::ostream& out, const options::RunOptions& o, const RunShape& shape,
                       const SelectionCounters& selection, const DecodeCounters& d, const ts::EmitterCounters& e) {
    // Gathered first and written at once: one write instead of one per token on an unbuffered
    // standard error, and lines that other writers to the same stream cannot split.
    std::ostringstream text;
    SummaryWriter w(text);
    const bool gate = o.hard_h_gate_enabled;
    w.count("frames", selection.frames)
        .count("signal_frames_per_fec_group", shape.signal_frames_per_fec_group)
        .count("codewords_per_fec_group", shape.codewords_per_fec_group)
        .count("signal_frames", selection.frames * shape.signal_frames_per_fec_group)
        .count("scrambler_reset_bits", shape.scrambler_reset_bits)
        .count("frame_index_offset", o.frame_index_offset)
        .count("codewords", selection.codewords)
        .count("worker_count", shape.worker_count)
        .count("decode_batch_frames", o.decode_batch_frames)
        .count("max_iterations", o.max_iterations)
        .count("retry_max_iterations", o.retry_max_iterations);
    if (o.llr_clip) w.real("llr_clip", *o.llr_clip);
    else w.word("llr_clip", "off");
    w.word("ldpc_accel", options::ldpc_accel_name(o.ldpc_accel))
        .count("cuda_ldpc_codewords", 0)
        .real("cuda_ldpc_kernel_ms", 0)
        .real("cuda_ldpc_h2d_ms", 0)
        .real("cuda_ldpc_d2h_ms", 0)
        .real("cuda_ldpc_total_ms", 0)
        .count("cuda_ldpc_cpu_fallback_codewords", 0)
        .flag("cuda_retry_clips", o.cuda_retry_clips)
        .count("cuda_retry_codewords", 0)
        .real("cuda_retry_kernel_ms", 0)
        .real("cuda_retry_h2d_ms", 0)
        .real("cuda_retry_d2h_ms", 0)
        .real("cuda_retry_total_ms", 0)
        .real("batch_prepare_ms", d.batch_prepare_ms)
        .real("batch_baseline_ms", d.batch_baseline_ms)
        .real("batch_snapshot_ms", d.batch_snapshot_ms)
        .real("batch_retry_ms", d.batch_retry_ms)
        .real("batch_worker_ms", d.batch_worker_ms)
        .real("batch_finalize_ms", d.batch_finalize_ms)
        .real("batch_total_ms", d.batch_total_ms)
        .count("converged_codewords", d.converged_codewords)
        .count("ldpc_iterations", d.ldpc_iterations)
        .flag("score_initial_syndrome", o.score_initial_syndrome)
        .flag("initial_syndrome_scoring", o.initial_syndrome_scoring);
    if (o.early_syndrome_reject_ratio < 0.0f) w.word("early_syndrome_reject_ratio", "off");
    else w.fixed("early_syndrome_reject_ratio", o.early_syndrome_reject_ratio);
    w.count("initial_syndrome_weight", d.initial_syndrome_weight)
        .count("early_rejected_codewords", d.early_rejected_codewords)
        .count("final_syndrome_weight", d.final_syndrome_weight)
        .count("bch_corrected_errors", d.bch_corrected_errors)
        .count("bch_unclean_blocks", d.bch_unclean_blocks)
        .count("clean_frames", d.clean_frames)
        .count("clean_signal_frames", d.clean_frames * shape.signal_frames_per_fec_group)
        .count("emitted_frames", d.emitted_frames)
        .count("partial_emitted_frames", d.partial_emitted_frames)
        .count("omitted_frames", d.omitted_frames)
        .flag("clean_frames_only", o.clean_frames_only)
        .flag("fail_on_unclean_frame", o.fail_on_unclean_frame)
        .flag("emit_clean_codewords", o.emit_clean_codewords)
        .flag("emit_bch_clean_codewords", o.emit_bch_clean_codewords)
        .flag("emit_bch_clean_packets", o.emit_bch_clean_packets)
        .count("clean_codewords", d.clean_codewords)
        .count("bch_clean_payload_codewords", d.bch_clean_payload_codewords)
        .count("bch_clean_payload_packets", d.bch_clean_payload_packets)
        .count("bch_clean_packet_salvage_emitted_packets", d.bch_clean_packet_salvage_emitted_packets)
        .count("emitted_codewords", d.emitted_codewords)
        .count("omitted_codewords", d.omitted_codewords)
        .flag("mark_discontinuities", o.mark_discontinuities)
        .count("discontinuity_marked_packets", e.discontinuity_marked_packets)
        .flag("insert_discontinuity_packets", o.insert_discontinuity_packets)
        .count("discontinuity_inserted_packets", e.discontinuity_inserted_packets)
        .count("continuity_guard_pending_pids", e.continuity_guard_pending_pids)
        .flag("hard_h_gate_enabled", gate)
        .count_or_off("hard_h_gate_window_codewords",
                      gate ? o.hard_h_gate_window_codewords : std::optional<std::uint64_t>())
        .count_or_off("hard_h_gate_step_codewords", gate ? o.hard_h_gate_step_codewords : std::optional<std::uint64_t>());
    if (gate) w.fixed("hard_h_gate_threshold", *o.hard_h_gate_threshold);
    else w.word("hard_h_gate_threshold", "off");
    w.count("hard_h_gate_scored_windows", selection.hard_h_gate_scored_windows)
        .count("hard_h_gate_pass_windows", selection.hard_h_gate_pass_windows)
        .count("hard_h_gate_selected_frames", selection.hard_h_gate_selected_frames)
        .count("forced_selected_frames", selection.forced_selected_frames)
        .count("mode2_source_frame_selected_frames", selection.mode2_source_frame_selected_frames)
        .count("hard_h_gate_gap_filled_frames", selection.hard_h_gate_gap_filled_frames)
        .count("codeword_llr_scale_rule_count", o.codeword_llr_scale_rules.size())
        .count("variable_llr_scale_rule_count", o.variable_llr_scale_rules.size())
        .count("variable_mod_llr_scale_rule_count", o.variable_mod_llr_scale_rules.size())
        .count("failed_variable_diagnostics_top", o.failed_variable_diagnostics_top)
        .flag("retry_enabled", o.retry_enabled)
        .count("retry_llr_clip_count", o.retry_llr_clips.size())
        .count("retry_llr_scale_count", o.retry_llr_scales.size())
        .count("retry_weak_erase_fraction_count", o.retry_weak_erase_fractions.size())
        .count("retry_attenuation_count", o.retry_attenuations.size())
        .count("retry_unsatisfied_erase_count_count", o.retry_unsatisfied_erase_counts.size())
        .count("retry_final_failed_erase_count_count", o.retry_final_failed_erase_counts.size())
        .count("retry_final_failed_flip_count_count", o.retry_final_failed_flip_counts.size())
        .count("retry_final_failed_greedy_flip_count_count", o.retry_final_failed_greedy_flip_counts.size())
        .count("retry_final_failed_syndrome_solve_count_count", o.retry_final_failed_syndrome_solve_counts.size())
        .count("retry_final_failed_syndrome_solve_minimize_cost_passes",
               o.retry_final_failed_syndrome_solve_minimize_cost_passes)
        .count("retry_final_failed_syndrome_solve_nullspace_search_count",
               o.retry_final_failed_syndrome_solve_nullspace_search)
        .count("retry_final_failed_syndrome_solve_nullspace_depth", o.retry_final_failed_syndrome_solve_nullspace_depth)
        .flag("retry_final_failed_syndrome_solve_ts_continuity_headers",
              o.retry_final_failed_syndrome_solve_ts_continuity_headers)
        .flag("retry_final_failed_syndrome_solve_ts_continuity_header_templates",
              o.retry_final_failed_syndrome_solve_ts_continuity_header_templates)
        .count("retry_final_failed_syndrome_solve_ts_header_template_rule_count",
               o.retry_final_failed_syndrome_solve_ts_header_templates.size())
        .count("retry_qam_plane_count", o.retry_qam_planes.size())
        .count("retry_variable_range_count", o.retry_variable_ranges.size())
        .count("retry_branch_window_count", o.retry_branch_windows.size())
        .count("retry_branch_window_group_count", o.retry_branch_window_groups.size())
        .count("retry_branch_window_frame_range_count", o.retry_branch_window_frame_ranges.size())
        .count("retry_branch_window_rule_count", o.retry_branch_window_rules.size())
        .count("retry_mode2_source_frame_window_count", o.retry_mode2_source_frame_windows.size())
        .count("retry_mode2_source_frame_window_rule_count", o.retry_mode2_source_frame_rules.size())
        .count("select_mode2_source_frame_window_count", o.select_mode2_source_frame_windows.size())
        .count("select_mode2_source_frame_window_rule_count", o.select_mode2_source_frame_rules.size())
        .flag("retry_layered", o.retry_layered)
        .flag("retry_require_ts_packet_syntax", o.retry_require_ts_packet_syntax)
        .flag("retry_require_ts_packet_continuity", o.retry_require_ts_packet_continuity)
        .count("retry_attempts", d.retry_attempts)
        .count("retry_recovered_codewords", d.retry_recovered_codewords)
        .count("layered_retry_recovered_codewords", d.layered_retry_recovered_codewords)
        .count("qam_plane_retry_recovered_codewords", d.qam_plane_retry_recovered_codewords)
        .count("final_failed_flip_retry_recovered_codewords", d.final_failed_flip_retry_recovered_codewords)
        .count("final_failed_greedy_flip_retry_recovered_codewords", d.final_failed_greedy_flip_retry_recovered_codewords)
        .count("final_failed_syndrome_solve_retry_recovered_codewords",
               d.final_failed_syndrome_solve_retry_recovered_codewords)
        .count("branch_window_retry_recovered_codewords", d.branch_window_retry_recovered_codewords)
        .count("branch_window_group_retry_recovered_codewords", d.branch_window_group_retry_recovered_codewords)
        .count("retry_ts_continuity_context_recovered_codewords", d.retry_ts_continuity_context_recovered_codewords)
        .count("retry_ts_continuity_rejected_codewords", d.retry_ts_continuity_rejected_codewords)
        .count("hard_h_gate_skipped_frames", selection.hard_h_gate_skipped_frames)
        .count("soft_decoded_frames", d.soft_decoded_frames)
        .count("output_packets", e.output_packets)
        .count("output_bytes", e.output_bytes);
    out << text.str() << std::flush;
}

}  // namespace qarel::diag
