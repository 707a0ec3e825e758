#include "decoder/engine/batch_engine.hpp"

#include <algorithm>
#include <chrono>
#include <exception>

#include "decoder/engine/codeword_decode.hpp"
#include "decoder/engine/llr_scaling.hpp"

namespace qarel::engine {
namespace {

using Clock = BatchEngine::Clock;

// Sets up a record for the frame, in the storage of one from an earlier batch where there is
// one: the LLRs are expanded here, the workers write every bit and byte array whole before
// finalize reads it, and finalize sets the frame's BCH result and verdict, so none needs
// clearing.
void prepare_record(FrameDecodeRecord& record, const FrameSelectionRecord& frame, const ldpc::FecProfile& profile,
                    std::uint64_t slots) {
    const std::uint64_t n = profile.variable_count();
    record.llrs.resize(slots * n);
    record.baseline_bits.resize(slots * n);
    record.decoded_bits.resize(slots * n);
    record.message_bits.resize(slots * profile.message_bits);
    record.transport_bytes.resize(slots * profile.bytes_per_codeword());
    record.codewords = CodewordResults(slots);
    record.slot_bch.resize(slots);
    const auto transmitted = std::span<const float>(frame.llrs);
    for (std::uint64_t slot = 0; slot < slots; ++slot)
        ldpc::expand_transmitted_codeword(profile,
                                          transmitted.subspan(slot * profile.transmitted_bits, profile.transmitted_bits),
                                          std::span(record.llrs).subspan(slot * n, n));
}

// Workers for batches of this many codewords: each gets at least two groups of lanes to fill,
// so that its decoder runs full while lanes are refilled.
std::uint64_t workers_for(std::uint64_t codewords, std::uint64_t lanes, std::uint64_t worker_count) {
    constexpr std::uint64_t kLaneGroupsPerWorker = 2;
    const std::uint64_t share = kLaneGroupsPerWorker * lanes;
    return std::max<std::uint64_t>(1, std::min<std::uint64_t>(worker_count, (codewords + share - 1) / share));
}

// Batches kept in flight after one is submitted: while the oldest of them is awaited, the
// others queue enough codewords to keep every lane of every worker busy until the oldest's
// slowest codeword finishes, so that lanes are not left idle at the end of each batch.
std::uint64_t batches_in_flight(std::uint64_t codewords_per_batch, std::uint64_t lanes, std::uint64_t workers) {
    constexpr std::uint64_t kQueuedLaneGroups = 4;
    const std::uint64_t queued = kQueuedLaneGroups * lanes * workers;
    return (queued + codewords_per_batch - 1) / codewords_per_batch;
}

// The last item of a pool, or an empty one when the pool is empty.
template <typename T>
T take_last(std::vector<T>& pool) {
    if (pool.empty()) return T{};
    T item = std::move(pool.back());
    pool.pop_back();
    return item;
}

double milliseconds(Clock::time_point from, Clock::time_point to) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) / 1e6;
}

}  // namespace

BatchEngine::BatchEngine(const EngineConfig& config, ts::PacketEmitter& emitter, FrameDiagnosticsSink* diagnostics)
    : config_(config),
      settings_{config.profile,
                config.graph,
                {config.options->max_iterations, config.options->attenuation},
                config.options->llr_clip,
                config.options->initial_syndrome_scoring,
                config.options->early_syndrome_reject_ratio,
                config.retry_plan,
                config.scrambler_reset_bits},
      finalizer_(config, emitter, counters_, diagnostics),
      queue_(settings_) {}

BatchEngine::~BatchEngine() { queue_.stop(); }

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

