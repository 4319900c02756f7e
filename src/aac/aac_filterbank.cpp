// AAC fixed-point synthesis filter bank (ISO/IEC 13818-7 15.3): inverse MDCT through an M = N/2
// point complex FFT with pre- and post-rotation, windowing with the sine or KBD window of the
// frame's window_sequence, and overlap-add with the previous frame's second half.
//
// Formats: the spectrum arrives in Q3; the scaled core keeps Q3 (it carries the standard's 2/N'),
// so the output sample is the Q3 sum rounded by (v + 4) >> 3 and saturated to 16 bits.
#include "aac/aac_filterbank.h"

#include <cstdint>
#include <cstring>

#include "transforms/fft_32sc.h"
#include "aac/aac_filterbank_tables.h"
#include "aac/aac_spectral.h"
#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"

namespace zuf {
namespace {

inline int32_t neg(int32_t v) { return wrap_sub(0, v); }

inline int64_t abs64(int32_t v) { return v < 0 ? -int64_t{v} : int64_t{v}; }

// Pre-rotation z_i = (X[2i] + j X[N-1-2i]) conj(W_i) / 4 with W_i Q30, into z (2M values).
// Returns the sum of the magnitudes of all 2M values (the block scaling's measure).
int64_t pre_rotate(const Zuf32s* x, Zuf32s* z, int n, const Zuf32s* tw) {
    const int m = n / 2;
    int64_t s = 0;
    for (int i = 0; i < m; ++i) {
        const int64_t a = x[2 * i], b = x[n - 1 - 2 * i];
        const int64_t wc = tw[2 * i], ws = tw[2 * i + 1];
        z[2 * i] = hi(wc * a + ws * b);
        z[2 * i + 1] = hi(wc * b - ws * a);
        s += abs64(z[2 * i]) + abs64(z[2 * i + 1]);
    }
    return s;
}

// Post-rotation R_i = Z_i conj(W_i) (64-bit sums of two products), scaled by `scale`, and placed:
// i < M/2: out[N-1-2i] = -Re, out[M-1-2i] = -Im; i >= M/2: out[2i-M] = Re, out[2i] = Im.
template <class Scale>
void post_rotate(const Zuf32s* z, Zuf32s* out, int n, const Zuf32s* tw, Scale scale) {
    const int m = n / 2;
    for (int i = 0; i < m / 2; ++i) {
        const int64_t zr = z[2 * i], zi = z[2 * i + 1];
        const int64_t wc = tw[2 * i], ws = tw[2 * i + 1];
        out[n - 1 - 2 * i] = neg(scale(zr * wc + zi * ws));
        out[m - 1 - 2 * i] = neg(scale(zi * wc - zr * ws));
    }
    for (int i = m / 2; i < m; ++i) {
        const int64_t zr = z[2 * i], zi = z[2 * i + 1];
        const int64_t wc = tw[2 * i], ws = tw[2 * i + 1];
        out[2 * i - m] = scale(zr * wc + zi * ws);
        out[2 * i] = scale(zi * wc - zr * ws);
    }
}

// pre_rotate in SSE2, four values i .. i+3 per step: bit for bit the scalar result, the magnitudes
// summed in two 64-bit lanes (each |z| < 2^31 + 1, so no lane can wrap).
int64_t pre_rotate_sse2(const Zuf32s* x, Zuf32s* z, int n, const Zuf32s* tw) {
    const int m = n / 2;
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    auto two = [&](const Zuf32s* even, const Zuf32s* oddRev, int i) {
        // even = x + 2i: (a0, _, a1, _); oddRev = x + n - 4 - 2i: (_, b1, _, b0).
        const __m128i a = _mm_shuffle_epi32(loadu_i128(even), _MM_SHUFFLE(3, 1, 2, 0));    // (a0, a1, ..)
        const __m128i b = _mm_shuffle_epi32(loadu_i128(oddRev), _MM_SHUFFLE(0, 2, 1, 3));  // (b0, b1, ..)
        const __m128i w = loadu_i128(tw + 2 * i);                                         // (c0, s0, c1, s1)
        const __m128i r = rotate_sums_sse2(_mm_unpacklo_epi32(a, b), _mm_shuffle_epi32(w, _MM_SHUFFLE(2, 2, 0, 0)),
                                           _mm_shuffle_epi32(w, _MM_SHUFFLE(3, 3, 1, 1)))
                              .hi_words();
        storeu_i128(z + 2 * i, r);
        const __m128i sign = _mm_srai_epi32(r, 31);
        const __m128i mag = _mm_sub_epi32(_mm_xor_si128(r, sign), sign);  // |r|, 2^31 read unsigned
        acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(mag, zero), _mm_unpackhi_epi32(mag, zero)));
    };
    for (int i = 0; i < m; i += 4) {
        two(x + 2 * i, x + n - 4 - 2 * i, i);
        two(x + 2 * i + 4, x + n - 8 - 2 * i, i + 2);
    }
    alignas(16) int64_t lanes[2];
    store_i128(lanes, acc);
    return lanes[0] + lanes[1];
}

