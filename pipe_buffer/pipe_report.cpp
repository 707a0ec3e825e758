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
    const auto text = [](std::string_view value) {
        std::string quoted(1, '"');
        quoted += json_escape(value);
        quoted += '"';
        return quoted;
    };
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

std::string format_pipe_status(const PipeLevels& now, double seconds, const PipeLevels& before,
                               double before_seconds, bool final) {
    const double interval = seconds - before_seconds;
    const auto mbyte_per_s = [&](std::uint64_t bytes) {
        return interval > 0 ? static_cast<double>(bytes) / interval / 1e6 : 0.0;
    };
    std::ostringstream out;
    out << "{\"schema\":\"qarel.pipe_status.v1\""
        << ",\"final\":" << (final ? "true" : "false")
        << ",\"seconds\":" << seconds
        << ",\"bytes_in\":" << now.bytes_in
        << ",\"bytes_out\":" << now.bytes_out
        << ",\"buffered_bytes\":" << now.buffered_bytes
        << ",\"max_buffered_bytes\":" << now.max_buffered_bytes
        << ",\"input_stalls\":" << now.input_stalls
        << ",\"output_stalls\":" << now.output_stalls
        << ",\"interval\":{\"seconds\":" << interval
        << ",\"bytes_in\":" << now.bytes_in - before.bytes_in
        << ",\"bytes_out\":" << now.bytes_out - before.bytes_out
        << ",\"in_mbyte_s\":" << mbyte_per_s(now.bytes_in - before.bytes_in)
        << ",\"out_mbyte_s\":" << mbyte_per_s(now.bytes_out - before.bytes_out)
        << ",\"input_stalls\":" << now.input_stalls - before.input_stalls
        << ",\"output_stalls\":" << now.output_stalls - before.output_stalls << "}}\n";
    return out.str();
}

}  // namespace qarel::pipe
