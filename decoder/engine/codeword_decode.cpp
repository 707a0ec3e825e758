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

// Decodes the slot's message bits into its transport bytes, keeping the result.
const bch::BchDecodeResult& decode_slot_bch(const BatchCodeword& c, std::span<const std::uint8_t> decoded,
                                            const CodewordDecodeSettings& s) {
    const ldpc::FecProfile& profile = *s.profile;
    const std::uint64_t size = profile.bytes_per_codeword();
    bch::BchDecodeResult& result = c.record->slot_bch[c.slot];
    bch::decode_bch_blocks(decoded.subspan(profile.parity_bits()),
                           std::span(c.record->transport_bytes).subspan(c.slot * size, size), c.slot * size * 8,
                           s.scrambler_reset_bits, result);
    return result;
}

// Once the baseline is decided: the snapshot, the retries of a codeword that is not clean
// (converged, with no unclean BCH block), the final message bits and their BCH decode.
void finish_codeword(const BatchCodeword& c, const CodewordDecodeSettings& s, ldpc::CodewordDecoder& decoder) {
    const ldpc::FecProfile& profile = *s.profile;
    const std::uint64_t n = profile.variable_count();
    const auto decoded = slot_decoded_bits(c, n);
    const auto baseline = std::span(c.record->baseline_bits).subspan(c.slot * n, n);
    std::copy(decoded.begin(), decoded.end(), baseline.begin());
    const bool converged = c.record->codewords.ldpc[c.slot].converged;
    const bool clean = converged && decode_slot_bch(c, decoded, s).unclean_blocks == 0;
    if (s.retry_plan != nullptr && s.retry_plan->retry_enabled && !clean) {
        const retry::RetryContext context{&profile, s.graph, s.retry_plan, s.scrambler_reset_bits, &decoder};
        const retry::RetryCodeword codeword{slot_llrs(c, n), baseline, c.slot, c.frame_index};
        store_retry_outcome(c.record->codewords, c.slot, retry::run_codeword_retries(codeword, decoded, context));
        decode_slot_bch(c, decoded, s);
    } else if (!converged) {
        decode_slot_bch(c, decoded, s);
    }
    const auto message = decoded.subspan(profile.parity_bits());
    std::copy(message.begin(), message.end(), c.record->message_bits.begin() + c.slot * profile.message_bits);
}

}  // namespace

// Hands the worker's decoder the codewords it takes from the queue, preparing each as it is
// taken, and remembers them so the worker can finish them after the decode.
class BatchCodewordQueue::WorkerShare final : public ldpc::CodewordJobSource {
public:
    explicit WorkerShare(BatchCodewordQueue& queue) : queue_(queue) {}

    const ldpc::CodewordJob* next() override {
        const CodewordDecodeSettings& settings = queue_.settings_;
        const std::uint64_t n = settings.profile->variable_count();
        for (;;) {
            const std::size_t i = queue_.next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= queue_.codewords_.size()) return nullptr;
            taken_.push_back(i);
            const BatchCodeword& c = queue_.codewords_[i];
            std::span<const float> input = slot_llrs(c, n);
            if (settings.llr_clip) {
                queue_.clipped_[i] = clipped(input, *settings.llr_clip);
                input = queue_.clipped_[i];
            }
            if (settings.initial_syndrome_scoring && score_initial_syndrome(c, input, settings)) continue;
            queue_.jobs_[i] = {input, slot_decoded_bits(c, n), &c.record->codewords.ldpc[c.slot]};
            return &queue_.jobs_[i];
        }
    }

    const std::vector<std::size_t>& taken() const { return taken_; }

private:
    BatchCodewordQueue& queue_;
    std::vector<std::size_t> taken_;
};

void BatchCodewordQueue::decode(ldpc::CodewordDecoder& decoder) {
    WorkerShare share(*this);
    decoder.decode(share, settings_.baseline, ldpc::Schedule::flooding);
    for (const std::size_t i : share.taken()) finish_codeword(codewords_[i], settings_, decoder);
}

}  // namespace qarel::engine
