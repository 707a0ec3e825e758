#include "decoder/ts/ts_packet.hpp"

#include <algorithm>

namespace qarel::ts {

bool is_well_formed(std::span<const std::uint8_t> p) {
    if (p.size() < kPacketBytes || p[0] != kSyncByte || (p[1] & kTransportErrorBit) != 0 || p[3] >= 0x40u) return false;
    if (adaptation_field_control(p) == 0) return false;
    if (!has_adaptation_field(p)) return true;
    const std::uint8_t length = p[4];
    if (length > 183) return false;
    const bool pcr_flag = (p[5] & 0x10u) != 0;
    return !(length != 0 && pcr_flag && length < 7);
}

bool is_ts_valid(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() % kPacketBytes != 0) return false;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPacketBytes)
        if (!is_well_formed(bytes.subspan(offset, kPacketBytes))) return false;
    return true;
}

bool signals_discontinuity(std::span<const std::uint8_t> p) {
    return has_adaptation_field(p) && p[4] >= 1 && p[4] <= 183 && (p[5] & 0x80u) != 0;
}

bool is_tracked_payload_packet(std::span<const std::uint8_t> p) {
    return p[0] == kSyncByte && carries_payload(p) && packet_pid(p) != kNullPid;
}

bool is_pid_0x0015_signalling_packet(std::span<const std::uint8_t> p) {
    if (p.size() < kPacketBytes) return false;
    if (p[0] != 0x47 || p[1] != 0x40 || p[2] != 0x15 || p[3] != 0x10) return false;
    const std::uint8_t b4 = p[4];
    if ((b4 & 0xc0u) == 0xc0u || (b4 & 0x1cu) > 0x10u || (b4 & 0x03u) == 0x03u) return false;
    if (((b4 & 0x1cu) == 0x00u || (b4 & 0x1cu) == 0x0cu) && (b4 & 0x03u) != 0x02u) return false;
    const std::uint32_t number = (std::uint32_t{p[6]} << 16) | (std::uint32_t{p[7]} << 8) | p[8];
    if (number > 9'999'999u) return false;
    return std::all_of(p.begin() + 19, p.begin() + kPacketBytes, [](std::uint8_t b) { return b == 0xff; });
}

}  // namespace qarel::ts
