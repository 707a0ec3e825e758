#include "pipe_buffer/pipe_copy.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "tests/support/test_support.hpp"

namespace qarel::pipe {
namespace {

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 engine(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(engine() & 0xffu);
    return bytes;
}

struct CopyResult {
    PipeOutcome outcome;
    std::string output;
};

CopyResult copy(const std::string& input, const PipeConfig& config) {
    test::TempDir dir;
    test::write_file(dir.file("in"), input);
    std::FILE* in = std::fopen(dir.file("in").c_str(), "rb");
    std::FILE* out = std::fopen(dir.file("out").c_str(), "wb");
    CopyResult result{copy_through_buffer(in, out, config), ""};
    std::fclose(in);
    std::fclose(out);
    result.output = test::read_file(dir.file("out"));
    return result;
}

PipeConfig sizes(std::uint64_t buffer, std::uint64_t chunk, std::uint64_t prefill = 0) {
    PipeConfig config;
    config.buffer_bytes = buffer;
    config.chunk_bytes = chunk;
    config.prefill_bytes = prefill;
    return config;
}

TEST(PipeCopy, CopiesExactlyAroundChunkAndBufferBoundaries) {
    const std::uint64_t chunk = 4096;
    const std::uint64_t buffer = 4 * chunk + 100;
    for (const std::uint64_t size : std::initializer_list<std::uint64_t>{0, 1, chunk - 1, chunk, chunk + 1, buffer, 37 * buffer + 5}) {
        SCOPED_TRACE(size);
        const std::string input = random_bytes(size, static_cast<unsigned>(size));
        const auto result = copy(input, sizes(buffer, chunk));
        EXPECT_TRUE(result.output == input);
        const auto& o = result.outcome;
        EXPECT_EQ(o.error, "");
        EXPECT_EQ(o.stats.bytes_in, size);
        EXPECT_EQ(o.stats.bytes_out, size);
        EXPECT_EQ(o.stats.chunks_in, (size + chunk - 1) / chunk);
        EXPECT_EQ(o.stats.chunks_out, o.stats.chunks_in);
        EXPECT_LE(o.max_buffered_bytes, buffer);
        EXPECT_TRUE(o.prefill_released);
        EXPECT_EQ(o.release_reason, "disabled");
    }
}

TEST(PipeCopy, PrefillReleaseReasons) {
    const std::string input = random_bytes(100, 1);
    // The buffer reaches the prefill amount.
    auto result = copy(input, sizes(16, 4, 4));
    EXPECT_EQ(result.outcome.release_reason, "threshold");
    EXPECT_GE(result.outcome.prefill_released_bytes, 4u);
    EXPECT_EQ(result.output, input);

    // More prefill than input: released at end of input, prefill never reached.
    result = copy(input, sizes(1000, 64, 1000));
    EXPECT_EQ(result.outcome.release_reason, "eof");
    EXPECT_EQ(result.outcome.prefill_released_bytes, 100u);
    EXPECT_EQ(result.output, input);

    // Prefill equal to a buffer that whole chunks cannot fill: the reader blocks first.
    result = copy(input, sizes(10, 4, 10));
    EXPECT_EQ(result.outcome.release_reason, "capacity");
    EXPECT_EQ(result.outcome.prefill_released_bytes, 8u);
    EXPECT_EQ(result.output, input);

    result = copy("", sizes(10, 4, 5));
    EXPECT_EQ(result.outcome.release_reason, "eof");
    EXPECT_EQ(result.outcome.stats.chunks_in, 0u);
}

TEST(PipeCopy, ReadFailureIsRecordedAndWriteFailureStopsTheReader) {
    test::TempDir dir;
    std::FILE* directory = std::fopen(dir.path().c_str(), "rb");  // opens, but every read fails
    std::FILE* out = std::fopen(dir.file("out").c_str(), "wb");
    ASSERT_NE(directory, nullptr);
    const auto unreadable = copy_through_buffer(directory, out, sizes(64, 8));
    EXPECT_EQ(unreadable.error, "failed to read input stream");
    EXPECT_EQ(unreadable.stats.bytes_in, 0u);
    std::fclose(directory);
    std::fclose(out);

    test::write_file(dir.file("in"), random_bytes(1 << 20, 2));
    std::FILE* in = std::fopen(dir.file("in").c_str(), "rb");
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    const auto unwritable = copy_through_buffer(in, full, sizes(4096, 1024));
    EXPECT_EQ(unwritable.error, "failed to write output stream");
    EXPECT_EQ(unwritable.stats.bytes_out, 0u);
    EXPECT_LT(unwritable.stats.bytes_in, 1u << 20);  // the reader stopped early
    std::fclose(in);
    std::fclose(full);
}

}  // namespace
}  // namespace qarel::pipe
