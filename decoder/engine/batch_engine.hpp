#pragma once

#include <cstdint>
#include <vector>

#include "decoder/engine/frame_record.hpp"

namespace qarel::engine {

struct BatchEngineCounters {
    std::uint64_t selected_frames = 0;
    std::uint64_t skipped_frames = 0;
    std::uint64_t batches = 0;
    std::uint64_t output_bytes = 0;
};

// Collects frames into batches of a fixed number of frames and runs a batch when it is full.
// Decoding and emission are not part of this build yet: a batch is counted and released.
class BatchEngine {
public:
    explicit BatchEngine(std::uint64_t decode_batch_frames);

    void add_decode_frame(FrameSelectionRecord&& frame);
    void add_skipped_frame(FrameSelectionRecord&& frame);

    // Runs the frames gathered so far, if any.
    void decode_batch();

    std::uint64_t pending_frames() const { return pending_.size(); }
    const BatchEngineCounters& counters() const { return counters_; }

private:
    void add_frame(FrameSelectionRecord&& frame);

    std::uint64_t decode_batch_frames_;
    std::vector<FrameSelectionRecord> pending_;
    BatchEngineCounters counters_;
};

}  // namespace qarel::engine
