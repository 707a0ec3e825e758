#pragma once

#include <cstdint>
#include <vector>

namespace qarel::options {

// Frame numbers are 1-based frame indices; branch, source-frame, variable and slot
// numbers are zero-based. All ranges are inclusive.
struct FrameRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

struct BranchWindow {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool operator==(const BranchWindow&) const = default;
};

struct BranchWindowGroup {
    std::vector<BranchWindow> windows;
};

struct BranchWindowRule {
    std::uint64_t fec_first = 0;
    std::uint64_t fec_last = 0;
    std::uint64_t branch_first = 0;
    std::uint64_t branch_last = 0;
};

struct VariableRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

struct SourceFrameWindow {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

struct SourceFrameRule {
    std::uint64_t fec_first = 0;
    std::uint64_t fec_last = 0;
    std::uint64_t source_first = 0;
    std::uint64_t source_last = 0;
};

struct CodewordLlrScaleRule {
    std::uint64_t first_frame = 0;
    std::uint64_t last_frame = 0;
    std::uint64_t slot = 0;
    float scale = 1.0f;
};

struct VariableLlrScaleRule {
    std::uint64_t first_frame = 0;
    std::uint64_t last_frame = 0;
    std::uint64_t variable = 0;
    float scale = 1.0f;
};

struct VariableModLlrScaleRule {
    std::uint64_t first_frame = 0;
    std::uint64_t last_frame = 0;
    std::uint64_t modulus = 1;
    std::uint64_t remainder = 0;
    float scale = 1.0f;
};

struct TsHeaderTemplate {
    std::uint64_t fec_frame = 0;
    std::uint64_t codeword_slot = 0;
    std::uint64_t packet_index = 0;
    std::uint16_t pid = 0;
    std::uint8_t pusi = 0;
    std::uint8_t adaptation_control = 1;
    std::uint8_t continuity_counter = 0;
};

}  // namespace qarel::options
