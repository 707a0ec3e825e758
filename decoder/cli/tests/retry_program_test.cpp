// Retries through the real program: each recovery path on a generated stream whose
// baseline decode fails and whose retry gives back the source bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/cli/tests/stream_fixture.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::cli {
namespace {

using namespace qarel::cli::test;

Stream bpsk_stream(double esn0_db, std::uint64_t seed, std::uint64_t frames = 2) {
    StreamRecipe recipe = recipe_of(3, frames);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = esn0_db, .seed = seed};
    return make_stream(recipe);
}

// One iteration leaves every codeword of this stream unconverged; fifty do not.
const std::vector<std::string> kOneIteration{"--max-iterations", "1", "--retry-max-iterations", "50"};

void expect_recovered(const Decoded& d, const Stream& stream, const std::string& counter, const std::string& count) {
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(d.output == stream.ts);
    EXPECT_EQ(d.value(counter), count);
    EXPECT_EQ(d.value("clean_frames"), d.value("frames"));
}

TEST(RetryProgram, OtherDecoderSettingsRecoverWhatTheBaselineLost) {
    const Stream stream = bpsk_stream(3.0, 5);
    const Decoded baseline = decode(stream, 3, {"--max-iterations", "1"});
    EXPECT_EQ(baseline.value("converged_codewords"), "0");
    EXPECT_EQ(baseline.value("retry_enabled"), "false");

    const Decoded attenuation = decode(stream, 3, with(kOneIteration, {"--retry-attenuation", "0.7"}));
    expect_recovered(attenuation, stream, "retry_recovered_codewords", "6");
    EXPECT_EQ(attenuation.value("retry_attempts"), "6");
    EXPECT_EQ(attenuation.value("layered_retry_recovered_codewords"), "0");

    const Decoded layered = decode(stream, 3, with(kOneIteration, {"--retry-layered"}));
    expect_recovered(layered, stream, "layered_retry_recovered_codewords", "6");

    // Scales 1 and 0.5 (the repeated 0.5 is tried once), attenuations 0.75 and 0.7, both
    // decoders: 2 x 2 x 2 - 1 attempts for each of the 6 codewords.
    const Decoded plan = decode(stream, 3, with(kOneIteration, {"--retry-llr-scale", "0.5", "--retry-llr-scale", "0.5",
                                                               "--retry-attenuation", "0.7", "--retry-layered"}));
    expect_recovered(plan, stream, "retry_recovered_codewords", "6");
    EXPECT_EQ(plan.value("retry_attempts"), "42");
}

TEST(RetryProgram, ErasingADestroyedPlaneOrBranchWindowRecoversIt) {
    // All of QAM plane 2 of frame 2 arrives inverted; the rate-0.6 code fills in the erased plane.
    const Stream plane_lost = make_stream(recipe_of(2, 2, {"corrupt:plane=2:2"}));
    const Decoded plane = decode(plane_lost, 2, {"--retry-qam-plane", "2", "--retry-qam-plane", "4"});
    expect_recovered(plane, plane_lost, "qam_plane_retry_recovered_codewords", "3");
    EXPECT_EQ(plane.value("retry_attempts"), "6");

    const Stream window_lost = make_stream(recipe_of(3, 2, {"corrupt:branches=10-14:2"}));
    const Decoded window = decode(window_lost, 3, {"--retry-branch-window", "30:31", "--retry-branch-window", "10:14"});
    expect_recovered(window, window_lost, "branch_window_retry_recovered_codewords", "3");
    EXPECT_EQ(window.value("branch_window_group_retry_recovered_codewords"), "0");

    // Two windows lost together: neither window alone is enough, the group is.
    const Stream two_lost = make_stream(recipe_of(3, 2, {"corrupt:branches=3-5:2", "corrupt:branches=10-12:2"}));
    const Decoded group = decode(two_lost, 3, {"--retry-branch-window", "3:5", "--retry-branch-window", "10:12",
                                               "--retry-branch-window-group", "3:5,10:12"});
    expect_recovered(group, two_lost, "branch_window_group_retry_recovered_codewords", "3");
    EXPECT_EQ(group.value("branch_window_retry_recovered_codewords"), "3");
    EXPECT_EQ(group.value("retry_attempts"), "9");

    // The same windows named as mode-2 source frames: at frame 2 branch b carries source
    // frame 1 + 10 x b, so source frames 101..141 are branches 10..14.
    const Decoded source = decode(window_lost, 3, {"--retry-mode2-source-frame-window", "101:141"});
    expect_recovered(source, window_lost, "branch_window_retry_recovered_codewords", "3");
}

TEST(RetryProgram, FinalFailedFlipsFinishWhatOneIterationLeft) {
    const std::vector<std::string> one_each{"--max-iterations", "1", "--retry-max-iterations", "1"};
    const Stream clean_channel = bpsk_stream(6.0, 1);
    const Decoded baseline = decode(clean_channel, 3, {"--max-iterations", "1"});
    EXPECT_EQ(baseline.value("clean_codewords"), "5");
    const Decoded flip = decode(clean_channel, 3, with(one_each, {"--retry-final-failed-flip-count", "30"}));
    expect_recovered(flip, clean_channel, "final_failed_flip_retry_recovered_codewords", "1");

    const Stream noisier = bpsk_stream(5.5, 4);
    EXPECT_EQ(decode(noisier, 3, {"--max-iterations", "1"}).value("clean_codewords"), "0");
    const Decoded greedy = decode(noisier, 3, with(one_each, {"--retry-final-failed-greedy-flip-count", "30"}));
    expect_recovered(greedy, noisier, "final_failed_greedy_flip_retry_recovered_codewords", "6");
}

