#include "decoder/ldpc/min_sum_lanes.hpp"

#include <stdexcept>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QAREL_HAVE_X86_KERNELS 1
#endif

namespace qarel::ldpc {
namespace {

constexpr std::uint32_t kNoJob = UINT32_MAX;

// Working arrays of W lanes, interleaved: element [i * W + lane] belongs to the codeword in
// `lane`.
template <std::size_t W>
struct Lanes {
    static constexpr std::size_t kWidth = W;

    std::vector<std::uint32_t> edge_variables;  // narrowed copies of the graph, for the hot loops
    std::vector<std::uint32_t> check_offsets;
    std::vector<float> llrs;
    std::vector<float> posterior;
    std::vector<float> check_to_variable;
    std::vector<float> variable_to_check;
    std::uint32_t job[W];
    std::uint64_t iteration[W];
    bool cleared[W];

    Lanes(const LdpcGraph& graph)
        : edge_variables(graph.edge_variables.begin(), graph.edge_variables.end()),
          check_offsets(graph.check_offsets.begin(), graph.check_offsets.end()),
          llrs(graph.variable_count * W, 0.0f),
          posterior(graph.variable_count * W, 0.0f),
          check_to_variable(graph.edge_count() * W, 0.0f),
          variable_to_check(graph.edge_count() * W, 0.0f) {
        for (std::size_t l = 0; l < W; ++l) {
            job[l] = kNoJob;
            iteration[l] = 0;
            cleared[l] = false;
        }
    }

    std::size_t variables() const { return llrs.size() / W; }
    std::size_t edges() const { return edge_variables.size(); }
    std::size_t checks() const { return check_offsets.size() - 1; }
};

// The hot passes in plain code, lane by lane: the portable model of the vector kernels.
struct GenericPasses {
    static constexpr std::size_t kWidth = 8;
    static constexpr std::size_t W = kWidth;
    using State = Lanes<W>;

    static void check_nodes(State& s, float attenuation) {
        float* c2v = s.check_to_variable.data();
        const float* v2c = s.variable_to_check.data();
        for (std::size_t c = 0; c < s.checks(); ++c) {
            const std::uint32_t begin = s.check_offsets[c];
            const std::uint32_t end = s.check_offsets[c + 1];
            if (end - begin == 1)
                for (std::size_t l = 0; l < W; ++l) c2v[std::size_t{begin} * W + l] = 0.0f;
            if (end - begin < 2) continue;
            float min1[W], min2[W];
            std::uint32_t min1_edge[W], negative[W];
            for (std::size_t l = 0; l < W; ++l) {
                min1[l] = min2[l] = __builtin_inff();
                min1_edge[l] = begin;
                negative[l] = 0;
            }
            for (std::uint32_t e = begin; e < end; ++e) {
                const float* x = v2c + std::size_t{e} * W;
                for (std::size_t l = 0; l < W; ++l) {
                    const float magnitude = __builtin_fabsf(x[l]);
                    if (magnitude < min1[l]) {
                        min2[l] = min1[l];
                        min1[l] = magnitude;
                        min1_edge[l] = e;
                    } else if (magnitude < min2[l]) {
                        min2[l] = magnitude;
                    }
                    negative[l] ^= x[l] < 0.0f ? 1u : 0u;
                }
            }
            for (std::uint32_t e = begin; e < end; ++e) {
                const float* x = v2c + std::size_t{e} * W;
                float* out = c2v + std::size_t{e} * W;
                for (std::size_t l = 0; l < W; ++l) {
                    const float magnitude = attenuation * (min1_edge[l] == e ? min2[l] : min1[l]);
                    out[l] = (negative[l] != (x[l] < 0.0f ? 1u : 0u)) ? -magnitude : magnitude;
                }
            }
        }
    }

