#include "decoder/retry/syndrome_solve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/retry/bit_vector.hpp"
#include "decoder/retry/llr_transforms.hpp"

namespace qarel::retry {
namespace {

constexpr double kCostImprovement = -1e-6;
constexpr std::int32_t kNone = -1;

// The constraints with repeats dropped, or nothing when one is out of range, not a bit, or
// contradicts an earlier one.
std::optional<std::vector<SolveConstraint>> kept_constraints(std::span<const SolveConstraint> constraints,
                                                             std::uint64_t variable_count) {
    std::vector<std::int8_t> required(variable_count, -1);
    std::vector<SolveConstraint> kept;
    for (const SolveConstraint& c : constraints) {
        if (c.full_variable_index >= variable_count || c.bit > 1) return std::nullopt;
        std::int8_t& slot = required[c.full_variable_index];
        if (slot == static_cast<std::int8_t>(c.bit)) continue;
        if (slot != -1) return std::nullopt;
        slot = static_cast<std::int8_t>(c.bit);
        kept.push_back(c);
    }
    return kept;
}

SolveUnknown unknown_of(std::uint64_t v, const VariableCheckCounts& counts, std::span<const float> llrs) {
    const std::uint64_t g = counts.degree[v];
    const std::uint64_t d = counts.unsatisfied[v];
    const std::int64_t delta =
        g < d ? -static_cast<std::int64_t>(d) : static_cast<std::int64_t>(g) - 2 * static_cast<std::int64_t>(d);
    return {v, d, delta, std::fabs(llrs[v])};
}

// Reliability per unsatisfied check; a NaN magnitude sorts last.
double reliability(const SolveUnknown& u) {
    const double r = static_cast<double>(u.llr_magnitude) / (static_cast<double>(u.unsatisfied_check_count) + 1.0);
    return std::isnan(r) ? std::numeric_limits<double>::infinity() : r;
}

std::vector<SolveUnknown> ordered_unknowns(std::span<const std::uint8_t> hard_bits, std::span<const float> llrs,
                                           std::span<const SolveConstraint> kept, std::uint64_t budget,
                                           const ldpc::LdpcGraph& graph) {
    const auto counts = count_variable_checks(graph, hard_bits);
    std::vector<SolveUnknown> candidates;
    for (std::uint64_t v = 0; v < graph.variable_count; ++v)
        if (counts.unsatisfied[v] > 0 || v < ldpc::kErasedParityBits) candidates.push_back(unknown_of(v, counts, llrs));
    std::sort(candidates.begin(), candidates.end(), [](const SolveUnknown& a, const SolveUnknown& b) {
        const double ra = reliability(a), rb = reliability(b);
        if (ra != rb) return ra < rb;
        if (a.flip_syndrome_delta != b.flip_syndrome_delta) return a.flip_syndrome_delta < b.flip_syndrome_delta;
        if (a.unsatisfied_check_count != b.unsatisfied_check_count)
            return a.unsatisfied_check_count > b.unsatisfied_check_count;
        return a.full_variable_index < b.full_variable_index;
    });
    if (candidates.size() > budget) candidates.resize(budget);
    for (const SolveConstraint& c : kept) {
        const bool known = std::any_of(candidates.begin(), candidates.end(), [&](const SolveUnknown& u) {
            return u.full_variable_index == c.full_variable_index;
        });
        if (!known) candidates.push_back(unknown_of(c.full_variable_index, counts, llrs));
    }
    return candidates;
}

// The linear system over GF(2): one row per check, then one per constraint; one column per
// unknown. Eliminated incrementally with each row's pivot the lowest set row of its column.
class Gf2System {
public:
    Gf2System(const ldpc::LdpcGraph& graph, std::span<const SolveConstraint> constraints,
              std::span<const SolveUnknown> unknowns)
        : rows_(graph.check_count() + constraints.size()), unknown_count_(unknowns.size()),
          pivot_of_row_(rows_, kNone) {
        std::vector<std::int32_t> unknown_of_variable(graph.variable_count, kNone);
        for (std::size_t u = 0; u < unknowns.size(); ++u)
            unknown_of_variable[unknowns[u].full_variable_index] = static_cast<std::int32_t>(u);
        columns_.assign(unknowns.size(), BitVector(rows_));
        for (std::uint64_t check = 0; check < graph.check_count(); ++check)
            for (const std::uint64_t v : graph.check_variables(check))
                if (const std::int32_t u = unknown_of_variable[v]; u != kNone) columns_[u].set(check);
        for (std::size_t k = 0; k < constraints.size(); ++k)
            columns_[unknown_of_variable[constraints[k].full_variable_index]].set(graph.check_count() + k);
    }

