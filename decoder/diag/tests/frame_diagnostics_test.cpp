#include "decoder/diag/frame_diagnostics.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/diag/failed_variables.hpp"
#include "decoder/diag/json_line.hpp"

namespace qarel::diag {
namespace {

const ldpc::FecProfile& rate3() { return ldpc::fec_profile_for_rate(3); }

std::string summary_json(const FailedVariableSummary& summary) {
    JsonLine line;
    write_failed_variable_summary(line, summary, rate3());
    return line.str();
}

TEST(FailedVariableDiagnostics, RanksAndCountsWhereTheChecksFail) {
    // Variable 2 (erased parity) fails alone; variable 1400 (message, plane (1400 - 5) % 6 = 3)
    // sits in three checks of which two fail; variable 6 (transmitted bit 1) in one of two.
    const auto graph = ldpc::build_ldpc_graph(
        ldpc::CheckRows::from_lists({{2}, {1400, 6}, {1400}, {1400, 9, 10}, {6, 11, 12}}), 7493);
    std::vector<std::uint8_t> bits(7493, 0);
    bits[2] = bits[1400] = 1;
    bits[9] = 1;  // the third check of 1400 holds
    const auto top1 = analyze_failed_variables(bits, graph, rate3(), 1);
    EXPECT_EQ(top1.check_count, 5u);
    EXPECT_EQ(top1.unsatisfied_check_count, 3u);
    EXPECT_EQ(top1.full_hard_one_count, 3u);
    EXPECT_EQ(top1.transmitted_hard_one_count, 2u);
    ASSERT_EQ(top1.top_variables.size(), 1u);
    EXPECT_EQ(top1.top_variables[0].full_variable_index, 1400u);
    EXPECT_EQ(top1.section_involvement, (std::array<std::uint64_t, 3>{1, 1, 2}));
    EXPECT_EQ(top1.qam_plane_involvement, (std::array<std::uint64_t, 6>{0, 1, 0, 2, 0, 0}));

    const std::string json = summary_json(analyze_failed_variables(bits, graph, rate3(), 3));
    EXPECT_EQ(json,
              "{\"available\":true,\"basis\":\"final_ldpc_decoder_bits_full_appendix_b_syndrome\",\"fec_rate_index\":3,"
              "\"clean_check_count\":5,\"unsatisfied_clean_check_count\":3,\"syndrome_ratio\":0.6,"
              "\"full_hard_one_count\":3,\"transmitted_hard_one_count\":2,"
              "\"qam_plane_involvement_counts\":{\"0\":0,\"1\":1,\"2\":0,\"3\":2,\"4\":0,\"5\":0},"
              "\"section_involvement_counts\":{\"erased_parity\":1,\"transmitted_parity\":1,\"message\":2},"
              "\"top_variables\":["
              "{\"full_variable_index\":1400,\"transmitted_bit_index\":1395,\"section\":\"message\","
              "\"section_bit_index\":3,\"qam_plane\":3,\"decoded_bit\":1,\"check_degree\":3,\"satisfied_check_count\":1,"
              "\"would_reduce_syndrome_if_flipped\":true,\"unsatisfied_check_count\":2,\"flip_syndrome_delta\":-1},"
              "{\"full_variable_index\":2,\"transmitted_bit_index\":null,\"section\":\"erased_parity\","
              "\"section_bit_index\":2,\"qam_plane\":null,\"decoded_bit\":1,\"check_degree\":1,\"satisfied_check_count\":0,"
              "\"would_reduce_syndrome_if_flipped\":true,\"unsatisfied_check_count\":1,\"flip_syndrome_delta\":-1},"
              "{\"full_variable_index\":6,\"transmitted_bit_index\":1,\"section\":\"transmitted_parity\","
              "\"section_bit_index\":1,\"qam_plane\":1,\"decoded_bit\":0,\"check_degree\":2,\"satisfied_check_count\":1,"
              "\"would_reduce_syndrome_if_flipped\":false,\"unsatisfied_check_count\":1,\"flip_syndrome_delta\":0}]}");

    const auto satisfied = analyze_failed_variables(std::vector<std::uint8_t>(7493, 0), graph, rate3(), 3);
    EXPECT_TRUE(satisfied.top_variables.empty());
    EXPECT_EQ(satisfied.section_involvement, (std::array<std::uint64_t, 3>{}));
    EXPECT_NE(summary_json(satisfied).find("\"syndrome_ratio\":0,"), std::string::npos);
}

TEST(FrameDiagnostics, ASkippedFrameReportsItsLlrsAndDefaults) {
    const FrameDiagnosticsSettings settings{.codewords_per_frame = 2, .profile = &rate3(), .failed_variable_top = 4};
    engine::FrameSelectionRecord frame;
    frame.frame_index = 7;
    frame.hard_h_selected = false;
    frame.omitted = true;
    frame.llrs = {0.0f, -0.0f, 1.0f, -1.0f, -2.5f, 0.5f};  // all in slot 0
    const std::string row = format_frame_diagnostics(frame, nullptr, {}, settings);
    const auto has = [&](const std::string& text) { return row.find(text) != std::string::npos; };
    EXPECT_TRUE(row.starts_with("{\"schema\":\"qarel.ldpc_bch_frame.v1\",\"frame_index\":7,\"hard_h_selected\":false,"
                                "\"force_selected\":false,\"force_omitted\":true,"));
    EXPECT_TRUE(has("\"llr_sample_count\":6,\"llr_abs_sum\":5,\"llr_abs_mean\":0.833333,\"llr_abs_min\":0,"
                    "\"llr_abs_max\":2.5,\"llr_weak_threshold\":1,\"llr_weak_count\":3,\"llr_hard_one_count\":2,"
                    "\"soft_decoded\":false,\"clean\":false,\"emitted\":false,\"converged_codewords\":0,"));
    EXPECT_TRUE(has("\"emitted_codewords\":0,\"omitted_codewords\":2,"));
    EXPECT_TRUE(has("\"codeword_omitted\":[1,1],\"codeword_llr_abs_sum\":[5,0],\"codeword_llr_sample_count\":[6,0],"
                    "\"codeword_weak_llr_count\":[3,0],\"codeword_hard_one_count\":[2,0],"));
    EXPECT_TRUE(has("\"codeword_retry_qam_plane\":[6,6],"
                    "\"codeword_retry_variable_range_first\":[18446744073709551615,18446744073709551615],"));
    EXPECT_TRUE(has("\"codeword_retry_branch_window_first\":[52,52],"));
    EXPECT_TRUE(has("\"codeword_retry_branch_window_group\":[\"\",\"\"],"));
    EXPECT_TRUE(row.ends_with("\"codeword_retry_ts_continuity_rejected\":[],"
                              "\"codeword_final_failed_variable_summary\":[{\"available\":false,\"reason\":"
                              "\"not_soft_decoded\"},{\"available\":false,\"reason\":\"not_soft_decoded\"}]}\n"));
}

TEST(FrameDiagnostics, GroupTextsEscapeOnlyQuoteAndBackslash) {
    JsonLine line;
    line.begin_object().key("g").text("3:5,\"a\\b\n").end_object();
    EXPECT_EQ(line.str(), "{\"g\":\"3:5,\\\"a\\\\b\n\"}");
}

}  // namespace
}  // namespace qarel::diag
