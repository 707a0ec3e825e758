#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
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

// The decode of a worker's codewords: optional clipping, initial-syndrome scoring with early
// accept or reject, flooding min-sum, the baseline snapshot, retries for codewords that are
// not clean, and the final message bits. Writes only the given slots' entries of their records.
// `decoder` is the calling worker's own, for the baseline and the retries.
void decode_codewords(std::span<const BatchCodeword> codewords, const CodewordDecodeSettings& settings,
                      ldpc::CodewordDecoder& decoder);

}  // namespace qarel::engine
