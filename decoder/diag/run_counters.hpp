#pragma once

#include <cstdint>

#include "decoder/engine/decode_counters.hpp"

namespace qarel::diag {

using engine::DecodeCounters;

// What the run driver and frame selection count.
struct SelectionCounters {
    std::uint64_t frames = 0;
    std::uint64_t codewords = 0;
    std::uint64_t hard_h_gate_scored_windows = 0;
    std::uint64_t hard_h_gate_pass_windows = 0;
    std::uint64_t hard_h_gate_selected_frames = 0;
    std::uint64_t forced_selected_frames = 0;
    std::uint64_t mode2_source_frame_selected_frames = 0;
    std::uint64_t hard_h_gate_gap_filled_frames = 0;
    std::uint64_t hard_h_gate_skipped_frames = 0;
};

// The shape of the run, fixed at start-up.
struct RunShape {
    std::uint64_t signal_frames_per_fec_group = 1;
    std::uint64_t codewords_per_fec_group = 3;
    std::uint64_t scrambler_reset_bits = 0;
    std::uint64_t worker_count = 1;
};

}  // namespace qarel::diag
