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
    PacketEmitter(std::FILE* output, std::FILE* provenance, DiscontinuitySwitches switches);

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

    std::FILE* output_;
    std::FILE* provenance_;
    DiscontinuitySwitches switches_;
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
