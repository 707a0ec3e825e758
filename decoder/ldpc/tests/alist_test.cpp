#include "decoder/ldpc/alist.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "decoder/ldpc/ldpc_graph.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::ldpc {
namespace {

using Rows = std::vector<std::vector<std::uint64_t>>;

AlistRows parse(const std::string& text) {
    std::istringstream in(text);
    return parse_alist_rows(in, "test.alist");
}

Rows rows_of(const CheckRows& rows) {
    Rows result;
    for (std::uint64_t r = 0; r < rows.row_count(); ++r) result.emplace_back(rows.row(r).begin(), rows.row(r).end());
    return result;
}

template <typename Error>
std::string error_of(const std::string& text) {
    try {
        parse(text);
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

const char* const kWorkedExample = "3 2\n2 2\n1 2 1\n2 2\n1 0\n1 2\n2 0\n1 2\n2 3\n";

TEST(AlistReader, WorkedExampleSkipsColumnListsWhateverTheLayout) {
    for (const std::string& text : {std::string(kWorkedExample), std::string("3 2 2 2 1 2 1 2 2 1 0 1 2 2 0 1 2 2 3")}) {
        const AlistRows alist = parse(text);
        EXPECT_EQ(alist.variable_count, 3u);
        EXPECT_EQ(rows_of(alist.rows), (Rows{{0, 1}, {1, 2}}));
    }
}

TEST(AlistReader, RowEntriesBeyondTheRowDegreeArePaddingAndIgnored) {
    // N=5, M=1, row degree 1 under a maximum of 3: "5 0 0" keeps only variable 4.
    EXPECT_EQ(rows_of(parse("5 1 1 3\n0 0 0 0 1\n1\n0 0 0 0 1\n5 0 0\n").rows), (Rows{{4}}));
    // Padding values are not range-checked.
    EXPECT_EQ(rows_of(parse("5 1 1 3\n0 0 0 0 1\n1\n0 0 0 0 1\n5 99 0\n").rows), (Rows{{4}}));
    // A row degree above the maximum keeps only the maximum number of entries.
    EXPECT_EQ(rows_of(parse("5 1 1 2\n0 0 0 0 1\n7\n0 0 0 0 1\n5 3\n").rows), (Rows{{4, 2}}));
}

TEST(AlistReader, NoChecksGivesAnEmptyButValidGraph) {
    const AlistRows alist = parse("3 0 0 0\n0 0 0\n");
    EXPECT_EQ(alist.rows.row_count(), 0u);
    const LdpcGraph graph = build_ldpc_graph(alist.rows, alist.variable_count);
    EXPECT_EQ(graph.check_count(), 0u);
    EXPECT_EQ(syndrome_weight(std::vector<std::uint8_t>{1, 0, 1}, graph), 0u);
}

TEST(AlistReader, MalformedOrTruncatedFilesFailWithTheirMessages) {
    const std::string out_of_range = "alist check variable is out of range";
    const std::string incomplete = "failed to read complete alist: test.alist";
    const std::string header = "failed to read alist header: test.alist";
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"kept entry 0", "3 1 1 2\n1 1 0\n2\n1 2 0\n0 2\n", out_of_range},
        {"kept entry N + 1", "3 1 1 2\n1 1 0\n2\n1 2 0\n1 4\n", out_of_range},
        {"ends before a kept entry", "3 2 2 2 1 2 1 2 2 1 0 1 2 2 0 1 2 2", out_of_range},
        {"last row lacks only padding", "5 1 1 3\n0 0 0 0 1\n1\n0 0 0 0 1\n5\n", incomplete},
        {"malformed padding", "5 1 1 3\n0 0 0 0 1\n1\n0 0 0 0 1\n5 0 x\n", incomplete},
        {"ends in the column lists, rows keep entries", "3 2 2 2 1 2 1 2 2 1 0", out_of_range},
        {"ends in the row degrees", "3 2 2 2 1 2 1", incomplete},
        {"ends in the header", "3 2 2", header},
        {"empty file", "", header},
        {"non-numeric header", "3 2 x 2", header},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(error_of<std::runtime_error>(c.text), c.message);
    }
}

TEST(AlistReader, HeadersClaimingFarMoreThanTheFileHoldsFailPromptly) {
    // Counts the file cannot hold are neither allocated nor looped over.
    EXPECT_EQ(error_of<std::runtime_error>("1000000000000000 1000000000000000 3 3\n1 2 3\n"),
              "failed to read complete alist: test.alist");
    EXPECT_EQ(error_of<std::runtime_error>("18446744073709551615 18446744073709551615 "
                                           "18446744073709551615 18446744073709551615\n"),
              "failed to read complete alist: test.alist");
    // N x max column degree overflows 64 bits: the column lists swallow the rest of the file
    // and the row's kept entries then read as 0.
    EXPECT_EQ(error_of<std::runtime_error>("3 1 9223372036854775807 2\n1 1 1\n2\n1 2 3 1 2\n"),
              "alist check variable is out of range");
    // A huge maximum row degree is read only as far as the file goes.
    EXPECT_EQ(error_of<std::runtime_error>("3 1 1 1000000000000000\n1 1 1\n2\n1 2 3\n1 2 0 0\n"),
              "failed to read complete alist: test.alist");
}

TEST(AlistReader, FilesAreOpenedByPath) {
    test::TempDir dir;
    const std::string path = dir.file("example.alist");
    test::write_file(path, kWorkedExample);
    const LdpcGraph graph = load_alist_graph(path);
    EXPECT_EQ(graph.variable_count, 3u);
    EXPECT_EQ(graph.check_offsets, (std::vector<std::uint64_t>{0, 2, 4}));
    EXPECT_EQ(graph.edge_variables, (std::vector<std::uint64_t>{0, 1, 1, 2}));

    const std::string missing = dir.file("missing.alist");
    try {
        read_alist_rows(missing);
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), "failed to open alist: " + missing);
    }
}

