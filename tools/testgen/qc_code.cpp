#include "tools/testgen/qc_code.hpp"

#include <algorithm>
#include <numeric>
#include <ostream>
#include <random>
#include <stdexcept>

namespace qarel::testgen {
namespace {

// Draws from the engine's raw output, so a seed gives the same code on every platform.
class SeededDraw {
public:
    explicit SeededDraw(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t below(std::uint64_t bound) { return engine_() % bound; }

private:
    std::mt19937_64 engine_;
};

std::uint64_t middle_row(std::uint64_t parity_blocks) { return parity_blocks / 2; }

// Two block columns close a 4-cycle when they share two block rows whose shift differences agree.
bool closes_four_cycle(const QcBaseMatrix& base, std::uint64_t column, std::uint64_t other) {
    const auto n = static_cast<int>(base.circulant_size);
    for (std::uint64_t i = 0; i < base.block_rows; ++i) {
        if (base.shift(i, column) == QcBaseMatrix::kZeroBlock || base.shift(i, other) == QcBaseMatrix::kZeroBlock)
            continue;
        for (std::uint64_t j = i + 1; j < base.block_rows; ++j) {
            if (base.shift(j, column) == QcBaseMatrix::kZeroBlock || base.shift(j, other) == QcBaseMatrix::kZeroBlock)
                continue;
            const int difference =
                base.shift(i, column) - base.shift(j, column) - base.shift(i, other) + base.shift(j, other);
            if (((difference % n) + n) % n == 0) return true;
        }
    }
    return false;
}

bool column_is_four_cycle_free(const QcBaseMatrix& base, std::uint64_t column) {
    for (std::uint64_t other = 0; other < column; ++other)
        if (closes_four_cycle(base, column, other)) return false;
    return true;
}

void place_parity_part(QcBaseMatrix& base, SeededDraw& draw) {
    const std::uint64_t p = base.block_rows;
    const int outer_shift = static_cast<int>(1 + draw.below(base.circulant_size - 1));
    base.shift(0, 0) = outer_shift;
    base.shift(middle_row(p), 0) = 0;
    base.shift(p - 1, 0) = outer_shift;
    for (std::uint64_t k = 1; k < p; ++k) {
        base.shift(k - 1, k) = 0;
        base.shift(k, k) = 0;
    }
}

// Rows for the next message column: the least used block rows, ties broken at random.
std::vector<std::uint64_t> pick_rows(const std::vector<std::uint64_t>& row_use, std::uint64_t weight,
                                     SeededDraw& draw) {
    std::vector<std::uint64_t> order(row_use.size());
    std::iota(order.begin(), order.end(), 0);
    for (std::uint64_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[draw.below(i)]);
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return row_use[a] < row_use[b]; });
    order.resize(weight);
    return order;
}

void place_message_column(QcBaseMatrix& base, std::uint64_t column, std::uint64_t weight,
                          std::vector<std::uint64_t>& row_use, SeededDraw& draw) {
    constexpr int kAttempts = 10000;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const auto rows = pick_rows(row_use, weight, draw);
        for (std::uint64_t r = 0; r < base.block_rows; ++r) base.shift(r, column) = QcBaseMatrix::kZeroBlock;
        for (const auto r : rows) base.shift(r, column) = static_cast<int>(draw.below(base.circulant_size));
        if (column_is_four_cycle_free(base, column)) {
            for (const auto r : rows) ++row_use[r];
            return;
        }
    }
    throw std::runtime_error("could not place a message column without 4-cycles; try another seed or weight");
}

}  // namespace

std::uint64_t default_message_column_weight(std::uint64_t rate) {
    switch (rate) {
        case 1: return 5;
        case 2: return 4;
        default: return 3;
    }
}

QcBaseMatrix generate_dtmb_like_code(const QcCodeOptions& options) {
    const DtmbCode& code = dtmb_code(options.rate);
    const std::uint64_t weight =
        options.message_column_weight == 0 ? default_message_column_weight(options.rate) : options.message_column_weight;
    if (weight < 3 || weight > code.parity_circulant_rows)
        throw std::invalid_argument("message column weight must be within 3..number of parity block rows");

    QcBaseMatrix base;
    base.block_rows = code.parity_circulant_rows;
    base.block_columns = code.full_length() / DtmbCode::kCirculant;
    base.circulant_size = DtmbCode::kCirculant;
    base.shifts.assign(base.block_rows * base.block_columns, QcBaseMatrix::kZeroBlock);

    SeededDraw draw(options.seed);
    place_parity_part(base, draw);
    std::vector<std::uint64_t> row_use(base.block_rows, 0);
    for (std::uint64_t column = base.block_rows; column < base.block_columns; ++column)
        place_message_column(base, column, weight, row_use, draw);
    return base;
}

ldpc::CheckRows expand_base_matrix(const QcBaseMatrix& base) {
    const std::uint64_t n = base.circulant_size;
    ldpc::CheckRows rows;
    for (std::uint64_t block_row = 0; block_row < base.block_rows; ++block_row) {
        for (std::uint64_t i = 0; i < n; ++i) {
            for (std::uint64_t column = 0; column < base.block_columns; ++column) {
                const int shift = base.shift(block_row, column);
                if (shift != QcBaseMatrix::kZeroBlock)
                    rows.variables.push_back(column * n + (i + static_cast<std::uint64_t>(shift)) % n);
            }
            rows.end_row();
        }
    }
    return rows;
}

