#include "decoder/retry/llr_transforms.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::retry {
namespace {

constexpr std::uint64_t kFirstTransmitted = ldpc::kErasedParityBits;

// |x| as a sort key; a NaN (which finite input never produces) sorts as the largest value,
// which keeps the orderings strict and weak.
float magnitude_key(float x) { return std::isnan(x) ? std::numeric_limits<float>::infinity() : std::fabs(x); }

template <typename BitOf>
VariableCheckCounts count_checks(const ldpc::LdpcGraph& graph, BitOf bit_of, bool with_degree) {
    VariableCheckCounts counts;
    counts.unsatisfied.assign(graph.variable_count, 0);
    if (with_degree) counts.degree.assign(graph.variable_count, 0);
    for (std::uint64_t c = 0; c < graph.check_count(); ++c) {
        const auto variables = graph.check_variables(c);
        std::uint8_t parity = 0;
        for (const std::uint64_t v : variables) {
            parity ^= bit_of(v);
            if (with_degree) ++counts.degree[v];
        }
        if (parity == 0) continue;
        ++counts.unsatisfied_checks;
        for (const std::uint64_t v : variables) ++counts.unsatisfied[v];
    }
    return counts;
}

void require_graph_size(std::size_t size, const ldpc::LdpcGraph& graph, const char* message) {
    if (size != graph.variable_count) throw std::runtime_error(message);
}

void scale_transmitted(std::span<float> llrs, float scale) {
    for (std::size_t v = kFirstTransmitted; v < llrs.size(); ++v) llrs[v] = scale * llrs[v];
}

bool branch_in_windows(std::uint64_t branch, std::span<const BranchWindow> windows) {
    return std::any_of(windows.begin(), windows.end(),
                       [&](const BranchWindow& w) { return w.first <= branch && branch <= w.last; });
}

void erase_selected(std::span<float> llrs, const LlrTransform& t) {
    if (!t.variable_range && t.branch_windows.empty() && t.qam_plane >= kNoQamPlane) return;
    for (std::uint64_t transmitted = 0; transmitted + kFirstTransmitted < llrs.size(); ++transmitted) {
        if (t.variable_range && (transmitted < t.variable_range->first || transmitted > t.variable_range->last)) continue;
        if (!t.branch_windows.empty() && !branch_in_windows(ldpc::branch_of_transmitted(transmitted), t.branch_windows))
            continue;
        if (t.qam_plane < kNoQamPlane && ldpc::qam_plane_of_transmitted(transmitted) != t.qam_plane) continue;
        llrs[transmitted + kFirstTransmitted] = 0.0f;
    }
}

void clip_transmitted(std::span<float> llrs, float clip) {
    for (std::size_t v = kFirstTransmitted; v < llrs.size(); ++v) {
        const float x = llrs[v];
        llrs[v] = x > clip ? clip : (x < -clip ? -clip : x);
    }
}

// Erases the floor(T x fraction) transmitted LLRs of smallest magnitude, found with a
// linear-time selection rather than a sort.
void erase_weakest(std::span<float> llrs, float fraction) {
    const std::uint64_t transmitted = llrs.size() - kFirstTransmitted;
    const auto k = static_cast<std::uint64_t>(std::floor(static_cast<double>(transmitted) * static_cast<double>(fraction)));
    if (k == 0) return;
    std::vector<std::uint32_t> order(transmitted);
    std::iota(order.begin(), order.end(), 0u);
    const auto weaker = [&](std::uint32_t a, std::uint32_t b) {
        return magnitude_key(llrs[a + kFirstTransmitted]) < magnitude_key(llrs[b + kFirstTransmitted]);
    };
    std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(std::min(k, transmitted)), order.end(), weaker);
    for (std::uint64_t i = 0; i < k && i < transmitted; ++i) llrs[order[i] + kFirstTransmitted] = 0.0f;
}

// Erases up to `count` transmitted variables of unsatisfied checks of the LLRs' own hard
// decision: most unsatisfied checks first, then the most confident, then by index.
void erase_unsatisfied(const ldpc::LdpcGraph& graph, std::span<float> llrs, std::uint64_t count) {
    require_graph_size(llrs.size(), graph, "LDPC retry LLR size does not match graph variable count");
    const auto counts =
        count_checks(graph, [&](std::uint64_t v) -> std::uint8_t { return llrs[v] < 0.0f ? 1 : 0; }, false);
    struct Candidate {
        std::uint64_t variable;
        std::uint64_t unsatisfied;
        float magnitude;
    };
    std::vector<Candidate> candidates;
    for (std::uint64_t v = kFirstTransmitted; v < llrs.size(); ++v)
        if (counts.unsatisfied[v] > 0 && llrs[v] != 0.0f) candidates.push_back({v, counts.unsatisfied[v], magnitude_key(llrs[v])});
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.unsatisfied != b.unsatisfied) return a.unsatisfied > b.unsatisfied;
        if (a.magnitude != b.magnitude) return a.magnitude > b.magnitude;
        return a.variable < b.variable;
    });
    const std::size_t erased = std::min<std::uint64_t>(count, candidates.size());
    for (std::size_t i = 0; i < erased; ++i) llrs[candidates[i].variable] = 0.0f;
}

float with_sign_toggled(float x) { return std::copysign(x, std::signbit(x) ? 1.0f : -1.0f); }

}  // namespace

