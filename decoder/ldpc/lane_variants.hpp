#pragma once
// Constructors of the lane decoders, one translation unit each (compiled for its target).

#include <memory>
#include <stdexcept>

#include "decoder/ldpc/codeword_decoder.hpp"

namespace qarel::ldpc::lanes {

std::unique_ptr<CodewordDecoder> make_generic_decoder(const LdpcGraph& graph);
#if defined(__x86_64__)
std::unique_ptr<CodewordDecoder> make_avx2_decoder(const LdpcGraph& graph);
std::unique_ptr<CodewordDecoder> make_avx512_decoder(const LdpcGraph& graph);
#endif

}  // namespace qarel::ldpc::lanes
