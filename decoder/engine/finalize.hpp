#pragma once

#include <cstdint>
#include <vector>

#include "decoder/engine/decode_counters.hpp"
#include "decoder/engine/engine_config.hpp"
#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/engine/frame_record.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::engine {

// What one frame contributed to the output.
struct FrameEmission {
    bool emitted = false;
    std::uint64_t marked_packets = 0;
    std::uint64_t inserted_packets = 0;
    std::uint64_t emitted_packets = 0;
    std::uint64_t omitted_packets = 0;
    std::uint64_t salvaged_packets = 0;
};

// Receives every finalized frame in frame order, before the strict stop; the frame
// diagnostics writer plugs in here. `record` is null for a frame that was not decoded.
class FrameDiagnosticsSink {
public:
    virtual ~FrameDiagnosticsSink() = default;
    virtual void write_frame(const FrameSelectionRecord& frame, const FrameDecodeRecord* record,
                             const FrameEmission& emission) = 0;
};

// Turns the decoded frames of a batch into output, in frame order on the main thread: the
// frame's transport bytes, the clean judgements, emission under the chosen policy, the
// strict stop and the run counters.
class FrameFinalizer {
public:
    FrameFinalizer(const EngineConfig& config, ts::PacketEmitter& emitter, DecodeCounters& counters,
                   FrameDiagnosticsSink* diagnostics = nullptr)
        : config_(config), emitter_(emitter), counters_(counters), diagnostics_(diagnostics) {}

    void finalize_skipped(const FrameSelectionRecord& frame);
    void finalize_decoded(const FrameSelectionRecord& frame, FrameDecodeRecord& record);

private:
    void join_slot_bch(FrameDecodeRecord& record) const;
    void judge_codewords(FrameDecodeRecord& record);
    void check_continuity_of_retries(const FrameSelectionRecord& frame, FrameDecodeRecord& record);
    bool repair_under_context(const FrameSelectionRecord& frame, FrameDecodeRecord& record, std::uint64_t slot);
    FrameEmission emit_whole_frame(const FrameSelectionRecord& frame, FrameDecodeRecord& record);
    FrameEmission emit_codewords(const FrameSelectionRecord& frame, FrameDecodeRecord& record);
    void salvage_packets(const FrameSelectionRecord& frame, FrameDecodeRecord& record, std::uint64_t slot,
                         FrameEmission& emission);
    void stop_if_strict(const FrameSelectionRecord& frame, const FrameDecodeRecord& record) const;
    void add_decode_counters(const FrameDecodeRecord& record);
    void add_retry_counters(const FrameDecodeRecord& record, std::uint64_t slot);
    void add_packet_counters(std::uint64_t slot);
    void add_channel_errors(const FrameDecodeRecord& record, std::uint64_t slot);

    bool slot_blocks_clean(const FrameDecodeRecord& record, std::uint64_t slot) const;
    bool packet_blocks_clean(const FrameDecodeRecord& record, std::uint64_t slot, std::uint64_t packet) const;
    void judge_block_trust(const FrameDecodeRecord& record);
    std::span<const std::uint8_t> slot_trusted_blocks(std::uint64_t slot) const;
    std::span<std::uint8_t> codeword_bytes(FrameDecodeRecord& record, std::uint64_t slot) const;

    const EngineConfig& config_;
    ts::PacketEmitter& emitter_;
    DecodeCounters& counters_;
    FrameDiagnosticsSink* diagnostics_;
    // The packets accepted so far, in frame order, as retries' continuity checks see them.
    ts::TsContinuityContext continuity_context_;
    // Per BCH block of the frame being finalized: passed BCH in a codeword that converged.
    std::vector<std::uint8_t> trusted_blocks_;
};

}  // namespace qarel::engine
