#include "decoder/retry/codeword_retries.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "decoder/cli/command_line.hpp"
#include "decoder/ldpc/alist.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/channel.hpp"

namespace qarel::retry {
namespace {

struct RetryRun {
    RetryOutcome outcome;
    std::vector<std::uint8_t> bits;
};

// The all-zero codeword (its BCH blocks are clean) through BPSK noise near the waterfall,
// with a baseline of a few iterations that often fails.
struct NoisyCodeword {
    explicit NoisyCodeword(std::uint64_t seed) {
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = 2.0, .seed = seed});
        const auto transmitted = channel.transmit(std::vector<std::uint8_t>(ldpc::kTransmittedBits, 0));
        llrs.assign(5, 0.0f);
        llrs.insert(llrs.end(), transmitted.begin(), transmitted.end());
    }
    std::vector<float> llrs;
};

TEST(CodewordRetries, EveryKernelGivesTheResultsOfDecodingAttemptsOneByOne) {
    const auto options = cli::parse_command_line(std::vector<std::string>{
        "qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a", "--max-iterations", "4", "--retry-max-iterations",
        "30", "--retry-attenuation", "0.6", "--retry-attenuation", "0.9", "--retry-layered", "--retry-llr-scale", "0",
        "--retry-final-failed-erase-count", "10", "--retry-weak-erase-fraction", "0.05"});
    const RetryPlan plan = build_retry_plan(options);
    const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    const auto& profile = ldpc::fec_profile_for_rate(3);

    std::uint64_t selected = 0;
    for (std::uint64_t seed = 1; seed <= (qarel::test::kSanitizedBuild ? 3u : 6u); ++seed) {
        SCOPED_TRACE(seed);
        const NoisyCodeword codeword(seed);
        std::vector<std::uint8_t> baseline(graph.variable_count);
        ldpc::decode_min_sum_flooding(codeword.llrs, graph, baseline, plan.baseline_decoder_settings);
        std::optional<RetryRun> reference;
        for (const ldpc::LdpcKernel kernel : ldpc::available_ldpc_kernels()) {
            const auto decoder = ldpc::make_codeword_decoder(graph, kernel);
            const RetryContext context{&profile, &graph, &plan, 0, decoder.get()};
            RetryRun run{{}, baseline};
            run.outcome = run_codeword_retries({codeword.llrs, baseline, 1, 1}, run.bits, context);
            // 2 scales x 2 fractions x 2 erase counts x 3 attenuations x 2 decoders, less one;
            // the scale-0 attempts are counted although they cannot be decoded.
            EXPECT_EQ(run.outcome.attempts, 47u);
            if (!reference) {
                reference = run;
                selected += run.outcome.selected;
                continue;
            }
            const RetryOutcome& a = run.outcome;
            const RetryOutcome& b = reference->outcome;
            EXPECT_EQ(a.selected, b.selected);
            EXPECT_EQ(a.ldpc, b.ldpc);
            EXPECT_EQ(a.bch_corrected_errors, b.bch_corrected_errors);
            EXPECT_EQ(a.winner.attenuation, b.winner.attenuation);
            EXPECT_EQ(a.winner.layered, b.winner.layered);
            EXPECT_EQ(a.winner.weak_erase_fraction, b.winner.weak_erase_fraction);
            EXPECT_EQ(a.winner.final_failed_erase_count, b.winner.final_failed_erase_count);
            EXPECT_EQ(run.bits, reference->bits);
        }
    }
    EXPECT_GT(selected, 0u);
}

TEST(CodewordRetries, AFailedRetryLeavesTheBitsAlone) {
    const auto options = cli::parse_command_line(std::vector<std::string>{
        "qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "a", "--retry-llr-scale", "0"});
    const RetryPlan plan = build_retry_plan(options);
    const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    const RetryContext context{&ldpc::fec_profile_for_rate(3), &graph, &plan, 0, nullptr};
    const NoisyCodeword codeword(1);
    std::vector<std::uint8_t> bits(graph.variable_count, 1);
    const auto outcome = run_codeword_retries({codeword.llrs, bits, 0, 1}, bits, context);
    EXPECT_EQ(outcome.attempts, 1u);  // all LLRs zero: counted, never decoded
    EXPECT_FALSE(outcome.selected);
    EXPECT_EQ(bits, std::vector<std::uint8_t>(graph.variable_count, 1));
}

}  // namespace
}  // namespace qarel::retry
