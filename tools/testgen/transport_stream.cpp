#include "tools/testgen/transport_stream.hpp"

#include <array>
#include <map>
#include <random>

namespace qarel::testgen {
namespace {

constexpr std::uint8_t kSyncByte = 0x47;
constexpr std::uint8_t kPayloadOnly = 1;
constexpr std::uint8_t kAdaptationOnly = 2;
constexpr std::uint8_t kAdaptationAndPayload = 3;

struct PacketPlan {
    std::uint16_t pid;
    bool payload_unit_start;
    std::uint8_t adaptation_control;
    bool pcr;
};

PacketPlan plan_packet(std::uint64_t n, std::mt19937_64& engine) {
    if (n % 50 == 0) return {0x0000, true, kPayloadOnly, false};
    if (n % 7 == 3) return {kNullPid, false, kPayloadOnly, false};
    if (n % 20 == 1) return {0x0100, true, kAdaptationAndPayload, true};
    if (n % 97 == 5) return {0x0100, false, kAdaptationOnly, false};
    if (engine() % 4 == 0) return {0x0101, n % 9 == 0, kPayloadOnly, false};
    return {0x0100, false, engine() % 10 == 0 ? kAdaptationAndPayload : kPayloadOnly, false};
}

}  // namespace

std::vector<std::uint8_t> generate_transport_stream(std::uint64_t packets, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::map<std::uint16_t, std::uint8_t> continuity;
    std::vector<std::uint8_t> stream;
    stream.reserve(packets * kTsPacketBytes);
    for (std::uint64_t n = 0; n < packets; ++n) {
        const PacketPlan plan = plan_packet(n, engine);
        const bool has_payload = plan.adaptation_control != kAdaptationOnly;
        std::uint8_t cc = 0;
        if (plan.pid != kNullPid) {
            // The counter advances with each payload-carrying packet; an adaptation-only
            // packet repeats the last value.
            const auto last = continuity.find(plan.pid);
            if (last != continuity.end()) cc = has_payload ? (last->second + 1) & 0x0f : last->second;
            continuity[plan.pid] = cc;
        }
        std::array<std::uint8_t, kTsPacketBytes> packet{};
        packet[0] = kSyncByte;
        packet[1] = static_cast<std::uint8_t>((plan.payload_unit_start ? 0x40 : 0) | (plan.pid >> 8));
        packet[2] = static_cast<std::uint8_t>(plan.pid & 0xff);
        packet[3] = static_cast<std::uint8_t>((plan.adaptation_control << 4) | cc);
        std::size_t next = 4;
        if (plan.adaptation_control != kPayloadOnly) {
            const std::uint8_t length = plan.adaptation_control == kAdaptationOnly ? 183 : (plan.pcr ? 7 : 1);
            packet[next++] = length;
            packet[next] = plan.pcr ? 0x10 : 0x00;  // PCR flag
            if (plan.pcr) {
                const std::uint64_t base = n * 2700;  // 33-bit PCR base, advancing with the packet count
                packet[next + 1] = static_cast<std::uint8_t>(base >> 25);
                packet[next + 2] = static_cast<std::uint8_t>(base >> 17);
                packet[next + 3] = static_cast<std::uint8_t>(base >> 9);
                packet[next + 4] = static_cast<std::uint8_t>(base >> 1);
                packet[next + 5] = static_cast<std::uint8_t>(((base & 1u) << 7) | 0x7e);
                packet[next + 6] = 0;
            }
            for (std::size_t i = next + (plan.pcr ? 7 : 1); i < next + length; ++i) packet[i] = 0xff;  // stuffing
            next += length;
        }
        for (std::size_t i = next; i < kTsPacketBytes; ++i)
            packet[i] = plan.pid == kNullPid ? 0xff : static_cast<std::uint8_t>(engine());
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    return stream;
}

void append_null_packets(std::vector<std::uint8_t>& stream, std::uint64_t packets) {
    for (std::uint64_t n = 0; n < packets; ++n) {
        std::array<std::uint8_t, kTsPacketBytes> packet;
        packet.fill(0xff);
        packet[0] = kSyncByte;
        packet[1] = 0x1f;
        packet[2] = 0xff;
        packet[3] = 0x10;
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
}

}  // namespace qarel::testgen
