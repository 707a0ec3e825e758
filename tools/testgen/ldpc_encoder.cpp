#include "tools/testgen/ldpc_encoder.hpp"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace qarel::testgen {
namespace {

std::uint64_t words_for(std::uint64_t bits) { return (bits + 63) / 64; }

// Rows of packed bits.
class BitRows {
public:
    BitRows(std::uint64_t rows, std::uint64_t bits) : words_(words_for(bits)), data_(rows * words_, 0) {}
    std::uint64_t* row(std::uint64_t r) { return data_.data() + r * words_; }
    bool get(std::uint64_t r, std::uint64_t bit) const { return (data_[r * words_ + bit / 64] >> (bit % 64)) & 1u; }
    void flip(std::uint64_t r, std::uint64_t bit) { data_[r * words_ + bit / 64] ^= std::uint64_t{1} << (bit % 64); }
    void swap_rows(std::uint64_t a, std::uint64_t b) {
        for (std::uint64_t w = 0; w < words_; ++w) std::swap(row(a)[w], row(b)[w]);
    }
    void add_row(std::uint64_t target, std::uint64_t source, std::uint64_t first_word) {
        for (std::uint64_t w = first_word; w < words_; ++w) row(target)[w] ^= row(source)[w];
    }
    std::uint64_t words() const { return words_; }

private:
    std::uint64_t words_;
    std::vector<std::uint64_t> data_;
};

}  // namespace

LdpcEncoder::LdpcEncoder(const ldpc::LdpcGraph& graph, std::uint64_t parity_bits)
    : graph_(graph), parity_bits_(parity_bits), check_words_(words_for(graph.check_count())) {
    ldpc::validate_ldpc_graph(graph_);
    const std::uint64_t checks = graph_.check_count();
    if (parity_bits_ == 0 || parity_bits_ > graph_.variable_count || checks < parity_bits_)
        throw std::invalid_argument("the parity part of the code cannot be inverted");

    // Gauss-Jordan on [H_parity | I]: once the parity part is the identity on the first
    // parity_bits rows, the identity part of those rows is its inverse.
    BitRows parity(checks, parity_bits_);
    BitRows operations(checks, checks);
    for (std::uint64_t c = 0; c < checks; ++c) {
        for (const std::uint64_t v : graph_.check_variables(c))
            if (v < parity_bits_) parity.flip(c, v);
        operations.flip(c, c);
    }
    for (std::uint64_t column = 0; column < parity_bits_; ++column) {
        std::uint64_t pivot = column;
        while (pivot < checks && !parity.get(pivot, column)) ++pivot;
        if (pivot == checks) throw std::invalid_argument("the parity part of the code cannot be inverted");
        parity.swap_rows(pivot, column);
        operations.swap_rows(pivot, column);
        for (std::uint64_t r = 0; r < checks; ++r) {
            if (r == column || !parity.get(r, column)) continue;
            parity.add_row(r, column, column / 64);
            operations.add_row(r, column, 0);
        }
    }
    inverse_.assign(parity_bits_ * check_words_, 0);
    for (std::uint64_t k = 0; k < parity_bits_; ++k)
        std::copy_n(operations.row(k), check_words_, inverse_.begin() + k * check_words_);
}

std::vector<std::uint8_t> LdpcEncoder::encode(std::span<const std::uint8_t> message) const {
    if (message.size() != message_bits()) throw std::invalid_argument("message length does not match the code");
    std::vector<std::uint8_t> codeword(graph_.variable_count, 0);
    std::copy(message.begin(), message.end(), codeword.begin() + parity_bits_);

    // The message's contribution to each check, packed.
    std::vector<std::uint64_t> syndrome(check_words_, 0);
    for (std::uint64_t c = 0; c < graph_.check_count(); ++c) {
        std::uint8_t bit = 0;
        for (const std::uint64_t v : graph_.check_variables(c))
            if (v >= parity_bits_) bit ^= codeword[v];
        if (bit) syndrome[c / 64] |= std::uint64_t{1} << (c % 64);
    }
    for (std::uint64_t k = 0; k < parity_bits_; ++k) {
        const std::uint64_t* row = inverse_.data() + k * check_words_;
        std::uint64_t ones = 0;
        for (std::uint64_t w = 0; w < check_words_; ++w) ones += std::popcount(row[w] & syndrome[w]);
        codeword[k] = static_cast<std::uint8_t>(ones & 1u);
    }
    if (ldpc::count_unsatisfied_checks(codeword, graph_) != 0)
        throw std::invalid_argument("the code's redundant checks are inconsistent with its parity part");
    return codeword;
}

}  // namespace qarel::testgen
