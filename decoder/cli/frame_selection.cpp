#include "decoder/cli/frame_selection.hpp"

#include <algorithm>
#include <vector>

#include "decoder/ldpc/source_frames.hpp"

namespace qarel::cli {

using engine::FrameSelectionRecord;

bool frame_in_ranges(const std::vector<options::FrameRange>& ranges, std::uint64_t frame_index) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const options::FrameRange& r) { return r.first <= frame_index && frame_index <= r.last; });
}

bool mode2_source_frame_selected(const options::RunOptions& options, std::uint64_t frame_index) {
    const auto covers = [&](std::uint64_t first, std::uint64_t last) {
        return ldpc::branches_carrying_source_frames(frame_index, first, last).has_value();
    };
    for (const auto& window : options.select_mode2_source_frame_windows)
        if (covers(window.first, window.last)) return true;
    for (const auto& rule : options.select_mode2_source_frame_rules)
        if (rule.fec_first <= frame_index && frame_index <= rule.fec_last && covers(rule.source_first, rule.source_last))
            return true;
    return false;
}

std::uint64_t hard_h_frame_score(std::span<const float> frame_llrs, const ldpc::LdpcGraph& hard_h_graph) {
    const std::uint64_t n = hard_h_graph.variable_count;
    std::vector<std::uint8_t> hard(n);
    std::uint64_t score = 0;
    for (std::uint64_t start = 0; n != 0 && start + n <= frame_llrs.size(); start += n) {
        for (std::uint64_t v = 0; v < n; ++v) hard[v] = frame_llrs[start + v] < 0.0f ? 1 : 0;
        score += ldpc::count_unsatisfied_checks(hard, hard_h_graph);
    }
    return score;
}

FrameSelector::FrameSelector(const options::RunOptions& options, const ldpc::LdpcGraph* hard_h_graph,
                             std::uint64_t codewords_per_frame, diag::SelectionCounters& counters,
                             SelectedFrameSink& sink)
    : options_(options), hard_h_graph_(hard_h_graph), counters_(counters), sink_(sink) {
    if (options.hard_h_gate_enabled) window_frames_ = *options.hard_h_gate_window_codewords / codewords_per_frame;
}

void FrameSelector::route_frame(FrameSelectionRecord&& frame) {
    if (!options_.hard_h_gate_enabled) return route_directly(std::move(frame));
    frame.hard_h_clean_syndrome_weight = hard_h_frame_score(frame.llrs, *hard_h_graph_);
    set_membership(frame);
    frame.hard_h_selected = false;
    if (frame.omitted) {
        frame.forced = false;
        frame.mode2_source_frame_selected = false;
    }
    window_.push_back(std::move(frame));
    if (window_.size() < window_frames_) return;
    evaluate_window();
    FrameSelectionRecord oldest = std::move(window_.front());
    window_.pop_front();
    release(std::move(oldest));
}

void FrameSelector::finish_selection() {
    while (!window_.empty()) {
        FrameSelectionRecord frame = std::move(window_.front());
        window_.pop_front();
        settle_selection(frame);
        release(std::move(frame));
    }
    while (!gap_queue_.empty()) {
        previous_selected_ = gap_queue_.front().hard_h_selected && !gap_queue_.front().hard_h_gap_filled;
        dispatch_gap_head();
    }
}

void FrameSelector::set_membership(FrameSelectionRecord& frame) const {
    frame.forced = frame_in_ranges(options_.force_frame_ranges, frame.frame_index);
    frame.omitted = frame_in_ranges(options_.omit_frame_ranges, frame.frame_index);
    frame.mode2_source_frame_selected = mode2_source_frame_selected(options_, frame.frame_index);
    frame.hard_h_gap_filled = false;
}

void FrameSelector::route_directly(FrameSelectionRecord&& frame) {
    set_membership(frame);
    frame.hard_h_clean_syndrome_weight = 0;
    if (frame.omitted) {
        frame.forced = false;
        frame.mode2_source_frame_selected = false;
        return sink_.add_skipped_frame(std::move(frame));
    }
    const bool restricted = !options_.force_frame_ranges.empty() || options_.select_mode2_enabled;
    if (!restricted || frame.forced || frame.mode2_source_frame_selected) {
        counters_.forced_selected_frames += frame.forced ? 1 : 0;
        counters_.mode2_source_frame_selected_frames += frame.mode2_source_frame_selected ? 1 : 0;
        return sink_.add_decode_frame(std::move(frame));
    }
    frame.forced = false;
    frame.mode2_source_frame_selected = false;
    sink_.add_skipped_frame(std::move(frame));
}

