#include "decoder/retry/ts_acceptance.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "decoder/ldpc/alist.hpp"
#include "decoder/retry/ts_context_retry.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/transmitter.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::retry {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes packet(std::uint16_t pid, std::uint8_t cc, std::uint8_t afc = 1) {
    Bytes p(188, 0xff);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(pid >> 8);
    p[2] = static_cast<std::uint8_t>(pid & 0xff);
    p[3] = static_cast<std::uint8_t>(afc << 4 | cc);
    if (afc & 2) {
        p[4] = 1;
        p[5] = 0;
    }
    return p;
}

Bytes with_discontinuity(Bytes p) {
    p[3] = static_cast<std::uint8_t>(0x30 | (p[3] & 0x0f));
    p[4] = 1;
    p[5] = 0x80;
    return p;
}

Bytes join(std::initializer_list<Bytes> packets) {
    Bytes bytes;
    for (const auto& p : packets) bytes.insert(bytes.end(), p.begin(), p.end());
    return bytes;
}

ts::TsContinuityContext context_after(const Bytes& accepted) {
    ts::TsContinuityContext context;
    ts::update_ts_continuity_context(accepted, context);
    return context;
}

TEST(TsAcceptance, PacketSyntax) {
    EXPECT_TRUE(ts_packets_well_formed(join({packet(0x100, 0), packet(0x1fff, 3)})));
    EXPECT_FALSE(ts_packets_well_formed({}));
    Bytes short_one = packet(0x100, 0);
    short_one.pop_back();
    EXPECT_FALSE(ts_packets_well_formed(short_one));
    EXPECT_FALSE(ts_packets_continuous(short_one, {}));

    Bytes reserved = packet(0x100, 0, 0);
    Bytes long_field = packet(0x100, 0, 2);
    long_field[4] = 184;
    Bytes short_pcr = packet(0x100, 0, 3);
    short_pcr[4] = 6;
    short_pcr[5] = 0x10;
    for (const auto& bad : {reserved, long_field, short_pcr}) {
        EXPECT_FALSE(ts_packets_well_formed(join({packet(0x100, 0), bad})));
        EXPECT_FALSE(ts_packets_continuous(bad, {}));
    }
}

TEST(TsAcceptance, ContinuityAgainstTheContext) {
    // With nothing accepted yet any PID passes; packets of the codeword must continue each other.
    EXPECT_TRUE(ts_packets_continuous(join({packet(0x100, 3), packet(0x200, 9), packet(0x100, 4)}), {}));
    EXPECT_FALSE(ts_packets_continuous(join({packet(0x100, 3), packet(0x100, 5)}), {}));

    const auto context = context_after(packet(0x100, 3));
    EXPECT_TRUE(ts_packets_continuous(packet(0x100, 4), context));
    EXPECT_FALSE(ts_packets_continuous(packet(0x100, 6), context));
    EXPECT_TRUE(ts_packets_continuous(with_discontinuity(packet(0x100, 6)), context));
    EXPECT_FALSE(ts_packets_continuous(packet(0x200, 0), context));  // a PID the stream never carried
    EXPECT_TRUE(ts_packets_continuous(join({packet(0x1fff, 7), packet(0x100, 4, 2), packet(0x100, 4)}), context));
}

TEST(TsAcceptance, HeaderConstraintsFromTheContext) {
    const auto& profile = ldpc::fec_profile_for_rate(3);
    const auto context = context_after(join({packet(0x100, 3), packet(0x101, 8)}));
    const auto expected = [&](std::initializer_list<std::array<std::uint8_t, 4>> headers) {
        std::vector<SolveConstraint> c;
        std::uint64_t offset = 0;
        for (const auto& h : headers) {
            append_header_constraints(c, 2, offset, h, profile);
            offset += 188;
        }
        return c;
    };
    // Own headers, with the counter of a known PID moved on (0x100: 3 -> 4).
    const Bytes bytes = join({packet(0x100, 7), packet(0x1fff, 1), packet(0x300, 5)});
    EXPECT_EQ(continuity_header_constraints(bytes, context, 2, profile),
              expected({{0x47, 0x01, 0x00, 0x14}, {0x47, 0x1f, 0xff, 0x11}, {0x47, 0x03, 0x00, 0x15}}));
    // Nearest known PID: 0x102 is one bit from 0x100 and two from 0x101.
    const Bytes near = join({packet(0x102, 7), packet(0x1fff, 1)});
    EXPECT_EQ(template_continuity_constraints(near, context, 2, profile),
              expected({{0x47, 0x01, 0x00, 0x14}, {0x47, 0x1f, 0xff, 0x11}}));
    EXPECT_TRUE(template_continuity_constraints(near, {}, 2, profile).empty());
    EXPECT_TRUE(template_continuity_constraints(join({packet(0x100, 0, 0)}), context, 2, profile).empty());
}

// A real frame: the codeword bits of the generator's transmit chain for a generated stream.
struct EncodedFrame {
    EncodedFrame() {
        const auto layout = testgen::frame_layout(3, 0, 3);
        ts = testgen::generate_transport_stream(layout.transport_bytes_per_frame() / 188, 3);
        bits = testgen::encode_frame(ts, layout, encoder());
    }
    static const testgen::LdpcEncoder& encoder() {
        static const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
        static const testgen::LdpcEncoder instance(graph, testgen::dtmb_code(3).parity_bits());
        return instance;
    }
    std::vector<std::uint8_t> ts;
    std::vector<std::uint8_t> bits;  // transmitted bits, codeword after codeword
};

