#include "decoder/engine/codeword_decode.hpp"

#include <algorithm>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/engine/retry_fields.hpp"
#include "decoder/retry/codeword_retries.hpp"

namespace qarel::engine {
namespace {

std::span<const float> slot_llrs(const BatchCodeword& c, std::uint64_t n) {
    return std::span<const float>(c.record->llrs).subspan(c.slot * n, n);
}

std::span<std::uint8_t> slot_decoded_bits(const BatchCodeword& c, std::uint64_t n) {
    return std::span(c.record->decoded_bits).subspan(c.slot * n, n);
}

std::vector<float> clipped(std::span<const float> llrs, float clip) {
    std::vector<float> values(llrs.begin(), llrs.end());
    for (float& v : values) v = v > clip ? clip : (v < -clip ? -clip : v);
    return values;
}

// Initial-syndrome scoring of one codeword's input. Returns true when the early accept or
// reject has decided the codeword without an LDPC decode.
bool score_initial_syndrome(const BatchCodeword& c, std::span<const float> input, const CodewordDecodeSettings& s) {
    const std::uint64_t n = input.size();
    std::vector<std::uint8_t> hard(n);
    for (std::uint64_t v = 0; v < n; ++v) hard[v] = input[v] < 0.0f ? 1 : 0;
    const std::uint64_t weight = ldpc::syndrome_weight(hard, *s.graph);
    auto& results = c.record->codewords;
    results.initial_syndrome_weight[c.slot] = weight;
    if (s.early_syndrome_reject_ratio < 0.0f) return false;
    const bool accept = weight == 0;
    const bool reject = !accept && static_cast<float>(weight) / static_cast<float>(s.graph->check_count()) >=
                                       s.early_syndrome_reject_ratio;
    if (!accept && !reject) return false;
    std::copy(hard.begin(), hard.end(), slot_decoded_bits(c, n).begin());
    results.ldpc[c.slot] = {0, accept, accept ? 0 : weight};
    results.early_rejected[c.slot] = reject ? 1 : 0;
    return true;
}

// A baseline is clean when it converged and the BCH decode of its message bits finds no
// unclean block.
bool baseline_clean(const BatchCodeword& c, std::span<const std::uint8_t> decoded, const CodewordDecodeSettings& s) {
    if (!c.record->codewords.ldpc[c.slot].converged) return false;
    const ldpc::FecProfile& profile = *s.profile;
    std::vector<std::uint8_t> bytes(profile.bytes_per_codeword());
    const auto bch = bch::decode_bch_blocks(decoded.subspan(profile.parity_bits()), bytes,
                                            c.slot * profile.bytes_per_codeword() * 8, s.scrambler_reset_bits);
    return bch.unclean_blocks == 0;
}

// Once the baseline is decided: the snapshot, the retries of a codeword that is not clean,
// and the final message bits.
void finish_codeword(const BatchCodeword& c, const CodewordDecodeSettings& s, ldpc::CodewordDecoder& decoder) {
    const ldpc::FecProfile& profile = *s.profile;
    const std::uint64_t n = profile.variable_count();
    const auto decoded = slot_decoded_bits(c, n);
    const auto baseline = std::span(c.record->baseline_bits).subspan(c.slot * n, n);
    std::copy(decoded.begin(), decoded.end(), baseline.begin());
    if (s.retry_plan != nullptr && s.retry_plan->retry_enabled && !baseline_clean(c, decoded, s)) {
        const retry::RetryContext context{&profile, s.graph, s.retry_plan, s.scrambler_reset_bits, &decoder};
        const retry::RetryCodeword codeword{slot_llrs(c, n), baseline, c.slot, c.frame_index};
        store_retry_outcome(c.record->codewords, c.slot, retry::run_codeword_retries(codeword, decoded, context));
    }
    const auto message = decoded.subspan(profile.parity_bits());
    std::copy(message.begin(), message.end(), c.record->message_bits.begin() + c.slot * profile.message_bits);
}

}  // namespace

void decode_codewords(std::span<const BatchCodeword> codewords, const CodewordDecodeSettings& settings,
                      ldpc::CodewordDecoder& decoder) {
    const std::uint64_t n = settings.profile->variable_count();
    std::vector<std::vector<float>> clipped_inputs(settings.llr_clip ? codewords.size() : 0);
    std::vector<ldpc::CodewordJob> jobs;
    for (std::size_t i = 0; i < codewords.size(); ++i) {
        const BatchCodeword& c = codewords[i];
        std::span<const float> input = slot_llrs(c, n);
        if (settings.llr_clip) {
            clipped_inputs[i] = clipped(input, *settings.llr_clip);
            input = clipped_inputs[i];
        }
        if (settings.initial_syndrome_scoring && score_initial_syndrome(c, input, settings)) continue;
        jobs.push_back({input, slot_decoded_bits(c, n), &c.record->codewords.ldpc[c.slot]});
    }
    decoder.decode(jobs, settings.baseline, ldpc::Schedule::flooding);
    for (const BatchCodeword& c : codewords) finish_codeword(c, settings, decoder);
}

}  // namespace qarel::engine
