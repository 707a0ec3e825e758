#include "decoder/retry/ts_acceptance.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "decoder/ts/ts_packet.hpp"

namespace qarel::retry {
namespace {

using ts::kPacketBytes;

bool whole_packets(std::span<const std::uint8_t> bytes) { return !bytes.empty() && bytes.size() % kPacketBytes == 0; }

std::span<const std::uint8_t> packet_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return bytes.subspan(offset, kPacketBytes);
}

std::array<std::uint8_t, 4> header_of(std::span<const std::uint8_t> packet) {
    return {packet[0], packet[1], packet[2], packet[3]};
}

std::uint8_t next_counter(std::uint8_t counter) { return static_cast<std::uint8_t>((counter + 1) & 0x0fu); }

std::uint8_t with_counter(std::uint8_t byte3, std::uint8_t counter) {
    return static_cast<std::uint8_t>((byte3 & 0xf0u) | (counter & 0x0fu));
}

}  // namespace

bool ts_packets_well_formed(std::span<const std::uint8_t> bytes) { return ts::is_ts_valid(bytes); }

bool ts_packets_continuous(std::span<const std::uint8_t> bytes, const ts::TsContinuityContext& context) {
    if (!whole_packets(bytes)) return false;
    ts::TsContinuityContext copy = context;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPacketBytes) {
        const auto p = packet_at(bytes, offset);
        if (!ts::is_well_formed(p)) return false;
        if (!ts::carries_payload(p) || ts::packet_pid(p) == ts::kNullPid) continue;
        const std::uint16_t pid = ts::packet_pid(p);
        if (!context.seen_pids.empty() && copy.seen_pids.count(pid) == 0) return false;
        const auto last = copy.last_continuity_counter.find(pid);
        if (last != copy.last_continuity_counter.end() && !ts::signals_discontinuity(p) &&
            ts::continuity_counter(p) != next_counter(last->second))
            return false;
        copy.seen_pids.insert(pid);
        copy.last_continuity_counter[pid] = ts::continuity_counter(p);
    }
    return true;
}

void append_header_constraints(std::vector<SolveConstraint>& constraints, std::uint64_t slot,
                               std::uint64_t byte_offset, const std::array<std::uint8_t, 4>& header,
                               const ldpc::FecProfile& profile) {
    const std::uint64_t first_bit = 8 * byte_offset;
    // Header constraints are refused with 32QAM, so the sequence never restarts in a codeword.
    bch::EnergyDispersal scrambler(slot * profile.bytes_per_codeword() * 8 + first_bit, 0);
    for (std::uint64_t i = 0; i < 32; ++i) {
        const std::uint64_t p = first_bit + i;
        const std::uint8_t transport_bit = (header[i / 8] >> (7 - i % 8)) & 1u;
        const std::uint64_t variable =
            profile.parity_bits() + (p / bch::kPayloadBits) * bch::kBlockBits + p % bch::kPayloadBits;
        constraints.push_back({variable, static_cast<std::uint8_t>(transport_bit ^ scrambler.next_bit())});
    }
}

std::vector<SolveConstraint> template_rule_constraints(std::uint64_t frame_index, std::uint64_t slot,
                                                       std::span<const options::TsHeaderTemplate> rules,
                                                       const ldpc::FecProfile& profile) {
    std::vector<SolveConstraint> constraints;
    for (const auto& rule : rules) {
        if (rule.fec_frame != frame_index || rule.codeword_slot != slot) continue;
        // (The first test keeps the offset from wrapping for any packet index.)
        if (rule.packet_index > profile.bytes_per_codeword() / kPacketBytes) return {};
        const std::uint64_t offset = kPacketBytes * rule.packet_index;
        if (offset + 4 > profile.bytes_per_codeword()) return {};
        const std::array<std::uint8_t, 4> header{
            ts::kSyncByte, static_cast<std::uint8_t>(((rule.pid >> 8) & 0x1fu) | (rule.pusi << 6)),
            static_cast<std::uint8_t>(rule.pid & 0xffu),
            static_cast<std::uint8_t>((rule.adaptation_control << 4) | (rule.continuity_counter & 0x0fu))};
        append_header_constraints(constraints, slot, offset, header, profile);
    }
    return constraints;
}

