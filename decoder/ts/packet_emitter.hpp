#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "decoder/ts/pid_set.hpp"
#include "decoder/ts/provenance.hpp"

namespace qarel::ts {

struct EmitterCounters {
    std::uint64_t output_packets = 0;
    std::uint64_t output_bytes = 0;
    std::uint64_t discontinuity_marked_packets = 0;
    std::uint64_t discontinuity_inserted_packets = 0;
    std::uint64_t continuity_guard_pending_pids = 0;
    // Live figures, outside the run summary: written packets by whether their bytes are
    // trusted (see ChunkOrigin::trusted_blocks).
    std::uint64_t trusted_packets = 0;
    std::uint64_t trusted_packets_without_sync = 0;
    std::uint64_t untrusted_packets = 0;  // marked with transport_error_indicator when asked
};

struct DiscontinuitySwitches {
    bool mark_discontinuities = false;
    bool insert_discontinuity_packets = false;
    bool any() const { return mark_discontinuities || insert_discontinuity_packets; }
};

struct SignallingResult {
    std::uint64_t marked = 0;
    std::uint64_t inserted = 0;
};

// Where an emitted chunk came from: a whole frame (no slot), a whole codeword (slot), or
// one salvaged packet (slot and its position in the codeword).
struct ChunkOrigin {
    std::uint64_t frame_index = 0;
    std::optional<std::uint64_t> codeword_slot;
    std::optional<std::uint64_t> packet_in_codeword;
    std::uint64_t packets_per_codeword = 1;
    // Per BCH block of the chunk, in order, whether its bytes are trusted: the block passed
    // BCH in a codeword whose LDPC decoding converged. Empty: all trusted.
    std::span<const std::uint8_t> trusted_blocks;
};

// Accepted transport packets per PID, as the retries' continuity checks see them.
struct TsContinuityContext {
    std::unordered_map<std::uint16_t, std::uint8_t> last_continuity_counter;
    std::unordered_set<std::uint16_t> seen_pids;
};

void update_ts_continuity_context(std::span<const std::uint8_t> chunk, TsContinuityContext& context);

// Writes chosen transport bytes to the output, keeps the continuity of every emitted PID
// across the run, signals losses with discontinuity indicators or inserted packets when
// asked, and writes a provenance row per output packet.
class PacketEmitter {
public:
    // With `mark_transport_errors`, every written packet that carries bytes of an untrusted
    // BCH block has its transport_error_indicator set and its sync byte restored; nothing
    // but the output sees the mark.
    PacketEmitter(std::FILE* output, std::FILE* provenance, DiscontinuitySwitches switches,
                  bool mark_transport_errors = false);

    SignallingResult emit_transport_chunk(std::span<std::uint8_t> chunk, PacketKind kind, const ChunkOrigin& origin);
    void guard_continuity(std::span<const std::uint8_t> chunk);
    SignallingResult apply_discontinuity_signalling(std::span<std::uint8_t> chunk, std::uint64_t frame_index,
                                                    std::optional<std::uint64_t> codeword_slot);
    void record_emitted_packets(std::span<const std::uint8_t> chunk);
    void note_dropped_chunk(std::span<const std::uint8_t> chunk, bool trusted);
    void note_untraceable_loss();

    const EmitterCounters& counters() const { return counters_; }
    const PidSet& pending_pids() const { return pending_pids_; }

private:
    void write_output(std::span<const std::uint8_t> bytes);
    void write_chunk(std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> trusted_blocks);

    std::FILE* output_;
    std::FILE* provenance_;
    DiscontinuitySwitches switches_;
    bool mark_transport_errors_;
    std::vector<std::uint8_t> marked_chunk_;
    PidSet pending_pids_;
    PidSet seen_pids_;
    // Per PID the continuity counter of its last emitted payload packet, kNoCounter if none.
    static constexpr std::int8_t kNoCounter = -1;
    std::array<std::int8_t, kPidCount> last_continuity_counter_;
    // The guard's view of the counters within a chunk, equal to last_continuity_counter_
    // between chunks; `guard_touched_` lists the entries a chunk changed.
    std::array<std::int8_t, kPidCount> expected_continuity_counter_;
    std::vector<std::uint16_t> guard_touched_;
    EmitterCounters counters_;
};

}  // namespace qarel::ts
