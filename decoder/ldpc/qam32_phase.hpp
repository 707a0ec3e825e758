#pragma once

#include <cstdint>
#include <span>

#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"

namespace qarel::ldpc {

inline constexpr std::uint64_t kQam32SignalFrameLlrs = 18720;
inline constexpr std::uint64_t kQam32GroupLlrs = 2 * kQam32SignalFrameLlrs;

struct Qam32PhaseLock {
    std::uint64_t phase = 0;
    std::uint64_t phase0_clean_codewords = 0;
    std::uint64_t phase1_clean_codewords = 0;
};

// Finds which half of a 32QAM FEC group the input starts with: the first two codewords of
// both candidate groupings of the first group are trial-decoded (flooding min-sum, then
// BCH), and exactly one phase must give two clean codewords. Throws std::invalid_argument
// for a short or non-finite span or a graph other than the rate-3 one, and
// std::runtime_error when no single phase locks.
Qam32PhaseLock lock_qam32_phase(std::span<const float> first_group, const LdpcGraph& graph,
                                const MinSumSettings& settings);

}  // namespace qarel::ldpc