// post_rotate in SSE2: output pairs j, j + 1 (j < M/2) take R_i at i = M/2 + j, M/2 + j + 1 (a)
// and at i = M/2 - 1 - j, M/2 - 2 - j (b): out[2j..2j+3] = (Re a0, -Im b0, Re a1, -Im b1) and
// out[M+2j..M+2j+3] = (Im a0, -Re b0, Im a1, -Re b1). `scale` maps two rotations to their outputs.
template <class Scale>
void post_rotate_sse2(const Zuf32s* z, Zuf32s* out, int n, const Zuf32s* tw, Scale scale) {
    const int m = n / 2, h = m / 2;
    auto rotated = [&](int i) {  // R_i, R_(i+1) as (re, im, re, im)
        const __m128i w = loadu_i128(tw + 2 * i);
        return scale(rotate_sums_sse2(loadu_i128(z + 2 * i), _mm_shuffle_epi32(w, _MM_SHUFFLE(2, 2, 0, 0)),
                                      _mm_shuffle_epi32(w, _MM_SHUFFLE(3, 3, 1, 1))));
    };
    for (int j = 0; j < h; j += 2) {
        const __m128i a = _mm_shuffle_epi32(rotated(h + j), _MM_SHUFFLE(3, 1, 2, 0));  // (Re a0, Re a1, Im a0, Im a1)
        const __m128i b = rotated(h - 2 - j);                                          // (Re b1, Im b1, Re b0, Im b0)
        const __m128i nb = _mm_sub_epi32(_mm_setzero_si128(), _mm_shuffle_epi32(b, _MM_SHUFFLE(0, 2, 1, 3)));
        storeu_i128(out + 2 * j, _mm_unpacklo_epi32(a, nb));
        storeu_i128(out + m + 2 * j, _mm_unpackhi_epi32(a, nb));
    }
}

struct ScaleHi {  // the unscaled core's hi(s)
    int32_t operator()(int64_t s) const { return hi(s); }
    __m128i operator()(const RotateSums2& r) const { return r.hi_words(); }
};

// kVector: the SSE2 rotations (the default); otherwise the scalar reference.
template <bool kScaled, bool kVector = true>
void mdct_inv_core(Zuf32s* x, int n) {
    const int order = n == 1024 ? 9 : 6;
    const Zuf32s* tw = n == 1024 ? pTwidlTables2 : pTwidlTables1;
    alignas(16) Zuf32s z[1024];
    const int64_t magnitude = kVector ? pre_rotate_sse2(x, z, n, tw) : pre_rotate(x, z, n, tw);
    auto post = [&](auto scale) {
        if constexpr (kVector)
            post_rotate_sse2(z, x, n, tw, scale);
        else
            post_rotate(z, x, n, tw, scale);
    };
    if constexpr (kScaled) {
        // The FFT's gain M, the rotations' 1/16 and the standard's 2/N' = 1/(2M) leave a shift of
        // order - 3 in all, less the block scaling.
        ownsFFT_BlockScaled_32s(z, n, order, magnitude, post);
    } else {
        ownsIMDCT_FFT_32sc_I(z, order);
        post(ScaleHi{});
    }
}

// Window factors are unsigned Q31 values up to 2^31 (the factor 1) so that both paths apply every
// factor, 0 and 1 included, with one product.
constexpr uint32_t kOne = 0x80000000u;