    static void posteriors(State& s) {
        float* posterior = s.posterior.data();
        const float* c2v = s.check_to_variable.data();
        for (std::size_t i = 0; i < s.llrs.size(); ++i) posterior[i] = s.llrs[i];
        for (std::size_t e = 0; e < s.edges(); ++e) {
            float* p = posterior + std::size_t{s.edge_variables[e]} * W;
            for (std::size_t l = 0; l < W; ++l) p[l] += c2v[e * W + l];
        }
        float* v2c = s.variable_to_check.data();
        for (std::size_t e = 0; e < s.edges(); ++e) {
            const float* p = posterior + std::size_t{s.edge_variables[e]} * W;
            for (std::size_t l = 0; l < W; ++l) v2c[e * W + l] = p[l] - c2v[e * W + l];
        }
    }

    // Unsatisfied checks per lane of the hard decision of `values` (1 where below 0).
    static void syndromes(const State& s, const float* values, std::uint64_t* weights) {
        for (std::size_t l = 0; l < W; ++l) weights[l] = 0;
        for (std::size_t c = 0; c < s.checks(); ++c) {
            std::uint32_t parity[W] = {};
            for (std::uint32_t e = s.check_offsets[c]; e < s.check_offsets[c + 1]; ++e) {
                const float* v = values + std::size_t{s.edge_variables[e]} * W;
                for (std::size_t l = 0; l < W; ++l) parity[l] ^= v[l] < 0.0f ? 1u : 0u;
            }
            for (std::size_t l = 0; l < W; ++l) weights[l] += parity[l];
        }
    }
};

#ifdef QAREL_HAVE_X86_KERNELS
// The passes with one AVX2 register (8 lanes) per edge or variable. Each lane's arithmetic
// is the scalar operation itself: compares, blends, one multiply, sign flips and additions
// in the same order.
struct Avx2Passes {
    static constexpr std::size_t kWidth = 8;
    static constexpr std::size_t W = kWidth;
    using State = Lanes<W>;

    [[gnu::target("avx2")]] static void check_nodes(State& s, float attenuation) {
        float* c2v = s.check_to_variable.data();
        const float* v2c = s.variable_to_check.data();
        const __m256 sign_bit = _mm256_set1_ps(-0.0f);
        const __m256 zero = _mm256_setzero_ps();
        const __m256 scale = _mm256_set1_ps(attenuation);
        for (std::size_t c = 0; c < s.checks(); ++c) {
            const std::uint32_t begin = s.check_offsets[c];
            const std::uint32_t end = s.check_offsets[c + 1];
            if (end - begin == 1) _mm256_storeu_ps(c2v + std::size_t{begin} * W, zero);
            if (end - begin < 2) continue;
            __m256 min1 = _mm256_set1_ps(__builtin_inff());
            __m256 min2 = min1;
            __m256i min1_edge = _mm256_set1_epi32(static_cast<int>(begin));
            __m256 negative = zero;
            for (std::uint32_t e = begin; e < end; ++e) {
                const __m256 x = _mm256_loadu_ps(v2c + std::size_t{e} * W);
                const __m256 magnitude = _mm256_andnot_ps(sign_bit, x);
                const __m256 smaller = _mm256_cmp_ps(magnitude, min1, _CMP_LT_OQ);
                const __m256 below_second = _mm256_cmp_ps(magnitude, min2, _CMP_LT_OQ);
                min2 = _mm256_blendv_ps(_mm256_blendv_ps(min2, magnitude, below_second), min1, smaller);
                min1 = _mm256_blendv_ps(min1, magnitude, smaller);
                min1_edge = _mm256_castps_si256(_mm256_blendv_ps(
                    _mm256_castsi256_ps(min1_edge), _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(e))), smaller));
                negative = _mm256_xor_ps(negative, _mm256_cmp_ps(x, zero, _CMP_LT_OQ));
            }
            for (std::uint32_t e = begin; e < end; ++e) {
                const __m256 x = _mm256_loadu_ps(v2c + std::size_t{e} * W);
                const __m256 is_min1_edge =
                    _mm256_castsi256_ps(_mm256_cmpeq_epi32(min1_edge, _mm256_set1_epi32(static_cast<int>(e))));
                const __m256 magnitude = _mm256_mul_ps(scale, _mm256_blendv_ps(min1, min2, is_min1_edge));
                const __m256 flip = _mm256_xor_ps(negative, _mm256_cmp_ps(x, zero, _CMP_LT_OQ));
                _mm256_storeu_ps(c2v + std::size_t{e} * W, _mm256_xor_ps(magnitude, _mm256_and_ps(flip, sign_bit)));
            }
        }
    }

