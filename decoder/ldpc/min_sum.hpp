#pragma once

#include <cstdint>
#include <span>

#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::ldpc {

struct MinSumSettings {
    std::uint64_t max_iterations = 50;
    float attenuation = 0.75f;
};

struct LdpcDecodeResult {
    std::uint64_t iterations = 0;
    bool converged = false;
    std::uint64_t final_syndrome_weight = 0;

    bool operator==(const LdpcDecodeResult&) const = default;
};

// Throws std::invalid_argument for zero iterations or an attenuation that is not positive
// and finite.
void validate_min_sum_settings(const MinSumSettings& settings);

// Normalised min-sum decoding of one full codeword. `llrs` holds one LLR per variable
// (positive favours 0); the first variable_count bytes of `hard_bits` receive the hard
// decision of the final posteriors. Both stop as soon as every check is satisfied.
// Throws std::invalid_argument for a bad graph, span size or setting.
//
// Flooding: every check is updated from the previous iteration's messages.
LdpcDecodeResult decode_min_sum_flooding(std::span<const float> llrs, const LdpcGraph& graph,
                                         std::span<std::uint8_t> hard_bits, const MinSumSettings& settings);
// Layered: checks are updated one after another, each seeing the posteriors left by the last.
LdpcDecodeResult decode_min_sum_layered(std::span<const float> llrs, const LdpcGraph& graph,
                                        std::span<std::uint8_t> hard_bits, const MinSumSettings& settings);

}  // namespace qarel::ldpc
