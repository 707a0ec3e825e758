#include "decoder/ldpc/hard_h_graph.hpp"

#include <algorithm>
#include <stdexcept>

namespace qarel::ldpc {

LdpcGraph build_hard_h_graph(const AlistRows& alist, const FecProfile& profile) {
    const LdpcGraph full = build_ldpc_graph(alist.rows, alist.variable_count);
    if (full.variable_count != profile.variable_count())
        throw std::runtime_error("alist variable count does not match DTMB LDPC profile");

    const std::uint64_t erased = profile.erased_parity_bits;
    CheckRows clean;
    for (std::uint64_t c = 0; c < full.check_count(); ++c) {
        const auto row = full.check_variables(c);
        const bool touches_erased = std::any_of(row.begin(), row.end(), [&](std::uint64_t v) { return v < erased; });
        if (row.empty() || touches_erased) continue;
        for (const std::uint64_t v : row) clean.variables.push_back(v - erased);
        clean.end_row();
    }
    if (clean.row_count() == 0) throw std::runtime_error("no clean Appendix-B rows for this profile");
    return build_ldpc_graph(clean, profile.transmitted_bits);
}

LdpcGraph load_hard_h_graph(const std::string& alist_path, std::uint64_t rate) {
    const FecProfile& profile = fec_profile_for_rate(rate);
    return build_hard_h_graph(read_alist_rows(alist_path), profile);
}

}  // namespace qarel::ldpc