    [[gnu::target("avx2")]] static void posteriors(State& s) {
        float* posterior = s.posterior.data();
        const float* c2v = s.check_to_variable.data();
        for (std::size_t i = 0; i < s.llrs.size(); i += W) _mm256_storeu_ps(posterior + i, _mm256_loadu_ps(&s.llrs[i]));
        for (std::size_t e = 0; e < s.edges(); ++e) {
            float* p = posterior + std::size_t{s.edge_variables[e]} * W;
            _mm256_storeu_ps(p, _mm256_add_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(c2v + e * W)));
        }
        float* v2c = s.variable_to_check.data();
        for (std::size_t e = 0; e < s.edges(); ++e) {
            const float* p = posterior + std::size_t{s.edge_variables[e]} * W;
            _mm256_storeu_ps(v2c + e * W, _mm256_sub_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(c2v + e * W)));
        }
    }

    [[gnu::target("avx2")]] static void syndromes(const State& s, const float* values, std::uint64_t* weights) {
        const __m256 zero = _mm256_setzero_ps();
        for (std::size_t l = 0; l < W; ++l) weights[l] = 0;
        for (std::size_t c = 0; c < s.checks(); ++c) {
            int parity = 0;
            for (std::uint32_t e = s.check_offsets[c]; e < s.check_offsets[c + 1]; ++e) {
                const __m256 v = _mm256_loadu_ps(values + std::size_t{s.edge_variables[e]} * W);
                parity ^= _mm256_movemask_ps(_mm256_cmp_ps(v, zero, _CMP_LT_OQ));
            }
            for (std::size_t l = 0; l < W; ++l) weights[l] += (parity >> l) & 1;
        }
    }
};

#endif

template <std::size_t W>
void write_hard_bits(const Lanes<W>& s, const float* values, std::size_t lane, std::span<std::uint8_t> out) {
    for (std::size_t v = 0; v < s.variables(); ++v) out[v] = values[v * W + lane] < 0.0f ? 1 : 0;
}

// Loads a job into a lane: its LLRs, zero check-to-variable messages, and variable-to-check
// messages equal to the LLRs, as a decode alone starts.
template <std::size_t W>
void load_lane(Lanes<W>& s, std::size_t lane, const FloodingJob& job, std::uint32_t index) {
    for (std::size_t v = 0; v < s.variables(); ++v) s.llrs[v * W + lane] = job.llrs[v];
    for (std::size_t e = 0; e < s.edges(); ++e) {
        s.check_to_variable[e * W + lane] = 0.0f;
        s.variable_to_check[e * W + lane] = job.llrs[s.edge_variables[e]];
    }
    s.job[lane] = index;
    s.iteration[lane] = 0;
    s.cleared[lane] = false;
}

// An idle lane decodes zeros, which keeps its arithmetic tame; its results are never read.
template <std::size_t W>
void clear_lane(Lanes<W>& s, std::size_t lane) {
    if (s.cleared[lane]) return;
    for (std::size_t v = 0; v < s.variables(); ++v) s.llrs[v * W + lane] = 0.0f;
    s.job[lane] = kNoJob;
    s.cleared[lane] = true;
}

