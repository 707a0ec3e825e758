#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "decoder/cli/tests/decoder_test_support.hpp"
#include "decoder/cli/usable_cpus.hpp"
#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/qc_code.hpp"
#include "tools/testgen/transmitter.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::cli {
namespace {

using qarel::test::constant_llr_frames;
using qarel::test::llr_bytes;
using qarel::test::read_file;
using qarel::test::run_program;
using qarel::test::write_file;
using test::DecoderFiles;
using test::kPrefix;
using test::run_in_process;

constexpr std::uint64_t kFrameLlrs = 3 * 7488;

std::string summary_for(std::uint64_t frames, std::uint64_t codewords_per_frame = 3, std::uint64_t offset = 0,
                        std::uint64_t signal_frames_per_group = 1, std::uint64_t scrambler_reset_bits = 0) {
    return "frames=" + std::to_string(frames) + "\nsignal_frames_per_fec_group=" +
           std::to_string(signal_frames_per_group) + "\ncodewords_per_fec_group=" +
           std::to_string(codewords_per_frame) + "\nsignal_frames=" + std::to_string(frames * signal_frames_per_group) +
           "\nscrambler_reset_bits=" + std::to_string(scrambler_reset_bits) +
           "\nframe_index_offset=" + std::to_string(offset) +
           "\ncodewords=" + std::to_string(frames * codewords_per_frame) + "\nworker_count=1\ndecode_batch_frames=16\n";
}

std::string error_line(const std::string& message) { return kPrefix + message + "\n"; }

// `err` starts with `head` (phase lines, then the summary's first lines as summary_for gives
// them), holds the whole summary of 121 keys and ends with `tail`.
void expect_summary(const std::string& err, const std::string& head, const std::string& tail = "") {
    EXPECT_TRUE(err.starts_with(head)) << err;
    EXPECT_TRUE(err.ends_with(tail)) << err;
    const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    EXPECT_EQ(lines(err), lines(head) - 9 + 121 + lines(tail)) << err;
    EXPECT_NE(err.find("\noutput_bytes="), std::string::npos);
}

void write_alist_file(const std::string& path, const ldpc::CheckRows& rows, std::uint64_t variable_count) {
    std::ofstream out(path);
    testgen::write_alist(out, rows, variable_count);
}

TEST(RunDriver, CountsCompleteFramesAndWritesTheSummary) {
    DecoderFiles files;
    write_file(files.input, constant_llr_frames(2, 3));
    const auto outcome = run_in_process(files.arguments(3, {"--workers", "1"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err, summary_for(2));
    EXPECT_TRUE(std::filesystem::exists(files.output));

    write_file(files.input, constant_llr_frames(3, 2));
    const auto sixteen = run_in_process(files.arguments(1, {"--workers", "1", "--qam", "16qam", "--frame-index-offset", "100"}));
    EXPECT_EQ(sixteen.status, 0);
    expect_summary(sixteen.err, summary_for(3, 2, 100));
}

TEST(RunDriver, EmptyInputIsASuccessUnlessOutputIsRequired) {
    DecoderFiles files;
    const auto empty = run_in_process(files.arguments(2, {"--workers", "1"}));
    EXPECT_EQ(empty.status, 0);
    expect_summary(empty.err, summary_for(0));
    EXPECT_EQ(read_file(files.output), "");

    const auto required = run_in_process(files.arguments(2, {"--workers", "1", "--require-output"}));
    EXPECT_EQ(required.status, 1);
    expect_summary(required.err, summary_for(0),
                   error_line("no transport bytes recovered (empty output is not a successful decode)"));
}

TEST(RunDriver, BadInputEndsTheRunWithoutASummary) {
    DecoderFiles files;
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::string> extra;
        std::string message;
    };
    std::vector<float> nan_last(2 * kFrameLlrs, 0.5f);
    nan_last.back() = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> infinite_first(kFrameLlrs, -1.0f);
    infinite_first.front() = -std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"trailing partial frame", constant_llr_frames(2, 3) + std::string(5, '\0'), {},
         "LLR input ended before a complete DTMB FEC frame"},
        {"partial float only", std::string(3, '\0'), {}, "LLR input ended before a complete DTMB FEC frame"},
        {"NaN in the last value of a frame", llr_bytes(nan_last), {}, "LLR input contains a nonfinite value"},
        {"infinity", llr_bytes(infinite_first), {}, "LLR input contains a nonfinite value"},
        {"frame index overflow at the first frame", constant_llr_frames(1, 3),
         {"--frame-index-offset", "18446744073709551615"}, "frame index offset overflow"},
        {"frame index overflow at the second frame", constant_llr_frames(2, 3),
         {"--frame-index-offset", "18446744073709551614"}, "frame index offset overflow"},
        {"32QAM without two signal frames", "", {"--qam", "32qam"},
         "LLR input ended before two complete 32QAM signal frames"},
        {"32QAM prefill one value short", llr_bytes(std::vector<float>(5 * 7488 - 1, 1.0f)), {"--qam", "32qam"},
         "LLR input ended before two complete 32QAM signal frames"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(files.input, c.input);
        const auto outcome = run_in_process(files.arguments(3, c.extra));
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, error_line(c.message));
    }
    // One frame below the overflow limit is still a valid frame.
    write_file(files.input, constant_llr_frames(1, 3));
    expect_summary(run_in_process(files.arguments(3, {"--workers", "1", "--frame-index-offset", "18446744073709551614"})).err,
                   summary_for(1, 3, 18446744073709551614u));
}

