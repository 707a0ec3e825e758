#include <gtest/gtest.h>

#include "tests/support/test_support.hpp"

#include <cmath>
#include <functional>
#include <stdexcept>

#include "decoder/cli/numeric.hpp"
#include "decoder/cli/rules.hpp"

namespace qarel::cli {
namespace {

TEST(NumericConversion, FollowsStrtoullSemantics) {
    EXPECT_EQ(parse_unsigned("42", "n"), 42u);
    EXPECT_EQ(parse_unsigned("  +7", "n"), 7u);
    EXPECT_EQ(parse_unsigned("-1", "n"), 18446744073709551615u);  // a minus sign wraps
    EXPECT_EQ(parse_unsigned("18446744073709551615", "n"), 18446744073709551615u);
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_unsigned("x", "worker count"); }), "invalid stoull argument");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_unsigned("", "worker count"); }), "invalid stoull argument");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_unsigned("4x", "worker count"); }), "invalid worker count: 4x");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_unsigned("0x10", "worker count"); }), "invalid worker count: 0x10");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_unsigned("18446744073709551616", "n"); }), "stoull argument out of range");
    EXPECT_THROW(parse_unsigned("99999999999999999999", "n"), std::out_of_range);
    EXPECT_THROW(parse_unsigned("4 ", "n"), std::invalid_argument);
}

TEST(NumericConversion, FloatsAndDoublesFollowStrtofAndStrtod) {
    EXPECT_EQ(parse_float("0.75", "x"), 0.75f);
    EXPECT_EQ(parse_float(" -2.5e1", "x"), -25.0f);
    EXPECT_TRUE(std::isnan(parse_float("nan", "x")));
    EXPECT_TRUE(std::isinf(parse_float("inf", "x")));
    EXPECT_EQ(parse_double("0.125", "x"), 0.125);
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_float("abc", "attenuation"); }), "invalid stof argument");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_float("1e39", "attenuation"); }), "stof argument out of range");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_float("0.5q", "attenuation"); }), "invalid attenuation: 0.5q");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_double("", "hard H gate threshold"); }), "invalid stod argument");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_double("1e999", "hard H gate threshold"); }), "stod argument out of range");
    EXPECT_EQ(qarel::test::error_message<std::exception>([] { parse_double("0.5,", "hard H gate threshold"); }), "invalid hard H gate threshold: 0.5,");
}

TEST(RuleSyntax, AcceptedRulesGiveTheirRecords) {
    const auto range = parse_frame_range("5:5");
    EXPECT_EQ(range.first, 5u);
    EXPECT_EQ(range.last, 5u);
    EXPECT_EQ(parse_branch_window("0:0"), (BranchWindow{0, 0}));
    EXPECT_EQ(parse_branch_window_group("0:3,5:7").windows, (std::vector<BranchWindow>{{0, 3}, {5, 7}}));
    EXPECT_EQ(parse_branch_window_sweep("0:3:2:3"), (std::vector<BranchWindow>{{0, 1}, {0, 2}, {1, 2}, {1, 3}, {2, 3}}));
    EXPECT_EQ(parse_branch_window_sweep("4:4:1:9"), (std::vector<BranchWindow>{{4, 4}}));
    EXPECT_TRUE(parse_branch_window_sweep("0:2:4:9").empty());

    const auto source = parse_source_frame_window("0:0");
    EXPECT_EQ(source.last, 0u);
    const auto source_rule = parse_source_frame_rule("1:2:0:9");
    EXPECT_EQ(source_rule.fec_last, 2u);
    EXPECT_EQ(source_rule.source_last, 9u);
    const auto branch_rule = parse_branch_window_rule("3:4:5:6");
    EXPECT_EQ(branch_rule.fec_first, 3u);
    EXPECT_EQ(branch_rule.branch_last, 6u);
    const auto variables = parse_variable_range("10:7487");
    EXPECT_EQ(variables.first, 10u);

    const auto codeword = parse_codeword_llr_scale_rule("1:10:2:0.5");
    EXPECT_EQ(codeword.slot, 2u);
    EXPECT_EQ(codeword.scale, 0.5f);
    EXPECT_TRUE(std::signbit(parse_variable_llr_scale_rule("1:1:0:-0").scale));  // -0 is a valid scale
    const auto mod = parse_variable_mod_llr_scale_rule("2:3:4:3:1.5");
    EXPECT_EQ(mod.modulus, 4u);
    EXPECT_EQ(mod.remainder, 3u);
    EXPECT_EQ(mod.scale, 1.5f);

    const auto header = parse_ts_header_template("7:1:2:8191:1:3:15");
    EXPECT_EQ(header.fec_frame, 7u);
    EXPECT_EQ(header.codeword_slot, 1u);
    EXPECT_EQ(header.packet_index, 2u);
    EXPECT_EQ(header.pid, 8191);
    EXPECT_EQ(header.pusi, 1);
    EXPECT_EQ(header.adaptation_control, 3);
    EXPECT_EQ(header.continuity_counter, 15);
}

