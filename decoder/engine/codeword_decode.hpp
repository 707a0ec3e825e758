#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/retry/retry_plan.hpp"

namespace qarel::engine {

// What every worker needs to decode codewords; read-only while workers run.
struct CodewordDecodeSettings {
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    ldpc::MinSumSettings baseline;
    std::optional<float> llr_clip;
    bool initial_syndrome_scoring = false;
    float early_syndrome_reject_ratio = -1.0f;  // below 0: no early rejection
    // Codewords whose baseline is not clean get the plan's retries when it is enabled.
    const retry::RetryPlan* retry_plan = nullptr;
    std::uint64_t scrambler_reset_bits = 0;
};

// One codeword of a batch: a slot of a frame record.
struct BatchCodeword {
    FrameDecodeRecord* record = nullptr;
    std::uint64_t slot = 0;
    std::uint64_t frame_index = 0;
};

// The codewords of one batch as the workers share them.
struct BatchWork {
    BatchWork(std::span<const BatchCodeword> batch_codewords, bool clipping)
        : codewords(batch_codewords), jobs(batch_codewords.size()), clipped(clipping ? batch_codewords.size() : 0) {}

    const std::span<const BatchCodeword> codewords;
    std::size_t handed_out = 0;  // these two under the queue's lock
    std::size_t finished = 0;
    // Entry i belongs to the worker that took codeword i.
    std::vector<ldpc::CodewordJob> jobs;
    std::vector<std::vector<float>> clipped;
};

// The batches sent to the workers, oldest first. Whenever a lane of a worker's decoder frees
// up, it takes the next codeword of the oldest batch that has one, and the worker finishes
// each codeword as soon as its decode ends: optional clipping and initial-syndrome scoring
// with early accept or reject before it, then the baseline snapshot, retries for a codeword
// that is not clean, the final message bits and their BCH decode. The lanes therefore run on
// into the next batch while the engine finalizes the one before, and no worker idles while
// another drains. A codeword's decode reads only its own slot and the read-only settings, so
// which worker takes it changes nothing in the results.
class CodewordQueue {
public:
    explicit CodewordQueue(const CodewordDecodeSettings& settings) : settings_(settings) {}

    // Hands a batch to the workers; it must stay in place until wait() has returned for it or
    // the workers have left.
    void push(BatchWork& work);
    // Returns once every codeword of the batch is finished; rethrows the first worker failure
    // when that came first.
    void wait(BatchWork& work);
    // Workers finish the codewords they took, then leave; codewords not taken are abandoned.
    void stop();

    // A worker's loop, until stop() or a failure: decodes with a `kernel` decoder of its own,
    // and a second one, made when first needed, for the retries.
    void serve(ldpc::LdpcKernel kernel);

private:
    class RetryDecoder;
    class WorkerShare;

    void finish(BatchWork& work, std::size_t i, RetryDecoder& retry_decoder);
    static void finish_codeword(const BatchCodeword& c, const CodewordDecodeSettings& s, RetryDecoder& retry_decoder);

    const CodewordDecodeSettings& settings_;
    std::mutex mutex_;
    std::condition_variable work_arrived_;
    std::condition_variable batch_finished_;
    std::deque<BatchWork*> waiting_;  // batches with codewords not yet handed out
    bool stopping_ = false;
    std::exception_ptr failure_;
};

}  // namespace qarel::engine
