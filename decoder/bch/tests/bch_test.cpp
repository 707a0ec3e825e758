#include "decoder/bch/bch.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_support.hpp"

#include <functional>
#include <random>
#include <stdexcept>
#include <thread>

namespace qarel::bch {
namespace {

std::vector<std::uint8_t> decode_bytes(const std::vector<std::uint8_t>& bits, std::uint64_t offset,
                                       std::uint64_t reset, BchDecodeResult* result = nullptr) {
    std::vector<std::uint8_t> bytes(bits.size() / kBlockBits * kBlockBytes);
    auto decoded = decode_bch_blocks(bits, bytes, offset, reset);
    if (result != nullptr) *result = std::move(decoded);
    return bytes;
}

TEST(BchDecode, ZeroBlockGivesTheDescramblingSequence) {
    BchDecodeResult result;
    const auto bytes = decode_bytes(std::vector<std::uint8_t>(762, 0), 0, 0, &result);
    EXPECT_EQ(result.block_count, 1u);
    EXPECT_EQ(result.corrected_errors, 0u);
    EXPECT_EQ(result.unclean_blocks, 0u);
    EXPECT_EQ(result.block_clean, std::vector<std::uint8_t>{1});
    ASSERT_EQ(bytes.size(), 94u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 6),
              (std::vector<std::uint8_t>{0x03, 0xF6, 0x08, 0x34, 0x30, 0xB8}));
}

TEST(BchDecode, SingleErrorsAreCorrectedAndDoubleErrorsFlagged) {
    const auto clean = decode_bytes(std::vector<std::uint8_t>(762, 0), 0, 0);

    std::vector<std::uint8_t> one_error(762, 0);
    one_error[3] = 1;
    BchDecodeResult corrected;
    EXPECT_EQ(decode_bytes(one_error, 0, 0, &corrected), clean);
    EXPECT_EQ(corrected.corrected_errors, 1u);
    EXPECT_EQ(corrected.block_corrected_errors, std::vector<std::uint64_t>{1});
    EXPECT_EQ(corrected.block_clean, std::vector<std::uint8_t>{1});

    std::vector<std::uint8_t> two_errors(762, 0);
    two_errors[3] = two_errors[4] = 1;
    EXPECT_EQ(bch_syndrome(two_errors), 215u);
    BchDecodeResult unclean;
    const auto bytes = decode_bytes(two_errors, 0, 0, &unclean);
    EXPECT_EQ(unclean.unclean_blocks, 1u);
    EXPECT_EQ(unclean.corrected_errors, 0u);
    EXPECT_EQ(unclean.block_clean, std::vector<std::uint8_t>{0});
    EXPECT_EQ(bytes[0], 0x18 ^ 0x03);  // the received bits, descrambled
    EXPECT_TRUE(std::equal(bytes.begin() + 1, bytes.end(), clean.begin() + 1));

    // A flipped parity bit is corrected too, and the payload is untouched.
    std::vector<std::uint8_t> parity_error(762, 0);
    parity_error[761] = 1;
    BchDecodeResult parity;
    EXPECT_EQ(decode_bytes(parity_error, 0, 0, &parity), clean);
    EXPECT_EQ(parity.corrected_errors, 1u);
}

TEST(BchDecode, EverySingleBitErrorHasItsOwnSyndrome) {
    std::vector<bool> seen(1024, false);
    for (std::size_t i = 0; i < 762; ++i) {
        std::vector<std::uint8_t> block(762, 0);
        block[i] = 1;
        const auto syndrome = bch_syndrome(block);
        ASSERT_NE(syndrome, 0u);
        ASSERT_FALSE(seen[syndrome]) << i;
        seen[syndrome] = true;
    }
}

TEST(BchDecode, ScramblerOffsetsAndResets) {
    std::mt19937 engine(5);
    std::vector<std::uint8_t> frame(24 * 762);
    for (auto& bit : frame) bit = engine() & 1u;
    const auto whole = decode_bytes(frame, 0, 0);
    // Slot 2 of a rate-3 frame: its own call gives the bytes the whole-frame call gives it.
    const std::vector<std::uint8_t> slot(frame.begin() + 16 * 762, frame.end());
    const auto part = decode_bytes(slot, 2 * 752 * 8, 0);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + 1504));

    // A reset period of one block descrambles every block with the same sequence bits.
    const auto every_block = decode_bytes(std::vector<std::uint8_t>(3 * 762, 0), 0, 752);
    for (int b = 1; b < 3; ++b)
        EXPECT_TRUE(std::equal(every_block.begin(), every_block.begin() + 94, every_block.begin() + 94 * b));

    // The 32QAM period: the sequence restarts after 20 of a group's 40 blocks, and an offset
    // beyond the period is reduced modulo it.
    const auto group = decode_bytes(std::vector<std::uint8_t>(40 * 762, 0), 0, 15040);
    EXPECT_TRUE(std::equal(group.begin(), group.begin() + 20 * 94, group.begin() + 20 * 94));
    const auto late = decode_bytes(std::vector<std::uint8_t>(762, 0), 15040 + 752, 15040);
    EXPECT_TRUE(std::equal(late.begin(), late.end(), group.begin() + 94));
    // Offsets far beyond the sequence's period cost no more than one period of steps.
    const auto far = decode_bytes(std::vector<std::uint8_t>(762, 0), 32767ull * 1000000000ull, 0);
    EXPECT_EQ(far, decode_bytes(std::vector<std::uint8_t>(762, 0), 0, 0));
}

TEST(BchDecode, RejectsMalformedArguments) {
    std::vector<std::uint8_t> out(2 * 94);
    EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode_bch_blocks(std::vector<std::uint8_t>(761, 0), out, 0, 0); }),
              "LDPC message bits must contain whole BCH blocks");
    EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode_bch_blocks({}, out, 0, 0); }), "LDPC message bits must contain whole BCH blocks");
    std::vector<std::uint8_t> bad(762, 0);
    bad[100] = 2;
    EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode_bch_blocks(bad, out, 0, 0); }), "BCH input bits must be binary");
    std::vector<std::uint8_t> small(93);
    EXPECT_EQ(qarel::test::error_message<std::invalid_argument>([&] { decode_bch_blocks(std::vector<std::uint8_t>(762, 0), small, 0, 0); }),
              "BCH output byte span is too small");
}

TEST(BchDecode, ConcurrentFirstUseAgrees) {
    std::vector<std::uint8_t> block(762, 0);
    block[700] = 1;
    std::vector<std::vector<std::uint8_t>> outputs(4, std::vector<std::uint8_t>(94));
    std::vector<std::thread> threads;
    for (auto& output : outputs) threads.emplace_back([&] { decode_bch_blocks(block, output, 0, 0); });
    for (auto& thread : threads) thread.join();
    for (const auto& output : outputs) EXPECT_EQ(output, decode_bytes(std::vector<std::uint8_t>(762, 0), 0, 0));
}

}  // namespace
}  // namespace qarel::bch
