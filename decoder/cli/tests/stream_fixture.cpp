#include "decoder/cli/tests/stream_fixture.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "decoder/ldpc/alist.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/dtmb_standard.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/transmitter.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::cli::test {

using qarel::test::read_file;
using qarel::test::run_program;
using qarel::test::write_file;

const std::string kDecoder = QAREL_DECODER_PATH;

std::string Decoded::value(const std::string& key) const {
    const auto found = summary.find(key);
    return found == summary.end() ? "<missing>" : found->second;
}

namespace {

const testgen::LdpcEncoder& encoder_for(std::uint64_t rate) {
    static std::mutex mutex;
    static std::map<std::uint64_t, std::unique_ptr<testgen::LdpcEncoder>> encoders;
    std::lock_guard lock(mutex);
    auto& encoder = encoders[rate];
    if (!encoder) {
        const auto graph = ldpc::load_alist_graph(qarel::test::generated_code_alist(rate));
        encoder = std::make_unique<testgen::LdpcEncoder>(graph, testgen::dtmb_code(rate).parity_bits());
    }
    return *encoder;
}


}  // namespace

StreamRecipe recipe_of(std::uint64_t rate, std::uint64_t frames, std::vector<std::string> impairments) {
    StreamRecipe recipe;
    recipe.rate = rate;
    recipe.frames = frames;
    recipe.impairments = std::move(impairments);
    return recipe;
}


Stream make_stream(const StreamRecipe& recipe, std::vector<std::uint8_t> ts) {
    const auto layout = testgen::frame_layout(recipe.rate, recipe.qam, 3);
    const std::uint64_t frame_bytes = layout.transport_bytes_per_frame();
    if (ts.empty()) ts = testgen::generate_transport_stream(recipe.frames * frame_bytes / 188, recipe.rate);
    std::vector<testgen::Impairment> impairments;
    for (const auto& text : recipe.impairments) impairments.push_back(testgen::parse_impairment(text));

    testgen::Channel channel(recipe.channel);
    std::vector<float> llrs;
    if (recipe.qam32_lead_in) {
        std::vector<std::uint8_t> nulls;
        testgen::append_null_packets(nulls, frame_bytes / 188);
        const auto lead = channel.transmit(testgen::encode_frame(nulls, layout, encoder_for(recipe.rate)));
        llrs.insert(llrs.end(), lead.begin() + lead.size() / 2, lead.end());
    }
    for (std::uint64_t f = 0; f * frame_bytes < ts.size(); ++f) {
        auto frame = channel.transmit(
            testgen::encode_frame(std::span(ts).subspan(f * frame_bytes, frame_bytes), layout, encoder_for(recipe.rate)));
        testgen::apply_impairments(frame, f + 1, testgen::DtmbCode::kTransmitted, impairments);
        llrs.insert(llrs.end(), frame.begin(), frame.end());
    }
    return {std::string(ts.begin(), ts.end()), qarel::test::llr_bytes(llrs), frame_bytes};
}


Decoded decode(const Stream& stream, std::uint64_t rate, const std::vector<std::string>& extra) {
    qarel::test::TempDir dir;
    write_file(dir.file("in.llr"), stream.llrs);
    std::vector<std::string> args{"--fec-rate", std::to_string(rate), "--alist", qarel::test::generated_code_alist(rate),
                                  "--packet-provenance-out", dir.file("rows.jsonl"), dir.file("in.llr"),
                                  dir.file("out.ts")};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto result = run_program(kDecoder, args);
    return {result.exit_status, read_file(dir.file("out.ts")), read_file(dir.file("rows.jsonl")), result.err,
            summary_of(result.err)};
}

std::map<std::string, std::string> summary_of(const std::string& err) {
    std::map<std::string, std::string> summary;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) summary[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return summary;
}

std::string frames_of(const Stream& stream, std::initializer_list<std::uint64_t> frames) {
    std::string bytes;
    for (const auto f : frames) bytes += stream.ts.substr((f - 1) * stream.frame_bytes, stream.frame_bytes);
    return bytes;
}

std::string comparable_summary(const Decoded& d) {
    std::string text;
    for (const auto& [key, value] : d.summary)
        if (!key.ends_with("_ms") && key != "worker_count" && key != "decode_batch_frames") text += key + "=" + value + "\n";
    return text;
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

Decoded expect_independent_of_workers_and_batches(const Stream& stream, std::uint64_t rate,
                                                  const std::vector<std::string>& options,
                                                  const std::vector<std::string>& worker_counts,
                                                  const std::vector<std::string>& batch_sizes) {
    std::optional<Decoded> reference;
    for (const auto& workers : worker_counts) {
        for (const auto& batch : batch_sizes) {
            SCOPED_TRACE(testing::Message() << "workers " << workers << " batch " << batch);
            const Decoded d = decode(stream, rate, with(options, {"--workers", workers, "--decode-batch-frames", batch}));
            if (!reference) {
                reference = d;
                continue;
            }
            EXPECT_EQ(d.status, reference->status) << d.err;
            EXPECT_TRUE(d.output == reference->output);
            EXPECT_EQ(d.provenance, reference->provenance);
            EXPECT_EQ(comparable_summary(d), comparable_summary(*reference));
        }
    }
    return *reference;
}

}  // namespace qarel::cli::test
