#include "decoder/ldpc/hard_h_graph.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qarel::ldpc {
namespace {

AlistRows alist_with_rows(std::initializer_list<std::initializer_list<std::uint64_t>> rows,
                          std::uint64_t variable_count = 7493) {
    return {variable_count, CheckRows::from_lists(rows)};
}

std::string runtime_error_of(const AlistRows& alist) {
    try {
        build_hard_h_graph(alist, fec_profile_for_rate(3));
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(HardHGraph, KeepsOnlyRowsClearOfTheErasedParityInTransmittedIndices) {
    const auto graph =
        build_hard_h_graph(alist_with_rows({{4, 100, 200}, {5, 100, 200}, {}, {7492, 6}}), fec_profile_for_rate(3));
    EXPECT_EQ(graph.variable_count, 7488u);
    EXPECT_EQ(graph.check_offsets, (std::vector<std::uint64_t>{0, 3, 5}));
    EXPECT_EQ(graph.edge_variables, (std::vector<std::uint64_t>{0, 95, 195, 7487, 1}));
}

TEST(HardHGraph, FailsWithoutCleanRowsOrForTheWrongSize) {
    EXPECT_EQ(runtime_error_of(alist_with_rows({{0, 10}, {4, 3000}, {}})), "no clean Appendix-B rows for this profile");
    EXPECT_EQ(runtime_error_of(alist_with_rows({{5, 10}}, 7488)), "alist variable count does not match DTMB LDPC profile");
}

}  // namespace
}  // namespace qarel::ldpc
