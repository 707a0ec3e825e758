#include "decoder/ts/packet_emitter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "decoder/ts/provenance.hpp"
#include "decoder/ts/ts_packet.hpp"

namespace qarel::ts {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 188-byte packet; `adaptation_length` applies when the AFC has its adaptation bit.
Bytes packet(std::uint16_t pid, std::uint8_t cc, std::uint8_t afc = 1, std::uint8_t adaptation_length = 1,
             std::uint8_t adaptation_flags = 0) {
    Bytes p(kPacketBytes, 0xaa);
    p[0] = kSyncByte;
    p[1] = static_cast<std::uint8_t>(pid >> 8);
    p[2] = static_cast<std::uint8_t>(pid & 0xff);
    p[3] = static_cast<std::uint8_t>((afc << 4) | cc);
    if (afc & 2) {
        p[4] = adaptation_length;
        p[5] = adaptation_flags;
    }
    return p;
}

Bytes join(std::initializer_list<Bytes> packets) {
    Bytes bytes;
    for (const auto& p : packets) bytes.insert(bytes.end(), p.begin(), p.end());
    return bytes;
}

// A temporary file read back after the emitter has written to it.
class CaptureFile {
public:
    CaptureFile() : file_(std::tmpfile()) {}
    ~CaptureFile() { std::fclose(file_); }
    std::FILE* get() const { return file_; }
    std::string contents() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }

private:
    std::FILE* file_;
};

struct EmitterUnderTest {
    explicit EmitterUnderTest(bool mark, bool insert) : emitter(output.get(), provenance.get(), {mark, insert}) {}
    SignallingResult emit(Bytes& chunk, std::optional<std::uint64_t> slot = 0) {
        return emitter.emit_transport_chunk(chunk, PacketKind::emitted, {7, slot, std::nullopt, 4, {}});
    }
    CaptureFile output;
    CaptureFile provenance;
    PacketEmitter emitter;
};

TEST(TsPacket, WellFormednessRules) {
    EXPECT_TRUE(is_well_formed(packet(0x100, 0)));
    EXPECT_TRUE(is_well_formed(packet(0x100, 0, 3, 7, 0x10)));
    EXPECT_TRUE(is_well_formed(packet(0x100, 0, 2, 183)));
    EXPECT_TRUE(is_well_formed(packet(0x100, 0, 3, 0, 0x10)));  // an empty field flags nothing
    auto bad_sync = packet(0x100, 0);
    bad_sync[0] = 0x46;
    auto error_bit = packet(0x100, 0);
    error_bit[1] |= 0x80;
    auto scrambled = packet(0x100, 0);
    scrambled[3] |= 0x40;
    for (const auto& p : {bad_sync, error_bit, scrambled, packet(0x100, 0, 0), packet(0x100, 0, 3, 184),
                          packet(0x100, 0, 3, 6, 0x10)})
        EXPECT_FALSE(is_well_formed(p));
    EXPECT_TRUE(is_ts_valid(join({packet(1, 0), packet(2, 0)})));
    EXPECT_FALSE(is_ts_valid(Bytes{}));
    EXPECT_FALSE(is_ts_valid(join({packet(1, 0), bad_sync})));
}

TEST(TsPacket, SignallingPacketOfPid0x0015) {
    Bytes p(kPacketBytes, 0xff);
    p[0] = 0x47, p[1] = 0x40, p[2] = 0x15, p[3] = 0x10;
    p[4] = 0x12, p[6] = 0x98, p[7] = 0x96, p[8] = 0x7f;  // 9,999,999
    EXPECT_TRUE(is_pid_0x0015_signalling_packet(p));
    for (const auto& change : std::vector<std::function<void(Bytes&)>>{
             [](Bytes& b) { b[3] = 0x11; }, [](Bytes& b) { b[4] = 0xc2; }, [](Bytes& b) { b[4] = 0x14; },
             [](Bytes& b) { b[4] = 0x13; }, [](Bytes& b) { b[4] = 0x01; }, [](Bytes& b) { b[8] = 0x80; },
             [](Bytes& b) { b[187] = 0; }}) {
        Bytes changed = p;
        change(changed);
        EXPECT_FALSE(is_pid_0x0015_signalling_packet(changed));
    }
}