struct Path16 {  // (w y) >> 31; sums saturate to 32 bits (exact for the later 16-bit output)
    static int32_t win(uint32_t w, int32_t y) { return static_cast<int32_t>((int64_t{w} * y) >> 31); }
    static int32_t out(int32_t overlap, int64_t windowed) { return sat32(int64_t{overlap} + windowed); }
};
struct Path32 {  // hi(w y); plain wrapping sums
    static int32_t win(uint32_t w, int32_t y) { return static_cast<int32_t>((int64_t{w} * y) >> 32); }
    static int32_t out(int32_t overlap, int64_t windowed) {
        return static_cast<int32_t>(static_cast<uint32_t>(overlap) + static_cast<uint32_t>(windowed));
    }
};

// One long transform: frame position p < 1024 reads y[p] (p < 512: core[p], else -core[1023-p]),
// position 1024 + m reads y[1024 + m] (m < 512: core[512+m], else core[1535-m]). f1(p) and f2(m)
// are the window factors of the two halves.
template <class P, class F1, class F2>
void long_frame(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, F1 f1, F2 f2) {
    for (int k = 0; k < 512; ++k) {
        const int32_t c1 = core[k], c2 = core[512 + k];
        const int k2 = 1023 - k;
        sum[k] = P::out(ov[k], P::win(f1(k), c1));
        sum[k2] = P::out(ov[k2], P::win(f1(k2), neg(c1)));
        ov[k] = P::win(f2(k), c2);
        ov[k2] = P::win(f2(k2), c2);
    }
}

// SSE2 form of the paths, four lanes at a time. The windowed value takes bits 31..62 (Path16) or
// 32..63 (Path32) of the signed product w y with w unsigned: the unsigned product less 2^32 w when
// y < 0. The Path16 sum saturates where the wrapping sum's sign differs from both operands'.
inline __m128i reverse_epi32(__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); }

struct Path16Sse2 {
    static __m128i win(__m128i w, __m128i y) {
        const __m128i hiMask = _mm_set_epi32(-1, 0, -1, 0);
        const __m128i even = _mm_srli_epi64(_mm_mul_epu32(w, y), 31);  // bits 31.. in the even lanes
        const __m128i odd =
            _mm_slli_epi64(_mm_mul_epu32(_mm_srli_epi64(w, 32), _mm_srli_epi64(y, 32)), 1);  // .. in the odd lanes
        const __m128i bits = _mm_or_si128(_mm_andnot_si128(hiMask, even), _mm_and_si128(hiMask, odd));
        return _mm_sub_epi32(bits, _mm_slli_epi32(_mm_and_si128(_mm_srai_epi32(y, 31), w), 1));
    }
    static __m128i out(__m128i overlap, __m128i windowed) {
        const __m128i s = _mm_add_epi32(overlap, windowed);
        const __m128i wrapped =
            _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(overlap, s), _mm_xor_si128(windowed, s)), 31);
        const __m128i limit = _mm_xor_si128(_mm_srai_epi32(overlap, 31), _mm_set1_epi32(0x7FFFFFFF));
        return select_i128(wrapped, limit, s);
    }
};
struct Path32Sse2 {
    static __m128i win(__m128i w, __m128i y) {
        const __m128i hiMask = _mm_set_epi32(-1, 0, -1, 0);
        const __m128i even = _mm_srli_epi64(_mm_mul_epu32(w, y), 32);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(w, 32), _mm_srli_epi64(y, 32));
        const __m128i hiWords = _mm_or_si128(even, _mm_and_si128(hiMask, odd));
        return _mm_sub_epi32(hiWords, _mm_and_si128(_mm_srai_epi32(y, 31), w));
    }
    static __m128i out(__m128i overlap, __m128i windowed) { return _mm_add_epi32(overlap, windowed); }
};
template <class P>
struct VectorOf;
template <>
struct VectorOf<Path16> {
    using type = Path16Sse2;
};
template <>
struct VectorOf<Path32> {
    using type = Path32Sse2;
};

