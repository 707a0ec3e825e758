#pragma once

#include <cstdint>
#include <deque>

#include "decoder/diag/run_counters.hpp"
#include "decoder/engine/frame_record.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/options/run_options.hpp"

namespace qarel::cli {

// Where frame selection sends each frame, in frame order.
class SelectedFrameSink {
public:
    virtual ~SelectedFrameSink() = default;
    virtual void add_decode_frame(engine::FrameSelectionRecord&& frame) = 0;
    virtual void add_skipped_frame(engine::FrameSelectionRecord&& frame) = 0;
};

// Membership of frame `frame_index` (1-based) in the command line's frame lists.
bool frame_in_ranges(const std::vector<options::FrameRange>& ranges, std::uint64_t frame_index);
// Whether any branch of the frame carries a source frame named by the mode-2 select windows
// and the rules whose frame range holds the frame.
bool mode2_source_frame_selected(const options::RunOptions& options, std::uint64_t frame_index);

// Sum over the frame's codewords of the syndrome weight of their hard decisions under the
// hard-H graph.
std::uint64_t hard_h_frame_score(std::span<const float> frame_llrs, const ldpc::LdpcGraph& hard_h_graph);

// Decides for every frame whether it is decoded or only carried along as a skipped frame:
// force and omit ranges, mode-2 source-frame windows, and the hard-H gate, which scores a
// sliding window of frames and may fill short gaps between selected frames. Frames leave in
// the order they arrive; the gate holds at most its window and the gap being judged.
class FrameSelector {
public:
    // `hard_h_graph` is needed only when the gate is enabled.
    FrameSelector(const options::RunOptions& options, const ldpc::LdpcGraph* hard_h_graph,
                  std::uint64_t codewords_per_frame, diag::SelectionCounters& counters, SelectedFrameSink& sink);

    void route_frame(engine::FrameSelectionRecord&& frame);
    // End of input: releases every frame still held.
    void finish_selection();

    std::uint64_t held_frames() const { return window_.size() + gap_queue_.size(); }

private:
    void route_directly(engine::FrameSelectionRecord&& frame);
    void set_membership(engine::FrameSelectionRecord& frame) const;
    void evaluate_window();
    void settle_selection(engine::FrameSelectionRecord& frame) const;
    bool excluded(const engine::FrameSelectionRecord& frame) const;
    void release(engine::FrameSelectionRecord&& frame);
    void drain_gap_queue();
    // Drains one step when the head is an unselected frame after a selected one; returns
    // false when the gap is still open and the queue must wait for more frames.
    bool judge_gap();
    void dispatch_gap_head();
    void dispatch(engine::FrameSelectionRecord&& frame);

    const options::RunOptions& options_;
    const ldpc::LdpcGraph* hard_h_graph_;
    std::uint64_t window_frames_ = 0;
    diag::SelectionCounters& counters_;
    SelectedFrameSink& sink_;
    std::deque<engine::FrameSelectionRecord> window_;
    std::deque<engine::FrameSelectionRecord> gap_queue_;
    bool previous_selected_ = false;
};

}  // namespace qarel::cli
