#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "pipe_buffer/pipe_config.hpp"

namespace qarel::pipe {

// Counters each written by one thread only, the reader's *_in and the writer's *_out, under the
// copy's lock.
struct PipeStats {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t chunks_in = 0;
    std::uint64_t chunks_out = 0;
};

// The buffer's state and how often either side had to wait: the reader for room (the
// output is slower), the writer for data once prefill released it (the input is slower).
struct PipeLevels {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t buffered_bytes = 0;
    std::uint64_t max_buffered_bytes = 0;
    std::uint64_t input_stalls = 0;
    std::uint64_t output_stalls = 0;
};

// Asks the copy to hand its levels to `report` every interval while it runs, on the
// calling thread.
struct PipeLevelWatch {
    double interval_s = 1.0;
    std::function<void(const PipeLevels&)> report;
};

struct PipeOutcome {
    PipeStats stats;
    PipeLevels levels;  // at the end
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
PipeOutcome copy_through_buffer(std::FILE* input, std::FILE* output, const PipeConfig& config,
                                const PipeLevelWatch* watch = nullptr);

}  // namespace qarel::pipe
