#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace qarel::cli {

// Reads the headerless float32 little-endian LLR stream one FEC frame at a time into a
// buffer reused from frame to frame.
class LlrFrameReader {
public:
    LlrFrameReader(std::FILE* input, std::uint64_t llrs_per_frame);

    // LLRs that start the next frame before anything more is read from the input.
    void set_head(std::span<const float> head);

    // Fills the frame buffer; returns the number of bytes obtained, 0 at end of input.
    // The buffer grows only as data arrives, so a frame size that the input never
    // delivers costs no memory.
    std::uint64_t read_frame();

    std::span<const float> frame() const { return std::span(buffer_).first(llrs_per_frame_); }
    // Hands over the frame read and goes on with `spare` as its buffer: a frame is never
    // copied, and a spare of a frame's size spares the next read its allocation.
    std::vector<float> take_frame(std::vector<float>&& spare);
    std::span<float> mutable_frame() { return std::span(buffer_).first(llrs_per_frame_); }
    std::uint64_t frame_bytes() const { return llrs_per_frame_ * sizeof(float); }
    bool input_failed() const { return std::ferror(input_) != 0; }

private:
    std::FILE* input_;
    std::uint64_t llrs_per_frame_;
    std::vector<float> head_;
    std::vector<float> buffer_;
};

bool all_finite(std::span<const float> values);

}  // namespace qarel::cli
