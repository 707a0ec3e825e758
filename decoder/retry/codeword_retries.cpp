#include "decoder/retry/codeword_retries.hpp"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "decoder/bch/bch.hpp"
#include "decoder/retry/llr_transforms.hpp"
#include "decoder/retry/syndrome_solve.hpp"
#include "decoder/retry/ts_acceptance.hpp"
#include "decoder/ts/ts_packet.hpp"

namespace qarel::retry {
namespace {

// Attempts are built and decoded up to this many at a time, so the decoder can keep its lanes
// busy while scratch stays small and is reused across chunks.
constexpr std::size_t kAttemptsPerChunk = 16;

class AttemptRunner {
public:
    // Scratch for `chunk_size` attempts: a plan of few attempts needs no more.
    AttemptRunner(const RetryCodeword& codeword, const RetryContext& context, std::size_t chunk_size)
        : codeword_(codeword), context_(context), graph_(*context.graph), n_(graph_.variable_count),
          chunk_size_(std::max<std::size_t>(1, chunk_size)), llrs_(chunk_size_ * n_), bits_(chunk_size_ * n_),
          results_(chunk_size_),
          transport_(context.profile->bytes_per_codeword()) {
        chunk_.reserve(chunk_size_);
    }

    void add(const RetryAttempt& attempt) {
        chunk_.push_back(attempt);
        if (chunk_.size() == chunk_size_) run_chunk();
    }

    RetryOutcome finish(std::span<std::uint8_t> decoded_bits) {
        run_chunk();
        if (outcome_.selected) std::copy(best_bits_.begin(), best_bits_.end(), decoded_bits.begin());
        return outcome_;
    }

private:
    std::span<float> attempt_llrs(std::size_t i) { return std::span(llrs_).subspan(i * n_, n_); }
    std::span<std::uint8_t> attempt_bits(std::size_t i) { return std::span(bits_).subspan(i * n_, n_); }

    void run_chunk() {
        std::vector<std::uint8_t> decodable(chunk_.size(), 0);
        for (std::size_t i = 0; i < chunk_.size(); ++i) {
            build_llrs(chunk_[i], attempt_llrs(i));
            decodable[i] = transmitted_llrs_all_zero(attempt_llrs(i)) ? 0 : 1;
        }
        decode_chunk(decodable);
        for (std::size_t i = 0; i < chunk_.size(); ++i) {
            outcome_.attempts += 1;
            if (decodable[i]) judge(i);
        }
        chunk_.clear();
    }

    void build_llrs(const RetryAttempt& a, std::span<float> llrs) {
        build_retry_llrs(graph_, codeword_.llrs, llrs, llr_transform_of(a));
        if (a.final_failed_erase_count > 0) {
            check_final_failed_sizes("LDPC final-failed retry spans do not match graph variable count", llrs);
            erase_ranked_variables(llrs, baseline_ranking(), a.final_failed_erase_count);
        }
        if (a.final_failed_flip_count > 0) {
            check_final_failed_sizes("LDPC final-failed flip retry spans do not match graph variable count", llrs);
            flip_ranked_variables(llrs, baseline_ranking(), a.final_failed_flip_count);
        }
    }

    void check_final_failed_sizes(const char* message, std::span<const float> llrs) const {
        if (codeword_.baseline_bits.size() != n_ || llrs.size() != n_) throw std::runtime_error(message);
    }

    // Every attempt analyses the same baseline bits, so their full ranking is made once; the
    // first e entries of it are the ranking limited to e.
    const FailedVariableRanking& baseline_ranking() {
        if (!ranking_) ranking_ = rank_failed_variables(graph_, codeword_.baseline_bits, n_);
        return *ranking_;
    }

    // Attempts of equal schedule and attenuation are decoded together, side by side in the
    // decoder's lanes; the results are those of decoding each alone.
    void decode_chunk(const std::vector<std::uint8_t>& decodable) {
        ldpc::MinSumSettings settings = context_.plan->retry_decoder_settings;
        std::vector<std::uint8_t> done(chunk_.size(), 0);
        std::vector<ldpc::CodewordJob> jobs;
        for (std::size_t i = 0; i < chunk_.size(); ++i) {
            if (!decodable[i] || done[i]) continue;
            settings.attenuation = chunk_[i].attenuation;
            const bool layered = chunk_[i].layered;
            jobs.clear();
            for (std::size_t j = i; j < chunk_.size(); ++j) {
                if (!decodable[j] || done[j] || chunk_[j].layered != layered || chunk_[j].attenuation != settings.attenuation)
                    continue;
                jobs.push_back({attempt_llrs(j), attempt_bits(j), &results_[j]});
                done[j] = 1;
            }
            decoder().decode(jobs, settings, layered ? ldpc::Schedule::layered : ldpc::Schedule::flooding);
        }
    }

    ldpc::CodewordDecoder& decoder() {
        if (context_.decoder != nullptr) return *context_.decoder;
        if (!own_decoder_) own_decoder_ = ldpc::make_codeword_decoder(graph_, ldpc::LdpcKernel::plain);
        return *own_decoder_;
    }

