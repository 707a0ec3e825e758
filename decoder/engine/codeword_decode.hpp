#pragma once

#include <cstdint>
#include <optional>

#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"

namespace qarel::engine {

// What every worker needs to decode a codeword; read-only while workers run.
struct CodewordDecodeSettings {
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    ldpc::MinSumSettings baseline;
    std::optional<float> llr_clip;
    bool initial_syndrome_scoring = false;
    float early_syndrome_reject_ratio = -1.0f;  // below 0: no early rejection
};

// The baseline decode of one slot of a frame record: optional clipping, initial-syndrome
// scoring with early accept or reject, flooding min-sum, the baseline snapshot and the final
// message bits. Writes only that slot's entries of the record.
void decode_codeword(FrameDecodeRecord& record, std::uint64_t slot, const CodewordDecodeSettings& settings);

}  // namespace qarel::engine
