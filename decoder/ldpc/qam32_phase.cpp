#include "decoder/ldpc/qam32_phase.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::ldpc {

Qam32PhaseLock lock_qam32_phase(std::span<const float> first_group, const LdpcGraph& graph,
                                const MinSumSettings& settings) {
    const FecProfile& profile = fec_profile_for_rate(3);
    if (first_group.size() < kQam32GroupLlrs)
        throw std::invalid_argument("32QAM frame alignment requires two complete signal frames");
    if (graph.variable_count != profile.variable_count() || graph.check_offsets.size() != profile.parity_bits() + 1)
        throw std::invalid_argument("32QAM frame alignment requires the DTMB rate-3 graph");
    if (!std::all_of(first_group.begin(), first_group.end(), [](float llr) { return std::isfinite(llr); }))
        throw std::invalid_argument("32QAM frame alignment requires finite LLRs");

    std::vector<float> full(profile.variable_count(), 0.0f);
    std::vector<std::uint8_t> hard_bits(profile.variable_count());
    std::vector<std::uint8_t> bytes(profile.bytes_per_codeword());
    std::uint64_t clean[2] = {0, 0};
    for (std::uint64_t phase = 0; phase < 2; ++phase) {
        for (std::uint64_t trial = 0; trial < 2; ++trial) {
            const auto codeword =
                first_group.subspan(phase * kQam32SignalFrameLlrs + trial * profile.transmitted_bits,
                                    profile.transmitted_bits);
            std::copy(codeword.begin(), codeword.end(), full.begin() + profile.erased_parity_bits);
            if (!decode_min_sum_flooding(full, graph, hard_bits, settings).converged) continue;
            const auto message = std::span(hard_bits).subspan(profile.parity_bits());
            if (bch::decode_bch_blocks(message, bytes, 0, 0).unclean_blocks == 0) ++clean[phase];
        }
    }
    if ((clean[0] == 2) == (clean[1] == 2))
        throw std::runtime_error(
            "unable to lock 32QAM frame packing: two LDPC/BCH-clean codewords are required at exactly one phase");
    return {clean[1] == 2 ? 1u : 0u, clean[0], clean[1]};
}

}  // namespace qarel::ldpc
