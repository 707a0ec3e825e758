// Numbers worked out from the standard's definitions, outside this code base, and kept as
// literals. Both the decoder and the test-signal generator are checked against them, so a
// convention that both sides got wrong the same way cannot pass.
//
// How the literals were worked out: a throwaway transcription of the definitions (not of
// this code) in a scripting language, namely
// - randomiser: stages s1..s15 loaded with 100101010000000; each clock outputs s14 XOR s15
//   and shifts it into s1 (generator 1 + x^14 + x^15); bytes take 8 outputs, first one the
//   most significant bit;
// - BCH(762, 752): parity = (payload(x) * x^10) mod (x^10 + x^3 + 1) by long division on
//   integers, payload bit 0 the coefficient of x^751, parity written from x^9 to x^0;
// - layout: rate r has 35/23/11 parity circulants of 127 and 3048/4572/6096 message bits;
//   full variable = [5 erased parity | transmitted parity | message], transmitted = full - 5;
//   transport bit p of a codeword is message bit (p / 752) * 762 + p % 752.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/retry/ts_acceptance.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/dtmb_standard.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/transmitter.hpp"

namespace qarel {
namespace {

const std::array<std::uint8_t, 64> kFirst64RandomiserBytes = {
    0x03, 0xF6, 0x08, 0x34, 0x30, 0xB8, 0xA3, 0x93, 0xC9, 0x68, 0xB7, 0x73, 0xB3, 0x29, 0xAA, 0xF5,
    0xFE, 0x3C, 0x04, 0x88, 0x1B, 0x30, 0x5A, 0xA1, 0xDF, 0xC4, 0xC0, 0x9A, 0x83, 0x5F, 0x0B, 0xC2,
    0x38, 0x8C, 0x93, 0x2B, 0x6A, 0xFB, 0x7E, 0x1B, 0x04, 0x5A, 0x19, 0xDC, 0x54, 0xC9, 0xFA, 0xB4,
    0x1F, 0xB8, 0x41, 0x91, 0x85, 0x65, 0x1F, 0x5E, 0x43, 0xC5, 0x88, 0x9D, 0x33, 0x4E, 0xAB, 0xA7};

template <typename NextBit>
std::vector<std::uint8_t> bytes_of(NextBit next_bit, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes)
        for (int j = 0; j < 8; ++j) byte = static_cast<std::uint8_t>(byte << 1 | next_bit());
    return bytes;
}

TEST(GoldenVectors, RandomiserSequence) {
    const std::vector<std::uint8_t> expected(kFirst64RandomiserBytes.begin(), kFirst64RandomiserBytes.end());
    testgen::Randomiser generator;
    EXPECT_EQ(bytes_of([&] { return generator.next(); }, 64), expected);
    bch::EnergyDispersal decoder(0, 0);
    EXPECT_EQ(bytes_of([&] { return decoder.next_bit(); }, 64), expected);

    // After 15040 clocks (a rate-3 32QAM signal frame's payload) the stages read as below; the
    // register comes back to its initial load after 32767 clocks, its period.
    testgen::Randomiser clocked;
    for (int i = 0; i < 15040; ++i) clocked.next();
    EXPECT_EQ(std::string(clocked.stages().data(), 15), "111010000111000");
    for (int i = 15040; i < 32767; ++i) clocked.next();
    EXPECT_EQ(std::string(clocked.stages().data(), 15), "100101010000000");
    bch::EnergyDispersal one_period(32767, 0);
    EXPECT_EQ(bytes_of([&] { return one_period.next_bit(); }, 64), expected);
    // With a reset period the decoder's sequence starts over at it.
    bch::EnergyDispersal after_reset(15040, 15040);
    EXPECT_EQ(bytes_of([&] { return after_reset.next_bit(); }, 64), expected);
}

struct ParityCase {
    const char* name;
    std::vector<std::uint8_t> payload;
    const char* parity;  // x^9 .. x^0
};

std::vector<ParityCase> parity_cases() {
    std::vector<std::uint8_t> zeros(752, 0), first = zeros, last = zeros, random(752);
    first[0] = 1;    // x^761 mod g
    last[751] = 1;   // x^10 mod g = x^3 + 1
    // x <- (1103515245 x + 12345) mod 2^31 from x = 12345; bit k = bit 16 of the k-th x.
    std::uint64_t x = 12345;
    for (auto& bit : random) {
        x = (x * 1103515245u + 12345u) % (1u << 31);
        bit = (x >> 16) & 1u;
    }
    return {{"zeros", zeros, "0000000000"},
            {"first bit", first, "0011011001"},
            {"last bit", last, "0000001001"},
            {"pseudo-random", random, "0011111111"}};
}

TEST(GoldenVectors, BchParity) {
    for (const auto& c : parity_cases()) {
        SCOPED_TRACE(c.name);
        const auto parity = testgen::bch_parity(c.payload);
        std::string text;
        for (const auto bit : parity) text += bit ? '1' : '0';
        EXPECT_EQ(text, c.parity);
        // The decoder sees the encoded block as a codeword, and the last parity bit as an error.
        std::vector<std::uint8_t> block = c.payload;
        for (const char bit : std::string(c.parity)) block.push_back(bit == '1' ? 1 : 0);
        EXPECT_EQ(bch::bch_syndrome(block), 0u);
        block.back() ^= 1u;
        EXPECT_EQ(bch::bch_syndrome(block), 1u);
    }
}

// Packet 1 of a codeword: transport bits 1504.. sit in BCH block 2, so its header starts at
// message bit 1524, full variable parity_bits + 1524.
struct HeaderPosition {
    std::uint64_t rate;
    std::uint64_t first_full_variable;
    std::uint64_t first_transmitted_bit;
    std::uint64_t packets_per_codeword;
};
const HeaderPosition kPacket1Headers[] = {{1, 5969, 5964, 2}, {2, 4445, 4440, 3}, {3, 2921, 2916, 4}};

TEST(GoldenVectors, TransportHeaderPositionsInTheCodeword) {
    for (const auto& h : kPacket1Headers) {
        SCOPED_TRACE(h.rate);
        const auto& profile = ldpc::fec_profile_for_rate(h.rate);
        EXPECT_EQ(profile.packets_per_codeword(), h.packets_per_codeword);
        EXPECT_EQ(testgen::dtmb_code(h.rate).transport_bytes() / 188, h.packets_per_codeword);
        std::vector<retry::SolveConstraint> constraints;
        retry::append_header_constraints(constraints, 0, 188, {0x47, 0, 0, 0x10}, profile);
        for (std::uint64_t i = 0; i < 32; ++i) EXPECT_EQ(constraints[i].full_variable_index, h.first_full_variable + i);

        // The generator puts transport bit 1504 (the first of packet 1), scrambled by sequence
        // bit 1504, at that transmitted index.
        const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(h.rate));
        const testgen::LdpcEncoder encoder(graph, testgen::dtmb_code(h.rate).parity_bits());
        const auto layout = testgen::frame_layout(h.rate, 0, 1);
        std::vector<std::uint8_t> ts(layout.transport_bytes_per_frame(), 0);
        ts[188] = 0x80;
        testgen::Randomiser randomiser;
        std::uint8_t sequence_bit = 0;
        for (int i = 0; i <= 1504; ++i) sequence_bit = randomiser.next();
        const auto bits = testgen::encode_frame(ts, layout, encoder);
        EXPECT_EQ(bits[h.first_transmitted_bit], 1u ^ sequence_bit);
    }
}

TEST(GoldenVectors, PlanesAndBranchesOfTransmittedBits) {
    // (t, plane t mod 6, branch (t div 6) mod 52)
    const std::array<std::array<std::uint64_t, 3>, 5> bits = {
        {{0, 0, 0}, {8, 2, 1}, {311, 5, 51}, {312, 0, 0}, {7487, 5, 51}}};
    for (const auto& [t, plane, branch] : bits) {
        SCOPED_TRACE(t);
        EXPECT_EQ(ldpc::qam_plane_of_variable(t + 5), plane);
        EXPECT_EQ(ldpc::branch_of_transmitted(t), branch);
        EXPECT_EQ(testgen::qam_plane_of_bit(t), plane);
        EXPECT_EQ(testgen::interleaver_branch_of_bit(t), branch);
    }
}

}  // namespace
}  // namespace qarel
