#include "decoder/engine/batch_engine.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>

#include "decoder/cli/command_line.hpp"
#include "decoder/ldpc/alist.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/channel.hpp"

namespace qarel::engine {
namespace {

struct EngineUnderTest {
    explicit EngineUnderTest(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"qarel_ldpc_bch_decode", "--fec-rate", "3", "--alist", "unused"});
        options = cli::parse_command_line(extra);
        config = {&options, &ldpc::fec_profile_for_rate(3), &graph, options.codewords_per_frame, 4, 0, &err};
    }
    ~EngineUnderTest() { std::fclose(output); }

    FrameSelectionRecord frame(std::uint64_t index) const {
        FrameSelectionRecord record;
        record.llrs.assign(options.codewords_per_frame * 7488, 1.0f);
        record.frame_index = index;
        return record;
    }
    // Frames of random bits over a noisy channel: the decoder works hard and mostly fails,
    // which exercises every path of the kernels.
    FrameSelectionRecord noisy_frame(std::uint64_t index) const {
        std::vector<std::uint8_t> bits(options.codewords_per_frame * 7488);
        for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = ((i * 2654435761u + index) >> 7) & 1u;
        testgen::Channel channel({.kind = testgen::ChannelKind::bpsk, .esn0_db = 6.0, .seed = index});
        FrameSelectionRecord record;
        record.llrs = channel.transmit(bits);
        record.frame_index = index;
        return record;
    }
    std::string output_bytes() const {
        std::fflush(output);
        std::rewind(output);
        std::string bytes;
        for (int c; (c = std::fgetc(output)) != EOF;) bytes.push_back(static_cast<char>(c));
        return bytes;
    }
    long output_size() const {
        std::fflush(output);
        return std::ftell(output);
    }

    options::RunOptions options;
    ldpc::LdpcGraph graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    std::ostringstream err;
    EngineConfig config;
    std::FILE* output = std::tmpfile();
    ts::PacketEmitter emitter{output, nullptr, {}};
};

// A full batch goes to the workers at once and is finalized while the next one decodes, or
// when the caller flushes. One worker decoding one codeword at a time needs no more than one
// batch behind the one it finishes.
TEST(BatchEngine, BatchesRunWhenFullAndSkippedFramesCountToo) {
    EngineUnderTest e({"--decode-batch-frames", "2"});
    e.config.kernel = ldpc::LdpcKernel::plain;
    e.config.worker_count = 1;
    BatchEngine engine(e.config, e.emitter);
    engine.add_decode_frame(e.frame(1));
    engine.add_skipped_frame(e.frame(2), false);  // fills the batch, which the workers take
    EXPECT_EQ(engine.counters().soft_decoded_frames, 0u);
    engine.add_decode_frame(e.frame(3));
    engine.add_decode_frame(e.frame(4));  // the next batch: the first is finalized meanwhile
    EXPECT_EQ(engine.counters().soft_decoded_frames, 1u);
    EXPECT_EQ(engine.counters().omitted_frames, 1u);
    EXPECT_EQ(engine.counters().omitted_codewords, 3u);
    EXPECT_EQ(e.output_size(), 2256);
    engine.add_decode_frame(e.frame(5));
    engine.decode_batch();  // both the batch in flight and the partial one
    EXPECT_EQ(engine.counters().soft_decoded_frames, 4u);
    EXPECT_EQ(e.output_size(), 4 * 2256);
    const DecodeCounters before = engine.counters();
    engine.decode_batch();  // nothing pending: no batch, nothing added, not even a timing
    EXPECT_EQ(engine.counters().batch_total_ms, before.batch_total_ms);
    EXPECT_EQ(engine.counters().soft_decoded_frames, before.soft_decoded_frames);
}

// Lanes are kept busy while the oldest batch's last codewords finish: a batch is finalized
// only once the batches behind it hold four groups of lanes' worth of codewords.
TEST(BatchEngine, BatchesBehindTheOldestKeepTheLanesBusy) {
    EngineUnderTest e({"--decode-batch-frames", "2"});  // 6 codewords a batch
    e.config.worker_count = 1;
    BatchEngine engine(e.config, e.emitter);
    const std::uint64_t lanes = ldpc::ldpc_kernel_lanes(e.config.kernel);
    const std::uint64_t batches_behind = (4 * lanes + 5) / 6;
    std::uint64_t index = 0;
    for (std::uint64_t b = 0; b < batches_behind; ++b) {
        engine.add_decode_frame(e.frame(++index));
        engine.add_decode_frame(e.frame(++index));
    }
    EXPECT_EQ(engine.counters().soft_decoded_frames, 0u);
    engine.add_decode_frame(e.frame(++index));
    engine.add_decode_frame(e.frame(++index));
    EXPECT_EQ(engine.counters().soft_decoded_frames, 2u);
    engine.decode_batch();
    EXPECT_EQ(engine.counters().soft_decoded_frames, index);
    EXPECT_EQ(e.output_size(), static_cast<long>(index * 2256));
}

TEST(BatchEngine, WorkersDecodeWithTheFastestKernelByDefault) {
    const EngineConfig config;
    EXPECT_EQ(config.kernel, ldpc::selected_ldpc_kernel());
    EXPECT_NE(config.kernel, ldpc::LdpcKernel::plain);
}

TEST(BatchEngine, AWorkerFailureEndsTheBatchBeforeAnythingIsWritten) {
    EngineUnderTest e({});
    e.options.attenuation = -1.0f;  // refused by the decoder inside the workers
    BatchEngine engine(e.config, e.emitter);
    engine.add_decode_frame(e.frame(1));
    engine.add_decode_frame(e.frame(2));
    try {
        engine.decode_batch();
        ADD_FAILURE();
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "LDPC attenuation must be positive and finite");
    }
    EXPECT_EQ(e.output_size(), 0);
    EXPECT_EQ(engine.counters().soft_decoded_frames, 0u);
    EXPECT_EQ(e.emitter.counters().output_packets, 0u);
}

TEST(BatchEngine, DecodingCodewordsTogetherOrAloneGivesTheSameResults) {
    std::optional<std::pair<std::string, DecodeCounters>> reference;
    for (const ldpc::LdpcKernel kernel : ldpc::available_ldpc_kernels()) {
        EngineUnderTest e({"--max-iterations", "12", "--decode-batch-frames", "3", "--score-initial-syndrome"});
        e.config.kernel = kernel;
        e.config.worker_count = 2;
        BatchEngine engine(e.config, e.emitter);
        for (std::uint64_t f = 1; f <= 4; ++f) engine.add_decode_frame(e.noisy_frame(f));
        engine.decode_batch();
        const auto& c = engine.counters();
        if (!reference) {
            EXPECT_LT(c.converged_codewords, 12u);
            reference.emplace(e.output_bytes(), c);
            continue;
        }
        EXPECT_EQ(e.output_bytes(), reference->first);
        EXPECT_EQ(c.converged_codewords, reference->second.converged_codewords);
        EXPECT_EQ(c.ldpc_iterations, reference->second.ldpc_iterations);
        EXPECT_EQ(c.final_syndrome_weight, reference->second.final_syndrome_weight);
        EXPECT_EQ(c.initial_syndrome_weight, reference->second.initial_syndrome_weight);
        EXPECT_EQ(c.bch_corrected_errors, reference->second.bch_corrected_errors);
        EXPECT_EQ(c.bch_unclean_blocks, reference->second.bch_unclean_blocks);
    }
}

}  // namespace
}  // namespace qarel::engine