TEST(PacketEmitter, WithoutSwitchesOutputIsTheChosenBytesAndNothingIsPending) {
    EmitterUnderTest e(false, false);
    Bytes first = join({packet(0x100, 14), packet(0x101, 3)});
    Bytes jump = join({packet(0x100, 2)});
    e.emit(first);
    e.emitter.note_untraceable_loss();
    e.emit(jump);
    EXPECT_EQ(e.output.contents(), std::string(first.begin(), first.end()) + std::string(jump.begin(), jump.end()));
    EXPECT_TRUE(e.emitter.pending_pids().empty());
    EXPECT_EQ(e.emitter.counters().continuity_guard_pending_pids, 0u);
    EXPECT_EQ(e.emitter.counters().output_packets, 3u);
    EXPECT_EQ(e.emitter.counters().output_bytes, 3u * 188);
}

TEST(PacketEmitter, GuardFlagsRepeatsAndJumpsOnce) {
    EmitterUnderTest e(true, false);
    for (const std::uint8_t cc : {14, 15, 0, 1}) {
        Bytes chunk = packet(0x100, cc);
        e.emit(chunk);
    }
    EXPECT_TRUE(e.emitter.pending_pids().empty());

    Bytes repeat = packet(0x100, 1);
    e.emit(repeat);
    EXPECT_EQ(e.emitter.pending_pids().count(0x100), 1u);
    Bytes jump = packet(0x100, 9);  // a second break while still pending is not counted again
    e.emit(jump);
    EXPECT_EQ(e.emitter.counters().continuity_guard_pending_pids, 1u);

    // The first packet of a PID never emitted before is not checked, but later packets of the
    // same chunk are compared with it.
    EmitterUnderTest within(true, false);
    Bytes chunk = join({packet(0x200, 3), packet(0x200, 4), packet(0x300, 9)});
    within.emit(chunk);
    EXPECT_TRUE(within.emitter.pending_pids().empty());
    Bytes next = join({packet(0x400, 1), packet(0x400, 3)});
    within.emit(next);
    EXPECT_EQ(within.emitter.pending_pids().pids(), (std::vector<std::uint16_t>{0x400}));
}

TEST(PacketEmitter, GuardSkipsSignalledDiscontinuitiesNullAndSignallingPackets) {
    EmitterUnderTest e(true, false);
    Bytes first = join({packet(0x100, 5), packet(0x1fff, 0), packet(0x15, 0)});
    e.emit(first);
    Bytes second = join({packet(0x100, 9, 3, 1, 0x80), packet(0x1fff, 7)});
    e.emit(second);
    EXPECT_TRUE(e.emitter.pending_pids().empty());
}

TEST(PacketEmitter, InsertedPacketsPrecedeTheChunkAfterATrustedDrop) {
    EmitterUnderTest e(false, true);
    Bytes seen = join({packet(0x100, 1), packet(0x101, 1)});
    e.emit(seen);
    const Bytes dropped = join({packet(0x100, 2), packet(0x101, 2), packet(0x1fff, 0)});
    e.emitter.note_dropped_chunk(dropped, true);
    EXPECT_EQ(e.emitter.pending_pids().size(), 2u);

    Bytes next = join({packet(0x1fff, 0), packet(0x100, 3), packet(0x100, 4), packet(0x101, 5)});
    const auto signalled = e.emit(next);
    EXPECT_EQ(signalled.inserted, 2u);
    EXPECT_TRUE(e.emitter.pending_pids().empty());
    const std::string out = e.output.contents();
    ASSERT_EQ(out.size(), (2 + 2 + 4) * 188u);
    const auto inserted = [&](std::size_t index) { return out.substr((2 + index) * 188, 188); };
    EXPECT_EQ(std::string(inserted(0).substr(0, 6)), std::string("\x47\x01\x00\x23\xb7\x80", 6));
    EXPECT_EQ(std::string(inserted(1).substr(0, 6)), std::string("\x47\x01\x01\x25\xb7\x80", 6));
    EXPECT_EQ(inserted(0).substr(6), std::string(182, '\xff'));
    EXPECT_EQ(out.substr(4 * 188), std::string(next.begin(), next.end()));
    EXPECT_EQ(e.emitter.counters().discontinuity_inserted_packets, 2u);
    EXPECT_EQ(e.emitter.counters().output_packets, 8u);
    EXPECT_EQ(e.emitter.counters().output_bytes, 8u * 188);

    const std::string rows = e.provenance.contents();
    EXPECT_NE(rows.find("{\"schema\":\"qarel.ldpc_bch_packet_provenance.v1\",\"output_packet_index\":2,"
                        "\"kind\":\"inserted_discontinuity\",\"frame_index\":7,\"codeword_slot\":0,"
                        "\"packet_in_codeword\":null,\"packets_per_codeword\":null,\"pid\":256,\"pid_hex\":\"0x0100\","
                        "\"payload_unit_start\":false,\"has_payload\":false,\"continuity_counter\":3,"
                        "\"discontinuity_indicator\":true}\n"),
              std::string::npos)
        << rows;
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 8);
}

