#include "decoder/retry/retry_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "decoder/retry/codeword_retries.hpp"

namespace qarel::retry {
namespace {

RetryPlan plan_of(std::vector<std::string> extra) {
    extra.insert(extra.begin(), {"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a"});
    return build_retry_plan(cli::parse_command_line(extra));
}

std::vector<RetryAttempt> attempts_of(const RetryPlan& plan, std::uint64_t frame_index = 1) {
    const auto sets = branch_window_sets(plan, frame_index);
    std::vector<RetryAttempt> attempts;
    for_each_attempt(plan, sets, [&](const RetryAttempt& a) { attempts.push_back(a); });
    EXPECT_EQ(attempts.size(), attempt_count(plan, sets));
    return attempts;
}

TEST(RetryPlan, ListsStartWithTheirDefaultAndHoldEachValueOnce) {
    const RetryPlan plan = plan_of({"--retry-llr-scale", "0.5", "--retry-llr-scale", "1", "--retry-llr-scale", "0.5",
                                    "--retry-attenuation", "0.75", "--retry-attenuation", "0.6", "--attenuation", "0.75",
                                    "--retry-qam-plane", "3", "--retry-max-iterations", "9"});
    EXPECT_EQ(plan.llr_scales, (std::vector<float>{1.0f, 0.5f}));
    EXPECT_EQ(plan.attenuations, (std::vector<float>{0.75f, 0.6f}));
    EXPECT_EQ(plan.qam_planes, (std::vector<std::uint64_t>{kNoQamPlane, 3}));
    EXPECT_EQ(plan.llr_clips, (std::vector<float>{0.0f}));
    EXPECT_EQ(plan.retry_decoder_settings.max_iterations, 9u);
    EXPECT_TRUE(plan.retry_enabled);
    // 2 scales x 2 attenuations x 2 planes, less the baseline.
    EXPECT_EQ(attempts_of(plan).size(), 7u);
}

TEST(RetryPlan, TheBaselineCombinationIsNeverAnAttempt) {
    const auto layered_only = attempts_of(plan_of({"--retry-layered"}));
    ASSERT_EQ(layered_only.size(), 1u);
    EXPECT_TRUE(layered_only[0].layered);
    EXPECT_EQ(layered_only[0].attenuation, 0.75f);

    const RetryPlan only_default = plan_of({"--retry-llr-scale", "1"});
    EXPECT_TRUE(only_default.retry_enabled);
    EXPECT_TRUE(attempts_of(only_default).empty());

    EXPECT_FALSE(plan_of({"--retry-max-iterations", "9", "--retry-require-ts-packet-syntax"}).retry_enabled);
}

TEST(RetryPlan, AttemptsNestTheDimensionsInOrder) {
    const RetryPlan plan = plan_of({"--retry-layered", "--retry-qam-plane", "1", "--retry-variable-range", "0:9",
                                    "--retry-final-failed-flip-count", "4"});
    const auto attempts = attempts_of(plan);
    // flip count x (no range, range) x (no plane, plane 1) x (flooding, layered), less one.
    ASSERT_EQ(attempts.size(), 15u);
    EXPECT_TRUE(attempts[0].layered);
    EXPECT_EQ(attempts[1].qam_plane, 1u);
    EXPECT_FALSE(attempts[1].layered);
    EXPECT_FALSE(attempts[2].variable_range);
    EXPECT_TRUE(attempts[3].variable_range);
    EXPECT_EQ(attempts[6].final_failed_flip_count, 0u);
    EXPECT_EQ(attempts[7].final_failed_flip_count, 4u);
}

TEST(RetryPlan, BranchWindowSetsOfAFrame) {
    const RetryPlan plan = plan_of({"--retry-branch-window", "1:2", "--retry-branch-window-group", "3:5,10:12",
                                    "--retry-branch-window-frame-range", "2:3", "--retry-branch-window-for-frame-range",
                                    "1:1:40:41"});
    const auto at_frame_1 = branch_window_sets(plan, 1);
    ASSERT_EQ(at_frame_1.size(), 2u);  // outside the frame ranges only the rule's window applies
    EXPECT_TRUE(at_frame_1[0].empty());
    EXPECT_EQ(at_frame_1[1], (BranchWindowSet{{40, 41}}));
    const auto at_frame_2 = branch_window_sets(plan, 2);
    ASSERT_EQ(at_frame_2.size(), 3u);
    EXPECT_EQ(at_frame_2[1], (BranchWindowSet{{1, 2}}));
    EXPECT_EQ(at_frame_2[2], (BranchWindowSet{{3, 5}, {10, 12}}));
    EXPECT_EQ(branch_window_group_text(at_frame_2[2]), "3:5,10:12");
}

TEST(RetryPlan, SourceFrameWindowsBecomeBranchWindowsOfTheFrame) {
    // At frame 1 branch b carries source frame 10 x b.
    const RetryPlan plan = plan_of({"--retry-mode2-source-frame-window", "0:0", "--retry-mode2-source-frame-window",
                                    "10:30", "--retry-mode2-source-frame-window", "40:60",
                                    "--retry-mode2-source-frame-window-for-frame-range", "11:11:500:510"});
    const std::vector<BranchWindowSet> at_frame_1{{}, {{0, 0}}, {{1, 3}}, {{4, 6}}, {{0, 3}}, {{0, 6}}, {{1, 6}}};
    EXPECT_EQ(branch_window_sets(plan, 1), at_frame_1);  // then the unions of touching windows
    // At frame 11 branch b carries source frame 10 + 10 x b: (0, 0) names none of them.
    const std::vector<BranchWindowSet> at_frame_11{{}, {{0, 2}}, {{3, 5}}, {{49, 50}}, {{0, 5}}};
    EXPECT_EQ(branch_window_sets(plan, 11), at_frame_11);
}

TEST(RetryPlan, SelectionPrefersFewerCorrectionsThenFewerIterations) {
    EXPECT_TRUE(improves_on({1, 40}, {3, 5}));
    EXPECT_FALSE(improves_on({3, 5}, {1, 40}));
    EXPECT_TRUE(improves_on({2, 4}, {2, 5}));
    EXPECT_FALSE(improves_on({2, 5}, {2, 5}));  // a full tie keeps the earlier attempt
}

}  // namespace
}  // namespace qarel::retry
