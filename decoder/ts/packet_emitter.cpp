#include "decoder/ts/packet_emitter.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "decoder/ts/ts_packet.hpp"

namespace qarel::ts {
namespace {

// Calls visit(packet) for every whole 188-byte packet of the span.
template <typename Bytes, typename Visit>
void for_each_packet(std::span<Bytes> bytes, Visit visit) {
    for (std::size_t offset = 0; offset + kPacketBytes <= bytes.size(); offset += kPacketBytes)
        visit(bytes.subspan(offset, kPacketBytes));
}

bool is_whole_packets(std::span<const std::uint8_t> bytes) {
    return !bytes.empty() && bytes.size() % kPacketBytes == 0;
}

// An adaptation-field-only packet with discontinuity_indicator set, carrying the PID and
// continuity counter of the packet that triggered it.
std::array<std::uint8_t, kPacketBytes> inserted_discontinuity_packet(std::uint16_t pid, std::uint8_t cc) {
    std::array<std::uint8_t, kPacketBytes> packet;
    packet.fill(0xff);
    packet[0] = kSyncByte;
    packet[1] = static_cast<std::uint8_t>((pid >> 8) & 0x1fu);
    packet[2] = static_cast<std::uint8_t>(pid & 0xffu);
    packet[3] = static_cast<std::uint8_t>(0x20u | cc);
    packet[4] = 0xb7;
    packet[5] = 0x80;
    return packet;
}

}  // namespace

void update_ts_continuity_context(std::span<const std::uint8_t> chunk, TsContinuityContext& context) {
    if (!is_whole_packets(chunk)) return;
    for_each_packet(chunk, [&](std::span<const std::uint8_t> p) {
        if (!is_well_formed(p) || !carries_payload(p) || packet_pid(p) == kNullPid) return;
        context.seen_pids.insert(packet_pid(p));
        context.last_continuity_counter[packet_pid(p)] = continuity_counter(p);
    });
}

PacketEmitter::PacketEmitter(std::FILE* output, std::FILE* provenance, DiscontinuitySwitches switches,
                             bool mark_transport_errors)
    : output_(output), provenance_(provenance), switches_(switches), mark_transport_errors_(mark_transport_errors) {
    last_continuity_counter_.fill(kNoCounter);
    expected_continuity_counter_.fill(kNoCounter);
}

SignallingResult PacketEmitter::emit_transport_chunk(std::span<std::uint8_t> chunk, PacketKind kind,
                                                     const ChunkOrigin& origin) {
    if (switches_.any()) guard_continuity(chunk);
    SignallingResult signalled;
    if (!pending_pids_.empty()) {
        signalled = apply_discontinuity_signalling(chunk, origin.frame_index, origin.codeword_slot);
        counters_.discontinuity_marked_packets += signalled.marked;
        counters_.discontinuity_inserted_packets += signalled.inserted;
    }

    const std::uint64_t per_codeword = origin.packets_per_codeword;
    std::uint64_t position = 0;
    for_each_packet(std::span<const std::uint8_t>(chunk), [&](std::span<const std::uint8_t> packet) {
        ProvenanceRow row{counters_.output_packets + position, kind, origin.frame_index, origin.codeword_slot,
                          origin.packet_in_codeword, per_codeword};
        if (!origin.codeword_slot) {  // a whole frame: codeword by codeword
            row.codeword_slot = position / per_codeword;
            row.packet_in_codeword = position % per_codeword;
        } else if (!origin.packet_in_codeword) {
            row.packet_in_codeword = position;
        }
        write_provenance_row(provenance_, row, packet);
        ++position;
    });
    counters_.output_packets += position;

    write_chunk(chunk, origin.trusted_blocks);
    counters_.output_bytes += chunk.size();
    record_emitted_packets(chunk);
    return signalled;
}

void PacketEmitter::guard_continuity(std::span<const std::uint8_t> chunk) {
    if (!switches_.any() || !is_whole_packets(chunk)) return;
    guard_touched_.clear();
    for_each_packet(chunk, [&](std::span<const std::uint8_t> p) {
        if (!is_well_formed(p) || !carries_payload(p) || packet_pid(p) == kNullPid ||
            is_pid_0x0015_signalling_packet(p))
            return;
        const std::uint16_t pid = packet_pid(p);
        const std::uint8_t cc = continuity_counter(p);
        const std::int8_t last = expected_continuity_counter_[pid];
        if (last != kNoCounter && !signals_discontinuity(p) && cc != ((last + 1) & 0x0f)) {
            if (pending_pids_.insert(pid)) ++counters_.continuity_guard_pending_pids;
        }
        expected_continuity_counter_[pid] = static_cast<std::int8_t>(cc);
        guard_touched_.push_back(pid);
    });
    for (const std::uint16_t pid : guard_touched_) expected_continuity_counter_[pid] = last_continuity_counter_[pid];
}

SignallingResult PacketEmitter::apply_discontinuity_signalling(std::span<std::uint8_t> chunk,
                                                               std::uint64_t frame_index,
                                                               std::optional<std::uint64_t> codeword_slot) {
    SignallingResult result;
    if (pending_pids_.empty()) return result;
    PidSet handled;
    const auto qualifies = [&](std::span<const std::uint8_t> p) {
        return is_tracked_payload_packet(p) && pending_pids_.count(packet_pid(p)) != 0;
    };

    if (switches_.insert_discontinuity_packets) {
        std::vector<std::array<std::uint8_t, kPacketBytes>> inserted;
        for_each_packet(std::span<const std::uint8_t>(chunk), [&](std::span<const std::uint8_t> p) {
            if (!qualifies(p) || !handled.insert(packet_pid(p))) return;
            inserted.push_back(inserted_discontinuity_packet(packet_pid(p), continuity_counter(p)));
        });
        for (const auto& packet : inserted) {
            const ProvenanceRow row{counters_.output_packets, PacketKind::inserted_discontinuity, frame_index,
                                    codeword_slot, std::nullopt, std::nullopt};
            write_provenance_row(provenance_, row, packet);
            write_output(packet);
            ++counters_.output_packets;
        }
        counters_.output_bytes += kPacketBytes * inserted.size();
        result.inserted = inserted.size();
    }
    if (switches_.mark_discontinuities) {
        for_each_packet(chunk, [&](std::span<std::uint8_t> p) {
            if (!qualifies(p) || handled.count(packet_pid(p)) != 0) return;
            if (!has_adaptation_field(p) || p[4] < 1 || p[4] > 183) return;
            p[5] |= 0x80u;
            handled.insert(packet_pid(p));
            ++result.marked;
        });
    }
    pending_pids_.erase_all(handled);
    return result;
}

void PacketEmitter::record_emitted_packets(std::span<const std::uint8_t> chunk) {
    for_each_packet(chunk, [&](std::span<const std::uint8_t> p) {
        if (is_tracked_payload_packet(p)) seen_pids_.insert(packet_pid(p));
    });
    for_each_packet(chunk, [&](std::span<const std::uint8_t> p) {
        if (is_well_formed(p) && carries_payload(p) && packet_pid(p) != kNullPid) {
            const auto cc = static_cast<std::int8_t>(continuity_counter(p));
            last_continuity_counter_[packet_pid(p)] = expected_continuity_counter_[packet_pid(p)] = cc;
        }
    });
}

void PacketEmitter::note_dropped_chunk(std::span<const std::uint8_t> chunk, bool trusted) {
    if (!switches_.any()) return;
    if (!trusted || !is_ts_valid(chunk)) {
        note_untraceable_loss();
        return;
    }
    for_each_packet(chunk, [&](std::span<const std::uint8_t> p) {
        if (is_tracked_payload_packet(p)) pending_pids_.insert(packet_pid(p));
    });
}

void PacketEmitter::note_untraceable_loss() {
    if (!switches_.any()) return;
    pending_pids_.insert_all(seen_pids_);
}

void PacketEmitter::write_chunk(std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> trusted_blocks) {
    const std::size_t packets = chunk.size() / kPacketBytes;
    const std::size_t blocks_per_packet = packets == 0 ? 0 : trusted_blocks.size() / packets;
    const auto packet_trusted = [&](std::size_t p) {
        const auto blocks = trusted_blocks.subspan(p * blocks_per_packet, blocks_per_packet);
        return std::all_of(blocks.begin(), blocks.end(), [](std::uint8_t trusted) { return trusted != 0; });
    };
    std::uint64_t untrusted = 0;
    for (std::size_t p = 0; p < packets; ++p) {
        if (!packet_trusted(p)) {
            ++untrusted;
            continue;
        }
        ++counters_.trusted_packets;
        if (chunk[p * kPacketBytes] != kSyncByte) ++counters_.trusted_packets_without_sync;
    }
    counters_.untrusted_packets += untrusted;
    if (!mark_transport_errors_ || untrusted == 0) {
        write_output(chunk);
        return;
    }
    // A marked packet also gets its sync byte back, so that parsers keep their lock on the
    // stream and reach the flag instead of losing sync on a garbled first byte.
    marked_chunk_.assign(chunk.begin(), chunk.end());
    for (std::size_t p = 0; p < packets; ++p) {
        if (packet_trusted(p)) continue;
        marked_chunk_[p * kPacketBytes] = kSyncByte;
        marked_chunk_[p * kPacketBytes + 1] |= kTransportErrorBit;
    }
    write_output(marked_chunk_);
}

void PacketEmitter::write_output(std::span<const std::uint8_t> bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), output_) != bytes.size() || std::ferror(output_))
        throw std::runtime_error("failed to write decoded transport-byte stream");
}

}  // namespace qarel::ts
