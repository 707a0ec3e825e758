#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarel::cli {

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

// Each parser throws std::invalid_argument (or the numeric conversion errors) with the
// rule's own message; bounds that depend on the code or frame layout are checked later.
FrameRange parse_frame_range(const std::string& text);
BranchWindow parse_branch_window(const std::string& text);
BranchWindowGroup parse_branch_window_group(const std::string& text);
// Windows of every start and width in the sweep, by start then width. Expansion stops
// after the first window that reaches past the last branch: such a window invalidates the
// options anyway, and stopping there keeps huge bounds from expanding billions of windows.
std::vector<BranchWindow> parse_branch_window_sweep(const std::string& text);
BranchWindowRule parse_branch_window_rule(const std::string& text);
VariableRange parse_variable_range(const std::string& text);
SourceFrameWindow parse_source_frame_window(const std::string& text);
SourceFrameRule parse_source_frame_rule(const std::string& text);
CodewordLlrScaleRule parse_codeword_llr_scale_rule(const std::string& text);
VariableLlrScaleRule parse_variable_llr_scale_rule(const std::string& text);
VariableModLlrScaleRule parse_variable_mod_llr_scale_rule(const std::string& text);
TsHeaderTemplate parse_ts_header_template(const std::string& text);

}  // namespace qarel::cli
