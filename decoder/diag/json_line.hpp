#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qarel::diag {

// Builds one compact JSON object by hand: members in the order they are added, no spaces.
// Doubles use the default stream format (6 significant digits).
class JsonLine {
public:
    JsonLine& begin_object();
    JsonLine& end_object();
    JsonLine& key(std::string_view name);

    JsonLine& text(std::string_view value);  // quoted; escapes only '"' and '\'
    JsonLine& number(std::uint64_t value);
    JsonLine& signed_number(std::int64_t value);
    JsonLine& real(double value);
    JsonLine& flag(bool value);
    JsonLine& null();
    JsonLine& raw(std::string_view json);

    // An array whose elements `format(line, element)` writes as values.
    template <typename T, typename Format>
    JsonLine& array(std::span<const T> values, Format format) {
        open('[');
        for (const T& value : values) format(*this, value);
        return close(']');
    }

    const std::string& str() const { return text_; }

private:
    JsonLine& open(char bracket);
    JsonLine& close(char bracket);
    void before_value();

    std::string text_;
    bool comma_due_ = false;  // a value or member was written at this level
};

// The default stream format of a double: up to 6 significant digits.
std::string format_real(double value);

}  // namespace qarel::diag
