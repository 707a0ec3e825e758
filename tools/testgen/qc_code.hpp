#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include "tools/testgen/dtmb_standard.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::testgen {

// A quasi-cyclic parity-check matrix given by its base matrix: block (r, c) is either zero
// or the identity cyclically shifted by `shift(r, c)` (row i of the block connects to column
// (i + shift) mod circulant_size).
struct QcBaseMatrix {
    static constexpr int kZeroBlock = -1;

    std::uint64_t block_rows = 0;
    std::uint64_t block_columns = 0;
    std::uint64_t circulant_size = 0;
    std::vector<int> shifts;  // row-major, kZeroBlock for an all-zero block

    int shift(std::uint64_t row, std::uint64_t column) const { return shifts[row * block_columns + column]; }
    int& shift(std::uint64_t row, std::uint64_t column) { return shifts[row * block_columns + column]; }
    std::uint64_t variable_count() const { return block_columns * circulant_size; }
};

struct QcCodeOptions {
    std::uint64_t rate = 3;
    std::uint64_t seed = 1;
    std::uint64_t message_column_weight = 0;  // 0: the rate's default
};

std::uint64_t default_message_column_weight(std::uint64_t rate);

// A DTMB-shaped code for the rate's profile: parity block columns first, then message
// block columns, so the 5 erased parity bits are the first variables. The parity part is a
// weight-3 first column whose outer shifts cancel in the sum of all block rows, followed by a
// dual-diagonal staircase: it is invertible and encodes in linear time, and unlike a plain
// staircase it leaves no low-weight codewords. Message columns get seeded shifts chosen so
// that the graph has no 4-cycles. Throws std::invalid_argument for a bad rate or weight.
QcBaseMatrix generate_dtmb_like_code(const QcCodeOptions& options);

ldpc::CheckRows expand_base_matrix(const QcBaseMatrix& base);

// The number of check pairs that share two or more variables (each such pair closes a 4-cycle).
std::uint64_t count_four_cycles(const ldpc::CheckRows& rows, std::uint64_t variable_count);

// Systematic encoding of a code made by generate_dtmb_like_code, using its parity structure:
// returns all variables (parity first, then the message).
std::vector<std::uint8_t> encode_dtmb_like_codeword(const QcBaseMatrix& base, std::span<const std::uint8_t> message);

void write_alist(std::ostream& out, const ldpc::CheckRows& rows, std::uint64_t variable_count);

}  // namespace qarel::testgen