TEST(PacketEmitter, MarkingWaitsForAPacketWithAnAdaptationField) {
    EmitterUnderTest e(true, false);
    Bytes seen = packet(0x100, 1);
    e.emit(seen);
    e.emitter.note_untraceable_loss();
    Bytes payload_only = join({packet(0x100, 2), packet(0x100, 3)});
    EXPECT_EQ(e.emit(payload_only).marked, 0u);
    EXPECT_EQ(e.emitter.pending_pids().count(0x100), 1u);
    Bytes with_field = join({packet(0x100, 4, 3, 0), packet(0x100, 5, 3, 1), packet(0x100, 6, 3, 1)});
    EXPECT_EQ(e.emit(with_field).marked, 1u);
    EXPECT_TRUE(e.emitter.pending_pids().empty());
    EXPECT_EQ(with_field[188 + 5], 0x80);  // the first packet with a non-empty field, marked in place
    EXPECT_EQ(with_field[5], 0x00);
    EXPECT_EQ(with_field[2 * 188 + 5], 0x00);
    EXPECT_EQ(e.emitter.counters().discontinuity_marked_packets, 1u);
    EXPECT_NE(e.provenance.contents().find("\"continuity_counter\":5,\"discontinuity_indicator\":true"),
              std::string::npos);
}

TEST(PacketEmitter, LossesMakeOnlySeenPidsPending) {
    EmitterUnderTest e(true, true);
    Bytes seen = join({packet(0x100, 1), packet(0x1fff, 0), packet(0x300, 0, 2, 183)});
    e.emit(seen);
    e.emitter.note_untraceable_loss();
    EXPECT_EQ(e.emitter.pending_pids().pids(), (std::vector<std::uint16_t>{0x100}));
    // An untrusted drop counts as an untraceable loss.
    EmitterUnderTest untrusted(true, false);
    untrusted.emit(seen);
    untrusted.emitter.note_dropped_chunk(join({packet(0x500, 0)}), false);
    EXPECT_EQ(untrusted.emitter.pending_pids().pids(), (std::vector<std::uint16_t>{0x100}));
}

