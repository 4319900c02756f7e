// Split-radix decimation-in-frequency FFT on fixed-point complex values (see fft_32sc.h).
//
// One L-shaped butterfly of a block of n values, for j = 0 .. n/4 - 1, with a, b, c, d the
// values at j, j + n/4, j + n/2, j + 3n/4 and W = e^(-j 2 pi / n):
//   a' = a + c, b' = b + d                        (the half-size transform of the even outputs)
//   c' = (u - j v) W^j, d' = (u + j v) W^(3j)     with u = a - c, v = b - d
// then the first half is transformed at size n/2 and each of the last quarters at size n/4.
// The outputs leave in bit-reversed order, which the swap lists undo.
#include "transforms/fft_32sc.h"

#include <cstdint>
#include <cstring>

#include "common/fixed_point.h"
#include "common/simd.h"

namespace zuf {
namespace {

inline int32_t x4(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) << 2); }
inline int32_t add(int32_t a, int32_t b) { return wrap_add(a, b); }
inline int32_t sub(int32_t a, int32_t b) { return wrap_sub(a, b); }

// x sqrt(1/2): hi(0x5A82799A 2x), 2x wrapping in 32 bits.
inline int32_t sqrt_half(int32_t v) { return mulhi(0x5A82799A, static_cast<int32_t>(static_cast<uint32_t>(v) << 1)); }

// (zr + j zi)(c - j s) for a Q30 twiddle: hi(4zr c + 4zi s), hi(4zi c - 4zr s).
inline void rotate(int32_t zr, int32_t zi, int32_t c, int32_t s, int32_t* out) {
    const int64_t r4 = x4(zr), i4 = x4(zi);
    out[0] = hi(r4 * c + i4 * s);
    out[1] = hi(i4 * c - r4 * s);
}

// SSE2: two L-butterflies (j, j + 1) at once, each 128-bit vector holding two complex values,
// rotated through rotate_sums_sse2 (fft_32sc.h): bit for bit the scalar result.

// (z re, z im) pairs times (c - j s): C = (c0, c0, c1, c1), S = (s0, s0, s1, s1).
inline __m128i rotate2_sse2(__m128i z, __m128i c, __m128i s) {
    return rotate_sums_sse2(_mm_slli_epi32(z, 2), c, s).hi_words();  // 4z, wrapping
}

inline __m128i pair(int32_t v0, int32_t v1) { return _mm_set_epi32(v1, v1, v0, v0); }

// The sums of two L-butterflies stay in a and b; finish(z1, z3) turns u - jv and u + jv into the
// values for c and d.
template <class Finish>
inline void l_butterfly2_sse2(int32_t* pa, int32_t* pb, int32_t* pc, int32_t* pd, Finish finish) {
    const __m128i imMask = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i a = loadu_i128(pa), b = loadu_i128(pb), c = loadu_i128(pc), d = loadu_i128(pd);
    const __m128i u = _mm_sub_epi32(a, c), v = _mm_sub_epi32(b, d);
    storeu_i128(pa, _mm_add_epi32(a, c));
    storeu_i128(pb, _mm_add_epi32(b, d));
    const __m128i vs = _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1));      // (vi, vr, ...)
    const __m128i mjv = _mm_sub_epi32(_mm_xor_si128(vs, imMask), imMask);  // (vi, -vr, ...) = -jv
    __m128i z1 = _mm_add_epi32(u, mjv);                                    // u - jv
    __m128i z3 = _mm_sub_epi32(u, mjv);                                    // u + jv
    finish(z1, z3);
    storeu_i128(pc, z1);
    storeu_i128(pd, z3);
}

// One L-shaped butterfly at index j: the sums stay in a and b, the rotated differences go to c and
// d through `rot` (which applies W^j and W^(3j) to u - jv and u + jv).
template <class Rot>
inline void l_butterfly(int32_t* a, int32_t* b, int32_t* c, int32_t* d, Rot rot) {
    const int32_t ur = sub(a[0], c[0]), ui = sub(a[1], c[1]);
    const int32_t vr = sub(b[0], d[0]), vi = sub(b[1], d[1]);
    a[0] = add(a[0], c[0]), a[1] = add(a[1], c[1]);
    b[0] = add(b[0], d[0]), b[1] = add(b[1], d[1]);
    rot(add(ur, vi), sub(ui, vr), sub(ur, vi), add(ui, vr), c, d);  // u - jv, u + jv
}

