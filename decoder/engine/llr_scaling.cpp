#include "decoder/engine/llr_scaling.hpp"

namespace qarel::engine {
namespace {

bool covers(std::uint64_t first, std::uint64_t last, std::uint64_t frame_index) {
    return first <= frame_index && frame_index <= last;
}

}  // namespace

void apply_llr_scale_rules(std::span<float> frame_llrs, std::uint64_t frame_index, std::uint64_t transmitted_bits,
                           const options::RunOptions& options) {
    const std::uint64_t slots = frame_llrs.size() / transmitted_bits;
    const auto slot_llrs = [&](std::uint64_t slot) { return frame_llrs.subspan(slot * transmitted_bits, transmitted_bits); };

    for (const auto& rule : options.codeword_llr_scale_rules) {
        if (!covers(rule.first_frame, rule.last_frame, frame_index)) continue;
        for (float& llr : slot_llrs(rule.slot)) llr = rule.scale * llr;
    }
    for (const auto& rule : options.variable_llr_scale_rules) {
        if (!covers(rule.first_frame, rule.last_frame, frame_index)) continue;
        for (std::uint64_t slot = 0; slot < slots; ++slot) slot_llrs(slot)[rule.variable] *= rule.scale;
    }
    for (const auto& rule : options.variable_mod_llr_scale_rules) {
        if (!covers(rule.first_frame, rule.last_frame, frame_index)) continue;
        for (std::uint64_t slot = 0; slot < slots; ++slot) {
            auto llrs = slot_llrs(slot);
            // Step by the modulus only while the next index stays inside the codeword, so a
            // modulus near 2^64 cannot wrap the index around.
            for (std::uint64_t t = rule.remainder; t < transmitted_bits; t += rule.modulus) {
                llrs[t] = rule.scale * llrs[t];
                if (rule.modulus >= transmitted_bits - t) break;
            }
        }
    }
}

}  // namespace qarel::engine
