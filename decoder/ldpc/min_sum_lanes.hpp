#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"

namespace qarel::ldpc {

// Implementations of the many-codeword flooding decoder, 8 lanes each: plain portable code,
// and AVX2 intrinsics chosen at run time where the processor has them. (A 16-lane AVX-512
// version measured slower than AVX2 here: its working arrays no longer fit the cache.)
enum class FloodingKernel { generic, avx2 };

bool flooding_kernel_available(FloodingKernel kernel);
FloodingKernel best_flooding_kernel();

// One codeword for decode_min_sum_flooding_many.
struct FloodingJob {
    std::span<const float> llrs;
    std::span<std::uint8_t> hard_bits;
    LdpcDecodeResult* result = nullptr;
};

// Flooding min-sum over many codewords of one graph. Codewords stream through the kernel's
// lanes, which walk the graph together; a lane takes the next codeword as soon
// as its own stops. Every lane performs exactly the float operations of
// decode_min_sum_flooding on its codeword, in the same order, so each job's hard bits and
// result are identical to decoding it alone. Throws like decode_min_sum_flooding.
void decode_min_sum_flooding_many(std::span<const FloodingJob> jobs, const LdpcGraph& graph,
                                  const MinSumSettings& settings, FloodingKernel kernel = best_flooding_kernel());

}  // namespace qarel::ldpc
