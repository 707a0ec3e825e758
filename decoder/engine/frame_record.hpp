#pragma once

#include <cstdint>
#include <vector>

namespace qarel::engine {

// One FEC frame on its way from the reader through frame selection to a batch.
struct FrameSelectionRecord {
    std::vector<float> llrs;
    std::uint64_t frame_index = 0;
    std::uint64_t hard_h_clean_syndrome_weight = 0;
    bool hard_h_selected = true;
    bool forced = false;
    bool omitted = false;
    bool mode2_source_frame_selected = false;
    bool hard_h_gap_filled = false;
};

}  // namespace qarel::engine
