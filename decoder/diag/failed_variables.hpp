#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/diag/json_line.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/retry/llr_transforms.hpp"

namespace qarel::diag {

// Where the final hard decisions of a codeword that did not converge still violate the
// parity checks.
struct FailedVariableSummary {
    std::uint64_t check_count = 0;
    std::uint64_t unsatisfied_check_count = 0;
    std::uint64_t full_hard_one_count = 0;
    std::uint64_t transmitted_hard_one_count = 0;
    // Unsatisfied checks per variable, summed by QAM plane 0..5 and by section (erased
    // parity, transmitted parity, message), over every failing variable.
    std::array<std::uint64_t, 6> qam_plane_involvement{};
    std::array<std::uint64_t, 3> section_involvement{};
    std::vector<retry::FailedVariable> top_variables;  // the ranking of the retries, at most N
};

FailedVariableSummary analyze_failed_variables(std::span<const std::uint8_t> hard_bits, const ldpc::LdpcGraph& graph,
                                               const ldpc::FecProfile& profile, std::uint64_t top);

// Appends the summary as a JSON object value.
void write_failed_variable_summary(JsonLine& line, const FailedVariableSummary& summary,
                                   const ldpc::FecProfile& profile);

}  // namespace qarel::diag
