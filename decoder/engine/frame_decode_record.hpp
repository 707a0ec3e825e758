#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/retry/retry_plan.hpp"

namespace qarel::engine {

using retry::kNoBranchWindow;
using retry::kNoQamPlane;
using retry::kNoVariableRange;

// Per-codeword results of a frame, one vector per field, indexed by codeword slot. Flags are
// bytes (0 or 1), not packed bits, because workers write the slots of one frame concurrently.
struct CodewordResults {
    explicit CodewordResults(std::size_t slots = 0)
        : ldpc(slots), initial_syndrome_weight(slots, 0), early_rejected(slots, 0), clean(slots, 0),
          bch_clean(slots, 0), retry_attempts(slots, 0), retry_selected(slots, 0),
          retry_layered(slots, 0), retry_llr_scale(slots, 0), retry_llr_clip(slots, 0),
          retry_weak_erase_fraction(slots, 0), retry_attenuation(slots, 0), retry_unsatisfied_erase_count(slots, 0),
          retry_final_failed_erase_count(slots, 0), retry_final_failed_flip_count(slots, 0),
          retry_final_failed_greedy_flip_count(slots, 0), retry_final_failed_syndrome_solve_count(slots, 0),
          retry_qam_plane(slots, kNoQamPlane), retry_variable_range_first(slots, kNoVariableRange),
          retry_variable_range_last(slots, kNoVariableRange), retry_branch_window_first(slots, kNoBranchWindow),
          retry_branch_window_last(slots, kNoBranchWindow), retry_branch_window_group(slots),
          retry_bch_corrected_errors(slots, 0), retry_ts_continuity_rejected(slots, 0) {}

    std::vector<ldpc::LdpcDecodeResult> ldpc;
    std::vector<std::uint64_t> initial_syndrome_weight;
    std::vector<std::uint8_t> early_rejected;
    std::vector<std::uint8_t> clean;
    std::vector<std::uint8_t> bch_clean;
    std::vector<std::uint64_t> retry_attempts;
    std::vector<std::uint8_t> retry_selected;
    std::vector<std::uint8_t> retry_layered;
    std::vector<double> retry_llr_scale;
    std::vector<double> retry_llr_clip;
    std::vector<double> retry_weak_erase_fraction;
    std::vector<double> retry_attenuation;
    std::vector<std::uint64_t> retry_unsatisfied_erase_count;
    std::vector<std::uint64_t> retry_final_failed_erase_count;
    std::vector<std::uint64_t> retry_final_failed_flip_count;
    std::vector<std::uint64_t> retry_final_failed_greedy_flip_count;
    std::vector<std::uint64_t> retry_final_failed_syndrome_solve_count;
    std::vector<std::uint64_t> retry_qam_plane;
    std::vector<std::uint64_t> retry_variable_range_first;
    std::vector<std::uint64_t> retry_variable_range_last;
    std::vector<std::uint64_t> retry_branch_window_first;
    std::vector<std::uint64_t> retry_branch_window_last;
    std::vector<std::string> retry_branch_window_group;
    std::vector<std::uint64_t> retry_bch_corrected_errors;
    std::vector<std::uint8_t> retry_ts_continuity_rejected;
};

// The decode state of one frame of a batch: full LLRs and bit arrays of every slot, slot after
// slot, and the per-slot results.
struct FrameDecodeRecord {
    std::vector<float> llrs;
    std::vector<std::uint8_t> baseline_bits;
    std::vector<std::uint8_t> decoded_bits;
    std::vector<std::uint8_t> message_bits;
    std::vector<std::uint8_t> transport_bytes;
    CodewordResults codewords;
    // Per slot: the BCH decode of its final message bits into its transport bytes, made by
    // the worker that decoded it; finalize joins them into the frame's.
    std::vector<bch::BchDecodeResult> slot_bch;
    bch::BchDecodeResult frame_bch;
    bool frame_clean = false;
};

}  // namespace qarel::engine
