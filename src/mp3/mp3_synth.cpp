// Layer III hybrid synthesis, second half: the 32-band polyphase synthesis filter bank
// (ISO/IEC 11172-3 2.4.3.2 / Annex A Figure A.2, the same for all layers).
//
// Matrixing. V_i = sum_k cos((16 + i)(2k + 1) pi / 64) S_k (i = 0..63) is, with X the 32-point
// cosine transform X_j = sum_k cos(j (2k + 1) pi / 64) S_k,
//     V_j = X_(16+j) (j < 16), V_16 = 0, V_j = -X_(48-j) (16 < j < 48), V_j = -X_(j-48) (j >= 48),
// so only X is kept. X comes from a fast (Lee) decomposition in double precision: X of N points
// is the N/2-point transform of the folded sums (even outputs) and of the folded differences times
// 1 / (2 cos((2k + 1) pi / 2N)) (odd outputs as neighbour sums). It is rounded to the nearest
// integer: V keeps the 24 fractional bits of the subband samples.
//
// Window stage. Output j sums U_i D_i over i = j + 32 m (m = 0..15): the block m calls old gives
// V_j when m is even and V_(32+j) when m is odd. In terms of X, output j (1..15) needs X_(16+j)
// from even-aged blocks and X_(16-j) from odd-aged ones, and output 32 - j the very same values;
// output 0 needs X_16, output 16 needs X_0. The history holds, for each of the 16 slots:
//     row 0 (entries 0..15): X_16;  row 16 (16..31): X_0;
//     E rows k = 1..15 (32 + 16 (k - 1) + slot): X_(16+k) in even slots, X_(16-k) in odd ones;
//     O rows k = 1..15 (272 + 16 (k - 1) + slot): X_(16-k) in even slots, X_(16+k) in odd ones.
// A slot's age is (slot - pos) mod 16, so when pos is even the E rows hold exactly what outputs
// j and 32 - j need, and when it is odd the O rows do. The coefficient of slot s is entry
// 16 - pos + s of a 32-entry run (_pDiQ30), which carries D_i and the sign of V.
// Each product is hi(value * D_Q30) = value * D / 4, summed in 32 bits; (sum + 64) >> 7 then
// scales V (1.0 = 2^24) times D / 512 to 16-bit PCM, saturated.
#include <emmintrin.h>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

inline Zuf32s round_sat(double v) {
    if (v >= 2147483647.0) return 0x7FFFFFFF;
    if (v <= -2147483648.0) return static_cast<Zuf32s>(0x80000000u);
    return _mm_cvtsd_si32(_mm_set_sd(v));
}

// Unnormalised DCT-II of N points: out_j = sum_k in_k cos(pi (2k + 1) j / 2N).
template <int N>
struct Dct {
    static void run(const double* in, double* out, const double* const* h) {
        double a[N / 2], b[N / 2], A[N / 2], B[N / 2];
        const double* f = h[0];
        for (int k = 0; k < N / 2; ++k) {
            a[k] = in[k] + in[N - 1 - k];
            b[k] = (in[k] - in[N - 1 - k]) * f[k];
        }
        Dct<N / 2>::run(a, A, h + 1);
        Dct<N / 2>::run(b, B, h + 1);
        for (int j = 0; j < N / 2 - 1; ++j) {
            out[2 * j] = A[j];
            out[2 * j + 1] = B[j] + B[j + 1];
        }
        out[N - 2] = A[N / 2 - 1];
        out[N - 1] = B[N / 2 - 1];
    }
};

template <>
struct Dct<1> {
    static void run(const double* in, double* out, const double* const*) { out[0] = in[0]; }
};

const double* const kStages[5] = {H16, H8, H4, H2, H1};

inline Zuf32s window_dot(const Zuf32s* v, const Zuf32s* c) {
    Zuf32u sum = 0;
    for (int s = 0; s < 16; ++s) sum += static_cast<Zuf32u>(mulhi(v[s], c[s]));
    return static_cast<Zuf32s>(sum);
}

inline Zuf16s to_pcm(Zuf32s sum) { return sat16(wrap_add(sum, 64) >> 7); }

}  // namespace

void ownsSynthPQMF_MP3(const Zuf32s* src, Zuf16s* dst, Zuf32s* hist, int* pPos, int step) {
    const int pos = (*pPos + 15) & 15;
    *pPos = pos;

    double in[32], x[32];
    for (int k = 0; k < 32; ++k) in[k] = src[k];
    Dct<32>::run(in, x, kStages);
    Zuf32s X[32];
    for (int j = 0; j < 32; ++j) X[j] = round_sat(x[j]);

    Zuf32s* row0 = hist;
    Zuf32s* row16 = hist + 16;
    Zuf32s* E = hist + 32;
    Zuf32s* O = hist + 272;
    row0[pos] = X[16];
    row16[pos] = X[0];
    const bool even = (pos & 1) == 0;
    for (int k = 1; k < 16; ++k) {
        E[16 * (k - 1) + pos] = even ? X[16 + k] : X[16 - k];
        O[16 * (k - 1) + pos] = even ? X[16 - k] : X[16 + k];
    }

    const Zuf32s* P = even ? E : O;
    const int c0 = 16 - pos;
    dst[0] = to_pcm(window_dot(row0, _pDiQ30[0] + c0));
    for (int j = 1; j < 16; ++j) {
        const Zuf32s* v = P + 16 * (j - 1);
        dst[step * j] = to_pcm(window_dot(v, _pDiQ30[2 * j - 1] + c0));
        dst[step * (32 - j)] = to_pcm(window_dot(v, _pDiQ30[2 * j] + c0));
    }
    dst[step * 16] = to_pcm(window_dot(row16, _pDiQ30[31] + c0));
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsSynthPQMF_MP3_32s16s(const Zuf32s* pSrcY, Zuf16s* pDst, Zuf32s* pSrcDstHistory,
                                                      int* pHistoryPos, int step) {
    ZUF_REQUIRE(nonnull(pSrcY, pDst, pSrcDstHistory, pHistoryPos), zufErrNullPtr);
    ZUF_REQUIRE(in_range(step, 1, 2), zufErrBadArg);
    ZUF_REQUIRE(in_range(*pHistoryPos, 0, 15), zufErrBadArg);
    ownsSynthPQMF_MP3(pSrcY, pDst, pSrcDstHistory, pHistoryPos, step);
    return zufOk;
}
