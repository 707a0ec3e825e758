#include "pipe_buffer/pipe_report.hpp"

#include <iomanip>
#include <sstream>

namespace qarel::pipe {

std::string json_escape(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\t': escaped += "\\t"; break;
            case '\n': escaped += "\\n"; break;
            case '\r': escaped += "\\r"; break;
            case '"': escaped += "\\\""; break;
            case '\\': escaped += "\\\\"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    escaped += "\\u00";
                    escaped += kHex[(c >> 4) & 0xf];
                    escaped += kHex[c & 0xf];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string format_pipe_report(const PipeConfig& config, const PipeOutcome& outcome) {
    const auto text = [](std::string_view value) { return "\"" + json_escape(value) + "\""; };
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    std::ostringstream out;
    out << "{\"schema\":\"qarel.pipe_buffer.v1\""
        << ",\"verdict\":" << (outcome.error.empty() ? "\"ok\"" : "\"error\"")
        << ",\"input\":" << text(config.input_path)
        << ",\"output\":" << text(config.output_path)
        << ",\"buffer_bytes\":" << config.buffer_bytes
        << ",\"chunk_bytes\":" << config.chunk_bytes
        << ",\"prefill_bytes\":" << config.prefill_bytes
        << ",\"prefill_released\":" << flag(outcome.prefill_released)
        << ",\"prefill_released_bytes\":" << outcome.prefill_released_bytes
        << ",\"prefill_reached\":" << flag(outcome.prefill_released_bytes >= config.prefill_bytes)
        << ",\"prefill_release_reason\":" << text(outcome.release_reason)
        << ",\"bytes_in\":" << outcome.stats.bytes_in
        << ",\"bytes_out\":" << outcome.stats.bytes_out
        << ",\"chunks_in\":" << outcome.stats.chunks_in
        << ",\"chunks_out\":" << outcome.stats.chunks_out
        << ",\"max_buffered_bytes\":" << outcome.max_buffered_bytes
        << ",\"duration_s\":" << std::setprecision(9) << outcome.duration_s;
    if (!outcome.error.empty()) out << ",\"error\":" << text(outcome.error);
    out << "}\n";
    return out.str();
}

}  // namespace qarel::pipe
