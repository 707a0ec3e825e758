#include "decoder/ldpc/codeword_decoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "decoder/ldpc/fec_profile.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/qc_code.hpp"

namespace qarel::ldpc {
namespace {

struct Decoded {
    std::vector<LdpcDecodeResult> results;
    std::vector<std::vector<std::uint8_t>> bits;
};

Decoded decode_alone(const std::vector<std::vector<float>>& codewords, const LdpcGraph& graph,
                     const MinSumSettings& settings, Schedule schedule) {
    Decoded d{std::vector<LdpcDecodeResult>(codewords.size()),
              std::vector<std::vector<std::uint8_t>>(codewords.size(), std::vector<std::uint8_t>(graph.variable_count))};
    for (std::size_t i = 0; i < codewords.size(); ++i)
        d.results[i] = schedule == Schedule::flooding ? decode_min_sum_flooding(codewords[i], graph, d.bits[i], settings)
                                                      : decode_min_sum_layered(codewords[i], graph, d.bits[i], settings);
    return d;
}

// Decodes the codewords with `decoder`, split into calls of `per_call` jobs.
Decoded decode_with(CodewordDecoder& decoder, const std::vector<std::vector<float>>& codewords, std::uint64_t variables,
                    const MinSumSettings& settings, Schedule schedule, std::size_t per_call) {
    Decoded d{std::vector<LdpcDecodeResult>(codewords.size(), {99, false, 99}),
              std::vector<std::vector<std::uint8_t>>(codewords.size(), std::vector<std::uint8_t>(variables, 9))};
    for (std::size_t first = 0; first < codewords.size(); first += per_call) {
        std::vector<CodewordJob> jobs;
        for (std::size_t i = first; i < std::min(codewords.size(), first + per_call); ++i)
            jobs.push_back({codewords[i], d.bits[i], &d.results[i]});
        decoder.decode(jobs, settings, schedule);
    }
    return d;
}

// Jobs shared by several decoders, each taking the next one as it needs it. Counts the jobs
// reported finished, and those reported before their result was written.
class SharedJobs final : public CodewordJobSource {
public:
    explicit SharedJobs(const std::vector<CodewordJob>& jobs) : jobs_(jobs), reports_(jobs.size()) {}
    const CodewordJob* next() override {
        const std::size_t i = next_.fetch_add(1);
        return i < jobs_.size() ? &jobs_[i] : nullptr;
    }
    void finished(const CodewordJob& job) override {
        const auto i = static_cast<std::size_t>(&job - jobs_.data());
        ++reports_[i];
        if (job.result->iterations == 99) ++early_reports_;
    }
    // Every job reported once, each after its result.
    bool each_reported_once_when_done() const {
        return early_reports_ == 0 && std::all_of(reports_.begin(), reports_.end(), [](int n) { return n == 1; });
    }

private:
    const std::vector<CodewordJob>& jobs_;
    std::atomic<std::size_t> next_{0};
    std::vector<int> reports_;  // each entry touched only by the thread that took the job
    std::atomic<int> early_reports_{0};
};

// Decodes the codewords with two decoders of the kernel on two threads, sharing one source.
Decoded decode_shared(LdpcKernel kernel, const LdpcGraph& graph, const std::vector<std::vector<float>>& codewords,
                      const MinSumSettings& settings, Schedule schedule) {
    Decoded d{std::vector<LdpcDecodeResult>(codewords.size(), {99, false, 99}),
              std::vector<std::vector<std::uint8_t>>(codewords.size(),
                                                     std::vector<std::uint8_t>(graph.variable_count, 9))};
    std::vector<CodewordJob> jobs;
    for (std::size_t i = 0; i < codewords.size(); ++i) jobs.push_back({codewords[i], d.bits[i], &d.results[i]});
    SharedJobs source(jobs);
    const auto first = make_codeword_decoder(graph, kernel);
    const auto second = make_codeword_decoder(graph, kernel);
    std::thread helper([&] { second->decode(source, settings, schedule); });
    first->decode(source, settings, schedule);
    helper.join();
    EXPECT_TRUE(source.each_reported_once_when_done());
    return d;
}

// Every kernel, one decoder reused for both schedules and for whole and split calls, and two
// decoders on two threads taking jobs from one source, gives
// each codeword exactly the iterations, flag, syndrome weight and hard bits of decoding it
// alone with the plain decoder.
void expect_kernels_match_plain(const std::vector<std::vector<float>>& codewords, const LdpcGraph& graph,
                                const MinSumSettings& settings) {
    for (const LdpcKernel kernel : available_ldpc_kernels()) {
        SCOPED_TRACE(ldpc_kernel_name(kernel));
        const auto decoder = make_codeword_decoder(graph, kernel);
        EXPECT_EQ(decoder->kernel(), kernel);
        EXPECT_EQ(decoder->lanes(), ldpc_kernel_lanes(kernel));
        for (const Schedule schedule : {Schedule::flooding, Schedule::layered}) {
            SCOPED_TRACE(schedule == Schedule::flooding ? "flooding" : "layered");
            const Decoded expected = decode_alone(codewords, graph, settings, schedule);
            for (const std::size_t per_call : {codewords.size(), std::size_t{3}}) {
                const Decoded got = decode_with(*decoder, codewords, graph.variable_count, settings, schedule, per_call);
                for (std::size_t i = 0; i < codewords.size(); ++i) {
                    EXPECT_EQ(got.results[i], expected.results[i]) << "codeword " << i << ", " << per_call << " a call";
                    EXPECT_EQ(got.bits[i], expected.bits[i]) << "codeword " << i << ", " << per_call << " a call";
                }
            }
            const Decoded shared = decode_shared(kernel, graph, codewords, settings, schedule);
            for (std::size_t i = 0; i < codewords.size(); ++i) {
                EXPECT_EQ(shared.results[i], expected.results[i]) << "codeword " << i << ", shared";
                EXPECT_EQ(shared.bits[i], expected.bits[i]) << "codeword " << i << ", shared";
            }
        }
    }
}

TEST(CodewordDecoder, EveryKernelMatchesThePlainDecodersOnRandomCodewords) {
    std::mt19937_64 engine(2026);
    for (const std::uint64_t rate : {1u, 2u, 3u}) {
        SCOPED_TRACE(rate);
        const auto& profile = fec_profile_for_rate(rate);
        const auto base = testgen::generate_dtmb_like_code({.rate = rate});
        const LdpcGraph graph = build_ldpc_graph(testgen::expand_base_matrix(base), base.variable_count());
        const double waterfall_db[] = {-2.5, 0.0, 2.2};
        std::vector<std::vector<float>> codewords;
        const int samples = test::kSanitizedBuild ? 6 : 13;
        for (int i = 0; i < samples; ++i) {
            std::vector<std::uint8_t> message(profile.message_bits);
            for (auto& bit : message) bit = engine() & 1u;
            // Noise around the waterfall, so some lanes converge early, some late, some never.
            testgen::Channel channel({.kind = testgen::ChannelKind::bpsk,
                                      .esn0_db = waterfall_db[rate - 1] - 1.5 + 2.6 * i / samples,
                                      .seed = engine()});
            auto llrs = channel.transmit(testgen::encode_dtmb_like_codeword(base, message));
            std::fill_n(llrs.begin(), 5, 0.0f);
            // Coarse steps make ties between magnitudes and exact zeros common.
            if (i % 3 == 1)
                for (float& llr : llrs) llr = std::round(llr * 2.0f) / 2.0f;
            if (i % 4 == 2)
                for (std::size_t v = 0; v < llrs.size(); v += 7) llrs[v] = (v % 2 == 0) ? 0.0f : -0.0f;
            codewords.push_back(std::move(llrs));
        }
        // Codewords that need no iteration between the noisy ones, so lanes are refilled both
        // at once and after iterating.
        codewords.insert(codewords.begin() + 3, std::vector<float>(graph.variable_count, 1.0f));
        codewords.insert(codewords.end() - 2, 2, std::vector<float>(graph.variable_count, 1.0f));
        const std::uint64_t limits[] = {1, 2 + engine() % 48, 50};
        const float attenuations[] = {0.5f, 1.0f, 0.75f};
        for (int k = 0; k < (test::kSanitizedBuild ? 2 : 3); ++k) {
            SCOPED_TRACE(limits[k]);
            expect_kernels_match_plain(codewords, graph, {limits[k], attenuations[k]});
        }
    }
}

TEST(CodewordDecoder, TiesZerosAndSmallChecksAsAlone) {
    // Checks of one, none and a repeated variable, besides ordinary ones; variable 3 meets a
    // check of one first, variable 4 is on no check.
    const LdpcGraph graph =
        build_ldpc_graph(CheckRows::from_lists({{3}, {0, 1, 2}, {2}, {}, {1, 3}, {3, 3}, {0, 2, 3}}), 5);
    std::vector<std::vector<float>> codewords{{2.0f, -2.0f, 5.0f, 1.0f, -0.0f},   {0.0f, -3.0f, -0.0f, 2.0f, -1.0f},
                                              {-0.0f, 0.0f, 1.0f, -1.0f, 0.0f},   {1.0f, 1.0f, -1.0f, 1.0f, -2.0f},
                                              {-1.0f, -1.0f, -1.0f, -1.0f, 3.0f}, {INFINITY, -2.0f, 2.0f, -INFINITY, -0.0f}};
    for (int i = 0; i < 30; ++i)
        codewords.push_back({0.5f * (i % 5) - 1.0f, 1.0f - 0.5f * (i % 3), -0.5f, 0.5f * (i % 2), 1.0f - 0.5f * (i % 4)});
    for (const std::uint64_t limit : {1u, 3u, 10u}) expect_kernels_match_plain(codewords, graph, {limit, 0.75f});
}

// Random small graphs (repeated variables, checks of zero or one edge) and LLRs from the
// edges of float: sums that overflow to infinity, differences of infinities that give NaN,
// denormals and zeros of both signs. Every kernel still decodes as the plain decoders do.
TEST(CodewordDecoder, ExtremeLlrsOnRandomSmallGraphsAsAlone) {
    std::mt19937_64 engine(7);
    const float extremes[] = {0.0f, -0.0f, 3e38f, -3e38f, 1.7e38f, -1.7e38f, 1e-45f, -1e-45f, INFINITY, -INFINITY};
    for (int round = 0; round < (test::kSanitizedBuild ? 8 : 40); ++round) {
        SCOPED_TRACE(round);
        const std::uint64_t variables = 2 + engine() % 30;
        CheckRows rows;
        for (std::uint64_t c = 1 + engine() % 20; c > 0; --c) {
            for (std::uint64_t k = engine() % 8; k > 0; --k) rows.variables.push_back(engine() % variables);
            rows.end_row();
        }
        const LdpcGraph graph = build_ldpc_graph(rows, variables);
        std::vector<std::vector<float>> codewords(1 + engine() % 40, std::vector<float>(variables));
        for (auto& llrs : codewords)
            for (float& llr : llrs)
                llr = engine() % 3 == 0 ? extremes[engine() % std::size(extremes)]
                                        : 0.5f * static_cast<float>(static_cast<int>(engine() % 9) - 4);
        expect_kernels_match_plain(codewords, graph, {1 + engine() % 12, engine() % 2 == 0 ? 0.75f : 1.0f});
    }
}

// Every kernel decodes the codewords in one call, flooding, as the plain decoder does alone;
// returns what the plain decoder gave.
Decoded expect_flooding_as_alone(const std::vector<std::vector<float>>& codewords, const LdpcGraph& graph,
                                 const MinSumSettings& settings) {
    const Decoded expected = decode_alone(codewords, graph, settings, Schedule::flooding);
    for (const LdpcKernel kernel : available_ldpc_kernels()) {
        SCOPED_TRACE(ldpc_kernel_name(kernel));
        const auto decoder = make_codeword_decoder(graph, kernel);
        const Decoded got =
            decode_with(*decoder, codewords, graph.variable_count, settings, Schedule::flooding, codewords.size());
        EXPECT_EQ(got.bits, expected.bits);
        for (std::size_t i = 0; i < codewords.size(); ++i) EXPECT_EQ(got.results[i], expected.results[i]);
    }
    return expected;
}

// A check with more edges than 16 bits can number: every kernel still decodes as the plain
// decoder does (AVX-512, which numbers a check's edges in 16 bits, hands it to AVX2).
TEST(CodewordDecoder, ChecksOfVeryManyEdgesDecodeAsAlone) {
    CheckRows rows;
    for (std::uint64_t e = 0; e < 70001; ++e) rows.variables.push_back(e % 3);
    rows.end_row();
    rows.variables.insert(rows.variables.end(), {0, 1});
    rows.end_row();
    const LdpcGraph graph = build_ldpc_graph(rows, 3);
    const std::vector<std::vector<float>> codewords{{1.0f, -2.0f, 0.5f}, {-1.0f, 3.0f, -0.25f}, {2.0f, 1.0f, 1.0f}};
    const MinSumSettings settings{4, 0.75f};
    const Decoded expected = expect_flooding_as_alone(codewords, graph, settings);
    EXPECT_GT(expected.results[1].iterations, 0u);
}

// Lane kernels number their rows (posteriors, then LLRs) in 16 bits: a graph of 32,768
// variables, whose last ones are on checks, still decodes as alone, and a larger one is
// refused rather than decoded on rows that wrap around.
TEST(CodewordDecoder, LaneKernelsTakeGraphsUpToTheirRowLimit) {
    constexpr std::uint64_t kLimit = 32768;
    const CheckRows rows = CheckRows::from_lists({{kLimit - 1, kLimit - 2, 0}, {kLimit - 1, 1}, {kLimit - 3, kLimit - 2}});
    const LdpcGraph graph = build_ldpc_graph(rows, kLimit);
    std::vector<std::vector<float>> codewords(3, std::vector<float>(kLimit, 1.0f));
    codewords[0][kLimit - 1] = -2.0f;
    codewords[1][kLimit - 2] = -0.5f;
    codewords[2][0] = -1.5f;
    const MinSumSettings settings{6, 0.75f};
    const Decoded expected = expect_flooding_as_alone(codewords, graph, settings);
    EXPECT_GT(expected.results[0].iterations, 0u);
    const LdpcGraph larger = build_ldpc_graph(rows, kLimit + 1);
    for (const LdpcKernel kernel : available_ldpc_kernels()) {
        if (kernel == LdpcKernel::plain) continue;
        EXPECT_THROW(make_codeword_decoder(larger, kernel), std::invalid_argument) << ldpc_kernel_name(kernel);
    }
}

// A source with nothing for a moment, as a queue shared between batches: a lane kernel still
// busy with a job asks again, and decodes the jobs that came meanwhile in the same call.
TEST(CodewordDecoder, LaneKernelsAskAgainASourceThatHadNothing) {
    class Hiccup final : public CodewordJobSource {
    public:
        explicit Hiccup(const std::vector<CodewordJob>& jobs) : jobs_(jobs) {}
        const CodewordJob* next() override {
            if (++calls_ == 2) return nullptr;
            return taken_ < jobs_.size() ? &jobs_[taken_++] : nullptr;
        }

    private:
        const std::vector<CodewordJob>& jobs_;
        std::size_t calls_ = 0;
        std::size_t taken_ = 0;
    };
    // The lone check on variable 2 stays unsatisfied: the first job decodes to the limit.
    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}, {2}}), 3);
    const std::vector<std::vector<float>> codewords{{1.0f, 2.0f, -1.0f}, {1.0f, -0.5f, 2.0f}, {-1.0f, -1.0f, 1.0f}};
    const MinSumSettings settings{5, 0.75f};
    for (const LdpcKernel kernel : available_ldpc_kernels()) {
        if (kernel == LdpcKernel::plain) continue;  // it returns once its one lane is idle
        for (const Schedule schedule : {Schedule::flooding, Schedule::layered}) {
            SCOPED_TRACE(ldpc_kernel_name(kernel));
            const Decoded expected = decode_alone(codewords, graph, settings, schedule);
            Decoded d{std::vector<LdpcDecodeResult>(3, {99, false, 99}),
                      std::vector<std::vector<std::uint8_t>>(3, std::vector<std::uint8_t>(3, 9))};
            std::vector<CodewordJob> jobs;
            for (std::size_t i = 0; i < 3; ++i) jobs.push_back({codewords[i], d.bits[i], &d.results[i]});
            Hiccup source(jobs);
            make_codeword_decoder(graph, kernel)->decode(source, settings, schedule);
            EXPECT_EQ(d.bits, expected.bits);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(d.results[i].iterations, expected.results[i].iterations);
                EXPECT_EQ(d.results[i].converged, expected.results[i].converged);
            }
        }
    }
}