// long_frame four positions at a time: f1v(p) and f2v(m) give the factors of positions p..p+3 and
// m..m+3 (p, m multiples of 4) in natural order.
template <class P, class F1, class F2>
void long_frame_sse2(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, F1 f1v, F2 f2v) {
    using V = typename VectorOf<P>::type;
    for (int k = 0; k < 512; k += 4) {
        const int k2 = 1020 - k;  // positions k2 .. k2+3 mirror k+3 .. k
        const __m128i c1 = loadu_i128(core + k), c2 = loadu_i128(core + 512 + k);
        const __m128i c1r = _mm_sub_epi32(_mm_setzero_si128(), reverse_epi32(c1));  // -c1 at the mirrored positions
        storeu_i128(sum + k, V::out(loadu_i128(ov + k), V::win(f1v(k), c1)));
        storeu_i128(sum + k2, V::out(loadu_i128(ov + k2), V::win(f1v(k2), c1r)));
        storeu_i128(ov + k, V::win(f2v(k), c2));
        storeu_i128(ov + k2, V::win(f2v(k2), reverse_epi32(c2)));
    }
}

// Eight short transforms: window w's y_w[n] (n < 256) is windowed rising (n < 128) and falling
// and added at frame position 448 + 128 w + n. Positions 0..447 carry the old overlap only, the
// new overlap is zero from 576 on.
template <class P>
void short_frame(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* prev, const Zuf32s* cur) {
    int64_t acc[1152] = {};  // frame positions 448 .. 1599
    for (int w = 0; w < 8; ++w) {
        const Zuf32s* o = core + 128 * w;
        const Zuf32s* rise = w == 0 ? prev : cur;
        int64_t* a = acc + 128 * w;
        for (int n = 0; n < 64; ++n) {
            const int32_t c1 = o[n], c2 = o[64 + n];
            a[n] += P::win(static_cast<uint32_t>(rise[n]), c1);                   // y[n]
            a[127 - n] += P::win(static_cast<uint32_t>(rise[127 - n]), neg(c1));  // y[127-n] = -y[n]
            a[128 + n] += P::win(static_cast<uint32_t>(cur[127 - n]), c2);        // y[128+n]
            a[255 - n] += P::win(static_cast<uint32_t>(cur[n]), c2);              // y[255-n] = y[128+n]
        }
    }
    for (int p = 0; p < 448; ++p) sum[p] = P::out(ov[p], 0);
    for (int p = 448; p < 1024; ++p) sum[p] = P::out(ov[p], acc[p - 448]);
    for (int m = 0; m < 576; ++m) ov[m] = static_cast<int32_t>(static_cast<uint64_t>(acc[576 + m]));
    std::memset(ov + 576, 0, sizeof(Zuf32s) * 448);
}

// LONG_START second half: 1 below 448, the falling short window 448..575, 0 from 576.
inline uint32_t start_tail(const Zuf32s* shortCur, int m) {
    return m < 448 ? kOne : (m < 576 ? static_cast<uint32_t>(shortCur[575 - m]) : 0u);
}
// LONG_STOP first half: 0 below 448, the rising short window 448..575, 1 from 576.
inline uint32_t stop_head(const Zuf32s* shortPrev, int p) {
    return p < 448 ? 0u : (p < 576 ? static_cast<uint32_t>(shortPrev[p - 448]) : kOne);
}

// The vector forms of the three long sequences: the same factors, four at a time (the short
// window's 448 and 576 are multiples of 4, so no group straddles a border).
inline __m128i factors(const Zuf32s* w, int p) { return loadu_i128(w + p); }
inline __m128i factors_reversed(const Zuf32s* w, int last) { return reverse_epi32(loadu_i128(w + last - 3)); }

template <class P>
void only_long_sse2(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* prev, const Zuf32s* cur) {
    long_frame_sse2<P>(
        core, sum, ov, [=](int p) { return factors(prev, p); }, [=](int m) { return factors_reversed(cur, 1023 - m); });
}
template <class P>
void long_start_sse2(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* prev, const Zuf32s* shortCur) {
    long_frame_sse2<P>(
        core, sum, ov, [=](int p) { return factors(prev, p); },
        [=](int m) {
            return m < 448   ? _mm_set1_epi32(static_cast<int32_t>(kOne))
                   : m < 576 ? factors_reversed(shortCur, 575 - m)
                             : _mm_setzero_si128();
        });
}
template <class P>
void long_stop_sse2(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* shortPrev, const Zuf32s* cur) {
    long_frame_sse2<P>(
        core, sum, ov,
        [=](int p) {
            return p < 448   ? _mm_setzero_si128()
                   : p < 576 ? factors(shortPrev, p - 448)
                             : _mm_set1_epi32(static_cast<int32_t>(kOne));
        },
        [=](int m) { return factors_reversed(cur, 1023 - m); });
}

