#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::testgen {

// Systematic encoder for any parity-check matrix whose first `parity_bits` columns form an
// invertible part: the message fills the remaining variables and the parity is solved over
// GF(2). Preparing inverts the parity part once (dense Gauss-Jordan elimination); each
// encoding is then one sparse product and one dense one.
class LdpcEncoder {
public:
    // Throws std::invalid_argument when the parity part cannot be inverted.
    LdpcEncoder(const ldpc::LdpcGraph& graph, std::uint64_t parity_bits);

    std::uint64_t message_bits() const { return graph_.variable_count - parity_bits_; }

    // Returns all variables: the parity bits, then the message.
    std::vector<std::uint8_t> encode(std::span<const std::uint8_t> message) const;

private:
    ldpc::LdpcGraph graph_;
    std::uint64_t parity_bits_;
    std::uint64_t check_words_;
    // Row k: which message syndrome bits add up to parity bit k.
    std::vector<std::uint64_t> inverse_;
};

}  // namespace qarel::testgen
