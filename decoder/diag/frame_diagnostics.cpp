#include "decoder/diag/frame_diagnostics.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "decoder/diag/failed_variables.hpp"
#include "decoder/diag/json_line.hpp"
#include "decoder/ts/ts_packet.hpp"

namespace qarel::diag {
namespace {

using engine::FrameDecodeRecord;
using engine::FrameSelectionRecord;

constexpr float kWeakLlr = 1.0f;

struct LlrStatistics {
    std::uint64_t count = 0;
    double abs_sum = 0.0;
    float abs_min = std::numeric_limits<float>::infinity();
    float abs_max = 0.0f;
    std::uint64_t weak = 0;
    std::uint64_t hard_ones = 0;
    std::vector<double> slot_abs_sum;
    std::vector<std::uint64_t> slot_count, slot_weak, slot_hard_ones;
};

LlrStatistics llr_statistics(std::span<const float> llrs, std::uint64_t slots, std::uint64_t per_slot) {
    LlrStatistics s;
    s.slot_abs_sum.assign(slots, 0.0);
    s.slot_count.assign(slots, 0);
    s.slot_weak.assign(slots, 0);
    s.slot_hard_ones.assign(slots, 0);
    for (std::uint64_t slot = 0; slot * per_slot < llrs.size(); ++slot) {
        const auto values = llrs.subspan(slot * per_slot, std::min<std::uint64_t>(per_slot, llrs.size() - slot * per_slot));
        double sum = 0.0;
        std::uint64_t weak = 0, hard_ones = 0;
        for (const float x : values) {
            const float a = std::fabs(x);
            sum += a;
            s.abs_sum += a;
            s.abs_min = std::min(s.abs_min, a);
            s.abs_max = std::max(s.abs_max, a);
            weak += a < kWeakLlr ? 1 : 0;
            hard_ones += x < 0.0f ? 1 : 0;
        }
        s.count += values.size();
        s.weak += weak;
        s.hard_ones += hard_ones;
        if (slot >= slots) continue;
        s.slot_abs_sum[slot] = sum;
        s.slot_count[slot] = values.size();
        s.slot_weak[slot] = weak;
        s.slot_hard_ones[slot] = hard_ones;
    }
    if (s.count == 0) s.abs_min = 0.0f;
    return s;
}

// What the frame's BCH result says about each slot; defaults when its blocks do not divide
// among the slots.
struct SlotBch {
    std::vector<std::uint8_t> clean;
    std::vector<std::uint64_t> corrected, unclean;
};

SlotBch slot_bch(const FrameDecodeRecord* record, std::uint64_t slots) {
    SlotBch b{std::vector<std::uint8_t>(slots, 0), std::vector<std::uint64_t>(slots, 0),
              std::vector<std::uint64_t>(slots, 0)};
    if (record == nullptr) return b;
    const auto& bch = record->frame_bch;
    if (bch.block_count % slots != 0) return b;
    const std::uint64_t per_slot = bch.block_count / slots;
    for (std::uint64_t slot = 0; slot < slots; ++slot) {
        std::uint64_t unclean = 0, corrected = 0;
        for (std::uint64_t block = slot * per_slot; block < (slot + 1) * per_slot; ++block) {
            const bool clean = block < bch.block_clean.size() && bch.block_clean[block] != 0;
            unclean += clean ? 0 : 1;
            corrected += block < bch.block_corrected_errors.size() ? bch.block_corrected_errors[block] : 0;
        }
        b.clean[slot] = unclean == 0 ? 1 : 0;
        b.corrected[slot] = corrected;
        b.unclean[slot] = unclean;
    }
    return b;
}

// Whether each slot of the frame reached the output whole, by the rule finalize emits by.
std::vector<std::uint8_t> slot_emitted(const FrameSelectionRecord& frame, const FrameDecodeRecord* record,
                                       const engine::FrameEmission& emission, const SlotBch& bch,
                                       const FrameDiagnosticsSettings& s) {
    std::vector<std::uint8_t> emitted(s.codewords_per_frame, 0);
    if (record == nullptr) return emitted;
    const std::uint64_t bytes_per_codeword = s.profile->bytes_per_codeword();
    for (std::uint64_t slot = 0; slot < s.codewords_per_frame && slot < record->codewords.clean.size(); ++slot) {
        const bool bytes_present = (slot + 1) * bytes_per_codeword <= record->transport_bytes.size();
        const bool ts_valid =
            bytes_present && ts::is_ts_valid(std::span(record->transport_bytes).subspan(slot * bytes_per_codeword, bytes_per_codeword));
        emitted[slot] = emission.emitted && (!s.emit_clean_codewords || record->codewords.clean[slot] != 0 ||
                                             (s.emit_bch_clean_codewords && bch.clean[slot] != 0 && ts_valid) ||
                                             (s.emit_forced_codewords && frame.forced));
    }
    return emitted;
}

template <typename T>
std::span<const T> first_slots(const std::vector<T>& values, std::uint64_t slots) {
    return std::span<const T>(values).first(std::min<std::uint64_t>(slots, values.size()));
}

// Per-slot values of a decoded frame, or the default for every slot of one that was not.
template <typename T>
std::vector<T> slot_values(const FrameDecodeRecord* record, const std::vector<T> engine::CodewordResults::*field,
                           std::uint64_t slots, T fallback) {
    if (record == nullptr) return std::vector<T>(slots, fallback);
    const auto values = first_slots(record->codewords.*field, slots);
    return std::vector<T>(values.begin(), values.end());
}

template <typename T>
void put_numbers(JsonLine& line, const char* key, const std::vector<T>& values) {
    line.key(key).array(std::span<const T>(values), [](JsonLine& out, T v) { out.number(static_cast<std::uint64_t>(v)); });
}

void put_reals(JsonLine& line, const char* key, const std::vector<double>& values) {
    line.key(key).array(std::span<const double>(values), [](JsonLine& out, double v) { out.real(v); });
}

template <typename T>
std::uint64_t total(const std::vector<T>& values) {
    std::uint64_t sum = 0;
    for (const T v : values) sum += static_cast<std::uint64_t>(v);
    return sum;
}

void put_failed_variable_summaries(JsonLine& line, const FrameDecodeRecord* record, const FrameDiagnosticsSettings& s) {
    const std::uint64_t n = s.profile->variable_count();
    line.key("codeword_final_failed_variable_summary");
    std::vector<std::uint64_t> slots(s.codewords_per_frame);
    for (std::uint64_t i = 0; i < slots.size(); ++i) slots[i] = i;
    line.array(std::span<const std::uint64_t>(slots), [&](JsonLine& out, std::uint64_t slot) {
        const char* reason = nullptr;
        if (record == nullptr) reason = "not_soft_decoded";
        else if (slot >= record->codewords.ldpc.size()) reason = "codeword_result_missing";
        else if (record->codewords.ldpc[slot].converged) reason = "codeword_converged";
        else if (record->decoded_bits.size() < (slot + 1) * n) reason = "decoded_bits_missing";
        if (reason != nullptr) {
            out.begin_object().key("available").flag(false).key("reason").text(reason).end_object();
            return;
        }
        const auto bits = std::span(record->decoded_bits).subspan(slot * n, n);
        write_failed_variable_summary(out, analyze_failed_variables(bits, *s.graph, *s.profile, s.failed_variable_top),
                                      *s.profile);
    });
}

}  // namespace

std::string format_frame_diagnostics(const FrameSelectionRecord& frame, const FrameDecodeRecord* record,
                                     const engine::FrameEmission& emission, const FrameDiagnosticsSettings& s) {
    using engine::CodewordResults;
    const std::uint64_t slots = s.codewords_per_frame;
    const bool decoded = record != nullptr;
    const LlrStatistics llr = llr_statistics(frame.llrs, slots, s.profile->transmitted_bits);
    const SlotBch bch = slot_bch(record, slots);
    const auto emitted = slot_emitted(frame, record, emission, bch, s);

    std::vector<std::uint8_t> converged(slots, 0);
    std::vector<std::uint64_t> iterations(slots, 0), final_weight(slots, 0);
    if (decoded) {
        const auto ldpc = first_slots(record->codewords.ldpc, slots);
        for (std::size_t i = 0; i < ldpc.size(); ++i) {
            converged[i] = ldpc[i].converged ? 1 : 0;
            iterations[i] = ldpc[i].iterations;
            final_weight[i] = ldpc[i].final_syndrome_weight;
        }
    }
    const auto initial_weight = slot_values(record, &CodewordResults::initial_syndrome_weight, slots, std::uint64_t{0});
    const auto early_rejected = slot_values(record, &CodewordResults::early_rejected, slots, std::uint8_t{0});
    const auto clean = slot_values(record, &CodewordResults::clean, slots, std::uint8_t{0});
    std::vector<std::uint8_t> omitted(slots);
    for (std::uint64_t i = 0; i < slots; ++i) omitted[i] = emitted[i] ? 0 : 1;
    const std::uint64_t emitted_codewords = total(emitted);

    JsonLine line;
    line.begin_object();
    line.key("schema").text("qarel.ldpc_bch_frame.v1");
    line.key("frame_index").number(frame.frame_index);
    line.key("hard_h_selected").flag(frame.hard_h_selected);
    line.key("force_selected").flag(frame.forced);
    line.key("force_omitted").flag(frame.omitted);
    line.key("mode2_source_frame_selected").flag(frame.mode2_source_frame_selected);
    line.key("hard_h_gap_filled").flag(frame.hard_h_gap_filled);
    line.key("hard_h_clean_syndrome_weight").number(frame.hard_h_clean_syndrome_weight);
    line.key("llr_sample_count").number(llr.count);
    line.key("llr_abs_sum").real(llr.abs_sum);
    line.key("llr_abs_mean").real(llr.count == 0 ? 0.0 : llr.abs_sum / static_cast<double>(llr.count));
    line.key("llr_abs_min").real(llr.abs_min);
    line.key("llr_abs_max").real(llr.abs_max);
    line.key("llr_weak_threshold").real(kWeakLlr);
    line.key("llr_weak_count").number(llr.weak);
    line.key("llr_hard_one_count").number(llr.hard_ones);
    line.key("soft_decoded").flag(decoded);
    line.key("clean").flag(decoded && record->frame_clean);
    line.key("emitted").flag(emission.emitted);
    line.key("converged_codewords").number(total(converged));
    line.key("ldpc_iterations").number(total(iterations));
    line.key("initial_syndrome_scored").flag(decoded && s.initial_syndrome_scoring);
    line.key("initial_syndrome_weight").number(total(initial_weight));
    line.key("early_rejected_codewords").number(total(early_rejected));
    line.key("final_syndrome_weight").number(total(final_weight));
    line.key("bch_corrected_errors").number(decoded ? record->frame_bch.corrected_errors : 0);
    line.key("bch_unclean_blocks").number(decoded ? record->frame_bch.unclean_blocks : 0);
    line.key("clean_codewords").number(total(clean));
    line.key("emitted_codewords").number(emitted_codewords);
    line.key("omitted_codewords").number(slots - emitted_codewords);
    line.key("discontinuity_marked_packets").number(emission.marked_packets);
    line.key("discontinuity_inserted_packets").number(emission.inserted_packets);
    line.key("emitted_packets").number(emission.emitted_packets);
    line.key("omitted_packets").number(emission.omitted_packets);
    line.key("packets_per_codeword").number(s.profile->packets_per_codeword());
    line.key("bch_clean_packet_salvage_emitted_packets").number(emission.salvaged_packets);

    put_numbers(line, "codeword_converged", converged);
    put_numbers(line, "codeword_ldpc_iterations", iterations);
    put_numbers(line, "codeword_initial_syndrome_weight", initial_weight);
    put_numbers(line, "codeword_final_syndrome_weight", final_weight);
    put_numbers(line, "codeword_early_rejected", early_rejected);
    put_numbers(line, "codeword_bch_clean", bch.clean);
    put_numbers(line, "codeword_bch_corrected_errors", bch.corrected);
    put_numbers(line, "codeword_bch_unclean_blocks", bch.unclean);
    put_numbers(line, "codeword_clean", clean);
    put_numbers(line, "codeword_emitted", emitted);
    put_numbers(line, "codeword_omitted", omitted);
    put_reals(line, "codeword_llr_abs_sum", llr.slot_abs_sum);
    put_numbers(line, "codeword_llr_sample_count", llr.slot_count);
    put_numbers(line, "codeword_weak_llr_count", llr.slot_weak);
    put_numbers(line, "codeword_hard_one_count", llr.slot_hard_ones);
    put_numbers(line, "codeword_retry_attempts", slot_values(record, &CodewordResults::retry_attempts, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_selected", slot_values(record, &CodewordResults::retry_selected, slots, std::uint8_t{0}));
    put_numbers(line, "codeword_retry_layered", slot_values(record, &CodewordResults::retry_layered, slots, std::uint8_t{0}));
    put_reals(line, "codeword_retry_llr_scale", slot_values(record, &CodewordResults::retry_llr_scale, slots, 0.0));
    put_reals(line, "codeword_retry_llr_clip", slot_values(record, &CodewordResults::retry_llr_clip, slots, 0.0));
    put_reals(line, "codeword_retry_weak_erase_fraction",
              slot_values(record, &CodewordResults::retry_weak_erase_fraction, slots, 0.0));
    put_reals(line, "codeword_retry_attenuation", slot_values(record, &CodewordResults::retry_attenuation, slots, 0.0));
    put_numbers(line, "codeword_retry_unsatisfied_erase_count",
                slot_values(record, &CodewordResults::retry_unsatisfied_erase_count, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_final_failed_erase_count",
                slot_values(record, &CodewordResults::retry_final_failed_erase_count, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_final_failed_flip_count",
                slot_values(record, &CodewordResults::retry_final_failed_flip_count, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_final_failed_greedy_flip_count",
                slot_values(record, &CodewordResults::retry_final_failed_greedy_flip_count, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_final_failed_syndrome_solve_count",
                slot_values(record, &CodewordResults::retry_final_failed_syndrome_solve_count, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_qam_plane", slot_values(record, &CodewordResults::retry_qam_plane, slots, engine::kNoQamPlane));
    put_numbers(line, "codeword_retry_variable_range_first",
                slot_values(record, &CodewordResults::retry_variable_range_first, slots, engine::kNoVariableRange));
    put_numbers(line, "codeword_retry_variable_range_last",
                slot_values(record, &CodewordResults::retry_variable_range_last, slots, engine::kNoVariableRange));
    put_numbers(line, "codeword_retry_branch_window_first",
                slot_values(record, &CodewordResults::retry_branch_window_first, slots, engine::kNoBranchWindow));
    put_numbers(line, "codeword_retry_branch_window_last",
                slot_values(record, &CodewordResults::retry_branch_window_last, slots, engine::kNoBranchWindow));
    const auto groups = slot_values(record, &CodewordResults::retry_branch_window_group, slots, std::string());
    line.key("codeword_retry_branch_window_group")
        .array(std::span<const std::string>(groups), [](JsonLine& out, const std::string& g) { out.text(g); });
    put_numbers(line, "codeword_retry_bch_corrected_errors",
                slot_values(record, &CodewordResults::retry_bch_corrected_errors, slots, std::uint64_t{0}));
    put_numbers(line, "codeword_retry_ts_continuity_rejected",
                decoded ? slot_values(record, &CodewordResults::retry_ts_continuity_rejected, slots, std::uint8_t{0})
                        : std::vector<std::uint8_t>{});
    if (s.failed_variable_top != 0) put_failed_variable_summaries(line, record, s);
    line.end_object();
    return line.str() + '\n';
}

void FrameDiagnosticsWriter::write_frame(const FrameSelectionRecord& frame, const FrameDecodeRecord* record,
                                         const engine::FrameEmission& emission) {
    const std::string row = format_frame_diagnostics(frame, record, emission, settings_);
    if (std::fwrite(row.data(), 1, row.size(), stream_) != row.size() || std::ferror(stream_))
        throw std::runtime_error("failed to write frame diagnostics");
}

}  // namespace qarel::diag
