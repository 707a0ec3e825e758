#include "decoder/ldpc/min_sum.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace qarel::ldpc {
namespace {

void check_arguments(std::span<const float> llrs, const LdpcGraph& graph, std::span<std::uint8_t> hard_bits,
                     const MinSumSettings& settings) {
    validate_ldpc_graph(graph);
    if (llrs.size() != graph.variable_count || hard_bits.size() < graph.variable_count)
        throw std::invalid_argument("LDPC input/output size must match graph variable count");
    validate_min_sum_settings(settings);
}

// Writes hard decisions (1 exactly for a negative value; 0 and -0 decide 0) and returns the
// syndrome weight of the result.
std::uint64_t decide(std::span<const float> values, const LdpcGraph& graph, std::span<std::uint8_t> hard_bits) {
    for (std::size_t v = 0; v < values.size(); ++v) hard_bits[v] = values[v] < 0.0f ? 1 : 0;
    return count_unsatisfied_checks(hard_bits.first(values.size()), graph);
}

// The check-node rule over one check's incoming values: the two smallest magnitudes (the
// first edge to reach the minimum keeps it, so a tie leaves min2 equal to min1), the edge of
// the smallest, and the parity of the negative signs.
struct CheckSummary {
    float min1 = std::numeric_limits<float>::infinity();
    float min2 = std::numeric_limits<float>::infinity();
    std::size_t min1_edge = 0;
    bool negative = false;

    void add(std::size_t edge, float x) {
        const float magnitude = std::fabs(x);
        if (magnitude < min1) {
            min2 = min1;
            min1 = magnitude;
            min1_edge = edge;
        } else if (magnitude < min2) {
            min2 = magnitude;
        }
        negative ^= x < 0.0f;
    }

    // attenuation x s x sign(x) x magnitude; the sign factors are exact, so the only rounding is
    // attenuation x magnitude.
    float message(std::size_t edge, float x, float attenuation) const {
        const float magnitude = attenuation * (edge == min1_edge ? min2 : min1);
        return (negative != (x < 0.0f)) ? -magnitude : magnitude;
    }
};

}  // namespace

void validate_min_sum_settings(const MinSumSettings& settings) {
    if (settings.max_iterations == 0) throw std::invalid_argument("LDPC max iterations must be positive");
    if (!(settings.attenuation > 0.0f) || !std::isfinite(settings.attenuation))
        throw std::invalid_argument("LDPC attenuation must be positive and finite");
}

LdpcDecodeResult decode_min_sum_flooding(std::span<const float> llrs, const LdpcGraph& graph,
                                         std::span<std::uint8_t> hard_bits, const MinSumSettings& settings) {
    check_arguments(llrs, graph, hard_bits, settings);
    std::uint64_t weight = decide(llrs, graph, hard_bits);
    if (weight == 0) return {0, true, 0};

    const auto& variables = graph.edge_variables;
    const std::size_t edges = graph.edge_count();
    std::vector<float> check_to_variable(edges, 0.0f);
    std::vector<float> variable_to_check(edges);
    std::vector<float> posterior(llrs.size());
    for (std::size_t e = 0; e < edges; ++e) variable_to_check[e] = llrs[variables[e]];

    for (std::uint64_t iteration = 1; iteration <= settings.max_iterations; ++iteration) {
        for (std::uint64_t c = 0; c < graph.check_count(); ++c) {
            const std::size_t begin = graph.check_offsets[c];
            const std::size_t end = graph.check_offsets[c + 1];
            if (end - begin == 1) check_to_variable[begin] = 0.0f;
            if (end - begin < 2) continue;
            CheckSummary summary;
            for (std::size_t e = begin; e < end; ++e) summary.add(e, variable_to_check[e]);
            for (std::size_t e = begin; e < end; ++e)
                check_to_variable[e] = summary.message(e, variable_to_check[e], settings.attenuation);
        }
        std::copy(llrs.begin(), llrs.end(), posterior.begin());
        for (std::size_t e = 0; e < edges; ++e) posterior[variables[e]] += check_to_variable[e];
        for (std::size_t e = 0; e < edges; ++e) variable_to_check[e] = posterior[variables[e]] - check_to_variable[e];
        weight = decide(posterior, graph, hard_bits);
        if (weight == 0) return {iteration, true, 0};
    }
    return {settings.max_iterations, false, weight};
}

LdpcDecodeResult decode_min_sum_layered(std::span<const float> llrs, const LdpcGraph& graph,
                                        std::span<std::uint8_t> hard_bits, const MinSumSettings& settings) {
    check_arguments(llrs, graph, hard_bits, settings);
    std::uint64_t weight = decide(llrs, graph, hard_bits);
    if (weight == 0) return {0, true, 0};

    const auto& variables = graph.edge_variables;
    std::vector<float> check_to_variable(graph.edge_count(), 0.0f);
    std::vector<float> posterior(llrs.begin(), llrs.end());

    for (std::uint64_t iteration = 1; iteration <= settings.max_iterations; ++iteration) {
        for (std::uint64_t c = 0; c < graph.check_count(); ++c) {
            const std::size_t begin = graph.check_offsets[c];
            const std::size_t end = graph.check_offsets[c + 1];
            if (end - begin == 1) {
                posterior[variables[begin]] -= check_to_variable[begin];
                check_to_variable[begin] = 0.0f;
            }
            if (end - begin < 2) continue;
            CheckSummary summary;
            for (std::size_t e = begin; e < end; ++e) summary.add(e, posterior[variables[e]] - check_to_variable[e]);
            for (std::size_t e = begin; e < end; ++e) {
                const float incoming = posterior[variables[e]] - check_to_variable[e];
                const float message = summary.message(e, incoming, settings.attenuation);
                posterior[variables[e]] = incoming + message;
                check_to_variable[e] = message;
            }
        }
        weight = decide(posterior, graph, hard_bits);
        if (weight == 0) return {iteration, true, 0};
    }
    return {settings.max_iterations, false, weight};
}

}  // namespace qarel::ldpc
