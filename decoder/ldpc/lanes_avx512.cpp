// The lane decoder with AVX-512: one 512-bit register holds a value of 16 lanes, a mask is
// a mask register, and the 16 lanes' 16-bit edge positions fit one 256-bit register. Compiled
// for AVX-512F, BW and VL (without FMA contraction); chosen at run time.
#include <immintrin.h>

#include "decoder/ldpc/lane_variants.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl")
#endif

#include "decoder/ldpc/lane_kernel.hpp"

namespace qarel::ldpc::lanes {
namespace {

struct Avx512Ops {
    static constexpr std::size_t kWidth = 16;
    static constexpr std::size_t kFewestJobs = 1;
    using Vec = __m512;
    using Mask = __mmask16;
    using Bits = std::uint16_t;
    using Index = __m256i;
    using Position = std::uint16_t;

    static Vec load(const float* p) { return _mm512_load_ps(p); }
    static void store(float* p, Vec x) { _mm512_store_ps(p, x); }
    static Vec broadcast(float x) { return _mm512_set1_ps(x); }
    static Vec add(Vec a, Vec b) { return _mm512_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm512_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
    // a < b ? a : b; the zero-masked form with every lane set spares GCC 12 a false warning.
    static Vec lesser(Vec a, Vec b) { return _mm512_maskz_min_ps(0xffff, a, b); }
    static Vec abs(Vec a) { return _mm512_abs_ps(a); }
    static Mask less(Vec a, Vec b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static Vec select(Mask m, Vec if_clear, Vec if_set) { return _mm512_mask_blend_ps(m, if_clear, if_set); }
    // An edge's message signs are built in a vector register, away from the mask registers:
    // a mask moved in from a general register per edge costs more than the broadcast, xor and
    // shift here. The check's parity sits in every 16-bit word; xor with the edge's input
    // signs, broadcast alike, and a shift of each 32-bit lane l by 31 - l put lane l's bit in
    // its sign bit. The other bits are junk.
    using SignWord = __m512i;
    static SignWord sign_word(Bits b) { return broadcast_word(b); }
    static SignWord edge_signs(const Bits* input_signs, SignWord parity) {
        const __m512i to_sign_bit = _mm512_set_epi32(16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
        return _mm512_maskz_sllv_epi32(0xffff, _mm512_xor_si512(broadcast_word(*input_signs), parity), to_sign_bit);
    }
    // a ^ (signs & sign bit), with the sign word as the operand overwritten.
    static Vec negate_lanes(Vec a, SignWord signs) {
        return _mm512_castsi512_ps(
            _mm512_ternarylogic_epi32(signs, _mm512_castps_si512(a), _mm512_set1_epi32(INT32_MIN), 0x6c));
    }
    // The zero-masked forms with every lane set spare GCC 12 a false warning.
    static __m512i broadcast_word(Bits b) { return _mm512_maskz_set1_epi16(~__mmask32{0}, static_cast<short>(b)); }
    static Bits to_bits(Mask m) { return m; }
    static Mask from_bits(Bits b) { return b; }
    static Index index_broadcast(Position e) { return _mm256_set1_epi16(static_cast<short>(e)); }
    static Index index_load(const Position* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
    static void index_store(Position* p, Index index) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), index); }
    static Index index_select(Mask m, Index index, Index candidate) { return _mm256_mask_mov_epi16(index, m, candidate); }
    static Mask index_equals(Index a, Index b) { return _mm256_cmpeq_epi16_mask(a, b); }
};

}  // namespace

std::unique_ptr<CodewordDecoder> make_avx512_decoder(const LdpcGraph& graph) {
    return std::make_unique<LaneDecoder<Avx512Ops>>(graph, LdpcKernel::avx512);
}

}  // namespace qarel::ldpc::lanes

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
