#include "decoder/engine/codeword_decode.hpp"

#include <algorithm>
#include <memory>
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

}  // namespace

// A worker's decoder for the retries, made when first needed: its main decoder is busy with
// the lanes whose codewords run on while one is retried.
class CodewordQueue::RetryDecoder {
public:
    RetryDecoder(const ldpc::LdpcGraph& graph, ldpc::LdpcKernel kernel) : graph_(graph), kernel_(kernel) {}
    ldpc::CodewordDecoder& get() {
        if (!decoder_) decoder_ = ldpc::make_codeword_decoder(graph_, kernel_);
        return *decoder_;
    }

private:
    const ldpc::LdpcGraph& graph_;
    ldpc::LdpcKernel kernel_;
    std::unique_ptr<ldpc::CodewordDecoder> decoder_;
};

// Once the baseline is decided: the snapshot, the retries of a codeword that is not clean
// (converged, with no unclean BCH block), the final message bits and their BCH decode.
void CodewordQueue::finish_codeword(const BatchCodeword& c, const CodewordDecodeSettings& s,
                                    RetryDecoder& retry_decoder) {
    const ldpc::FecProfile& profile = *s.profile;
    const std::uint64_t n = profile.variable_count();
    const auto decoded = slot_decoded_bits(c, n);
    const auto baseline = std::span(c.record->baseline_bits).subspan(c.slot * n, n);
    std::copy(decoded.begin(), decoded.end(), baseline.begin());
    const bool converged = c.record->codewords.ldpc[c.slot].converged;
    const bool clean = converged && decode_slot_bch(c, decoded, s).unclean_blocks == 0;
    if (s.retry_plan != nullptr && s.retry_plan->retry_enabled && !clean) {
        const retry::RetryContext context{&profile, s.graph, s.retry_plan, s.scrambler_reset_bits, &retry_decoder.get()};
        const retry::RetryCodeword codeword{slot_llrs(c, n), baseline, c.slot, c.frame_index};
        store_retry_outcome(c.record->codewords, c.slot, retry::run_codeword_retries(codeword, decoded, context));
        decode_slot_bch(c, decoded, s);
    } else if (!converged) {
        decode_slot_bch(c, decoded, s);
    }
    const auto message = decoded.subspan(profile.parity_bits());
    std::copy(message.begin(), message.end(), c.record->message_bits.begin() + c.slot * profile.message_bits);
}

// Feeds a worker's decoder from the queue: prepares each codeword as it is taken, finishes
// at once those that initial-syndrome scoring decides, and the others as their decodes end.
class CodewordQueue::WorkerShare final : public ldpc::CodewordJobSource {
public:
    WorkerShare(CodewordQueue& queue, RetryDecoder& retry_decoder) : queue_(queue), retry_decoder_(retry_decoder) {}

    const ldpc::CodewordJob* next() override {
        const CodewordDecodeSettings& settings = queue_.settings_;
        const std::uint64_t n = settings.profile->variable_count();
        for (;;) {
            BatchWork* work = nullptr;
            std::size_t i = 0;
            {
                std::lock_guard lock(queue_.mutex_);
                if (queue_.stopping_ || queue_.waiting_.empty()) return nullptr;
                work = queue_.waiting_.front();
                i = work->handed_out++;
                if (work->handed_out == work->codewords.size()) queue_.waiting_.pop_front();
            }
            const BatchCodeword& c = work->codewords[i];
            std::span<const float> input = slot_llrs(c, n);
            if (settings.llr_clip) {
                work->clipped[i] = clipped(input, *settings.llr_clip);
                input = work->clipped[i];
            }
            if (settings.initial_syndrome_scoring && score_initial_syndrome(c, input, settings)) {
                queue_.finish(*work, i, retry_decoder_);
                continue;
            }
            work->jobs[i] = {input, slot_decoded_bits(c, n), &c.record->codewords.ldpc[c.slot]};
            in_lanes_.push_back({&work->jobs[i], work, i});
            return &work->jobs[i];
        }
    }

    void finished(const ldpc::CodewordJob& job) override {
        const auto taken =
            std::find_if(in_lanes_.begin(), in_lanes_.end(), [&](const Taken& t) { return t.job == &job; });
        const Taken t = *taken;
        in_lanes_.erase(taken);
        queue_.finish(*t.work, t.index, retry_decoder_);
    }

private:
    struct Taken {
        const ldpc::CodewordJob* job;
        BatchWork* work;
        std::size_t index;
    };

    CodewordQueue& queue_;
    RetryDecoder& retry_decoder_;
    std::vector<Taken> in_lanes_;
};

void CodewordQueue::finish(BatchWork& work, std::size_t i, RetryDecoder& retry_decoder) {
    finish_codeword(work.codewords[i], settings_, retry_decoder);
    std::lock_guard lock(mutex_);
    if (++work.finished == work.codewords.size()) batch_finished_.notify_all();
}

void CodewordQueue::push(BatchWork& work) {
    if (work.codewords.empty()) return;
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(&work);
    }
    work_arrived_.notify_all();
}

void CodewordQueue::wait(BatchWork& work) {
    std::unique_lock lock(mutex_);
    batch_finished_.wait(lock, [&] { return work.finished == work.codewords.size() || failure_; });
    if (work.finished != work.codewords.size()) std::rethrow_exception(failure_);
}

void CodewordQueue::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_arrived_.notify_all();
}

void CodewordQueue::serve(ldpc::LdpcKernel kernel) {
    try {
        const auto decoder = ldpc::make_codeword_decoder(*settings_.graph, kernel);
        RetryDecoder retry_decoder(*settings_.graph, kernel);
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                work_arrived_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
                if (stopping_) return;
            }
            WorkerShare share(*this, retry_decoder);
            decoder->decode(share, settings_.baseline, ldpc::Schedule::flooding);
        }
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stopping_ = true;
        }
        work_arrived_.notify_all();
        batch_finished_.notify_all();
    }
}

}  // namespace qarel::engine
