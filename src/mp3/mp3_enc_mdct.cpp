// Layer III encoder, hybrid forward transform (ISO/IEC 11172-3 Annex C.1.5.3.3): per subband,
// frequency inversion, the 36-point MDCT with the block type's window (three 12-point ones for
// short blocks), the short blocks' reordering into the bit stream's band order, and the alias-
// reduction butterflies that the decoder undoes.
//
// Scale. The decoder's inverse (mp3_imdct.cpp) is the standard's unnormalised IMDCT at one
// quarter, lines with 26 fractional bits to subband samples with 24. The unnormalised IMDCT of
// the MDCT of 2M windowed samples gives M/2 times the input after windowed overlap-add (M = 18
// long, 6 short), so the forward transform is X_k = (2/M) sum_n v_n cos(pi / M (n + 1/2 + M/2)
// (k + 1/2)), and in our formats (times 2^26 / 2^24) its gain is 8 / M: 4/9 and 4/3, folded into
// the DCT-IV factors (mp3enc_Ccoef).
//
// Folding. With the windowed input split into quarters (a, b, c, d) of M/2 values, the MDCT is
// the M-point DCT-IV X_k = sum_n u_n cos(pi / M (n + 1/2)(k + 1/2)) of
// u = (-c_reversed - d, a - b_reversed). The transforms run in double precision and each line is
// rounded to the nearest integer (ties to even), as in the decoder.
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_enc_kernels.h"
#include "mp3/mp3_enc_tables.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

// The transforms are written once over the element type: double for one subband (the scalar
// reference), F64x2 (common/simd.h) for two adjacent subbands in the two lanes with SSE2, with
// the same operations in the same order, so the two agree bit for bit.

// The rounded line k of one subband (double) or of two (F64x2: the second subband 18 further).
inline void store_line(double v, Zuf32s* out, int k) { out[k] = round_sat32(v); }
inline void store_line(F64x2 v, Zuf32s* out, int k) {
    const __m128i r = round_sat32_pd(v.v);
    out[k] = _mm_cvtsi128_si32(r);
    out[18 + k] = _mm_cvtsi128_si32(_mm_shuffle_epi32(r, 1));
}

// The 36 inputs of subband sb (and sb + 1): the history's 18 samples, then the current 18, odd
// time samples negated in odd subbands (frequency inversion; a product by -1 is exact).
inline void load_inputs(const Zuf32s* hist, const Zuf32s* sub, int sb, double* z) {
    const double sign = (sb & 1) ? -1.0 : 1.0;
    for (int t = 0; t < 36; ++t) z[t] = (t < 18 ? hist[32 * t + sb] : sub[32 * (t - 18) + sb]) * ((t & 1) ? sign : 1.0);
}
inline void load_inputs(const Zuf32s* hist, const Zuf32s* sub, int sb, F64x2* z) {
    const __m128d odd = _mm_set_pd(-1.0, 1.0);  // sb is even: lane 1 holds the odd subband
    for (int t = 0; t < 36; ++t) {
        const __m128d v = cvt_lo_epi32_pd(load_i64(t < 18 ? hist + 32 * t + sb : sub + 32 * (t - 18) + sb));
        z[t].v = (t & 1) ? _mm_mul_pd(v, odd) : v;
    }
}

// M-point DCT-IV of the folded u with the factors c (row k), rounded.
template <int M, class T>
void dct4_round(const T* u, const double (*c)[M], Zuf32s* out) {
    for (int k = 0; k < M; ++k) {
        T s = u[0] * c[k][0];
        for (int n = 1; n < M; ++n) s = s + u[n] * c[k][n];
        store_line(s, out, k);
    }
}

// 36 time samples (window applied here) to 18 lines.
template <class T>
void mdct36(const T* z, const double* win, Zuf32s* out) {
    T u[18];
    for (int n = 0; n < 9; ++n) u[n] = (T{} - z[26 - n] * win[26 - n]) - z[27 + n] * win[27 + n];
    for (int n = 9; n < 18; ++n) u[n] = z[n - 9] * win[n - 9] - z[26 - n] * win[26 - n];
    dct4_round<18>(u, mp3enc_Ccoef, out);
}

// The three short windows of a subband, at samples 6, 12 and 18 of its 36: 6 lines each, window
// w at out[6 w].
template <class T>
void mdct12x3(const T* z, Zuf32s* out) {
    const double* w = mp3enc_WinShort;
    for (int win = 0; win < 3; ++win) {
        const T* x = z + 6 + 6 * win;
        T u[6];
        for (int n = 0; n < 3; ++n) u[n] = (T{} - x[8 - n] * w[8 - n]) - x[9 + n] * w[9 + n];
        for (int n = 3; n < 6; ++n) u[n] = x[n - 3] * w[n - 3] - x[8 - n] * w[8 - n];
        dct4_round<6>(u, mp3enc_CcoefShort, out + 6 * win);
    }
}