VariableCheckCounts count_variable_checks(const ldpc::LdpcGraph& graph, std::span<const std::uint8_t> hard_bits) {
    if (hard_bits.size() < graph.variable_count)
        throw std::invalid_argument("LDPC hard bits size must match graph variable count");
    return count_checks(graph, [&](std::uint64_t v) -> std::uint8_t { return hard_bits[v] & 1u; }, true);
}

FailedVariableRanking rank_failed_variables(const ldpc::LdpcGraph& graph, std::span<const std::uint8_t> hard_bits,
                                            std::uint64_t limit) {
    const auto counts = count_variable_checks(graph, hard_bits);
    FailedVariableRanking ranking;
    ranking.unsatisfied_checks = counts.unsatisfied_checks;
    for (std::uint64_t v = 0; v < graph.variable_count; ++v) {
        const std::uint64_t d = counts.unsatisfied[v];
        if (d == 0) continue;
        const std::uint64_t g = counts.degree[v];
        const std::uint64_t satisfied = g > d ? g - d : 0;
        ranking.variables.push_back({v, static_cast<std::uint8_t>(hard_bits[v] & 1u), g, satisfied, d,
                                     static_cast<std::int64_t>(satisfied) - static_cast<std::int64_t>(d)});
    }
    const auto before = [](const FailedVariable& a, const FailedVariable& b) {
        if (a.unsatisfied_check_count != b.unsatisfied_check_count)
            return a.unsatisfied_check_count > b.unsatisfied_check_count;
        return a.full_variable_index < b.full_variable_index;
    };
    auto& list = ranking.variables;
    if (limit < list.size()) {
        std::partial_sort(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(limit), list.end(), before);
        list.resize(limit);
    } else {
        std::sort(list.begin(), list.end(), before);
    }
    return ranking;
}

void build_retry_llrs(const ldpc::LdpcGraph& graph, std::span<const float> source, std::span<float> attempt,
                      const LlrTransform& transform) {
    if (attempt.size() != source.size() || source.size() < kFirstTransmitted)
        throw std::runtime_error("LDPC retry LLR size does not match graph variable count");
    std::copy(source.begin(), source.end(), attempt.begin());
    if (transform.scale != 1.0f) scale_transmitted(attempt, transform.scale);
    erase_selected(attempt, transform);
    if (transform.clip > 0.0f) clip_transmitted(attempt, transform.clip);
    erase_weakest(attempt, transform.weak_erase_fraction);
    if (transform.unsatisfied_erase_count > 0) erase_unsatisfied(graph, attempt, transform.unsatisfied_erase_count);
}

bool transmitted_llrs_all_zero(std::span<const float> llrs) {
    return std::all_of(llrs.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(kFirstTransmitted, llrs.size())),
                       llrs.end(), [](float x) { return x == 0.0f; });
}

void erase_ranked_variables(std::span<float> attempt, const FailedVariableRanking& ranking, std::uint64_t count) {
    const std::size_t erased = std::min<std::uint64_t>(count, ranking.variables.size());
    for (std::size_t i = 0; i < erased; ++i) attempt[ranking.variables[i].full_variable_index] = 0.0f;
}

void flip_ranked_variables(std::span<float> attempt, const FailedVariableRanking& ranking, std::uint64_t count) {
    std::uint64_t flipped = 0;
    for (const auto& entry : ranking.variables) {
        if (flipped == count) break;
        if (entry.flip_syndrome_delta >= 0) continue;
        float& llr = attempt[entry.full_variable_index];
        llr = with_sign_toggled(llr);
        ++flipped;
    }
}

void erase_final_failed_variables(const ldpc::LdpcGraph& graph, std::span<float> attempt,
                                  std::span<const std::uint8_t> analysed_bits, std::uint64_t count) {
    if (count == 0) return;
    require_graph_size(analysed_bits.size(), graph, "LDPC final-failed retry spans do not match graph variable count");
    require_graph_size(attempt.size(), graph, "LDPC final-failed retry spans do not match graph variable count");
    erase_ranked_variables(attempt, rank_failed_variables(graph, analysed_bits, count), count);
}

void flip_final_failed_variables(const ldpc::LdpcGraph& graph, std::span<float> attempt,
                                 std::span<const std::uint8_t> analysed_bits, std::uint64_t count) {
    if (count == 0) return;
    const char* message = "LDPC final-failed flip retry spans do not match graph variable count";
    require_graph_size(analysed_bits.size(), graph, message);
    require_graph_size(attempt.size(), graph, message);
    flip_ranked_variables(attempt, rank_failed_variables(graph, analysed_bits, graph.variable_count), count);
}

GreedyFlipResult greedy_flip_bits(const ldpc::LdpcGraph& graph, std::span<std::uint8_t> hard_bits, std::uint64_t count) {
    if (count == 0) return {0, ldpc::syndrome_weight(hard_bits, graph)};
    require_graph_size(hard_bits.size(), graph, "LDPC final-failed greedy flip retry span does not match graph variable count");
    GreedyFlipResult result;
    if (ldpc::count_unsatisfied_checks(hard_bits, graph) == 0) return result;
    while (result.flips < count) {
        const auto ranking = rank_failed_variables(graph, hard_bits, graph.variable_count);
        if (ranking.unsatisfied_checks == 0) break;
        const auto best = std::find_if(ranking.variables.begin(), ranking.variables.end(),
                                       [](const FailedVariable& f) { return f.flip_syndrome_delta < 0; });
        if (best == ranking.variables.end()) break;
        hard_bits[best->full_variable_index] ^= 1u;
        ++result.flips;
    }
    result.final_syndrome_weight = ldpc::count_unsatisfied_checks(hard_bits, graph);
    return result;
}

}  // namespace qarel::retry
