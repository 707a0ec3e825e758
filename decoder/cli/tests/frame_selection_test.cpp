#include "decoder/cli/frame_selection.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "decoder/cli/tests/stream_fixture.hpp"
#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::cli {
namespace {

using namespace qarel::cli::test;

// ---- The selection rules, on frames of one codeword scored by a single check on bit 0:
// a frame is "good" (score 0) or "bad" (score 1).

struct Routed {
    std::uint64_t frame_index;
    bool decoded;
    bool forced;
    bool omitted;
    bool mode2;
    bool gap_filled;
    std::uint64_t score;
};

class RecordingSink : public SelectedFrameSink {
public:
    void add_decode_frame(engine::FrameSelectionRecord&& f) override { record(f, true); }
    void add_skipped_frame(engine::FrameSelectionRecord&& f) override { record(f, false); }

    std::vector<Routed> frames;

    std::string decisions() const {
        std::string text;
        for (const auto& f : frames) text += f.decoded ? (f.gap_filled ? 'F' : 'D') : (f.omitted ? 'O' : '-');
        return text;
    }

private:
    void record(const engine::FrameSelectionRecord& f, bool decoded) {
        frames.push_back({f.frame_index, decoded, f.forced, f.omitted, f.mode2_source_frame_selected,
                          f.hard_h_gap_filled, f.hard_h_clean_syndrome_weight});
    }
};

ldpc::LdpcGraph bit_zero_check() {
    ldpc::LdpcGraph graph;
    graph.variable_count = ldpc::kTransmittedBits;
    graph.check_offsets = {0, 1};
    graph.edge_variables = {0};
    return graph;
}

struct Selection {
    explicit Selection(std::vector<std::string> extra) {
        std::vector<std::string> args{"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a", "--codewords-per-frame", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        options = parse_command_line(args);
        selector.emplace(options, &graph, 1, counters, sink);
    }

    // 'g' a good frame, 'b' a bad one; frame indices continue from the last call.
    void route(const std::string& pattern) {
        for (const char kind : pattern) {
            engine::FrameSelectionRecord frame;
            frame.llrs.assign(ldpc::kTransmittedBits, 1.0f);
            if (kind == 'b') frame.llrs[0] = -1.0f;
            frame.frame_index = ++frames;
            selector->route_frame(std::move(frame));
        }
    }

    std::string run(const std::string& pattern) {
        route(pattern);
        selector->finish_selection();
        EXPECT_EQ(selector->held_frames(), 0u);
        return sink.decisions();
    }

    options::RunOptions options;
    ldpc::LdpcGraph graph = bit_zero_check();
    diag::SelectionCounters counters;
    RecordingSink sink;
    std::optional<FrameSelector> selector;
    std::uint64_t frames = 0;
};

std::vector<std::string> gate(const std::string& window, const std::string& threshold, const std::string& max_gap = "0") {
    return {"--hard-h-gate-window-codewords", window, "--hard-h-gate-step-codewords", "1",
            "--hard-h-gate-threshold", threshold, "--hard-h-gate-fill-max-gap-frames", max_gap};
}

TEST(FrameSelection, WithoutTheGateRangesAndWindowsRestrictDecoding) {
    EXPECT_EQ(Selection({}).run("gbgb"), "DDDD");

    Selection forced({"--force-frame-range", "5:6"});
    EXPECT_EQ(forced.run("gggggggg"), "----DD--");
    EXPECT_EQ(forced.counters.forced_selected_frames, 2u);
    EXPECT_TRUE(forced.sink.frames[4].forced);

    Selection both({"--force-frame-range", "2:3", "--omit-frame-range", "3:3"});
    EXPECT_EQ(both.run("gggg"), "-DO-");
    EXPECT_FALSE(both.sink.frames[2].forced);
    EXPECT_EQ(both.counters.forced_selected_frames, 1u);

    // Frame 3 carries source frame 2 on branch 0; frame 1 carries 0, 10, 20, ...
    Selection mode2({"--select-mode2-source-frame-window", "2:2", "--select-mode2-source-frame-window-for-frame-range",
                     "5:6:14:14"});
    EXPECT_EQ(mode2.run("gggggg"), "--D-D-");
    EXPECT_EQ(mode2.counters.mode2_source_frame_selected_frames, 2u);
    EXPECT_EQ(mode2.counters.hard_h_gate_scored_windows, 0u);
    EXPECT_EQ(mode2.counters.hard_h_gate_skipped_frames, 0u);
}

TEST(FrameSelection, TheGateSelectsEveryFrameOfAPassingWindow) {
    Selection two({"--hard-h-gate-window-codewords", "2", "--hard-h-gate-step-codewords", "1", "--hard-h-gate-threshold", "0"});
    EXPECT_EQ(two.run("ggbgg"), "DD-DD");
    EXPECT_EQ(two.counters.hard_h_gate_scored_windows, 4u);
    EXPECT_EQ(two.counters.hard_h_gate_pass_windows, 2u);
    EXPECT_EQ(two.counters.hard_h_gate_selected_frames, 4u);
    EXPECT_EQ(two.counters.hard_h_gate_skipped_frames, 1u);
    EXPECT_EQ(two.sink.frames[2].score, 1u);

    // One bad frame in a window of two is a ratio of 1/2.
    EXPECT_EQ(Selection(gate("2", "0.5")).run("gbbgb"), "DDDDD");
    EXPECT_EQ(Selection(gate("2", "0.5")).run("gbbbg"), "DD-DD");
    EXPECT_EQ(Selection(gate("2", "1")).run("bbbb"), "DDDD");
}

TEST(FrameSelection, TooFewFramesForAWindowScoreNothing) {
    Selection short_input(with(gate("4", "1"), {"--force-frame-range", "2:2"}));
    EXPECT_EQ(short_input.run("ggg"), "-D-");
    EXPECT_EQ(short_input.counters.hard_h_gate_scored_windows, 0u);
    EXPECT_EQ(short_input.counters.forced_selected_frames, 1u);
}

TEST(FrameSelection, ModeTwoSelectionLeavesTheGateOnlyScoring) {
    Selection s(with(gate("1", "1", "2"), {"--select-mode2-source-frame-window", "1:1"}));
    EXPECT_EQ(s.run("ggbgg"), "-D---");
    EXPECT_EQ(s.counters.hard_h_gate_pass_windows, 5u);
    EXPECT_EQ(s.counters.hard_h_gate_gap_filled_frames, 0u);
    EXPECT_EQ(s.counters.mode2_source_frame_selected_frames, 1u);
}

TEST(FrameSelection, GapsBetweenSelectedFramesAreFilledUpToTheMaximum) {
    Selection two(gate("1", "0", "2"));
    EXPECT_EQ(two.run("gbbgbbbg"), "DFFD---D");
    EXPECT_EQ(two.counters.hard_h_gate_gap_filled_frames, 2u);
    EXPECT_EQ(two.counters.hard_h_gate_selected_frames, 5u);

    // A gap needs a frame selected on its own in front of it and one behind it.
    EXPECT_EQ(Selection(gate("1", "0", "2")).run("bgbg"), "-DFD");
    EXPECT_EQ(Selection(gate("1", "0", "2")).run("gbb"), "D--");
    EXPECT_EQ(Selection(gate("1", "0", "0")).run("gbg"), "D-D");

    // An omitted frame cannot be bridged, not even as the whole gap.
    EXPECT_EQ(Selection(with(gate("1", "0", "2"), {"--omit-frame-range", "2:2"})).run("gbg"), "DOD");
    EXPECT_EQ(Selection(with(gate("1", "0", "2"), {"--omit-frame-range", "3:3"})).run("gbgbg"), "D-O-D");
}

TEST(FrameSelection, TheGateHoldsNoMoreThanItsWindowAndOneGap) {
    Selection s(gate("4", "0.3", "3"));
    std::uint64_t seed = 1;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        s.route((seed >> 60) < 6 ? "b" : "g");
        ASSERT_LE(s.selector->held_frames(), 3u + 4u);
    }
    s.selector->finish_selection();
    EXPECT_EQ(s.sink.frames.size(), 2000u);
    for (std::size_t i = 0; i < s.sink.frames.size(); ++i) ASSERT_EQ(s.sink.frames[i].frame_index, i + 1);
}

// ---- Through the real program, on generated streams.

// Five frames; frames 2 and 3 (or 2 to 4) arrive with 30 bits of every codeword inverted:
// the decoder still repairs them, but their hard decisions fail clean rows.
Stream stream_with_bad_frames(const std::string& bad_frames) {
    return make_stream(recipe_of(3, 5, {"corrupt:bits=100-129:" + bad_frames}));
}

std::vector<std::string> program_gate(const std::string& max_gap) {
    return {"--hard-h-gate-window-codewords", "3", "--hard-h-gate-step-codewords", "3", "--hard-h-gate-threshold", "0",
            "--hard-h-gate-fill-max-gap-frames", max_gap};
}

TEST(FrameSelectionProgram, RangesNameTheFramesUsersSee) {
    const Stream stream = make_stream(recipe_of(3, 4));
    const Decoded omitted = decode(stream, 3, {"--omit-frame-range", "2:2"});
    EXPECT_EQ(omitted.status, 0);
    EXPECT_TRUE(omitted.output == frames_of(stream, {1, 3, 4}));
    EXPECT_EQ(omitted.value("omitted_frames"), "1");
    EXPECT_EQ(omitted.value("soft_decoded_frames"), "3");

    const Decoded forced = decode(stream, 3, {"--frame-index-offset", "100", "--force-frame-range", "102:103"});
    EXPECT_TRUE(forced.output == frames_of(stream, {2, 3}));
    EXPECT_EQ(forced.value("forced_selected_frames"), "2");
    EXPECT_EQ(forced.value("omitted_codewords"), "6");
    EXPECT_NE(forced.provenance.find("\"frame_index\":102,"), std::string::npos);

    const Decoded nothing = decode(stream, 3, {"--omit-frame-range", "1:4", "--require-output"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_TRUE(nothing.err.ends_with(
        "\nqarel_ldpc_bch_decode: no transport bytes recovered (empty output is not a successful decode)\n"));
    EXPECT_EQ(nothing.value("omitted_frames"), "4");
    EXPECT_EQ(nothing.value("frames"), "4");
    EXPECT_TRUE(nothing.output.empty());
}

TEST(FrameSelectionProgram, TheGateFillsShortGapsOnly) {
    const Stream two_bad = stream_with_bad_frames("2-3");
    const Decoded filled = decode(two_bad, 3, program_gate("2"));
    EXPECT_EQ(filled.status, 0);
    EXPECT_TRUE(filled.output == two_bad.ts);
    EXPECT_EQ(filled.value("hard_h_gate_gap_filled_frames"), "2");
    EXPECT_EQ(filled.value("hard_h_gate_pass_windows"), "3");

    const Decoded unfilled = decode(two_bad, 3, program_gate("0"));
    EXPECT_TRUE(unfilled.output == frames_of(two_bad, {1, 4, 5}));
    EXPECT_EQ(unfilled.value("hard_h_gate_skipped_frames"), "2");
    EXPECT_EQ(unfilled.value("omitted_frames"), "2");

    const Stream three_bad = stream_with_bad_frames("2-4");
    const Decoded too_long = decode(three_bad, 3, program_gate("2"));
    EXPECT_TRUE(too_long.output == frames_of(three_bad, {1, 5}));
    EXPECT_EQ(too_long.value("hard_h_gate_gap_filled_frames"), "0");

    const Decoded everything = decode(three_bad, 3, with(program_gate("0"), {"--hard-h-gate-threshold", "1"}));
    EXPECT_TRUE(everything.output == three_bad.ts);
    EXPECT_EQ(everything.value("hard_h_gate_scored_windows"), "5");
}

bool is_inserted_discontinuity_packet(const std::string& p) {
    return p[0] == 0x47 && (p[3] & 0xf0) == 0x20 && static_cast<unsigned char>(p[4]) == 183 &&
           static_cast<unsigned char>(p[5]) == 0x80 && p.find_first_not_of('\xff', 6) == std::string::npos;
}

TEST(FrameSelectionProgram, PacketsLostWithASkippedFrameAreSignalled) {
    const Stream stream = stream_with_bad_frames("2-3");
    const Decoded d = decode(stream, 3, with(program_gate("0"), {"--insert-discontinuity-packets"}));
    std::string source_packets;
    std::uint64_t inserted = 0;
    for (std::size_t p = 0; p < d.output.size(); p += 188) {
        const std::string packet = d.output.substr(p, 188);
        if (is_inserted_discontinuity_packet(packet)) {
            ++inserted;
            EXPECT_GE(p, stream.frame_bytes);  // never ahead of the frames before the loss
        } else {
            source_packets += packet;
        }
    }
    EXPECT_TRUE(source_packets == frames_of(stream, {1, 4, 5}));
    EXPECT_GT(inserted, 0u);
    EXPECT_EQ(d.value("discontinuity_inserted_packets"), std::to_string(inserted));
}

TEST(FrameSelectionProgram, OutputDoesNotDependOnWorkersOrBatchSize) {
    StreamRecipe recipe = recipe_of(3, 9, {"corrupt:bits=100-129:2-3", "corrupt:bits=0-2999:6-8"});
    const Stream stream = make_stream(recipe);
    const auto options = with(program_gate("2"), {"--insert-discontinuity-packets", "--omit-frame-range", "7:7"});
    const Decoded d = expect_independent_of_workers_and_batches(stream, 3, options, {"1", "3"}, {"1", "2", "16"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.value("hard_h_gate_gap_filled_frames"), "2");
    EXPECT_EQ(d.value("hard_h_gate_skipped_frames"), "3");
}

}  // namespace
}  // namespace qarel::cli
