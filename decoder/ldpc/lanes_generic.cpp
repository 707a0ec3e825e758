// The lane decoder in portable code: 8 lanes as plain arrays, one loop per operation.
#include <bit>

#include "decoder/ldpc/lane_variants.hpp"
#include "decoder/ldpc/lane_kernel.hpp"

namespace qarel::ldpc::lanes {
namespace {

// Values and masks are arrays of 8 lanes; a mask lane is all ones or zero, so selecting and
// sign flips are bit operations and every loop is one the compiler can vectorise.
struct GenericOps : SignsAsBits {
    static constexpr std::size_t kWidth = 8;
    static constexpr std::size_t kFewestJobs = kWidth;  // scalar lanes pay off only when all are busy
    static constexpr std::size_t W = kWidth;
    struct Vec {
        float v[W];
    };
    struct Mask {
        std::uint32_t v[W];
    };
    using Position = std::uint32_t;
    using Bits = std::uint8_t;
    using Index = Mask;

    template <typename F>
    static Vec map(F f) {
        Vec r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = f(l);
        return r;
    }
    template <typename F>
    static Mask mask_of(F f) {
        Mask r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = f(l) ? UINT32_MAX : 0u;
        return r;
    }
    static std::uint32_t bits_of(float x) { return std::bit_cast<std::uint32_t>(x); }
    static float float_of(std::uint32_t x) { return std::bit_cast<float>(x); }

    static Vec load(const float* p) { return map([&](std::size_t l) { return p[l]; }); }
    static void store(float* p, const Vec& x) {
        for (std::size_t l = 0; l < W; ++l) p[l] = x.v[l];
    }
    static Vec broadcast(float x) { return map([&](std::size_t) { return x; }); }
    static Vec add(const Vec& a, const Vec& b) { return map([&](std::size_t l) { return a.v[l] + b.v[l]; }); }
    static Vec sub(const Vec& a, const Vec& b) { return map([&](std::size_t l) { return a.v[l] - b.v[l]; }); }
    static Vec mul(const Vec& a, const Vec& b) { return map([&](std::size_t l) { return a.v[l] * b.v[l]; }); }
    static Vec lesser(const Vec& a, const Vec& b) {
        return map([&](std::size_t l) { return a.v[l] < b.v[l] ? a.v[l] : b.v[l]; });
    }
    static Vec abs(const Vec& a) { return map([&](std::size_t l) { return float_of(bits_of(a.v[l]) & 0x7fffffffu); }); }
    static Mask less(const Vec& a, const Vec& b) { return mask_of([&](std::size_t l) { return a.v[l] < b.v[l]; }); }
    static Vec select(const Mask& m, const Vec& if_clear, const Vec& if_set) {
        return map([&](std::size_t l) {
            return float_of((bits_of(if_clear.v[l]) & ~m.v[l]) | (bits_of(if_set.v[l]) & m.v[l]));
        });
    }
    static Vec negate_lanes(const Vec& a, std::uint32_t b) {
        return map([&](std::size_t l) { return float_of(bits_of(a.v[l]) ^ (((b >> l) & 1u) << 31)); });
    }
    static Bits to_bits(const Mask& m) {
        unsigned bits = 0;
        for (std::size_t l = 0; l < W; ++l) bits |= (m.v[l] & 1u) << l;
        return static_cast<Bits>(bits);
    }
    static Mask from_bits(Bits b) { return mask_of([&](std::size_t l) { return ((b >> l) & 1u) != 0; }); }
    static Index index_broadcast(std::uint32_t e) {
        Index r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = e;
        return r;
    }
    static Index index_load(const std::uint32_t* p) {
        Index r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = p[l];
        return r;
    }
    static void index_store(std::uint32_t* p, const Index& index) {
        for (std::size_t l = 0; l < W; ++l) p[l] = index.v[l];
    }
    static Index index_select(const Mask& m, const Index& index, const Index& candidate) {
        Index r;
        for (std::size_t l = 0; l < W; ++l) r.v[l] = (index.v[l] & ~m.v[l]) | (candidate.v[l] & m.v[l]);
        return r;
    }
    static Mask index_equals(const Index& a, const Index& b) {
        return mask_of([&](std::size_t l) { return a.v[l] == b.v[l]; });
    }
};

}  // namespace

std::unique_ptr<CodewordDecoder> make_generic_decoder(const LdpcGraph& graph) {
    return std::make_unique<LaneDecoder<GenericOps>>(graph, LdpcKernel::generic);
}

}  // namespace qarel::ldpc::lanes
