#include "decoder/engine/batch_engine.hpp"

namespace qarel::engine {

BatchEngine::BatchEngine(std::uint64_t decode_batch_frames) : decode_batch_frames_(decode_batch_frames) {}

void BatchEngine::add_decode_frame(FrameSelectionRecord&& frame) {
    ++counters_.selected_frames;
    add_frame(std::move(frame));
}

void BatchEngine::add_skipped_frame(FrameSelectionRecord&& frame) {
    ++counters_.skipped_frames;
    add_frame(std::move(frame));
}

void BatchEngine::add_frame(FrameSelectionRecord&& frame) {
    pending_.push_back(std::move(frame));
    if (pending_.size() >= decode_batch_frames_) decode_batch();
}

void BatchEngine::decode_batch() {
    if (pending_.empty()) return;
    ++counters_.batches;
    pending_.clear();
}

}  // namespace qarel::engine
