#include <gtest/gtest.h>

#include <sstream>

#include "decoder/cli/command_line.hpp"
#include "decoder/cli/tests/decoder_test_support.hpp"

namespace qarel::cli {
namespace {

using test::DecoderFiles;
using test::kPrefix;
using test::run_in_process;

const std::string kUsage =
    "usage: qarel_ldpc_bch_decode --fec-rate 1|2|3 --alist PATH [--codewords-per-frame N]"
    " [--qam 16qam|32qam|64qam] [--qam32-frame-phase auto|0|1]"
    " [--workers N] [--max-iterations N] [--retry-max-iterations N]"
    " [--attenuation X] [--llr-clip X]"
    " [--ldpc-accel cpu|cuda]"
    " [--retry-llr-clip X] [--retry-weak-erase-fraction X]"
    " [--retry-llr-scale X]"
    " [--cuda-retry-clips]"
    " [--retry-attenuation X]"
    " [--retry-unsatisfied-erase-count N] [--retry-layered]"
    " [--retry-final-failed-erase-count N]"
    " [--retry-final-failed-flip-count N]"
    " [--retry-final-failed-greedy-flip-count N]"
    " [--retry-final-failed-syndrome-solve-count N]"
    " [--retry-final-failed-syndrome-solve-minimize-cost-passes N]"
    " [--retry-final-failed-syndrome-solve-nullspace-search N]"
    " [--retry-final-failed-syndrome-solve-nullspace-depth N]"
    " [--retry-final-failed-syndrome-solve-ts-continuity-headers]"
    " [--retry-final-failed-syndrome-solve-ts-continuity-header-templates]"
    " [--retry-final-failed-syndrome-solve-ts-header-template FEC:SLOT:PACKET:PID:PUSI:AFC:CC]"
    " [--retry-require-ts-packet-syntax]"
    " [--retry-require-ts-packet-continuity]"
    " [--retry-qam-plane N]"
    " [--retry-variable-range FIRST:LAST]"
    " [--retry-branch-window FIRST:LAST]"
    " [--retry-branch-window-group FIRST:LAST,FIRST:LAST]"
    " [--retry-branch-window-sweep FIRST:LAST:MIN_WIDTH:MAX_WIDTH]"
    " [--retry-branch-window-frame-range FIRST:LAST]"
    " [--retry-branch-window-for-frame-range FEC_FIRST:FEC_LAST:BRANCH_FIRST:BRANCH_LAST]"
    " [--retry-mode2-source-frame-window FIRST:LAST]"
    " [--retry-mode2-source-frame-window-for-frame-range FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST]"
    " [--select-mode2-source-frame-window FIRST:LAST]"
    " [--select-mode2-source-frame-window-for-frame-range FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST]"
    " [--decode-batch-frames N]"
    " [--score-initial-syndrome]"
    " [--early-syndrome-reject-ratio off|X]"
    " [--require-output] [--clean-frames-only] [--fail-on-unclean-frame] [--mark-discontinuities]"
    " [--emit-clean-codewords]"
    " [--emit-bch-clean-codewords]"
    " [--emit-bch-clean-packets]"
    " [--insert-discontinuity-packets]"
    " [--frame-index-offset N]"
    " [--hard-h-gate-window-codewords N"
    " --hard-h-gate-step-codewords N --hard-h-gate-threshold R]"
    " [--hard-h-gate-fill-max-gap-frames N]"
    " [--force-frame-range FIRST:LAST]"
    " [--omit-frame-range FIRST:LAST]"
    " [--llr-scale-codeword FIRST:LAST:SLOT:SCALE]"
    " [--llr-scale-variable FIRST:LAST:VARIABLE:SCALE]"
    " [--llr-scale-variable-mod FIRST:LAST:MOD:REMAINDER:SCALE]"
    " [--emit-forced-codewords]"
    " [--frame-diagnostics-out PATH]"
    " [--failed-variable-diagnostics-top N]"
    " [--packet-provenance-out PATH]"
    " [input.llr.f32|-] [output.ts|-]\n";

struct OptionCase {
    std::vector<std::string> extra;
    std::string message;  // empty: the usage text with exit status 2
};

void expect_outcome(const std::vector<std::string>& arguments, const std::string& message) {
    const auto outcome = run_in_process(arguments);
    if (message.empty()) {
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, kUsage);
    } else {
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, kPrefix + message + "\n");
    }
}

