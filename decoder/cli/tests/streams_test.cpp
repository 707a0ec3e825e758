#include "decoder/cli/streams.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "tests/support/test_support.hpp"

namespace qarel::cli {
namespace {

std::string pattern(std::size_t bytes, char first) {
    std::string text(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>(first + static_cast<char>(i % 61));
    return text;
}

std::string read_back(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An output file writes through a buffer of the handle's own: the buffer must move with the
// handle and outlive the file, or the writes after a move and the flush at close would reach
// freed memory (which the sanitizer build reports).
TEST(OutputStream, EveryByteArrivesAcrossMovesAndOnClosing) {
    const test::TempDir dir;
    const std::string first = pattern(100'000, 'a');
    const std::string second = pattern(30'000, 'A');
    const std::string path = dir.file("moved.ts");
    StreamHandle kept;
    {
        StreamHandle opened = open_binary_output(path);
        ASSERT_TRUE(opened.is_open());
        ASSERT_TRUE(write_fully(opened.get(), first.data(), first.size()));
        kept = std::move(opened);
    }
    ASSERT_TRUE(write_fully(kept.get(), second.data(), second.size()));
    StreamHandle last(std::move(kept));
    EXPECT_TRUE(last.close());
    EXPECT_EQ(read_back(path), first + second);

    // A handle that goes away without an explicit close still writes what it holds.
    const std::string dropped_path = dir.file("dropped.ts");
    {
        StreamHandle dropped = open_binary_output(dropped_path);
        ASSERT_TRUE(write_fully(dropped.get(), second.data(), 1000));
    }
    EXPECT_EQ(read_back(dropped_path), second.substr(0, 1000));
}

}  // namespace
}  // namespace qarel::cli
