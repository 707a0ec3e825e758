#include "tools/testgen/dtmb_standard.hpp"

#include <stdexcept>

namespace qarel::testgen {

const DtmbCode& dtmb_code(std::uint64_t rate) {
    static const DtmbCode codes[] = {{1, 35, 3048}, {2, 23, 4572}, {3, 11, 6096}};
    if (rate < 1 || rate > 3) throw std::invalid_argument("fec rate must be 1, 2, or 3");
    return codes[rate - 1];
}

void Randomiser::restart() {
    const char* initial = "100101010000000";
    for (int i = 1; i <= 15; ++i) s_[i] = initial[i - 1] == '1' ? 1 : 0;
}

std::uint8_t Randomiser::next() {
    const std::uint8_t out = s_[14] ^ s_[15];
    for (int i = 15; i > 1; --i) s_[i] = s_[i - 1];
    s_[1] = out;
    return out;
}

std::array<char, 15> Randomiser::stages() const {
    std::array<char, 15> text{};
    for (int i = 1; i <= 15; ++i) text[i - 1] = s_[i] ? '1' : '0';
    return text;
}

std::array<std::uint8_t, 10> bch_parity(std::span<const std::uint8_t> payload_bits) {
    if (payload_bits.size() != DtmbCode::kBchPayload) throw std::invalid_argument("BCH payload must be 752 bits");
    // Long division of payload(x) x^10 by g(x), one payload coefficient at a time; r[k] holds
    // the coefficient of x^k of the running remainder.
    std::array<std::uint8_t, 10> r{};
    for (const std::uint8_t bit : payload_bits) {
        const std::uint8_t feedback = (bit & 1u) ^ r[9];
        for (int k = 9; k > 0; --k) r[k] = r[k - 1];
        r[0] = 0;
        if (feedback) {
            r[3] ^= 1;  // x^10 = x^3 + 1 modulo g(x)
            r[0] ^= 1;
        }
    }
    std::array<std::uint8_t, 10> parity{};
    for (int k = 0; k < 10; ++k) parity[k] = r[9 - k];
    return parity;
}

}  // namespace qarel::testgen
