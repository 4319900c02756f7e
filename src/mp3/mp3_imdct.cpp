// Layer III hybrid synthesis, first half (ISO/IEC 11172-3 2.4.3.4.10): alias reduction, inverse
// MDCT with the block type's window, overlap-add and frequency inversion.
//
// Values in: xr with 26 fractional bits. Values out: subband samples with 24 fractional bits,
// one quarter of the standard's windowed IMDCT of xr (so 1.0 of the synthesis input is 16-bit
// full scale). The transforms run in double precision and every output is rounded to the
// nearest integer (ties to even), saturated to 32 bits.
//
// 36-point IMDCT. x_i = sum_k X_k cos(pi / 72 (2i + 19)(2k + 1)) is the 18-point DCT-IV
// y_m = sum_k X_k cos(pi / 72 (2m + 1)(2k + 1)) unfolded: x = (y9..y17, -y17..-y0, -y0..-y8).
// The DCT-IV goes to a DCT-III through Z_k = X_k + X_(k-1), since
// 2 cos(pi (2m + 1) / 72) y_m = sum_k Z_k cos(pi (2m + 1) k / 36) =: u_m; the even-indexed Z
// form a 9-point DCT-III E_m, the odd-indexed ones a 9-point DCT-IV, which the same step turns
// into a 9-point DCT-III of Z_(2j+1) + Z_(2j-1) times 1 / (2 cos(pi (2m + 1) / 36)): O_m. Then
// u_m = E_m + O_m and u_(17-m) = E_m - O_m. A 9-point DCT-III has outputs m and 8 - m from the
// same two half sums (even j and odd j), which halves its products. The final
// 1 / (2 cos(pi (2m + 1) / 72)), the sign of the unfolding, the window and the gain 1/4 are one
// table entry per output (DCTWinLong).
// 12-point IMDCT (short windows): the 6-point DCT-IV unfolded as (y3, y4, y5, -y5..-y0, -y0,
// -y1, -y2), times sin(pi (i + 1/2) / 12) / 4 (DCTWinShort); windows overlap at 6, 12, 18.
//
// The transforms are written once over an element type: double for the scalar reference, and
// F64x2 (common/simd.h) for two adjacent subbands at once with SSE2, which does the same
// operations in the same order and so gives the same results bit for bit.
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_kernels.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

// 36 windowed outputs of 18 lines, each handed to put(i, value) as soon as it is formed: u_m
// feeds outputs 26 - m and m + 27 (m < 9) or m - 9 and 26 - m (m >= 9).
template <class T, class Put>
[[gnu::always_inline]] inline void imdct36(const T* x, const double* win, Put put) {
    T e[9], o[9], zo[9];
    e[0] = x[0];
    for (int j = 1; j < 9; ++j) e[j] = x[2 * j] + x[2 * j - 1];
    for (int j = 0; j < 9; ++j) zo[j] = x[2 * j + 1] + x[2 * j];
    o[0] = zo[0];
    for (int j = 1; j < 9; ++j) o[j] = zo[j] + zo[j - 1];
    const auto emit = [&](int m, T u) [[gnu::always_inline]] {
        const int i0 = m < 9 ? 26 - m : m - 9, i1 = m < 9 ? m + 27 : 26 - m;
        put(i0, u * win[i0]);
        put(i1, u * win[i1]);
    };
#pragma GCC unroll 5
    for (int m = 0; m < 5; ++m) {
        const double* c = DCT36Coeff + 8 * m;
        // Even and odd half sums of both 9-point transforms.
        const T ee = e[0] + e[2] * c[0] + e[4] * c[1] + e[6] * c[2] + e[8] * c[3];
        const T eo = e[1] * c[4] + e[3] * c[5] + e[5] * c[6] + e[7] * c[7];
        const T oe = o[0] + o[2] * c[0] + o[4] * c[1] + o[6] * c[2] + o[8] * c[3];
        const T oo = o[1] * c[4] + o[3] * c[5] + o[5] * c[6] + o[7] * c[7];
        if (m < 4) {
            const T e_lo = ee + eo, e_hi = ee - eo;                                        // E_m, E_8-m
            const T o_lo = (oe + oo) * DCT36Post[m], o_hi = (oe - oo) * DCT36Post[8 - m];  // O_m, O_8-m
            emit(m, e_lo + o_lo);
            emit(17 - m, e_lo - o_lo);
            emit(8 - m, e_hi + o_hi);
            emit(9 + m, e_hi - o_hi);
        } else {  // m = 4 = 8 - m: the odd half sums vanish
            const T o4 = oe * DCT36Post[4];
            emit(4, ee + o4);
            emit(13, ee - o4);
        }
    }
}

