#include "decoder/cli/rules.hpp"

#include <array>
#include <cmath>
#include <stdexcept>

#include "decoder/cli/numeric.hpp"
#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::cli {
namespace {

// FIRST:LAST, cut at the first colon (so LAST keeps any further colons), both converted.
struct NumberPair {
    std::uint64_t first;
    std::uint64_t last;
};

NumberPair parse_number_pair(const std::string& text, const std::string& no_colon_message, const char* first_label,
                             const char* last_label) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument(no_colon_message + text);
    const std::uint64_t first = parse_unsigned(text.substr(0, colon), first_label);
    return {first, parse_unsigned(text.substr(colon + 1), last_label)};
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

// Converts the leading fields as unsigned numbers, in order, each with its label.
template <std::size_t N>
std::array<std::uint64_t, N> parse_unsigned_fields(const std::vector<std::string>& fields,
                                                   const std::array<const char*, N>& labels) {
    std::array<std::uint64_t, N> values{};
    for (std::size_t i = 0; i < N; ++i) values[i] = parse_unsigned(fields[i], labels[i]);
    return values;
}

// A 1-based frame range followed by an inclusive FIRST <= LAST range of something else.
bool is_frame_scoped_range(const std::array<std::uint64_t, 4>& v) {
    return v[0] >= 1 && v[1] >= v[0] && v[3] >= v[2];
}

bool is_frame_range(std::uint64_t first, std::uint64_t last) { return first >= 1 && last >= first; }

bool is_valid_scale(float scale) { return std::isfinite(scale) && !(scale < 0.0f); }

void require(bool condition, const char* message) {
    if (!condition) throw std::invalid_argument(message);
}

}  // namespace

FrameRange parse_frame_range(const std::string& text) {
    const auto pair = parse_number_pair(text, "invalid frame range, expected FIRST:LAST: ", "frame range first",
                                        "frame range last");
    require(is_frame_range(pair.first, pair.last), "invalid frame range, expected 1-based FIRST:LAST");
    return {pair.first, pair.last};
}

BranchWindow parse_branch_window(const std::string& text) {
    const auto pair = parse_number_pair(text, "invalid branch retry window, expected FIRST:LAST: ",
                                        "branch retry window first", "branch retry window last");
    require(pair.last >= pair.first, "invalid branch retry window, expected FIRST <= LAST");
    return {pair.first, pair.last};
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
    const auto [first, last, min_width, max_width] = parse_unsigned_fields<4>(
        fields, {"branch retry sweep first", "branch retry sweep last", "branch retry sweep min width",
                 "branch retry sweep max width"});
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
    const auto v = parse_unsigned_fields<4>(fields, {"branch retry FEC first", "branch retry FEC last",
                                                     "branch retry first branch", "branch retry last branch"});
    require(is_frame_scoped_range(v),
            "invalid branch retry rule, expected 1-based FEC range and FIRST <= LAST branch range");
    return {v[0], v[1], v[2], v[3]};
}

VariableRange parse_variable_range(const std::string& text) {
    const auto pair = parse_number_pair(text, "invalid variable retry range, expected FIRST:LAST: ",
                                        "variable retry range first", "variable retry range last");
    require(pair.last >= pair.first, "invalid variable retry range, expected FIRST <= LAST");
    return {pair.first, pair.last};
}

SourceFrameWindow parse_source_frame_window(const std::string& text) {
    const auto pair = parse_number_pair(text, "invalid source-frame range, expected FIRST:LAST: ",
                                        "source-frame range first", "source-frame range last");
    require(pair.last >= pair.first, "invalid source-frame range, expected zero-based FIRST:LAST");
    return {pair.first, pair.last};
}

SourceFrameRule parse_source_frame_rule(const std::string& text) {
    const auto fields = split_fields(
        text, 4, "invalid source-frame retry rule, expected FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST: ");
    const auto v = parse_unsigned_fields<4>(fields, {"source retry FEC first", "source retry FEC last",
                                                     "source retry source first", "source retry source last"});
    require(is_frame_scoped_range(v),
            "invalid source-frame retry rule, expected 1-based FEC range and zero-based source range");
    return {v[0], v[1], v[2], v[3]};
}

CodewordLlrScaleRule parse_codeword_llr_scale_rule(const std::string& text) {
    const auto fields = split_fields(text, 4, "invalid codeword LLR scale rule, expected FIRST:LAST:SLOT:SCALE: ");
    const auto v = parse_unsigned_fields<3>(
        fields, {"codeword LLR scale first frame", "codeword LLR scale last frame", "codeword LLR scale slot"});
    const float scale = parse_float(fields[3], "codeword LLR scale");
    require(is_frame_range(v[0], v[1]) && is_valid_scale(scale),
            "invalid codeword LLR scale rule, expected 1-based range and non-negative scale");
    return {v[0], v[1], v[2], scale};
}

VariableLlrScaleRule parse_variable_llr_scale_rule(const std::string& text) {
    const auto fields =
        split_fields(text, 4, "invalid variable LLR scale rule, expected FIRST:LAST:VARIABLE:SCALE: ");
    const auto v = parse_unsigned_fields<3>(
        fields, {"variable LLR scale first frame", "variable LLR scale last frame", "variable LLR scale variable"});
    const float scale = parse_float(fields[3], "variable LLR scale");
    require(is_frame_range(v[0], v[1]) && is_valid_scale(scale),
            "invalid variable LLR scale rule, expected 1-based range and non-negative scale");
    return {v[0], v[1], v[2], scale};
}

VariableModLlrScaleRule parse_variable_mod_llr_scale_rule(const std::string& text) {
    const auto fields = split_fields(
        text, 5, "invalid variable-mod LLR scale rule, expected FIRST:LAST:MOD:REMAINDER:SCALE: ");
    const auto v = parse_unsigned_fields<4>(fields, {"variable-mod LLR scale first frame",
                                                     "variable-mod LLR scale last frame",
                                                     "variable-mod LLR scale modulus", "variable-mod LLR scale remainder"});
    const float scale = parse_float(fields[4], "variable-mod LLR scale");
    require(is_frame_range(v[0], v[1]) && v[2] >= 1 && v[3] < v[2] && is_valid_scale(scale),
            "invalid variable-mod LLR scale rule, expected 1-based range, positive modulus, remainder < modulus, "
            "and non-negative scale");
    return {v[0], v[1], v[2], v[3], scale};
}

TsHeaderTemplate parse_ts_header_template(const std::string& text) {
    const auto fields = split_fields(text, 7, "invalid TS header template, expected FEC:SLOT:PACKET:PID:PUSI:AFC:CC: ");
    const auto v = parse_unsigned_fields<7>(
        fields, {"TS header template FEC frame", "TS header template codeword slot", "TS header template packet index",
                 "TS header template PID", "TS header template PUSI", "TS header template adaptation control",
                 "TS header template continuity counter"});
    require(v[3] <= 8191, "TS header template PID must be within 0..8191");
    require(v[4] <= 1, "TS header template PUSI must be 0 or 1");
    require(v[5] >= 1 && v[5] <= 3, "TS header template adaptation control must be 1..3");
    require(v[6] <= 15, "TS header template continuity counter must be 0..15");
    return {v[0], v[1], v[2], static_cast<std::uint16_t>(v[3]), static_cast<std::uint8_t>(v[4]),
            static_cast<std::uint8_t>(v[5]), static_cast<std::uint8_t>(v[6])};
}

}  // namespace qarel::cli