// The L-shaped butterflies of one block of n >= 4 complex values. The twiddle W^j of this size is
// k = j * stride of the table's transform (M = 8 m8 points): below M/8 read directly, above it
// through k' = M/4 - k (k theta = pi/2 - k' theta, 3k theta = 3pi/2 - 3k' theta).
void l_butterflies(int32_t* x, int n, int stride, const Zuf32s* tab, int m8) {
    const int n4 = n / 4, b = m8 - 1;
    int32_t* pa = x;
    int32_t* pb = x + 2 * n4;
    int32_t* pc = x + 4 * n4;
    int32_t* pd = x + 6 * n4;
    const Zuf32s *cos1 = tab, *cos3 = tab + b, *sin1 = tab + 2 * b, *sin3 = tab + 3 * b;
    // j = 0: W^0 = 1.
    l_butterfly(pa, pb, pc, pd, [](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
        c[0] = z1r, c[1] = z1i, d[0] = z3r, d[1] = z3i;
    });
    if (n4 == 1) return;
    const int j8 = n / 8;
    int j = 1;
    for (; j < j8; ++j) {
        const int k = j * stride - 1;
        const int32_t c1 = cos1[k], s1 = sin1[k], c3 = cos3[k], s3 = sin3[k];
        l_butterfly(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j,
                    [=](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                        rotate(z1r, z1i, c1, s1, c);
                        rotate(z3r, z3i, c3, s3, d);
                    });
    }
    // j = n/8: W^j = (1 - j) / sqrt(2), W^(3j) = (-1 - j) / sqrt(2).
    l_butterfly(pa + 2 * j8, pb + 2 * j8, pc + 2 * j8, pd + 2 * j8,
                [](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                    c[0] = sqrt_half(add(z1r, z1i)), c[1] = sqrt_half(sub(z1i, z1r));
                    d[0] = sqrt_half(sub(z3i, z3r)), d[1] = sqrt_half(sub(0, add(z3r, z3i)));
                });
    j = j8 + 1;
    for (; j < n4; ++j) {
        const int k = (n4 - j) * stride - 1;
        const int32_t c1 = sin1[k], s1 = cos1[k], c3 = -sin3[k], s3 = -cos3[k];
        l_butterfly(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j,
                    [=](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                        rotate(z1r, z1i, c1, s1, c);
                        rotate(z3r, z3i, c3, s3, d);
                    });
    }
}

// SSE2 leaves of the recursion: blocks of 2, 4 and 8 complex values transformed in registers,
// with the sums, differences and sqrt(1/2) products of the scalar recursion (wrapping sums give
// the same bits in any order), so a small block costs no calls.

// (a, b) -> (a + b, a - b) for the two complex values of a register.
inline __m128i dft2_sse2(__m128i v) {
    const __m128i sw = swap_halves_epi32(v);
    return _mm_unpacklo_epi64(_mm_add_epi32(v, sw), _mm_sub_epi32(v, sw));
}

// The block of 4 at x from its halves ab = (a, b), cd = (c, d): the j = 0 butterfly, then the
// block of 2 on (a', b'); the two blocks of 1 are the values themselves.
inline void leaf4_sse2(int32_t* x, __m128i ab, __m128i cd) {
    const __m128i s = _mm_add_epi32(ab, cd), d = _mm_sub_epi32(ab, cd);  // (a', b'), (u, v)
    const __m128i u = _mm_unpacklo_epi64(d, d);                          // (ur, ui, ur, ui)
    const __m128i v = _mm_shuffle_epi32(d, _MM_SHUFFLE(2, 3, 2, 3));     // (vi, vr, vi, vr)
    const __m128i p = _mm_add_epi32(u, v), q = _mm_sub_epi32(u, v);      // (ur + vi, ui + vr), (ur - vi, ui - vr)
    storeu_i128(x, dft2_sse2(s));
    storeu_i128(x + 4, select_i128(_mm_set_epi32(0, -1, -1, 0), q, p));  // u - jv, u + jv
}

// hi(0x5A82799A 2t) in each lane (sqrt_half): the unsigned products corrected for negative t.
inline __m128i sqrt_half4_sse2(__m128i t) {
    const __m128i k = _mm_set1_epi32(0x5A82799A);
    const __m128i t2 = _mm_slli_epi32(t, 1);
    const __m128i even = _mm_mul_epu32(t2, k), odd = _mm_mul_epu32(_mm_srli_epi64(t2, 32), k);
    const __m128i hiWords = _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
    return _mm_sub_epi32(hiWords, _mm_and_si128(_mm_srai_epi32(t2, 31), k));
}

