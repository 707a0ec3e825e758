#pragma once

#include <string>
#include <string_view>

#include "pipe_buffer/pipe_config.hpp"
#include "pipe_buffer/pipe_copy.hpp"

namespace qarel::pipe {

// Escapes a string for a JSON string literal: tab, newline, carriage return, double quote
// and backslash by their two-character escapes, any other control byte as \u00XX, every
// other byte unchanged.
std::string json_escape(std::string_view text);

// The one-line JSON report of a run, newline included.
std::string format_pipe_report(const PipeConfig& config, const PipeOutcome& outcome);

// One "qarel.pipe_status.v1" line, newline included: the levels at `seconds` into the copy
// and the throughput since the line before (`before`, `before_seconds`).
std::string format_pipe_status(const PipeLevels& now, double seconds, const PipeLevels& before,
                               double before_seconds, bool final);

}  // namespace qarel::pipe
