#include "decoder/ldpc/source_frames.hpp"

#include <algorithm>

#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::ldpc {

std::optional<BranchSpan> branches_carrying_source_frames(std::uint64_t frame_index, std::uint64_t source_first,
                                                          std::uint64_t source_last) {
    if (frame_index == 0 || source_first > source_last) return std::nullopt;
    const std::uint64_t base = frame_index - 1;  // source frame of branch 0
    if (base > source_last) return std::nullopt;
    std::uint64_t first_branch = 0;
    if (base < source_first) {
        const std::uint64_t distance = source_first - base;
        first_branch = distance / kSourceFramesPerBranch + (distance % kSourceFramesPerBranch != 0 ? 1 : 0);
    }
    const std::uint64_t last_branch = std::min<std::uint64_t>(kBranchCount - 1, (source_last - base) / kSourceFramesPerBranch);
    if (first_branch > last_branch) return std::nullopt;
    return BranchSpan{first_branch, last_branch};
}

}  // namespace qarel::ldpc
