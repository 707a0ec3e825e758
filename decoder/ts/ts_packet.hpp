#pragma once

#include <cstdint>
#include <span>

namespace qarel::ts {

inline constexpr std::size_t kPacketBytes = 188;
inline constexpr std::uint8_t kSyncByte = 0x47;
inline constexpr std::uint16_t kNullPid = 0x1FFF;
inline constexpr std::uint8_t kTransportErrorBit = 0x80;  // in byte 1

// Header fields of a 188-byte transport packet.
inline std::uint16_t packet_pid(std::span<const std::uint8_t> p) {
    return static_cast<std::uint16_t>(((p[1] & 0x1fu) << 8) | p[2]);
}
inline std::uint8_t adaptation_field_control(std::span<const std::uint8_t> p) { return (p[3] >> 4) & 0x3u; }
inline std::uint8_t continuity_counter(std::span<const std::uint8_t> p) { return p[3] & 0x0fu; }
inline bool carries_payload(std::span<const std::uint8_t> p) { return (adaptation_field_control(p) & 0x1u) != 0; }
inline bool has_adaptation_field(std::span<const std::uint8_t> p) { return (adaptation_field_control(p) & 0x2u) != 0; }

// Sync byte, no transport error, not scrambled, a defined adaptation field control, and a
// plausible adaptation field length (room for a PCR when one is flagged).
bool is_well_formed(std::span<const std::uint8_t> packet);

// A non-zero whole number of packets, every one well formed.
bool is_ts_valid(std::span<const std::uint8_t> bytes);

// The packet has an adaptation field of length 1..183 with discontinuity_indicator set.
bool signals_discontinuity(std::span<const std::uint8_t> packet);

// A sync byte, a payload and a PID other than the null PID: the packets continuity tracks.
bool is_tracked_payload_packet(std::span<const std::uint8_t> packet);

// The PID-0x0015 signalling packet, which the continuity guard leaves out of its checks.
bool is_pid_0x0015_signalling_packet(std::span<const std::uint8_t> packet);

}  // namespace qarel::ts
