#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>

#include "decoder/bch/bch.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/min_sum.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/qc_code.hpp"
#include "tools/testgen/transmitter.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::testgen {
namespace {

struct Code {
    explicit Code(std::uint64_t rate)
        : profile(ldpc::fec_profile_for_rate(rate)),
          base(generate_dtmb_like_code({.rate = rate})),
          graph(ldpc::build_ldpc_graph(expand_base_matrix(base), base.variable_count())),
          encoder(graph, profile.parity_bits()) {}

    const ldpc::FecProfile& profile;
    QcBaseMatrix base;
    ldpc::LdpcGraph graph;
    LdpcEncoder encoder;
};

// Receiver side without the decoder program: per codeword an optional min-sum decode of the
// LLRs (else the hard decision), then the whole frame through BCH and descrambling.
std::vector<std::uint8_t> receive_frame(const Code& code, const FrameLayout& layout, std::span<const float> llrs,
                                        bool decode_ldpc) {
    const auto& p = code.profile;
    std::vector<std::uint8_t> message_bits;
    std::vector<float> full(p.variable_count());
    std::vector<std::uint8_t> hard(p.variable_count());
    for (std::uint64_t slot = 0; slot < layout.codewords_per_frame; ++slot) {
        ldpc::expand_transmitted_codeword(p, llrs.subspan(slot * p.transmitted_bits, p.transmitted_bits), full);
        if (decode_ldpc) {
            EXPECT_TRUE(ldpc::decode_min_sum_flooding(full, code.graph, hard, {50, 0.75f}).converged) << slot;
        } else {
            for (std::size_t v = 0; v < full.size(); ++v) hard[v] = full[v] < 0.0f;
        }
        message_bits.insert(message_bits.end(), hard.begin() + p.parity_bits(), hard.end());
    }
    std::vector<std::uint8_t> bytes(layout.transport_bytes_per_frame());
    const auto result = bch::decode_bch_blocks(message_bits, bytes, 0, layout.scrambler_reset_bits);
    EXPECT_EQ(result.unclean_blocks, 0u);
    EXPECT_EQ(result.corrected_errors, 0u);
    return bytes;
}

void expect_round_trip(const Code& code, const FrameLayout& layout, const ChannelSettings& settings,
                       std::uint64_t frames, bool decode_ldpc) {
    const std::uint64_t frame_bytes = layout.transport_bytes_per_frame();
    const auto ts = generate_transport_stream(frames * frame_bytes / kTsPacketBytes, 3);
    Channel channel(settings);
    for (std::uint64_t f = 0; f < frames; ++f) {
        SCOPED_TRACE(f);
        const auto frame = std::span(ts).subspan(f * frame_bytes, frame_bytes);
        const auto bits = encode_frame(frame, layout, code.encoder);
        ASSERT_EQ(bits.size(), layout.transmitted_bits_per_frame());
        const auto llrs = channel.transmit(bits);
        const auto bytes = receive_frame(code, layout, llrs, decode_ldpc);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), frame.begin()));
    }
}

class TransmitChain : public testing::TestWithParam<std::uint64_t> {};

TEST_P(TransmitChain, NoiselessFramesRoundTripThroughHardDecisionsAndBch) {
    const Code code(GetParam());
    expect_round_trip(code, frame_layout(code.profile.fec_rate, 0, 3), {}, 2, false);
    expect_round_trip(code, frame_layout(code.profile.fec_rate, 0, 1), {}, 1, false);
}

TEST_P(TransmitChain, GenericEncoderMatchesTheStructuredOne) {
    const Code code(GetParam());
    std::mt19937_64 engine(GetParam());
    for (int trial = 0; trial < 3; ++trial) {
        std::vector<std::uint8_t> message(code.profile.message_bits);
        for (auto& bit : message) bit = engine() & 1u;
        const auto codeword = code.encoder.encode(message);
        EXPECT_EQ(ldpc::syndrome_weight(codeword, code.graph), 0u);
        // The parity part is invertible, so the parity of a message is unique.
        EXPECT_EQ(codeword, encode_dtmb_like_codeword(code.base, message));
    }
}

