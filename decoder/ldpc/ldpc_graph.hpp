#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace qarel::ldpc {

// Check rows in flat form: row r holds variables[offsets[r] .. offsets[r + 1]).
struct CheckRows {
    std::vector<std::uint64_t> offsets{0};
    std::vector<std::uint64_t> variables;

    std::uint64_t row_count() const { return offsets.size() - 1; }
    std::span<const std::uint64_t> row(std::uint64_t r) const {
        return std::span(variables).subspan(offsets[r], offsets[r + 1] - offsets[r]);
    }
    void end_row() { offsets.push_back(variables.size()); }

    static CheckRows from_lists(std::initializer_list<std::initializer_list<std::uint64_t>> rows);
};

// Parity-check matrix as compressed sparse rows over checks. Check c owns the edges
// check_offsets[c] .. check_offsets[c + 1] - 1; edge_variables names each edge's variable.
struct LdpcGraph {
    std::uint64_t variable_count = 0;
    std::vector<std::uint64_t> check_offsets;
    std::vector<std::uint64_t> edge_variables;

    std::uint64_t check_count() const { return check_offsets.empty() ? 0 : check_offsets.size() - 1; }
    std::uint64_t edge_count() const { return edge_variables.size(); }
    std::span<const std::uint64_t> check_variables(std::uint64_t c) const {
        return std::span(edge_variables).subspan(check_offsets[c], check_offsets[c + 1] - check_offsets[c]);
    }
    // The most edges of one check.
    std::uint64_t max_check_degree() const;
};

// Builds and validates a graph; throws std::invalid_argument on a bad count or index.
LdpcGraph build_ldpc_graph(const CheckRows& rows, std::uint64_t variable_count);

// Throws std::invalid_argument naming the first broken structural invariant.
void validate_ldpc_graph(const LdpcGraph& graph);

// Number of checks whose variables' hard bits XOR to 1.
std::uint64_t syndrome_weight(std::span<const std::uint8_t> hard_bits, const LdpcGraph& graph);

// syndrome_weight for callers that have already validated the graph and the bit count.
std::uint64_t count_unsatisfied_checks(std::span<const std::uint8_t> hard_bits, const LdpcGraph& graph);

}  // namespace qarel::ldpc
