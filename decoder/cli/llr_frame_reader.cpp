#include "decoder/cli/llr_frame_reader.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "decoder/cli/streams.hpp"

namespace qarel::cli {
namespace {

// Largest single read; a frame beyond it is read piece by piece as the input delivers.
constexpr std::uint64_t kReadPieceFloats = std::uint64_t{1} << 24;

void little_endian_to_host(std::span<float> values) {
    if constexpr (std::endian::native == std::endian::big) {
        for (float& value : values) {
            auto bits = std::bit_cast<std::uint32_t>(value);
            bits = (bits >> 24) | ((bits >> 8) & 0xff00u) | ((bits << 8) & 0xff0000u) | (bits << 24);
            value = std::bit_cast<float>(bits);
        }
    }
}

}  // namespace

LlrFrameReader::LlrFrameReader(std::FILE* input, std::uint64_t llrs_per_frame)
    : input_(input), llrs_per_frame_(llrs_per_frame) {}

void LlrFrameReader::set_head(std::span<const float> head) { head_.assign(head.begin(), head.end()); }

std::uint64_t LlrFrameReader::read_frame() {
    const std::uint64_t head_floats = std::min<std::uint64_t>(head_.size(), llrs_per_frame_);
    if (buffer_.size() < head_floats) buffer_.resize(head_floats);
    std::copy_n(head_.begin(), head_floats, buffer_.begin());
    head_.clear();

    std::uint64_t filled_bytes = head_floats * sizeof(float);
    const std::uint64_t wanted_bytes = frame_bytes();
    while (filled_bytes < wanted_bytes) {
        const std::uint64_t filled_floats = filled_bytes / sizeof(float);
        const std::uint64_t target_floats = std::min(llrs_per_frame_, filled_floats + kReadPieceFloats);
        if (buffer_.size() < target_floats) buffer_.resize(target_floats);
        auto* destination = reinterpret_cast<unsigned char*>(buffer_.data()) + filled_bytes;
        const std::uint64_t piece_bytes = target_floats * sizeof(float) - filled_bytes;
        const std::uint64_t got = read_fully(input_, destination, piece_bytes);
        filled_bytes += got;
        if (got < piece_bytes) break;
    }
    if (filled_bytes == wanted_bytes) little_endian_to_host(std::span(buffer_).subspan(head_floats, llrs_per_frame_ - head_floats));
    return filled_bytes;
}

std::vector<float> LlrFrameReader::take_frame(std::vector<float>&& spare) {
    std::vector<float> frame = std::move(buffer_);
    frame.resize(llrs_per_frame_);
    buffer_ = std::move(spare);
    return frame;
}

// Branch-free over blocks, so the compiler vectorises it: a value is not finite when its
// exponent bits are all ones.
bool all_finite(std::span<const float> values) {
    constexpr std::uint32_t kExponent = 0x7f800000u;
    constexpr std::size_t kBlock = 256;
    for (std::size_t first = 0; first < values.size(); first += kBlock) {
        const std::size_t last = std::min(values.size(), first + kBlock);
        std::uint32_t nonfinite = 0;
        for (std::size_t i = first; i < last; ++i)
            nonfinite |= (std::bit_cast<std::uint32_t>(values[i]) & kExponent) == kExponent;
        if (nonfinite != 0) return false;
    }
    return true;
}

}  // namespace qarel::cli
