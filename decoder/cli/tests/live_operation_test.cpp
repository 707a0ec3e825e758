// Live operation through the real program: the status stream, transport-error marking, the
// progress line, interrupts, the wrong-code warning and erased nonfinite LLRs. None of it may
// change what the other options produce.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>
#include <thread>

#include "decoder/cli/tests/decoder_test_support.hpp"
#include "decoder/cli/tests/stream_fixture.hpp"
#include "decoder/diag/live_status.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::cli {
namespace {

using nlohmann::json;
using qarel::test::PipedProgram;
using qarel::test::read_file;
using qarel::test::run_program;
using qarel::test::TempDir;
using qarel::test::write_file;
using namespace qarel::cli::test;

const std::string kDecoder = QAREL_DECODER_PATH;
constexpr std::size_t kPacket = 188;

std::vector<json> json_lines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(json::parse(line));
    return lines;
}

// Waits until the status file's last complete line satisfies `ready`; false after a minute.
template <typename Ready>
bool wait_for_status(const std::string& path, Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = read_file(path);
        const auto end = text.rfind('\n');
        if (end != std::string::npos) {
            const auto start = text.rfind('\n', end == 0 ? 0 : end - 1);
            const auto line = text.substr(start == std::string::npos || start == end ? 0 : start + 1, end);
            if (ready(json::parse(line))) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<std::string> code_arguments() {
    return {"--fec-rate", "3", "--alist", qarel::test::generated_code_alist(3)};
}

Stream noisy_stream_with_failures(std::uint64_t frames) {
    StreamRecipe recipe = recipe_of(3, frames, {"corrupt:bits=0-2999:3-3:1-1"});
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 3.0, .seed = 11};
    return make_stream(recipe);
}

void expect_totals_match_summary(const json& totals, const std::map<std::string, std::string>& summary) {
    for (const char* key : {"frames", "codewords", "soft_decoded_frames", "clean_frames", "clean_codewords",
                            "bch_corrected_errors", "bch_unclean_blocks", "retry_recovered_codewords",
                            "output_packets", "output_bytes"})
        EXPECT_EQ(std::to_string(totals[key].get<std::uint64_t>()), summary.at(key)) << key;
}

TEST(LiveOperation, StatusLinesComeWhileAPipedRunGoesOnAndEndWithTheSummaryTotals) {
    const Stream stream = noisy_stream_with_failures(8);
    const std::size_t frame_llr_bytes = stream.llrs.size() / 8;
    TempDir dir;
    const std::string status_path = dir.file("status.jsonl");
    const std::string output_path = dir.file("out.ts");
    write_file(status_path, "");
    PipedProgram decoder(kDecoder, with(code_arguments(), {"--workers", "2", "--decode-batch-frames", "1",
                                                           "--status-out", status_path, "--status-interval", "0.05",
                                                           "--retry-layered", "-", output_path}));
    ASSERT_TRUE(decoder.feed(stream.llrs.substr(0, 3 * frame_llr_bytes)));
    // The producer holds back until a line counts its frames: lines come while the run waits.
    EXPECT_TRUE(wait_for_status(status_path, [](const json& line) {
        return !line["final"].get<bool>() && line["totals"]["frames"].get<std::uint64_t>() == 3;
    }));
    ASSERT_TRUE(decoder.feed(stream.llrs.substr(3 * frame_llr_bytes)));
    const auto result = decoder.finish();
    ASSERT_EQ(result.exit_status, 0) << result.err;

    const auto lines = json_lines(read_file(status_path));
    ASSERT_GE(lines.size(), 2u);
    std::uint64_t interval_frames = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["schema"], "qarel.decode_status.v1");
        EXPECT_EQ(lines[i]["final"].get<bool>(), i + 1 == lines.size());
        interval_frames += lines[i]["interval"]["frames"].get<std::uint64_t>();
    }
    const json& totals = lines.back()["totals"];
    EXPECT_EQ(interval_frames, 8u);
    const auto summary = summary_of(result.err);
    expect_totals_match_summary(totals, summary);
    EXPECT_GT(totals["codeword_error_rate"].get<double>(), 0.0);
    EXPECT_GT(totals["preBER"].get<double>(), 0.0);
    EXPECT_EQ(totals["UCB"], totals["bch_unclean_blocks"]);
    EXPECT_GT(totals["realtime_factor"].get<double>(), 0.0);

    // The same stream without any of the live options: the same bytes and summary counts.
    const Decoded plain = decode(stream, 3, {"--retry-layered"});
    ASSERT_EQ(plain.status, 0);
    EXPECT_TRUE(read_file(output_path) == plain.output);
    Decoded piped;
    piped.summary = summary;
    EXPECT_EQ(comparable_summary(piped), comparable_summary(plain));
}

