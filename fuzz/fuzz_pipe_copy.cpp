// The pipe buffer's copy loop with small buffers, chunks and prefills drawn from the input:
// every byte that goes in comes out, in order, and nothing is reported as failed. Levels
// watched while it runs stay within the buffer and never go back; what has gone in and not yet
// out is the buffer's content plus at most the chunk being written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "pipe_buffer/pipe_copy.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarel;
    fuzz::FuzzInput input(data, size);
    pipe::PipeConfig config;
    config.buffer_bytes = 1 + input.below(64) * (input.flag() ? 64 : 1);
    config.chunk_bytes = 1 + input.below(config.buffer_bytes);
    config.prefill_bytes = input.below(config.buffer_bytes + 1);
    const bool watched = input.flag();
    std::string payload = input.rest();

    pipe::PipeLevels last;
    const pipe::PipeLevelWatch watch{0.0001, [&](const pipe::PipeLevels& now) {
                                         if (now.buffered_bytes > config.buffer_bytes || now.bytes_out > now.bytes_in ||
                                             now.bytes_in < last.bytes_in || now.bytes_out < last.bytes_out ||
                                             now.bytes_in - now.bytes_out < now.buffered_bytes ||
                                             now.bytes_in - now.bytes_out > now.buffered_bytes + config.chunk_bytes)
                                             std::abort();
                                         last = now;
                                     }};

    std::FILE* in = payload.empty() ? std::fopen("/dev/null", "rb") : fmemopen(payload.data(), payload.size(), "rb");
    char* written = nullptr;
    std::size_t written_size = 0;
    std::FILE* out = open_memstream(&written, &written_size);
    if (in == nullptr || out == nullptr) std::abort();
    const pipe::PipeOutcome outcome = pipe::copy_through_buffer(in, out, config, watched ? &watch : nullptr);
    std::fclose(in);
    std::fclose(out);
    const bool same = written_size == payload.size() && std::memcmp(written, payload.data(), payload.size()) == 0;
    std::free(written);
    if (!outcome.error.empty() || !same) std::abort();
    if (outcome.stats.bytes_in != payload.size() || outcome.stats.bytes_out != payload.size()) std::abort();
    if (outcome.max_buffered_bytes > config.buffer_bytes) std::abort();
    if (outcome.levels.bytes_out != payload.size() || outcome.levels.buffered_bytes != 0) std::abort();
    return 0;
}