void expect_cases(const DecoderFiles& files, const std::vector<OptionCase>& cases, std::uint64_t rate = 3) {
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.extra));
        expect_outcome(files.arguments(rate, c.extra), c.message);
    }
}

TEST(CommandLine, UsageTextAndHelp) {
    EXPECT_EQ(usage_text("qarel_ldpc_bch_decode"), kUsage);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, {"--bogus", "--help"},
                                                {"--fec-rate", "9", "--help", "--workers", "x"}}) {
        const auto outcome = run_in_process(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, kUsage);
    }
    // A bad number earlier on the line ends the run before --help is seen.
    expect_outcome({"--workers", "x", "--help"}, "invalid stoull argument");
    // The usage text names the program as it was invoked.
    std::ostringstream err;
    EXPECT_EQ(run_decoder(std::vector<std::string>{"./decode", "-h"}, err), 0);
    EXPECT_TRUE(err.str().starts_with("usage: ./decode --fec-rate"));
}

TEST(CommandLine, ValuesAreConvertedAsTheyAreRead) {
    DecoderFiles files;
    expect_cases(files, {
        {{"--workers", "4x"}, "invalid worker count: 4x"},
        {{"--workers", "x"}, "invalid stoull argument"},
        {{"--max-iterations", "18446744073709551616"}, "stoull argument out of range"},
        {{"--attenuation", "1e40"}, "stof argument out of range"},
        {{"--llr-clip", "two"}, "invalid stof argument"},
        {{"--hard-h-gate-threshold", "0.5x"}, "invalid hard H gate threshold: 0.5x"},
        {{"--early-syndrome-reject-ratio", "offish"}, "invalid stof argument"},
        {{"--failed-variable-diagnostics-top", "1.5"}, "invalid failed variable diagnostics top count: 1.5"},
        {{"--retry-final-failed-syndrome-solve-nullspace-search", "-"}, "invalid stoull argument"},
        {{"--retry-final-failed-syndrome-solve-nullspace-search", "2k"},
         "invalid retry final failed syndrome solve nullspace search count: 2k"},
        {{"--qam", "8qam"}, "QAM mode must be 16qam, 32qam or 64qam"},
        {{"--ldpc-accel", "gpu"}, "LDPC accelerator must be cpu or cuda"},
        {{"--force-frame-range", "0:5"}, "invalid frame range, expected 1-based FIRST:LAST"},
        // The first bad value in command-line order wins over later ones and over later checks.
        {{"--workers", "1y", "--max-iterations", "z"}, "invalid worker count: 1y"},
        {{"--max-iterations", "0", "--workers", "1y"}, "invalid worker count: 1y"},
    });
}

TEST(CommandLine, UsageErrors) {
    DecoderFiles files;
    expect_outcome({"--alist", files.alist}, "");
    expect_outcome({"--fec-rate", "3"}, "");
    expect_outcome({"--fec-rate", "3", "--alist", ""}, "");
    expect_outcome({"--fec-rate", "0", "--alist", files.alist}, "");
    expect_cases(files, {
        {{"--codewords-per-frame", "0"}, ""},
        {{"third-positional"}, ""},
        {{"--workers"}, ""},  // a value-taking option at the end
        {{"--early-syndrome-reject-ratio", "1.5"}, ""},
        {{"--early-syndrome-reject-ratio", "-0.5"}, ""},
        {{"--early-syndrome-reject-ratio", "nan"}, ""},
    });
}