// Two BCH blocks per packet: a packet is marked when either of its blocks is untrusted, its
// sync byte restored; the continuity state and the provenance see the bytes as decoded.
TEST(PacketEmitter, TransportErrorMarkingTouchesUntrustedPacketsOnly) {
    Bytes chunk = join({packet(0x10, 0), packet(0x11, 0), packet(0x12, 0), packet(0x10, 1)});
    chunk[2 * 188] = 0x00;  // a garbled sync byte in an untrusted packet
    chunk[3 * 188] = 0x00;  // and one in a trusted packet, which stays as it is
    const std::vector<std::uint8_t> trusted{1, 1, 1, 0, 0, 1, 1, 1};
    const Bytes decoded = chunk;
    CaptureFile output, provenance, plain_provenance;
    PacketEmitter marking(output.get(), provenance.get(), {true, false}, true);
    marking.emit_transport_chunk(chunk, PacketKind::emitted, {1, std::nullopt, std::nullopt, 4, trusted});
    CaptureFile plain_output;
    PacketEmitter unmarked(plain_output.get(), plain_provenance.get(), {true, false}, false);
    Bytes same = decoded;
    unmarked.emit_transport_chunk(same, PacketKind::emitted, {1, std::nullopt, std::nullopt, 4, trusted});

    Bytes expected = decoded;
    for (const std::size_t p : {1u, 2u}) {
        expected[p * 188] = 0x47;
        expected[p * 188 + 1] |= 0x80;
    }
    EXPECT_EQ(output.contents(), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(plain_output.contents(), std::string(decoded.begin(), decoded.end()));
    EXPECT_TRUE(chunk == decoded);
    EXPECT_EQ(provenance.contents(), plain_provenance.contents());
    EXPECT_EQ(marking.counters().untrusted_packets, 2u);
    EXPECT_EQ(marking.counters().trusted_packets, 2u);
    EXPECT_EQ(marking.counters().trusted_packets_without_sync, 1u);
}

TEST(Provenance, RowsDescribeWholeFramesSalvagedAndBrokenPackets) {
    CaptureFile output, provenance;
    PacketEmitter emitter(output.get(), provenance.get(), {});
    Bytes frame = join({packet(0x10, 0), packet(0x11, 0), packet(0x12, 0), packet(0x13, 0)});
    emitter.emit_transport_chunk(frame, PacketKind::emitted, {3, std::nullopt, std::nullopt, 2, {}});
    Bytes salvaged = packet(0x1fff, 0);
    emitter.emit_transport_chunk(salvaged, PacketKind::emitted_bch_clean_packet, {4, 1, 1, 2, {}});
    const std::string rows = provenance.contents();
    EXPECT_NE(rows.find("\"output_packet_index\":3,\"kind\":\"emitted\",\"frame_index\":3,\"codeword_slot\":1,"
                        "\"packet_in_codeword\":1,\"packets_per_codeword\":2,\"pid\":19,\"pid_hex\":\"0x0013\","
                        "\"payload_unit_start\":false,\"has_payload\":true,\"continuity_counter\":0"),
              std::string::npos)
        << rows;
    EXPECT_NE(rows.find("\"output_packet_index\":4,\"kind\":\"emitted_bch_clean_packet\",\"frame_index\":4,"
                        "\"codeword_slot\":1,\"packet_in_codeword\":1,\"packets_per_codeword\":2,\"pid\":8191,"
                        "\"pid_hex\":\"0x1fff\""),
              std::string::npos);

    Bytes broken = packet(0x1ff, 9, 1);
    broken[0] = 0x00;
    broken[1] |= 0x40;
    EXPECT_EQ(format_provenance_row({5, PacketKind::emitted, 1, 0, 0, 4}, broken),
              "{\"schema\":\"qarel.ldpc_bch_packet_provenance.v1\",\"output_packet_index\":5,\"kind\":\"emitted\","
              "\"frame_index\":1,\"codeword_slot\":0,\"packet_in_codeword\":0,\"packets_per_codeword\":4,\"pid\":511,"
              "\"pid_hex\":\"0x01ff\",\"payload_unit_start\":false,\"has_payload\":false,\"continuity_counter\":0,"
              "\"discontinuity_indicator\":false}\n");
}

TEST(PacketEmitter, WriteFailuresStopTheRun) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    Bytes chunk = packet(0x100, 0);
    PacketEmitter to_full_output(full, nullptr, {});
    try {
        to_full_output.emit_transport_chunk(chunk, PacketKind::emitted, {1, 0, std::nullopt, 1, {}});
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "failed to write decoded transport-byte stream");
    }
    CaptureFile output;
    PacketEmitter to_full_provenance(output.get(), full, {});
    try {
        to_full_provenance.emit_transport_chunk(chunk, PacketKind::emitted, {1, 0, std::nullopt, 1, {}});
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "failed to write packet provenance row");
    }
    std::fclose(full);
}

TEST(TsContinuityContext, RecordsWellFormedPayloadPackets) {
    TsContinuityContext context;
    auto broken = packet(0x102, 4);
    broken[1] |= 0x80;
    update_ts_continuity_context(join({packet(0x100, 3), packet(0x101, 2, 2, 183), packet(0x1fff, 1), broken,
                                       packet(0x100, 4)}),
                                 context);
    EXPECT_EQ(context.seen_pids, (std::unordered_set<std::uint16_t>{0x100}));
    EXPECT_EQ(context.last_continuity_counter.at(0x100), 4);
    update_ts_continuity_context(Bytes(100, 0x47), context);  // not whole packets: ignored
    EXPECT_EQ(context.seen_pids.size(), 1u);
}

}  // namespace
}  // namespace qarel::ts
