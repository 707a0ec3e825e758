#include "decoder/cli/rules.hpp"

#include <cmath>
#include <stdexcept>

#include "decoder/cli/numeric.hpp"
#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::cli {
namespace {

struct PairText {
    std::string first;
    std::string last;
};

// FIRST:LAST, cut at the first colon; LAST keeps any further colons.
PairText split_pair(const std::string& text, const std::string& no_colon_message) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument(no_colon_message + text);
    return {text.substr(0, colon), text.substr(colon + 1)};
}

// Cut at every colon, keeping empty fields; the field count must match exactly.
std::vector<std::string> split_fields(const std::string& text, std::size_t count, const std::string& message) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const auto colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (fields.size() != count) throw std::invalid_argument(message + text);
    return fields;
}

bool is_valid_scale(float scale) { return std::isfinite(scale) && !(scale < 0.0f); }

void require(bool condition, const char* message) {
    if (!condition) throw std::invalid_argument(message);
}

}  // namespace

FrameRange parse_frame_range(const std::string& text) {
    const auto pair = split_pair(text, "invalid frame range, expected FIRST:LAST: ");
    FrameRange range{parse_unsigned(pair.first, "frame range first"), parse_unsigned(pair.last, "frame range last")};
    require(range.first >= 1 && range.last >= range.first, "invalid frame range, expected 1-based FIRST:LAST");
    return range;
}

BranchWindow parse_branch_window(const std::string& text) {
    const auto pair = split_pair(text, "invalid branch retry window, expected FIRST:LAST: ");
    BranchWindow window{parse_unsigned(pair.first, "branch retry window first"),
                        parse_unsigned(pair.last, "branch retry window last")};
    require(window.last >= window.first, "invalid branch retry window, expected FIRST <= LAST");
    return window;
}

BranchWindowGroup parse_branch_window_group(const std::string& text) {
    BranchWindowGroup group;
    std::size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        const std::string piece = text.substr(start, comma - start);
        if (piece.empty())
            throw std::invalid_argument(
                "invalid branch retry window group, expected comma-separated FIRST:LAST windows: " + text);
        group.windows.push_back(parse_branch_window(piece));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    require(!group.windows.empty(), "invalid branch retry window group, expected at least one window");
    return group;
}

std::vector<BranchWindow> parse_branch_window_sweep(const std::string& text) {
    const auto fields =
        split_fields(text, 4, "invalid branch retry sweep, expected FIRST:LAST:MIN_WIDTH:MAX_WIDTH: ");
    const std::uint64_t first = parse_unsigned(fields[0], "branch retry sweep first");
    const std::uint64_t last = parse_unsigned(fields[1], "branch retry sweep last");
    const std::uint64_t min_width = parse_unsigned(fields[2], "branch retry sweep min width");
    const std::uint64_t max_width = parse_unsigned(fields[3], "branch retry sweep max width");
    require(last >= first && min_width >= 1 && max_width >= min_width, "invalid branch retry sweep bounds");

    std::vector<BranchWindow> windows;
    for (std::uint64_t start = first;; ++start) {
        // Widths run while start + width - 1 <= last, written so that nothing can wrap.
        const std::uint64_t room = last - start;
        if (min_width - 1 > room) break;  // later starts have even less room
        for (std::uint64_t width = min_width; width <= max_width && width - 1 <= room; ++width) {
            windows.push_back({start, start + (width - 1)});
            if (windows.back().last >= ldpc::kBranchCount) return windows;
            if (width == max_width) break;
        }
        if (start == last) break;
    }
    return windows;
}

BranchWindowRule parse_branch_window_rule(const std::string& text) {
    const auto fields = split_fields(
        text, 4, "invalid branch retry rule, expected FEC_FIRST:FEC_LAST:BRANCH_FIRST:BRANCH_LAST: ");
    BranchWindowRule rule{parse_unsigned(fields[0], "branch retry FEC first"),
                          parse_unsigned(fields[1], "branch retry FEC last"),
                          parse_unsigned(fields[2], "branch retry first branch"),
                          parse_unsigned(fields[3], "branch retry last branch")};
    require(rule.fec_first >= 1 && rule.fec_last >= rule.fec_first && rule.branch_last >= rule.branch_first,
            "invalid branch retry rule, expected 1-based FEC range and FIRST <= LAST branch range");
    return rule;
}

VariableRange parse_variable_range(const std::string& text) {
    const auto pair = split_pair(text, "invalid variable retry range, expected FIRST:LAST: ");
    VariableRange range{parse_unsigned(pair.first, "variable retry range first"),
                        parse_unsigned(pair.last, "variable retry range last")};
    require(range.last >= range.first, "invalid variable retry range, expected FIRST <= LAST");
    return range;
}

