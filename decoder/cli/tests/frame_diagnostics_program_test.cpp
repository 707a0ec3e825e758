// The frame diagnostics file of real runs, read back with a JSON parser.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/cli/tests/stream_fixture.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::cli {
namespace {

using namespace qarel::cli::test;
using Json = nlohmann::ordered_json;

const std::vector<std::string> kMembers = {
    "schema", "frame_index", "hard_h_selected", "force_selected", "force_omitted", "mode2_source_frame_selected",
    "hard_h_gap_filled", "hard_h_clean_syndrome_weight", "llr_sample_count", "llr_abs_sum", "llr_abs_mean",
    "llr_abs_min", "llr_abs_max", "llr_weak_threshold", "llr_weak_count", "llr_hard_one_count", "soft_decoded", "clean",
    "emitted", "converged_codewords", "ldpc_iterations", "initial_syndrome_scored", "initial_syndrome_weight",
    "early_rejected_codewords", "final_syndrome_weight", "bch_corrected_errors", "bch_unclean_blocks",
    "clean_codewords", "emitted_codewords", "omitted_codewords", "discontinuity_marked_packets",
    "discontinuity_inserted_packets", "emitted_packets", "omitted_packets", "packets_per_codeword",
    "bch_clean_packet_salvage_emitted_packets", "codeword_converged", "codeword_ldpc_iterations",
    "codeword_initial_syndrome_weight", "codeword_final_syndrome_weight", "codeword_early_rejected",
    "codeword_bch_clean", "codeword_bch_corrected_errors", "codeword_bch_unclean_blocks", "codeword_clean",
    "codeword_emitted", "codeword_omitted", "codeword_llr_abs_sum", "codeword_llr_sample_count",
    "codeword_weak_llr_count", "codeword_hard_one_count", "codeword_retry_attempts", "codeword_retry_selected",
    "codeword_retry_layered", "codeword_retry_llr_scale", "codeword_retry_llr_clip",
    "codeword_retry_weak_erase_fraction", "codeword_retry_attenuation", "codeword_retry_unsatisfied_erase_count",
    "codeword_retry_final_failed_erase_count", "codeword_retry_final_failed_flip_count",
    "codeword_retry_final_failed_greedy_flip_count", "codeword_retry_final_failed_syndrome_solve_count",
    "codeword_retry_qam_plane", "codeword_retry_variable_range_first", "codeword_retry_variable_range_last",
    "codeword_retry_branch_window_first", "codeword_retry_branch_window_last", "codeword_retry_branch_window_group",
    "codeword_retry_bch_corrected_errors", "codeword_retry_ts_continuity_rejected"};

std::vector<Json> rows_of(const std::string& path) {
    std::vector<Json> rows;
    std::istringstream lines(qarel::test::read_file(path));
    for (std::string line; std::getline(lines, line);) rows.push_back(Json::parse(line));
    return rows;
}

std::vector<std::string> member_names(const Json& row) {
    std::vector<std::string> names;
    for (const auto& [key, value] : row.items()) names.push_back(key);
    return names;
}

std::vector<float> frame_llrs(const Stream& stream, std::uint64_t frame) {
    const std::size_t bytes = stream.llrs.size() / 4;  // 4 frames
    std::vector<float> values(bytes / 4);
    std::memcpy(values.data(), stream.llrs.data() + (frame - 1) * bytes, bytes);
    return values;
}

// Four frames of rate 3 at 3 dB; the second frame is omitted, slot 1 of the third arrives
// with 3000 bits inverted and cannot be decoded.
struct DiagnosedRun {
    DiagnosedRun(std::vector<std::string> extra = {}) {
        StreamRecipe recipe = recipe_of(3, 4, {"corrupt:bits=0-2999:3:1"});
        recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 3.0, .seed = 4};
        stream = make_stream(recipe);
        const auto args = with({"--frame-diagnostics-out", path, "--failed-variable-diagnostics-top", "3",
                                "--frame-index-offset", "10", "--omit-frame-range", "12:12", "--retry-layered"},
                               extra);
        decoded = decode(stream, 3, args);
        rows = rows_of(path);
    }
    qarel::test::TempDir dir;
    std::string path = dir.file("frames.jsonl");
    Stream stream;
    Decoded decoded;
    std::vector<Json> rows;
};

