#include "pipe_buffer/pipe_config.hpp"

#include <cerrno>
#include <cstdlib>

namespace qarel::pipe {
namespace {

// Unsigned decimal with strtoull semantics (leading white space and a sign accepted).
std::uint64_t parse_size(const std::string& text, const char* what) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin) throw PipeSetupError("invalid stoull argument");
    if (errno == ERANGE) throw PipeSetupError("stoull argument out of range");
    if (*end != '\0') throw PipeSetupError(std::string("invalid ") + what + ": " + text);
    return value;
}

void require(bool condition, const char* message) {
    if (!condition) throw PipeSetupError(message);
}

}  // namespace

PipeConfig parse_pipe_arguments(std::span<const std::string> arguments) {
    PipeConfig config;
    int positional = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") throw HelpRequested{};
        const bool takes_value = argument == "--buffer-bytes" || argument == "--chunk-bytes" ||
                                 argument == "--prefill-bytes" || argument == "--diagnostics-out";
        if (!takes_value) {
            require(positional < 2, "too many positional arguments");
            (positional++ == 0 ? config.input_path : config.output_path) = argument;
            continue;
        }
        if (i + 1 >= arguments.size()) throw PipeSetupError(argument + " requires a value");
        const std::string& value = arguments[++i];
        if (argument == "--buffer-bytes") config.buffer_bytes = parse_size(value, "buffer size");
        else if (argument == "--chunk-bytes") config.chunk_bytes = parse_size(value, "chunk size");
        else if (argument == "--prefill-bytes") config.prefill_bytes = parse_size(value, "prefill size");
        else config.diagnostics_path = value;
    }
    require(config.buffer_bytes != 0, "--buffer-bytes must be non-zero");
    require(config.chunk_bytes != 0, "--chunk-bytes must be non-zero");
    require(config.chunk_bytes <= config.buffer_bytes, "--chunk-bytes must be <= --buffer-bytes");
    require(config.prefill_bytes <= config.buffer_bytes, "--prefill-bytes must be <= --buffer-bytes");
    return config;
}

std::string pipe_usage_line(std::string_view program_name) {
    return "usage: " + std::string(program_name) + " [--buffer-bytes N] [--chunk-bytes N] [--prefill-bytes N]" +
           " [--diagnostics-out path|-] [input|-] [output|-]\n";
}

}  // namespace qarel::pipe