// 36 outputs of the three overlapped 12-point transforms (window w's six lines at 6w..6w+5),
// each handed to put(i, value). Window w covers outputs 6 + 6w .. 17 + 6w: outputs 12..23 are
// the sum of two windows, 6..11 and 24..29 come from one, the rest are zero.
template <class T, class Put>
[[gnu::always_inline]] inline void imdct12x3(const T* x, Put put) {
    T v[3][12];
    for (int w = 0; w < 3; ++w) {
        T y[6];
        for (int m = 0; m < 6; ++m) {
            const double* c = DCT12x3Coef + 6 * m;
            T s = x[6 * w] * c[0];
            for (int k = 1; k < 6; ++k) s = s + x[6 * w + k] * c[k];
            y[m] = s;
        }
        for (int i = 0; i < 3; ++i) v[w][i] = y[i + 3] * DCTWinShort[i];
        for (int i = 3; i < 9; ++i) v[w][i] = y[8 - i] * DCTWinShort[i];
        for (int i = 9; i < 12; ++i) v[w][i] = y[i - 9] * DCTWinShort[i];
    }
    for (int i = 0; i < 6; ++i) {
        put(i, T{});
        put(6 + i, v[0][i]);
        put(12 + i, v[0][6 + i] + v[1][i]);
        put(18 + i, v[1][6 + i] + v[2][i]);
        put(24 + i, v[2][6 + i]);
        put(30 + i, T{});
    }
}

const double* long_window(int block_type) { return DCTWinLong[block_type == 1 ? 1 : block_type == 3 ? 2 : 0]; }

// Butterflies between subbands sb - 1 and sb (ISO/IEC 11172-3 2.4.3.4.10.1), one at a time.
void alias_reduce_ref(Zuf32s* xr, int sb) {
    Zuf32s* a = xr + 18 * sb - 1;
    Zuf32s* b = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
        const double bu = a[-i], bd = b[i];
        a[-i] = round_sat32(bu * cCs[i] - bd * cCa[i]);
        b[i] = round_sat32(bd * cCs[i] + bu * cCa[i]);
    }
}

// The same, two at a time:
// a' = a cs - b ca, b' = b cs + a ca with a = line 18 sb - 1 - i, b = line 18 sb + i, each
// rounded to the nearest integer. The eight lines on each side are loaded and stored four at a
// time, the lower side reversed so that lane i holds butterfly i.
void alias_reduce_sse2(Zuf32s* xr, int sb) {
    Zuf32s* a = xr + 18 * sb - 8;  // lines 18 sb - 8 .. 18 sb - 1: butterflies 7 .. 0
    Zuf32s* b = xr + 18 * sb;
    const auto reverse = [](__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); };
    const __m128i a_lo = reverse(loadu_i128(a + 4)), a_hi = reverse(loadu_i128(a));  // butterflies 0..3, 4..7
    const __m128i b_lo = loadu_i128(b), b_hi = loadu_i128(b + 4);
    const __m128d bu[4] = {cvt_lo_epi32_pd(a_lo), cvt_hi_epi32_pd(a_lo), cvt_lo_epi32_pd(a_hi), cvt_hi_epi32_pd(a_hi)};
    const __m128d bd[4] = {cvt_lo_epi32_pd(b_lo), cvt_hi_epi32_pd(b_lo), cvt_lo_epi32_pd(b_hi), cvt_hi_epi32_pd(b_hi)};
    __m128i ra[4], rb[4];
    for (int k = 0; k < 4; ++k) {
        const __m128d cs = loadu_d128(cCs + 2 * k), ca = loadu_d128(cCa + 2 * k);
        ra[k] = round_sat32_pd(_mm_sub_pd(_mm_mul_pd(bu[k], cs), _mm_mul_pd(bd[k], ca)));
        rb[k] = round_sat32_pd(_mm_add_pd(_mm_mul_pd(bd[k], cs), _mm_mul_pd(bu[k], ca)));
    }
    storeu_i128(a + 4, reverse(_mm_unpacklo_epi64(ra[0], ra[1])));
    storeu_i128(a, reverse(_mm_unpacklo_epi64(ra[2], ra[3])));
    storeu_i128(b, _mm_unpacklo_epi64(rb[0], rb[1]));
    storeu_i128(b + 4, _mm_unpacklo_epi64(rb[2], rb[3]));
}

// Overlap-add and frequency inversion of one subband's 36 transform outputs.
inline void overlap_add(const Zuf32s* v, Zuf32s* ov, Zuf32s* y, int sb) {
    const bool invert = sb & 1;  // odd subbands: odd time slots negated
    for (int t = 0; t < 18; ++t) {
        Zuf32s s = wrap_add(v[t], ov[t]);
        if (invert && (t & 1)) s = wrap_sub(0, s);
        y[32 * t + sb] = s;
        ov[t] = v[18 + t];
    }
}

