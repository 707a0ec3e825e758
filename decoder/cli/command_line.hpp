#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/options/run_options.hpp"

namespace qarel::cli {

using options::LdpcAccel;
using options::RunOptions;

inline constexpr std::string_view kDecoderProgramName = "qarel_ldpc_bch_decode";

// Ends the run with the usage text: status 2 for a usage error, 0 for -h / --help.
class UsageExit : public std::runtime_error {
public:
    explicit UsageExit(int exit_status)
        : std::runtime_error(exit_status == 0 ? "help requested" : "usage error"), exit_status_(exit_status) {}
    int exit_status() const { return exit_status_; }

private:
    int exit_status_;
};

// Scans the argument vector (element 0 is the program name) and runs the option checks
// that need nothing but the command line. Throws UsageExit, or the check's error.
RunOptions parse_command_line(std::span<const std::string> arguments);

// The checks that follow scanning, in their fixed order, then the derived settings.
void validate_options(RunOptions& options, std::span<const std::string> arguments);

std::uint64_t parse_qam_mode(const std::string& text);
LdpcAccel parse_ldpc_accel(const std::string& text);
// "fail" (the default) or "erase"; true for erase.
bool parse_nonfinite_policy(const std::string& text);

// Every option the parser knows, "-h" and "--help" aside; the manual page lists them all.
std::vector<std::string_view> decoder_option_names();

std::string usage_text(std::string_view program_name);
void print_usage(std::ostream& out, std::string_view program_name);

}  // namespace qarel::cli
