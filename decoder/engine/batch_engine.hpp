#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
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
// batch goes to a pool of worker threads, which decode it while the engine finalizes older
// batches in frame order and the caller reads on; the workers run on from one batch into the
// next. Output and counters do not depend on the number of workers or the batch
// size.
class BatchEngine {
public:
    using Clock = std::chrono::steady_clock;

    BatchEngine(const EngineConfig& config, ts::PacketEmitter& emitter, FrameDiagnosticsSink* diagnostics = nullptr);
    // Lets the workers finish the codewords they hold, then stops them.
    ~BatchEngine();
    BatchEngine(const BatchEngine&) = delete;
    BatchEngine& operator=(const BatchEngine&) = delete;

    // A frame to be decoded: its LLRs are scaled by the command line's rules first.
    void add_decode_frame(FrameSelectionRecord&& frame);
    // A frame left out by frame selection; its LLRs are kept only for diagnostics.
    void add_skipped_frame(FrameSelectionRecord&& frame, bool keep_llrs);

    // Decodes and finalizes every frame gathered so far; nothing is left pending afterwards.
    void decode_batch();

    // The LLR buffer of a finalized frame, to read a later frame into (empty when there is
    // none), so that frames are neither copied nor allocated as they are read.
    std::vector<float> take_spare_llrs();

    const DecodeCounters& counters() const { return counters_; }
    // Restarts the count of recent_largest_ldpc_iterations.
    void clear_recent_largest_iterations() { counters_.recent_largest_ldpc_iterations = 0; }

private:
    struct Batch {
        std::vector<FrameSelectionRecord> frames;
        std::vector<std::unique_ptr<FrameDecodeRecord>> records;  // none for a skipped frame
        std::vector<BatchCodeword> codewords;
        std::unique_ptr<BatchWork> work;  // made when the batch goes to the workers
        Clock::time_point started;
    };

    void add_frame(FrameSelectionRecord&& frame);
    void submit_batch();
    void start_decoding(Batch&& batch);
    void finalize_oldest();
    void finalize(Batch& batch);

    const EngineConfig& config_;
    CodewordDecodeSettings settings_;
    DecodeCounters counters_;
    FrameFinalizer finalizer_;
    // The workers use the batches in flight and the queue until the pool, destroyed first,
    // has let them leave.
    Batch pending_;                // frames gathered for the next batch, their records prepared
    std::deque<Batch> in_flight_;  // oldest first
    std::vector<std::unique_ptr<FrameDecodeRecord>> spare_records_;  // finalized, for reuse
    std::vector<std::vector<float>> spare_llrs_;                     // of finalized frames, for reuse
    CodewordQueue queue_;
    WorkerPool pool_;
    bool workers_started_ = false;
    std::uint64_t batches_in_flight_ = 1;  // set when the workers start
};

}  // namespace qarel::engine