// The eighth-turn rotations of the butterfly at j = n/8 on h = (r1, i1, r3, i3), the values
// u - jv and u + jv: (r1 + i1, i1 - r1) and (i3 - r3, -(r3 + i3)) times sqrt(1/2).
inline __m128i eighth_turns_sse2(__m128i h) {
    const __m128i hs = _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i sum = _mm_add_epi32(h, hs), dif = _mm_sub_epi32(hs, h);
    return sqrt_half4_sse2(_mm_unpacklo_epi64(_mm_unpacklo_epi32(sum, dif),
                                              _mm_unpackhi_epi32(dif, _mm_sub_epi32(_mm_setzero_si128(), sum))));
}

// The block of 8: butterflies j = 0 (W = 1) and j = 1 = n/8 (the eighth turns), then the block of
// 4 and the two blocks of 2.
inline void leaf8_sse2(int32_t* x) {
    const __m128i imMask = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i a = loadu_i128(x), b = loadu_i128(x + 4), c = loadu_i128(x + 8), d = loadu_i128(x + 12);
    const __m128i u = _mm_sub_epi32(a, c), v = _mm_sub_epi32(b, d);
    const __m128i vs = _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i mjv = _mm_sub_epi32(_mm_xor_si128(vs, imMask), imMask);  // (vi, -vr, ...) = -jv
    const __m128i z1 = _mm_add_epi32(u, mjv), z3 = _mm_sub_epi32(u, mjv);  // u - jv, u + jv
    const __m128i r = eighth_turns_sse2(_mm_unpackhi_epi64(z1, z3));       // j = 1
    storeu_i128(x + 8, dft2_sse2(_mm_unpacklo_epi64(z1, r)));
    storeu_i128(x + 12, dft2_sse2(_mm_unpackhi_epi64(_mm_unpacklo_epi64(z3, z3), r)));
    leaf4_sse2(x, _mm_add_epi32(a, c), _mm_add_epi32(b, d));
}

// l_butterflies of a block of n >= 16 in SSE2, two butterflies (j, j + 1) per step, so that every
// j goes through vectors: j = 0 (W = 1) and j = n/8 (the eighth turns, even since n >= 16) start
// a pair whose other lane is rotated as usual.
void l_butterflies_sse2(int32_t* x, int n, int stride, const Zuf32s* tab, int m8) {
    const int n4 = n / 4, j8 = n / 8, b = m8 - 1;
    int32_t *pa = x, *pb = x + 2 * n4, *pc = x + 4 * n4, *pd = x + 6 * n4;
    const Zuf32s *cos1 = tab, *cos3 = tab + b, *sin1 = tab + 2 * b, *sin3 = tab + 3 * b;
    const __m128i lowLanes = _mm_set_epi32(0, 0, -1, -1);
    // Below n/8 the twiddle of j is k = j stride directly, above it k' = (n/4 - j) stride with the
    // quarter-turn identities (l_butterflies). Lane 0 of a pair may carry a twiddle it ignores.
    auto rotations = [](__m128i c1, __m128i s1, __m128i c3, __m128i s3) {
        return [=](__m128i& z1, __m128i& z3) {
            z1 = rotate2_sse2(z1, c1, s1);
            z3 = rotate2_sse2(z3, c3, s3);
        };
    };
    auto rotate_low = [&](int k0, int k1) {  // j < n/8
        return rotations(pair(cos1[k0], cos1[k1]), pair(sin1[k0], sin1[k1]), pair(cos3[k0], cos3[k1]),
                         pair(sin3[k0], sin3[k1]));
    };
    auto rotate_high = [&](int k0, int k1) {  // j > n/8
        return rotations(pair(sin1[k0], sin1[k1]), pair(cos1[k0], cos1[k1]), pair(-sin3[k0], -sin3[k1]),
                         pair(-cos3[k0], -cos3[k1]));
    };
    {  // j = 0 and 1
        const auto rot = rotate_low(stride - 1, stride - 1);
        l_butterfly2_sse2(pa, pb, pc, pd, [&](__m128i& z1, __m128i& z3) {
            const __m128i u1 = z1, u3 = z3;
            rot(z1, z3);
            z1 = select_i128(lowLanes, u1, z1);
            z3 = select_i128(lowLanes, u3, z3);
        });
    }
    for (int j = 2; j < j8; j += 2) {
        const int k0 = j * stride - 1;
        l_butterfly2_sse2(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j, rotate_low(k0, k0 + stride));
    }
    {  // j = n/8 and n/8 + 1
        const int k1 = (n4 - j8 - 1) * stride - 1;
        const auto rot = rotate_high(k1, k1);
        l_butterfly2_sse2(pa + 2 * j8, pb + 2 * j8, pc + 2 * j8, pd + 2 * j8, [&](__m128i& z1, __m128i& z3) {
            const __m128i e = eighth_turns_sse2(_mm_unpacklo_epi64(z1, z3));  // (c re, c im, d re, d im)
            rot(z1, z3);
            z1 = select_i128(lowLanes, e, z1);
            z3 = select_i128(lowLanes, _mm_unpackhi_epi64(e, e), z3);
        });
    }
    for (int j = j8 + 2; j < n4; j += 2) {
        const int k0 = (n4 - j) * stride - 1;
        l_butterfly2_sse2(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j, rotate_high(k0, k0 - stride));
    }
}

