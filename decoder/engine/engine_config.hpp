#pragma once

#include <cstdint>
#include <iosfwd>

#include "decoder/cli/run_options.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::engine {

// Run-wide, read-only inputs of the batch engine.
struct EngineConfig {
    const cli::RunOptions* options = nullptr;
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    std::uint64_t codewords_per_frame = 3;
    std::uint64_t worker_count = 1;
    std::uint64_t scrambler_reset_bits = 0;
    std::ostream* err = nullptr;  // receives the strict-stop line
};

}  // namespace qarel::engine
