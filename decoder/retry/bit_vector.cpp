#include "decoder/retry/bit_vector.hpp"

#include <stdexcept>

namespace qarel::retry {

BitVector& BitVector::operator^=(const BitVector& other) {
    if (other.words_.size() != words_.size()) throw std::runtime_error("bit-vector XOR size mismatch");
    for (std::size_t w = 0; w < words_.size(); ++w) words_[w] ^= other.words_[w];
    return *this;
}

}  // namespace qarel::retry
