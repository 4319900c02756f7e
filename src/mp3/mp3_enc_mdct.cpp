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

// M-point DCT-IV of the folded u with the factors c (row k), rounded.
template <int M>
void dct4_round(const double* u, const double (*c)[M], Zuf32s* out) {
    for (int k = 0; k < M; ++k) {
        double s = u[0] * c[k][0];
        for (int n = 1; n < M; ++n) s += u[n] * c[k][n];
        out[k] = round_sat32(s);
    }
}

// 36 time samples (window applied here) to 18 lines.
void mdct36(const double* z, const double* win, Zuf32s* out) {
    double u[18];
    for (int n = 0; n < 9; ++n) u[n] = -z[26 - n] * win[26 - n] - z[27 + n] * win[27 + n];
    for (int n = 9; n < 18; ++n) u[n] = z[n - 9] * win[n - 9] - z[26 - n] * win[26 - n];
    dct4_round<18>(u, mp3enc_Ccoef, out);
}

// The three short windows of a subband, at samples 6, 12 and 18 of its 36: 6 lines each, window
// w at out[6 w].
void mdct12x3(const double* z, Zuf32s* out) {
    const double* w = mp3enc_WinShort;
    for (int win = 0; win < 3; ++win) {
        const double* x = z + 6 + 6 * win;
        double u[6];
        for (int n = 0; n < 3; ++n) u[n] = -x[8 - n] * w[8 - n] - x[9 + n] * w[9 + n];
        for (int n = 3; n < 6; ++n) u[n] = x[n - 3] * w[n - 3] - x[8 - n] * w[8 - n];
        dct4_round<6>(u, mp3enc_CcoefShort, out + 6 * win);
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

void ownsMDCTFwd_MP3(const Zuf32s* sub, Zuf32s* xr, int block_type, int mixed, const Zuf16s* sfb_short,
                     Zuf32s* history) {
    const bool short_blocks = block_type == 2;
    const double* win_long = mp3enc_WinLong[block_type == 1 ? 1 : block_type == 3 ? 2 : 0];
    for (int sb = 0; sb < 32; ++sb) {
        double z[36];
        for (int t = 0; t < 18; ++t) {
            z[t] = history[32 * t + sb];
            z[18 + t] = sub[32 * t + sb];
        }
        if (sb & 1)  // frequency inversion: odd time samples of odd subbands negated
            for (int t = 1; t < 36; t += 2) z[t] = -z[t];
        const bool long_here = mixed && sb < 2;  // mixed blocks: the two lowest subbands normal
        if (long_here)
            mdct36(z, mp3enc_WinLong[0], xr + 18 * sb);
        else if (short_blocks)
            mdct12x3(z, xr + 18 * sb);
        else
            mdct36(z, win_long, xr + 18 * sb);
    }
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

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsMDCTFwd_MP3_32s(const Zuf32s* pSrc, Zuf32s* pDst, int blockType, int mixedBlock,
                                                 const Mp3FrameHeader* pFrameHeader, Zuf32s* pSrcDstHistory) {
    ZUF_REQUIRE(nonnull(pSrc, pDst, pFrameHeader, pSrcDstHistory), zufErrNullPtr);
    // No range checks on the block fields: any block type other than 1, 2, 3 is the normal one.
    const int row = (pFrameHeader->ID == 1 ? 3 : 0) + (pFrameHeader->sampling_frequency == 1   ? 1
                                                       : pFrameHeader->sampling_frequency == 2 ? 2
                                                                                               : 0);
    ownsMDCTFwd_MP3(pSrc, pDst, blockType, mixedBlock != 0, _zuf_pMP3SfbTableShort + 14 * row, pSrcDstHistory);
    return zufOk;
}
