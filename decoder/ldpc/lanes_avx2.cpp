// The lane decoder with AVX2: one 256-bit register holds a value of 8 lanes, a mask is a
// register of all-ones lanes. Compiled for AVX2 (without FMA); chosen at run time.
#include <immintrin.h>

#include <array>

#include "decoder/ldpc/lane_variants.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "decoder/ldpc/lane_kernel.hpp"

namespace qarel::ldpc::lanes {
namespace {

struct alignas(32) LaneMask {
    std::uint32_t lanes[8];
};

// Per byte of lane bits: each set lane's value `set`, the others 0.
constexpr std::array<LaneMask, 256> lane_table(std::uint32_t set) {
    std::array<LaneMask, 256> table{};
    for (std::size_t bits = 0; bits < 256; ++bits)
        for (std::size_t l = 0; l < 8; ++l) table[bits].lanes[l] = ((bits >> l) & 1u) ? set : 0u;
    return table;
}

alignas(64) constexpr std::array<LaneMask, 256> kLaneMasks = lane_table(UINT32_MAX);
alignas(64) constexpr std::array<LaneMask, 256> kSignBits = lane_table(0x80000000u);

struct Avx2Ops {
    static constexpr std::size_t kWidth = 8;
    static constexpr std::size_t kFewestJobs = 1;
    using Vec = __m256;
    using Mask = __m256;
    using Bits = std::uint8_t;
    using Position = std::uint32_t;
    using Index = __m256i;

    static Vec load(const float* p) { return _mm256_load_ps(p); }
    static void store(float* p, Vec x) { _mm256_store_ps(p, x); }
    static Vec broadcast(float x) { return _mm256_set1_ps(x); }
    static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    static Vec lesser(Vec a, Vec b) { return _mm256_min_ps(a, b); }  // a < b ? a : b
    static Vec abs(Vec a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
    static Mask less(Vec a, Vec b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static Vec select(Mask m, Vec if_clear, Vec if_set) { return _mm256_blendv_ps(if_clear, if_set, m); }
    static Vec negate_lanes(Vec a, std::uint32_t b) {  // b < 256
        return _mm256_xor_ps(a, _mm256_load_ps(reinterpret_cast<const float*>(kSignBits[b].lanes)));
    }
    static Bits to_bits(Mask m) { return static_cast<Bits>(_mm256_movemask_ps(m)); }
    // A table load is cheaper than spreading the bits over the lanes with three operations.
    static Mask from_bits(Bits b) { return _mm256_load_ps(reinterpret_cast<const float*>(kLaneMasks[b].lanes)); }
    static Index index_broadcast(std::uint32_t e) { return _mm256_set1_epi32(static_cast<int>(e)); }
    static Index index_load(const std::uint32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
    static void index_store(std::uint32_t* p, Index index) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), index); }
    static Index index_select(Mask m, Index index, Index candidate) {
        return _mm256_blendv_epi8(index, candidate, _mm256_castps_si256(m));
    }
    static Mask index_equals(Index a, Index b) { return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)); }
};

}  // namespace

std::unique_ptr<CodewordDecoder> make_avx2_decoder(const LdpcGraph& graph) {
    return std::make_unique<LaneDecoder<Avx2Ops>>(graph, LdpcKernel::avx2);
}

}  // namespace qarel::ldpc::lanes

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