TEST(CommandLine, QamGroupingAnd32QamRestrictions) {
    DecoderFiles files;
    expect_cases(files, {
        {{"--qam", "64qam", "--codewords-per-frame", "2"}, "--codewords-per-frame conflicts with --qam FEC grouping"},
        {{"--qam", "16qam", "--codewords-per-frame", "3"}, "--codewords-per-frame conflicts with --qam FEC grouping"},
        {{"--qam32-frame-phase", "2"}, "32QAM frame phase must be auto, 0 or 1"},
        {{"--qam32-frame-phase", "1"}, "--qam32-frame-phase requires --qam 32qam"},
        {{"--qam", "32qam", "--retry-branch-window", "0:3"}, "--retry-branch-window does not support 32QAM packing"},
        {{"--qam", "32qam", "--retry-qam-plane", "1"}, "--retry-qam-plane does not support 32QAM packing"},
        // Values are tested as well as option names.
        {{"--qam", "32qam", "--frame-diagnostics-out", "--select-mode2-source-x"},
         "--select-mode2-source-x does not support 32QAM packing"},
        {{"--qam", "32qam", "--retry-final-failed-syndrome-solve-ts-continuity-headers"},
         "--retry-final-failed-syndrome-solve-ts-continuity-headers does not support 32QAM packing"},
    });
    expect_cases(files, {{{"--qam", "32qam"}, "32QAM requires DTMB FEC rate 3"}}, 2);
    // A missing rate counts as 0 for the 32QAM check, which comes before the usage check.
    expect_outcome({"--qam", "32qam", "--alist", files.alist}, "32QAM requires DTMB FEC rate 3");
}

TEST(CommandLine, IterationClipAndRetryValueChecks) {
    DecoderFiles files;
    expect_cases(files, {
        {{"--max-iterations", "0"}, "max iterations must be positive"},
        {{"--retry-max-iterations", "0"}, "retry max iterations must be positive"},
        {{"--llr-clip", "0"}, "LLR clip must be positive and finite"},
        {{"--llr-clip", "inf"}, "LLR clip must be positive and finite"},
        {{"--llr-clip", "nan"}, "LLR clip must be positive and finite"},
        {{"--retry-llr-clip", "4", "--retry-llr-clip", "-1"}, "retry LLR clips must be positive and finite"},
        {{"--retry-llr-scale", "-0.5"}, "retry LLR scales must be non-negative and finite"},
        {{"--retry-llr-scale", "inf"}, "retry LLR scales must be non-negative and finite"},
        {{"--retry-weak-erase-fraction", "1"}, "retry weak erase fractions must be finite and within 0..1"},
        {{"--retry-weak-erase-fraction", "0"}, "retry weak erase fractions must be finite and within 0..1"},
        {{"--retry-attenuation", "0"}, "retry attenuations must be positive and finite"},
        {{"--retry-unsatisfied-erase-count", "0"}, "retry unsatisfied erase counts must be positive"},
        {{"--retry-final-failed-erase-count", "0"}, "retry final failed erase counts must be positive"},
        {{"--retry-final-failed-flip-count", "0"}, "retry final failed flip counts must be positive"},
        {{"--retry-final-failed-greedy-flip-count", "0"}, "retry final failed greedy flip counts must be positive"},
        {{"--retry-final-failed-syndrome-solve-count", "0"}, "retry final failed syndrome solve counts must be positive"},
        // Checks run in their fixed order, whatever the order on the command line.
        {{"--retry-attenuation", "0", "--retry-llr-scale", "-1"}, "retry LLR scales must be non-negative and finite"},
        {{"--retry-final-failed-syndrome-solve-nullspace-depth", "0"},
         "retry final failed syndrome solve nullspace depth must be 1..3"},
        {{"--retry-final-failed-syndrome-solve-nullspace-depth", "4"},
         "retry final failed syndrome solve nullspace depth must be 1..3"},
        {{"--retry-final-failed-syndrome-solve-ts-continuity-headers"},
         "retry TS continuity header constraints require --retry-require-ts-packet-continuity"},
        {{"--retry-final-failed-syndrome-solve-ts-continuity-header-templates"},
         "retry TS continuity header template constraints require --retry-require-ts-packet-continuity"},
        {{"--retry-final-failed-syndrome-solve-ts-continuity-headers",
          "--retry-final-failed-syndrome-solve-ts-continuity-header-templates", "--retry-require-ts-packet-continuity"},
         "retry TS continuity header constraints and template constraints are mutually exclusive"},
    });
}

