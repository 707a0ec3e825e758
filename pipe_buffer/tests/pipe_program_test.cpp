#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/support/test_support.hpp"

namespace qarel::pipe {
namespace {

using test::read_file;
using test::run_program;
using test::write_file;

const std::string kProgram = QAREL_PIPE_BUFFER_PATH;
const std::string kUsageTail =
    " [--buffer-bytes N] [--chunk-bytes N] [--prefill-bytes N] [--diagnostics-out path|-] [input|-] [output|-]\n";

std::string random_bytes(std::size_t size) {
    std::mt19937 engine(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(engine() & 0xffu);
    return bytes;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

TEST(PipeBufferProgram, CopiesThroughRealPipesWithBurstyEnds) {
    test::TempDir dir;
    const std::string input = random_bytes(3'000'017);
    write_file(dir.file("in"), input);
    // The producer and the consumer both pause mid-stream and split reads and writes
    // across chunk boundaries.
    const std::string script =
        "{ head -c 5000; sleep 0.2; head -c 1000000; sleep 0.1; cat; } < " + quoted(dir.file("in")) + " | " +
        quoted(kProgram) + " --chunk-bytes 65536 --buffer-bytes 262144 --prefill-bytes 131072 --diagnostics-out " +
        quoted(dir.file("report.json")) + " | { head -c 70000; sleep 0.2; cat; } > " + quoted(dir.file("out"));
    const auto result = run_program("/bin/bash", {"-c", script});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(read_file(dir.file("out")) == input);
    const std::string report = read_file(dir.file("report.json"));
    EXPECT_NE(report.find("\"verdict\":\"ok\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"bytes_in\":3000017,\"bytes_out\":3000017"), std::string::npos) << report;
    EXPECT_NE(report.find("\"prefill_release_reason\":\"threshold\""), std::string::npos) << report;
}

TEST(PipeBufferProgram, ReportGoesToStandardErrorByDefault) {
    test::TempDir dir;
    write_file(dir.file("in"), "");
    const auto result = run_program(kProgram, {dir.file("in")});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("{\"schema\":\"qarel.pipe_buffer.v1\",\"verdict\":\"ok\",\"input\":\"" +
                                       dir.file("in") + "\",\"output\":\"-\"")) << result.err;
    EXPECT_NE(result.err.find("\"bytes_in\":0,\"bytes_out\":0,\"chunks_in\":0"), std::string::npos);
    EXPECT_NE(result.err.find("\"prefill_release_reason\":\"disabled\""), std::string::npos);
    EXPECT_TRUE(result.err.ends_with("}\n"));
}

TEST(PipeBufferProgram, PathsWithQuotesBackslashesAndControlBytesStayValidJson) {
    test::TempDir dir;
    const std::string odd = dir.file("a\"b\\c\x01");
    write_file(odd, "xyz");
    const auto result = run_program(kProgram, {odd, dir.file("out")});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_NE(result.err.find("\"input\":\"" + dir.file("a\\\"b\\\\c\\u0001") + "\""), std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(dir.file("out")), "xyz");
}

TEST(PipeBufferProgram, OutputFailuresEndWithStatusOne) {
    test::TempDir dir;
    // A full disk.
    auto result = run_program(kProgram, {"-", "/dev/full"}, random_bytes(10));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("\"verdict\":\"error\""), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.ends_with(",\"error\":\"failed to write output stream\"}\n")) << result.err;

    // A downstream reader that closes the pipe early: a failed write, not death by SIGPIPE.
    const std::string script = "head -c 50000000 /dev/zero | " + quoted(kProgram) +
                               " --chunk-bytes 65536 --diagnostics-out " + quoted(dir.file("report.json")) +
                               " | head -c 10 > /dev/null; echo \"status=${PIPESTATUS[1]}\"";
    result = run_program("/bin/bash", {"-c", script});
    EXPECT_EQ(result.out, "status=1\n");
    EXPECT_NE(read_file(dir.file("report.json")).find("\"error\":\"failed to write output stream\""),
              std::string::npos);

    // An input that cannot be read: what was queued is still written, the failure reported.
    result = run_program(kProgram, {dir.path().string(), dir.file("out")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("\"error\":\"failed to read input stream\""), std::string::npos) << result.err;
}

TEST(PipeBufferProgram, SetupErrorsPrintTheMessageAndUsage) {
    test::TempDir dir;
    const std::string missing = dir.file("missing/file");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--chunk-bytes", "4k"}, "invalid chunk size: 4k"},
        {{"--buffer-bytes", "8", "--chunk-bytes", "16"}, "--chunk-bytes must be <= --buffer-bytes"},
        {{"a", "b", "c"}, "too many positional arguments"},
        {{"--prefill-bytes"}, "--prefill-bytes requires a value"},
        {{missing}, "failed to open input: " + missing},
        {{"-", missing}, "failed to open output: " + missing},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(message);
        const auto result = run_program(kProgram, arguments);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.err, "qarel_pipe_buffer: " + message + "\nusage: " + kProgram + kUsageTail);
    }
    const auto help = run_program(kProgram, {"--buffer-bytes", "0", "--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.err, "usage: " + kProgram + kUsageTail);

    // The diagnostics file is opened only after the copy, which has already happened.
    const auto late = run_program(kProgram, {"--diagnostics-out", missing, "-", dir.file("out")}, "copied");
    EXPECT_EQ(late.exit_status, 2);
    EXPECT_EQ(late.err, "qarel_pipe_buffer: failed to open diagnostics output: " + missing + "\nusage: " + kProgram +
                            kUsageTail);
    EXPECT_EQ(read_file(dir.file("out")), "copied");
}

}  // namespace
}  // namespace qarel::pipe

namespace qarel::pipe {
namespace {

TEST(PipeBufferProgram, VersionNamesTheProgramAndBuild) {
    const auto version = qarel::test::run_program(kProgram, {"--version"});
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.out.rfind("qarel_pipe_buffer ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("\nbuild: "), std::string::npos);
    EXPECT_EQ(version.err, "");
}

// Polls a file until it contains `text`; false after a minute.
bool wait_for_text(const std::string& path, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (read_file(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The producer stalls after four whole chunks and part of a fifth; the status lines show the
// copy meanwhile, and an interrupt ends the input there with nothing accepted lost.
TEST(PipeBufferProgram, StatusLinesComeWhileCopyingAndAnInterruptDrainsWhatWasAccepted) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        test::TempDir dir;
        const std::string input = random_bytes(300'000);
        write_file(dir.file("status"), "");
        test::PipedProgram program(kProgram, {"--chunk-bytes", "65536", "--status-interval", "0.02", "--status-out",
                                              dir.file("status"), "--diagnostics-out", dir.file("report.json"), "-",
                                              dir.file("out")});
        ASSERT_TRUE(program.feed(input));
        ASSERT_TRUE(wait_for_text(dir.file("status"), "\"final\":false,\"seconds\""));
        ASSERT_TRUE(wait_for_text(dir.file("status"), "\"bytes_out\":262144"));
        program.send_signal(signal);
        const auto result = program.finish();
        EXPECT_EQ(result.exit_status, 128 + signal) << result.err;
        EXPECT_TRUE(read_file(dir.file("out")) == input);
        EXPECT_NE(read_file(dir.file("report.json")).find("\"verdict\":\"ok\""), std::string::npos);
        const std::string status = read_file(dir.file("status"));
        const std::string last_line = status.substr(status.rfind('\n', status.size() - 2) + 1);
        EXPECT_EQ(last_line.rfind("{\"schema\":\"qarel.pipe_status.v1\",\"final\":true,", 0), 0u) << last_line;
        EXPECT_NE(last_line.find("\"bytes_in\":300000,\"bytes_out\":300000,\"buffered_bytes\":0,"), std::string::npos)
            << last_line;
    }
}

TEST(PipeBufferProgram, StatusOptionsAreChecked) {
    for (const char* bad : {"0", "-1", "x", "nan", "1e9"}) {
        const auto result = run_program(kProgram, {"--status-interval", bad});
        EXPECT_EQ(result.exit_status, 2) << bad;
        EXPECT_EQ(result.err.rfind(std::string("qarel_pipe_buffer: invalid status interval: ") + bad, 0), 0u)
            << result.err;
    }
}

}  // namespace
}  // namespace qarel::pipe
