// Cost of the retry strategies: attempts per second and recovered codewords per second of
// run_codeword_retries on codewords whose baseline decode fails, decoding the flooding
// attempts one by one or through the many-codeword kernel; and syndrome solves per second
// at a few budgets of unknowns.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/retry/codeword_retries.hpp"
#include "decoder/retry/syndrome_solve.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/qc_code.hpp"

namespace {

using namespace qarel;

struct Workload {
    ldpc::LdpcGraph graph;
    retry::RetryPlan plan;
    std::vector<std::vector<float>> llrs;
    std::vector<std::vector<std::uint8_t>> baseline_bits;
};

// Rate-3 codewords (the all-zero codeword, whose BCH blocks are clean) through BPSK noise
// at 4 dB with branches 20..23 arriving inverted: the baseline fails, and a sweep of 4-branch
// windows finds the lost one. 49 attempts per codeword.
const Workload& workload() {
    static const Workload load = [] {
        const auto& profile = ldpc::fec_profile_for_rate(3);
        const auto base = testgen::generate_dtmb_like_code({.rate = 3});
        Workload w{ldpc::build_ldpc_graph(testgen::expand_base_matrix(base), base.variable_count()), {}, {}, {}};
        const auto options = cli::parse_command_line(std::vector<std::string>{
            "qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a", "--retry-branch-window-sweep", "0:51:4:4"});
        w.plan = retry::build_retry_plan(options);
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = 4.0, .seed = 7});
        while (w.llrs.size() < 16) {
            auto transmitted = channel.transmit(std::vector<std::uint8_t>(profile.transmitted_bits, 0));
            for (std::uint64_t t = 0; t < transmitted.size(); ++t)
                if (ldpc::branch_of_transmitted(t) >= 20 && ldpc::branch_of_transmitted(t) <= 23) transmitted[t] = -transmitted[t];
            std::vector<float> llrs(profile.erased_parity_bits, 0.0f);
            llrs.insert(llrs.end(), transmitted.begin(), transmitted.end());
            std::vector<std::uint8_t> bits(w.graph.variable_count);
            if (ldpc::decode_min_sum_flooding(llrs, w.graph, bits, w.plan.baseline_decoder_settings).converged) continue;
            w.llrs.push_back(std::move(llrs));
            w.baseline_bits.push_back(std::move(bits));
        }
        return w;
    }();
    return load;
}

void retry_codewords(benchmark::State& state) {
    const bool use_kernel = state.range(0) != 0;
    const Workload& w = workload();
    const auto decoder =
        ldpc::make_codeword_decoder(w.graph, use_kernel ? ldpc::selected_ldpc_kernel() : ldpc::LdpcKernel::plain);
    const retry::RetryContext context{&ldpc::fec_profile_for_rate(3), &w.graph, &w.plan, 0, decoder.get()};
    std::vector<std::uint8_t> bits(w.graph.variable_count);
    std::uint64_t attempts = 0, recovered = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto outcome =
            retry::run_codeword_retries({w.llrs[next], w.baseline_bits[next], 0, 1}, bits, context);
        attempts += outcome.attempts;
        recovered += outcome.selected ? 1 : 0;
        next = (next + 1) % w.llrs.size();
    }
    state.counters["attempts_per_s"] = benchmark::Counter(static_cast<double>(attempts), benchmark::Counter::kIsRate);
    state.counters["recovered_per_s"] = benchmark::Counter(static_cast<double>(recovered), benchmark::Counter::kIsRate);
    state.counters["recovered_share"] =
        static_cast<double>(recovered) / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}

// The hard bits one flooding iteration leaves on rate-3 codewords at 3.5 dB, solved with a
// budget of unknowns.
struct SolveWorkload {
    ldpc::LdpcGraph graph;
    std::vector<std::vector<float>> llrs;
    std::vector<std::vector<std::uint8_t>> bits;
};

const SolveWorkload& solve_workload() {
    static const SolveWorkload load = [] {
        const auto& profile = ldpc::fec_profile_for_rate(3);
        const auto base = testgen::generate_dtmb_like_code({.rate = 3});
        SolveWorkload w{ldpc::build_ldpc_graph(testgen::expand_base_matrix(base), base.variable_count()), {}, {}};
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = 3.5, .seed = 11});
        while (w.llrs.size() < 16) {
            const auto transmitted = channel.transmit(std::vector<std::uint8_t>(profile.transmitted_bits, 0));
            std::vector<float> llrs(profile.erased_parity_bits, 0.0f);
            llrs.insert(llrs.end(), transmitted.begin(), transmitted.end());
            std::vector<std::uint8_t> bits(w.graph.variable_count);
            if (ldpc::decode_min_sum_flooding(llrs, w.graph, bits, {1, 0.75f}).converged) continue;
            w.llrs.push_back(std::move(llrs));
            w.bits.push_back(std::move(bits));
        }
        return w;
    }();
    return load;
}

void solve_syndromes(benchmark::State& state) {
    const SolveWorkload& w = solve_workload();
    const retry::SolveSettings settings{static_cast<std::uint64_t>(state.range(0)), 2, 0, 2};
    std::vector<std::uint8_t> bits;
    std::uint64_t solved = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        bits = w.bits[next];
        solved += retry::solve_syndrome(bits, w.llrs[next], {}, settings, {}, w.graph).converged ? 1 : 0;
        next = (next + 1) % w.llrs.size();
    }
    state.counters["solves_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["solved_share"] =
        static_cast<double>(solved) / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}

BENCHMARK(solve_syndromes)->Name("syndrome_solve")->Arg(50)->Arg(200)->Arg(800)->ArgName("unknowns")->Unit(benchmark::kMillisecond);
BENCHMARK(retry_codewords)->Name("window_sweep_retries")->Arg(0)->Arg(1)->ArgName("kernel")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
