// The lane decoder with AVX2: a value of 16 lanes in two 256-bit registers. Compiled for AVX2
// (without FMA); chosen at run time.
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

// 16 lanes in two 256-bit registers: the halves' dependency chains (the running minima) run
// side by side, and the per-edge scalar work (indices, sign masks, loop) is shared by twice
// as many lanes. A mask is a pair of registers of all-ones lanes.
struct Avx2Ops : SignsAsBits {
    static constexpr std::size_t kWidth = 16;
    static constexpr std::size_t kFewestJobs = 1;
    struct Vec {
        __m256 lo, hi;
    };
    using Mask = Vec;
    using Bits = std::uint16_t;
    using Position = std::uint32_t;
    struct Index {
        __m256i lo, hi;
    };

    static const float* lane_row(const std::array<LaneMask, 256>& table, std::uint32_t byte) {
        return reinterpret_cast<const float*>(table[byte & 0xffu].lanes);
    }

    static Vec load(const float* p) { return {_mm256_load_ps(p), _mm256_load_ps(p + 8)}; }
    static void store(float* p, Vec x) {
        _mm256_store_ps(p, x.lo);
        _mm256_store_ps(p + 8, x.hi);
    }
    static Vec broadcast(float x) { return {_mm256_set1_ps(x), _mm256_set1_ps(x)}; }
    static Vec add(Vec a, Vec b) { return {_mm256_add_ps(a.lo, b.lo), _mm256_add_ps(a.hi, b.hi)}; }
    static Vec sub(Vec a, Vec b) { return {_mm256_sub_ps(a.lo, b.lo), _mm256_sub_ps(a.hi, b.hi)}; }
    static Vec mul(Vec a, Vec b) { return {_mm256_mul_ps(a.lo, b.lo), _mm256_mul_ps(a.hi, b.hi)}; }
    static Vec lesser(Vec a, Vec b) { return {_mm256_min_ps(a.lo, b.lo), _mm256_min_ps(a.hi, b.hi)}; }  // a < b ? a : b
    static Vec abs(Vec a) {
        const __m256 sign = _mm256_set1_ps(-0.0f);
        return {_mm256_andnot_ps(sign, a.lo), _mm256_andnot_ps(sign, a.hi)};
    }
    static Mask less(Vec a, Vec b) { return {_mm256_cmp_ps(a.lo, b.lo, _CMP_LT_OQ), _mm256_cmp_ps(a.hi, b.hi, _CMP_LT_OQ)}; }
    static Vec select(Mask m, Vec if_clear, Vec if_set) {
        return {_mm256_blendv_ps(if_clear.lo, if_set.lo, m.lo), _mm256_blendv_ps(if_clear.hi, if_set.hi, m.hi)};
    }
    static Vec negate_lanes(Vec a, std::uint32_t lanes) {  // lanes < 65536
        return {_mm256_xor_ps(a.lo, _mm256_load_ps(lane_row(kSignBits, lanes))),
                _mm256_xor_ps(a.hi, _mm256_load_ps(lane_row(kSignBits, lanes >> 8)))};
    }
    static Bits to_bits(Mask m) { return static_cast<Bits>(_mm256_movemask_ps(m.lo) | (_mm256_movemask_ps(m.hi) << 8)); }
    // A table load is cheaper than spreading the bits over the lanes with three operations.
    static Mask from_bits(Bits b) { return {_mm256_load_ps(lane_row(kLaneMasks, b)), _mm256_load_ps(lane_row(kLaneMasks, b >> 8))}; }
    static Index index_broadcast(std::uint32_t e) {
        const __m256i x = _mm256_set1_epi32(static_cast<int>(e));
        return {x, x};
    }
    static Index index_load(const std::uint32_t* p) {
        return {_mm256_load_si256(reinterpret_cast<const __m256i*>(p)), _mm256_load_si256(reinterpret_cast<const __m256i*>(p + 8))};
    }
    static void index_store(std::uint32_t* p, Index index) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(p), index.lo);
        _mm256_store_si256(reinterpret_cast<__m256i*>(p + 8), index.hi);
    }
    static Index index_select(Mask m, Index index, Index candidate) {
        return {_mm256_blendv_epi8(index.lo, candidate.lo, _mm256_castps_si256(m.lo)),
                _mm256_blendv_epi8(index.hi, candidate.hi, _mm256_castps_si256(m.hi))};
    }
    static Mask index_equals(Index a, Index b) {
        return {_mm256_castsi256_ps(_mm256_cmpeq_epi32(a.lo, b.lo)), _mm256_castsi256_ps(_mm256_cmpeq_epi32(a.hi, b.hi))};
    }
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