TEST(RetryProgram, CleanCodewordsAreNeverRetried) {
    const Stream stream = make_stream(recipe_of(3, 2));
    const Decoded d = decode(stream, 3, {"--retry-layered", "--retry-qam-plane", "1"});
    EXPECT_TRUE(d.output == stream.ts);
    EXPECT_EQ(d.value("retry_enabled"), "true");
    EXPECT_EQ(d.value("retry_attempts"), "0");
}

TEST(RetryProgram, OutputDoesNotDependOnWorkersOrBatchSize) {
    StreamRecipe recipe = recipe_of(3, 5, {"corrupt:branches=10-14:2-3"});
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 4.0, .seed = 21};
    const Stream stream = make_stream(recipe);
    const std::vector<std::string> plan{"--retry-branch-window", "10:14", "--retry-layered", "--retry-attenuation", "0.6",
                                        "--retry-final-failed-greedy-flip-count", "8", "--retry-require-ts-packet-syntax",
                                        "--clean-frames-only", "--emit-clean-codewords"};
    const Decoded d = expect_independent_of_workers_and_batches(stream, 3, plan, {"1", "3"}, {"1", "2", "16"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.value("retry_recovered_codewords"), "0");
}

// ---- The syndrome solve and the continuity requirement.

const std::vector<std::string> kSolve{"--max-iterations", "1", "--retry-max-iterations", "1",
                                      "--retry-final-failed-syndrome-solve-count", "100"};

TEST(RetryProgram, TheSyndromeSolveFinishesWhatTheDecoderLeft) {
    const Stream stream = bpsk_stream(5.0, 1);
    const Decoded baseline = decode(stream, 3, {"--max-iterations", "1"});
    ASSERT_NE(baseline.value("clean_codewords"), "6");
    const Decoded solved = decode(stream, 3, kSolve);
    const std::uint64_t lost = 6 - std::stoull(baseline.value("clean_codewords"));
    expect_recovered(solved, stream, "final_failed_syndrome_solve_retry_recovered_codewords", std::to_string(lost));
}

// The source stream skips one continuity counter of PID 0x100 at its first packet in frame 2
// (packet 12, slot 0), and every later packet of the PID follows the skipped value. That
// codeword alone arrives with 40 bits inverted, which one iteration does not repair.
std::vector<std::uint8_t> ts_with_a_counter_jump() {
    const std::uint64_t packets = 2 * 3 * 4;
    auto ts = testgen::generate_transport_stream(packets, 3);
    bool jumped = false;
    for (std::uint64_t i = 12; i < packets; ++i) {
        std::uint8_t* p = ts.data() + 188 * i;
        if ((((p[1] & 0x1f) << 8) | p[2]) != 0x100 || !(p[3] & 0x10)) continue;
        EXPECT_TRUE(jumped || i == 12);
        jumped = true;
        p[3] = static_cast<std::uint8_t>((p[3] & 0xf0) | ((p[3] + 1) & 0x0f));
    }
    return ts;
}

Stream stream_with_a_counter_jump() {
    return make_stream(recipe_of(3, 2, {"corrupt:bits=3000-3039:2:0"}), ts_with_a_counter_jump());
}

TEST(RetryProgram, RecoveredCodewordsThatBreakContinuityAreRejected) {
    const Stream stream = stream_with_a_counter_jump();
    const auto codewords = with(kSolve, {"--clean-frames-only", "--emit-clean-codewords"});
    const Decoded trusting = decode(stream, 3, codewords);
    ASSERT_EQ(trusting.value("retry_recovered_codewords"), "1");
    EXPECT_TRUE(trusting.output == stream.ts);

    const Decoded strict = decode(stream, 3, with(codewords, {"--retry-require-ts-packet-continuity"}));
    EXPECT_EQ(strict.value("retry_require_ts_packet_syntax"), "true");
    EXPECT_EQ(strict.value("retry_ts_continuity_rejected_codewords"), "1");
    EXPECT_EQ(strict.value("retry_ts_continuity_context_recovered_codewords"), "0");
    EXPECT_EQ(strict.value("retry_recovered_codewords"), "0");
    EXPECT_EQ(strict.value("omitted_codewords"), "1");
    // Slot 0 of frame 2 is not written; the rest is.
    EXPECT_TRUE(strict.output == frames_of(stream, {1}) + frames_of(stream, {2}).substr(752));
}

TEST(RetryProgram, SolveAndContinuityOutputDoesNotDependOnWorkersOrBatchSize) {
    StreamRecipe recipe = recipe_of(3, 2);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 5.0, .seed = 1};
    const Stream stream = make_stream(recipe, ts_with_a_counter_jump());
    const auto options = with(kSolve, {"--retry-require-ts-packet-continuity",
                                       "--retry-final-failed-syndrome-solve-ts-continuity-headers",
                                       "--retry-final-failed-syndrome-solve-nullspace-search", "8",
                                       "--clean-frames-only", "--emit-clean-codewords"});
    const Decoded d = expect_independent_of_workers_and_batches(stream, 3, options, {"1", "4"}, {"1", "16"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.value("final_failed_syndrome_solve_retry_recovered_codewords"), "0");
    EXPECT_NE(d.value("retry_ts_continuity_rejected_codewords"), "0");
}

}  // namespace
}  // namespace qarel::cli
