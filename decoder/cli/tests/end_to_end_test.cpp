#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>

#include "decoder/cli/tests/stream_fixture.hpp"
#include "decoder/ldpc/codeword_decoder.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "tests/support/test_support.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace qarel::cli {
namespace {

using qarel::test::read_file;
using qarel::test::run_program;
using qarel::test::write_file;
using namespace qarel::cli::test;

const std::string kDecoder = QAREL_DECODER_PATH;

TEST(EndToEnd, StreamsAtEveryRateDecodeToTheSourceByteForByte) {
    const double esn0_db[] = {0.0, 1.5, 3.5};
    for (const std::uint64_t rate : {1u, 2u, 3u}) {
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rate " << rate << (noisy ? " AWGN" : " noiseless"));
            StreamRecipe recipe = recipe_of(rate, 3);
            if (noisy) recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = esn0_db[rate - 1], .seed = rate};
            const Stream stream = make_stream(recipe);
            const Decoded d = decode(stream, rate, {"--workers", "2"});
            EXPECT_EQ(d.status, 0) << d.err;
            EXPECT_TRUE(d.output == stream.ts);
            EXPECT_EQ(d.value("frames"), "3");
            EXPECT_EQ(d.value("converged_codewords"), "9");
            EXPECT_EQ(d.value("clean_frames"), "3");
            EXPECT_EQ(d.value("emitted_frames"), "3");
            EXPECT_EQ(d.value("output_bytes"), std::to_string(stream.ts.size()));
            EXPECT_EQ(d.value("output_packets"), std::to_string(stream.ts.size() / 188));
            EXPECT_EQ(std::count(d.provenance.begin(), d.provenance.end(), '\n'), std::ssize(stream.ts) / 188);
        }
    }
}