TEST(FrameDiagnosticsProgram, OneRowPerFrameWithEveryMemberInOrder) {
    const DiagnosedRun run;
    EXPECT_EQ(run.decoded.status, 0) << run.decoded.err;
    ASSERT_EQ(run.rows.size(), 4u);
    auto with_summary = kMembers;
    with_summary.push_back("codeword_final_failed_variable_summary");
    for (std::size_t i = 0; i < run.rows.size(); ++i) {
        SCOPED_TRACE(i);
        const Json& row = run.rows[i];
        EXPECT_EQ(member_names(row), with_summary);
        EXPECT_EQ(row["frame_index"], 11 + i);
        EXPECT_TRUE(row["schema"].is_string());
        EXPECT_TRUE(row["clean"].is_boolean());
        EXPECT_TRUE(row["llr_abs_sum"].is_number());
        EXPECT_TRUE(row["codeword_retry_variable_range_first"][0].is_number_unsigned());
        for (const char* key : {"codeword_converged", "codeword_llr_abs_sum", "codeword_retry_branch_window_group",
                                "codeword_final_failed_variable_summary"})
            EXPECT_EQ(row[key].size(), 3u) << key;

        // LLR statistics of the frame as the decoder held it (no scale rules here).
        const auto llrs = frame_llrs(run.stream, i + 1);
        double sum = 0;
        std::uint64_t weak = 0, ones = 0;
        for (const float x : llrs) {
            sum += std::fabs(x);
            weak += std::fabs(x) < 1.0f;
            ones += x < 0.0f;
        }
        EXPECT_EQ(row["llr_sample_count"], llrs.size());
        EXPECT_NEAR(row["llr_abs_sum"].get<double>(), sum, sum * 1e-5);
        EXPECT_EQ(row["llr_weak_count"], weak);
        EXPECT_EQ(row["llr_hard_one_count"], ones);
        EXPECT_EQ(row["codeword_llr_sample_count"], Json::parse("[7488,7488,7488]"));
    }
}

TEST(FrameDiagnosticsProgram, SkippedAndFailingFramesSayWhy) {
    const DiagnosedRun run;
    ASSERT_EQ(run.rows.size(), 4u);
    const Json& skipped = run.rows[1];
    EXPECT_EQ(skipped["soft_decoded"], false);
    EXPECT_EQ(skipped["force_omitted"], true);
    EXPECT_EQ(skipped["hard_h_selected"], false);
    EXPECT_EQ(skipped["omitted_codewords"], 3);
    EXPECT_EQ(skipped["codeword_omitted"], Json::parse("[1,1,1]"));
    EXPECT_EQ(skipped["codeword_retry_ts_continuity_rejected"], Json::array());
    EXPECT_EQ(skipped["codeword_final_failed_variable_summary"][2]["reason"], "not_soft_decoded");

    const Json& clean = run.rows[0];
    EXPECT_EQ(clean["clean"], true);
    EXPECT_EQ(clean["emitted_packets"], 12);
    EXPECT_EQ(clean["codeword_emitted"], Json::parse("[1,1,1]"));
    EXPECT_EQ(clean["codeword_retry_attempts"], Json::parse("[0,0,0]"));

    const Json& failing = run.rows[2];
    EXPECT_EQ(failing["clean"], false);
    EXPECT_EQ(failing["codeword_converged"], Json::parse("[1,0,1]"));
    EXPECT_EQ(failing["codeword_retry_attempts"], Json::parse("[0,1,0]"));
    EXPECT_EQ(failing["codeword_retry_selected"], Json::parse("[0,0,0]"));
    EXPECT_EQ(failing["emitted"], true);  // unclean frames are written as decoded by default
    const Json& summaries = failing["codeword_final_failed_variable_summary"];
    EXPECT_EQ(summaries[0], Json::parse(R"({"available":false,"reason":"codeword_converged"})"));
    const Json& failed = summaries[1];
    EXPECT_EQ(failed["available"], true);
    EXPECT_EQ(failed["fec_rate_index"], 3);
    EXPECT_EQ(failed["clean_check_count"], 1397);
    EXPECT_GT(failed["unsatisfied_clean_check_count"].get<int>(), 0);
    ASSERT_EQ(failed["top_variables"].size(), 3u);
    const Json& top = failed["top_variables"];
    EXPECT_GE(top[0]["unsatisfied_check_count"], top[1]["unsatisfied_check_count"]);
    EXPECT_GE(top[1]["unsatisfied_check_count"], top[2]["unsatisfied_check_count"]);
    std::uint64_t planes = 0, sections = 0;
    for (const auto& [key, value] : failed["qam_plane_involvement_counts"].items()) planes += value.get<std::uint64_t>();
    for (const auto& [key, value] : failed["section_involvement_counts"].items()) sections += value.get<std::uint64_t>();
    EXPECT_EQ(planes + failed["section_involvement_counts"]["erased_parity"].get<std::uint64_t>(), sections);
}

TEST(FrameDiagnosticsProgram, TheStoppingFrameIsReportedBeforeTheStrictStop) {
    const DiagnosedRun run({"--clean-frames-only", "--fail-on-unclean-frame"});
    EXPECT_EQ(run.decoded.status, 1);
    EXPECT_EQ(run.decoded.err, "strict_failed_frame=13\nqarel_ldpc_bch_decode: strict decode stopped at the first unclean FEC frame\n");
    ASSERT_EQ(run.rows.size(), 3u);
    EXPECT_EQ(run.rows[2]["frame_index"], 13);
    EXPECT_EQ(run.rows[2]["emitted"], false);
    EXPECT_EQ(run.rows[2]["omitted_packets"], 12);
}

TEST(FrameDiagnosticsProgram, AFullDiskIsAnError) {
    const Stream stream = make_stream(recipe_of(3, 2));
    const Decoded d = decode(stream, 3, {"--frame-diagnostics-out", "/dev/full"});
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.err, "qarel_ldpc_bch_decode: failed to write frame diagnostics\n");
}

}  // namespace
}  // namespace qarel::cli