    // Finishes attempt i (greedy flip, syndrome solve), tests it with BCH and the packet syntax,
    // and keeps it when it beats the best so far.
    void judge(std::size_t i) {
        const RetryAttempt& a = chunk_[i];
        const auto bits = attempt_bits(i);
        bool converged = results_[i].converged;
        if (!converged && a.final_failed_greedy_flip_count > 0)
            converged = greedy_flip_bits(graph_, bits, a.final_failed_greedy_flip_count).final_syndrome_weight == 0;
        if (!converged && a.final_failed_syndrome_solve_count > 0) converged = solve(i, a.final_failed_syndrome_solve_count);
        if (!converged) return;

        const ldpc::FecProfile& profile = *context_.profile;
        const std::uint64_t offset_bits = codeword_.codeword_slot * profile.bytes_per_codeword() * 8;
        const auto bch = bch::decode_bch_blocks(bits.subspan(profile.parity_bits()), transport_, offset_bits,
                                                context_.scrambler_reset_bits);
        if (bch.unclean_blocks != 0) return;
        if (context_.plan->require_ts_packet_syntax && !ts::is_ts_valid(transport_)) return;

        const std::uint64_t iterations = results_[i].iterations;
        if (outcome_.selected &&
            !improves_on({bch.corrected_errors, iterations}, {outcome_.bch_corrected_errors, outcome_.ldpc.iterations}))
            return;
        outcome_.selected = true;
        outcome_.winner = a;
        outcome_.winner_windows = *a.branch_windows;
        outcome_.winner.branch_windows = nullptr;
        outcome_.ldpc = {iterations, true, 0};
        outcome_.bch_corrected_errors = bch.corrected_errors;
        best_bits_.assign(bits.begin(), bits.end());
    }

    // The syndrome solve of attempt i, accepting a candidate by its packet syntax when the plan
    // asks for it and otherwise any that satisfies the checks.
    bool solve(std::size_t i, std::uint64_t budget) {
        const RetryPlan& plan = *context_.plan;
        AcceptanceTest accept = [](std::span<const std::uint8_t>) { return true; };
        if (plan.require_ts_packet_syntax) {
            if (!syntax_acceptance_)
                syntax_acceptance_.emplace(*context_.profile, codeword_.codeword_slot, context_.scrambler_reset_bits);
            accept = [this](std::span<const std::uint8_t> bits) { return (*syntax_acceptance_)(bits); };
        }
        const SolveSettings settings{budget, plan.solve_minimize_cost_passes, plan.solve_nullspace_search,
                                     plan.solve_nullspace_depth};
        return solve_syndrome(attempt_bits(i), attempt_llrs(i), {}, settings, accept, graph_).converged;
    }

    const RetryCodeword& codeword_;
    const RetryContext& context_;
    const ldpc::LdpcGraph& graph_;
    std::uint64_t n_;
    std::size_t chunk_size_;
    std::vector<RetryAttempt> chunk_;
    std::vector<float> llrs_;
    std::vector<std::uint8_t> bits_;
    std::vector<ldpc::LdpcDecodeResult> results_;
    std::vector<std::uint8_t> transport_;
    std::vector<std::uint8_t> best_bits_;
    std::optional<FailedVariableRanking> ranking_;
    std::optional<TsAcceptance> syntax_acceptance_;
    std::unique_ptr<ldpc::CodewordDecoder> own_decoder_;
    RetryOutcome outcome_;
};

}  // namespace

std::uint64_t attempt_count(const RetryPlan& plan, const std::vector<BranchWindowSet>& window_sets) {
    const std::uint64_t combinations =
        plan.llr_scales.size() * plan.llr_clips.size() * plan.weak_erase_fractions.size() *
        plan.unsatisfied_erase_counts.size() * plan.final_failed_erase_counts.size() *
        plan.final_failed_flip_counts.size() * plan.final_failed_greedy_flip_counts.size() *
        plan.final_failed_syndrome_solve_counts.size() * plan.attenuations.size() * (plan.variable_ranges.size() + 1) *
        window_sets.size() * plan.qam_planes.size() * (plan.layered ? 2 : 1);
    return combinations - 1;  // the first combination repeats the baseline
}

std::string branch_window_group_text(const BranchWindowSet& windows) {
    std::string text;
    for (const auto& w : windows) {
        if (!text.empty()) text += ',';
        text += std::to_string(w.first) + ':' + std::to_string(w.last);
    }
    return text;
}

RetryOutcome run_codeword_retries(const RetryCodeword& codeword, std::span<std::uint8_t> decoded_bits,
                                  const RetryContext& context) {
    const auto window_sets = branch_window_sets(*context.plan, codeword.frame_index);
    const std::uint64_t attempts = attempt_count(*context.plan, window_sets);
    AttemptRunner runner(codeword, context, static_cast<std::size_t>(std::min<std::uint64_t>(attempts, kAttemptsPerChunk)));
    for_each_attempt(*context.plan, window_sets, [&](const RetryAttempt& attempt) { runner.add(attempt); });
    return runner.finish(decoded_bits);
}

}  // namespace qarel::retry
