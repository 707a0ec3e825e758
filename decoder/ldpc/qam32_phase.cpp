#include "decoder/ldpc/qam32_phase.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qarel::ldpc {

Qam32PhaseLock lock_qam32_phase(std::span<const float> first_group, const LdpcGraph& graph,
                                std::uint64_t /*max_iterations*/, float /*attenuation*/) {
    if (first_group.size() < kQam32GroupLlrs)
        throw std::invalid_argument("32QAM frame alignment requires two complete signal frames");
    if (graph.variable_count != 7493 || graph.check_offsets.size() != 1398)
        throw std::invalid_argument("32QAM frame alignment requires the DTMB rate-3 graph");
    if (!std::all_of(first_group.begin(), first_group.end(), [](float llr) { return std::isfinite(llr); }))
        throw std::invalid_argument("32QAM frame alignment requires finite LLRs");
    // Trial decoding needs the min-sum and BCH decoders, which this build does not have
    // yet; without them no phase can show clean codewords.
    throw std::runtime_error(
        "unable to lock 32QAM frame packing: two LDPC/BCH-clean codewords are required at exactly one phase");
}

}  // namespace qarel::ldpc