// The ratio of unsatisfied clean rows over the window, in double precision; a NaN ratio (a
// graph without rows) never passes.
void FrameSelector::evaluate_window() {
    counters_.hard_h_gate_scored_windows += 1;
    std::uint64_t score = 0;
    for (const auto& frame : window_) score += frame.hard_h_clean_syndrome_weight;
    const double checks = static_cast<double>(hard_h_graph_->check_count()) *
                          static_cast<double>(*options_.hard_h_gate_window_codewords);
    const double ratio = static_cast<double>(score) / checks;
    if (ratio <= *options_.hard_h_gate_threshold) {
        counters_.hard_h_gate_pass_windows += 1;
        for (auto& frame : window_) frame.hard_h_selected = true;
    }
    for (auto& frame : window_) settle_selection(frame);
}

// Forced and mode-2-selected frames are always selected; with mode-2 selection nothing else
// is; an omitted frame never is.
void FrameSelector::settle_selection(FrameSelectionRecord& frame) const {
    frame.hard_h_selected = frame.hard_h_selected || frame.forced || frame.mode2_source_frame_selected;
    if (excluded(frame)) {
        frame.hard_h_selected = false;
        frame.hard_h_gap_filled = false;
    }
    if (frame_in_ranges(options_.omit_frame_ranges, frame.frame_index)) {
        frame.hard_h_selected = false;
        frame.forced = false;
        frame.mode2_source_frame_selected = false;
        frame.hard_h_gap_filled = false;
        frame.omitted = true;
    }
}

bool FrameSelector::excluded(const FrameSelectionRecord& frame) const {
    return options_.select_mode2_enabled && !frame.forced && !frame.mode2_source_frame_selected;
}

void FrameSelector::release(FrameSelectionRecord&& frame) {
    if (options_.hard_h_gate_fill_max_gap_frames == 0) return dispatch(std::move(frame));
    gap_queue_.push_back(std::move(frame));
    drain_gap_queue();
}

void FrameSelector::drain_gap_queue() {
    while (!gap_queue_.empty()) {
        FrameSelectionRecord& head = gap_queue_.front();
        if (head.hard_h_selected) {
            previous_selected_ = !head.hard_h_gap_filled;
            dispatch_gap_head();
        } else if (!previous_selected_) {
            dispatch_gap_head();
        } else if (excluded(head)) {
            previous_selected_ = false;
            dispatch_gap_head();
        } else if (!judge_gap()) {
            return;
        }
    }
}

// The head is an unselected frame right after a frame selected on its own. Scans the queue
// for the selected frame that closes the gap: the gap is filled when it is at most max gap
// frames long and holds no omitted or excluded frame, and given up as soon as it cannot be.
bool FrameSelector::judge_gap() {
    const std::uint64_t max_gap = options_.hard_h_gate_fill_max_gap_frames;
    std::uint64_t gap = 0;
    for (std::size_t i = 0; i < gap_queue_.size(); ++i) {
        const FrameSelectionRecord& frame = gap_queue_[i];
        const bool unbridgeable = frame.omitted || excluded(frame);
        if (!unbridgeable && frame.hard_h_selected) {
            for (std::size_t j = 0; j < i; ++j) {
                FrameSelectionRecord& filled = gap_queue_[j];
                if (filled.hard_h_selected || filled.omitted || excluded(filled)) continue;
                filled.hard_h_selected = true;
                filled.hard_h_gap_filled = true;
                counters_.hard_h_gate_gap_filled_frames += 1;
            }
            return true;
        }
        if (unbridgeable || ++gap > max_gap) {
            previous_selected_ = false;
            dispatch_gap_head();
            return true;
        }
    }
    return false;
}

void FrameSelector::dispatch_gap_head() {
    FrameSelectionRecord frame = std::move(gap_queue_.front());
    gap_queue_.pop_front();
    dispatch(std::move(frame));
}

void FrameSelector::dispatch(FrameSelectionRecord&& frame) {
    if (frame.hard_h_selected) {
        counters_.hard_h_gate_selected_frames += 1;
        counters_.forced_selected_frames += frame.forced ? 1 : 0;
        counters_.mode2_source_frame_selected_frames += frame.mode2_source_frame_selected ? 1 : 0;
        return sink_.add_decode_frame(std::move(frame));
    }
    counters_.hard_h_gate_skipped_frames += 1;
    sink_.add_skipped_frame(std::move(frame));
}

}  // namespace qarel::cli
