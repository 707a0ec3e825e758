#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/options/rule_records.hpp"

namespace qarel::cli {

using options::BranchWindow;
using options::BranchWindowGroup;
using options::BranchWindowRule;
using options::CodewordLlrScaleRule;
using options::FrameRange;
using options::SourceFrameRule;
using options::SourceFrameWindow;
using options::TsHeaderTemplate;
using options::VariableLlrScaleRule;
using options::VariableModLlrScaleRule;
using options::VariableRange;

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
