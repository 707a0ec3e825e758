#include "pipe_buffer/pipe_config.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iterator>
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

double parse_seconds(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(value) || value < 0.01 || value > 86400.0)
        throw PipeSetupError("invalid status interval: " + text + " (seconds within 0.01..86400)");
    return value;
}

constexpr std::string_view kValueOptions[] = {"--buffer-bytes", "--chunk-bytes", "--prefill-bytes",
                                              "--diagnostics-out", "--status-interval", "--status-out"};

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
        const bool takes_value =
            std::find(std::begin(kValueOptions), std::end(kValueOptions), argument) != std::end(kValueOptions);
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
        else if (argument == "--diagnostics-out") config.diagnostics_path = value;
        else if (argument == "--status-interval") config.status_interval_s = parse_seconds(value);
        else config.status_path = value;
        if (argument.starts_with("--status-")) config.status_enabled = true;
    }
    require(config.buffer_bytes != 0, "--buffer-bytes must be non-zero");
    require(config.chunk_bytes != 0, "--chunk-bytes must be non-zero");
    require(config.chunk_bytes <= config.buffer_bytes, "--chunk-bytes must be <= --buffer-bytes");
    require(config.prefill_bytes <= config.buffer_bytes, "--prefill-bytes must be <= --buffer-bytes");
    return config;
}

std::vector<std::string_view> pipe_option_names() {
    return std::vector<std::string_view>(std::begin(kValueOptions), std::end(kValueOptions));
}

std::string pipe_usage_line(std::string_view program_name) {
    return "usage: " + std::string(program_name) + " [--buffer-bytes N] [--chunk-bytes N] [--prefill-bytes N]" +
           " [--diagnostics-out path|-] [input|-] [output|-]\n";
}

}  // namespace qarel::pipe
