// Layer III encoder, polyphase analysis filter bank (ISO/IEC 11172-3 Annex C.1.3, the same for all
// layers): 32 new PCM samples (with the 480 before them) to 32 subband samples.
//
// Windowing. Y[i] = sum_j C[i + 64 j] X[i + 64 j], X[0] the newest sample: 16-bit samples times
// C 2^30 summed exactly, then (sum + 2^19) >> 20, so Y is the standard's Z with the PCM full
// scale 2^15 and 10 more bits (|Y| < 2^21 for any input: sum |C| over a column is below 0.045).
//
// The SSE2 version forms the same sums with pmaddwd. Each coefficient is split as
// C = hi 2^14 + lo with lo in -8191..8192, so that the eight products X lo of a column sum
// within 32 bits (8 * 32768 * 8192 = 2^31 only for the negative extreme) and the products X hi
// (|hi| <= 2345) too. The total is hi_sum 2^14 + lo_sum, and with lo_sum = q 2^14 + r
// (0 <= r < 2^14): floor((hi_sum 2^14 + lo_sum + 2^19) / 2^20) = (hi_sum + q + 32) >> 6, all in
// 32 bits, equal to the scalar result for every input.
//
// Matrixing. S[k] = sum_i cos((2k + 1)(i - 16) pi / 64) Y[i]: the cosine is even in i - 16 and
// changes sign about i - 16 = 32, so with a_0 = Y16, a_j = Y[16 + j] + Y[16 - j] (j = 1..16,
// Y[0] for j = 16), a_j = Y[16 + j] - Y[80 - j] (j = 17..31) and Y48 dropped (cos(pi/2 (2k+1))
// = 0), S[k] = sum_j a_j cos((2k + 1) j pi / 64), a 32-point DCT-III. It splits into the
// DCT-III of the even a (the same transform at half size, recursively) and the sums
// O_k = sum_j a_(2j+1) cos((2k + 1)(2j + 1) pi / 2N) with X_k = E_k + O_k, X_(N-1-k) = E_k - O_k:
// 341 products of Q30 factors instead of 1024, summed in 64 bits and rounded once, so the
// matrixing adds only that one rounding. The gain 1/2 turns Y (2^25 per unit) into subband
// samples with 24 fractional bits.
#include <cstdint>
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_enc_kernels.h"
#include "mp3/mp3_enc_tables.h"

namespace zuf {

void ownsAnalysisWindow_MP3_ref(const Zuf16s* pcm, int step, Zuf32s* y) {
    for (int i = 0; i < 64; ++i) {
        int64_t sum = 0;
        for (int j = 0; j < 8; ++j) {
            const int n = i + 64 * j;
            sum += static_cast<int64_t>(pcm[(511 - n) * step]) * _pEncWinC_MP3[n];
        }
        y[i] = static_cast<Zuf32s>((sum + (1 << 19)) >> 20);
    }
}

namespace {

// Four samples at pcm[n step], pcm[(n + 1) step], ..., as the low four 16-bit lanes. Reads
// nothing outside pcm[0 .. 511 step].
inline __m128i load4(const Zuf16s* pcm, int n, int step) {
    if (step == 1) return load_i64(pcm + n);
    // Interleaved: the even 16-bit lanes of the eight values from pcm[2n], or, for the newest
    // four (whose eighth value would lie past the last sample read), the odd lanes of the eight
    // from pcm[2n - 1]; sign-extended to 32 bits and packed back.
    __m128i v;
    if (n + 3 < 511)
        v = _mm_srai_epi32(_mm_slli_epi32(loadu_i128(pcm + 2 * n), 16), 16);
    else
        v = _mm_srai_epi32(loadu_i128(pcm + 2 * n - 1), 16);
    return _mm_packs_epi32(v, v);
}

}  // namespace

void ownsAnalysisWindow_MP3_sse2(const Zuf16s* pcm, int step, Zuf32s* y) {
    for (int b = 0; b < 16; ++b) {
        // Outputs i = 4b .. 4b + 3; lane e holds i = 4b + 3 - e, whose sample of tap j sits at
        // address index 508 - 4b - 64 j + e.
        const __m128i(*w)[4] = reinterpret_cast<const __m128i(*)[4]>(_pEncWinPairs_MP3[b]);
        __m128i hi = _mm_setzero_si128(), lo = _mm_setzero_si128();
        for (int p = 0; p < 4; ++p) {
            const int n = 508 - 4 * b - 128 * p;
            const __m128i x = _mm_unpacklo_epi16(load4(pcm, n, step), load4(pcm, n - 64, step));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(x, w[0][p]));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(x, w[1][p]));
        }
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(hi, _mm_srai_epi32(lo, 14)), _mm_set1_epi32(32));
        storeu_i128(y + 4 * b, _mm_shuffle_epi32(_mm_srai_epi32(sum, 6), _MM_SHUFFLE(0, 1, 2, 3)));
    }
}