TEST(RunDriver, Qam32ExplicitPhaseDiscardsTheLeadingSignalFrame) {
    DecoderFiles files;
    const std::uint64_t group = 5 * 7488;
    const std::string phase_lines_0 =
        "qam32_frame_phase=0\nqam32_frame_phase_selection=explicit\npacking_discarded_signal_frames=0\n"
        "packing_discarded_llrs=0\n";
    const std::string phase_lines_1 =
        "qam32_frame_phase=1\nqam32_frame_phase_selection=explicit\npacking_discarded_signal_frames=1\n"
        "packing_discarded_llrs=18720\n";

    write_file(files.input, llr_bytes(std::vector<float>(2 * group, 1.0f)));
    auto outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam", "--qam32-frame-phase", "0"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err, phase_lines_0 + summary_for(2, 5, 0, 2, 15040));

    // Phase 1 drops one signal frame, so two and a half groups hold two whole frames.
    write_file(files.input, llr_bytes(std::vector<float>(group * 5 / 2, 1.0f)));
    outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam", "--qam32-frame-phase", "1"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err, phase_lines_1 + summary_for(2, 5, 0, 2, 15040));

    write_file(files.input, llr_bytes(std::vector<float>(group * 2, 1.0f)));
    outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam", "--qam32-frame-phase", "1"}));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, phase_lines_1 + error_line("LLR input ended before a complete DTMB FEC frame"));
}

// Noiseless 32QAM LLRs of `groups` FEC groups of a generated transport stream, optionally led
// by the second signal frame of an earlier group.
std::string qam32_stream(std::uint64_t groups, bool lead_in) {
    const auto& code = testgen::dtmb_code(3);
    const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    const testgen::LdpcEncoder encoder(graph, code.parity_bits());
    const auto layout = testgen::frame_layout(3, 32, 0);
    const std::uint64_t frame_bytes = layout.transport_bytes_per_frame();
    const auto ts = testgen::generate_transport_stream((groups + 1) * frame_bytes / 188, 1);
    testgen::Channel channel({});
    std::vector<float> llrs;
    for (std::uint64_t g = lead_in ? 0 : 1; g <= groups; ++g) {
        const auto group = channel.transmit(
            testgen::encode_frame(std::span(ts).subspan(g * frame_bytes, frame_bytes), layout, encoder));
        llrs.insert(llrs.end(), group.begin() + (g == 0 ? group.size() / 2 : 0), group.end());
    }
    return llr_bytes(llrs);
}

TEST(RunDriver, Qam32AutomaticPhaseLocksByTrialDecoding) {
    DecoderFiles files;
    write_file(files.input, qam32_stream(2, false));
    auto outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err,
                   "qam32_phase0_clean_codewords=2\nqam32_phase1_clean_codewords=0\nqam32_frame_phase=0\n"
              "qam32_frame_phase_selection=auto\npacking_discarded_signal_frames=0\npacking_discarded_llrs=0\n" +
                       summary_for(2, 5, 0, 2, 15040));

    write_file(files.input, qam32_stream(2, true));
    outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err,
                   "qam32_phase0_clean_codewords=0\nqam32_phase1_clean_codewords=2\nqam32_frame_phase=1\n"
              "qam32_frame_phase_selection=auto\npacking_discarded_signal_frames=1\npacking_discarded_llrs=18720\n" +
                       summary_for(2, 5, 0, 2, 15040));
}

