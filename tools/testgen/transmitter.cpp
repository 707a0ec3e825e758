#include "tools/testgen/transmitter.hpp"

#include <stdexcept>

#include "decoder/bch/bch.hpp"

namespace qarel::testgen {

FrameLayout frame_layout(const ldpc::FecProfile& profile, std::uint64_t qam, std::uint64_t codewords_per_frame) {
    FrameLayout layout;
    layout.profile = &profile;
    switch (qam) {
        case 0: layout.codewords_per_frame = codewords_per_frame; break;
        case 16: layout.codewords_per_frame = 2; break;
        case 32: layout.codewords_per_frame = 5; break;
        case 64: layout.codewords_per_frame = 3; break;
        default: throw std::invalid_argument("QAM mode must be 16, 32 or 64");
    }
    if (layout.codewords_per_frame == 0) throw std::invalid_argument("codewords per frame must be positive");
    if (qam == 32) layout.scrambler_reset_bits = layout.transport_bytes_per_frame() * 8 / 2;
    return layout;
}

std::vector<std::uint8_t> bch_encode_block(std::span<const std::uint8_t> payload_bits) {
    if (payload_bits.size() != bch::kPayloadBits) throw std::invalid_argument("BCH payload must be 752 bits");
    std::vector<std::uint8_t> block(payload_bits.begin(), payload_bits.end());
    block.resize(bch::kBlockBits, 0);
    // The remainder of payload(x) * x^10, appended, makes the whole block divisible by g(x).
    const std::uint32_t remainder = bch::bch_syndrome(block);
    for (std::uint64_t i = 0; i < bch::kBlockBits - bch::kPayloadBits; ++i)
        block[bch::kPayloadBits + i] = static_cast<std::uint8_t>((remainder >> (9 - i)) & 1u);
    return block;
}

std::vector<std::uint8_t> encode_frame(std::span<const std::uint8_t> transport_bytes, const FrameLayout& layout,
                                       const LdpcEncoder& encoder) {
    const ldpc::FecProfile& profile = *layout.profile;
    if (transport_bytes.size() != layout.transport_bytes_per_frame())
        throw std::invalid_argument("transport bytes do not fill exactly one FEC frame");
    if (encoder.message_bits() != profile.message_bits)
        throw std::invalid_argument("the code's message length does not match the FEC rate");

    bch::EnergyDispersal sequence(0, layout.scrambler_reset_bits);
    std::vector<std::uint8_t> transmitted;
    transmitted.reserve(layout.transmitted_bits_per_frame());
    std::vector<std::uint8_t> payload(bch::kPayloadBits);
    std::vector<std::uint8_t> message;
    const std::uint64_t blocks_per_codeword = profile.bch_blocks_per_codeword();
    for (std::uint64_t slot = 0; slot < layout.codewords_per_frame; ++slot) {
        message.clear();
        for (std::uint64_t b = 0; b < blocks_per_codeword; ++b) {
            const auto block_bytes =
                transport_bytes.subspan((slot * blocks_per_codeword + b) * bch::kBlockBytes, bch::kBlockBytes);
            for (std::uint64_t k = 0; k < bch::kPayloadBits; ++k) {
                const std::uint8_t bit = (block_bytes[k / 8] >> (7 - k % 8)) & 1u;
                payload[k] = bit ^ sequence.next_bit();
            }
            const auto block = bch_encode_block(payload);
            message.insert(message.end(), block.begin(), block.end());
        }
        const auto codeword = encoder.encode(message);
        transmitted.insert(transmitted.end(), codeword.begin() + profile.erased_parity_bits, codeword.end());
    }
    return transmitted;
}

}  // namespace qarel::testgen
