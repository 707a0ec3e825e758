#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/retry/codeword_retries.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::retry {

// A codeword recovered by a retry whose packets break the stream's continuity, with the
// attempt that recovered it.
struct ContextRetryCodeword {
    std::span<const float> llrs;                  // full LLRs, scaled, not clipped
    std::span<const std::uint8_t> baseline_bits;  // the baseline decoder's final hard bits
    std::uint64_t codeword_slot = 0;
    std::uint64_t frame_index = 0;
    RetryAttempt attempt;                         // as recorded; its window set is not a group
};

// What a successful context retry gives the codeword instead.
struct ContextRepair {
    std::vector<std::uint8_t> hard_bits;
    std::vector<std::uint8_t> transport_bytes;
    ldpc::LdpcDecodeResult ldpc;
    bch::BchDecodeResult bch;
};

// Repeats the recorded attempt and finishes it with the syndrome solve under the stream's
// context, steered by transport-stream header constraints, until the codeword is BCH clean,
// well formed and continuous. Only codewords recovered with the help of the solve qualify.
std::optional<ContextRepair> retry_with_ts_context(const ContextRetryCodeword& codeword,
                                                   const ts::TsContinuityContext& context,
                                                   const RetryContext& retry_context);

}  // namespace qarel::retry
