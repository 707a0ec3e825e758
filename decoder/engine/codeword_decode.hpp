#pragma once

#include <atomic>
#include <cstdint>
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

// The codewords of a batch, shared by its workers: each worker's decoder takes the next
// codeword whenever one of its lanes frees up, so every lane stays busy until the batch runs
// out, whatever the worker count and however the codewords' iteration counts differ. A
// codeword's decode reads only its own slot and the read-only settings, so which worker takes
// it changes nothing in the results.
class BatchCodewordQueue {
public:
    BatchCodewordQueue(std::span<const BatchCodeword> codewords, const CodewordDecodeSettings& settings)
        : codewords_(codewords), settings_(settings), jobs_(codewords.size()),
          clipped_(settings.llr_clip ? codewords.size() : 0) {}

    // A worker's decode of the codewords it takes: optional clipping, initial-syndrome scoring
    // with early accept or reject, flooding min-sum with `decoder` (the worker's own), then
    // for each of them the baseline snapshot, retries for codewords that are not clean, the
    // final message bits and their BCH decode. Writes only those codewords' slot entries.
    void decode(ldpc::CodewordDecoder& decoder);

private:
    class WorkerShare;

    const std::span<const BatchCodeword> codewords_;
    const CodewordDecodeSettings& settings_;
    std::atomic<std::size_t> next_{0};
    // Entry i belongs to the worker that took codeword i.
    std::vector<ldpc::CodewordJob> jobs_;
    std::vector<std::vector<float>> clipped_;
};

}  // namespace qarel::engine
