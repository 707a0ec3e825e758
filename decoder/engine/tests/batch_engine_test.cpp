#include "decoder/engine/batch_engine.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "decoder/cli/command_line.hpp"
#include "decoder/ldpc/alist.hpp"
#include "tests/support/test_support.hpp"

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
    long output_size() const {
        std::fflush(output);
        return std::ftell(output);
    }

    cli::RunOptions options;
    ldpc::LdpcGraph graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(3));
    std::ostringstream err;
    EngineConfig config;
    std::FILE* output = std::tmpfile();
    ts::PacketEmitter emitter{output, nullptr, {}};
};

TEST(BatchEngine, BatchesRunWhenFullAndSkippedFramesCountToo) {
    EngineUnderTest e({"--decode-batch-frames", "2"});
    BatchEngine engine(e.config, e.emitter);
    engine.add_decode_frame(e.frame(1));
    EXPECT_EQ(engine.counters().soft_decoded_frames, 0u);
    engine.add_skipped_frame(e.frame(2), false);  // fills the batch
    EXPECT_EQ(engine.counters().soft_decoded_frames, 1u);
    EXPECT_EQ(engine.counters().omitted_frames, 1u);
    EXPECT_EQ(engine.counters().omitted_codewords, 3u);
    EXPECT_EQ(e.output_size(), 2256);
    EXPECT_GT(engine.counters().batch_total_ms, 0.0);
    const double total = engine.counters().batch_total_ms;
    engine.decode_batch();  // nothing pending: no batch, no timing
    EXPECT_EQ(engine.counters().batch_total_ms, total);
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

}  // namespace
}  // namespace qarel::engine