// Every subband's transform, one (double) or two (F64x2) at a time; an even subband and the odd
// one after it always share their block type.
template <class T>
void transform_all(const Zuf32s* sub, Zuf32s* xr, int block_type, bool mixed, const Zuf32s* history) {
    constexpr int kLanes = sizeof(T) / sizeof(double);
    for (int sb = 0; sb < 32; sb += kLanes) {
        T z[36];
        load_inputs(history, sub, sb, z);
        const int type = (mixed && sb < 2) ? 0 : block_type;  // mixed: the two lowest subbands normal
        if (type == 2)
            mdct12x3(z, xr + 18 * sb);
        else
            mdct36(z, mp3enc_WinLong[type == 1 ? 1 : type == 3 ? 2 : 0], xr + 18 * sb);
    }
}

// The decoder's butterfly run backwards between subbands sb - 1 and sb: a' = a cs + b ca,
// b' = b cs - a ca (ISO/IEC 11172-3 Annex C.1.5.3.3, Figure C.8).
void alias_butterflies(Zuf32s* xr, int sb) {
    Zuf32s* a = xr + 18 * sb - 1;
    Zuf32s* b = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
        const double bu = a[-i], bd = b[i];
        a[-i] = round_sat32(bu * cCs[i] + bd * cCa[i]);
        b[i] = round_sat32(bd * cCs[i] - bu * cCa[i]);
    }
}

// Short lines from the per-subband window triples (entry 18 q + 6 w + j = window w, frequency
// 6 q + j) into the bit stream's order: per short band from first_band, window 0, 1, 2 in turn.
void reorder_short(const Zuf32s* triples, Zuf32s* xr, const Zuf16s* sfb, int first_band) {
    for (int b = first_band; b < 13; ++b) {
        const int s = sfb[b], width = sfb[b + 1] - s;
        Zuf32s* dst = xr + 3 * s;
        for (int w = 0; w < 3; ++w)
            for (int f = s; f < s + width; ++f) *dst++ = triples[18 * (f / 6) + 6 * w + f % 6];
    }
}

}  // namespace

namespace {

// After the transforms: short reordering, butterflies, and the history takes the current granule.
void finish(const Zuf32s* sub, Zuf32s* xr, int block_type, bool mixed, const Zuf16s* sfb_short, Zuf32s* history) {
    const bool short_blocks = block_type == 2;
    if (short_blocks) {
        // The history is spent: it holds the triples while they are reordered (mixed blocks keep
        // lines 0..35, and the short part starts at band 3 = line 36).
        const int first_line = mixed ? 36 : 0;
        std::memcpy(history + first_line, xr + first_line, sizeof(Zuf32s) * (576 - first_line));
        reorder_short(history, xr, sfb_short, mixed ? 3 : 0);
    }
    const int boundaries = !short_blocks ? 31 : mixed ? 1 : 0;
    for (int sb = 1; sb <= boundaries; ++sb) alias_butterflies(xr, sb);
    std::memcpy(history, sub, sizeof(Zuf32s) * 576);
}

}  // namespace

void ownsMDCTFwd_MP3_ref(const Zuf32s* sub, Zuf32s* xr, int block_type, int mixed, const Zuf16s* sfb_short,
                         Zuf32s* history) {
    transform_all<double>(sub, xr, block_type, mixed != 0, history);
    finish(sub, xr, block_type, mixed != 0, sfb_short, history);
}

void ownsMDCTFwd_MP3(const Zuf32s* sub, Zuf32s* xr, int block_type, int mixed, const Zuf16s* sfb_short,
                     Zuf32s* history) {
    transform_all<F64x2>(sub, xr, block_type, mixed != 0, history);
    finish(sub, xr, block_type, mixed != 0, sfb_short, history);
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsMDCTFwd_MP3_32s(const Zuf32s* pSrc, Zuf32s* pDst, int blockType, int mixedBlock,
                                                 const Mp3FrameHeader* pFrameHeader, Zuf32s* pSrcDstHistory) {
    ZUF_REQUIRE(nonnull(pSrc, pDst, pFrameHeader, pSrcDstHistory), zufErrNullPtr);
    // No range checks on the block fields: any block type other than 1, 2, 3 is the normal one.
    const int row = (pFrameHeader->ID == 1 ? 3 : 0) + (pFrameHeader->sampling_frequency == 1   ? 1
                                                       : pFrameHeader->sampling_frequency == 2 ? 2
                                                                                               : 0);
    ownsMDCTFwd_MP3(pSrc, pDst, blockType, mixedBlock, _zuf_pMP3SfbTableShort + 14 * row, pSrcDstHistory);
    return zufOk;
}
