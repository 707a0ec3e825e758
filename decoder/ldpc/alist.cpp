#include "decoder/ldpc/alist.hpp"

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

namespace qarel::ldpc {
namespace {

// Formatted extraction of unsigned numbers. Once one extraction fails, that number and
// every later one read as 0 without touching the stream again, so a header that claims
// more numbers than the file holds costs no more than the file's own length.
class AlistNumbers {
public:
    explicit AlistNumbers(std::istream& in) : in_(in) {}

    std::uint64_t next() {
        if (failed_) return 0;
        std::uint64_t value = 0;
        if (!(in_ >> value)) {
            failed_ = true;
            return 0;
        }
        return value;
    }

    void skip(std::uint64_t count) {
        for (; count > 0 && !failed_; --count) next();
    }

    bool failed() const { return failed_; }

private:
    std::istream& in_;
    bool failed_ = false;
};

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

[[noreturn]] void throw_entry_out_of_range() { throw std::runtime_error("alist check variable is out of range"); }

// After the stream has failed every remaining number reads as 0, so the first later row
// that keeps any entry fails its range check; otherwise the file is merely incomplete.
void fail_remaining_rows(const std::vector<std::uint64_t>& row_degrees, std::uint64_t first_row,
                         std::uint64_t max_row_degree) {
    for (std::uint64_t r = first_row; r < row_degrees.size(); ++r)
        if (std::min(row_degrees[r], max_row_degree) > 0) throw_entry_out_of_range();
}

}  // namespace

AlistRows parse_alist_rows(std::istream& in, const std::string& path) {
    AlistNumbers numbers(in);
    const std::uint64_t variable_count = numbers.next();
    const std::uint64_t check_count = numbers.next();
    const std::uint64_t max_column_degree = numbers.next();
    const std::uint64_t max_row_degree = numbers.next();
    if (numbers.failed()) throw std::runtime_error("failed to read alist header: " + path);

    numbers.skip(variable_count);  // column degrees are not used
    std::vector<std::uint64_t> row_degrees;
    for (std::uint64_t r = 0; r < check_count && !numbers.failed(); ++r) row_degrees.push_back(numbers.next());
    numbers.skip(saturating_product(variable_count, max_column_degree));  // column lists are not used

    AlistRows result;
    result.variable_count = variable_count;
    for (std::uint64_t r = 0; r < check_count; ++r) {
        if (numbers.failed()) {
            fail_remaining_rows(row_degrees, r, max_row_degree);
            break;
        }
        const std::uint64_t kept = std::min(row_degrees[r], max_row_degree);
        for (std::uint64_t i = 0; i < max_row_degree; ++i) {
            const std::uint64_t entry = numbers.next();
            if (i < kept) {
                if (entry == 0 || entry > variable_count) throw_entry_out_of_range();
                result.rows.variables.push_back(entry - 1);
            } else if (numbers.failed()) {
                break;
            }
        }
        result.rows.end_row();
    }
    if (numbers.failed()) throw std::runtime_error("failed to read complete alist: " + path);
    return result;
}

AlistRows read_alist_rows(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("failed to open alist: " + path);
    return parse_alist_rows(in, path);
}

LdpcGraph load_alist_graph(const std::string& path) {
    const AlistRows alist = read_alist_rows(path);
    return build_ldpc_graph(alist.rows, alist.variable_count);
}

}  // namespace qarel::ldpc
