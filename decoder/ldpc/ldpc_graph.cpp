#include "decoder/ldpc/ldpc_graph.hpp"

#include <algorithm>
#include <stdexcept>

namespace qarel::ldpc {

CheckRows CheckRows::from_lists(std::initializer_list<std::initializer_list<std::uint64_t>> rows) {
    CheckRows result;
    for (const auto& row : rows) {
        result.variables.insert(result.variables.end(), row.begin(), row.end());
        result.end_row();
    }
    return result;
}

LdpcGraph build_ldpc_graph(const CheckRows& rows, std::uint64_t variable_count) {
    if (variable_count == 0) throw std::invalid_argument("LDPC graph must have variables");
    LdpcGraph graph;
    graph.variable_count = variable_count;
    graph.check_offsets.reserve(rows.row_count() + 1);
    graph.check_offsets.push_back(0);
    graph.edge_variables.reserve(rows.variables.size());
    for (std::uint64_t r = 0; r < rows.row_count(); ++r) {
        for (const std::uint64_t v : rows.row(r)) {
            if (v >= variable_count) throw std::invalid_argument("LDPC graph variable index is out of range");
            graph.edge_variables.push_back(v);
        }
        graph.check_offsets.push_back(graph.edge_variables.size());
    }
    validate_ldpc_graph(graph);
    return graph;
}

void validate_ldpc_graph(const LdpcGraph& graph) {
    const auto& offsets = graph.check_offsets;
    if (offsets.empty() || offsets.front() != 0) throw std::invalid_argument("LDPC graph check offsets are invalid");
    if (graph.edge_variables.size() != offsets.back()) throw std::invalid_argument("LDPC graph edge count is invalid");
    if (!std::is_sorted(offsets.begin(), offsets.end()))
        throw std::invalid_argument("LDPC graph check offsets must be sorted");
    for (const std::uint64_t v : graph.edge_variables)
        if (v >= graph.variable_count) throw std::invalid_argument("LDPC graph variable index is out of range");
}

std::uint64_t syndrome_weight(std::span<const std::uint8_t> hard_bits, const LdpcGraph& graph) {
    validate_ldpc_graph(graph);
    if (hard_bits.size() != graph.variable_count)
        throw std::invalid_argument("LDPC bit count must match graph variable count");
    return count_unsatisfied_checks(hard_bits, graph);
}

std::uint64_t count_unsatisfied_checks(std::span<const std::uint8_t> hard_bits, const LdpcGraph& graph) {
    std::uint64_t weight = 0;
    for (std::uint64_t c = 0; c < graph.check_count(); ++c) {
        std::uint8_t parity = 0;
        for (const std::uint64_t v : graph.check_variables(c)) parity ^= hard_bits[v];
        weight += parity & 1u;
    }
    return weight;
}

std::uint64_t LdpcGraph::max_check_degree() const {
    std::uint64_t degree = 0;
    for (std::uint64_t c = 0; c < check_count(); ++c) degree = std::max(degree, check_offsets[c + 1] - check_offsets[c]);
    return degree;
}

}  // namespace qarel::ldpc
