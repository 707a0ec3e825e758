// Throughput of the min-sum decoders on generated codes with BPSK/AWGN input near each
// rate's waterfall: codewords per second, and the time per edge per iteration.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/ldpc/min_sum_lanes.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/qc_code.hpp"

namespace {

using namespace qarel;

constexpr std::size_t kCodewords = 64;

struct Workload {
    ldpc::LdpcGraph graph;
    std::vector<std::vector<float>> llrs;
};

// Es/N0 a little above each generated code's waterfall.
double operating_point_db(std::uint64_t rate) { return rate == 1 ? -1.0 : rate == 2 ? 1.0 : 3.0; }

const Workload& workload(std::uint64_t rate) {
    static std::vector<Workload> cache = [] {
        std::vector<Workload> loads;
        for (std::uint64_t r = 1; r <= 3; ++r) {
            const auto& profile = ldpc::fec_profile_for_rate(r);
            const auto base = testgen::generate_dtmb_like_code({.rate = r});
            Workload load{ldpc::build_ldpc_graph(testgen::expand_base_matrix(base), base.variable_count()), {}};
            const testgen::LdpcEncoder encoder(load.graph, profile.parity_bits());
            testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = operating_point_db(r), .seed = r});
            std::mt19937_64 engine(r);
            for (std::size_t i = 0; i < kCodewords; ++i) {
                std::vector<std::uint8_t> message(profile.message_bits);
                for (auto& bit : message) bit = engine() & 1u;
                auto llrs = channel.transmit(encoder.encode(message));
                std::fill_n(llrs.begin(), profile.erased_parity_bits, 0.0f);
                load.llrs.push_back(std::move(llrs));
            }
            loads.push_back(std::move(load));
        }
        return loads;
    }();
    return cache[rate - 1];
}

template <auto Decode>
void decode_codewords(benchmark::State& state) {
    const Workload& load = workload(static_cast<std::uint64_t>(state.range(0)));
    std::vector<std::uint8_t> bits(load.graph.variable_count);
    std::uint64_t iterations = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto result = Decode(load.llrs[next], load.graph, bits, ldpc::MinSumSettings{50, 0.75f});
        benchmark::DoNotOptimize(bits.data());
        iterations += result.iterations;
        next = (next + 1) % load.llrs.size();
    }
    state.counters["codewords_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                           benchmark::Counter::kIsRate);
    state.counters["s_per_edge_iteration"] = benchmark::Counter(
        static_cast<double>(iterations * load.graph.edge_count()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mean_iterations"] =
        static_cast<double>(iterations) / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}

// The whole pool of codewords per call through a many-codeword kernel (identical results
// to flooding one by one).
template <ldpc::FloodingKernel Kernel>
void decode_codeword_lanes(benchmark::State& state) {
    if (!ldpc::flooding_kernel_available(Kernel)) {
        state.SkipWithError("kernel not supported by this processor");
        return;
    }
    const Workload& load = workload(static_cast<std::uint64_t>(state.range(0)));
    std::vector<std::vector<std::uint8_t>> bits(load.llrs.size(), std::vector<std::uint8_t>(load.graph.variable_count));
    std::vector<ldpc::LdpcDecodeResult> results(load.llrs.size());
    std::vector<ldpc::FloodingJob> jobs;
    for (std::size_t i = 0; i < load.llrs.size(); ++i) jobs.push_back({load.llrs[i], bits[i], &results[i]});
    std::uint64_t iterations = 0;
    for (auto _ : state) {
        ldpc::decode_min_sum_flooding_many(jobs, load.graph, ldpc::MinSumSettings{50, 0.75f}, Kernel);
        for (const auto& result : results) iterations += result.iterations;
    }
    const double codewords = static_cast<double>(state.iterations() * jobs.size());
    state.counters["codewords_per_s"] = benchmark::Counter(codewords, benchmark::Counter::kIsRate);
    state.counters["s_per_edge_iteration"] = benchmark::Counter(
        static_cast<double>(iterations * load.graph.edge_count()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mean_iterations"] = static_cast<double>(iterations) / std::max(1.0, codewords);
}

BENCHMARK(decode_codewords<ldpc::decode_min_sum_flooding>)->Name("flooding")->DenseRange(1, 3)->ArgName("rate");
BENCHMARK(decode_codewords<ldpc::decode_min_sum_layered>)->Name("layered")->DenseRange(1, 3)->ArgName("rate");
BENCHMARK(decode_codeword_lanes<ldpc::FloodingKernel::generic>)
    ->Name("flooding_many_generic")
    ->DenseRange(1, 3)
    ->ArgName("rate");
BENCHMARK(decode_codeword_lanes<ldpc::FloodingKernel::avx2>)->Name("flooding_many_avx2")->DenseRange(1, 3)->ArgName("rate");

}  // namespace

BENCHMARK_MAIN();
