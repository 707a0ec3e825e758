#pragma once

#include <cstdint>
#include <vector>

namespace qarel::testgen {

inline constexpr std::uint64_t kTsPacketBytes = 188;
inline constexpr std::uint16_t kNullPid = 0x1FFF;

// A synthetic MPEG-TS stream: a PAT-like PID 0, a "video" PID with a PCR in the
// adaptation field every 20th packet, an "audio" PID, adaptation-only packets and null
// packets, with correct continuity counters on every PID. The same seed gives the same
// bytes.
std::vector<std::uint8_t> generate_transport_stream(std::uint64_t packets, std::uint64_t seed);

// Appends null packets.
void append_null_packets(std::vector<std::uint8_t>& stream, std::uint64_t packets);

}  // namespace qarel::testgen
