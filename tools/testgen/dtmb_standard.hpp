#pragma once

// The numbers and definitions of the DTMB (GB 20600) transmit chain that the test-signal
// generator works from, written out on their own. The generator shares none of this with the
// decoder (only the alist reader and the graph type), so a convention slipped into either
// side shows up as a round trip that fails instead of one that agrees with itself.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qarel::testgen {

// One of the three LDPC codes: 127 x 127 circulants, 5 parity bits never transmitted, the
// message made of BCH(762, 752) blocks.
struct DtmbCode {
    std::uint64_t rate;
    std::uint64_t parity_circulant_rows;  // 35, 23, 11
    std::uint64_t message_bits;           // 3048, 4572, 6096

    static constexpr std::uint64_t kCirculant = 127;
    static constexpr std::uint64_t kErasedParity = 5;
    static constexpr std::uint64_t kTransmitted = 7488;
    static constexpr std::uint64_t kBchBlock = 762;
    static constexpr std::uint64_t kBchPayload = 752;

    std::uint64_t parity_bits() const { return kCirculant * parity_circulant_rows; }
    std::uint64_t full_length() const { return parity_bits() + message_bits; }
    std::uint64_t bch_blocks() const { return message_bits / kBchBlock; }
    std::uint64_t transport_bytes() const { return bch_blocks() * kBchPayload / 8; }
};

// Throws std::invalid_argument for a rate other than 1, 2 or 3.
const DtmbCode& dtmb_code(std::uint64_t rate);

// Position of transmitted bit t in its group of 6 bits, and its interleaver branch (0..51).
inline std::uint64_t qam_plane_of_bit(std::uint64_t t) { return t % 6; }
inline std::uint64_t interleaver_branch_of_bit(std::uint64_t t) { return t / 6 % 52; }

// The energy-dispersal randomiser: a 15-stage register s1..s15 loaded with 100101010000000,
// generator polynomial 1 + x^14 + x^15: each clock outputs s14 XOR s15 and shifts it into s1.
class Randomiser {
public:
    Randomiser() { restart(); }
    void restart();
    std::uint8_t next();
    // The stages s1..s15 as the characters '0' and '1'.
    std::array<char, 15> stages() const;

private:
    std::array<std::uint8_t, 16> s_{};  // s_[1] .. s_[15]
};

// BCH(762, 752) parity of 752 payload bits (the first the coefficient of x^761): the remainder
// of payload(x) x^10 divided by g(x) = x^10 + x^3 + 1, from x^9 down to x^0.
std::array<std::uint8_t, 10> bch_parity(std::span<const std::uint8_t> payload_bits);

}  // namespace qarel::testgen
