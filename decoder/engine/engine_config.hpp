#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "decoder/options/run_options.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum_lanes.hpp"
#include "decoder/retry/retry_plan.hpp"

namespace qarel::engine {

// Run-wide, read-only inputs of the batch engine.
struct EngineConfig {
    const options::RunOptions* options = nullptr;
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    std::uint64_t codewords_per_frame = 3;
    std::uint64_t worker_count = 1;
    std::uint64_t scrambler_reset_bits = 0;
    std::ostream* err = nullptr;  // receives the strict-stop line
    const retry::RetryPlan* retry_plan = nullptr;  // none: no retries
    // Kernel that decodes a worker's codewords together, or none to decode them one by one;
    // the output is the same either way.
    std::optional<ldpc::FloodingKernel> many_codeword_kernel = default_many_codeword_kernel();

    // The AVX2 kernel where the processor has it; the portable many-codeword kernel is slower
    // than decoding codewords one by one, so without AVX2 they are decoded alone.
    static std::optional<ldpc::FloodingKernel> default_many_codeword_kernel() {
        const ldpc::FloodingKernel best = ldpc::best_flooding_kernel();
        if (best == ldpc::FloodingKernel::generic) return std::nullopt;
        return best;
    }
};

}  // namespace qarel::engine
