#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/source_frames.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace qarel::ldpc {
namespace {

struct ExpectedProfile {
    std::uint64_t rate, parity_blocks, message_bits, parity_bits, transmitted_parity_bits, bch_blocks, bytes,
        packets;
};

TEST(FecProfile, ConstantsAndDerivedSizesOfEachRate) {
    const ExpectedProfile expected[] = {
        {1, 35, 3048, 4445, 4440, 4, 376, 2},
        {2, 23, 4572, 2921, 2916, 6, 564, 3},
        {3, 11, 6096, 1397, 1392, 8, 752, 4},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.rate);
        const FecProfile& p = fec_profile_for_rate(e.rate);
        EXPECT_EQ(p.fec_rate, e.rate);
        EXPECT_EQ(p.parity_blocks, e.parity_blocks);
        EXPECT_EQ(p.message_bits, e.message_bits);
        EXPECT_EQ(p.transmitted_bits, 7488u);
        EXPECT_EQ(p.erased_parity_bits, 5u);
        EXPECT_EQ(p.circulant_size, 127u);
        EXPECT_EQ(p.parity_bits(), e.parity_bits);
        EXPECT_EQ(p.variable_count(), 7493u);
        EXPECT_EQ(p.transmitted_parity_bits(), e.transmitted_parity_bits);
        EXPECT_EQ(p.bch_blocks_per_codeword(), e.bch_blocks);
        EXPECT_EQ(p.bytes_per_codeword(), e.bytes);
        EXPECT_EQ(p.packets_per_codeword(), e.packets);
    }
}

TEST(FecProfile, UnsupportedRatesAreRejected) {
    for (const std::uint64_t rate : {0ull, 4ull, 18446744073709551615ull}) {
        try {
            fec_profile_for_rate(rate);
            ADD_FAILURE() << rate;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "fec rate must be 1, 2, or 3");
        }
    }
}

TEST(CodewordLayout, SectionsAndSectionIndices) {
    struct Case {
        std::uint64_t rate, v;
        CodewordSection section;
        std::uint64_t index;
    };
    const Case cases[] = {
        {1, 0, CodewordSection::erased_parity, 0},       {1, 4, CodewordSection::erased_parity, 4},
        {1, 5, CodewordSection::transmitted_parity, 0},  {1, 4444, CodewordSection::transmitted_parity, 4439},
        {1, 4445, CodewordSection::message, 0},          {1, 7492, CodewordSection::message, 3047},
        {2, 7492, CodewordSection::message, 4571},       {3, 7492, CodewordSection::message, 6095},
        {3, 1396, CodewordSection::transmitted_parity, 1391}, {3, 1397, CodewordSection::message, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " v " << c.v);
        const auto cls = classify_variable(fec_profile_for_rate(c.rate), c.v);
        EXPECT_EQ(cls.section, c.section);
        EXPECT_EQ(cls.section_bit_index, c.index);
    }
    EXPECT_EQ(section_name(CodewordSection::erased_parity), "erased_parity");
    EXPECT_EQ(section_name(CodewordSection::transmitted_parity), "transmitted_parity");
    EXPECT_EQ(section_name(CodewordSection::message), "message");
}

TEST(CodewordLayout, QamPlanesAndBranches) {
    EXPECT_EQ(qam_plane_of_transmitted(0), 0u);
    EXPECT_EQ(qam_plane_of_transmitted(5), 5u);
    EXPECT_EQ(qam_plane_of_transmitted(6), 0u);
    EXPECT_EQ(qam_plane_of_variable(5), 0u);
    EXPECT_EQ(qam_plane_of_variable(10), 5u);
    EXPECT_EQ(branch_of_transmitted(0), 0u);
    EXPECT_EQ(branch_of_transmitted(6), 1u);
    EXPECT_EQ(branch_of_transmitted(6 * 51 + 5), 51u);
    EXPECT_EQ(branch_of_transmitted(6 * 52), 0u);
    EXPECT_EQ(branch_of_transmitted(7487), (7487u / 6) % 52);
}

TEST(CodewordLayout, ExpansionPlacesTransmittedBitAfterTheErasedParity) {
    for (const std::uint64_t rate : {1u, 2u, 3u}) {
        const FecProfile& p = fec_profile_for_rate(rate);
        std::vector<float> transmitted(p.transmitted_bits);
        std::iota(transmitted.begin(), transmitted.end(), 1.0f);
        std::vector<float> full(p.variable_count(), -7.0f);
        expand_transmitted_codeword(p, transmitted, full);
        for (std::uint64_t v = 0; v < 5; ++v) EXPECT_EQ(full[v], 0.0f);
        for (std::uint64_t t = 0; t < p.transmitted_bits; ++t) ASSERT_EQ(full[t + 5], transmitted[t]) << t;
    }
}

TEST(CodewordLayout, MessageExtractionTakesTheBitsAfterTheParity) {
    const FecProfile& p = fec_profile_for_rate(2);
    std::vector<std::uint8_t> hard(p.variable_count(), 0);
    hard[p.parity_bits()] = 1;
    hard[p.variable_count() - 1] = 1;
    hard[p.parity_bits() - 1] = 1;
    std::vector<std::uint8_t> message(p.message_bits, 9);
    extract_message_bits(p, hard, message);
    EXPECT_EQ(message.front(), 1);
    EXPECT_EQ(message.back(), 1);
    EXPECT_EQ(std::accumulate(message.begin(), message.end(), 0), 2);
    std::vector<std::uint8_t> wrong(p.message_bits - 1);
    EXPECT_THROW(extract_message_bits(p, hard, wrong), std::invalid_argument);
}

// Branch b of frame f carries source frame (f - 1) + 10 x b.
TEST(CodewordLayout, BranchesCarryingMode2SourceFrames) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const auto span = [](std::uint64_t f, std::uint64_t first, std::uint64_t last) {
        return branches_carrying_source_frames(f, first, last);
    };
    EXPECT_EQ(span(1, 0, 0), (BranchSpan{0, 0}));
    EXPECT_EQ(span(1, 5, 25), (BranchSpan{1, 2}));   // source frames 10 and 20
    EXPECT_EQ(span(1, 0, 1000), (BranchSpan{0, 51}));
    EXPECT_EQ(span(11, 0, 0), std::nullopt);          // frame 11 starts at source frame 10
    EXPECT_EQ(span(11, 10, 10), (BranchSpan{0, 0}));
    EXPECT_EQ(span(3, 13, 21), std::nullopt);         // between source frames 12 and 22
    EXPECT_EQ(span(3, 13, 22), (BranchSpan{2, 2}));
    EXPECT_EQ(span(1, 511, 600), std::nullopt);       // past branch 51's source frame 510
    // No wrap at the top of the number range.
    EXPECT_EQ(span(kMax, 0, kMax), (BranchSpan{0, 0}));
    EXPECT_EQ(span(kMax - 20, kMax - 5, kMax), (BranchSpan{2, 2}));
    EXPECT_EQ(span(1, kMax - 5, kMax), std::nullopt);
    EXPECT_EQ(span(kMax, kMax, kMax), std::nullopt);
}

}  // namespace
}  // namespace qarel::ldpc