TEST(RunDriver, Qam32AutomaticPhaseFailsWithoutASingleCleanPhase) {
    DecoderFiles files;
    // All-zero codewords look clean at both phases.
    write_file(files.input, llr_bytes(std::vector<float>(5 * 7488, 1.0f)));
    auto outcome = run_in_process(files.arguments(3, {"--qam", "32qam"}));
    EXPECT_EQ(outcome.status, 1);
    const std::string no_lock =
        "unable to lock 32QAM frame packing: two LDPC/BCH-clean codewords are required at exactly one phase";
    EXPECT_EQ(outcome.err, error_line(no_lock));
    // An explicit phase bypasses the lock.
    outcome = run_in_process(files.arguments(3, {"--workers", "1", "--qam", "32qam", "--qam32-frame-phase", "0"}));
    EXPECT_EQ(outcome.status, 0);
}

TEST(RunDriver, StartUpChecksInOrder) {
    DecoderFiles files;
    const std::string missing_dir = files.dir.file("missing/file");
    const std::string wrong_size_alist = files.dir.file("wrong-size.alist");
    write_alist_file(wrong_size_alist, ldpc::CheckRows::from_lists({{5, 6}}), 7488);
    const std::string no_clean_rows_alist = files.dir.file("no-clean-rows.alist");
    write_alist_file(no_clean_rows_alist, ldpc::CheckRows::from_lists({{0, 6}, {4, 7000}}), 7493);
    const std::vector<std::string> gate{"--hard-h-gate-window-codewords", "3", "--hard-h-gate-step-codewords", "3",
                                        "--hard-h-gate-threshold", "0.5"};
    const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;  // empty: usage
    };
    const std::vector<Case> cases = {
        {"unsupported rate", files.arguments(4), "fec rate must be 1, 2, or 3"},
        {"fail-on-unclean without clean-frames-only", files.arguments(3, {"--fail-on-unclean-frame"}),
         "fail-on-unclean-frame requires --clean-frames-only"},
        {"variable scale rule past the codeword", files.arguments(3, {"--llr-scale-variable", "1:1:7488:1"}),
         "variable LLR scale variable is outside transmitted codeword"},
        {"variable-mod remainder past the codeword",
         files.arguments(3, {"--llr-scale-variable-mod", "1:1:8000:7488:1"}),
         "variable-mod LLR scale remainder is outside transmitted codeword"},
        {"missing alist", {"--fec-rate", "3", "--alist", missing_dir, files.input, files.output},
         "failed to open alist: " + missing_dir},
        {"alist of the wrong size", {"--fec-rate", "3", "--alist", wrong_size_alist, files.input, files.output},
         "alist variable count does not match selected DTMB FEC rate"},
        {"gate without clean rows", with({"--fec-rate", "3", "--alist", no_clean_rows_alist, files.input}, gate),
         "no clean Appendix-B rows for this profile"},
        {"batch size 0 after the code loads", files.arguments(3, {"--decode-batch-frames", "0"}), ""},
        {"accelerator requested",
         files.arguments(3, {"--ldpc-accel", "cuda", "--cuda-retry-clips"}),
         "--ldpc-accel cuda requested, but this binary was built without QAREL_ENABLE_CUDA_LDPC=ON"},
        {"accelerator retries without accelerator", files.arguments(3, {"--cuda-retry-clips"}),
         "--cuda-retry-clips requires --ldpc-accel cuda"},
        {"missing input", {"--fec-rate", "3", "--alist", files.alist, "--bogus-option"},
         "failed to open input: --bogus-option"},
        {"unwritable output", {"--fec-rate", "3", "--alist", files.alist, files.input, missing_dir},
         "failed to open output: " + missing_dir},
        {"unwritable diagnostics", files.arguments(3, {"--frame-diagnostics-out", missing_dir}),
         "failed to open frame diagnostics output: " + missing_dir},
        {"unwritable provenance", files.arguments(3, {"--packet-provenance-out", missing_dir}),
         "failed to open packet provenance output: " + missing_dir},
        {"template slot past the frame",
         files.arguments(3, {"--retry-final-failed-syndrome-solve-ts-header-template", "1:3:0:0:0:1:0"}),
         "TS header template codeword slot is outside codewords-per-frame"},
        {"template packet past the codeword",
         files.arguments(3, {"--retry-final-failed-syndrome-solve-ts-header-template", "1:0:4:0:0:1:0",
                             "--retry-final-failed-syndrome-solve-ts-header-template", "1:3:9:0:0:1:0"}),
         "TS header template packet index is outside packets-per-codeword"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto outcome = run_in_process(c.args);
        if (c.message.empty()) {
            EXPECT_EQ(outcome.status, 2);
            EXPECT_TRUE(outcome.err.starts_with("usage: qarel_ldpc_bch_decode --fec-rate")) << outcome.err;
        } else {
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.err, error_line(c.message));
        }
    }
}

