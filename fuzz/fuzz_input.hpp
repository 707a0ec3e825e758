#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarel::fuzz {

// Takes the fuzzer's bytes apart: small numbers first, the rest as it stands.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    bool flag() { return (byte() & 1u) != 0; }
    // A number in 0 .. limit - 1.
    std::uint64_t below(std::uint64_t limit) { return limit == 0 ? 0 : byte() % limit; }
    std::string rest() const {
        return position_ < size_ ? std::string(reinterpret_cast<const char*>(data_ + position_), size_ - position_) : "";
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The bytes split at every NUL into words, as an argument vector after `program`.
inline std::vector<std::string> argument_vector(const std::string& program, const std::string& bytes) {
    std::vector<std::string> words{program};
    std::string word;
    for (const char c : bytes) {
        if (c == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

}  // namespace qarel::fuzz
