#pragma once

#include <cstdint>
#include <span>

#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::ldpc {

inline constexpr std::uint64_t kQam32SignalFrameLlrs = 18720;
inline constexpr std::uint64_t kQam32GroupLlrs = 2 * kQam32SignalFrameLlrs;

struct Qam32PhaseLock {
    std::uint64_t phase = 0;
    std::uint64_t phase0_clean_codewords = 0;
    std::uint64_t phase1_clean_codewords = 0;
};

// Finds which half of a 32QAM FEC group the input starts with, by trial-decoding the
// first two codewords of both candidate groupings of the first group.
Qam32PhaseLock lock_qam32_phase(std::span<const float> first_group, const LdpcGraph& graph,
                                std::uint64_t max_iterations, float attenuation);

}  // namespace qarel::ldpc
