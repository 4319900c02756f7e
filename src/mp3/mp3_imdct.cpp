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
// u_m = E_m + O_m and u_(17-m) = E_m - O_m. The final 1 / (2 cos(pi (2m + 1) / 72)), the sign
// of the unfolding, the window and the gain 1/4 are one table entry per output (DCTWinLong).
// 12-point IMDCT (short windows): the 6-point DCT-IV unfolded as (y3, y4, y5, -y5..-y0, -y0,
// -y1, -y2), times sin(pi (i + 1/2) / 12) / 4 (DCTWinShort); windows overlap at 6, 12, 18.
#include <emmintrin.h>

#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

// Nearest integer, ties to even (the SSE2 conversion in the default rounding mode), saturated.
inline Zuf32s round_sat(double v) {
    if (v >= 2147483647.0) return 0x7FFFFFFF;
    if (v <= -2147483648.0) return static_cast<Zuf32s>(0x80000000u);
    return _mm_cvtsd_si32(_mm_set_sd(v));
}

// 36 windowed outputs (doubles) of one subband's 18 lines.
void imdct36(const Zuf32s* in, const double* win, double* out) {
    double x[18];
    for (int k = 0; k < 18; ++k) x[k] = in[k];
    double e[9], zo[9], o[9];
    e[0] = x[0];
    for (int j = 1; j < 9; ++j) e[j] = x[2 * j] + x[2 * j - 1];
    for (int j = 0; j < 9; ++j) zo[j] = x[2 * j + 1] + x[2 * j];
    o[0] = zo[0];
    for (int j = 1; j < 9; ++j) o[j] = zo[j] + zo[j - 1];
    double u[18];
    for (int m = 0; m < 9; ++m) {
        const double* c = DCT36Coeff + 9 * m;
        double se = 0.0, so = 0.0;
        for (int j = 0; j < 9; ++j) {
            se += e[j] * c[j];
            so += o[j] * c[j];
        }
        so *= DCT36Post[m];
        u[m] = se + so;
        u[17 - m] = se - so;
    }
    for (int i = 0; i < 9; ++i) out[i] = u[i + 9] * win[i];
    for (int i = 9; i < 27; ++i) out[i] = u[26 - i] * win[i];
    for (int i = 27; i < 36; ++i) out[i] = u[i - 27] * win[i];
}

// 36 outputs of the three overlapped 12-point transforms of one subband (window w's six lines
// at in[6w .. 6w + 5]).
void imdct12x3(const Zuf32s* in, double* out) {
    for (int i = 0; i < 36; ++i) out[i] = 0.0;
    for (int w = 0; w < 3; ++w) {
        double y[6];
        for (int m = 0; m < 6; ++m) {
            const double* c = DCT12x3Coef + 6 * m;
            double s = 0.0;
            for (int k = 0; k < 6; ++k) s += in[6 * w + k] * c[k];
            y[m] = s;
        }
        double* z = out + 6 + 6 * w;
        for (int i = 0; i < 3; ++i) z[i] += y[i + 3] * DCTWinShort[i];
        for (int i = 3; i < 9; ++i) z[i] += y[8 - i] * DCTWinShort[i];
        for (int i = 9; i < 12; ++i) z[i] += y[i - 9] * DCTWinShort[i];
    }
}

void imdct_subband(const Zuf32s* in, Zuf32s* out, int block_type) {
    double v[36];
    if (block_type == 2) imdct12x3(in, v);
    else imdct36(in, DCTWinLong[block_type == 1 ? 1 : block_type == 3 ? 2 : 0], v);
    for (int i = 0; i < 36; ++i) out[i] = round_sat(v[i]);
}

// Butterflies between subbands sb - 1 and sb (ISO/IEC 11172-3 2.4.3.4.10.1).
void alias_reduce(Zuf32s* xr, int sb) {
    Zuf32s* a = xr + 18 * sb - 1;
    Zuf32s* b = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
        const double bu = a[-i], bd = b[i];
        a[-i] = round_sat(bu * cCs[i] - bd * cCa[i]);
        b[i] = round_sat(bd * cCs[i] + bu * cCa[i]);
    }
}

}  // namespace

void ownsMDCTInvWindow_MP3(const Zuf32s* in, Zuf32s* out, int block_type) { imdct_subband(in, out, block_type); }

void ownsMDCTInv_MP3(Zuf32s* xr, Zuf32s* y, Zuf32s* overlap, int nz, int* prev, int block_type, int mixed) {
    // Subbands to transform: short blocks ceil(nz / 18); long blocks one more than the last
    // subband with data, since alias reduction spreads 8 lines into the next subband.
    int n;
    if (block_type == 2) {
        n = (nz * 3641 + 61897) >> 16;
        if (mixed && n < 2) n = 2;
    } else {
        n = ((nz * 3641 + 29128) >> 16) + 1;
    }
    if (n > 32) n = 32;
    if (block_type != 2 || mixed) {
        const int m = (block_type == 2 && n >= 3) ? 2 : n;
        const int last = m - 1 > 1 ? m - 1 : 1;
        for (int sb = 1; sb <= last; ++sb) alias_reduce(xr, sb);
    }
    const int active = n > *prev ? n : *prev;
    static const Zuf32s kZero[18] = {};
    for (int sb = 0; sb < active; ++sb) {
        Zuf32s v[36];
        if (sb < n) {
            // mixed_block_flag: the two lowest subbands always take the normal window, whatever
            // the block type (ISO/IEC 11172-3 2.4.2.7); the others take block_type's.
            const int bt = (mixed && sb < 2) ? 0 : block_type;
            imdct_subband(xr + 18 * sb, v, bt);
        } else {
            imdct_subband(kZero, v, 0);  // all zeros: only the overlap is emitted
        }
        Zuf32s* ov = overlap + 18 * sb;
        const bool invert = sb & 1;  // frequency inversion: odd subbands, odd slots
        for (int t = 0; t < 18; ++t) {
            Zuf32s s = wrap_add(v[t], ov[t]);
            if (invert && (t & 1)) s = wrap_sub(0, s);
            y[32 * t + sb] = s;
            ov[t] = v[18 + t];
        }
    }
    for (int sb = active; sb < 32; ++sb)
        for (int t = 0; t < 18; ++t) y[32 * t + sb] = 0;
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
