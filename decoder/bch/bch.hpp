#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qarel::bch {

inline constexpr std::uint64_t kBlockBits = 762;
inline constexpr std::uint64_t kPayloadBits = 752;
inline constexpr std::uint64_t kBlockBytes = kPayloadBits / 8;
inline constexpr std::uint32_t kGenerator = 0x409;  // x^10 + x^3 + 1

struct BchDecodeResult {
    std::uint64_t block_count = 0;
    std::uint64_t corrected_errors = 0;
    std::uint64_t unclean_blocks = 0;
    std::vector<std::uint8_t> block_clean;
    std::vector<std::uint64_t> block_corrected_errors;
};

// Checks each 762-bit BCH(762,752) block of `message_bits` (one byte per bit, first bit the
// highest power), corrects a single bit error where the syndrome names one, removes the
// energy-dispersal scrambling from the 752 payload bits and packs them most significant bit
// first into 94 bytes per block of `output`. The scrambling sequence starts at position
// `scrambler_offset_bits` and restarts every `scrambler_reset_bits` payload bits (0: never).
// Throws std::invalid_argument for a partial block, a non-binary bit or a short output.
BchDecodeResult decode_bch_blocks(std::span<const std::uint8_t> message_bits, std::span<std::uint8_t> output,
                                  std::uint64_t scrambler_offset_bits, std::uint64_t scrambler_reset_bits);
// The same into a result whose storage is reused, for callers that decode many candidates.
void decode_bch_blocks(std::span<const std::uint8_t> message_bits, std::span<std::uint8_t> output,
                       std::uint64_t scrambler_offset_bits, std::uint64_t scrambler_reset_bits,
                       BchDecodeResult& result);

// Remainder of the block's polynomial divided by the generator.
std::uint32_t bch_syndrome(std::span<const std::uint8_t> block_bits);

// The energy-dispersal sequence of polynomial 1 + x^14 + x^15 from register value 0xA9,
// started at a position of a frame's payload bits and restarted every reset period.
class EnergyDispersal {
public:
    EnergyDispersal(std::uint64_t offset_bits, std::uint64_t reset_bits);
    std::uint8_t next_bit();

private:
    static constexpr std::uint32_t kInitialRegister = 169;
    void step();

    std::uint32_t register_ = kInitialRegister;
    std::uint64_t position_ = 0;
    std::uint64_t reset_bits_;
};

}  // namespace qarel::bch
