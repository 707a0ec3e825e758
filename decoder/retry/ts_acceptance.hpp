#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/bch/bch.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/options/rule_records.hpp"
#include "decoder/retry/syndrome_solve.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::retry {

// A non-zero whole number of packets, every one well formed.
bool ts_packets_well_formed(std::span<const std::uint8_t> bytes);

// Whether the packets continue the stream the context has accepted: no PID the stream has
// not carried (once it has carried any), and each payload packet's counter one past the last
// of its PID unless it signals a discontinuity. Packets of the codeword continue each other.
bool ts_packets_continuous(std::span<const std::uint8_t> bytes, const ts::TsContinuityContext& context);

// The 32 constraints that make the packet header at `byte_offset` of the codeword in `slot`
// read `header`: each transport bit sits in the systematic part of its BCH block, scrambled by
// the energy-dispersal bit at its position in the frame.
void append_header_constraints(std::vector<SolveConstraint>& constraints, std::uint64_t slot,
                               std::uint64_t byte_offset, const std::array<std::uint8_t, 4>& header,
                               const ldpc::FecProfile& profile);

// Headers named by the header template rules for this frame and slot; empty when one of them
// does not fit in the codeword.
std::vector<SolveConstraint> template_rule_constraints(std::uint64_t frame_index, std::uint64_t slot,
                                                       std::span<const options::TsHeaderTemplate> rules,
                                                       const ldpc::FecProfile& profile);

// Each well-formed packet's own header, with the counter of a payload packet that continues a
// known PID set to the next counter.
std::vector<SolveConstraint> continuity_header_constraints(std::span<const std::uint8_t> bytes,
                                                           const ts::TsContinuityContext& context, std::uint64_t slot,
                                                           const ldpc::FecProfile& profile);

// Each payload packet's header rewritten to the nearest header (fewest differing bits) of a
// PID the context knows, with that PID's next counter; empty when a packet is malformed or no
// PID is known.
std::vector<SolveConstraint> template_continuity_constraints(std::span<const std::uint8_t> bytes,
                                                             const ts::TsContinuityContext& context,
                                                             std::uint64_t slot, const ldpc::FecProfile& profile);

// Judges a candidate codeword's full hard bits by its transport bytes: BCH clean and well
// formed, and with a context also continuous under it. Scratch is reused between calls.
class TsAcceptance {
public:
    TsAcceptance(const ldpc::FecProfile& profile, std::uint64_t slot, std::uint64_t scrambler_reset_bits,
                 const ts::TsContinuityContext* context = nullptr);

    bool operator()(std::span<const std::uint8_t> hard_bits);

    // The bytes and BCH result of the last judged candidate.
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    const bch::BchDecodeResult& bch_result() const { return bch_; }

private:
    const ldpc::FecProfile& profile_;
    std::uint64_t offset_bits_;
    std::uint64_t scrambler_reset_bits_;
    const ts::TsContinuityContext* context_;
    std::vector<std::uint8_t> bytes_;
    bch::BchDecodeResult bch_;
};

}  // namespace qarel::retry