TEST(TsAcceptance, TemplateHeaderBitsAreScrambledAtTheSlotsPosition) {
    const auto& profile = ldpc::fec_profile_for_rate(3);
    const EncodedFrame frame;
    const std::uint64_t slot = 1, q = 2;
    const std::uint8_t* header = frame.ts.data() + slot * profile.bytes_per_codeword() + q * 188;
    const options::TsHeaderTemplate rule{7, slot, q, static_cast<std::uint16_t>(((header[1] & 0x1f) << 8) | header[2]),
                                         static_cast<std::uint8_t>((header[1] >> 6) & 1),
                                         static_cast<std::uint8_t>((header[3] >> 4) & 3),
                                         static_cast<std::uint8_t>(header[3] & 0x0f)};
    ASSERT_EQ(header[1] & 0xa0, 0);  // no error or priority bit, which a template cannot express
    const auto constraints = template_rule_constraints(7, slot, std::span(&rule, 1), profile);
    ASSERT_EQ(constraints.size(), 32u);
    for (const auto& c : constraints)
        EXPECT_EQ(frame.bits[slot * 7488 + c.full_variable_index - 5], c.bit) << c.full_variable_index;
    EXPECT_TRUE(template_rule_constraints(8, slot, std::span(&rule, 1), profile).empty());
    EXPECT_TRUE(template_rule_constraints(7, 0, std::span(&rule, 1), profile).empty());
}

TEST(ContextRetry, RepeatsTheAttemptAndAcceptsOnlyAContinuousCodeword) {
    const auto& profile = ldpc::fec_profile_for_rate(3);
    const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    const EncodedFrame frame;
    const auto options = cli::parse_command_line(std::vector<std::string>{
        "qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a", "--max-iterations", "1", "--retry-max-iterations",
        "1", "--retry-final-failed-syndrome-solve-count", "300", "--retry-require-ts-packet-continuity"});
    const RetryPlan plan = build_retry_plan(options);
    const RetryContext rc{&profile, &graph, &plan, 0, nullptr};
    const std::span<const std::uint8_t> slot0(frame.bits.data(), 7488);

    // Slot 0 at 5 dB: one iteration leaves errors that the solve removes.
    std::optional<std::vector<float>> llrs;
    std::vector<std::uint8_t> baseline(graph.variable_count);
    for (std::uint64_t seed = 1; seed <= 20 && !llrs; ++seed) {
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = 5.0, .seed = seed});
        std::vector<float> full(graph.variable_count, 0.0f);
        ldpc::expand_transmitted_codeword(profile, channel.transmit({slot0.begin(), slot0.end()}), full);
        if (!ldpc::decode_min_sum_flooding(full, graph, baseline, plan.baseline_decoder_settings).converged) llrs = full;
    }
    ASSERT_TRUE(llrs);
    BranchWindowSet no_windows;
    RetryAttempt attempt;
    attempt.final_failed_syndrome_solve_count = 300;
    attempt.branch_windows = &no_windows;
    const ContextRetryCodeword codeword{*llrs, baseline, 0, 1, attempt};

    const auto repaired = retry_with_ts_context(codeword, {}, rc);
    ASSERT_TRUE(repaired);
    EXPECT_TRUE(std::equal(repaired->transport_bytes.begin(), repaired->transport_bytes.end(), frame.ts.begin()));
    EXPECT_TRUE(repaired->ldpc.converged);
    EXPECT_EQ(repaired->bch.unclean_blocks, 0u);

    // A context in which the codeword's first PID is new: no candidate can be continuous.
    ts::TsContinuityContext elsewhere;
    elsewhere.seen_pids.insert(0x1234);
    EXPECT_FALSE(retry_with_ts_context(codeword, elsewhere, rc));
    // A header template for packet 0 steers the solve: the true header is found, any other not.
    const std::uint8_t* h = frame.ts.data();
    options::TsHeaderTemplate rule{1, 0, 0, static_cast<std::uint16_t>(((h[1] & 0x1f) << 8) | h[2]),
                                   static_cast<std::uint8_t>((h[1] >> 6) & 1), static_cast<std::uint8_t>((h[3] >> 4) & 3),
                                   static_cast<std::uint8_t>(h[3] & 0x0f)};
    RetryPlan with_template = plan;
    with_template.ts_header_templates = {rule};
    const RetryContext templated{&profile, &graph, &with_template, 0, nullptr};
    EXPECT_TRUE(retry_with_ts_context(codeword, {}, templated));
    with_template.ts_header_templates[0].continuity_counter = static_cast<std::uint8_t>((rule.continuity_counter + 1) & 15);
    EXPECT_FALSE(retry_with_ts_context(codeword, {}, templated));
    // Only codewords recovered with the help of the solve are retried.
    ContextRetryCodeword without_solve = codeword;
    without_solve.attempt.final_failed_syndrome_solve_count = 0;
    EXPECT_FALSE(retry_with_ts_context(without_solve, {}, rc));
}

}  // namespace
}  // namespace qarel::retry
