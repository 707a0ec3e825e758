#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "pipe_buffer/pipe_config.hpp"

namespace qarel::pipe {

// Counters each written by one thread only: the reader's *_in, the writer's *_out.
struct PipeStats {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t chunks_in = 0;
    std::uint64_t chunks_out = 0;
};

struct PipeOutcome {
    PipeStats stats;
    std::uint64_t max_buffered_bytes = 0;
    bool prefill_released = false;
    std::uint64_t prefill_released_bytes = 0;
    std::string release_reason = "not-released";
    std::string error;  // the first failure recorded; empty when none
    double duration_s = 0.0;
};

// Copies input to output through a buffer of at most config.buffer_bytes, with one reader
// thread and one writer thread, then flushes the output once. Failures during the copy
// are recorded in the outcome; a thread that cannot be started throws PipeSetupError.
PipeOutcome copy_through_buffer(std::FILE* input, std::FILE* output, const PipeConfig& config);

}  // namespace qarel::pipe
