#include "decoder/bch/bch.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
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

constexpr std::uint64_t kPackedBlockBytes = kBlockBits / 8;  // 95 whole bytes, then 2 bits

// Tables built once per run: the single-error positions, the syndrome update for a whole
// byte and for four bytes at once, and the energy-dispersal sequence as the byte starting at
// each of its positions.
struct BchTables {
    std::array<std::int32_t, 1024> single_error;  // syndrome -> flipped bit, or -1
    std::array<std::uint32_t, 256> shifted_out;   // h(x) x^10 mod g for the 8 bits a byte shifts out
    // s(x) x^32 mod g for every syndrome, and b(x) x^k mod g for every byte: four bytes shifted
    // in at once need one lookup that waits for the syndrome instead of four.
    std::array<std::uint16_t, 1024> syndrome_times_x32;
    std::array<std::uint16_t, 256> byte_times_x24;
    std::array<std::uint16_t, 256> byte_times_x16;
    std::array<std::uint16_t, 256> byte_times_x8;
    std::array<std::uint8_t, kSequencePeriod> sequence_byte;  // bits p .. p + 7 of the sequence
};

std::uint32_t bitwise_remainder(std::uint32_t syndrome, std::uint64_t value, unsigned bits) {
    for (unsigned k = bits; k-- > 0;) syndrome = syndrome_step(syndrome, static_cast<std::uint8_t>((value >> k) & 1u));
    return syndrome;
}

const BchTables& tables() {
    static const BchTables built = [] {
        BchTables t;
        t.single_error.fill(-1);
        for (std::uint64_t i = 0; i < kBlockBits; ++i) {
            std::uint32_t syndrome = 0;
            for (std::uint64_t j = 0; j < kBlockBits; ++j) syndrome = syndrome_step(syndrome, j == i ? 1 : 0);
            t.single_error[syndrome] = static_cast<std::int32_t>(i);
        }
        for (std::uint32_t h = 0; h < 256; ++h) {
            t.shifted_out[h] = bitwise_remainder(h, 0, 10);
            t.byte_times_x24[h] = static_cast<std::uint16_t>(bitwise_remainder(h, 0, 24));
            t.byte_times_x16[h] = static_cast<std::uint16_t>(bitwise_remainder(h, 0, 16));
            t.byte_times_x8[h] = static_cast<std::uint16_t>(bitwise_remainder(h, 0, 8));
        }
        for (std::uint32_t s = 0; s < 1024; ++s) t.syndrome_times_x32[s] = static_cast<std::uint16_t>(bitwise_remainder(s, 0, 32));
        std::array<std::uint8_t, kSequencePeriod + 8> bits;
        EnergyDispersal sequence(0, 0);
        for (auto& bit : bits) bit = sequence.next_bit();
        for (std::uint64_t p = 0; p < kSequencePeriod; ++p) {
            std::uint8_t byte = 0;
            for (unsigned j = 0; j < 8; ++j) byte = static_cast<std::uint8_t>((byte << 1) | bits[p + j]);
            t.sequence_byte[p] = byte;
        }
        return t;
    }();
    return built;
}

