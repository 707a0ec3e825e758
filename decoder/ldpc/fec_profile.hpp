#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qarel::ldpc {

// Constants of one DTMB LDPC code rate. Derived sizes are computed, never stored.
struct FecProfile {
    std::uint64_t fec_rate;
    std::uint64_t parity_blocks;
    std::uint64_t message_bits;
    std::uint64_t transmitted_bits;
    std::uint64_t erased_parity_bits;
    std::uint64_t circulant_size;

    constexpr std::uint64_t parity_bits() const { return circulant_size * parity_blocks; }
    constexpr std::uint64_t variable_count() const { return parity_bits() + message_bits; }
    constexpr std::uint64_t transmitted_parity_bits() const { return transmitted_bits - message_bits; }
    constexpr std::uint64_t bch_blocks_per_codeword() const { return message_bits / kBchBlockBits; }
    constexpr std::uint64_t bytes_per_codeword() const { return bch_blocks_per_codeword() * kBchBlockBytes; }
    constexpr std::uint64_t packets_per_codeword() const { return bytes_per_codeword() / kTsPacketBytes; }

    static constexpr std::uint64_t kBchBlockBits = 762;
    static constexpr std::uint64_t kBchBlockBytes = 94;
    static constexpr std::uint64_t kTsPacketBytes = 188;
};

inline constexpr std::uint64_t kTransmittedBits = 7488;
inline constexpr std::uint64_t kErasedParityBits = 5;
inline constexpr std::uint64_t kQamPlaneCount = 6;
inline constexpr std::uint64_t kBranchCount = 52;

// Throws std::invalid_argument for a rate other than 1, 2 or 3.
const FecProfile& fec_profile_for_rate(std::uint64_t rate);

enum class CodewordSection { erased_parity, transmitted_parity, message };

std::string_view section_name(CodewordSection section);

struct VariableClass {
    CodewordSection section;
    std::uint64_t section_bit_index;
};

// Section of full variable v (0 .. variable_count - 1) and its index inside the section.
VariableClass classify_variable(const FecProfile& profile, std::uint64_t v);

// Position of transmitted bit t inside its 6-bit group.
constexpr std::uint64_t qam_plane_of_transmitted(std::uint64_t t) { return t % kQamPlaneCount; }
// Interleaver branch of transmitted bit t.
constexpr std::uint64_t branch_of_transmitted(std::uint64_t t) { return (t / kQamPlaneCount) % kBranchCount; }
// QAM plane of a full variable v; only meaningful for v >= erased_parity_bits.
constexpr std::uint64_t qam_plane_of_variable(std::uint64_t v) { return qam_plane_of_transmitted(v - kErasedParityBits); }

// Writes the transmitted LLRs of one codeword into the full-length vector, with the
// erased parity positions set to 0 (no information).
void expand_transmitted_codeword(const FecProfile& profile, std::span<const float> transmitted, std::span<float> full);

// Copies the message_bits hard bits that follow the parity part of a full-length hard-bit vector.
void extract_message_bits(const FecProfile& profile, std::span<const std::uint8_t> full_hard_bits,
                          std::span<std::uint8_t> message_bits);

}  // namespace qarel::ldpc
