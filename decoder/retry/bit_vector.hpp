#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace qarel::retry {

// Bits packed into 64-bit words: bit i is bit i % 64 of word i / 64.
class BitVector {
public:
    BitVector() = default;
    explicit BitVector(std::uint64_t bits) : bits_(bits), words_((bits + 63) / 64, 0) {}

    std::uint64_t size() const { return bits_; }
    bool test(std::uint64_t i) const { return (words_[i / 64] >> (i % 64)) & 1u; }
    void set(std::uint64_t i) { words_[i / 64] |= std::uint64_t{1} << (i % 64); }
    void flip(std::uint64_t i) { words_[i / 64] ^= std::uint64_t{1} << (i % 64); }
    void clear() { std::fill(words_.begin(), words_.end(), 0); }

    // Throws std::runtime_error("bit-vector XOR size mismatch") for vectors of different sizes.
    BitVector& operator^=(const BitVector& other);

    // The lowest set bit, scanning words from the first and bits from bit 0.
    std::optional<std::uint64_t> lowest_set_bit() const {
        for (std::size_t w = 0; w < words_.size(); ++w)
            if (words_[w] != 0) return w * 64 + static_cast<std::uint64_t>(std::countr_zero(words_[w]));
        return std::nullopt;
    }

    // Calls visit(i) for every set bit, in increasing order.
    template <typename Visit>
    void for_each_set_bit(Visit&& visit) const {
        for (std::size_t w = 0; w < words_.size(); ++w)
            for (std::uint64_t word = words_[w]; word != 0; word &= word - 1)
                visit(w * 64 + static_cast<std::uint64_t>(std::countr_zero(word)));
    }

    bool operator==(const BitVector&) const = default;

private:
    std::uint64_t bits_ = 0;
    std::vector<std::uint64_t> words_;
};

}  // namespace qarel::retry