// The same for an even subband sb and the odd one after it, from their interleaved transform
// outputs w (w[2i] subband sb, w[2i + 1] subband sb + 1): their outputs sit side by side.
inline void overlap_add_pair(const Zuf32s* w, Zuf32s* ov0, Zuf32s* ov1, Zuf32s* y, int sb) {
    const __m128i odd_t = _mm_set_epi32(-1, 0, 0, 0);  // the odd subband in the odd slot
    for (int t = 0; t < 16; t += 4) {
        const __m128i o0 = loadu_i128(ov0 + t);
        const __m128i o1 = loadu_i128(ov1 + t);
        // Slots t, t + 1 and t + 2, t + 3 of both subbands; odd slots of the odd subband negated.
        __m128i lo = _mm_add_epi32(loadu_i128(w + 2 * t), _mm_unpacklo_epi32(o0, o1));
        __m128i hi = _mm_add_epi32(loadu_i128(w + 2 * t + 4), _mm_unpackhi_epi32(o0, o1));
        lo = _mm_sub_epi32(_mm_xor_si128(lo, odd_t), odd_t);
        hi = _mm_sub_epi32(_mm_xor_si128(hi, odd_t), odd_t);
        store_i64(y + 32 * t + sb, lo);
        store_i64(y + 32 * (t + 1) + sb, _mm_unpackhi_epi64(lo, lo));
        store_i64(y + 32 * (t + 2) + sb, hi);
        store_i64(y + 32 * (t + 3) + sb, _mm_unpackhi_epi64(hi, hi));
        // New overlap: outputs 18 + t .. 21 + t, split back into the two subbands.
        const __m128i n0 = loadu_i128(w + 36 + 2 * t);                      // a, b, a, b
        const __m128i n1 = loadu_i128(w + 36 + 2 * t + 4);                  // a, b, a, b
        const __m128i s0 = _mm_shuffle_epi32(n0, _MM_SHUFFLE(3, 1, 2, 0));  // a, a, b, b
        const __m128i s1 = _mm_shuffle_epi32(n1, _MM_SHUFFLE(3, 1, 2, 0));
        storeu_i128(ov0 + t, _mm_unpacklo_epi64(s0, s1));
        storeu_i128(ov1 + t, _mm_unpackhi_epi64(s0, s1));
    }
    for (int t = 16; t < 18; ++t) {
        const Zuf32s s1 = wrap_add(w[2 * t + 1], ov1[t]);
        y[32 * t + sb] = wrap_add(w[2 * t], ov0[t]);
        y[32 * t + sb + 1] = (t & 1) ? wrap_sub(0, s1) : s1;
        ov0[t] = w[2 * (18 + t)];
        ov1[t] = w[2 * (18 + t) + 1];
    }
}

}  // namespace

void ownsImdct_MP3_ref(const Zuf32s* in, Zuf32s* out, int block_type) {
    double x[18];
    for (int k = 0; k < 18; ++k) x[k] = in[k];
    const auto put = [&](int i, double v) { out[i] = round_sat32(v); };
    if (block_type == 2)
        imdct12x3(x, put);
    else
        imdct36(x, long_window(block_type), put);
}

void ownsImdctPair_MP3_sse2(const Zuf32s* in, Zuf32s* out, int block_type) {
    F64x2 x[18];
    for (int k = 0; k < 16; k += 4) {
        const __m128i a = loadu_i128(in + k);
        const __m128i b = loadu_i128(in + 18 + k);
        const __m128i lo = _mm_unpacklo_epi32(a, b), hi = _mm_unpackhi_epi32(a, b);
        x[k].v = cvt_lo_epi32_pd(lo);
        x[k + 1].v = cvt_hi_epi32_pd(lo);
        x[k + 2].v = cvt_lo_epi32_pd(hi);
        x[k + 3].v = cvt_hi_epi32_pd(hi);
    }
    x[16].v = _mm_set_pd(in[34], in[16]);
    x[17].v = _mm_set_pd(in[35], in[17]);
    // Each output rounded and stored as soon as it is formed: no array of 36 waits in memory.
    const auto put = [&](int i, F64x2 v) { store_i64(out + 2 * i, round_sat32_pd(v.v)); };
    if (block_type == 2)
        imdct12x3(x, put);
    else
        imdct36(x, long_window(block_type), put);
}

void ownsMDCTInvWindow_MP3(const Zuf32s* in, Zuf32s* out, int block_type) { ownsImdct_MP3_ref(in, out, block_type); }