// Eight bits, one a byte with the first the most significant, as one byte.
std::uint8_t pack_bits(const std::uint8_t* bits) {
    std::uint64_t word;
    std::memcpy(&word, bits, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return static_cast<std::uint8_t>((word * 0x8040201008040201ull) >> 56);
}

// The syndrome of a block packed into bytes (95 whole bytes and the last two bits).
std::uint32_t packed_syndrome(const std::uint8_t* packed, std::uint32_t last_two_bits, const BchTables& t) {
    std::uint32_t syndrome = 0;
    std::uint64_t k = 0;
    for (; k + 4 <= kPackedBlockBytes; k += 4)
        syndrome = t.syndrome_times_x32[syndrome] ^ t.byte_times_x24[packed[k]] ^ t.byte_times_x16[packed[k + 1]] ^
                   t.byte_times_x8[packed[k + 2]] ^ packed[k + 3];
    for (; k < kPackedBlockBytes; ++k) syndrome = t.shifted_out[syndrome >> 2] ^ ((syndrome & 3u) << 8) ^ packed[k];
    return bitwise_remainder(syndrome, last_two_bits, 2);
}

// Where the energy-dispersal sequence stands: the position within its reset period.
class SequenceCursor {
public:
    SequenceCursor(std::uint64_t offset_bits, std::uint64_t reset_bits)
        : reset_bits_(reset_bits), position_(reset_bits == 0 ? offset_bits : offset_bits % reset_bits),
          index_(position_ % kSequencePeriod) {}

    // The next 8 sequence bits; a reset never falls inside them when offset and reset
    // period are whole bytes.
    std::uint8_t next_byte(const BchTables& t) {
        if (reset_bits_ != 0 && position_ == reset_bits_) position_ = index_ = 0;
        const std::uint8_t byte = t.sequence_byte[index_];
        position_ += 8;
        index_ += 8;
        if (index_ >= kSequencePeriod) index_ -= kSequencePeriod;
        return byte;
    }

private:
    std::uint64_t reset_bits_;
    std::uint64_t position_;
    std::uint64_t index_;
};

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
    std::uint8_t high_bits = 0;  // a reduction without early exit, which the compiler vectorises
    for (const std::uint8_t bit : message_bits) high_bits |= bit & 0xfeu;
    if (high_bits != 0) throw std::invalid_argument("BCH input bits must be binary");
    const std::uint64_t blocks = bit_count / kBlockBits;
    if (output.size() < blocks * kBlockBytes) throw std::invalid_argument("BCH output byte span is too small");

    result.block_count = blocks;
    result.corrected_errors = 0;
    result.unclean_blocks = 0;
    result.block_clean.assign(blocks, 1);
    result.block_corrected_errors.assign(blocks, 0);

    const BchTables& t = tables();
    const bool whole_bytes = scrambler_offset_bits % 8 == 0 && scrambler_reset_bits % 8 == 0;
    SequenceCursor cursor(scrambler_offset_bits, scrambler_reset_bits);
    std::optional<EnergyDispersal> sequence;  // bit by bit, for offsets or periods of odd bits
    if (!whole_bytes) sequence.emplace(scrambler_offset_bits, scrambler_reset_bits);
    std::array<std::uint8_t, kPackedBlockBytes> packed;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        const std::uint8_t* block = message_bits.data() + b * kBlockBits;
        for (std::uint64_t k = 0; k < kPackedBlockBytes; ++k) packed[k] = pack_bits(block + 8 * k);
        const std::uint32_t last_two_bits = (block[kBlockBits - 2] << 1) | block[kBlockBits - 1];
        if (const std::uint32_t syndrome = packed_syndrome(packed.data(), last_two_bits, t); syndrome != 0) {
            if (const std::int32_t position = t.single_error[syndrome]; position >= 0) {
                // Only a payload bit needs flipping; a parity bit's error leaves the bytes alone.
                if (static_cast<std::uint64_t>(position) < kPayloadBits)
                    packed[position / 8] ^= static_cast<std::uint8_t>(0x80u >> (position % 8));
                ++result.corrected_errors;
                result.block_corrected_errors[b] = 1;
            } else {
                ++result.unclean_blocks;
                result.block_clean[b] = 0;
            }
        }
        std::uint8_t* out = output.data() + b * kBlockBytes;
        if (whole_bytes) {
            for (std::uint64_t k = 0; k < kBlockBytes; ++k) out[k] = packed[k] ^ cursor.next_byte(t);
        } else {
            for (std::uint64_t k = 0; k < kBlockBytes; ++k) {
                std::uint8_t mask = 0;
                for (unsigned j = 0; j < 8; ++j) mask = static_cast<std::uint8_t>((mask << 1) | sequence->next_bit());
                out[k] = packed[k] ^ mask;
            }
        }
    }
}

}  // namespace qarel::bch
