#include "tools/testgen/channel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "tools/testgen/dtmb_standard.hpp"

namespace qarel::testgen {
namespace {

std::uint64_t bits_per_symbol_of(std::uint64_t qam) {
    switch (qam) {
        case 16: return 4;
        case 32: return 5;
        case 64: return 6;
        default: throw std::invalid_argument("the QAM channel needs a QAM mode of 16, 32 or 64");
    }
}

std::uint64_t gray_decode(std::uint64_t gray) {
    std::uint64_t value = 0;
    for (; gray != 0; gray >>= 1) value ^= gray;
    return value;
}

// Amplitude of the Gray label of `bits` bits on an axis of 2^bits evenly spaced levels.
float axis_level(std::uint64_t label, std::uint64_t bits) {
    const std::uint64_t levels = std::uint64_t{1} << bits;
    return static_cast<float>(2 * gray_decode(label)) - static_cast<float>(levels - 1);
}

std::uint64_t parse_number(const std::string& text, const std::string& whole) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0') throw std::invalid_argument("invalid impairment: " + whole);
    return value;
}

void parse_range(const std::string& text, const std::string& whole, std::uint64_t& first, std::uint64_t& last) {
    if (text == "all") return;
    const auto dash = text.find('-');
    first = parse_number(text.substr(0, dash), whole);
    last = dash == std::string::npos ? first : parse_number(text.substr(dash + 1), whole);
    if (last < first) throw std::invalid_argument("invalid impairment: " + whole);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool targets(const Impairment& impairment, std::uint64_t t) {
    switch (impairment.target) {
        case ImpairmentTarget::all: return true;
        case ImpairmentTarget::plane: return qam_plane_of_bit(t) == impairment.first;
        case ImpairmentTarget::branches: {
            const std::uint64_t branch = interleaver_branch_of_bit(t);
            return branch >= impairment.first && branch <= impairment.last;
        }
        case ImpairmentTarget::bits: return t >= impairment.first && t <= impairment.last;
    }
    return false;
}

}  // namespace

Channel::Channel(const ChannelSettings& settings) : settings_(settings), engine_(settings.seed) {
    if (settings_.kind != ChannelKind::qam) return;
    bits_per_symbol_ = bits_per_symbol_of(settings_.qam);
    const std::uint64_t i_bits = (bits_per_symbol_ + 1) / 2;
    const std::uint64_t q_bits = bits_per_symbol_ - i_bits;
    const double mean_energy =
        (std::pow(2.0, 2.0 * i_bits) - 1.0) / 3.0 + (std::pow(2.0, 2.0 * q_bits) - 1.0) / 3.0;
    const auto scale = static_cast<float>(1.0 / std::sqrt(mean_energy));
    for (std::uint64_t label = 0; label < (std::uint64_t{1} << bits_per_symbol_); ++label) {
        points_i_.push_back(axis_level(label >> q_bits, i_bits) * scale);
        points_q_.push_back(axis_level(label & ((std::uint64_t{1} << q_bits) - 1), q_bits) * scale);
    }
}

// Box-Muller on the engine's raw output, so a seed gives the same noise everywhere.
double Channel::gaussian() {
    constexpr double kTwoPi = 6.283185307179586;
    const double u1 = (static_cast<double>(engine_() >> 11) + 1.0) / 9007199254740993.0;
    const double u2 = static_cast<double>(engine_() >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

float Channel::noise_variance() const {
    return static_cast<float>(1.0 / (2.0 * std::pow(10.0, settings_.esn0_db / 10.0)));
}

std::vector<float> Channel::transmit(std::span<const std::uint8_t> bits) {
    std::vector<float> llrs(bits.size());
    if (settings_.kind == ChannelKind::noiseless) {
        for (std::size_t i = 0; i < bits.size(); ++i) llrs[i] = bits[i] ? -settings_.llr_magnitude : settings_.llr_magnitude;
        return llrs;
    }
    const float variance = noise_variance();
    const float sigma = std::sqrt(variance);
    if (settings_.kind == ChannelKind::bpsk) {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            const float received = (bits[i] ? -1.0f : 1.0f) + sigma * static_cast<float>(gaussian());
            llrs[i] = 2.0f * received / variance;
        }
        return llrs;
    }
    const std::uint64_t m = bits_per_symbol_;
    if (bits.size() % m != 0) throw std::invalid_argument("frame bits are not a whole number of QAM symbols");
    for (std::size_t start = 0; start < bits.size(); start += m) {
        std::uint64_t label = 0;
        for (std::uint64_t j = 0; j < m; ++j) label = (label << 1) | bits[start + j];
        const float y_i = points_i_[label] + sigma * static_cast<float>(gaussian());
        const float y_q = points_q_[label] + sigma * static_cast<float>(gaussian());
        for (std::uint64_t j = 0; j < m; ++j) {
            float nearest[2] = {INFINITY, INFINITY};  // squared distance to the nearest point with bit j = 0 / 1
            for (std::uint64_t point = 0; point < points_i_.size(); ++point) {
                const float di = y_i - points_i_[point];
                const float dq = y_q - points_q_[point];
                const auto bit = (point >> (m - 1 - j)) & 1u;
                nearest[bit] = std::min(nearest[bit], di * di + dq * dq);
            }
            llrs[start + j] = (nearest[1] - nearest[0]) / (2.0f * variance);
        }
    }
    return llrs;
}

Impairment parse_impairment(const std::string& text) {
    const auto fields = split(text, ':');
    if (fields.size() < 2 || fields.size() > 4) throw std::invalid_argument("invalid impairment: " + text);
    Impairment impairment;
    if (fields[0] == "erase") impairment.action = ImpairmentAction::erase;
    else if (fields[0] == "corrupt") impairment.action = ImpairmentAction::corrupt;
    else throw std::invalid_argument("invalid impairment: " + text);

    const std::string& target = fields[1];
    if (target == "all") {
        impairment.target = ImpairmentTarget::all;
    } else if (target.starts_with("plane=")) {
        impairment.target = ImpairmentTarget::plane;
        impairment.first = impairment.last = parse_number(target.substr(6), text);
        if (impairment.first >= 6) throw std::invalid_argument("invalid impairment: " + text);
    } else if (target.starts_with("branches=")) {
        impairment.target = ImpairmentTarget::branches;
        parse_range(target.substr(9), text, impairment.first, impairment.last);
    } else if (target.starts_with("bits=")) {
        impairment.target = ImpairmentTarget::bits;
        parse_range(target.substr(5), text, impairment.first, impairment.last);
    } else {
        throw std::invalid_argument("invalid impairment: " + text);
    }
    if (fields.size() > 2) parse_range(fields[2], text, impairment.frame_first, impairment.frame_last);
    if (fields.size() > 3) parse_range(fields[3], text, impairment.slot_first, impairment.slot_last);
    return impairment;
}

void apply_impairments(std::span<float> frame_llrs, std::uint64_t frame_number, std::uint64_t transmitted_bits,
                       std::span<const Impairment> impairments) {
    for (const Impairment& impairment : impairments) {
        if (frame_number < impairment.frame_first || frame_number > impairment.frame_last) continue;
        for (std::uint64_t slot = 0; slot * transmitted_bits < frame_llrs.size(); ++slot) {
            if (slot < impairment.slot_first || slot > impairment.slot_last) continue;
            auto codeword = frame_llrs.subspan(slot * transmitted_bits, transmitted_bits);
            for (std::uint64_t t = 0; t < transmitted_bits; ++t) {
                if (!targets(impairment, t)) continue;
                codeword[t] = impairment.action == ImpairmentAction::erase ? 0.0f : -codeword[t];
            }
        }
    }
}

std::uint64_t count_flipped_bits(std::span<const std::uint8_t> bits, std::span<const float> llrs) {
    std::uint64_t flipped = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) flipped += (llrs[i] < 0.0f) != (bits[i] != 0);
    return flipped;
}

}  // namespace qarel::testgen