TEST(AlistReader, ZeroVariablesIsRejectedByTheGraphBuilder) {
    const AlistRows alist = parse("0 1 0 0\n0\n");
    EXPECT_THROW(
        {
            try {
                build_ldpc_graph(alist.rows, alist.variable_count);
            } catch (const std::invalid_argument& error) {
                EXPECT_STREQ(error.what(), "LDPC graph must have variables");
                throw;
            }
        },
        std::invalid_argument);
}

TEST(AlistReader, ArbitraryBytesNeverCrashOrEscapeTheReadersErrors) {
    // Random mixes of small numbers, huge numbers, signs and garbage; the reader either
    // builds a graph or ends with one of its own messages.
    std::mt19937_64 engine(17);
    const std::vector<std::string> tokens{"0", "1", "2", "3", "7", "18446744073709551615", "99999999999999999999",
                                          "-1", "x", "\n", " ", "1e3", "4", "5"};
    for (int trial = 0; trial < 2000; ++trial) {
        std::string text;
        const int count = static_cast<int>(engine() % 40);
        for (int i = 0; i < count; ++i) text += tokens[engine() % tokens.size()] + " ";
        SCOPED_TRACE(text);
        try {
            const AlistRows alist = parse(text);
            const LdpcGraph graph = build_ldpc_graph(alist.rows, alist.variable_count);
            EXPECT_NO_THROW(validate_ldpc_graph(graph));
            EXPECT_EQ(graph.variable_count, alist.variable_count);
            EXPECT_EQ(graph.check_count(), alist.rows.row_count());
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            EXPECT_TRUE(message.starts_with("failed to read alist header: ") ||
                        message.starts_with("failed to read complete alist: ") ||
                        message == "alist check variable is out of range")
                << message;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "LDPC graph must have variables");
        }
    }
}

std::string validation_error(const LdpcGraph& graph) {
    try {
        validate_ldpc_graph(graph);
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "valid";
}

TEST(LdpcGraph, ValidationNamesTheFirstBrokenInvariant) {
    EXPECT_EQ(validation_error({3, {}, {}}), "LDPC graph check offsets are invalid");
    EXPECT_EQ(validation_error({3, {1, 2}, {0, 1}}), "LDPC graph check offsets are invalid");
    EXPECT_EQ(validation_error({3, {0, 2}, {0}}), "LDPC graph edge count is invalid");
    EXPECT_EQ(validation_error({3, {0, 2, 1, 3}, {0, 1, 2}}), "LDPC graph check offsets must be sorted");
    EXPECT_EQ(validation_error({3, {0, 2}, {0, 3}}), "LDPC graph variable index is out of range");
    EXPECT_EQ(validation_error({3, {0}, {}}), "valid");
    EXPECT_EQ(validation_error({3, {0, 0, 2}, {2, 2}}), "valid");
}

TEST(LdpcGraph, BuilderRejectsIndicesBeyondTheVariableCount) {
    try {
        build_ldpc_graph(CheckRows::from_lists({{0, 1}, {3}}), 3);
        ADD_FAILURE();
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "LDPC graph variable index is out of range");
    }
}

TEST(LdpcGraph, SyndromeWeightCountsUnsatisfiedChecks) {
    // Checks: {0,1}, {1,2}, {} (no edges), {2,2} (a duplicate edge cancels itself).
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}, {1, 2}, {}, {2, 2}}), 3);
    EXPECT_EQ(syndrome_weight(std::vector<std::uint8_t>{0, 0, 0}, graph), 0u);
    EXPECT_EQ(syndrome_weight(std::vector<std::uint8_t>{1, 1, 1}, graph), 0u);
    EXPECT_EQ(syndrome_weight(std::vector<std::uint8_t>{1, 0, 0}, graph), 1u);
    EXPECT_EQ(syndrome_weight(std::vector<std::uint8_t>{0, 1, 0}, graph), 2u);
    try {
        syndrome_weight(std::vector<std::uint8_t>{0, 1}, graph);
        ADD_FAILURE();
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "LDPC bit count must match graph variable count");
    }
}

}  // namespace
}  // namespace qarel::ldpc
