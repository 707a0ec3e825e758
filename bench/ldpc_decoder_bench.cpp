// Throughput of the min-sum decoders on generated codes with BPSK/AWGN input near each
// rate's waterfall: codewords per second, and the time per edge per iteration.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
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

// Every kernel through the decoder interface, one decoder kept across calls as a worker
// keeps it. Arguments: the rate, the schedule (0 flooding, 1 layered) and the jobs handed
// over per call: 64 fills the widest lanes four times, 24 and 3 are small calls (a retry's
// attempts come 16 at a time at most) where the lanes drain early.
template <ldpc::LdpcKernel Kernel>
void decode_with_kernel(benchmark::State& state) {
    if (!ldpc::ldpc_kernel_available(Kernel)) {
        state.SkipWithError("kernel not supported by this processor");
        return;
    }
    const Workload& load = workload(static_cast<std::uint64_t>(state.range(0)));
    const auto schedule = state.range(1) == 0 ? ldpc::Schedule::flooding : ldpc::Schedule::layered;
    const auto per_call = static_cast<std::size_t>(state.range(2));
    const auto decoder = ldpc::make_codeword_decoder(load.graph, Kernel);
    std::vector<std::vector<std::uint8_t>> bits(load.llrs.size(), std::vector<std::uint8_t>(load.graph.variable_count));
    std::vector<ldpc::LdpcDecodeResult> results(load.llrs.size());
    std::vector<ldpc::CodewordJob> jobs;
    for (std::size_t i = 0; i < load.llrs.size(); ++i) jobs.push_back({load.llrs[i], bits[i], &results[i]});
    std::uint64_t iterations = 0, codewords = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto call = std::span(jobs).subspan(next, std::min(per_call, jobs.size() - next));
        decoder->decode(call, ldpc::MinSumSettings{50, 0.75f}, schedule);
        for (const auto& job : call) iterations += job.result->iterations;
        codewords += call.size();
        next = (next + call.size()) % jobs.size();
    }
    state.counters["codewords_per_s"] = benchmark::Counter(static_cast<double>(codewords), benchmark::Counter::kIsRate);
    state.counters["s_per_edge_iteration"] = benchmark::Counter(
        static_cast<double>(iterations * load.graph.edge_count()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mean_iterations"] = static_cast<double>(iterations) / std::max<double>(1.0, static_cast<double>(codewords));
}

// Jobs cycling over the workload's codewords, as many as asked, handed out one at a time.
class CyclingJobs final : public ldpc::CodewordJobSource {
public:
    CyclingJobs(const std::vector<ldpc::CodewordJob>& jobs, std::size_t count) : jobs_(jobs), count_(count) {}
    const ldpc::CodewordJob* next() override { return handed_ < count_ ? &jobs_[handed_++ % jobs_.size()] : nullptr; }

private:
    const std::vector<ldpc::CodewordJob>& jobs_;
    std::size_t count_;
    std::size_t handed_ = 0;
};

// A worker as the engine runs it: its decoder takes codewords from the run's queue whenever a
// lane frees up, so the lanes drain only at the end of the input. Here a source of 640 jobs a
// call stands in for the queue. Argument: the rate; flooding, as the baseline decode.
template <ldpc::LdpcKernel Kernel>
void decode_from_queue(benchmark::State& state) {
    if (!ldpc::ldpc_kernel_available(Kernel)) {
        state.SkipWithError("kernel not supported by this processor");
        return;
    }
    constexpr std::size_t kJobsPerCall = 640;
    const Workload& load = workload(static_cast<std::uint64_t>(state.range(0)));
    const auto decoder = ldpc::make_codeword_decoder(load.graph, Kernel);
    std::vector<std::vector<std::uint8_t>> bits(load.llrs.size(), std::vector<std::uint8_t>(load.graph.variable_count));
    std::vector<ldpc::LdpcDecodeResult> results(load.llrs.size());
    std::vector<ldpc::CodewordJob> jobs;
    for (std::size_t i = 0; i < load.llrs.size(); ++i) jobs.push_back({load.llrs[i], bits[i], &results[i]});
    std::uint64_t codewords = 0;
    for (auto _ : state) {
        CyclingJobs source(jobs, kJobsPerCall);
        decoder->decode(source, ldpc::MinSumSettings{50, 0.75f}, ldpc::Schedule::flooding);
        codewords += kJobsPerCall;
    }
    std::uint64_t iterations = 0;
    for (const auto& result : results) iterations += result.iterations;  // each codeword decodes alike every time
    const double mean_iterations = static_cast<double>(iterations) / static_cast<double>(results.size());
    state.counters["codewords_per_s"] = benchmark::Counter(static_cast<double>(codewords), benchmark::Counter::kIsRate);
    state.counters["s_per_edge_iteration"] =
        benchmark::Counter(static_cast<double>(codewords) * mean_iterations * static_cast<double>(load.graph.edge_count()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mean_iterations"] = mean_iterations;
}

BENCHMARK(decode_from_queue<ldpc::LdpcKernel::generic>)->Name("queue_generic")->ArgName("rate")->Arg(3);
BENCHMARK(decode_from_queue<ldpc::LdpcKernel::avx2>)->Name("queue_avx2")->ArgName("rate")->Arg(3);
BENCHMARK(decode_from_queue<ldpc::LdpcKernel::avx512>)->Name("queue_avx512")->ArgName("rate")->Arg(3);

void kernel_arguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"rate", "layered", "per_call"});
    for (const int rate : {1, 2, 3})
        for (const int layered : {0, 1}) b->Args({rate, layered, 64});
    for (const int per_call : {24, 3}) b->Args({3, 0, per_call});
}

BENCHMARK(decode_with_kernel<ldpc::LdpcKernel::plain>)->Name("kernel_plain")->Apply(kernel_arguments);
BENCHMARK(decode_with_kernel<ldpc::LdpcKernel::generic>)->Name("kernel_generic")->Apply(kernel_arguments);
BENCHMARK(decode_with_kernel<ldpc::LdpcKernel::avx2>)->Name("kernel_avx2")->Apply(kernel_arguments);
BENCHMARK(decode_with_kernel<ldpc::LdpcKernel::avx512>)->Name("kernel_avx512")->Apply(kernel_arguments);

}  // namespace

BENCHMARK_MAIN();
