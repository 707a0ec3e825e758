#include "decoder/engine/codeword_decode.hpp"

#include <algorithm>
#include <vector>

namespace qarel::engine {
namespace {

std::vector<float> clipped(std::span<const float> llrs, float clip) {
    std::vector<float> values(llrs.begin(), llrs.end());
    for (float& v : values) v = v > clip ? clip : (v < -clip ? -clip : v);
    return values;
}

}  // namespace

void decode_codeword(FrameDecodeRecord& record, std::uint64_t slot, const CodewordDecodeSettings& settings) {
    const ldpc::FecProfile& profile = *settings.profile;
    const ldpc::LdpcGraph& graph = *settings.graph;
    const std::uint64_t n = profile.variable_count();
    const auto slot_llrs = std::span<const float>(record.llrs).subspan(slot * n, n);
    const auto decoded = std::span(record.decoded_bits).subspan(slot * n, n);
    auto& results = record.codewords;

    std::vector<float> clipped_llrs;
    std::span<const float> input = slot_llrs;
    if (settings.llr_clip) {
        clipped_llrs = clipped(slot_llrs, *settings.llr_clip);
        input = clipped_llrs;
    }

    bool decided = false;
    if (settings.initial_syndrome_scoring) {
        std::vector<std::uint8_t> hard(n);
        for (std::uint64_t v = 0; v < n; ++v) hard[v] = input[v] < 0.0f ? 1 : 0;
        const std::uint64_t weight = ldpc::syndrome_weight(hard, graph);
        results.initial_syndrome_weight[slot] = weight;
        const float ratio = settings.early_syndrome_reject_ratio;
        if (ratio >= 0.0f) {
            const bool accept = weight == 0;
            const bool reject =
                !accept && static_cast<float>(weight) / static_cast<float>(graph.check_count()) >= ratio;
            if (accept || reject) {
                std::copy(hard.begin(), hard.end(), decoded.begin());
                results.ldpc[slot] = {0, accept, accept ? 0 : weight};
                results.early_rejected[slot] = reject ? 1 : 0;
                decided = true;
            }
        }
    }
    if (!decided) results.ldpc[slot] = ldpc::decode_min_sum_flooding(input, graph, decoded, settings.baseline);

    std::copy(decoded.begin(), decoded.end(), record.baseline_bits.begin() + slot * n);

    // A baseline that is not clean (not converged, or converged with an unclean BCH block)
    // is where the retry strategies take over; they are not part of this build yet, so the
    // baseline decision stands and its BCH check would decide nothing.
    const auto message = decoded.subspan(profile.parity_bits());
    std::copy(message.begin(), message.end(), record.message_bits.begin() + slot * profile.message_bits);
}

}  // namespace qarel::engine