    void eliminate() {
        for (std::size_t u = 0; u < unknown_count_; ++u) {
            BitVector column = columns_[u];
            BitVector combination(unknown_count_);
            combination.set(u);
            while (true) {
                const auto row = column.lowest_set_bit();
                if (!row) {
                    null_basis_.push_back(std::move(combination));
                    break;
                }
                const std::int32_t pivot = pivot_of_row_[*row];
                if (pivot == kNone) {
                    pivot_of_row_[*row] = static_cast<std::int32_t>(pivot_columns_.size());
                    pivot_columns_.push_back(std::move(column));
                    pivot_combinations_.push_back(std::move(combination));
                    break;
                }
                column ^= pivot_columns_[pivot];
                combination ^= pivot_combinations_[pivot];
            }
        }
    }

    // The combination of unknowns whose columns sum to `rhs`, or nothing when none does.
    std::optional<BitVector> solve(BitVector rhs) const {
        BitVector solution(unknown_count_);
        while (const auto row = rhs.lowest_set_bit()) {
            const std::int32_t pivot = pivot_of_row_[*row];
            if (pivot == kNone) return std::nullopt;
            rhs ^= pivot_columns_[pivot];
            solution ^= pivot_combinations_[pivot];
        }
        return solution;
    }

    std::uint64_t rows() const { return rows_; }
    const std::vector<BitVector>& null_basis() const { return null_basis_; }

private:
    std::uint64_t rows_;
    std::size_t unknown_count_;
    std::vector<BitVector> columns_;
    std::vector<std::int32_t> pivot_of_row_;
    std::vector<BitVector> pivot_columns_;
    std::vector<BitVector> pivot_combinations_;
    std::vector<BitVector> null_basis_;
};

// The change of the total |LLR| of the flipped unknowns if `move` were added to `solution`.
double move_cost(const BitVector& move, const BitVector& solution, std::span<const SolveUnknown> unknowns) {
    double cost = 0.0;
    move.for_each_set_bit([&](std::uint64_t u) {
        const double magnitude = unknowns[u].llr_magnitude;
        cost += solution.test(u) ? -magnitude : magnitude;
    });
    return cost;
}

void minimize_cost(BitVector& solution, const std::vector<BitVector>& basis, std::span<const SolveUnknown> unknowns,
                   std::uint64_t passes) {
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        bool changed = false;
        for (const BitVector& move : basis) {
            if (move_cost(move, solution, unknowns) >= kCostImprovement) continue;
            solution ^= move;
            changed = true;
        }
        if (!changed) break;
    }
}

// Tries candidates against the input bits, with scratch reused from candidate to candidate.
class CandidateJudge {
public:
    CandidateJudge(std::span<std::uint8_t> hard_bits, std::span<const SolveUnknown> unknowns,
                   const AcceptanceTest& accept, const ldpc::LdpcGraph& graph, SolveResult& result)
        : hard_bits_(hard_bits), input_(hard_bits.begin(), hard_bits.end()), trial_(hard_bits.size()),
          unknowns_(unknowns), accept_(accept), graph_(graph), result_(result) {}

    // True when the candidate was accepted and satisfies every check; the bits then hold it.
    bool evaluate(const BitVector& candidate) {
        result_.candidates_evaluated += 1;
        std::copy(input_.begin(), input_.end(), trial_.begin());
        std::uint64_t toggles = 0;
        candidate.for_each_set_bit([&](std::uint64_t u) {
            trial_[unknowns_[u].full_variable_index] ^= 1u;
            ++toggles;
        });
        if (accept_ && !accept_(trial_)) return false;
        if (ldpc::count_unsatisfied_checks(trial_, graph_) != 0) return false;
        std::copy(trial_.begin(), trial_.end(), hard_bits_.begin());
        result_.flips = toggles;
        result_.syndrome_weight = 0;
        result_.converged = true;
        return true;
    }

private:
    std::span<std::uint8_t> hard_bits_;
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> trial_;
    std::span<const SolveUnknown> unknowns_;
    const AcceptanceTest& accept_;
    const ldpc::LdpcGraph& graph_;
    SolveResult& result_;
};

// Null-space combinations of depth 1 to `depth` around the solution, cheapest moves first,
// until one is accepted or the candidate budget is spent.
bool search_null_space(const BitVector& solution, const std::vector<BitVector>& basis,
                       std::span<const SolveUnknown> unknowns, const SolveSettings& settings, CandidateJudge& judge,
                       const SolveResult& result) {
    std::vector<double> costs(basis.size());
    for (std::size_t i = 0; i < basis.size(); ++i) costs[i] = move_cost(basis[i], solution, unknowns);
    std::vector<std::size_t> order(basis.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return costs[a] < costs[b]; });

