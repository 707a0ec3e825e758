#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qarel::cli {

// Decimal conversions with strtoull / strtof / strtod semantics (leading white space and a
// sign accepted; a minus sign wraps an unsigned value). No convertible character gives
// "invalid sto*_argument", an unrepresentable value "sto* argument out of range", and
// characters left after the number "invalid <label>: <text>".
std::uint64_t parse_unsigned(const std::string& text, std::string_view label);
float parse_float(const std::string& text, std::string_view label);
double parse_double(const std::string& text, std::string_view label);

}  // namespace qarel::cli