// Streams the jobs through the lanes. A job whose input is already a codeword finishes at
// once; the others run one iteration per pass until their syndrome is zero or the limit is
// reached, and their lane takes the next job. Lanes are independent, so a lane's codeword
// sees exactly the operations of a decode alone.
template <typename Passes>
void run_jobs(std::span<const FloodingJob> jobs, const LdpcGraph& graph, const MinSumSettings& settings) {
    constexpr std::size_t W = Passes::kWidth;
    typename Passes::State s(graph);
    std::size_t next_job = 0;
    std::uint64_t weights[W];
    const auto fill_lanes = [&] {
        bool loaded = true;
        while (loaded) {  // a job decided without iterating frees its lane again at once
            loaded = false;
            bool fresh[W] = {};
            for (std::size_t l = 0; l < W; ++l) {
                if (s.job[l] != kNoJob) continue;
                if (next_job < jobs.size()) {
                    load_lane(s, l, jobs[next_job], static_cast<std::uint32_t>(next_job));
                    ++next_job;
                    fresh[l] = loaded = true;
                } else {
                    clear_lane(s, l);
                }
            }
            if (!loaded) break;
            Passes::syndromes(s, s.llrs.data(), weights);
            for (std::size_t l = 0; l < W; ++l) {
                if (!fresh[l]) continue;
                const FloodingJob& job = jobs[s.job[l]];
                write_hard_bits(s, s.llrs.data(), l, job.hard_bits);
                if (weights[l] != 0) continue;
                *job.result = {0, true, 0};
                s.job[l] = kNoJob;
            }
        }
    };
    fill_lanes();
    while (true) {
        bool busy = false;
        for (std::size_t l = 0; l < W; ++l) busy = busy || s.job[l] != kNoJob;
        if (!busy) return;
        Passes::check_nodes(s, settings.attenuation);
        Passes::posteriors(s);
        Passes::syndromes(s, s.posterior.data(), weights);
        for (std::size_t l = 0; l < W; ++l) {
            if (s.job[l] == kNoJob) continue;
            const std::uint64_t iteration = ++s.iteration[l];
            if (weights[l] != 0 && iteration < settings.max_iterations) continue;
            const FloodingJob& job = jobs[s.job[l]];
            write_hard_bits(s, s.posterior.data(), l, job.hard_bits);
            *job.result = weights[l] == 0 ? LdpcDecodeResult{iteration, true, 0}
                                          : LdpcDecodeResult{settings.max_iterations, false, weights[l]};
            s.job[l] = kNoJob;
        }
        fill_lanes();
    }
}

void check_jobs(std::span<const FloodingJob> jobs, const LdpcGraph& graph, const MinSumSettings& settings) {
    validate_ldpc_graph(graph);
    for (const FloodingJob& job : jobs) {
        if (job.llrs.size() != graph.variable_count || job.hard_bits.size() < graph.variable_count)
            throw std::invalid_argument("LDPC input/output size must match graph variable count");
        if (job.result == nullptr) throw std::invalid_argument("LDPC flooding job needs a result");
    }
    validate_min_sum_settings(settings);
    if (graph.edge_count() >= UINT32_MAX || graph.variable_count >= UINT32_MAX || jobs.size() >= kNoJob)
        throw std::invalid_argument("LDPC graph or job count is too large for the lane decoder");
}

}  // namespace

bool flooding_kernel_available(FloodingKernel kernel) {
    switch (kernel) {
        case FloodingKernel::generic: return true;
#ifdef QAREL_HAVE_X86_KERNELS
        case FloodingKernel::avx2: return __builtin_cpu_supports("avx2");
#else
        case FloodingKernel::avx2: return false;
#endif
    }
    return false;
}

FloodingKernel best_flooding_kernel() {
    static const FloodingKernel best =
        flooding_kernel_available(FloodingKernel::avx2) ? FloodingKernel::avx2 : FloodingKernel::generic;
    return best;
}

void decode_min_sum_flooding_many(std::span<const FloodingJob> jobs, const LdpcGraph& graph,
                                  const MinSumSettings& settings, FloodingKernel kernel) {
    check_jobs(jobs, graph, settings);
    if (!flooding_kernel_available(kernel)) throw std::invalid_argument("LDPC flooding kernel is not available");
    if (jobs.empty()) return;
    switch (kernel) {
#ifdef QAREL_HAVE_X86_KERNELS
        case FloodingKernel::avx2: return run_jobs<Avx2Passes>(jobs, graph, settings);
#endif
        default: return run_jobs<GenericPasses>(jobs, graph, settings);
    }
}

}  // namespace qarel::ldpc
