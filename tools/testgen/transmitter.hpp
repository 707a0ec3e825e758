#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/testgen/dtmb_standard.hpp"
#include "tools/testgen/ldpc_encoder.hpp"

namespace qarel::testgen {

// How transport bytes are cut into FEC frames of codewords.
struct FrameLayout {
    const DtmbCode* code = nullptr;
    std::uint64_t codewords_per_frame = 3;
    std::uint64_t scrambler_reset_bits = 0;  // 0: the sequence restarts only at frame starts

    std::uint64_t transport_bytes_per_frame() const { return codewords_per_frame * code->transport_bytes(); }
    std::uint64_t transmitted_bits_per_frame() const { return codewords_per_frame * DtmbCode::kTransmitted; }
};

// The layout of a rate and QAM mode (16, 32 or 64; 0 for none, which takes
// codewords_per_frame). 32QAM frames span two signal frames and restart the scrambler after
// the payload of the first.
FrameLayout frame_layout(std::uint64_t rate, std::uint64_t qam, std::uint64_t codewords_per_frame);

// Systematic BCH(762,752): the 752 payload bits followed by 10 parity bits.
std::vector<std::uint8_t> bch_encode_block(std::span<const std::uint8_t> payload_bits);

// The transmit chain of one FEC frame: energy-dispersal scrambling of the payload bits,
// BCH encoding of every 752 bits, LDPC encoding of every codeword's message, and removal
// of the erased parity bits. Returns the frame's transmitted bits, codeword after codeword.
std::vector<std::uint8_t> encode_frame(std::span<const std::uint8_t> transport_bytes, const FrameLayout& layout,
                                       const LdpcEncoder& encoder);

}  // namespace qarel::testgen