TEST(LiveOperation, TheNewOptionsLeaveOutputProvenanceAndSummaryAlone) {
    const Stream stream = noisy_stream_with_failures(4);
    TempDir dir;
    const std::vector<std::string> emission = {"--clean-frames-only", "--emit-clean-codewords",
                                               "--insert-discontinuity-packets"};
    const Decoded plain = decode(stream, 3, emission);
    const Decoded live = decode(stream, 3, with(emission, {"--status-out", dir.file("s.jsonl"), "--progress",
                                                           "--nonfinite-llrs", "erase", "--status-interval", "0.5"}));
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(live.status, 0);
    EXPECT_TRUE(live.output == plain.output);
    EXPECT_EQ(live.provenance, plain.provenance);
    EXPECT_EQ(comparable_summary(live), comparable_summary(plain));
    EXPECT_EQ(live.summary.size(), 121u);

    // A descriptor the caller opened: standard output, with the transport stream in a file.
    write_file(dir.file("in.llr"), stream.llrs);
    const auto to_fd = run_program(kDecoder, with(code_arguments(), {"--status-fd", "1", dir.file("in.llr"),
                                                                     dir.file("out.ts")}));
    ASSERT_EQ(to_fd.exit_status, 0) << to_fd.err;
    const auto lines = json_lines(to_fd.out);
    ASSERT_FALSE(lines.empty());
    expect_totals_match_summary(lines.back()["totals"], summary_of(to_fd.err));
    const auto clash = run_program(kDecoder, with(code_arguments(), {"--status-out", "-", dir.file("in.llr")}));
    EXPECT_EQ(clash.exit_status, 1);
    EXPECT_NE(clash.err.find("status lines on standard output need the transport stream in a file"),
              std::string::npos);
}

// The codewords whose packets carry untrusted bytes, from the frame diagnostics: those whose
// LDPC decode did not converge (a converged codeword here has every BCH block clean).
std::set<std::pair<std::uint64_t, std::uint64_t>> untrusted_codewords(const std::string& diagnostics) {
    std::set<std::pair<std::uint64_t, std::uint64_t>> untrusted;
    for (const auto& frame : json_lines(diagnostics)) {
        for (std::size_t slot = 0; slot < frame["codeword_converged"].size(); ++slot) {
            if (frame["codeword_converged"][slot].get<int>() != 0) {
                EXPECT_EQ(frame["codeword_bch_unclean_blocks"][slot], 0);
            } else {
                untrusted.insert({frame["frame_index"], slot});
            }
        }
    }
    return untrusted;
}

// A noisy stream with two codewords corrupted beyond repair and a few lost to the noise.
TEST(LiveOperation, TransportErrorsAreMarkedOnUntrustedPacketsOnlyInEveryEmissionMode) {
    StreamRecipe recipe = recipe_of(3, 12, {"corrupt:bits=0-2999:2-2:1-1", "corrupt:bits=0-2999:4-4:0-0"});
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 1.8, .seed = 5};
    const Stream stream = make_stream(recipe);
    const std::vector<std::vector<std::string>> modes = {
        {},
        {"--mark-discontinuities"},
        {"--clean-frames-only", "--emit-clean-codewords", "--emit-bch-clean-codewords", "--emit-bch-clean-packets"},
        {"--clean-frames-only", "--emit-clean-codewords", "--insert-discontinuity-packets"},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(testing::PrintToString(mode));
        TempDir dir;
        const Decoded plain = decode(stream, 3, with(mode, {"--frame-diagnostics-out", dir.file("frames")}));
        const Decoded marked = decode(stream, 3, with(mode, {"--mark-transport-errors", "--status-out", dir.file("s")}));
        ASSERT_EQ(plain.status, 0);
        ASSERT_EQ(marked.status, 0);
        ASSERT_EQ(marked.output.size(), plain.output.size());
        EXPECT_EQ(marked.provenance, plain.provenance);
        EXPECT_EQ(comparable_summary(marked), comparable_summary(plain));
        const auto failed = untrusted_codewords(read_file(dir.file("frames")));
        EXPECT_GT(failed.size(), 2u);
        EXPECT_EQ(failed.count({2, 1}) + failed.count({4, 0}), 2u);

        const auto rows = json_lines(plain.provenance);
        ASSERT_EQ(rows.size() * kPacket, plain.output.size());
        std::uint64_t untrusted = 0;
        for (std::size_t p = 0; p < rows.size(); ++p) {
            std::string expected = plain.output.substr(p * kPacket, kPacket);
            const bool from_failed = rows[p]["kind"] != "inserted_discontinuity" &&
                                     failed.count({rows[p]["frame_index"], rows[p]["codeword_slot"]}) != 0;
            if (from_failed) {
                expected[0] = 0x47;
                expected[1] = static_cast<char>(expected[1] | 0x80);
                ++untrusted;
            }
            EXPECT_TRUE(marked.output.substr(p * kPacket, kPacket) == expected) << "packet " << p;
        }
        const auto status = json_lines(read_file(dir.file("s")));
        EXPECT_EQ(status.back()["totals"]["marked_packets"].get<std::uint64_t>(), untrusted);
        if (mode.empty()) {
            EXPECT_EQ(untrusted, 4 * failed.size());
        }
    }
}