// A frame to decode gets its record as it arrives, while its LLRs, just read, are still in
// the cache.
void BatchEngine::add_frame(FrameSelectionRecord&& frame) {
    const auto t0 = Clock::now();
    std::unique_ptr<FrameDecodeRecord> record;
    if (frame.hard_h_selected) {
        record = take_last(spare_records_);
        if (!record) record = std::make_unique<FrameDecodeRecord>();
        const std::uint64_t slots = config_.codewords_per_frame;
        prepare_record(*record, frame, *config_.profile, slots);
        for (std::uint64_t slot = 0; slot < slots; ++slot)
            pending_.codewords.push_back({record.get(), slot, frame.frame_index});
    }
    pending_.frames.push_back(std::move(frame));
    pending_.records.push_back(std::move(record));
    counters_.batch_prepare_ms += milliseconds(t0, Clock::now());
    if (pending_.frames.size() >= config_.options->decode_batch_frames) submit_batch();
}

// The batch joins the workers' queue; the workers are started with the first one, as many
// as a full batch keeps busy.
void BatchEngine::start_decoding(Batch&& batch) {
    if (!workers_started_) {
        const std::uint64_t capacity = config_.options->decode_batch_frames * config_.codewords_per_frame;
        const std::uint64_t lanes = ldpc::ldpc_kernel_lanes(config_.kernel);
        const std::uint64_t workers = workers_for(capacity, lanes, config_.worker_count);
        batches_in_flight_ = batches_in_flight(capacity, lanes, workers);
        pool_.start(workers, [this](std::size_t) { queue_.serve(config_.kernel); });
        workers_started_ = true;
    }
    Batch& queued = in_flight_.emplace_back(std::move(batch));
    queued.started = Clock::now();
    queued.work = std::make_unique<BatchWork>(queued.codewords, settings_.llr_clip.has_value());
    queue_.push(*queued.work);
}

// Waits for the oldest batch in flight and finalizes it. A worker's exception ends the run
// before a batch it left unfinished is finalized. The batch leaves the queue first, so a stop
// in the middle of finalize leaves nothing behind that a later call could finalize again.
void BatchEngine::finalize_oldest() {
    queue_.wait(*in_flight_.front().work);
    Batch batch = std::move(in_flight_.front());
    in_flight_.pop_front();
    counters_.batch_worker_ms += milliseconds(batch.started, Clock::now());
    finalize(batch);
    // At most a batch's worth is kept, so memory stays bounded by the batches in flight.
    const std::uint64_t frame_llrs = config_.profile->transmitted_bits * config_.codewords_per_frame;
    for (std::size_t f = 0; f < batch.frames.size(); ++f) {
        if (batch.records[f] && spare_records_.size() < config_.options->decode_batch_frames)
            spare_records_.push_back(std::move(batch.records[f]));
        if (batch.frames[f].llrs.size() == frame_llrs && spare_llrs_.size() < config_.options->decode_batch_frames)
            spare_llrs_.push_back(std::move(batch.frames[f].llrs));
    }
}

std::vector<float> BatchEngine::take_spare_llrs() { return take_last(spare_llrs_); }

void BatchEngine::finalize(Batch& batch) {
    const auto t0 = Clock::now();
    for (std::size_t f = 0; f < batch.frames.size(); ++f) {
        if (batch.records[f]) finalizer_.finalize_decoded(batch.frames[f], *batch.records[f]);
        else finalizer_.finalize_skipped(batch.frames[f]);
    }
    counters_.batch_finalize_ms += milliseconds(t0, Clock::now());
}

// The pending frames go to the workers, and the oldest batches beyond those kept in flight
// are finalized while they decode, so reading, preparing and finalizing overlap the decoding.
void BatchEngine::submit_batch() {
    const auto t0 = Clock::now();
    // The pending batch is emptied first, so a stop in the middle of it leaves nothing behind
    // that a later call could finalize a second time.
    Batch batch = std::move(pending_);
    pending_ = Batch{};
    start_decoding(std::move(batch));
    while (in_flight_.size() > batches_in_flight_) finalize_oldest();
    counters_.batch_total_ms += milliseconds(t0, Clock::now());
}

void BatchEngine::decode_batch() {
    if (!pending_.frames.empty()) submit_batch();
    if (in_flight_.empty()) return;
    const auto t0 = Clock::now();
    while (!in_flight_.empty()) finalize_oldest();
    counters_.batch_total_ms += milliseconds(t0, Clock::now());
}

}  // namespace qarel::engine
