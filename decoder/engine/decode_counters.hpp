#pragma once

#include <cstdint>

namespace qarel::engine {

// Run totals of the decode engine, summed over all frames and batches and reported by the
// run summary.
struct DecodeCounters {
    // Milliseconds per batch stage, summed over batches.
    double batch_prepare_ms = 0;
    double batch_baseline_ms = 0;
    double batch_snapshot_ms = 0;
    double batch_retry_ms = 0;
    double batch_worker_ms = 0;
    double batch_finalize_ms = 0;
    double batch_total_ms = 0;

    std::uint64_t converged_codewords = 0;
    std::uint64_t ldpc_iterations = 0;
    std::uint64_t initial_syndrome_weight = 0;
    std::uint64_t early_rejected_codewords = 0;
    std::uint64_t final_syndrome_weight = 0;
    std::uint64_t bch_corrected_errors = 0;
    std::uint64_t bch_unclean_blocks = 0;
    std::uint64_t clean_frames = 0;
    std::uint64_t emitted_frames = 0;
    std::uint64_t partial_emitted_frames = 0;
    std::uint64_t omitted_frames = 0;
    std::uint64_t clean_codewords = 0;
    std::uint64_t bch_clean_payload_codewords = 0;
    std::uint64_t bch_clean_payload_packets = 0;
    std::uint64_t bch_clean_packet_salvage_emitted_packets = 0;
    std::uint64_t emitted_codewords = 0;
    std::uint64_t omitted_codewords = 0;
    std::uint64_t soft_decoded_frames = 0;

    std::uint64_t retry_attempts = 0;
    std::uint64_t retry_recovered_codewords = 0;
    std::uint64_t layered_retry_recovered_codewords = 0;
    std::uint64_t qam_plane_retry_recovered_codewords = 0;
    std::uint64_t final_failed_flip_retry_recovered_codewords = 0;
    std::uint64_t final_failed_greedy_flip_retry_recovered_codewords = 0;
    std::uint64_t final_failed_syndrome_solve_retry_recovered_codewords = 0;
    std::uint64_t branch_window_retry_recovered_codewords = 0;
    std::uint64_t branch_window_group_retry_recovered_codewords = 0;
    std::uint64_t retry_ts_continuity_context_recovered_codewords = 0;
    std::uint64_t retry_ts_continuity_rejected_codewords = 0;

    // Live figures, outside the run summary.
    std::uint64_t largest_ldpc_iterations = 0;
    std::uint64_t recent_largest_ldpc_iterations = 0;  // since the reader last cleared it
    std::uint64_t bch_blocks = 0;                      // of decoded codewords
    std::uint64_t decoded_packets = 0;
    std::uint64_t untrusted_packets = 0;  // bytes of a block that failed BCH or of a failed codeword
    std::uint64_t omitted_packets = 0;                 // decoded or skipped, not written
    // Of converged codewords, with the status stream on: the hard decisions of the channel's
    // nonzero LLRs that the decoded codeword overturned, and how many there were.
    std::uint64_t channel_bit_errors = 0;
    std::uint64_t channel_bits = 0;
};

}  // namespace qarel::engine
