#pragma once

#include <cstdint>
#include <span>

#include "decoder/options/run_options.hpp"

namespace qarel::engine {

// Applies the command line's codeword, variable and variable-mod LLR scale rules whose frame
// range holds `frame_index` to a frame's transmitted LLRs (codeword after codeword), in
// that order and in command-line order within each kind; matching rules compound.
void apply_llr_scale_rules(std::span<float> frame_llrs, std::uint64_t frame_index, std::uint64_t transmitted_bits,
                           const options::RunOptions& options);

}  // namespace qarel::engine