template <class P>
void only_long(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* prev, const Zuf32s* cur) {
    long_frame<P>(
        core, sum, ov, [=](int p) { return static_cast<uint32_t>(prev[p]); },
        [=](int m) { return static_cast<uint32_t>(cur[1023 - m]); });
}
template <class P>
void long_start(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* prev, const Zuf32s* shortCur) {
    long_frame<P>(
        core, sum, ov, [=](int p) { return static_cast<uint32_t>(prev[p]); },
        [=](int m) { return start_tail(shortCur, m); });
}
template <class P>
void long_stop(const Zuf32s* core, Zuf32s* sum, Zuf32s* ov, const Zuf32s* shortPrev, const Zuf32s* cur) {
    long_frame<P>(
        core, sum, ov, [=](int p) { return stop_head(shortPrev, p); },
        [=](int m) { return static_cast<uint32_t>(cur[1023 - m]); });
}

const Zuf32s* long_window(int shape) { return shape ? pWinKBDLong : pWinSINLong; }
const Zuf32s* short_window(int shape) { return shape ? pWinKBDShort : pWinSINShort; }

// Core transform(s) in place on x, then the frame's windowing and overlap-add into sum.
template <class P, bool kScaled>
void synthesis(Zuf32s* x, Zuf32s* sum, Zuf32s* ov, int seq, int shape, int prevShape) {
    if (seq == aac::kEightShort) {
        for (int w = 0; w < 8; ++w) mdct_inv_core<kScaled>(x + 128 * w, 128);
        short_frame<P>(x, sum, ov, short_window(prevShape), short_window(shape));
        return;
    }
    mdct_inv_core<kScaled>(x, 1024);
    switch (seq) {
        case aac::kLongStart:
            long_start_sse2<P>(x, sum, ov, long_window(prevShape), short_window(shape));
            break;
        case aac::kLongStop:
            long_stop_sse2<P>(x, sum, ov, short_window(prevShape), long_window(shape));
            break;
        default:
            only_long_sse2<P>(x, sum, ov, long_window(prevShape), long_window(shape));
            break;
    }
}

}  // namespace

int ownsBlockScale_32s(Zuf32s* z, int count, int64_t s) {
    int sigma = 0;
    while (s > 0x1FFFFFFF) {
        s >>= 1;
        ++sigma;
    }
    if (sigma > 0)
        for (int i = 0; i < count; ++i) z[i] = static_cast<int32_t>(rshift_round(z[i], sigma));
    return sigma;
}

void ownsMDCTInv_Radix2_32s(Zuf32s* pSrcDst, int n) { mdct_inv_core<true>(pSrcDst, n); }
void ownsMDCTInv_Radix2_32s_I(Zuf32s* pSrcDst, int n) { mdct_inv_core<false>(pSrcDst, n); }
void ownsMDCTInv_Radix2_ref(Zuf32s* pSrcDst, int n, bool scaled) {
    scaled ? mdct_inv_core<true, false>(pSrcDst, n) : mdct_inv_core<false, false>(pSrcDst, n);
}

void ownsOverlapAdd_Long_32s(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    only_long_sse2<Path16>(c, s, o, p, k);
}
void ownsOverlapAdd_LongStart_32s(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    long_start_sse2<Path16>(c, s, o, p, k);
}
void ownsOverlapAdd_LongStop_32s(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    long_stop_sse2<Path16>(c, s, o, p, k);
}
void ownsOverlapAdd_Short_32s(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    short_frame<Path16>(c, s, o, p, k);
}
void ownsOverlapAdd_Long_AAC_32s_I(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    only_long_sse2<Path32>(c, s, o, p, k);
}
void ownsOverlapAdd_LongStart_AAC_32s_I(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    long_start_sse2<Path32>(c, s, o, p, k);
}
void ownsOverlapAdd_LongStop_AAC_32s_I(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    long_stop_sse2<Path32>(c, s, o, p, k);
}
void ownsOverlapAdd_Short_AAC_32s_I(const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p, const Zuf32s* k) {
    short_frame<Path32>(c, s, o, p, k);
}

