#include "decoder/engine/finalize.hpp"

#include <algorithm>
#include <ostream>
#include <stdexcept>

#include "decoder/bch/bch.hpp"
#include "decoder/engine/retry_fields.hpp"
#include "decoder/retry/ts_acceptance.hpp"
#include "decoder/retry/ts_context_retry.hpp"
#include "decoder/ts/ts_packet.hpp"

namespace qarel::engine {
namespace {

constexpr std::uint64_t kBlocksPerPacket = ts::kPacketBytes / bch::kBlockBytes;

// Puts a slot's new BCH result in the frame's, keeping the frame's totals.
void replace_slot_bch(bch::BchDecodeResult& frame, std::uint64_t slot, const bch::BchDecodeResult& codeword) {
    const std::uint64_t first = slot * codeword.block_count;
    for (std::uint64_t b = 0; b < codeword.block_count; ++b) {
        frame.corrected_errors += codeword.block_corrected_errors[b];
        frame.corrected_errors -= frame.block_corrected_errors[first + b];
        frame.unclean_blocks += codeword.block_clean[b] ? 0 : 1;
        frame.unclean_blocks -= frame.block_clean[first + b] ? 0 : 1;
        frame.block_corrected_errors[first + b] = codeword.block_corrected_errors[b];
        frame.block_clean[first + b] = codeword.block_clean[b];
    }
}

}  // namespace

void FrameFinalizer::finalize_skipped(const FrameSelectionRecord& frame) {
    if (diagnostics_ != nullptr) diagnostics_->write_frame(frame, nullptr, {});
    counters_.omitted_codewords += config_.codewords_per_frame;
    counters_.omitted_packets += config_.codewords_per_frame * config_.profile->packets_per_codeword();
    counters_.omitted_frames += 1;
    emitter_.note_untraceable_loss();
}

void FrameFinalizer::finalize_decoded(const FrameSelectionRecord& frame, FrameDecodeRecord& record) {
    join_slot_bch(record);
    judge_codewords(record);
    if (config_.retry_plan != nullptr && config_.retry_plan->require_ts_packet_continuity)
        check_continuity_of_retries(frame, record);
    const std::uint64_t slots = config_.codewords_per_frame;
    std::uint64_t clean_slots = 0;
    bool all_converged = true;
    for (std::uint64_t slot = 0; slot < slots; ++slot) {
        record.codewords.clean[slot] = record.codewords.ldpc[slot].converged && record.codewords.bch_clean[slot];
        clean_slots += record.codewords.clean[slot];
        all_converged = all_converged && record.codewords.ldpc[slot].converged;
    }
    record.frame_clean = all_converged && record.frame_bch.unclean_blocks == 0;
    judge_block_trust(record);
    counters_.clean_frames += record.frame_clean ? 1 : 0;
    counters_.clean_codewords += clean_slots;

    const FrameEmission emission =
        config_.options->emit_clean_codewords ? emit_codewords(frame, record) : emit_whole_frame(frame, record);
    counters_.omitted_packets += emission.omitted_packets;
    if (diagnostics_ != nullptr) diagnostics_->write_frame(frame, &record, emission);
    stop_if_strict(frame, record);
    add_decode_counters(record);
}

// The workers decoded each slot's BCH blocks into its transport bytes; the frame's result
// joins theirs, slot after slot.
void FrameFinalizer::join_slot_bch(FrameDecodeRecord& record) const {
    bch::BchDecodeResult& frame = record.frame_bch;
    frame = {};
    for (const bch::BchDecodeResult& slot : record.slot_bch) {
        frame.block_count += slot.block_count;
        frame.corrected_errors += slot.corrected_errors;
        frame.unclean_blocks += slot.unclean_blocks;
        frame.block_clean.insert(frame.block_clean.end(), slot.block_clean.begin(), slot.block_clean.end());
        frame.block_corrected_errors.insert(frame.block_corrected_errors.end(), slot.block_corrected_errors.begin(),
                                            slot.block_corrected_errors.end());
    }
    const std::uint64_t blocks = record.frame_bch.block_count;
    const std::uint64_t slots = config_.codewords_per_frame;
    if (blocks % slots != 0) throw std::runtime_error("BCH block count does not align to FEC codewords");
    const std::uint64_t blocks_per_codeword = blocks / slots;
    const std::uint64_t bytes_per_codeword = config_.profile->bytes_per_codeword();
    if (bytes_per_codeword == 0 || bytes_per_codeword % blocks_per_codeword != 0 ||
        ts::kPacketBytes % (bytes_per_codeword / blocks_per_codeword) != 0)
        throw std::runtime_error("BCH payload blocks do not align to MPEG-TS packets");
}

bool FrameFinalizer::slot_blocks_clean(const FrameDecodeRecord& record, std::uint64_t slot) const {
    const std::uint64_t per_slot = config_.profile->bch_blocks_per_codeword();
    const auto& clean = record.frame_bch.block_clean;
    return std::all_of(clean.begin() + slot * per_slot, clean.begin() + (slot + 1) * per_slot,
                       [](std::uint8_t c) { return c != 0; });
}

bool FrameFinalizer::packet_blocks_clean(const FrameDecodeRecord& record, std::uint64_t slot,
                                         std::uint64_t packet) const {
    const std::uint64_t first = slot * config_.profile->bch_blocks_per_codeword() + packet * kBlocksPerPacket;
    const auto& clean = record.frame_bch.block_clean;
    return std::all_of(clean.begin() + first, clean.begin() + first + kBlocksPerPacket,
                       [](std::uint8_t c) { return c != 0; });
}

// A block that passes BCH in a codeword whose LDPC decoding failed is no evidence of good
// bytes: three in four random blocks look correctable to a single-error BCH code.
void FrameFinalizer::judge_block_trust(const FrameDecodeRecord& record) {
    const std::uint64_t per_slot = config_.profile->bch_blocks_per_codeword();
    trusted_blocks_.resize(record.frame_bch.block_clean.size());
    for (std::uint64_t b = 0; b < trusted_blocks_.size(); ++b)
        trusted_blocks_[b] = record.frame_bch.block_clean[b] && record.codewords.ldpc[b / per_slot].converged ? 1 : 0;
}

std::span<const std::uint8_t> FrameFinalizer::slot_trusted_blocks(std::uint64_t slot) const {
    const std::uint64_t per_slot = config_.profile->bch_blocks_per_codeword();
    return std::span<const std::uint8_t>(trusted_blocks_).subspan(slot * per_slot, per_slot);
}

std::span<std::uint8_t> FrameFinalizer::codeword_bytes(FrameDecodeRecord& record, std::uint64_t slot) const {
    const std::uint64_t size = config_.profile->bytes_per_codeword();
    return std::span(record.transport_bytes).subspan(slot * size, size);
}

void FrameFinalizer::judge_codewords(FrameDecodeRecord& record) {
    const std::uint64_t packets = config_.profile->packets_per_codeword();
    for (std::uint64_t slot = 0; slot < config_.codewords_per_frame; ++slot) {
        const bool bch_clean = slot_blocks_clean(record, slot);
        record.codewords.bch_clean[slot] = bch_clean ? 1 : 0;
        counters_.bch_clean_payload_codewords += bch_clean ? 1 : 0;
        const auto bytes = codeword_bytes(record, slot);
        for (std::uint64_t q = 0; q < packets; ++q) {
            if (packet_blocks_clean(record, slot, q) && ts::is_well_formed(bytes.subspan(q * ts::kPacketBytes, ts::kPacketBytes)))
                ++counters_.bch_clean_payload_packets;
        }
    }
}

// Codewords recovered by a retry must continue the stream accepted before them: those that
// do not are repaired under the stream's context or rejected. Every codeword accepted here,
// recovered or not, extends the context.
void FrameFinalizer::check_continuity_of_retries(const FrameSelectionRecord& frame, FrameDecodeRecord& record) {
    auto& r = record.codewords;
    for (std::uint64_t slot = 0; slot < config_.codewords_per_frame; ++slot) {
        if (!r.ldpc[slot].converged || !r.bch_clean[slot]) continue;
        if (!retry::ts_packets_well_formed(codeword_bytes(record, slot))) continue;
        if (r.retry_selected[slot] && !retry::ts_packets_continuous(codeword_bytes(record, slot), continuity_context_)) {
            if (!repair_under_context(frame, record, slot)) {
                r.ldpc[slot].converged = false;
                r.clean[slot] = 0;
                r.retry_selected[slot] = 0;
                r.retry_ts_continuity_rejected[slot] = 1;
                counters_.retry_ts_continuity_rejected_codewords += 1;
                continue;
            }
            counters_.retry_ts_continuity_context_recovered_codewords += 1;
        }
        ts::update_ts_continuity_context(codeword_bytes(record, slot), continuity_context_);
    }
}

// Repeats the codeword's winning attempt under the context and, when that repairs it, puts the
// repaired bits, bytes and results in place of the rejected ones.
bool FrameFinalizer::repair_under_context(const FrameSelectionRecord& frame, FrameDecodeRecord& record,
                                          std::uint64_t slot) {
    auto& r = record.codewords;
    if (!r.retry_branch_window_group[slot].empty()) return false;
    const ldpc::FecProfile& profile = *config_.profile;
    const std::uint64_t n = profile.variable_count();
    retry::BranchWindowSet windows;
    const retry::ContextRetryCodeword codeword{std::span<const float>(record.llrs).subspan(slot * n, n),
                                               std::span<const std::uint8_t>(record.baseline_bits).subspan(slot * n, n),
                                               slot, frame.frame_index, recorded_retry_attempt(r, slot, windows)};
    const retry::RetryContext context{&profile, config_.graph, config_.retry_plan, config_.scrambler_reset_bits,
                                      nullptr};
    const auto repair = retry::retry_with_ts_context(codeword, continuity_context_, context);
    if (!repair) return false;

    std::copy(repair->hard_bits.begin(), repair->hard_bits.end(), record.decoded_bits.begin() + slot * n);
    const auto message = std::span<const std::uint8_t>(repair->hard_bits).subspan(profile.parity_bits());
    std::copy(message.begin(), message.end(), record.message_bits.begin() + slot * profile.message_bits);
    std::copy(repair->transport_bytes.begin(), repair->transport_bytes.end(), codeword_bytes(record, slot).begin());
    replace_slot_bch(record.frame_bch, slot, repair->bch);
    r.ldpc[slot] = repair->ldpc;
    r.bch_clean[slot] = 1;
    r.clean[slot] = 1;
    r.retry_bch_corrected_errors[slot] = repair->bch.corrected_errors;
    r.retry_ts_continuity_rejected[slot] = 0;
    return true;
}

FrameEmission FrameFinalizer::emit_whole_frame(const FrameSelectionRecord& frame, FrameDecodeRecord& record) {
    const std::uint64_t slots = config_.codewords_per_frame;
    const std::uint64_t packets = slots * config_.profile->packets_per_codeword();
    FrameEmission emission;
    if (!config_.options->clean_frames_only || record.frame_clean) {
        const auto signalled = emitter_.emit_transport_chunk(
            record.transport_bytes, ts::PacketKind::emitted,
            {frame.frame_index, std::nullopt, std::nullopt, config_.profile->packets_per_codeword(),
             trusted_blocks_});
        emission = {true, signalled.marked, signalled.inserted, packets, 0, 0};
        counters_.emitted_frames += 1;
        counters_.emitted_codewords += slots;
        return emission;
    }
    counters_.omitted_codewords += slots;
    counters_.omitted_frames += 1;
    emission.omitted_packets = packets;
    const bool trusted = ts::is_ts_valid(record.transport_bytes) && record.frame_bch.unclean_blocks == 0;
    emitter_.note_dropped_chunk(record.transport_bytes, trusted);
    return emission;
}

FrameEmission FrameFinalizer::emit_codewords(const FrameSelectionRecord& frame, FrameDecodeRecord& record) {
    const options::RunOptions& o = *config_.options;
    const std::uint64_t packets = config_.profile->packets_per_codeword();
    FrameEmission emission;
    for (std::uint64_t slot = 0; slot < config_.codewords_per_frame; ++slot) {
        const auto bytes = codeword_bytes(record, slot);
        const bool bch_clean = record.codewords.bch_clean[slot] != 0;
        const bool emit = record.codewords.clean[slot] ||
                          (o.emit_bch_clean_codewords && bch_clean && ts::is_ts_valid(bytes)) ||
                          (o.emit_forced_codewords && frame.forced);
        if (emit) {
            const auto signalled = emitter_.emit_transport_chunk(
                bytes, ts::PacketKind::emitted,
                {frame.frame_index, slot, std::nullopt, packets, slot_trusted_blocks(slot)});
            emission.emitted = true;
            emission.marked_packets += signalled.marked;
            emission.inserted_packets += signalled.inserted;
            emission.emitted_packets += packets;
            counters_.emitted_codewords += 1;
            continue;
        }
        counters_.omitted_codewords += 1;
        if (o.emit_bch_clean_packets) {
            salvage_packets(frame, record, slot, emission);
        } else {
            emission.omitted_packets += packets;
            emitter_.note_dropped_chunk(bytes, bch_clean && ts::is_ts_valid(bytes));
        }
    }
    if (!emission.emitted) {
        counters_.omitted_frames += 1;
    } else {
        counters_.emitted_frames += 1;
        counters_.partial_emitted_frames += record.frame_clean ? 0 : 1;
    }
    return emission;
}

void FrameFinalizer::salvage_packets(const FrameSelectionRecord& frame, FrameDecodeRecord& record, std::uint64_t slot,
                                     FrameEmission& emission) {
    const std::uint64_t packets = config_.profile->packets_per_codeword();
    const auto bytes = codeword_bytes(record, slot);
    for (std::uint64_t q = 0; q < packets; ++q) {
        const auto packet = bytes.subspan(q * ts::kPacketBytes, ts::kPacketBytes);
        if (!packet_blocks_clean(record, slot, q) || !ts::is_well_formed(packet)) {
            emission.omitted_packets += 1;
            emitter_.note_untraceable_loss();
            continue;
        }
        const auto signalled =
            emitter_.emit_transport_chunk(packet, ts::PacketKind::emitted_bch_clean_packet,
                                          {frame.frame_index, slot, q, packets,
                                           slot_trusted_blocks(slot).subspan(q * kBlocksPerPacket, kBlocksPerPacket)});
        emission.emitted = true;
        emission.marked_packets += signalled.marked;
        emission.inserted_packets += signalled.inserted;
        emission.emitted_packets += 1;
        emission.salvaged_packets += 1;
        counters_.bch_clean_packet_salvage_emitted_packets += 1;
    }
}

void FrameFinalizer::stop_if_strict(const FrameSelectionRecord& frame, const FrameDecodeRecord& record) const {
    if (!config_.options->fail_on_unclean_frame || record.frame_clean) return;
    *config_.err << "strict_failed_frame=" << frame.frame_index << '\n' << std::flush;
    throw std::runtime_error("strict decode stopped at the first unclean FEC frame");
}

void FrameFinalizer::add_retry_counters(const FrameDecodeRecord& record, std::uint64_t slot) {
    const auto& r = record.codewords;
    counters_.retry_attempts += r.retry_attempts[slot];
    if (!r.retry_selected[slot]) return;
    const bool window = r.retry_branch_window_first[slot] != kNoBranchWindow;
    const bool group = !r.retry_branch_window_group[slot].empty();
    counters_.retry_recovered_codewords += 1;
    counters_.layered_retry_recovered_codewords += r.retry_layered[slot];
    counters_.qam_plane_retry_recovered_codewords += r.retry_qam_plane[slot] != kNoQamPlane ? 1 : 0;
    counters_.final_failed_flip_retry_recovered_codewords += r.retry_final_failed_flip_count[slot] != 0 ? 1 : 0;
    counters_.final_failed_greedy_flip_retry_recovered_codewords +=
        r.retry_final_failed_greedy_flip_count[slot] != 0 ? 1 : 0;
    counters_.final_failed_syndrome_solve_retry_recovered_codewords +=
        r.retry_final_failed_syndrome_solve_count[slot] != 0 ? 1 : 0;
    counters_.branch_window_retry_recovered_codewords += window || group ? 1 : 0;
    counters_.branch_window_group_retry_recovered_codewords += group ? 1 : 0;
}

void FrameFinalizer::add_decode_counters(const FrameDecodeRecord& record) {
    const auto& r = record.codewords;
    counters_.bch_corrected_errors += record.frame_bch.corrected_errors;
    counters_.bch_unclean_blocks += record.frame_bch.unclean_blocks;
    counters_.bch_blocks += record.frame_bch.block_count;
    for (std::uint64_t slot = 0; slot < config_.codewords_per_frame; ++slot) {
        counters_.initial_syndrome_weight += r.initial_syndrome_weight[slot];
        counters_.early_rejected_codewords += r.early_rejected[slot];
        counters_.converged_codewords += r.ldpc[slot].converged ? 1 : 0;
        counters_.ldpc_iterations += r.ldpc[slot].iterations;
        counters_.final_syndrome_weight += r.ldpc[slot].final_syndrome_weight;
        counters_.largest_ldpc_iterations = std::max(counters_.largest_ldpc_iterations, r.ldpc[slot].iterations);
        counters_.recent_largest_ldpc_iterations =
            std::max(counters_.recent_largest_ldpc_iterations, r.ldpc[slot].iterations);
        add_packet_counters(slot);
        if (config_.options->status_enabled() && r.ldpc[slot].converged) add_channel_errors(record, slot);
        add_retry_counters(record, slot);
    }
    counters_.soft_decoded_frames += 1;
}

void FrameFinalizer::add_packet_counters(std::uint64_t slot) {
    const std::uint64_t packets = config_.profile->packets_per_codeword();
    const auto trusted = slot_trusted_blocks(slot);
    counters_.decoded_packets += packets;
    for (std::uint64_t q = 0; q < packets; ++q)
        counters_.untrusted_packets += trusted[q * kBlocksPerPacket] && trusted[q * kBlocksPerPacket + 1] ? 0 : 1;
}

void FrameFinalizer::add_channel_errors(const FrameDecodeRecord& record, std::uint64_t slot) {
    const std::uint64_t n = config_.profile->variable_count();
    const float* llrs = record.llrs.data() + slot * n;
    const std::uint8_t* bits = record.decoded_bits.data() + slot * n;
    std::uint64_t errors = 0;
    std::uint64_t decided = 0;
    for (std::uint64_t v = 0; v < n; ++v) {
        decided += llrs[v] != 0.0f ? 1 : 0;
        errors += (llrs[v] < 0.0f) != (bits[v] != 0) && llrs[v] != 0.0f ? 1 : 0;
    }
    counters_.channel_bit_errors += errors;
    counters_.channel_bits += decided;
}

}  // namespace qarel::engine