TEST(EndToEnd, Qam32StreamsWithAnExtraLeadingSignalFrameDecode) {
    StreamRecipe recipe = recipe_of(3, 2);
    recipe.qam = 32;
    recipe.qam32_lead_in = true;
    recipe.channel = {.kind = testgen::ChannelKind::qam, .esn0_db = 20.0, .qam = 32, .seed = 3};
    const Stream stream = make_stream(recipe);
    const Decoded d = decode(stream, 3, {"--qam", "32qam"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(d.output == stream.ts);
    EXPECT_EQ(d.value("qam32_frame_phase"), "1");
    EXPECT_EQ(d.value("scrambler_reset_bits"), "15040");
    EXPECT_EQ(d.value("clean_signal_frames"), "4");
}

TEST(EndToEnd, OutputDoesNotDependOnWorkersOrBatchSize) {
    StreamRecipe recipe = recipe_of(3, 7);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 2.2, .seed = 11};
    recipe.impairments = {"corrupt:bits=1395-1396:2:1", "corrupt:all:5:0"};
    const Stream stream = make_stream(recipe);
    const std::vector<std::string> modes{"--clean-frames-only", "--emit-clean-codewords", "--emit-bch-clean-packets",
                                         "--insert-discontinuity-packets", "--score-initial-syndrome"};
    const Decoded d = expect_independent_of_workers_and_batches(stream, 3, modes, {"1", "2", "8"}, {"1", "3", "16"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.value("omitted_codewords"), "0");  // the sweep covers unclean frames
}

// Frame 2 carries one codeword (slot 1) whose first 300 transmitted parity bits and bits 3
// and 4 of its first BCH block arrive inverted. The early reject threshold turns away only
// that codeword, whose hard decision then keeps the two message errors: slot 1 is not clean,
// packet 0 of slot 1 is not BCH-clean, its packets 1..3 are. (The other codewords' initial
// syndromes come only from the 5 erased bits, far below the threshold.)
Stream stream_with_one_bad_codeword() {
    return make_stream(recipe_of(3, 3, {"corrupt:bits=0-299:2:1", "corrupt:bits=1395-1396:2:1"}));
}
const std::vector<std::string> kRejectEarly{"--early-syndrome-reject-ratio", "0.1"};

TEST(EndToEnd, WholeFrameModesWriteOrDropUncleanFrames) {
    const Stream stream = stream_with_one_bad_codeword();
    const Decoded all = decode(stream, 3, kRejectEarly);
    EXPECT_EQ(all.status, 0);
    ASSERT_EQ(all.output.size(), stream.ts.size());
    const std::size_t bad_byte = stream.frame_bytes + 752;  // first byte of slot 1 in frame 2
    EXPECT_EQ(static_cast<unsigned char>(all.output[bad_byte]), 0x47u ^ 0x18u);
    EXPECT_EQ(all.output.substr(0, bad_byte), stream.ts.substr(0, bad_byte));
    EXPECT_EQ(all.output.substr(bad_byte + 1), stream.ts.substr(bad_byte + 1));
    EXPECT_EQ(all.value("clean_frames"), "2");
    EXPECT_EQ(all.value("emitted_frames"), "3");
    EXPECT_EQ(all.value("early_rejected_codewords"), "1");
    EXPECT_EQ(all.value("bch_unclean_blocks"), "1");
    EXPECT_EQ(all.value("bch_clean_payload_codewords"), "8");
    EXPECT_EQ(all.value("bch_clean_payload_packets"), "35");

    const Decoded clean_only = decode(stream, 3, with(kRejectEarly, {"--clean-frames-only"}));
    EXPECT_TRUE(clean_only.output == frames_of(stream, {1, 3}));
    EXPECT_EQ(clean_only.value("omitted_frames"), "1");
    EXPECT_EQ(clean_only.value("omitted_codewords"), "3");
    EXPECT_EQ(clean_only.value("clean_codewords"), "8");
    EXPECT_EQ(clean_only.value("emitted_codewords"), "6");
}

TEST(EndToEnd, CodewordModesWriteCleanCodewordsAndSalvagedPackets) {
    const Stream stream = stream_with_one_bad_codeword();
    const std::string frame2 = frames_of(stream, {2});
    const std::string slot0 = frame2.substr(0, 752);
    const std::string slot1_tail = frame2.substr(752 + 188, 3 * 188);
    const std::string slot2 = frame2.substr(2 * 752);
    const auto codewords = with(kRejectEarly, {"--clean-frames-only", "--emit-clean-codewords"});

    const Decoded clean = decode(stream, 3, codewords);
    EXPECT_TRUE(clean.output == frames_of(stream, {1}) + slot0 + slot2 + frames_of(stream, {3}));
    EXPECT_EQ(clean.value("emitted_frames"), "3");
    EXPECT_EQ(clean.value("partial_emitted_frames"), "1");
    EXPECT_EQ(clean.value("emitted_codewords"), "8");
    EXPECT_EQ(clean.value("omitted_codewords"), "1");

    const Decoded salvage = decode(stream, 3, with(codewords, {"--emit-bch-clean-packets"}));
    EXPECT_TRUE(salvage.output == frames_of(stream, {1}) + slot0 + slot1_tail + slot2 + frames_of(stream, {3}));
    EXPECT_EQ(salvage.value("bch_clean_packet_salvage_emitted_packets"), "3");
    EXPECT_NE(salvage.provenance.find("\"kind\":\"emitted_bch_clean_packet\",\"frame_index\":2,\"codeword_slot\":1,"
                                      "\"packet_in_codeword\":1,\"packets_per_codeword\":4"),
              std::string::npos);

    // A codeword whose decode failed but whose BCH payload is intact is written whole with
    // --emit-bch-clean-codewords.
    const Stream parity_errors = make_stream(recipe_of(3, 3, {"corrupt:bits=0-299:2:1"}));
    const Decoded bch_clean = decode(parity_errors, 3, with(codewords, {"--emit-bch-clean-codewords"}));
    EXPECT_TRUE(bch_clean.output == parity_errors.ts);
    EXPECT_EQ(bch_clean.value("clean_codewords"), "8");
    EXPECT_EQ(bch_clean.value("emitted_codewords"), "9");
}

// With one-frame batches the stop comes while the workers decode the next frame.
TEST(EndToEnd, StrictModeStopsAtTheFirstUncleanFrame) {
    const Stream stream = stream_with_one_bad_codeword();
    for (const std::string batch : {"16", "1"}) {
        const Decoded d = decode(stream, 3,
                                 with(kRejectEarly, {"--clean-frames-only", "--fail-on-unclean-frame", "--workers", "2",
                                                     "--decode-batch-frames", batch}));
        EXPECT_EQ(d.status, 1);
        EXPECT_EQ(d.err,
                  "strict_failed_frame=2\nqarel_ldpc_bch_decode: strict decode stopped at the first unclean FEC frame\n");
        EXPECT_TRUE(d.output == frames_of(stream, {1}));
    }
}

TEST(EndToEnd, DroppedFramesAreSignalledByInsertedOrMarkedPackets) {
    const Stream stream = stream_with_one_bad_codeword();
    // PIDs with a payload in frame 3 that were seen in frame 1.
    std::set<int> signalled;
    const auto payload_pids = [&](std::uint64_t frame) {
        std::set<int> pids;
        const std::string bytes = frames_of(stream, {frame});
        for (std::size_t p = 0; p < bytes.size(); p += 188) {
            const int pid = ((bytes[p + 1] & 0x1f) << 8) | static_cast<unsigned char>(bytes[p + 2]);
            if ((bytes[p + 3] & 0x10) && pid != 0x1fff) pids.insert(pid);
        }
        return pids;
    };
    const auto first = payload_pids(1), third = payload_pids(3);
    std::set_intersection(first.begin(), first.end(), third.begin(), third.end(), std::inserter(signalled, signalled.end()));
    ASSERT_FALSE(signalled.empty());

    const Decoded inserted = decode(stream, 3, with(kRejectEarly, {"--clean-frames-only", "--insert-discontinuity-packets"}));
    const std::size_t count = signalled.size();
    EXPECT_EQ(inserted.value("discontinuity_inserted_packets"), std::to_string(count));
    ASSERT_EQ(inserted.output.size(), 2 * stream.frame_bytes + 188 * count);
    EXPECT_TRUE(inserted.output.substr(0, stream.frame_bytes) == frames_of(stream, {1}));
    EXPECT_TRUE(inserted.output.substr(stream.frame_bytes + 188 * count) == frames_of(stream, {3}));
    for (std::size_t i = 0; i < count; ++i) {
        const std::string packet = inserted.output.substr(stream.frame_bytes + 188 * i, 188);
        EXPECT_EQ(packet[3] & 0xf0, 0x20);
        EXPECT_EQ(static_cast<unsigned char>(packet[4]), 0xb7);
        EXPECT_EQ(static_cast<unsigned char>(packet[5]), 0x80);
    }
    EXPECT_EQ(inserted.value("output_packets"), std::to_string(inserted.output.size() / 188));

    const Decoded marked = decode(stream, 3, with(kRejectEarly, {"--clean-frames-only", "--mark-discontinuities"}));
    const std::string expected = frames_of(stream, {1, 3});
    ASSERT_EQ(marked.output.size(), expected.size());
    std::size_t differences = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (marked.output[i] == expected[i]) continue;
        ++differences;
        EXPECT_EQ(i % 188, 5u);
        EXPECT_EQ(static_cast<unsigned char>(marked.output[i] ^ expected[i]), 0x80);
    }
    EXPECT_GT(differences, 0u);
    EXPECT_EQ(marked.value("discontinuity_marked_packets"), std::to_string(differences));
}

TEST(EndToEnd, TheContinuityGuardFindsCounterJumpsInTheSource) {
    const auto& profile = ldpc::fec_profile_for_rate(3);
    const std::uint64_t frame_bytes = 3 * profile.bytes_per_codeword();
    auto ts = testgen::generate_transport_stream(2 * frame_bytes / 188, 3);
    // Skip one continuity counter of the first payload packet of PID 0x0100 in frame 2.
    for (std::size_t p = frame_bytes; p < ts.size(); p += 188) {
        if (((ts[p + 1] & 0x1f) << 8 | ts[p + 2]) == 0x100 && (ts[p + 3] & 0x10)) {
            ts[p + 3] = static_cast<std::uint8_t>((ts[p + 3] & 0xf0) | ((ts[p + 3] + 1) & 0x0f));
            break;
        }
    }
    const Stream stream = make_stream(recipe_of(3, 2), ts);
    const Decoded quiet = decode(stream, 3, {});
    EXPECT_EQ(quiet.value("continuity_guard_pending_pids"), "0");
    EXPECT_TRUE(quiet.output == stream.ts);
    const Decoded guarded = decode(stream, 3, {"--insert-discontinuity-packets"});
    EXPECT_EQ(guarded.value("continuity_guard_pending_pids"), "1");
    EXPECT_EQ(guarded.value("discontinuity_inserted_packets"), "1");
}

TEST(EndToEnd, BadInputAfterCompleteFramesKeepsTheirOutput) {
    const Stream stream = make_stream(recipe_of(2, 3));
    std::string nan_frame(stream.llrs.size() / 3, '\0');
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(nan_frame.data() + 400, &nan, 4);
    const std::pair<std::string, std::string> cases[] = {
        {stream.llrs + std::string(100, '\0'), "LLR input ended before a complete DTMB FEC frame"},
        {stream.llrs + nan_frame, "LLR input contains a nonfinite value"},
    };
    for (const auto& [input, message] : cases) {
        for (const char* batch : {"1", "2", "16"}) {
            SCOPED_TRACE(testing::Message() << message << " batch " << batch);
            const Decoded d = decode({stream.ts, input, stream.frame_bytes}, 2, {"--decode-batch-frames", batch});
            EXPECT_EQ(d.status, 1);
            EXPECT_EQ(d.err, "qarel_ldpc_bch_decode: " + message + "\n");
            EXPECT_TRUE(d.output == stream.ts);
            EXPECT_EQ(std::count(d.provenance.begin(), d.provenance.end(), '\n'), std::ssize(stream.ts) / 188);
        }
    }
    const Decoded overflow = decode(stream, 2, {"--frame-index-offset", "18446744073709551613"});
    EXPECT_EQ(overflow.err, "qarel_ldpc_bch_decode: frame index offset overflow\n");
    EXPECT_TRUE(overflow.output == frames_of(stream, {1, 2}));
}

TEST(EndToEnd, FrameIndicesStartAfterTheOffset) {
    const Stream stream = make_stream(recipe_of(1, 2));
    const Decoded d = decode(stream, 1, {"--frame-index-offset", "100"});
    EXPECT_EQ(d.status, 0);
    EXPECT_NE(d.provenance.find("\"output_packet_index\":0,\"kind\":\"emitted\",\"frame_index\":101,"),
              std::string::npos);
    EXPECT_NE(d.provenance.find("\"frame_index\":102,\"codeword_slot\":2,\"packet_in_codeword\":1,"),
              std::string::npos);
    EXPECT_EQ(d.provenance.find("\"frame_index\":103"), std::string::npos);
}

TEST(EndToEnd, OutputFailuresEndTheRunWithTheirMessages) {
    const Stream stream = make_stream(recipe_of(3, 2));
    qarel::test::TempDir dir;
    write_file(dir.file("in.llr"), stream.llrs);
    const std::string& alist = qarel::test::generated_code_alist(3);
    const std::vector<std::string> base{"--fec-rate", "3", "--alist", alist, dir.file("in.llr")};

    auto full = run_program(kDecoder, with(base, {"/dev/full"}));
    EXPECT_EQ(full.exit_status, 1);
    EXPECT_EQ(full.err, "qarel_ldpc_bch_decode: failed to write decoded transport-byte stream\n");

    auto rows = run_program(kDecoder, with(base, {dir.file("out.ts"), "--packet-provenance-out", "/dev/full"}));
    EXPECT_EQ(rows.exit_status, 1);
    EXPECT_EQ(rows.err, "qarel_ldpc_bch_decode: failed to write packet provenance row\n");

    // Output small enough to sit in the stream buffers until the end: the final flush fails.
    write_file(dir.file("one.llr"), stream.llrs.substr(0, stream.llrs.size() / 2));
    const std::vector<std::string> one{"--fec-rate", "3", "--alist", alist, dir.file("one.llr")};
    full = run_program(kDecoder, with(one, {"/dev/full"}));
    EXPECT_EQ(full.exit_status, 1);
    EXPECT_EQ(full.err, "qarel_ldpc_bch_decode: failed to write decoded transport-byte stream\n");
    rows = run_program(kDecoder, with(one, {dir.file("out.ts"), "--packet-provenance-out", "/dev/full"}));
    EXPECT_EQ(rows.exit_status, 1);
    EXPECT_EQ(rows.err, "qarel_ldpc_bch_decode: failed to write packet provenance row\n");

    // A reader that closes the pipe early: a write failure, not death by SIGPIPE. The output
    // is several times the pipe's capacity, so the decoder is still writing when it closes.
    write_file(dir.file("long.llr"), qarel::test::constant_llr_frames(150, 3));
    const std::string script = "'" + kDecoder + "' --fec-rate 3 --alist '" + alist + "' '" + dir.file("long.llr") +
                               "' 2> '" + dir.file("err") + "' | head -c 10 > /dev/null; echo ${PIPESTATUS[0]}";
    const auto piped = run_program("/bin/bash", {"-c", script});
    EXPECT_EQ(piped.out, "1\n");
    EXPECT_EQ(read_file(dir.file("err")), "qarel_ldpc_bch_decode: failed to write decoded transport-byte stream\n");
}

// The kernel forced through the environment, for every kernel this processor has: the same
// output and summary counts on a noisy stream with retries, whatever the split into workers.
TEST(EndToEnd, EveryKernelForcedThroughTheEnvironmentGivesTheSameRun) {
    StreamRecipe recipe = recipe_of(3, 4);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 2.4, .seed = 9};
    const Stream stream = make_stream(recipe);
    qarel::test::TempDir dir;
    write_file(dir.file("in.llr"), stream.llrs);
    const std::string& alist = qarel::test::generated_code_alist(3);
    const auto run = [&](const std::string& kernel, const std::string& workers) {
        const std::string script = "QAREL_LDPC_KERNEL=" + kernel + " '" + kDecoder + "' --fec-rate 3 --alist '" + alist +
                                   "' --max-iterations 6 --retry-attenuation 0.5 --retry-layered --workers " + workers +
                                   " --decode-batch-frames 3 '" + dir.file("in.llr") + "' -";
        return run_program("/bin/bash", {"-c", script});
    };
    const auto counts = [](const std::string& summary) {
        std::string kept;
        std::istringstream lines(summary);
        for (std::string line; std::getline(lines, line);)
            if (line.find("_ms=") == std::string::npos && line.rfind("worker_count=", 0) != 0) kept += line + '\n';
        return kept;
    };
    const auto reference = run("plain", "1");
    ASSERT_EQ(reference.exit_status, 0) << reference.err;
    EXPECT_NE(reference.err.find("retry_attempts="), std::string::npos);
    EXPECT_EQ(reference.err.find("retry_attempts=0\n"), std::string::npos);  // some codewords needed retries
    for (const ldpc::LdpcKernel kernel : ldpc::available_ldpc_kernels()) {
        for (const std::string workers : {"1", "3"}) {
            SCOPED_TRACE(std::string(ldpc::ldpc_kernel_name(kernel)) + " x" + workers);
            const auto forced = run(std::string(ldpc::ldpc_kernel_name(kernel)), workers);
            EXPECT_EQ(forced.exit_status, 0) << forced.err;
            EXPECT_TRUE(forced.out == reference.out);
            EXPECT_EQ(counts(forced.err), counts(reference.err));
        }
    }
    const auto unknown = run("sse9", "1");
    EXPECT_EQ(unknown.exit_status, 1);
    EXPECT_EQ(unknown.err, "qarel_ldpc_bch_decode: QAREL_LDPC_KERNEL names no LDPC kernel: sse9\n");
}