namespace {

// The odd-part sums o_k = sum_j in_j c[M k + j] (M a multiple of 4, |in_j| < 2^22, |c| < 2^30)
// with the unsigned 32 x 32 -> 64-bit multiply, four products of a row per step: on the biased
// operands in' = in + 2^22 and c' = c + 2^30, sum in' c' - 2^30 sum in' - 2^22 sum_j c = o_k
// exactly (the row sums come with the table), and every sum stays below 2^64.
template <int M>
void odd_part_sse2(const Zuf32s* in, const Zuf32s* c, const Zuf64s* rowSum, int64_t* o) {
    __m128i even[M / 4], odd[M / 4];
    uint64_t total = 0;
    for (int b = 0; b < M / 4; ++b) {
        const __m128i v = _mm_add_epi32(loadu_i128(in + 4 * b), _mm_set1_epi32(1 << 22));
        even[b] = v;
        odd[b] = _mm_srli_epi64(v, 32);
        for (int j = 0; j < 4; ++j) total += static_cast<uint32_t>(in[4 * b + j] + (1 << 22));
    }
    for (int k = 0; k < M; ++k) {
        __m128i acc = _mm_setzero_si128();
        for (int b = 0; b < M / 4; ++b) {
            const __m128i w = _mm_add_epi32(loadu_i128(c + M * k + 4 * b), _mm_set1_epi32(1 << 30));
            acc = _mm_add_epi64(acc,
                                _mm_add_epi64(_mm_mul_epu32(w, even[b]), _mm_mul_epu32(_mm_srli_epi64(w, 32), odd[b])));
        }
        acc = _mm_add_epi64(acc, _mm_unpackhi_epi64(acc, acc));
        uint64_t sum;
        std::memcpy(&sum, &acc, sizeof sum);
        o[k] = static_cast<int64_t>(sum - (total << 30) - (static_cast<uint64_t>(rowSum[k]) << 22));
    }
}

// N-point DCT-III out_k = sum_j in_j cos((2k + 1) j pi / 2N) in Q30 (64-bit), the odd-part
// factors of size N at c and their row sums at rowSum. kSse2: the odd parts of N = 32, 16 and 8
// in SSE2 (odd_part_sse2, the same exact sums; the only reader of the row sums).
template <int N, bool kSse2>
struct DctIII {
    static void run(const Zuf32s* in, int64_t* out, const Zuf32s* c, const Zuf64s* rowSum) {
        constexpr int M = N / 2;
        Zuf32s even[M], odd[M];
        for (int j = 0; j < M; ++j) even[j] = in[2 * j], odd[j] = in[2 * j + 1];
        int64_t e[M], o[M];
        constexpr bool kVector = kSse2 && M >= 4;
        DctIII<M, kSse2>::run(even, e, c + M * M, rowSum + (kVector ? M : 0));  // row sums of vector levels only
        if constexpr (kVector) {
            odd_part_sse2<M>(odd, c, rowSum, o);
        } else {
            for (int k = 0; k < M; ++k) {
                o[k] = 0;
                for (int j = 0; j < M; ++j) o[k] += static_cast<int64_t>(odd[j]) * c[M * k + j];
            }
        }
        for (int k = 0; k < M; ++k) {
            out[k] = e[k] + o[k];
            out[N - 1 - k] = e[k] - o[k];
        }
    }
};

template <bool kSse2>
struct DctIII<1, kSse2> {
    static void run(const Zuf32s* in, int64_t* out, const Zuf32s*, const Zuf64s*) {
        out[0] = static_cast<int64_t>(in[0]) << 30;
    }
};

// The folded inputs a_j of the matrixing (see the top of the file).
inline void fold(const Zuf32s* y, Zuf32s* a) {
    a[0] = y[16];
    for (int j = 1; j <= 16; ++j) a[j] = y[16 + j] + y[16 - j];
    for (int j = 17; j < 32; ++j) a[j] = y[16 + j] - y[80 - j];
}

// Both forms: fold, the 32-point DCT-III, then gain 1/2 (Q30 and one more bit, rounded half up).
template <bool kSse2>
void dct_inv32(const Zuf32s* y, Zuf32s* s) {
    Zuf32s a[32];
    fold(y, a);
    int64_t x[32];
    DctIII<32, kSse2>::run(a, x, _pAnaDctQ30, _pAnaDctRowSumQ30);
    for (int k = 0; k < 32; ++k) s[k] = static_cast<Zuf32s>(rshift_round(x[k], 31));
}

}  // namespace

void ownsDCTInv32_MP3_32s_ref(const Zuf32s* y, Zuf32s* s) { dct_inv32<false>(y, s); }

void ownsDCTInv32_MP3_32s_sse2(const Zuf32s* y, Zuf32s* s) { dct_inv32<true>(y, s); }

void ownsDCTInv32_MP3_32s(const Zuf32s* y, Zuf32s* s) { ownsDCTInv32_MP3_32s_sse2(y, s); }

void ownsAnalysisPQMF_MP3(const Zuf16s* pcm, Zuf32s* s, int step) {
    alignas(16) Zuf32s y[64];
    ownsAnalysisWindow_MP3_sse2(pcm, step, y);
    ownsDCTInv32_MP3_32s(y, s);
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsAnalysisPQMF_MP3_16s32s(const Zuf16s* pSrc, Zuf32s* pDst, int step) {
    ZUF_REQUIRE(nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(step == 1 || step == 2, zufErrBadArg);
    ownsAnalysisPQMF_MP3(pSrc, pDst, step);
    return zufOk;
}