INSTANTIATE_TEST_SUITE_P(AllRates, TransmitChain, testing::Values(1u, 2u, 3u));

TEST(TransmitChain, Qam32GroupsRestartTheScramblerAtTheSecondSignalFrame) {
    const Code code(3);
    const FrameLayout layout = frame_layout(code.profile.fec_rate, 32, 0);
    EXPECT_EQ(layout.codewords_per_frame, 5u);
    EXPECT_EQ(layout.scrambler_reset_bits, 15040u);
    expect_round_trip(code, layout, {}, 2, false);
}

TEST(TransmitChain, NoisyQamFramesDecodeBackToTheTransportStream) {
    const Code code(2);
    for (const std::uint64_t qam : {16u, 64u}) {
        SCOPED_TRACE(qam);
        const ChannelSettings settings{.kind = ChannelKind::qam, .esn0_db = qam == 16 ? 10.0 : 16.0, .qam = qam, .seed = 4};
        expect_round_trip(code, frame_layout(code.profile.fec_rate, qam, 0), settings, 2, true);
    }
}

TEST(LdpcEncoderPreparation, RefusesASingularParityPart) {
    // Parity columns 0 and 1 appear only together, so they cannot be told apart.
    const auto graph = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{0, 1, 2}, {0, 1, 3}}), 4);
    EXPECT_THROW(LdpcEncoder(graph, 2), std::invalid_argument);
    const auto tiny = ldpc::build_ldpc_graph(ldpc::CheckRows::from_lists({{0, 2}, {0, 1, 3}}), 4);
    const LdpcEncoder encoder(tiny, 2);
    EXPECT_EQ(encoder.encode(std::vector<std::uint8_t>{1, 0}), (std::vector<std::uint8_t>{1, 1, 1, 0}));
    EXPECT_EQ(encoder.encode(std::vector<std::uint8_t>{0, 1}), (std::vector<std::uint8_t>{0, 1, 0, 1}));
}

TEST(BchEncoding, BlocksAreCodewordsAndSystematic) {
    std::mt19937 engine(8);
    std::vector<std::uint8_t> payload(752);
    for (auto& bit : payload) bit = engine() & 1u;
    const auto block = bch_encode_block(payload);
    ASSERT_EQ(block.size(), 762u);
    EXPECT_EQ(bch::bch_syndrome(block), 0u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), block.begin()));
    EXPECT_THROW(bch_encode_block(std::vector<std::uint8_t>(751)), std::invalid_argument);
}

TEST(TransportStreamGenerator, PacketsAreWellFormedWithContinuousCounters) {
    const auto stream = generate_transport_stream(400, 9);
    ASSERT_EQ(stream.size(), 400 * kTsPacketBytes);
    EXPECT_EQ(stream, generate_transport_stream(400, 9));
    std::map<std::uint16_t, int> last_cc;
    std::map<std::uint16_t, int> packets_per_pid;
    int pcr_packets = 0;
    for (std::size_t offset = 0; offset < stream.size(); offset += kTsPacketBytes) {
        const std::uint8_t* packet = stream.data() + offset;
        ASSERT_EQ(packet[0], 0x47);
        const std::uint16_t pid = static_cast<std::uint16_t>(((packet[1] & 0x1f) << 8) | packet[2]);
        const int afc = (packet[3] >> 4) & 3;
        const int cc = packet[3] & 0x0f;
        ASSERT_NE(afc, 0);
        ++packets_per_pid[pid];
        if (afc & 2) {
            ASSERT_LE(packet[4], afc == 2 ? 183 : 182);
            if (packet[4] > 0 && (packet[5] & 0x10)) ++pcr_packets;
        }
        if (pid == kNullPid) continue;
        if (last_cc.count(pid)) {
            EXPECT_EQ(cc, (afc & 1) ? (last_cc[pid] + 1) % 16 : last_cc[pid]) << offset;
        }
        last_cc[pid] = cc;
    }
    EXPECT_GE(packets_per_pid.size(), 4u);
    EXPECT_GT(packets_per_pid[kNullPid], 0);
    EXPECT_GT(pcr_packets, 0);
}

