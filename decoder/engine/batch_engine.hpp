#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "decoder/engine/codeword_decode.hpp"
#include "decoder/engine/decode_counters.hpp"
#include "decoder/engine/engine_config.hpp"
#include "decoder/engine/finalize.hpp"
#include "decoder/engine/frame_record.hpp"
#include "decoder/engine/worker_pool.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::engine {

// Collects frames, decoded and skipped alike, into batches of --decode-batch-frames. Each full
// batch is decoded by a pool of worker threads while the engine finalizes the batch before it
// in frame order and the caller reads on. Output and counters do not depend on the number of
// workers or the batch size.
class BatchEngine {
public:
    using Clock = std::chrono::steady_clock;

    BatchEngine(const EngineConfig& config, ts::PacketEmitter& emitter, FrameDiagnosticsSink* diagnostics = nullptr);

    // A frame to be decoded: its LLRs are scaled by the command line's rules first.
    void add_decode_frame(FrameSelectionRecord&& frame);
    // A frame left out by frame selection; its LLRs are kept only for diagnostics.
    void add_skipped_frame(FrameSelectionRecord&& frame, bool keep_llrs);

    // Decodes and finalizes every frame gathered so far; nothing is left pending afterwards.
    void decode_batch();

    const DecodeCounters& counters() const { return counters_; }
    // Restarts the count of recent_largest_ldpc_iterations.
    void clear_recent_largest_iterations() { counters_.recent_largest_ldpc_iterations = 0; }

private:
    struct Batch {
        std::vector<FrameSelectionRecord> frames;
        std::vector<std::unique_ptr<FrameDecodeRecord>> records;  // none for a skipped frame
        std::vector<BatchCodeword> codewords;
        std::unique_ptr<BatchCodewordQueue> queue;  // made when the batch goes to the workers
        Clock::time_point started;
    };

    void add_frame(FrameSelectionRecord&& frame);
    void submit_batch();
    Batch prepare_batch();
    void start_decoding(Batch&& batch);
    std::optional<Batch> finish_decoding();
    void finalize(Batch& batch);

    const EngineConfig& config_;
    CodewordDecodeSettings settings_;
    std::vector<FrameSelectionRecord> pending_;
    DecodeCounters counters_;
    FrameFinalizer finalizer_;
    // The workers use the batch in flight and their decoders until the pool, destroyed first,
    // has let them finish.
    std::optional<Batch> in_flight_;
    std::vector<std::unique_ptr<ldpc::CodewordDecoder>> decoders_;  // one per worker
    WorkerPool pool_;
};

}  // namespace qarel::engine
