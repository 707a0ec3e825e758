#include "decoder/diag/run_summary.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "decoder/cli/command_line.hpp"

namespace qarel::diag {
namespace {

const std::vector<std::string> kKeys = {
    "frames", "signal_frames_per_fec_group", "codewords_per_fec_group", "signal_frames", "scrambler_reset_bits",
    "frame_index_offset", "codewords", "worker_count", "decode_batch_frames", "max_iterations",
    "retry_max_iterations", "llr_clip", "ldpc_accel", "cuda_ldpc_codewords", "cuda_ldpc_kernel_ms",
    "cuda_ldpc_h2d_ms", "cuda_ldpc_d2h_ms", "cuda_ldpc_total_ms", "cuda_ldpc_cpu_fallback_codewords",
    "cuda_retry_clips", "cuda_retry_codewords", "cuda_retry_kernel_ms", "cuda_retry_h2d_ms", "cuda_retry_d2h_ms",
    "cuda_retry_total_ms", "batch_prepare_ms", "batch_baseline_ms", "batch_snapshot_ms", "batch_retry_ms",
    "batch_worker_ms", "batch_finalize_ms", "batch_total_ms", "converged_codewords", "ldpc_iterations",
    "score_initial_syndrome", "initial_syndrome_scoring", "early_syndrome_reject_ratio", "initial_syndrome_weight",
    "early_rejected_codewords", "final_syndrome_weight", "bch_corrected_errors", "bch_unclean_blocks",
    "clean_frames", "clean_signal_frames", "emitted_frames", "partial_emitted_frames", "omitted_frames",
    "clean_frames_only", "fail_on_unclean_frame", "emit_clean_codewords", "emit_bch_clean_codewords",
    "emit_bch_clean_packets", "clean_codewords", "bch_clean_payload_codewords", "bch_clean_payload_packets",
    "bch_clean_packet_salvage_emitted_packets", "emitted_codewords", "omitted_codewords", "mark_discontinuities",
    "discontinuity_marked_packets", "insert_discontinuity_packets", "discontinuity_inserted_packets",
    "continuity_guard_pending_pids", "hard_h_gate_enabled", "hard_h_gate_window_codewords",
    "hard_h_gate_step_codewords", "hard_h_gate_threshold", "hard_h_gate_scored_windows", "hard_h_gate_pass_windows",
    "hard_h_gate_selected_frames", "forced_selected_frames", "mode2_source_frame_selected_frames",
    "hard_h_gate_gap_filled_frames", "codeword_llr_scale_rule_count", "variable_llr_scale_rule_count",
    "variable_mod_llr_scale_rule_count", "failed_variable_diagnostics_top", "retry_enabled", "retry_llr_clip_count",
    "retry_llr_scale_count", "retry_weak_erase_fraction_count", "retry_attenuation_count",
    "retry_unsatisfied_erase_count_count", "retry_final_failed_erase_count_count",
    "retry_final_failed_flip_count_count", "retry_final_failed_greedy_flip_count_count",
    "retry_final_failed_syndrome_solve_count_count", "retry_final_failed_syndrome_solve_minimize_cost_passes",
    "retry_final_failed_syndrome_solve_nullspace_search_count", "retry_final_failed_syndrome_solve_nullspace_depth",
    "retry_final_failed_syndrome_solve_ts_continuity_headers",
    "retry_final_failed_syndrome_solve_ts_continuity_header_templates",
    "retry_final_failed_syndrome_solve_ts_header_template_rule_count", "retry_qam_plane_count",
    "retry_variable_range_count", "retry_branch_window_count", "retry_branch_window_group_count",
    "retry_branch_window_frame_range_count", "retry_branch_window_rule_count", "retry_mode2_source_frame_window_count",
    "retry_mode2_source_frame_window_rule_count", "select_mode2_source_frame_window_count",
    "select_mode2_source_frame_window_rule_count", "retry_layered", "retry_require_ts_packet_syntax",
    "retry_require_ts_packet_continuity", "retry_attempts", "retry_recovered_codewords",
    "layered_retry_recovered_codewords", "qam_plane_retry_recovered_codewords",
    "final_failed_flip_retry_recovered_codewords", "final_failed_greedy_flip_retry_recovered_codewords",
    "final_failed_syndrome_solve_retry_recovered_codewords", "branch_window_retry_recovered_codewords",
    "branch_window_group_retry_recovered_codewords", "retry_ts_continuity_context_recovered_codewords",
    "retry_ts_continuity_rejected_codewords", "hard_h_gate_skipped_frames", "soft_decoded_frames", "output_packets",
    "output_bytes"};

std::vector<std::pair<std::string, std::string>> summary_lines(const std::vector<std::string>& extra,
                                                              const DecodeCounters& decode = {}) {
    std::vector<std::string> args{"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto options = cli::parse_command_line(args);
    std::ostringstream out;
    write_run_summary(out, options, {2, 5, 15040, 4}, {7, 35}, decode, {3, 564, 0, 0, 0});
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return lines;
}

std::string value_of(const std::vector<std::pair<std::string, std::string>>& lines, const std::string& key) {
    for (const auto& [k, v] : lines)
        if (k == key) return v;
    return "<missing>";
}

// Counts the writes that reach the stream's buffer (a string buffer grows through overflow
// within a write: that is not another one).
class CountingBuffer : public std::stringbuf {
public:
    int writes = 0;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        ++writes;
        inside_write_ = true;
        const std::streamsize written = std::stringbuf::xsputn(s, n);
        inside_write_ = false;
        return written;
    }
    int_type overflow(int_type c) override {
        if (!inside_write_) ++writes;
        return std::stringbuf::overflow(c);
    }

private:
    bool inside_write_ = false;
};

// Standard error is unbuffered: a write per key, '=' and value would let another writer's
// text land inside a line.
TEST(RunSummary, ReachesItsStreamInOneWrite) {
    const std::vector<std::string> args{"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a"};
    const auto options = cli::parse_command_line(args);
    CountingBuffer buffer;
    std::ostream out(&buffer);
    write_run_summary(out, options, {2, 5, 15040, 4}, {7, 35}, {}, {3, 564, 0, 0, 0});
    EXPECT_EQ(buffer.writes, 1);
    const std::string text = buffer.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(kKeys.size()));
}

TEST(RunSummary, EveryKeyInItsFixedOrder) {
    const auto lines = summary_lines({});
    ASSERT_EQ(kKeys.size(), 121u);
    ASSERT_EQ(lines.size(), kKeys.size());
    for (std::size_t i = 0; i < kKeys.size(); ++i) EXPECT_EQ(lines[i].first, kKeys[i]) << i;
    EXPECT_EQ(value_of(lines, "signal_frames"), "14");
    EXPECT_EQ(value_of(lines, "codewords"), "35");
    EXPECT_EQ(value_of(lines, "output_bytes"), "564");
}

TEST(RunSummary, ValueFormats) {
    DecodeCounters decode;
    decode.batch_total_ms = 1200000.0;
    decode.batch_worker_ms = 12.5;
    decode.clean_frames = 3;
    const auto defaults = summary_lines({}, decode);
    EXPECT_EQ(value_of(defaults, "llr_clip"), "off");
    EXPECT_EQ(value_of(defaults, "early_syndrome_reject_ratio"), "off");
    EXPECT_EQ(value_of(defaults, "hard_h_gate_window_codewords"), "off");
    EXPECT_EQ(value_of(defaults, "hard_h_gate_step_codewords"), "off");
    EXPECT_EQ(value_of(defaults, "hard_h_gate_threshold"), "off");
    EXPECT_EQ(value_of(defaults, "ldpc_accel"), "cpu");
    EXPECT_EQ(value_of(defaults, "cuda_ldpc_kernel_ms"), "0");
    EXPECT_EQ(value_of(defaults, "batch_total_ms"), "1.2e+06");
    EXPECT_EQ(value_of(defaults, "batch_worker_ms"), "12.5");
    EXPECT_EQ(value_of(defaults, "clean_signal_frames"), "6");
    EXPECT_EQ(value_of(defaults, "retry_enabled"), "false");

    const auto set = summary_lines({"--llr-clip", "12.5", "--early-syndrome-reject-ratio", "0.25",
                                    "--hard-h-gate-window-codewords", "15", "--hard-h-gate-step-codewords", "5",
                                    "--hard-h-gate-threshold", "0.5", "--qam", "32qam", "--retry-llr-clip", "3",
                                    "--retry-llr-clip", "4", "--retry-layered"});
    EXPECT_EQ(value_of(set, "llr_clip"), "12.5");
    EXPECT_EQ(value_of(set, "early_syndrome_reject_ratio"), "0.250000");
    EXPECT_EQ(value_of(set, "hard_h_gate_enabled"), "true");
    EXPECT_EQ(value_of(set, "hard_h_gate_window_codewords"), "15");
    EXPECT_EQ(value_of(set, "hard_h_gate_threshold"), "0.500000");
    EXPECT_EQ(value_of(set, "initial_syndrome_scoring"), "true");
    EXPECT_EQ(value_of(set, "retry_llr_clip_count"), "2");
    EXPECT_EQ(value_of(set, "retry_layered"), "true");
    EXPECT_EQ(value_of(set, "retry_enabled"), "true");
}

}  // namespace
}  // namespace qarel::diag
