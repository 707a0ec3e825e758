#include "decoder/engine/batch_engine.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "decoder/engine/codeword_decode.hpp"
#include "decoder/engine/llr_scaling.hpp"

namespace qarel::engine {
namespace {

FrameDecodeRecord prepare_record(const FrameSelectionRecord& frame, const ldpc::FecProfile& profile,
                                 std::uint64_t slots) {
    const std::uint64_t n = profile.variable_count();
    FrameDecodeRecord record;
    record.llrs.resize(slots * n);
    record.baseline_bits.assign(slots * n, 0);
    record.decoded_bits.assign(slots * n, 0);
    record.message_bits.assign(slots * profile.message_bits, 0);
    record.transport_bytes.assign(slots * profile.bytes_per_codeword(), 0);
    record.codewords = CodewordResults(slots);
    const auto transmitted = std::span<const float>(frame.llrs);
    for (std::uint64_t slot = 0; slot < slots; ++slot)
        ldpc::expand_transmitted_codeword(profile,
                                          transmitted.subspan(slot * profile.transmitted_bits, profile.transmitted_bits),
                                          std::span(record.llrs).subspan(slot * n, n));
    return record;
}

// Worker k decodes codewords k, k + T, k + 2T, ...; no work is shared at run time, so the
// join is the only synchronisation. A worker's exception ends the run after every worker has
// stopped, so finalize never sees a partly decoded batch.
void run_workers(const std::vector<BatchCodeword>& codewords, std::uint64_t worker_count,
                 const CodewordDecodeSettings& settings) {
    const std::uint64_t threads_wanted = std::min<std::uint64_t>(codewords.size(), worker_count);
    std::vector<std::exception_ptr> failures(threads_wanted);
    std::vector<std::thread> threads;
    threads.reserve(threads_wanted);
    const auto work = [&](std::uint64_t k) {
        try {
            std::vector<BatchCodeword> share;
            for (std::uint64_t i = k; i < codewords.size(); i += threads_wanted) share.push_back(codewords[i]);
            decode_codewords(share, settings);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    };
    try {
        for (std::uint64_t k = 0; k < threads_wanted; ++k) threads.emplace_back(work, k);
    } catch (...) {
        for (auto& thread : threads) thread.join();
        throw;
    }
    for (auto& thread : threads) thread.join();
    for (const auto& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

double milliseconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) / 1e6;
}

}  // namespace

BatchEngine::BatchEngine(const EngineConfig& config, ts::PacketEmitter& emitter, FrameDiagnosticsSink* diagnostics)
    : config_(config), finalizer_(config, emitter, counters_, diagnostics) {}

void BatchEngine::add_decode_frame(FrameSelectionRecord&& frame) {
    frame.hard_h_selected = true;
    apply_llr_scale_rules(frame.llrs, frame.frame_index, config_.profile->transmitted_bits, *config_.options);
    add_frame(std::move(frame));
}

void BatchEngine::add_skipped_frame(FrameSelectionRecord&& frame, bool keep_llrs) {
    frame.hard_h_selected = false;
    frame.forced = false;
    if (!keep_llrs) frame.llrs = {};
    add_frame(std::move(frame));
}

void BatchEngine::add_frame(FrameSelectionRecord&& frame) {
    pending_.push_back(std::move(frame));
    if (pending_.size() >= config_.options->decode_batch_frames) decode_batch();
}

void BatchEngine::decode_batch() {
    if (pending_.empty()) return;
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();

    const std::uint64_t slots = config_.codewords_per_frame;
    std::vector<std::unique_ptr<FrameDecodeRecord>> records(pending_.size());
    std::vector<BatchCodeword> codewords;
    for (std::size_t f = 0; f < pending_.size(); ++f) {
        if (!pending_[f].hard_h_selected) continue;
        records[f] = std::make_unique<FrameDecodeRecord>(prepare_record(pending_[f], *config_.profile, slots));
        for (std::uint64_t slot = 0; slot < slots; ++slot) codewords.push_back({records[f].get(), slot, pending_[f].frame_index});
    }
    const auto t1 = Clock::now();
    // The accelerator's baseline, snapshot and retry stages have nothing to do in a build
    // without an accelerator; their timings stay near zero.
    const auto t2 = Clock::now();
    const auto t3 = Clock::now();
    const auto t4 = Clock::now();

    const options::RunOptions& o = *config_.options;
    const CodewordDecodeSettings settings{config_.profile,
                                          config_.graph,
                                          {o.max_iterations, o.attenuation},
                                          o.llr_clip,
                                          o.initial_syndrome_scoring,
                                          o.early_syndrome_reject_ratio,
                                          config_.many_codeword_kernel,
                                          config_.retry_plan,
                                          config_.scrambler_reset_bits};
    run_workers(codewords, config_.worker_count, settings);
    const auto t5 = Clock::now();

    // The batch is emptied before finalizing, so a stop in the middle of it leaves nothing
    // behind that a later call could finalize a second time.
    std::vector<FrameSelectionRecord> frames = std::move(pending_);
    pending_.clear();
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (records[f]) finalizer_.finalize_decoded(frames[f], *records[f]);
        else finalizer_.finalize_skipped(frames[f]);
    }
    const auto t6 = Clock::now();

    counters_.batch_prepare_ms += milliseconds(t0, t1);
    counters_.batch_baseline_ms += milliseconds(t1, t2);
    counters_.batch_snapshot_ms += milliseconds(t2, t3);
    counters_.batch_retry_ms += milliseconds(t3, t4);
    counters_.batch_worker_ms += milliseconds(t4, t5);
    counters_.batch_finalize_ms += milliseconds(t5, t6);
    counters_.batch_total_ms += milliseconds(t0, t6);
}

}  // namespace qarel::engine
