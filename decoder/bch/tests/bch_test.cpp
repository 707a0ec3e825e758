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

// The byte-table decoder against the bit-by-bit definitions (the syndrome and the sequence
// generator): random blocks with none, one or two flipped bits, whole-byte and odd offsets and
// reset periods, and a sequence position that wraps its period inside a byte.
TEST(BchDecode, ByteTablesMatchTheBitwiseDefinitions) {
    std::mt19937_64 engine(11);
    for (const auto& [offset, reset] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {0, 0}, {1504 * 8, 0}, {32760, 0}, {8 * 32767 * 3 + 16, 0}, {15040 + 752, 15040}, {3, 0}, {5, 1001}, {0, 100}}) {
        SCOPED_TRACE(offset);
        SCOPED_TRACE(reset);
        std::vector<std::uint8_t> bits(6 * kBlockBits);
        for (auto& bit : bits) bit = engine() & 1u;
        // Blocks 1 and 4 become codewords (zero syndrome), then pick up one and two errors.
        for (const std::uint64_t b : {1u, 4u}) {
            // Parity: the payload's remainder times x^10, reduced.
            std::uint32_t parity = bch_syndrome(std::span<const std::uint8_t>(bits).subspan(b * kBlockBits, kPayloadBits));
            for (int k = 0; k < 10; ++k) parity = (parity << 1) & 0x400u ? (parity << 1) ^ kGenerator : parity << 1;
            for (std::uint64_t i = 0; i < 10; ++i) bits[b * kBlockBits + kPayloadBits + i] = (parity >> (9 - i)) & 1u;
            ASSERT_EQ(bch_syndrome(std::span<const std::uint8_t>(bits).subspan(b * kBlockBits, kBlockBits)), 0u);
        }
        bits[4 * kBlockBits + 17] ^= 1u;
        bits[4 * kBlockBits + 760] ^= 1u;
        bits[1 * kBlockBits + 755] ^= 1u;  // a parity bit

        BchDecodeResult result;
        const auto bytes = decode_bytes(bits, offset, reset, &result);
        EnergyDispersal sequence(offset, reset);
        std::uint64_t corrected = 0, unclean = 0;
        for (std::uint64_t b = 0; b < 6; ++b) {
            std::vector<std::uint8_t> block(bits.begin() + b * kBlockBits, bits.begin() + (b + 1) * kBlockBits);
            const std::uint32_t syndrome = bch_syndrome(block);
            bool fixed = syndrome == 0;
            for (std::uint64_t i = 0; i < kBlockBits && !fixed; ++i) {
                block[i] ^= 1u;
                if (bch_syndrome(block) == 0) fixed = true;
                else block[i] ^= 1u;
            }
            corrected += syndrome != 0 && fixed;
            unclean += !fixed;
            EXPECT_EQ(result.block_clean[b], fixed ? 1 : 0) << b;
            if (!fixed) block.assign(bits.begin() + b * kBlockBits, bits.begin() + (b + 1) * kBlockBits);
            for (std::uint64_t k = 0; k < kBlockBytes; ++k) {
                std::uint8_t byte = 0;
                for (std::uint64_t j = 0; j < 8; ++j)
                    byte = static_cast<std::uint8_t>((byte << 1) | (block[8 * k + j] ^ sequence.next_bit()));
                ASSERT_EQ(bytes[b * kBlockBytes + k], byte) << "block " << b << " byte " << k;
            }
        }
        EXPECT_EQ(result.corrected_errors, corrected);
        EXPECT_EQ(result.unclean_blocks, unclean);
        EXPECT_EQ(result.block_corrected_errors[1], 1u);  // the parity bit's error
    }
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
