#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qarel::ts {

inline constexpr std::size_t kPidCount = 8192;  // PIDs are 13 bits

// A set of PIDs as a fixed bit table: constant-time updates and no allocation, however many
// PIDs a garbage stream invents.
class PidSet {
public:
    // Returns whether the PID was new.
    bool insert(std::uint16_t pid) {
        const bool fresh = !bits_.test(pid);
        bits_.set(pid);
        return fresh;
    }
    void erase(std::uint16_t pid) { bits_.reset(pid); }
    void insert_all(const PidSet& other) { bits_ |= other.bits_; }
    void erase_all(const PidSet& other) { bits_ &= ~other.bits_; }
    std::size_t count(std::uint16_t pid) const { return bits_.test(pid) ? 1 : 0; }
    bool empty() const { return bits_.none(); }
    std::size_t size() const { return bits_.count(); }
    // In ascending order.
    std::vector<std::uint16_t> pids() const {
        std::vector<std::uint16_t> out;
        for (std::size_t pid = 0; pid < kPidCount; ++pid)
            if (bits_.test(pid)) out.push_back(static_cast<std::uint16_t>(pid));
        return out;
    }

private:
    std::bitset<kPidCount> bits_;
};

}  // namespace qarel::ts
