#include "decoder/diag/live_status.hpp"

#include <cstdio>

#include "decoder/diag/json_line.hpp"

namespace qarel::diag {
namespace {

double ratio(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

double per_second(double amount, double seconds) { return seconds > 0 ? amount / seconds : 0.0; }

double output_mbit_s(const LiveTotals& t) { return per_second(8.0 * static_cast<double>(t.output_bytes), t.elapsed_s) / 1e6; }

// Input frames per second against the frames per second of DTMB's real-time rate.
double realtime_factor(const LiveTotals& t, const LiveRate& rate) {
    return per_second(static_cast<double>(t.frames), t.elapsed_s) / rate.fec_frames_per_second;
}

constexpr std::uint64_t kBchCodeBits = 762;
// Fewest clean packets before their missing sync bytes count as a pattern.
constexpr std::uint64_t kSyncEvidencePackets = 8;

void write_figures(JsonLine& json, const LiveTotals& t, const LiveRate& rate) {
    const double frame_errors = ratio(t.soft_decoded_frames - t.clean_frames, t.soft_decoded_frames);
    const double codeword_errors = ratio(t.decoded_codewords - t.clean_codewords, t.decoded_codewords);
    const double pre_ber = ratio(t.channel_bit_errors, t.channel_bits);
    const double post_ber = ratio(t.bch_corrected_errors, t.bch_blocks * kBchCodeBits);
    const double packet_errors = ratio(t.untrusted_packets, t.decoded_packets);
    json.begin_object()
        .key("seconds").real(t.elapsed_s)
        .key("frames").number(t.frames)
        .key("codewords").number(t.codewords)
        .key("soft_decoded_frames").number(t.soft_decoded_frames)
        .key("clean_frames").number(t.clean_frames)
        .key("decoded_codewords").number(t.decoded_codewords)
        .key("clean_codewords").number(t.clean_codewords)
        .key("frame_error_rate").real(frame_errors)
        .key("codeword_error_rate").real(codeword_errors)
        .key("average_ldpc_iterations").real(ratio(t.ldpc_iterations, t.decoded_codewords))
        .key("largest_ldpc_iterations").number(t.largest_ldpc_iterations)
        .key("channel_bit_error_rate").real(pre_ber)
        .key("bch_corrected_errors").number(t.bch_corrected_errors)
        .key("bch_bit_error_rate").real(post_ber)
        .key("bch_unclean_blocks").number(t.bch_unclean_blocks)
        .key("packet_error_rate").real(packet_errors)
        .key("preBER").real(pre_ber)
        .key("postBER").real(post_ber)
        .key("UCB").number(t.bch_unclean_blocks)
        .key("PER").real(packet_errors)
        .key("retry_recovered_codewords").number(t.retry_recovered_codewords)
        .key("output_packets").number(t.output_packets)
        .key("output_bytes").number(t.output_bytes)
        .key("marked_packets").number(t.marked_packets)
        .key("dropped_packets").number(t.dropped_packets)
        .key("erased_llrs").number(t.erased_llrs)
        .key("output_mbit_s").real(output_mbit_s(t))
        .key("realtime_factor").real(realtime_factor(t, rate))
        .end_object();
}

}  // namespace

LiveTotals collect_live_totals(const SelectionCounters& selection, const DecodeCounters& decode,
                               const ts::EmitterCounters& emitter, std::uint64_t codewords_per_frame,
                               bool transport_errors_marked, std::uint64_t erased_llrs) {
    LiveTotals t;
    t.frames = selection.frames;
    t.codewords = selection.codewords;
    t.soft_decoded_frames = decode.soft_decoded_frames;
    t.clean_frames = decode.clean_frames;
    t.decoded_codewords = decode.soft_decoded_frames * codewords_per_frame;
    t.clean_codewords = decode.clean_codewords;
    t.ldpc_iterations = decode.ldpc_iterations;
    t.largest_ldpc_iterations = decode.largest_ldpc_iterations;
    t.channel_bits = decode.channel_bits;
    t.channel_bit_errors = decode.channel_bit_errors;
    t.bch_blocks = decode.bch_blocks;
    t.bch_corrected_errors = decode.bch_corrected_errors;
    t.bch_unclean_blocks = decode.bch_unclean_blocks;
    t.decoded_packets = decode.decoded_packets;
    t.untrusted_packets = decode.untrusted_packets;
    t.retry_recovered_codewords = decode.retry_recovered_codewords;
    t.output_packets = emitter.output_packets;
    t.output_bytes = emitter.output_bytes;
    t.marked_packets = transport_errors_marked ? emitter.untrusted_packets : 0;
    t.dropped_packets = decode.omitted_packets;
    t.erased_llrs = erased_llrs;
    t.trusted_packets = emitter.trusted_packets;
    t.trusted_packets_without_sync = emitter.trusted_packets_without_sync;
    return t;
}

LiveTotals live_difference(const LiveTotals& now, const LiveTotals& before) {
    LiveTotals d;
    d.elapsed_s = now.elapsed_s - before.elapsed_s;
    d.frames = now.frames - before.frames;
    d.codewords = now.codewords - before.codewords;
    d.soft_decoded_frames = now.soft_decoded_frames - before.soft_decoded_frames;
    d.clean_frames = now.clean_frames - before.clean_frames;
    d.decoded_codewords = now.decoded_codewords - before.decoded_codewords;
    d.clean_codewords = now.clean_codewords - before.clean_codewords;
    d.ldpc_iterations = now.ldpc_iterations - before.ldpc_iterations;
    d.channel_bits = now.channel_bits - before.channel_bits;
    d.channel_bit_errors = now.channel_bit_errors - before.channel_bit_errors;
    d.bch_blocks = now.bch_blocks - before.bch_blocks;
    d.bch_corrected_errors = now.bch_corrected_errors - before.bch_corrected_errors;
    d.bch_unclean_blocks = now.bch_unclean_blocks - before.bch_unclean_blocks;
    d.decoded_packets = now.decoded_packets - before.decoded_packets;
    d.untrusted_packets = now.untrusted_packets - before.untrusted_packets;
    d.retry_recovered_codewords = now.retry_recovered_codewords - before.retry_recovered_codewords;
    d.output_packets = now.output_packets - before.output_packets;
    d.output_bytes = now.output_bytes - before.output_bytes;
    d.marked_packets = now.marked_packets - before.marked_packets;
    d.dropped_packets = now.dropped_packets - before.dropped_packets;
    d.erased_llrs = now.erased_llrs - before.erased_llrs;
    d.trusted_packets = now.trusted_packets - before.trusted_packets;
    d.trusted_packets_without_sync = now.trusted_packets_without_sync - before.trusted_packets_without_sync;
    return d;
}

LiveRate dtmb_live_rate(std::uint64_t signal_frames_per_fec_group, std::uint64_t transport_bytes_per_frame) {
    LiveRate rate;
    rate.fec_frames_per_second /= static_cast<double>(signal_frames_per_fec_group == 0 ? 1 : signal_frames_per_fec_group);
    rate.transport_bytes_per_frame = transport_bytes_per_frame;
    return rate;
}

std::vector<std::string> live_warnings(const LiveTotals& totals, const LiveWarningInputs& inputs) {
    std::vector<std::string> warnings;
    if (inputs.alist_check_count != inputs.parity_bits)
        warnings.push_back("the alist has " + std::to_string(inputs.alist_check_count) +
                           " checks but this FEC rate has " + std::to_string(inputs.parity_bits) +
                           " parity bits: check --fec-rate and --alist");
    if (totals.trusted_packets >= kSyncEvidencePackets &&
        2 * totals.trusted_packets_without_sync > totals.trusted_packets)
        warnings.emplace_back(kNoSyncBytesWarning);
    return warnings;
}

std::string format_status_line(const LiveTotals& totals, const LiveTotals& interval, const LiveRate& rate,
                               const std::vector<std::string>& warnings, bool final) {
    JsonLine json;
    json.begin_object().key("schema").text("qarel.decode_status.v1").key("final").flag(final);
    json.key("totals");
    write_figures(json, totals, rate);
    json.key("interval");
    write_figures(json, interval, rate);
    json.key("warnings").array(std::span<const std::string>(warnings),
                                [](JsonLine& line, const std::string& w) { line.text(w); });
    json.end_object();
    return json.str();
}

std::string format_progress_line(const LiveTotals& totals, const LiveTotals& interval, const LiveRate& rate) {
    const double codeword_errors = ratio(totals.decoded_codewords - totals.clean_codewords, totals.decoded_codewords);
    char line[256];
    std::snprintf(line, sizeof line,
                  "%.0f s  %llu frames  CER %.3g%%  iter %.1f max %llu  UCB %llu  marked %llu dropped %llu  "
                  "%.1f Mbit/s  %.2fx real time",
                  totals.elapsed_s, static_cast<unsigned long long>(totals.frames), 100.0 * codeword_errors,
                  ratio(interval.ldpc_iterations, interval.decoded_codewords),
                  static_cast<unsigned long long>(interval.largest_ldpc_iterations),
                  static_cast<unsigned long long>(totals.bch_unclean_blocks),
                  static_cast<unsigned long long>(totals.marked_packets),
                  static_cast<unsigned long long>(totals.dropped_packets), output_mbit_s(interval),
                  realtime_factor(interval, rate));
    return line;
}

}  // namespace qarel::diag
