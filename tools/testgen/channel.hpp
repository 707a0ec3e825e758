#pragma once

#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace qarel::testgen {

enum class ChannelKind { noiseless, bpsk, qam };

struct ChannelSettings {
    ChannelKind kind = ChannelKind::noiseless;
    float llr_magnitude = 8.0f;  // noiseless LLRs are +/- this value
    double esn0_db = 10.0;       // symbol energy to noise density, for the noisy channels
    std::uint64_t qam = 0;       // 16, 32 or 64 for the QAM channel
    std::uint64_t seed = 1;
};

// Turns transmitted bits into float LLRs (positive favours 0). The QAM channel maps
// consecutive groups of log2(qam) bits to Gray-labelled points of a square (16, 64) or 8x4
// rectangular (32) constellation of unit mean energy, adds complex white Gaussian noise and
// computes exact max-log LLRs. The noise continues from call to call; a seed repeats it.
class Channel {
public:
    explicit Channel(const ChannelSettings& settings);
    std::vector<float> transmit(std::span<const std::uint8_t> bits);

private:
    double gaussian();
    float noise_variance() const;

    ChannelSettings settings_;
    std::mt19937_64 engine_;
    std::uint64_t bits_per_symbol_ = 1;
    std::vector<float> points_i_;  // indexed by symbol label
    std::vector<float> points_q_;
};

enum class ImpairmentAction { erase, corrupt };
enum class ImpairmentTarget { all, plane, branches, bits };

// Sets chosen LLRs to 0 (erase) or negates them (corrupt) in chosen frames and codeword
// slots. Text form: ACTION:TARGET[:FRAMES[:SLOTS]] with ACTION erase|corrupt, TARGET
// all | plane=P | branches=A-B | bits=A-B (transmitted bit indices), FRAMES a 1-based range
// A-B and SLOTS a 0-based range A-B (both default to all).
struct Impairment {
    static constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();

    ImpairmentAction action = ImpairmentAction::erase;
    ImpairmentTarget target = ImpairmentTarget::all;
    std::uint64_t first = 0;
    std::uint64_t last = kAll;
    std::uint64_t frame_first = 1;
    std::uint64_t frame_last = kAll;
    std::uint64_t slot_first = 0;
    std::uint64_t slot_last = kAll;
};

Impairment parse_impairment(const std::string& text);

void apply_impairments(std::span<float> frame_llrs, std::uint64_t frame_number, std::uint64_t transmitted_bits,
                       std::span<const Impairment> impairments);

// Transmitted bits whose LLR decides the wrong bit.
std::uint64_t count_flipped_bits(std::span<const std::uint8_t> bits, std::span<const float> llrs);

}  // namespace qarel::testgen
