#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/ldpc/min_sum_lanes.hpp"
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
    // Decode several codewords at once with this kernel; without one, each codeword is
    // decoded alone. Both give identical results.
    std::optional<ldpc::FloodingKernel> many_codeword_kernel;
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
void decode_codewords(std::span<const BatchCodeword> codewords, const CodewordDecodeSettings& settings);

}  // namespace qarel::engine
