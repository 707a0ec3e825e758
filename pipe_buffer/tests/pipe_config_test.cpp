#include <gtest/gtest.h>

#include "pipe_buffer/pipe_config.hpp"
#include "pipe_buffer/pipe_report.hpp"

namespace qarel::pipe {
namespace {

std::string setup_error(const std::vector<std::string>& arguments) {
    try {
        parse_pipe_arguments(arguments);
    } catch (const PipeSetupError& error) {
        return error.what();
    }
    return "no error";
}

TEST(PipeArguments, DefaultsOptionsAndPositionals) {
    const PipeConfig defaults = parse_pipe_arguments(std::vector<std::string>{});
    EXPECT_EQ(defaults.buffer_bytes, 67108864u);
    EXPECT_EQ(defaults.chunk_bytes, 1048576u);
    EXPECT_EQ(defaults.prefill_bytes, 0u);
    EXPECT_EQ(defaults.diagnostics_path, "-");
    EXPECT_EQ(defaults.input_path, "-");
    EXPECT_EQ(defaults.output_path, "-");

    const PipeConfig c = parse_pipe_arguments(std::vector<std::string>{
        "in", "--buffer-bytes", "100", "--chunk-bytes", " +10", "--buffer-bytes", "200", "--prefill-bytes", "200",
        "-", "--diagnostics-out", "--chunk-bytes"});
    EXPECT_EQ(c.buffer_bytes, 200u);  // a later occurrence replaces an earlier one
    EXPECT_EQ(c.chunk_bytes, 10u);
    EXPECT_EQ(c.prefill_bytes, 200u);  // may equal the buffer size
    EXPECT_EQ(c.input_path, "in");
    EXPECT_EQ(c.output_path, "-");
    EXPECT_EQ(c.diagnostics_path, "--chunk-bytes");  // a value is taken whatever it looks like
    EXPECT_THROW(parse_pipe_arguments(std::vector<std::string>{"--chunk-bytes", "x", "--help"}), PipeSetupError);
    EXPECT_THROW(parse_pipe_arguments(std::vector<std::string>{"a", "b", "c", "-h"}), PipeSetupError);
    EXPECT_THROW(parse_pipe_arguments(std::vector<std::string>{"--chunk-bytes", "0", "-h"}), HelpRequested);
}

TEST(PipeArguments, ErrorsAndLimits) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--chunk-bytes", "4k"}, "invalid chunk size: 4k"},
        {{"--buffer-bytes", "1 "}, "invalid buffer size: 1 "},
        {{"--prefill-bytes", "5%"}, "invalid prefill size: 5%"},
        {{"--buffer-bytes", ""}, "invalid stoull argument"},
        {{"--buffer-bytes", "18446744073709551616"}, "stoull argument out of range"},
        {{"--buffer-bytes"}, "--buffer-bytes requires a value"},
        {{"--chunk-bytes"}, "--chunk-bytes requires a value"},
        {{"--prefill-bytes"}, "--prefill-bytes requires a value"},
        {{"--diagnostics-out"}, "--diagnostics-out requires a value"},
        {{"a", "b", "c"}, "too many positional arguments"},
        {{"--buffer-bytes", "0", "--chunk-bytes", "0"}, "--buffer-bytes must be non-zero"},
        {{"--chunk-bytes", "0"}, "--chunk-bytes must be non-zero"},
        {{"--buffer-bytes", "10", "--chunk-bytes", "11"}, "--chunk-bytes must be <= --buffer-bytes"},
        {{"--buffer-bytes", "10", "--chunk-bytes", "5", "--prefill-bytes", "11"},
         "--prefill-bytes must be <= --buffer-bytes"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        EXPECT_EQ(setup_error(arguments), message);
    }
}

TEST(PipeReport, EscapesStringsAndKeepsTheKeyOrder) {
    EXPECT_EQ(json_escape("a\"b\\c\td\ne\rf"), "a\\\"b\\\\c\\td\\ne\\rf");
    EXPECT_EQ(json_escape(std::string("\x01\x1f\x7f\xc3\xa9", 5)), "\\u0001\\u001f\x7f\xc3\xa9");

    PipeConfig config;
    config.input_path = "in\"put";
    config.output_path = "out\\put";
    config.buffer_bytes = 100;
    config.chunk_bytes = 10;
    config.prefill_bytes = 50;
    PipeOutcome outcome;
    outcome.stats = {30, 20, 3, 2};
    outcome.max_buffered_bytes = 30;
    outcome.prefill_released = true;
    outcome.prefill_released_bytes = 30;
    outcome.release_reason = "eof";
    outcome.duration_s = 1.0 / 3.0;
    EXPECT_EQ(format_pipe_report(config, outcome),
              "{\"schema\":\"qarel.pipe_buffer.v1\",\"verdict\":\"ok\",\"input\":\"in\\\"put\",\"output\":\"out\\\\put\","
              "\"buffer_bytes\":100,\"chunk_bytes\":10,\"prefill_bytes\":50,\"prefill_released\":true,"
              "\"prefill_released_bytes\":30,\"prefill_reached\":false,\"prefill_release_reason\":\"eof\","
              "\"bytes_in\":30,\"bytes_out\":20,\"chunks_in\":3,\"chunks_out\":2,\"max_buffered_bytes\":30,"
              "\"duration_s\":0.333333333}\n");

    outcome.error = "failed to write output stream";
    outcome.duration_s = 2.5e-7;
    const std::string failed = format_pipe_report(config, outcome);
    EXPECT_NE(failed.find("\"verdict\":\"error\""), std::string::npos);
    EXPECT_TRUE(failed.ends_with(",\"duration_s\":2.5e-07,\"error\":\"failed to write output stream\"}\n")) << failed;
}

}  // namespace
}  // namespace qarel::pipe
