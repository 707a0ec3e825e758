#include "decoder/cli/numeric.hpp"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace qarel::cli {
namespace {

template <typename Convert>
auto convert(const std::string& text, std::string_view label, const char* name, Convert convert_c_string) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const auto value = convert_c_string(begin, &end);
    const int error = errno;
    if (end == begin) throw std::invalid_argument(std::string("invalid ") + name + " argument");
    if (error == ERANGE) throw std::out_of_range(std::string(name) + " argument out of range");
    if (*end != '\0') throw std::invalid_argument("invalid " + std::string(label) + ": " + text);
    return value;
}

}  // namespace

std::uint64_t parse_unsigned(const std::string& text, std::string_view label) {
    return convert(text, label, "stoull", [](const char* s, char** end) { return std::strtoull(s, end, 10); });
}

float parse_float(const std::string& text, std::string_view label) {
    return convert(text, label, "stof", [](const char* s, char** end) { return std::strtof(s, end); });
}

double parse_double(const std::string& text, std::string_view label) {
    return convert(text, label, "stod", [](const char* s, char** end) { return std::strtod(s, end); });
}

}  // namespace qarel::cli