// The scalar references of the three long sequences, indexed by window_sequence (0, 1, 3) and path
// (0: 16-bit, 1: 32-bit).
void ownsOverlapAdd_Long_ref(int seq, int wide, const Zuf32s* c, Zuf32s* s, Zuf32s* o, const Zuf32s* p,
                             const Zuf32s* k) {
    if (seq == aac::kLongStart)
        wide ? long_start<Path32>(c, s, o, p, k) : long_start<Path16>(c, s, o, p, k);
    else if (seq == aac::kLongStop)
        wide ? long_stop<Path32>(c, s, o, p, k) : long_stop<Path16>(c, s, o, p, k);
    else
        wide ? only_long<Path32>(c, s, o, p, k) : only_long<Path16>(c, s, o, p, k);
}

void ownsPcmAudioOutput_32s16s_ref(const Zuf32s* pSum, Zuf16s* pDst, int stride) {
    for (int p = 0; p < 1024; ++p) pDst[p * stride] = sat16((int64_t{pSum[p]} + 4) >> 3);
}

// Eight samples per step: (sum + 4) >> 3 cannot wrap in 32 bits after the shift is taken into
// account (the sum is first halved, see below), and packs saturates exactly like sat16. Stereo
// output (stride 2) stores each 16-bit lane on its own, so the other channel's samples are never
// touched.
void ownsPcmAudioOutput_32s16s_sse2(const Zuf32s* pSum, Zuf16s* pDst, int stride) {
    // (s + 4) >> 3 == ((s >> 1) + 2) >> 2 for every 32-bit s, and (s >> 1) + 2 does not overflow.
    const __m128i two = _mm_set1_epi32(2);
    for (int p = 0; p < 1024; p += 8) {
        const __m128i a = loadu_i128(pSum + p), b = loadu_i128(pSum + p + 4);
        const __m128i ra = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(a, 1), two), 2);
        const __m128i rb = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(b, 1), two), 2);
        const __m128i v = _mm_packs_epi32(ra, rb);
        if (stride == 1) {
            storeu_i128(pDst + p, v);
            continue;
        }
        Zuf16s* d = pDst + 2 * p;
        d[0] = static_cast<Zuf16s>(_mm_extract_epi16(v, 0));
        d[2] = static_cast<Zuf16s>(_mm_extract_epi16(v, 1));
        d[4] = static_cast<Zuf16s>(_mm_extract_epi16(v, 2));
        d[6] = static_cast<Zuf16s>(_mm_extract_epi16(v, 3));
        d[8] = static_cast<Zuf16s>(_mm_extract_epi16(v, 4));
        d[10] = static_cast<Zuf16s>(_mm_extract_epi16(v, 5));
        d[12] = static_cast<Zuf16s>(_mm_extract_epi16(v, 6));
        d[14] = static_cast<Zuf16s>(_mm_extract_epi16(v, 7));
    }
}

void ownsPcmAudioOutput_32s16s(const Zuf32s* pSum, Zuf16s* pDst, int stride) {
    ownsPcmAudioOutput_32s16s_sse2(pSum, pDst, stride);
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsMDCTInv_AAC_32s16s(Zuf32s* pSrc, Zuf16s* pDst, Zuf32s* pSrcDstOverlap,
                                                    int windowSequence, int windowShape, int prevWindowShape,
                                                    int stride) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pSrcDstOverlap), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(windowShape, 0, 1) && zuf::in_range(prevWindowShape, 0, 1), zufErrAacWinShape);
    ZUF_REQUIRE(zuf::in_range(stride, 1, 2), zufErrAacStride);
    alignas(16) Zuf32s sum[1024];
    zuf::synthesis<zuf::Path16, true>(pSrc, sum, pSrcDstOverlap, windowSequence, windowShape, prevWindowShape);
    zuf::ownsPcmAudioOutput_32s16s(sum, pDst, stride);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsMDCTInv_AAC_32s_I(Zuf32s* pSrcDst, Zuf32s* pSrcDstOverlap, int windowSequence,
                                                   int windowShape, int prevWindowShape, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst, pSrcDstOverlap), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(windowShape, 0, 1) && zuf::in_range(prevWindowShape, 0, 1), zufErrAacWinShape);
    ZUF_REQUIRE(len == 1024, zufErrSize);
    alignas(16) Zuf32s sum[1024];
    zuf::synthesis<zuf::Path32, false>(pSrcDst, sum, pSrcDstOverlap, windowSequence, windowShape, prevWindowShape);
    std::memcpy(pSrcDst, sum, sizeof(sum));
    return zufOk;
}