    BitVector candidate = solution;
    const auto try_moves = [&](std::initializer_list<std::size_t> positions) {
        candidate = solution;
        for (const std::size_t p : positions) candidate ^= basis[order[p]];
        return judge.evaluate(candidate);
    };
    const auto budget_left = [&] { return result.candidates_evaluated < settings.nullspace_search; };
    const std::size_t n = order.size();
    for (std::size_t i = 0; i < n && budget_left(); ++i)
        if (try_moves({i})) return true;
    if (settings.nullspace_depth >= 2)
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                if (!budget_left()) return false;
                if (try_moves({i, j})) return true;
            }
    if (settings.nullspace_depth >= 3)
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j)
                for (std::size_t k = j + 1; k < n; ++k) {
                    if (!budget_left()) return false;
                    if (try_moves({i, j, k})) return true;
                }
    return false;
}

}  // namespace

std::vector<SolveUnknown> select_solve_unknowns(std::span<const std::uint8_t> hard_bits, std::span<const float> llrs,
                                                std::span<const SolveConstraint> constraints,
                                                std::uint64_t unknown_budget, const ldpc::LdpcGraph& graph) {
    const auto kept = kept_constraints(constraints, graph.variable_count);
    if (!kept) return {};
    return ordered_unknowns(hard_bits, llrs, *kept, unknown_budget, graph);
}

SolveResult solve_syndrome(std::span<std::uint8_t> hard_bits, std::span<const float> llrs,
                           std::span<const SolveConstraint> constraints, const SolveSettings& settings,
                           const AcceptanceTest& accept, const ldpc::LdpcGraph& graph) {
    if (hard_bits.size() != graph.variable_count || llrs.size() != graph.variable_count)
        throw std::runtime_error("LDPC final-failed syndrome solve spans do not match graph variable count");
    SolveResult result;
    result.syndrome_weight = ldpc::count_unsatisfied_checks(hard_bits, graph);
    const bool acceptable = result.syndrome_weight == 0 && (!accept || accept(hard_bits));
    if (settings.unknown_budget == 0 || acceptable) {
        result.converged = acceptable;
        return result;
    }

    const auto kept = kept_constraints(constraints, graph.variable_count);
    if (!kept) return result;
    const auto unknowns = ordered_unknowns(hard_bits, llrs, *kept, settings.unknown_budget, graph);
    if (unknowns.empty()) return result;

    Gf2System system(graph, *kept, unknowns);
    system.eliminate();
    BitVector rhs(system.rows());
    for (std::uint64_t check = 0; check < graph.check_count(); ++check) {
        std::uint8_t parity = 0;
        for (const std::uint64_t v : graph.check_variables(check)) parity ^= hard_bits[v] & 1u;
        if (parity != 0) rhs.set(check);
    }
    for (std::size_t k = 0; k < kept->size(); ++k)
        if ((hard_bits[(*kept)[k].full_variable_index] & 1u) != (*kept)[k].bit) rhs.set(graph.check_count() + k);
    auto solution = system.solve(std::move(rhs));
    if (!solution) return result;
    minimize_cost(*solution, system.null_basis(), unknowns, settings.minimize_cost_passes);

    CandidateJudge judge(hard_bits, unknowns, accept, graph, result);
    if (judge.evaluate(*solution)) return result;
    if (accept && !system.null_basis().empty() && result.candidates_evaluated < settings.nullspace_search)
        search_null_space(*solution, system.null_basis(), unknowns, settings, judge, result);
    return result;  // on failure the bits were never touched and the weight is still the input's
}

}  // namespace qarel::retry