TEST(EndToEnd, VersionNamesTheBuildAndTheKernels) {
    const auto version = run_program(kDecoder, {"--version"});
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.out.rfind("qarel_ldpc_bch_decode ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("\nbuild: "), std::string::npos);
    std::string kernels = "\nldpc kernels:";
    for (const ldpc::LdpcKernel kernel : ldpc::available_ldpc_kernels()) kernels += ' ' + std::string(ldpc::ldpc_kernel_name(kernel));
    EXPECT_NE(version.out.find(kernels + '\n'), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("\nldpc kernel in use: " + std::string(ldpc::ldpc_kernel_name(ldpc::selected_ldpc_kernel())) + '\n'),
              std::string::npos);
    const auto forced = run_program("/bin/bash", {"-c", "QAREL_LDPC_KERNEL=generic '" + kDecoder + "' --version"});
    EXPECT_NE(forced.out.find("\nldpc kernel in use: generic\n"), std::string::npos) << forced.out;
}

long children_max_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

TEST(EndToEnd, MemoryStaysBoundedByTheBatchOnLongStreams) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizer allocators keep freed memory, so resident size says nothing here";
#endif
    // 20 noisy frames that take the decoder several iterations each, repeated.
    StreamRecipe recipe = recipe_of(3, 20);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 3.0, .seed = 5};
    const std::string frames = make_stream(recipe).llrs;
    qarel::test::TempDir dir;
    const std::string& alist = qarel::test::generated_code_alist(3);
    const auto run = [&](std::uint64_t repeats) {
        {
            // Written and released before the decoder runs: a forked child counts the pages
            // of this process that it shares.
            std::string input;
            for (std::uint64_t r = 0; r < repeats; ++r) input += frames;
            write_file(dir.file("in.llr"), input);
        }
        const std::string script = "cat '" + dir.file("in.llr") + "' | '" + kDecoder + "' --fec-rate 3 --alist '" +
                                   alist + "' --decode-batch-frames 4 2> '" + dir.file("err") + "' > /dev/null";
        EXPECT_EQ(run_program("/bin/bash", {"-c", script}).exit_status, 0);
        const std::string err = read_file(dir.file("err"));
        const auto at = err.find("\nldpc_iterations=");
        EXPECT_NE(at, std::string::npos);
        EXPECT_GT(std::stoull(err.substr(at + 17)), 3 * 60 * repeats);  // more than 3 iterations a codeword
        return children_max_rss_kib();
    };
    const long short_run = run(1);
    const long long_run = run(20);  // 400 frames, about 36 MB of LLRs
    EXPECT_LT(long_run, short_run + 8 * 1024) << short_run << " KiB, then " << long_run << " KiB";
}