std::vector<SolveConstraint> continuity_header_constraints(std::span<const std::uint8_t> bytes,
                                                           const ts::TsContinuityContext& context, std::uint64_t slot,
                                                           const ldpc::FecProfile& profile) {
    std::vector<SolveConstraint> constraints;
    if (!whole_packets(bytes)) return constraints;
    ts::TsContinuityContext copy = context;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPacketBytes) {
        const auto p = packet_at(bytes, offset);
        if (!ts::is_well_formed(p)) continue;
        auto header = header_of(p);
        const std::uint16_t pid = ts::packet_pid(p);
        const bool tracked = ts::carries_payload(p) && pid != ts::kNullPid &&
                             (context.seen_pids.empty() || copy.seen_pids.count(pid) != 0);
        if (tracked) {
            const auto last = copy.last_continuity_counter.find(pid);
            if (last != copy.last_continuity_counter.end() && !ts::signals_discontinuity(p))
                header[3] = with_counter(header[3], next_counter(last->second));
            copy.seen_pids.insert(pid);
            copy.last_continuity_counter[pid] = header[3] & 0x0fu;
        }
        append_header_constraints(constraints, slot, offset, header, profile);
    }
    return constraints;
}

std::vector<SolveConstraint> template_continuity_constraints(std::span<const std::uint8_t> bytes,
                                                             const ts::TsContinuityContext& context,
                                                             std::uint64_t slot, const ldpc::FecProfile& profile) {
    if (!whole_packets(bytes) || context.seen_pids.empty()) return {};
    ts::TsContinuityContext copy = context;
    std::vector<std::uint16_t> pids(context.seen_pids.begin(), context.seen_pids.end());
    std::sort(pids.begin(), pids.end());
    std::vector<SolveConstraint> constraints;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPacketBytes) {
        const auto p = packet_at(bytes, offset);
        if (!ts::is_well_formed(p)) return {};
        if (!ts::carries_payload(p) || ts::packet_pid(p) == ts::kNullPid) {
            append_header_constraints(constraints, slot, offset, header_of(p), profile);
            continue;
        }
        const std::uint8_t pusi = (p[1] >> 6) & 1u;
        unsigned best_cost = std::numeric_limits<unsigned>::max();
        std::array<std::uint8_t, 4> best{};
        std::uint16_t best_pid = 0;
        std::uint8_t best_counter = 0;
        for (const std::uint16_t pid : pids) {
            const auto last = copy.last_continuity_counter.find(pid);
            const std::uint8_t counter =
                last == copy.last_continuity_counter.end() ? ts::continuity_counter(p) : next_counter(last->second);
            for (std::uint8_t j = 0; j <= 1; ++j) {
                const std::array<std::uint8_t, 4> candidate{
                    ts::kSyncByte, static_cast<std::uint8_t>((j << 6) | (p[1] & 0x20u) | ((pid >> 8) & 0x1fu)),
                    static_cast<std::uint8_t>(pid & 0xffu), with_counter(p[3], counter)};
                const unsigned cost = static_cast<unsigned>(std::popcount(static_cast<unsigned>(candidate[1] ^ p[1])) +
                                                            std::popcount(static_cast<unsigned>(candidate[2] ^ p[2])) +
                                                            std::popcount(static_cast<unsigned>((candidate[3] ^ p[3]) & 0x0fu))) +
                                      (j != pusi ? 1u : 0u);
                if (cost < best_cost) {
                    best_cost = cost;
                    best = candidate;
                    best_pid = pid;
                    best_counter = counter;
                }
            }
        }
        append_header_constraints(constraints, slot, offset, best, profile);
        copy.seen_pids.insert(best_pid);
        copy.last_continuity_counter[best_pid] = best_counter;
    }
    return constraints;
}

TsAcceptance::TsAcceptance(const ldpc::FecProfile& profile, std::uint64_t slot, std::uint64_t scrambler_reset_bits,
                           const ts::TsContinuityContext* context)
    : profile_(profile), offset_bits_(slot * profile.bytes_per_codeword() * 8),
      scrambler_reset_bits_(scrambler_reset_bits), context_(context), bytes_(profile.bytes_per_codeword()) {}

bool TsAcceptance::operator()(std::span<const std::uint8_t> hard_bits) {
    bch::decode_bch_blocks(hard_bits.subspan(profile_.parity_bits(), profile_.message_bits), bytes_, offset_bits_,
                           scrambler_reset_bits_, bch_);
    if (bch_.unclean_blocks != 0 || !ts_packets_well_formed(bytes_)) return false;
    return context_ == nullptr || ts_packets_continuous(bytes_, *context_);
}

}  // namespace qarel::retry
