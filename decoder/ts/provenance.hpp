#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qarel::ts {

enum class PacketKind { emitted, emitted_bch_clean_packet, inserted_discontinuity };

std::string_view packet_kind_name(PacketKind kind);

struct ProvenanceRow {
    std::uint64_t output_packet_index = 0;
    PacketKind kind = PacketKind::emitted;
    std::uint64_t frame_index = 0;
    std::optional<std::uint64_t> codeword_slot;
    std::optional<std::uint64_t> packet_in_codeword;
    std::optional<std::uint64_t> packets_per_codeword;
};

// One JSON line describing an output packet as written (header fields read from `packet`).
std::string format_provenance_row(const ProvenanceRow& row, std::span<const std::uint8_t> packet);

// Writes the row when a provenance stream is open; throws std::runtime_error
// "failed to write packet provenance row" when the stream fails.
void write_provenance_row(std::FILE* stream, const ProvenanceRow& row, std::span<const std::uint8_t> packet);

}  // namespace qarel::ts
