#include "decoder/ldpc/fec_profile.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace qarel::ldpc {
namespace {

constexpr std::array<FecProfile, 3> kProfiles{{
    {1, 35, 3048, kTransmittedBits, kErasedParityBits, 127},
    {2, 23, 4572, kTransmittedBits, kErasedParityBits, 127},
    {3, 11, 6096, kTransmittedBits, kErasedParityBits, 127},
}};

constexpr bool profile_is_consistent(const FecProfile& p) {
    return p.variable_count() == p.transmitted_bits + p.erased_parity_bits &&
           p.message_bits % FecProfile::kBchBlockBits == 0 &&
           p.bytes_per_codeword() % FecProfile::kTsPacketBytes == 0;
}
static_assert(std::all_of(kProfiles.begin(), kProfiles.end(), profile_is_consistent));

void require_size(std::size_t actual, std::uint64_t expected, const char* message) {
    if (actual != expected) throw std::invalid_argument(message);
}

}  // namespace

const FecProfile& fec_profile_for_rate(std::uint64_t rate) {
    if (rate < 1 || rate > kProfiles.size()) throw std::invalid_argument("fec rate must be 1, 2, or 3");
    return kProfiles[rate - 1];
}

std::string_view section_name(CodewordSection section) {
    switch (section) {
        case CodewordSection::erased_parity: return "erased_parity";
        case CodewordSection::transmitted_parity: return "transmitted_parity";
        case CodewordSection::message: return "message";
    }
    return "message";
}

VariableClass classify_variable(const FecProfile& profile, std::uint64_t v) {
    if (v < profile.erased_parity_bits) return {CodewordSection::erased_parity, v};
    if (v < profile.parity_bits()) return {CodewordSection::transmitted_parity, v - profile.erased_parity_bits};
    return {CodewordSection::message, v - profile.parity_bits()};
}

void expand_transmitted_codeword(const FecProfile& profile, std::span<const float> transmitted, std::span<float> full) {
    require_size(transmitted.size(), profile.transmitted_bits, "LDPC transmitted LLR count must match profile");
    require_size(full.size(), profile.variable_count(), "LDPC full LLR count must match profile");
    const auto parity_run = transmitted.first(profile.transmitted_parity_bits());
    const auto message_run = transmitted.subspan(profile.transmitted_parity_bits());
    std::fill_n(full.begin(), profile.erased_parity_bits, 0.0f);
    std::copy(parity_run.begin(), parity_run.end(), full.begin() + profile.erased_parity_bits);
    std::copy(message_run.begin(), message_run.end(), full.begin() + profile.parity_bits());
}

void extract_message_bits(const FecProfile& profile, std::span<const std::uint8_t> full_hard_bits,
                          std::span<std::uint8_t> message_bits) {
    require_size(full_hard_bits.size(), profile.variable_count(), "LDPC bit count must match graph variable count");
    require_size(message_bits.size(), profile.message_bits, "LDPC message bit count must match profile");
    const auto source = full_hard_bits.subspan(profile.parity_bits());
    std::copy(source.begin(), source.end(), message_bits.begin());
}

}  // namespace qarel::ldpc