// A real MPEG-2 video stream from ffmpeg, sent with two codewords corrupted: ffprobe reads the
// marked output through and flags the marked packets instead of losing sync on them.
TEST(LiveOperation, FfprobeReadsTheMarkedStream) {
    if (std::system("command -v ffmpeg > /dev/null 2>&1 && command -v ffprobe > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const auto made = run_program("/bin/sh", {"-c", "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                                    "testsrc=duration=2:size=96x64:rate=10 -c:v mpeg2video -f mpegts " +
                                                        dir.file("source.ts")});
    ASSERT_EQ(made.exit_status, 0) << made.err;
    std::string source = read_file(dir.file("source.ts"));
    const std::size_t frame_bytes = 12 * kPacket;
    const std::string null_packet = std::string("\x47\x1f\xff\x10", 4) + std::string(kPacket - 4, '\xff');
    while (source.size() % frame_bytes != 0) source += null_packet;
    const Stream stream = make_stream(recipe_of(3, source.size() / frame_bytes,
                                                {"corrupt:bits=0-2999:3-3:1-1", "corrupt:bits=0-2999:6-6:2-2"}),
                                      std::vector<std::uint8_t>(source.begin(), source.end()));

    const Decoded marked = decode(stream, 3, {"--mark-transport-errors"});
    ASSERT_EQ(marked.status, 0);
    write_file(dir.file("marked.ts"), marked.output);
    const auto probe = run_program("/bin/sh", {"-c", "ffprobe -hide_banner -v debug -show_packets -of compact " +
                                                         dir.file("marked.ts") + " 2>&1"});
    EXPECT_EQ(probe.exit_status, 0) << probe.out;
    EXPECT_NE(probe.out.find("Packet had TEI flag set"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("codec_type=video"), std::string::npos) << probe.out;
}

TEST(LiveOperation, AnInterruptKeepsEveryCompleteFrameAndEndsWithTheSummary) {
    const Stream stream = make_stream(recipe_of(3, 6));
    const std::size_t frame_llr_bytes = stream.llrs.size() / 6;
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const std::string status_path = dir.file("status.jsonl");
        write_file(status_path, "");
        PipedProgram decoder(kDecoder, with(code_arguments(), {"--workers", "2", "--status-out", status_path,
                                                               "--status-interval", "0.02", "-", dir.file("out.ts")}));
        // Four whole frames and half of the fifth, then the producer stalls.
        ASSERT_TRUE(decoder.feed(stream.llrs.substr(0, 4 * frame_llr_bytes + frame_llr_bytes / 2)));
        ASSERT_TRUE(wait_for_status(status_path,
                                    [](const json& line) { return line["totals"]["frames"].get<std::uint64_t>() == 4; }));
        decoder.send_signal(signal);
        const auto result = decoder.finish();
        EXPECT_EQ(result.exit_status, 128 + signal) << result.err;
        EXPECT_TRUE(read_file(dir.file("out.ts")) == frames_of(stream, {1, 2, 3, 4}));
        const auto summary = summary_of(result.err);
        EXPECT_EQ(summary.size(), 121u);
        EXPECT_EQ(summary.at("frames"), "4");
        const auto lines = json_lines(read_file(status_path));
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines.back()["final"].get<bool>());
        expect_totals_match_summary(lines.back()["totals"], summary);
    }
}