namespace {

// Subbands to transform: short blocks ceil(nz / 18); long blocks one more than the last
// subband with data, since alias reduction spreads 8 lines into the next subband.
int subbands_to_transform(int nz, int block_type, int mixed) {
    int n;
    if (block_type == 2) {
        n = (nz * 3641 + 61897) >> 16;
        if (mixed && n < 2) n = 2;
    } else {
        n = ((nz * 3641 + 29128) >> 16) + 1;
    }
    return n > 32 ? 32 : n;
}

// Alias-reduced boundaries 1..last: none for short blocks, only the one between the two long
// subbands of a mixed block.
int last_alias_boundary(int n, int block_type, int mixed) {
    if (block_type == 2 && !mixed) return 0;
    const int m = (block_type == 2 && n >= 3) ? 2 : n;
    return m - 1 > 1 ? m - 1 : 1;
}

// Subbands [from, 32): those the previous granule reached emit their overlap (zero input),
// the rest are zero.
void finish_subbands(Zuf32s* y, Zuf32s* overlap, int from, int active) {
    Zuf32s zero[36] = {};
    int sb = from;
    for (; sb < active; ++sb) overlap_add(zero, overlap + 18 * sb, y, sb);
    for (; sb < 32; ++sb)
        for (int t = 0; t < 18; ++t) y[32 * t + sb] = 0;
}

}  // namespace

void ownsMDCTInv_MP3_ref(Zuf32s* xr, Zuf32s* y, Zuf32s* overlap, int nz, int* prev, int block_type, int mixed) {
    const int n = subbands_to_transform(nz, block_type, mixed);
    for (int sb = 1, last = last_alias_boundary(n, block_type, mixed); sb <= last; ++sb) alias_reduce_ref(xr, sb);
    Zuf32s v[36];
    for (int sb = 0; sb < n; ++sb) {
        // mixed_block_flag: the two lowest subbands always take the normal window, whatever
        // the block type (ISO/IEC 11172-3 2.4.2.7).
        ownsImdct_MP3_ref(xr + 18 * sb, v, (mixed && sb < 2) ? 0 : block_type);
        overlap_add(v, overlap + 18 * sb, y, sb);
    }
    finish_subbands(y, overlap, n, n > *prev ? n : *prev);
    *prev = n;
}

void ownsMDCTInv_MP3(Zuf32s* xr, Zuf32s* y, Zuf32s* overlap, int nz, int* prev, int block_type, int mixed) {
    const int n = subbands_to_transform(nz, block_type, mixed);
    for (int sb = 1, last = last_alias_boundary(n, block_type, mixed); sb <= last; ++sb) alias_reduce_sse2(xr, sb);
    // Pairs of subbands (an even one and the odd one after it share their block type).
    auto type_of = [&](int sb) { return (mixed && sb < 2) ? 0 : block_type; };
    Zuf32s v0[36], w[72];
    int sb = 0;
    for (; sb + 1 < n; sb += 2) {
        ownsImdctPair_MP3_sse2(xr + 18 * sb, w, type_of(sb));
        overlap_add_pair(w, overlap + 18 * sb, overlap + 18 * (sb + 1), y, sb);
    }
    if (sb < n) {
        ownsImdct_MP3_ref(xr + 18 * sb, v0, type_of(sb));
        overlap_add(v0, overlap + 18 * sb, y, sb);
        ++sb;
    }
    finish_subbands(y, overlap, sb, n > *prev ? n : *prev);
    *prev = n;
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsMDCTInv_MP3_32s(Zuf32s* pSrcXr, Zuf32s* pDstY, Zuf32s* pSrcDstOverlap, int nonZeroBound,
                                      int* pPrevNumOfImdct, int blockType, int mixedBlock) {
    ZUF_REQUIRE(nonnull(pSrcXr, pDstY, pSrcDstOverlap, pPrevNumOfImdct), zufErrNullPtr);
    ZUF_REQUIRE(in_range(nonZeroBound, 0, 576) && in_range(blockType, 0, 3) && in_range(mixedBlock, 0, 1),
                zufErrBadArg);
    ZUF_REQUIRE(in_range(*pPrevNumOfImdct, 0, 32), zufErrBadArg);
    ownsMDCTInv_MP3(pSrcXr, pDstY, pSrcDstOverlap, nonZeroBound, pPrevNumOfImdct, blockType, mixedBlock);
    return zufOk;
}

ZUF_API zufResult zufsMDCTInvWindow_MP3_32s(Zuf32s* pSrc, Zuf32s* pDst, int blockType) {
    ownsMDCTInvWindow_MP3(pSrc, pDst, blockType);
    return zufOk;
}

}  // extern "C"
