#include "decoder/engine/llr_scaling.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decoder/cli/command_line.hpp"

namespace qarel::engine {
namespace {

constexpr std::uint64_t kBits = 7488;

options::RunOptions options_with(std::vector<std::string> rules) {
    rules.insert(rules.begin(), {"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a.alist"});
    return cli::parse_command_line(rules);
}

std::vector<float> scaled(const options::RunOptions& options, std::uint64_t frame_index, std::uint64_t slots = 3) {
    std::vector<float> llrs(slots * kBits, 1.0f);
    apply_llr_scale_rules(llrs, frame_index, kBits, options);
    return llrs;
}

TEST(LlrScaling, CodewordRulesScaleOneSlotInTheirFrames) {
    const auto options = options_with({"--llr-scale-codeword", "3:5:1:0.5"});
    for (const std::uint64_t frame : {3u, 5u}) {
        const auto llrs = scaled(options, frame);
        EXPECT_EQ(llrs[0], 1.0f);
        EXPECT_EQ(llrs[kBits], 0.5f);
        EXPECT_EQ(llrs[2 * kBits - 1], 0.5f);
        EXPECT_EQ(llrs[2 * kBits], 1.0f);
    }
    EXPECT_EQ(scaled(options, 6)[kBits], 1.0f);
    EXPECT_EQ(scaled(options, 2)[kBits], 1.0f);
}

TEST(LlrScaling, RulesCompoundInTheirOrder) {
    const auto options = options_with({"--llr-scale-variable", "1:9:100:2", "--llr-scale-variable", "4:4:100:3",
                                       "--llr-scale-codeword", "4:4:2:0.25"});
    const auto llrs = scaled(options, 4);
    for (std::uint64_t slot = 0; slot < 2; ++slot) EXPECT_EQ(llrs[slot * kBits + 100], 6.0f);
    EXPECT_EQ(llrs[2 * kBits + 100], 1.5f);
    EXPECT_EQ(llrs[101], 1.0f);
    EXPECT_EQ(scaled(options, 5)[100], 2.0f);
}

TEST(LlrScaling, ModRulesScaleEveryBitOfAPlane) {
    const auto plane = scaled(options_with({"--llr-scale-variable-mod", "1:1:6:2:0"}), 1, 1);
    for (std::uint64_t t = 0; t < kBits; ++t) ASSERT_EQ(plane[t], t % 6 == 2 ? 0.0f : 1.0f) << t;
    // A modulus far beyond the codeword scales only the remainder and cannot wrap around.
    const auto huge = scaled(options_with({"--llr-scale-variable-mod", "1:1:18446744073709551615:7487:4"}), 1, 1);
    EXPECT_EQ(huge[7487], 4.0f);
    EXPECT_EQ(std::count(huge.begin(), huge.end(), 4.0f), 1);
}

}  // namespace
}  // namespace qarel::engine
