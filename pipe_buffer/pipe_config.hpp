#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qarel::pipe {

struct PipeConfig {
    std::uint64_t buffer_bytes = 64ull << 20;
    std::uint64_t chunk_bytes = 1ull << 20;
    std::uint64_t prefill_bytes = 0;
    std::string diagnostics_path = "-";
    // Status lines every interval while the copy runs; "-" is standard error, as for the report.
    bool status_enabled = false;
    double status_interval_s = 1.0;
    std::string status_path = "-";
    std::string input_path = "-";
    std::string output_path = "-";
};

// An error outside the copy: reported with the usage line and exit status 2.
class PipeSetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// -h / --help: the usage line and exit status 0.
struct HelpRequested {};

// Reads the arguments after the program name; throws PipeSetupError or HelpRequested.
PipeConfig parse_pipe_arguments(std::span<const std::string> arguments);

std::string pipe_usage_line(std::string_view program_name);

// Every option the parser knows, "-h" and "--help" aside; the manual page lists them all.
std::vector<std::string_view> pipe_option_names();

}  // namespace qarel::pipe
