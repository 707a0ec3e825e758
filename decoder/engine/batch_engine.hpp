#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/engine/decode_counters.hpp"
#include "decoder/engine/engine_config.hpp"
#include "decoder/engine/finalize.hpp"
#include "decoder/engine/frame_record.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::engine {

// Collects frames, decoded and skipped alike, into batches of --decode-batch-frames and
// decodes each full batch on a pool of worker threads, then finalizes its frames in frame
// order. Output and counters do not depend on the number of workers or the batch size.
class BatchEngine {
public:
    BatchEngine(const EngineConfig& config, ts::PacketEmitter& emitter, FrameDiagnosticsSink* diagnostics = nullptr);

    // A frame to be decoded: its LLRs are scaled by the command line's rules first.
    void add_decode_frame(FrameSelectionRecord&& frame);
    // A frame left out by frame selection; its LLRs are kept only for diagnostics.
    void add_skipped_frame(FrameSelectionRecord&& frame, bool keep_llrs);

    // Decodes and finalizes the frames gathered so far; the batch is empty afterwards.
    void decode_batch();

    const DecodeCounters& counters() const { return counters_; }

private:
    void add_frame(FrameSelectionRecord&& frame);

    const EngineConfig& config_;
    std::vector<FrameSelectionRecord> pending_;
    DecodeCounters counters_;
    FrameFinalizer finalizer_;
};

}  // namespace qarel::engine