TEST(Channels, LlrSignsAndNoise) {
    const std::vector<std::uint8_t> bits{0, 1, 1, 0, 1, 0, 0, 1, 1, 1, 0, 0};
    EXPECT_EQ(Channel({.llr_magnitude = 5.0f}).transmit(bits),
              (std::vector<float>{5, -5, -5, 5, -5, 5, 5, -5, -5, -5, 5, 5}));
    for (const std::uint64_t qam : {16u, 32u, 64u}) {
        SCOPED_TRACE(qam);
        std::vector<std::uint8_t> many(6000 - 6000 % (qam == 32 ? 5 : qam == 16 ? 4 : 6));
        std::mt19937 engine(1);
        for (auto& bit : many) bit = engine() & 1u;
        Channel clean({.kind = ChannelKind::qam, .esn0_db = 60.0, .qam = qam});
        EXPECT_EQ(count_flipped_bits(many, clean.transmit(many)), 0u);
        Channel noisy({.kind = ChannelKind::qam, .esn0_db = 8.0, .qam = qam});
        const auto flipped = count_flipped_bits(many, noisy.transmit(many));
        EXPECT_GT(flipped, 0u);
        EXPECT_LT(flipped, many.size() / 4);
    }
    Channel bpsk({.kind = ChannelKind::bpsk, .esn0_db = 3.0, .seed = 2});
    const auto first = bpsk.transmit(bits);
    EXPECT_EQ(Channel({.kind = ChannelKind::bpsk, .esn0_db = 3.0, .seed = 2}).transmit(bits), first);
    EXPECT_THROW(Channel({.kind = ChannelKind::qam, .qam = 8}), std::invalid_argument);
    EXPECT_THROW(Channel({.kind = ChannelKind::qam, .qam = 16}).transmit(std::vector<std::uint8_t>(6)),
                 std::invalid_argument);
}

TEST(Impairments, ParseAndApplyToChosenBitsFramesAndSlots) {
    const Impairment plane = parse_impairment("erase:plane=2:3-4:1");
    EXPECT_EQ(plane.action, ImpairmentAction::erase);
    EXPECT_EQ(plane.target, ImpairmentTarget::plane);
    EXPECT_EQ(plane.first, 2u);
    EXPECT_EQ(plane.frame_first, 3u);
    EXPECT_EQ(plane.frame_last, 4u);
    EXPECT_EQ(plane.slot_first, 1u);
    EXPECT_EQ(plane.slot_last, 1u);
    for (const char* bad : {"erase", "smudge:all", "erase:plane=6", "erase:bits=9-3", "corrupt:branches=x",
                            "erase:all:2-1", "erase:all:1:2:3", "erase:colour=3"})
        EXPECT_THROW(parse_impairment(bad), std::invalid_argument) << bad;

    const std::uint64_t n = 7488;
    std::vector<float> llrs(2 * n, 1.0f);
    const std::vector<Impairment> impairments{plane, parse_impairment("corrupt:bits=0-5:all:0"),
                                              parse_impairment("corrupt:branches=51-51")};
    apply_impairments(llrs, 2, n, impairments);  // frame 2: only the two unbounded rules apply
    EXPECT_EQ(llrs[n + 2], 1.0f);
    EXPECT_EQ(llrs[0], -1.0f);
    EXPECT_EQ(llrs[6], 1.0f);
    EXPECT_EQ(llrs[n], 1.0f);
    EXPECT_EQ(llrs[51 * 6], -1.0f);
    EXPECT_EQ(llrs[n + 52 * 6 + 51 * 6 + 5], -1.0f);
    apply_impairments(llrs, 3, n, {&plane, 1});
    EXPECT_EQ(llrs[n + 2], 0.0f);
    EXPECT_EQ(llrs[n + 8], 0.0f);
    EXPECT_EQ(llrs[8], 1.0f);  // slot 0 is not in the rule
    EXPECT_EQ(llrs[n + 3], 1.0f);
}

}  // namespace
}  // namespace qarel::testgen