std::uint64_t count_four_cycles(const ldpc::CheckRows& rows, std::uint64_t variable_count) {
    std::vector<std::vector<std::uint64_t>> checks_of_variable(variable_count);
    for (std::uint64_t c = 0; c < rows.row_count(); ++c)
        for (const auto v : rows.row(c)) checks_of_variable[v].push_back(c);

    std::uint64_t cycles = 0;
    std::vector<std::uint64_t> shared(rows.row_count(), 0);
    for (std::uint64_t c = 0; c < rows.row_count(); ++c) {
        std::vector<std::uint64_t> touched;
        for (const auto v : rows.row(c))
            for (const auto other : checks_of_variable[v])
                if (other > c && shared[other]++ == 0) touched.push_back(other);
        for (const auto other : touched) {
            if (shared[other] >= 2) ++cycles;
            shared[other] = 0;
        }
    }
    return cycles;
}

std::vector<std::uint8_t> encode_dtmb_like_codeword(const QcBaseMatrix& base, std::span<const std::uint8_t> message) {
    const std::uint64_t n = base.circulant_size;
    const std::uint64_t p = base.block_rows;
    if (message.size() != (base.block_columns - p) * n)
        throw std::invalid_argument("message length does not match the code");

    std::vector<std::uint8_t> codeword(base.variable_count(), 0);
    std::copy(message.begin(), message.end(), codeword.begin() + p * n);
    const auto block = [&](std::uint64_t column) { return std::span(codeword).subspan(column * n, n); };
    // Adds (xor) the circulant-shifted block `source` into `target`.
    const auto add_shifted = [n](std::span<std::uint8_t> target, std::span<const std::uint8_t> source, int shift) {
        for (std::uint64_t i = 0; i < n; ++i) target[i] ^= source[(i + static_cast<std::uint64_t>(shift)) % n];
    };

    // lambda[i]: the message part's contribution to block row i.
    std::vector<std::vector<std::uint8_t>> lambda(p, std::vector<std::uint8_t>(n, 0));
    for (std::uint64_t row = 0; row < p; ++row)
        for (std::uint64_t column = p; column < base.block_columns; ++column)
            if (base.shift(row, column) != QcBaseMatrix::kZeroBlock)
                add_shifted(lambda[row], block(column), base.shift(row, column));

    // Summing all block rows cancels the staircase and the two outer shifts of the first
    // column, leaving p0 = sum of lambda; the staircase then gives p1 .. p(p-1) in turn.
    auto p0 = block(0);
    for (const auto& part : lambda)
        for (std::uint64_t i = 0; i < n; ++i) p0[i] ^= part[i];
    for (std::uint64_t row = 0; row + 1 < p; ++row) {
        auto next = block(row + 1);
        std::copy(lambda[row].begin(), lambda[row].end(), next.begin());
        if (row > 0) add_shifted(next, block(row), 0);
        if (base.shift(row, 0) != QcBaseMatrix::kZeroBlock) add_shifted(next, p0, base.shift(row, 0));
    }
    return codeword;
}

void write_alist(std::ostream& out, const ldpc::CheckRows& rows, std::uint64_t variable_count) {
    std::vector<std::vector<std::uint64_t>> checks_of_variable(variable_count);
    std::uint64_t max_row_degree = 0;
    for (std::uint64_t c = 0; c < rows.row_count(); ++c) {
        max_row_degree = std::max<std::uint64_t>(max_row_degree, rows.row(c).size());
        for (const auto v : rows.row(c)) checks_of_variable[v].push_back(c);
    }
    std::uint64_t max_column_degree = 0;
    for (const auto& checks : checks_of_variable)
        max_column_degree = std::max<std::uint64_t>(max_column_degree, checks.size());

    const auto write_padded = [&out](const auto& values, std::uint64_t width) {
        for (std::uint64_t i = 0; i < width; ++i) out << (i ? " " : "") << (i < values.size() ? values[i] + 1 : 0);
        out << '\n';
    };
    out << variable_count << ' ' << rows.row_count() << '\n' << max_column_degree << ' ' << max_row_degree << '\n';
    for (std::uint64_t v = 0; v < variable_count; ++v) out << (v ? " " : "") << checks_of_variable[v].size();
    out << '\n';
    for (std::uint64_t c = 0; c < rows.row_count(); ++c) out << (c ? " " : "") << rows.row(c).size();
    out << '\n';
    for (const auto& checks : checks_of_variable) write_padded(checks, max_column_degree);
    for (std::uint64_t c = 0; c < rows.row_count(); ++c) {
        std::vector<std::uint64_t> row(rows.row(c).begin(), rows.row(c).end());
        std::sort(row.begin(), row.end());
        write_padded(row, max_row_degree);
    }
}

}  // namespace qarel::testgen