TEST(CommandLine, RetrySelectionBounds) {
    DecoderFiles files;
    expect_cases(files, {
        {{"--retry-qam-plane", "6"}, "retry QAM planes must be within 0..5"},
        {{"--retry-variable-range", "0:7488"}, "retry variable ranges must be within transmitted codeword bits"},
        {{"--retry-branch-window", "0:52"}, "retry branch windows must be within 0..51"},
        {{"--retry-branch-window-sweep", "40:60:1:5"}, "retry branch windows must be within 0..51"},
        {{"--retry-branch-window-sweep", "0:18446744073709551615:1:18446744073709551615"},
         "retry branch windows must be within 0..51"},
        {{"--retry-branch-window-group", "0:3,50:52"}, "retry branch window group ranges must be within 0..51"},
        {{"--retry-branch-window-frame-range", "1:2"},
         "retry branch window frame ranges require --retry-branch-window or --retry-branch-window-group"},
        {{"--retry-branch-window-for-frame-range", "1:2:0:52"},
         "retry branch window rule branch ranges must be within 0..51"},
    });
    // The variable range bound looks up the profile, so a bad rate fails there first.
    expect_cases(files, {{{"--retry-variable-range", "0:1"}, "fec rate must be 1, 2, or 3"}}, 4);
}

TEST(CommandLine, EmissionGateAndScaleRuleChecks) {
    DecoderFiles files;
    const std::vector<std::string> gate{"--hard-h-gate-window-codewords", "6", "--hard-h-gate-step-codewords", "3",
                                        "--hard-h-gate-threshold", "0.5"};
    const auto with_gate = [&](std::vector<std::string> extra, const std::string& window, const std::string& step,
                               const std::string& threshold) {
        extra.insert(extra.end(), {"--hard-h-gate-window-codewords", window, "--hard-h-gate-step-codewords", step,
                                   "--hard-h-gate-threshold", threshold});
        return extra;
    };
    expect_cases(files, {
        {{"--emit-clean-codewords"}, "emit-clean-codewords requires --clean-frames-only"},
        {{"--emit-bch-clean-codewords"}, "emit-bch-clean-codewords requires --emit-clean-codewords"},
        {{"--emit-bch-clean-packets"}, "emit-bch-clean-packets requires --emit-clean-codewords"},
        {{"--emit-forced-codewords"}, "emit-forced-codewords requires --emit-clean-codewords"},
        {{"--emit-forced-codewords", "--emit-clean-codewords", "--clean-frames-only"},
         "emit-forced-codewords requires --force-frame-range"},
        {{"--hard-h-gate-window-codewords", "3", "--hard-h-gate-threshold", "0.5"},
         "hard H gate options must be supplied together"},
        {{"--hard-h-gate-fill-max-gap-frames", "1"}, "hard H gate gap fill requires hard H gate options"},
        {with_gate({}, "0", "3", "0.5"), "hard H gate window and step must be positive whole FEC frames"},
        {with_gate({}, "4", "3", "0.5"), "hard H gate window and step must be positive whole FEC frames"},
        {with_gate({}, "6", "0", "0.5"), "hard H gate window and step must be positive whole FEC frames"},
        {with_gate({}, "6", "6", "0.5"), "hard H gate v1 requires step codewords equal codewords per frame"},
        {with_gate({}, "6", "3", "1.01"), "hard H gate threshold must be finite and within 0..1"},
        {with_gate({}, "6", "3", "nan"), "hard H gate threshold must be finite and within 0..1"},
        {{"--llr-scale-codeword", "1:1:3:1"}, "codeword LLR scale slot is outside codewords-per-frame"},
        {{"--codewords-per-frame", "18446744073709551615"},
         "codewords per frame is too large for a FEC frame in memory"},
    });
}

