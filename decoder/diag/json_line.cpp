#include "decoder/diag/json_line.hpp"

#include <array>
#include <charconv>
#include <cstdio>

namespace qarel::diag {
namespace {

template <typename Integer>
void append_decimal(std::string& text, Integer value) {
    std::array<char, 24> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    text.append(buffer.data(), end);
}

}  // namespace

std::string format_real(double value) {
    std::array<char, 64> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), "%g", value);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void JsonLine::before_value() {
    if (comma_due_) text_ += ',';
    comma_due_ = true;
}

JsonLine& JsonLine::open(char bracket) {
    before_value();
    text_ += bracket;
    comma_due_ = false;
    return *this;
}

JsonLine& JsonLine::close(char bracket) {
    text_ += bracket;
    comma_due_ = true;
    return *this;
}

JsonLine& JsonLine::begin_object() { return open('{'); }
JsonLine& JsonLine::end_object() { return close('}'); }

JsonLine& JsonLine::key(std::string_view name) {
    before_value();
    text_ += '"';
    text_ += name;
    text_ += "\":";
    comma_due_ = false;  // the member's value follows without a comma
    return *this;
}

JsonLine& JsonLine::text(std::string_view value) {
    before_value();
    text_ += '"';
    for (const char c : value) {
        if (c == '"' || c == '\\') text_ += '\\';
        text_ += c;
    }
    text_ += '"';
    return *this;
}

JsonLine& JsonLine::number(std::uint64_t value) {
    before_value();
    append_decimal(text_, value);
    return *this;
}

JsonLine& JsonLine::signed_number(std::int64_t value) {
    before_value();
    append_decimal(text_, value);
    return *this;
}

JsonLine& JsonLine::real(double value) { return raw(format_real(value)); }
JsonLine& JsonLine::flag(bool value) { return raw(value ? "true" : "false"); }
JsonLine& JsonLine::null() { return raw("null"); }

JsonLine& JsonLine::raw(std::string_view json) {
    before_value();
    text_ += json;
    return *this;
}

}  // namespace qarel::diag
