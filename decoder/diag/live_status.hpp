#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/diag/run_counters.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::diag {

// The run's counters at one moment, as the status stream and the progress line report them.
// The names shared with the run summary count the same things.
struct LiveTotals {
    double elapsed_s = 0;
    std::uint64_t frames = 0;
    std::uint64_t codewords = 0;
    std::uint64_t soft_decoded_frames = 0;
    std::uint64_t clean_frames = 0;
    std::uint64_t decoded_codewords = 0;
    std::uint64_t clean_codewords = 0;
    std::uint64_t ldpc_iterations = 0;
    std::uint64_t largest_ldpc_iterations = 0;
    std::uint64_t channel_bits = 0;
    std::uint64_t channel_bit_errors = 0;
    std::uint64_t bch_blocks = 0;
    std::uint64_t bch_corrected_errors = 0;
    std::uint64_t bch_unclean_blocks = 0;
    std::uint64_t decoded_packets = 0;
    std::uint64_t untrusted_packets = 0;
    std::uint64_t retry_recovered_codewords = 0;
    std::uint64_t output_packets = 0;
    std::uint64_t output_bytes = 0;
    std::uint64_t marked_packets = 0;
    std::uint64_t dropped_packets = 0;
    std::uint64_t erased_llrs = 0;
    std::uint64_t trusted_packets = 0;
    std::uint64_t trusted_packets_without_sync = 0;
};

// What a run has counted so far, its elapsed time left for the caller to set;
// `largest_ldpc_iterations` is the run's largest.
LiveTotals collect_live_totals(const SelectionCounters& selection, const DecodeCounters& decode,
                               const ts::EmitterCounters& emitter, std::uint64_t codewords_per_frame,
                               bool transport_errors_marked, std::uint64_t erased_llrs);

// The counts between two moments; the caller sets the interval's largest iteration count.
LiveTotals live_difference(const LiveTotals& now, const LiveTotals& before);

// What the run's code delivers at DTMB's real-time rate.
struct LiveRate {
    double fec_frames_per_second = 1800.0;  // 7.56 Msymbol/s, frames of 4200 symbols
    std::uint64_t transport_bytes_per_frame = 0;
};

LiveRate dtmb_live_rate(std::uint64_t signal_frames_per_fec_group, std::uint64_t transport_bytes_per_frame);

// Set-up mistakes the counters reveal, as one-line texts.
struct LiveWarningInputs {
    std::uint64_t alist_check_count = 0;
    std::uint64_t parity_bits = 0;
};
std::vector<std::string> live_warnings(const LiveTotals& totals, const LiveWarningInputs& inputs);

inline constexpr const char* kNoSyncBytesWarning =
    "clean codewords carry no MPEG-TS sync bytes: check --fec-rate and --alist";

// One JSON object of the "qarel.decode_status.v1" stream, without the newline.
std::string format_status_line(const LiveTotals& totals, const LiveTotals& interval, const LiveRate& rate,
                               const std::vector<std::string>& warnings, bool final);

// The human one-liner of --progress.
std::string format_progress_line(const LiveTotals& totals, const LiveTotals& interval, const LiveRate& rate);

}  // namespace qarel::diag