TEST(CommandLine, LiveOperationChecks) {
    DecoderFiles files;
    expect_cases(files, {
        {{"--status-interval", "0"}, "status interval must be within 0.01..86400 seconds"},
        {{"--status-interval", "inf"}, "status interval must be within 0.01..86400 seconds"},
        {{"--status-out", "s", "--status-fd", "3"}, "--status-out and --status-fd are mutually exclusive"},
        {{"--status-fd", "0"}, "status descriptor must be an output descriptor, not 0"},
        {{"--nonfinite-llrs", "zero"}, "nonfinite LLR policy must be fail or erase"},
    });
    // Standard output carries the transport stream unless the output is a file.
    const auto clash = run_in_process({"--fec-rate", "3", "--alist", files.alist, "--status-fd", "1", files.input});
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(clash.err, kPrefix + "status lines on standard output need the transport stream in a file\n");
}

TEST(CommandLine, AcceptedCombinationsParse) {
    const std::vector<std::string> program{"qarel_ldpc_bch_decode"};
    const auto parse = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), program.begin(), program.end());
        return parse_command_line(extra);
    };
    const auto base = parse({"--fec-rate", "3", "--alist", "a.alist"});
    EXPECT_EQ(base.input_path, "-");
    EXPECT_EQ(base.output_path, "-");
    EXPECT_FALSE(base.retry_enabled);
    EXPECT_FALSE(base.initial_syndrome_scoring);
    EXPECT_EQ(base.retry_max_iterations, 50u);

    const auto o = parse({"--fec-rate", "3", "--alist", "a.alist", "--qam", "64qam", "--codewords-per-frame", "3",
                          "--max-iterations", "20", "--early-syndrome-reject-ratio", "none", "in", "out",
                          "--retry-branch-window-frame-range", "1:2", "--retry-branch-window-sweep", "0:2:2:2",
                          "--hard-h-gate-fill-max-gap-frames", "0", "--fec-rate", "2", "--retry-layered"});
    EXPECT_EQ(o.fec_rate, 2u);  // scalars take their last occurrence
    EXPECT_EQ(o.codewords_per_frame, 3u);
    EXPECT_EQ(o.early_syndrome_reject_ratio, -1.0f);
    EXPECT_EQ(o.input_path, "in");
    EXPECT_EQ(o.output_path, "out");
    EXPECT_EQ(o.retry_branch_windows, (std::vector<options::BranchWindow>{{0, 1}, {1, 2}}));
    EXPECT_TRUE(o.retry_enabled);
    EXPECT_EQ(o.retry_max_iterations, 20u);
    EXPECT_FALSE(o.hard_h_gate_enabled);

    const auto scoring = parse({"--fec-rate", "1", "--alist", "a", "--early-syndrome-reject-ratio", "0",
                                "--retry-max-iterations", "7", "--select-mode2-source-frame-window", "0:3"});
    EXPECT_TRUE(scoring.initial_syndrome_scoring);
    EXPECT_TRUE(scoring.select_mode2_enabled);
    EXPECT_EQ(scoring.retry_max_iterations, 7u);
    EXPECT_FALSE(scoring.retry_enabled);
    EXPECT_EQ(parse({"--fec-rate", "3", "--alist", "a", "--qam", "16qam"}).codewords_per_frame, 2u);
    EXPECT_EQ(parse({"--fec-rate", "3", "--alist", "a", "--qam", "32qam"}).codewords_per_frame, 5u);

    // Continuity is only judged on well-formed packets: asking for it asks for syntax too.
    const auto continuity = parse({"--fec-rate", "3", "--alist", "a", "--retry-require-ts-packet-continuity"});
    EXPECT_TRUE(continuity.retry_require_ts_packet_syntax);
    EXPECT_TRUE(continuity.retry_require_ts_packet_continuity);
    EXPECT_FALSE(base.retry_require_ts_packet_syntax);
}

}  // namespace
}  // namespace qarel::cli