TEST(RunDriver, AnInputThatCannotBeReadIsAReadFailureNotAnEmptyStream) {
    DecoderFiles files;
    // A directory opens as a stream on this platform, but every read from it fails.
    const auto outcome = run_in_process({"--fec-rate", "3", "--alist", files.alist, files.dir.path().string(),
                                         files.output});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, error_line("failed to read LLR input stream"));
}

TEST(RunDriver, NoFileIsCreatedBeforeTheChecksPass) {
    DecoderFiles files;
    const std::string output = files.dir.file("never.ts");
    const std::string diagnostics = files.dir.file("never.jsonl");
    const auto outcome = run_in_process({"--fec-rate", "3", "--alist", files.alist, files.input, output,
                                         "--frame-diagnostics-out", diagnostics, "--decode-batch-frames", "0"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_FALSE(std::filesystem::exists(diagnostics));
}

TEST(RunDriver, HardHGateLoadsTheCleanRowGraphOfAGeneratedCode) {
    DecoderFiles files;
    write_file(files.input, constant_llr_frames(1, 3));
    const auto outcome = run_in_process(files.arguments(
        3, {"--workers", "1", "--hard-h-gate-window-codewords", "3", "--hard-h-gate-step-codewords", "3",
            "--hard-h-gate-threshold", "0.5"}));
    EXPECT_EQ(outcome.status, 0);
    expect_summary(outcome.err, summary_for(1));
}

const std::string kDecoder = QAREL_DECODER_PATH;

TEST(DecoderProgram, ReadsStandardInputAndReportsExitStatuses) {
    const std::string& alist = qarel::test::generated_code_alist(3);
    const auto piped = run_program(kDecoder, {"--fec-rate", "3", "--alist", alist, "--workers", "1", "-", "-"},
                                   constant_llr_frames(2, 3));
    EXPECT_EQ(piped.exit_status, 0);
    expect_summary(piped.err, summary_for(2));

    const auto help = run_program(kDecoder, {"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_TRUE(help.err.starts_with("usage: " + kDecoder + " --fec-rate 1|2|3")) << help.err;
    EXPECT_EQ(help.out, "");

    const auto usage = run_program(kDecoder, {"--fec-rate", "3"});
    EXPECT_EQ(usage.exit_status, 2);
    EXPECT_EQ(usage.err, help.err);

    const auto partial = run_program(kDecoder, {"--fec-rate", "3", "--alist", alist}, std::string(7, '\0'));
    EXPECT_EQ(partial.exit_status, 1);
    EXPECT_EQ(partial.err, error_line("LLR input ended before a complete DTMB FEC frame"));
}

TEST(DecoderProgram, ShortReadsFromASlowProducerAreNotTheEndOfInput) {
    qarel::test::TempDir dir;
    const std::string input = dir.file("frames.llr");
    write_file(input, constant_llr_frames(3, 3));
    const std::string& alist = qarel::test::generated_code_alist(3);
    // The producer delivers a few bytes, pauses, then the rest, splitting floats and frames.
    const std::string script = "{ head -c 1001; sleep 0.3; head -c 200000; sleep 0.3; cat; } < '" + input +
                               "' | '" + kDecoder + "' --fec-rate 3 --alist '" + alist + "' --workers 1";
    const auto outcome = run_program("/bin/sh", {"-c", script});
    EXPECT_EQ(outcome.exit_status, 0);
    expect_summary(outcome.err, summary_for(3));
}

}  // namespace
}  // namespace qarel::cli

namespace qarel::cli {
namespace {

TEST(UsableCpus, QuotaTextAndTheCount) {
    EXPECT_EQ(cpus_of_cgroup_quota("max 100000"), std::nullopt);
    EXPECT_EQ(cpus_of_cgroup_quota("200000 100000"), 2u);
    EXPECT_EQ(cpus_of_cgroup_quota("150000 100000\n"), 2u);  // a part of a CPU counts as one
    EXPECT_EQ(cpus_of_cgroup_quota("5000 100000"), 1u);
    EXPECT_EQ(cpus_of_cgroup_quota("200000 0"), std::nullopt);
    EXPECT_EQ(cpus_of_cgroup_quota("-5 100000"), std::nullopt);
    EXPECT_EQ(cpus_of_cgroup_quota("99999999999999999999999 1"), std::nullopt);
    EXPECT_EQ(cpus_of_cgroup_quota(""), std::nullopt);
    const std::uint64_t usable = usable_cpu_count();
    EXPECT_GE(usable, 1u);
    EXPECT_LE(usable, std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace
}  // namespace qarel::cli
