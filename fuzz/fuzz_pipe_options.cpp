// Any argument vector (words separated by NUL bytes) through the pipe buffer's option parser.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "pipe_buffer/pipe_config.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarel;
    auto arguments = fuzz::argument_vector("qarel_pipe_buffer", std::string(reinterpret_cast<const char*>(data), size));
    arguments.erase(arguments.begin());
    try {
        const pipe::PipeConfig config = pipe::parse_pipe_arguments(arguments);
        if (config.buffer_bytes == 0 || config.chunk_bytes == 0 || config.chunk_bytes > config.buffer_bytes) std::abort();
    } catch (const pipe::PipeSetupError& error) {
        if (std::string(error.what()).empty()) std::abort();
    } catch (const pipe::HelpRequested&) {
    }
    return 0;
}