template <bool kSse2>
void split_radix(int32_t* x, int n, int m, const Zuf32s* tab) {
    if constexpr (kSse2) {
        if (n <= 8) {
            if (n == 8) leaf8_sse2(x);
            if (n == 4) leaf4_sse2(x, loadu_i128(x), loadu_i128(x + 4));
            if (n == 2) storeu_i128(x, dft2_sse2(loadu_i128(x)));
            return;
        }
    }
    if (n == 2) {
        const int32_t ar = x[0], ai = x[1];
        x[0] = add(ar, x[2]), x[1] = add(ai, x[3]);
        x[2] = sub(ar, x[2]), x[3] = sub(ai, x[3]);
        return;
    }
    if (n < 2) return;
    if constexpr (kSse2)
        l_butterflies_sse2(x, n, m / n, tab, m / 8);
    else
        l_butterflies(x, n, m / n, tab, m / 8);
    split_radix<kSse2>(x, n / 2, m, tab);
    split_radix<kSse2>(x + n, n / 4, m, tab);
    split_radix<kSse2>(x + 3 * n / 2, n / 4, m, tab);
}

// One complex value is one 64-bit move each way (any alignment).
inline void swap_c(int32_t* x, int a, int b) {
    uint64_t va, vb;
    std::memcpy(&va, x + 2 * a, 8);
    std::memcpy(&vb, x + 2 * b, 8);
    std::memcpy(x + 2 * a, &vb, 8);
    std::memcpy(x + 2 * b, &va, 8);
}

void bit_reverse_list(int32_t* x, int m, const Zuf8u* list) {
    const int h = m / 2;
    for (; *list != 0; list += 2) {
        const int a = list[0], b = list[1];
        swap_c(x, a, b);
        swap_c(x, a + 1, b + h);
        swap_c(x, a + h, b + 1);
        swap_c(x, a + h + 1, b + h + 1);
    }
    for (++list;; ++list) {
        const int a = *list;
        swap_c(x, a + 1, a + h);
        if (a <= 0) break;
    }
}

// Bit reversal of 9-bit indices, built at compile time; a smaller order reads it shifted.
struct Rev9 {
    uint16_t v[512];
    constexpr Rev9() : v() {
        for (int i = 0; i < 512; ++i) {
            int r = 0;
            for (int b = 0; b < 9; ++b) r |= ((i >> b) & 1) << (8 - b);
            v[i] = static_cast<uint16_t>(r);
        }
    }
};
constexpr Rev9 kRev9;

void bit_reverse_direct(int32_t* x, int order) {
    const int m = 1 << order, shift = 9 - order;
    for (int i = 0; i < m; ++i) {
        const int r = kRev9.v[i << shift];
        if (r > i) swap_c(x, i, r);
    }
}

template <bool kSse2>
void fft(Zuf32s* pSrcDst, int order) {
    const int m = 1 << order;
    if (order == 6) {
        split_radix<kSse2>(pSrcDst, m, m, pFFTtables1);
        bit_reverse_list(pSrcDst, m, pRevTable1);
        return;
    }
    // The 512-point table serves every smaller size at a stride; as the "M" of the twiddle
    // lookup it stays 512.
    split_radix<kSse2>(pSrcDst, m, 512, pFFTtables2);
    if (order == 9)
        bit_reverse_list(pSrcDst, m, pRevTable2);
    else
        bit_reverse_direct(pSrcDst, order);
}

}  // namespace

void ownsIMDCT_FFT_32sc_I(Zuf32s* pSrcDst, int order) { fft<true>(pSrcDst, order); }
void ownsIMDCT_FFT_32sc_I_ref(Zuf32s* pSrcDst, int order) { fft<false>(pSrcDst, order); }

}  // namespace zuf
