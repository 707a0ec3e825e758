#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "pipe_buffer/pipe_config.hpp"
#include "tests/support/test_support.hpp"

namespace {

using qarel::test::read_file;

// An option as a manual page spells it: every hyphen escaped.
std::string roff(std::string_view option) {
    std::string escaped;
    for (const char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
}

std::vector<std::string> missing_from_page(const std::string& page_name, const std::set<std::string>& options) {
    const std::string page = read_file(std::string(QAREL_MAN_DIR) + "/" + page_name);
    std::vector<std::string> missing;
    for (const auto& option : options)
        if (page.find(roff(option)) == std::string::npos) missing.push_back(option);
    return missing;
}

// Every --option word of a usage text.
std::set<std::string> options_in(const std::string& usage) {
    std::set<std::string> options;
    const std::regex option_word("--[a-z0-9][a-z0-9-]*");
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option_word); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    return options;
}

TEST(ManualPages, ListEveryOptionOfTheirProgram) {
    std::set<std::string> decoder = options_in(qarel::cli::usage_text("qarel_ldpc_bch_decode"));
    for (const auto name : qarel::cli::decoder_option_names()) decoder.emplace(name);
    decoder.insert({"--version", "--help"});
    EXPECT_EQ(missing_from_page("qarel_ldpc_bch_decode.1", decoder), std::vector<std::string>{});

    std::set<std::string> pipe = options_in(qarel::pipe::pipe_usage_line("qarel_pipe_buffer"));
    for (const auto name : qarel::pipe::pipe_option_names()) pipe.emplace(name);
    pipe.insert({"--version", "--help"});
    EXPECT_EQ(missing_from_page("qarel_pipe_buffer.1", pipe), std::vector<std::string>{});

    const auto testgen_help = qarel::test::run_program(QAREL_TESTGEN_PATH, {"--help"});
    std::set<std::string> testgen = options_in(testgen_help.err);
    ASSERT_GT(testgen.size(), 10u) << testgen_help.err;
    testgen.insert({"--version", "--help"});
    EXPECT_EQ(missing_from_page("qarel_dtmb_testgen.1", testgen), std::vector<std::string>{});
}

}  // namespace