TEST(RuleSyntax, SweepsWithHugeBoundsStopAtTheFirstWindowPastTheBranches) {
    const auto windows = parse_branch_window_sweep("0:18446744073709551615:1:18446744073709551615");
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows.back().last, 52u);
    EXPECT_LE(windows.size(), 53u);
    // No window fits after the first start, however large LAST is.
    EXPECT_TRUE(parse_branch_window_sweep("100:18446744073709551615:18446744073709551615:18446744073709551615").empty());
    const auto late = parse_branch_window_sweep("18446744073709551614:18446744073709551615:1:2");
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].first, 18446744073709551614u);
}

TEST(RuleSyntax, RejectedRulesGiveTheirMessages) {
    struct Case {
        std::function<void(const std::string&)> parse;
        std::string text;
        std::string message;
    };
    const auto frame = [](const std::string& t) { parse_frame_range(t); };
    const auto window = [](const std::string& t) { parse_branch_window(t); };
    const auto group = [](const std::string& t) { parse_branch_window_group(t); };
    const auto sweep = [](const std::string& t) { parse_branch_window_sweep(t); };
    const auto branch_rule = [](const std::string& t) { parse_branch_window_rule(t); };
    const auto variable_range = [](const std::string& t) { parse_variable_range(t); };
    const auto source_window = [](const std::string& t) { parse_source_frame_window(t); };
    const auto source_rule = [](const std::string& t) { parse_source_frame_rule(t); };
    const auto codeword = [](const std::string& t) { parse_codeword_llr_scale_rule(t); };
    const auto variable = [](const std::string& t) { parse_variable_llr_scale_rule(t); };
    const auto mod = [](const std::string& t) { parse_variable_mod_llr_scale_rule(t); };
    const auto header = [](const std::string& t) { parse_ts_header_template(t); };
    const std::string group_message =
        "invalid branch retry window group, expected comma-separated FIRST:LAST windows: ";
    const Case cases[] = {
        {frame, "12", "invalid frame range, expected FIRST:LAST: 12"},
        {frame, "0:5", "invalid frame range, expected 1-based FIRST:LAST"},
        {frame, "5:4", "invalid frame range, expected 1-based FIRST:LAST"},
        {frame, "1:2:3", "invalid frame range last: 2:3"},
        {frame, "a:2", "invalid stoull argument"},
        {window, "3:1", "invalid branch retry window, expected FIRST <= LAST"},
        {window, "3", "invalid branch retry window, expected FIRST:LAST: 3"},
        {window, "1:x", "invalid stoull argument"},
        {window, "1:2x", "invalid branch retry window last: 2x"},
        {group, "0:3,,5:7", group_message + "0:3,,5:7"},
        {group, ",0:3", group_message + ",0:3"},
        {group, "0:3,", group_message + "0:3,"},
        {group, "", group_message},
        {group, "0:3,7:5", "invalid branch retry window, expected FIRST <= LAST"},
        {sweep, "0:3:0:1", "invalid branch retry sweep bounds"},
        {sweep, "3:0:1:1", "invalid branch retry sweep bounds"},
        {sweep, "0:3:2:1", "invalid branch retry sweep bounds"},
        {sweep, "0:3:1", "invalid branch retry sweep, expected FIRST:LAST:MIN_WIDTH:MAX_WIDTH: 0:3:1"},
        {sweep, "0:3:1:", "invalid stoull argument"},
        {branch_rule, "0:1:0:1", "invalid branch retry rule, expected 1-based FEC range and FIRST <= LAST branch range"},
        {branch_rule, "1:1:2:1", "invalid branch retry rule, expected 1-based FEC range and FIRST <= LAST branch range"},
        {branch_rule, "1:1:2",
         "invalid branch retry rule, expected FEC_FIRST:FEC_LAST:BRANCH_FIRST:BRANCH_LAST: 1:1:2"},
        {variable_range, "9:8", "invalid variable retry range, expected FIRST <= LAST"},
        {variable_range, "9", "invalid variable retry range, expected FIRST:LAST: 9"},
        {source_window, "4:3", "invalid source-frame range, expected zero-based FIRST:LAST"},
        {source_window, "", "invalid source-frame range, expected FIRST:LAST: "},
        {source_rule, "2:1:0:0",
         "invalid source-frame retry rule, expected 1-based FEC range and zero-based source range"},
        {source_rule, "1:1:0:0:0",
         "invalid source-frame retry rule, expected FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST: 1:1:0:0:0"},
        {codeword, "1:10:0:-1", "invalid codeword LLR scale rule, expected 1-based range and non-negative scale"},
        {codeword, "1:10:0:nan", "invalid codeword LLR scale rule, expected 1-based range and non-negative scale"},
        {codeword, "0:10:0:1", "invalid codeword LLR scale rule, expected 1-based range and non-negative scale"},
        {codeword, "1:10:0:1x", "invalid codeword LLR scale: 1x"},
        {codeword, "1:10:0", "invalid codeword LLR scale rule, expected FIRST:LAST:SLOT:SCALE: 1:10:0"},
        {variable, "1:1:0:inf", "invalid variable LLR scale rule, expected 1-based range and non-negative scale"},
        {variable, "1:1:0:", "invalid stof argument"},
        {mod, "1:10:4:4:0.5",
         "invalid variable-mod LLR scale rule, expected 1-based range, positive modulus, remainder < modulus, and "
         "non-negative scale"},
        {mod, "1:10:0:0:0.5",
         "invalid variable-mod LLR scale rule, expected 1-based range, positive modulus, remainder < modulus, and "
         "non-negative scale"},
        {mod, "1:10:4:1", "invalid variable-mod LLR scale rule, expected FIRST:LAST:MOD:REMAINDER:SCALE: 1:10:4:1"},
        {header, "1:0:0:8192:0:1:0", "TS header template PID must be within 0..8191"},
        {header, "1:0:0:100:2:1:0", "TS header template PUSI must be 0 or 1"},
        {header, "1:0:0:100:0:0:0", "TS header template adaptation control must be 1..3"},
        {header, "1:0:0:100:0:4:0", "TS header template adaptation control must be 1..3"},
        {header, "1:0:0:100:0:1:16", "TS header template continuity counter must be 0..15"},
        {header, "1:0:0:8192:0:1:x", "invalid stoull argument"},  // every field converts before any check
        {header, "1:0:0:1:0:1", "invalid TS header template, expected FEC:SLOT:PACKET:PID:PUSI:AFC:CC: 1:0:0:1:0:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(qarel::test::error_message<std::exception>([&] { c.parse(c.text); }), c.message);
    }
}

}  // namespace
}  // namespace qarel::cli