SourceFrameWindow parse_source_frame_window(const std::string& text) {
    const auto pair = split_pair(text, "invalid source-frame range, expected FIRST:LAST: ");
    SourceFrameWindow window{parse_unsigned(pair.first, "source-frame range first"),
                             parse_unsigned(pair.last, "source-frame range last")};
    require(window.last >= window.first, "invalid source-frame range, expected zero-based FIRST:LAST");
    return window;
}

SourceFrameRule parse_source_frame_rule(const std::string& text) {
    const auto fields = split_fields(
        text, 4, "invalid source-frame retry rule, expected FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST: ");
    SourceFrameRule rule{parse_unsigned(fields[0], "source retry FEC first"),
                         parse_unsigned(fields[1], "source retry FEC last"),
                         parse_unsigned(fields[2], "source retry source first"),
                         parse_unsigned(fields[3], "source retry source last")};
    require(rule.fec_first >= 1 && rule.fec_last >= rule.fec_first && rule.source_last >= rule.source_first,
            "invalid source-frame retry rule, expected 1-based FEC range and zero-based source range");
    return rule;
}

CodewordLlrScaleRule parse_codeword_llr_scale_rule(const std::string& text) {
    const auto fields = split_fields(text, 4, "invalid codeword LLR scale rule, expected FIRST:LAST:SLOT:SCALE: ");
    CodewordLlrScaleRule rule{parse_unsigned(fields[0], "codeword LLR scale first frame"),
                              parse_unsigned(fields[1], "codeword LLR scale last frame"),
                              parse_unsigned(fields[2], "codeword LLR scale slot"),
                              parse_float(fields[3], "codeword LLR scale")};
    require(rule.first_frame >= 1 && rule.last_frame >= rule.first_frame && is_valid_scale(rule.scale),
            "invalid codeword LLR scale rule, expected 1-based range and non-negative scale");
    return rule;
}

VariableLlrScaleRule parse_variable_llr_scale_rule(const std::string& text) {
    const auto fields =
        split_fields(text, 4, "invalid variable LLR scale rule, expected FIRST:LAST:VARIABLE:SCALE: ");
    VariableLlrScaleRule rule{parse_unsigned(fields[0], "variable LLR scale first frame"),
                              parse_unsigned(fields[1], "variable LLR scale last frame"),
                              parse_unsigned(fields[2], "variable LLR scale variable"),
                              parse_float(fields[3], "variable LLR scale")};
    require(rule.first_frame >= 1 && rule.last_frame >= rule.first_frame && is_valid_scale(rule.scale),
            "invalid variable LLR scale rule, expected 1-based range and non-negative scale");
    return rule;
}

VariableModLlrScaleRule parse_variable_mod_llr_scale_rule(const std::string& text) {
    const auto fields = split_fields(
        text, 5, "invalid variable-mod LLR scale rule, expected FIRST:LAST:MOD:REMAINDER:SCALE: ");
    VariableModLlrScaleRule rule{parse_unsigned(fields[0], "variable-mod LLR scale first frame"),
                                 parse_unsigned(fields[1], "variable-mod LLR scale last frame"),
                                 parse_unsigned(fields[2], "variable-mod LLR scale modulus"),
                                 parse_unsigned(fields[3], "variable-mod LLR scale remainder"),
                                 parse_float(fields[4], "variable-mod LLR scale")};
    require(rule.first_frame >= 1 && rule.last_frame >= rule.first_frame && rule.modulus >= 1 &&
                rule.remainder < rule.modulus && is_valid_scale(rule.scale),
            "invalid variable-mod LLR scale rule, expected 1-based range, positive modulus, remainder < modulus, "
            "and non-negative scale");
    return rule;
}

TsHeaderTemplate parse_ts_header_template(const std::string& text) {
    const auto fields = split_fields(text, 7, "invalid TS header template, expected FEC:SLOT:PACKET:PID:PUSI:AFC:CC: ");
    const std::uint64_t fec_frame = parse_unsigned(fields[0], "TS header template FEC frame");
    const std::uint64_t slot = parse_unsigned(fields[1], "TS header template codeword slot");
    const std::uint64_t packet = parse_unsigned(fields[2], "TS header template packet index");
    const std::uint64_t pid = parse_unsigned(fields[3], "TS header template PID");
    const std::uint64_t pusi = parse_unsigned(fields[4], "TS header template PUSI");
    const std::uint64_t afc = parse_unsigned(fields[5], "TS header template adaptation control");
    const std::uint64_t cc = parse_unsigned(fields[6], "TS header template continuity counter");
    require(pid <= 8191, "TS header template PID must be within 0..8191");
    require(pusi <= 1, "TS header template PUSI must be 0 or 1");
    require(afc >= 1 && afc <= 3, "TS header template adaptation control must be 1..3");
    require(cc <= 15, "TS header template continuity counter must be 0..15");
    return {fec_frame,
            slot,
            packet,
            static_cast<std::uint16_t>(pid),
            static_cast<std::uint8_t>(pusi),
            static_cast<std::uint8_t>(afc),
            static_cast<std::uint8_t>(cc)};
}

}  // namespace qarel::cli
