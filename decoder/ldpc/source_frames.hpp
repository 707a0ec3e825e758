#pragma once

#include <cstdint>
#include <optional>

namespace qarel::ldpc {

// Mode-2 interleaving spreads source frames over the branches of later FEC frames: branch b
// (0..51) of the frame with 1-based index f carries source frame (f - 1) + 10 x b.
inline constexpr std::uint64_t kSourceFramesPerBranch = 10;

struct BranchSpan {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool operator==(const BranchSpan&) const = default;
};

// The smallest and largest branch of frame `frame_index` whose source frame lies within
// [source_first, source_last], or nothing when no branch does. Exact for every 64-bit input:
// source frame numbers past 2^64 - 1 lie beyond every window.
std::optional<BranchSpan> branches_carrying_source_frames(std::uint64_t frame_index, std::uint64_t source_first,
                                                          std::uint64_t source_last);

}  // namespace qarel::ldpc