TEST(EndToEnd, TheLlrClipReachesTheDecoder) {
    StreamRecipe recipe = recipe_of(3, 3);
    recipe.channel = {.kind = testgen::ChannelKind::bpsk, .esn0_db = 3.5, .seed = 8};
    const Stream stream = make_stream(recipe);
    const Decoded plain = decode(stream, 3, {});
    const Decoded clipped = decode(stream, 3, {"--llr-clip", "1.5"});
    EXPECT_TRUE(plain.output == stream.ts);
    EXPECT_TRUE(clipped.output == stream.ts);
    EXPECT_NE(clipped.value("ldpc_iterations"), plain.value("ldpc_iterations"));
}

TEST(EndToEnd, EarlyRejectRatiosZeroAndOne) {
    const Stream stream = make_stream(recipe_of(3, 3));
    // Ratio 0: every codeword whose hard decision is not already a codeword is turned away.
    const Decoded zero = decode(stream, 3, {"--early-syndrome-reject-ratio", "0"});
    EXPECT_EQ(zero.value("ldpc_iterations"), "0");
    EXPECT_EQ(std::stoull(zero.value("early_rejected_codewords")) + std::stoull(zero.value("converged_codewords")), 9u);
    EXPECT_NE(zero.value("early_rejected_codewords"), "0");
    // Ratio 1: only a codeword failing every check would be; these decode as usual.
    const Decoded one = decode(stream, 3, {"--early-syndrome-reject-ratio", "1"});
    EXPECT_EQ(one.value("early_rejected_codewords"), "0");
    EXPECT_NE(one.value("initial_syndrome_weight"), "0");
    EXPECT_EQ(one.value("converged_codewords"), "9");
    EXPECT_TRUE(one.output == stream.ts);
}

}  // namespace
}  // namespace qarel::cli
