#include "decoder/retry/ts_context_retry.hpp"

#include <algorithm>

#include "decoder/retry/llr_transforms.hpp"
#include "decoder/retry/syndrome_solve.hpp"
#include "decoder/retry/ts_acceptance.hpp"

namespace qarel::retry {
namespace {

// Template rules for this frame and slot first; without any, and when the decoded codeword
// is clean and well formed but breaks continuity, headers drawn from the context.
std::vector<SolveConstraint> header_constraints(const ContextRetryCodeword& codeword,
                                                std::span<const std::uint8_t> hard_bits,
                                                const ts::TsContinuityContext& context, const RetryContext& rc) {
    const RetryPlan& plan = *rc.plan;
    const ldpc::FecProfile& profile = *rc.profile;
    auto constraints =
        template_rule_constraints(codeword.frame_index, codeword.codeword_slot, plan.ts_header_templates, profile);
    if (!constraints.empty() || !(plan.ts_continuity_headers || plan.ts_continuity_header_templates))
        return constraints;
    TsAcceptance syntax(profile, codeword.codeword_slot, rc.scrambler_reset_bits);
    if (!syntax(hard_bits) || ts_packets_continuous(syntax.bytes(), context)) return constraints;
    if (plan.ts_continuity_header_templates)
        return template_continuity_constraints(syntax.bytes(), context, codeword.codeword_slot, profile);
    return continuity_header_constraints(syntax.bytes(), context, codeword.codeword_slot, profile);
}

}  // namespace

std::optional<ContextRepair> retry_with_ts_context(const ContextRetryCodeword& codeword,
                                                   const ts::TsContinuityContext& context,
                                                   const RetryContext& rc) {
    const RetryAttempt& a = codeword.attempt;
    if (a.final_failed_syndrome_solve_count == 0 || (a.branch_windows != nullptr && a.branch_windows->size() > 1))
        return std::nullopt;
    const ldpc::LdpcGraph& graph = *rc.graph;

    std::vector<float> llrs(codeword.llrs.size());
    build_retry_llrs(graph, codeword.llrs, llrs, llr_transform_of(a));
    erase_final_failed_variables(graph, llrs, codeword.baseline_bits, a.final_failed_erase_count);
    flip_final_failed_variables(graph, llrs, codeword.baseline_bits, a.final_failed_flip_count);
    if (transmitted_llrs_all_zero(llrs)) return std::nullopt;

    ContextRepair repair;
    repair.hard_bits.assign(graph.variable_count, 0);
    ldpc::MinSumSettings settings = rc.plan->retry_decoder_settings;
    settings.attenuation = a.attenuation;
    repair.ldpc = a.layered ? ldpc::decode_min_sum_layered(llrs, graph, repair.hard_bits, settings)
                            : ldpc::decode_min_sum_flooding(llrs, graph, repair.hard_bits, settings);
    bool converged = repair.ldpc.converged;
    if (!converged && a.final_failed_greedy_flip_count > 0)
        converged = greedy_flip_bits(graph, repair.hard_bits, a.final_failed_greedy_flip_count).final_syndrome_weight == 0;

    const auto constraints = header_constraints(codeword, repair.hard_bits, context, rc);
    TsAcceptance full(*rc.profile, codeword.codeword_slot, rc.scrambler_reset_bits, &context);
    const bool accepted_as_decoded = converged && full(repair.hard_bits);
    if (converged && constraints.empty() && !accepted_as_decoded) return std::nullopt;
    if (!accepted_as_decoded) {
        const SolveSettings solve{a.final_failed_syndrome_solve_count, rc.plan->solve_minimize_cost_passes,
                                  rc.plan->solve_nullspace_search, rc.plan->solve_nullspace_depth};
        const AcceptanceTest accept = [&full](std::span<const std::uint8_t> bits) { return full(bits); };
        if (!solve_syndrome(repair.hard_bits, llrs, constraints, solve, accept, graph).converged) return std::nullopt;
    }
    if (!full(repair.hard_bits)) return std::nullopt;
    repair.transport_bytes.assign(full.bytes().begin(), full.bytes().end());
    repair.bch = full.bch_result();
    repair.ldpc = {repair.ldpc.iterations, true, 0};
    return repair;
}

}  // namespace qarel::retry
