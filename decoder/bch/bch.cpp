#include "decoder/bch/bch.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace qarel::bch {
namespace {

// The sequence repeats after 2^15 - 1 steps (the polynomial is primitive), so a start
// position is reached in at most that many steps whatever its value.
constexpr std::uint64_t kSequencePeriod = 32767;

std::uint32_t syndrome_step(std::uint32_t syndrome, std::uint8_t bit) {
    syndrome = (syndrome << 1) | bit;
    return (syndrome & 0x400u) ? syndrome ^ kGenerator : syndrome;
}

// Syndrome -> position of the single flipped bit that produces it, or -1.
const std::array<std::int32_t, 1024>& single_error_table() {
    static const std::array<std::int32_t, 1024> table = [] {
        std::array<std::int32_t, 1024> entries;
        entries.fill(-1);
        for (std::uint64_t i = 0; i < kBlockBits; ++i) {
            std::uint32_t syndrome = 0;
            for (std::uint64_t j = 0; j < kBlockBits; ++j) syndrome = syndrome_step(syndrome, j == i ? 1 : 0);
            entries[syndrome] = static_cast<std::int32_t>(i);
        }
        return entries;
    }();
    return table;
}

}  // namespace

EnergyDispersal::EnergyDispersal(std::uint64_t offset_bits, std::uint64_t reset_bits) : reset_bits_(reset_bits) {
    position_ = reset_bits == 0 ? offset_bits : offset_bits % reset_bits;
    for (std::uint64_t i = 0, steps = position_ % kSequencePeriod; i < steps; ++i) step();
}

void EnergyDispersal::step() {
    const std::uint32_t out = ((register_ >> 14) ^ (register_ >> 13)) & 1u;
    register_ = ((register_ & 0x3fffu) << 1) | out;
}

std::uint8_t EnergyDispersal::next_bit() {
    if (reset_bits_ != 0 && position_ == reset_bits_) {
        register_ = kInitialRegister;
        position_ = 0;
    }
    const auto out = static_cast<std::uint8_t>(((register_ >> 14) ^ (register_ >> 13)) & 1u);
    step();
    ++position_;
    return out;
}

std::uint32_t bch_syndrome(std::span<const std::uint8_t> block_bits) {
    std::uint32_t syndrome = 0;
    for (const std::uint8_t bit : block_bits) syndrome = syndrome_step(syndrome, bit);
    return syndrome;
}

BchDecodeResult decode_bch_blocks(std::span<const std::uint8_t> message_bits, std::span<std::uint8_t> output,
                                  std::uint64_t scrambler_offset_bits, std::uint64_t scrambler_reset_bits) {
    BchDecodeResult result;
    decode_bch_blocks(message_bits, output, scrambler_offset_bits, scrambler_reset_bits, result);
    return result;
}

void decode_bch_blocks(std::span<const std::uint8_t> message_bits, std::span<std::uint8_t> output,
                       std::uint64_t scrambler_offset_bits, std::uint64_t scrambler_reset_bits,
                       BchDecodeResult& result) {
    const std::uint64_t bit_count = message_bits.size();
    if (bit_count == 0 || bit_count % kBlockBits != 0)
        throw std::invalid_argument("LDPC message bits must contain whole BCH blocks");
    if (std::any_of(message_bits.begin(), message_bits.end(), [](std::uint8_t bit) { return bit > 1; }))
        throw std::invalid_argument("BCH input bits must be binary");
    const std::uint64_t blocks = bit_count / kBlockBits;
    if (output.size() < blocks * kBlockBytes) throw std::invalid_argument("BCH output byte span is too small");

    result.block_count = blocks;
    result.corrected_errors = 0;
    result.unclean_blocks = 0;
    result.block_clean.assign(blocks, 1);
    result.block_corrected_errors.assign(blocks, 0);

    const auto& table = single_error_table();
    EnergyDispersal sequence(scrambler_offset_bits, scrambler_reset_bits);
    std::array<std::uint8_t, kBlockBits> corrected;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        std::span<const std::uint8_t> block = message_bits.subspan(b * kBlockBits, kBlockBits);
        if (const std::uint32_t syndrome = bch_syndrome(block); syndrome != 0) {
            if (const std::int32_t position = table[syndrome]; position >= 0) {
                std::copy(block.begin(), block.end(), corrected.begin());
                corrected[position] ^= 1u;
                block = corrected;
                ++result.corrected_errors;
                result.block_corrected_errors[b] = 1;
            } else {
                ++result.unclean_blocks;
                result.block_clean[b] = 0;
            }
        }
        for (std::uint64_t k = 0; k < kBlockBytes; ++k) {
            std::uint8_t byte = 0;
            for (std::uint64_t j = 0; j < 8; ++j)
                byte = static_cast<std::uint8_t>((byte << 1) | (block[8 * k + j] ^ sequence.next_bit()));
            output[b * kBlockBytes + k] = byte;
        }
    }
}

}  // namespace qarel::bch