std::vector<std::string> warnings_of(const std::string& status_path) {
    return json_lines(read_file(status_path)).back()["warnings"].get<std::vector<std::string>>();
}

TEST(LiveOperation, AWrongRateAlistRaisesTheWarningAndTheRightOneDoesNot) {
    const Stream stream = make_stream(recipe_of(3, 3));
    TempDir dir;
    const Decoded right = decode(stream, 3, {"--status-out", dir.file("right")});
    ASSERT_EQ(right.status, 0);
    EXPECT_TRUE(warnings_of(dir.file("right")).empty());

    // Every rate's code has 7493 columns: a rate-3 code read as rate 1 decodes "clean"
    // codewords whose bytes are not the stream.
    const Decoded wrong = decode(stream, 3, {"--fec-rate", "1", "--status-out", dir.file("wrong")});
    ASSERT_EQ(wrong.status, 0);
    EXPECT_EQ(wrong.value("clean_frames"), "3");
    const auto warnings = warnings_of(dir.file("wrong"));
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "the alist has 1397 checks but this FEC rate has 4445 parity bits: check --fec-rate and --alist");
    EXPECT_EQ(warnings[1], diag::kNoSyncBytesWarning);
}

TEST(LiveOperation, ProgressIsDrawnInPlaceOnATerminalOnly) {
    const Stream stream = make_stream(recipe_of(3, 3));
    DecoderFiles files;
    write_file(files.input, stream.llrs);
    std::vector<std::string> args = files.arguments(3, {"--progress", "--fec-rate", "1"});
    args.insert(args.begin(), "qarel_ldpc_bch_decode");

    std::FILE* terminal = std::tmpfile();
    ASSERT_NE(terminal, nullptr);
    std::ostringstream err;
    ASSERT_EQ(run_decoder(args, err, terminal), 0) << err.str();
    std::rewind(terminal);
    std::string drawn;
    for (int c; (c = std::fgetc(terminal)) != EOF;) drawn += static_cast<char>(c);
    std::fclose(terminal);
    EXPECT_EQ(drawn.front(), '\r');
    EXPECT_EQ(drawn.back(), '\n');
    EXPECT_NE(drawn.find("3 frames"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("real time"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find(std::string("warning: ") + diag::kNoSyncBytesWarning + "\n"), std::string::npos) << drawn;
    EXPECT_EQ(err.str().find("real time"), std::string::npos);

    // Without a terminal nothing is drawn, and standard error holds the summary alone.
    std::ostringstream no_terminal;
    ASSERT_EQ(run_decoder(args, no_terminal, nullptr), 0);
    Decoded with_terminal, without_terminal;
    with_terminal.summary = summary_of(err.str());
    without_terminal.summary = summary_of(no_terminal.str());
    EXPECT_EQ(comparable_summary(without_terminal), comparable_summary(with_terminal));
    const std::string summary_only = no_terminal.str();
    EXPECT_EQ(std::count(summary_only.begin(), summary_only.end(), '\n'), 121);
}

TEST(LiveOperation, NonfiniteLlrsFailTheRunUnlessErased) {
    Stream stream = make_stream(recipe_of(3, 3));
    const std::size_t frame_llrs = stream.llrs.size() / 4 / 3;
    const float nonfinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity()};
    for (std::size_t i = 0; i < 3; ++i)
        std::memcpy(stream.llrs.data() + 4 * (frame_llrs + 100 + 1000 * i), &nonfinite[i], sizeof(float));

    const Decoded failing = decode(stream, 3, {});
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("LLR input contains a nonfinite value"), std::string::npos);
    EXPECT_TRUE(failing.output == frames_of(stream, {1}));

    TempDir dir;
    const Decoded erased = decode(stream, 3, {"--nonfinite-llrs", "erase", "--status-out", dir.file("s")});
    ASSERT_EQ(erased.status, 0) << erased.err;
    EXPECT_TRUE(erased.output == stream.ts);
    EXPECT_EQ(json_lines(read_file(dir.file("s"))).back()["totals"]["erased_llrs"], 3);
}

}  // namespace
}  // namespace qarel::cli
