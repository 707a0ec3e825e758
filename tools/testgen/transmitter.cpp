#include "tools/testgen/transmitter.hpp"

#include <stdexcept>


namespace qarel::testgen {

FrameLayout frame_layout(std::uint64_t rate, std::uint64_t qam, std::uint64_t codewords_per_frame) {
    FrameLayout layout;
    layout.code = &dtmb_code(rate);
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
    const auto parity = bch_parity(payload_bits);
    std::vector<std::uint8_t> block(payload_bits.begin(), payload_bits.end());
    block.insert(block.end(), parity.begin(), parity.end());
    return block;
}

std::vector<std::uint8_t> encode_frame(std::span<const std::uint8_t> transport_bytes, const FrameLayout& layout,
                                       const LdpcEncoder& encoder) {
    const DtmbCode& code = *layout.code;
    if (transport_bytes.size() != layout.transport_bytes_per_frame())
        throw std::invalid_argument("transport bytes do not fill exactly one FEC frame");
    if (encoder.message_bits() != code.message_bits)
        throw std::invalid_argument("the code's message length does not match the FEC rate");

    // The randomiser starts with the frame's first payload bit and, for 32QAM, again with the
    // first payload bit of the second signal frame; BCH parity bits take no positions.
    Randomiser randomiser;
    std::uint64_t position = 0;
    const auto scramble = [&](std::uint8_t bit) {
        if (layout.scrambler_reset_bits != 0 && position == layout.scrambler_reset_bits) {
            randomiser.restart();
            position = 0;
        }
        ++position;
        return static_cast<std::uint8_t>(bit ^ randomiser.next());
    };
    constexpr std::uint64_t block_bytes = DtmbCode::kBchPayload / 8;
    std::vector<std::uint8_t> transmitted;
    transmitted.reserve(layout.transmitted_bits_per_frame());
    std::vector<std::uint8_t> payload(DtmbCode::kBchPayload);
    std::vector<std::uint8_t> message;
    for (std::uint64_t slot = 0; slot < layout.codewords_per_frame; ++slot) {
        message.clear();
        for (std::uint64_t b = 0; b < code.bch_blocks(); ++b) {
            const auto bytes = transport_bytes.subspan((slot * code.bch_blocks() + b) * block_bytes, block_bytes);
            // Each byte most significant bit first.
            for (std::uint64_t k = 0; k < DtmbCode::kBchPayload; ++k) payload[k] = scramble((bytes[k / 8] >> (7 - k % 8)) & 1u);
            const auto block = bch_encode_block(payload);
            message.insert(message.end(), block.begin(), block.end());
        }
        // Columns [5 erased parity | transmitted parity | message]; the first five are not sent.
        const auto codeword = encoder.encode(message);
        transmitted.insert(transmitted.end(), codeword.begin() + DtmbCode::kErasedParity, codeword.end());
    }
    return transmitted;
}

}  // namespace qarel::testgen