TEST(CodewordDecoder, KernelNamesAndArgumentChecks) {
    for (const LdpcKernel kernel : available_ldpc_kernels())
        EXPECT_EQ(ldpc_kernel_from_name(ldpc_kernel_name(kernel)), kernel);
    EXPECT_EQ(ldpc_kernel_from_name("sse9"), std::nullopt);
    EXPECT_EQ(available_ldpc_kernels().front(), LdpcKernel::plain);
    EXPECT_TRUE(ldpc_kernel_available(selected_ldpc_kernel()));

    const LdpcGraph graph = build_ldpc_graph(CheckRows::from_lists({{0, 1}}), 2);
    std::vector<float> llrs(2, 1.0f), short_llrs(1, 1.0f);
    std::vector<std::uint8_t> bits(2);
    LdpcDecodeResult result;
    for (const LdpcKernel kernel : available_ldpc_kernels()) {
        const auto decoder = make_codeword_decoder(graph, kernel);
        const auto error = [&](std::span<const float> input, const MinSumSettings& settings) {
            const std::vector<CodewordJob> jobs{{input, bits, &result}};
            return test::error_message<std::invalid_argument>(
                [&] { decoder->decode(jobs, settings, Schedule::flooding); });
        };
        EXPECT_EQ(error(llrs, {0, 0.75f}), "LDPC max iterations must be positive");
        EXPECT_EQ(error(llrs, {5, 0.0f}), "LDPC attenuation must be positive and finite");
        EXPECT_EQ(error(short_llrs, {5, 0.75f}), "LDPC input/output size must match graph variable count");
        EXPECT_NO_THROW(decoder->decode({}, {5, 0.75f}, Schedule::layered));

        // A bad job from a source ends the call when it is taken; the decoder, left with the
        // good job in a lane, decodes the next call as if new and never returns to that job.
        std::vector<float> noisy{-1.0f, 0.5f};
        LdpcDecodeResult good_result{99, false, 99};
        const std::vector<CodewordJob> good_then_bad{{noisy, bits, &good_result}, {short_llrs, bits, &result}};
        SharedJobs failing(good_then_bad);
        EXPECT_EQ(test::error_message<std::invalid_argument>(
                      [&] { decoder->decode(failing, {5, 0.75f}, Schedule::flooding); }),
                  "LDPC input/output size must match graph variable count");
        good_result = {99, false, 99};
        std::vector<std::uint8_t> again(2, 9);
        LdpcDecodeResult again_result{99, false, 99};
        const std::vector<CodewordJob> next_call{{llrs, again, &again_result}};
        SharedJobs source(next_call);
        decoder->decode(source, {5, 0.75f}, Schedule::flooding);
        EXPECT_EQ(again_result, (LdpcDecodeResult{0, true, 0}));
        EXPECT_EQ(again, (std::vector<std::uint8_t>{0, 0}));
        EXPECT_EQ(good_result, (LdpcDecodeResult{99, false, 99}));
    }
}

}  // namespace
}  // namespace qarel::ldpc
