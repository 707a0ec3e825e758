#include "decoder/ts/provenance.hpp"

#include <array>
#include <stdexcept>

#include "decoder/ts/ts_packet.hpp"

namespace qarel::ts {
namespace {

std::string optional_number(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : "null";
}

const char* flag(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string_view packet_kind_name(PacketKind kind) {
    switch (kind) {
        case PacketKind::emitted: return "emitted";
        case PacketKind::emitted_bch_clean_packet: return "emitted_bch_clean_packet";
        case PacketKind::inserted_discontinuity: return "inserted_discontinuity";
    }
    return "emitted";
}

std::string format_provenance_row(const ProvenanceRow& row, std::span<const std::uint8_t> packet) {
    const std::uint16_t pid = packet.size() >= 3 ? packet_pid(packet) : 0;
    const bool whole = packet.size() >= kPacketBytes && packet[0] == kSyncByte;
    std::array<char, 8> pid_hex{};
    std::snprintf(pid_hex.data(), pid_hex.size(), "0x%04x", static_cast<unsigned>(pid));

    std::string line = "{\"schema\":\"qarel.ldpc_bch_packet_provenance.v1\",\"output_packet_index\":";
    line += std::to_string(row.output_packet_index);
    line += ",\"kind\":\"";
    line += packet_kind_name(row.kind);
    line += "\",\"frame_index\":" + std::to_string(row.frame_index);
    line += ",\"codeword_slot\":" + optional_number(row.codeword_slot);
    line += ",\"packet_in_codeword\":" + optional_number(row.packet_in_codeword);
    line += ",\"packets_per_codeword\":" + optional_number(row.packets_per_codeword);
    line += ",\"pid\":" + std::to_string(pid);
    line += ",\"pid_hex\":\"" + std::string(pid_hex.data()) + "\"";
    line += ",\"payload_unit_start\":";
    line += flag(whole && (packet[1] & 0x40u) != 0);
    line += ",\"has_payload\":";
    line += flag(whole && carries_payload(packet));
    line += ",\"continuity_counter\":" + std::to_string(whole ? continuity_counter(packet) : 0);
    line += ",\"discontinuity_indicator\":";
    line += flag(whole && signals_discontinuity(packet));
    line += "}\n";
    return line;
}

void write_provenance_row(std::FILE* stream, const ProvenanceRow& row, std::span<const std::uint8_t> packet) {
    if (stream == nullptr) return;
    const std::string line = format_provenance_row(row, packet);
    if (std::fwrite(line.data(), 1, line.size(), stream) != line.size() || std::ferror(stream))
        throw std::runtime_error("failed to write packet provenance row");
}

}  // namespace qarel::ts
