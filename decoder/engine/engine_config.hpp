#pragma once

#include <cstdint>
#include <iosfwd>

#include "decoder/options/run_options.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
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
    // The LDPC kernel of the workers' decoders; every kernel gives the same output.
    ldpc::LdpcKernel kernel = ldpc::selected_ldpc_kernel();
};

}  // namespace qarel::engine
