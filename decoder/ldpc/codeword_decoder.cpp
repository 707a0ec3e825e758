#include "decoder/ldpc/codeword_decoder.hpp"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "decoder/ldpc/lane_variants.hpp"

namespace qarel::ldpc {
namespace {

constexpr LdpcKernel kAllKernels[] = {LdpcKernel::plain, LdpcKernel::generic, LdpcKernel::avx2, LdpcKernel::avx512};

// The width-1 variant: the plain decoders, one codeword after another.
class PlainDecoder final : public CodewordDecoder {
public:
    explicit PlainDecoder(const LdpcGraph& graph) : graph_(graph) {}
    LdpcKernel kernel() const override { return LdpcKernel::plain; }
    std::size_t lanes() const override { return 1; }
    void decode(std::span<const CodewordJob> jobs, const MinSumSettings& settings, Schedule schedule) override {
        check_codeword_jobs(jobs, graph_.variable_count, settings);
        for (const CodewordJob& job : jobs) decode_one(job, graph_, settings, schedule);
    }
    void decode(CodewordJobSource& source, const MinSumSettings& settings, Schedule schedule) override {
        validate_min_sum_settings(settings);
        while (const CodewordJob* job = source.next()) {
            check_codeword_jobs(std::span(job, 1), graph_.variable_count, settings);
            decode_one(*job, graph_, settings, schedule);
            source.finished(*job);
        }
    }

private:
    const LdpcGraph& graph_;
};

LdpcKernel kernel_from_environment() {
    const char* forced = std::getenv(kLdpcKernelVariable);
    // The widest kernel the processor has: the workers' lanes run on from batch to batch, so
    // 16 lanes stay as full as 8.
    if (forced == nullptr || *forced == '\0') {
        for (const LdpcKernel kernel : {LdpcKernel::avx512, LdpcKernel::avx2})
            if (ldpc_kernel_available(kernel)) return kernel;
        return LdpcKernel::generic;
    }
    const auto kernel = ldpc_kernel_from_name(forced);
    if (!kernel) throw std::runtime_error(std::string(kLdpcKernelVariable) + " names no LDPC kernel: " + forced);
    if (!ldpc_kernel_available(*kernel))
        throw std::runtime_error(std::string(kLdpcKernelVariable) + " names a kernel this processor lacks: " + forced);
    return *kernel;
}

}  // namespace

std::string_view ldpc_kernel_name(LdpcKernel kernel) {
    switch (kernel) {
        case LdpcKernel::plain: return "plain";
        case LdpcKernel::generic: return "generic";
        case LdpcKernel::avx2: return "avx2";
        case LdpcKernel::avx512: return "avx512";
    }
    return "unknown";
}

std::optional<LdpcKernel> ldpc_kernel_from_name(std::string_view name) {
    for (const LdpcKernel kernel : kAllKernels)
        if (ldpc_kernel_name(kernel) == name) return kernel;
    return std::nullopt;
}

bool ldpc_kernel_available(LdpcKernel kernel) {
    switch (kernel) {
        case LdpcKernel::plain:
        case LdpcKernel::generic: return true;
#if defined(__x86_64__)
        case LdpcKernel::avx2: return __builtin_cpu_supports("avx2");
        case LdpcKernel::avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl");
#else
        case LdpcKernel::avx2:
        case LdpcKernel::avx512: return false;
#endif
    }
    return false;
}

std::size_t ldpc_kernel_lanes(LdpcKernel kernel) {
    switch (kernel) {
        case LdpcKernel::plain: return 1;
        case LdpcKernel::generic: return 8;
        case LdpcKernel::avx2:
        case LdpcKernel::avx512: return 16;
    }
    return 1;
}

std::vector<LdpcKernel> available_ldpc_kernels() {
    std::vector<LdpcKernel> kernels;
    for (const LdpcKernel kernel : kAllKernels)
        if (ldpc_kernel_available(kernel)) kernels.push_back(kernel);
    return kernels;
}

LdpcKernel selected_ldpc_kernel() {
    static const LdpcKernel selected = kernel_from_environment();
    return selected;
}

void decode_one(const CodewordJob& job, const LdpcGraph& graph, const MinSumSettings& settings, Schedule schedule) {
    *job.result = schedule == Schedule::flooding ? decode_min_sum_flooding(job.llrs, graph, job.hard_bits, settings)
                                                 : decode_min_sum_layered(job.llrs, graph, job.hard_bits, settings);
}

void check_codeword_jobs(std::span<const CodewordJob> jobs, std::uint64_t variable_count,
                         const MinSumSettings& settings) {
    if (jobs.size() >= UINT32_MAX) throw std::invalid_argument("too many LDPC decode jobs in one call");
    for (const CodewordJob& job : jobs) {
        if (job.llrs.size() != variable_count || job.hard_bits.size() < variable_count)
            throw std::invalid_argument("LDPC input/output size must match graph variable count");
        if (job.result == nullptr) throw std::invalid_argument("LDPC decode job needs a result");
    }
    validate_min_sum_settings(settings);
}

std::unique_ptr<CodewordDecoder> make_codeword_decoder(const LdpcGraph& graph, LdpcKernel kernel) {
    validate_ldpc_graph(graph);
    if (!ldpc_kernel_available(kernel)) throw std::invalid_argument("LDPC kernel is not available");
    if (kernel == LdpcKernel::plain) return std::make_unique<PlainDecoder>(graph);
    if (graph.edge_count() >= UINT32_MAX || 2 * graph.variable_count > UINT16_MAX + 1u)
        throw std::invalid_argument("LDPC graph is too large for the lane decoder");
    // AVX-512 numbers a check's edges in 16 bits; AVX2, on every such processor, gives the
    // same results for a check of more edges.
    if (kernel == LdpcKernel::avx512 && graph.max_check_degree() > UINT16_MAX + 1u) kernel = LdpcKernel::avx2;
    switch (kernel) {
#if defined(__x86_64__)
        case LdpcKernel::avx2: return lanes::make_avx2_decoder(graph);
        case LdpcKernel::avx512: return lanes::make_avx512_decoder(graph);
#endif
        default: return lanes::make_generic_decoder(graph);
    }
}

}  // namespace qarel::ldpc
