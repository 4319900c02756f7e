// Layer III hybrid synthesis, second half: the 32-band polyphase synthesis filter bank
// (ISO/IEC 11172-3 2.4.3.2 / Annex A Figure A.2, the same for all layers).
//
// Matrixing. V_i = sum_k cos((16 + i)(2k + 1) pi / 64) S_k (i = 0..63) is, with X the 32-point
// cosine transform X_j = sum_k cos(j (2k + 1) pi / 64) S_k,
//     V_j = X_(16+j) (j < 16), V_16 = 0, V_j = -X_(48-j) (16 < j < 48), V_j = -X_(j-48) (j >= 48),
// so only X is kept. X comes from a fast (Lee) decomposition in double precision: X of N points
// is the N/2-point transform of the folded sums (even outputs) and of the folded differences times
// 1 / (2 cos((2k + 1) pi / 2N)) (odd outputs as neighbour sums). It is rounded to the nearest
// integer: V keeps the 24 fractional bits of the subband samples. The vector version runs the
// two 16-point halves side by side in the two lanes, with the same operations in the same order
// as the scalar one, so the two agree bit for bit.
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
// 16 - pos + s of a 33-entry run (_pDiQ30), which carries D_i and the sign of V.
// Each product is hi(value * D_Q30) = value * D / 4, summed in 32 bits; (sum + 64) >> 7 then
// scales V (1.0 = 2^24) times D / 512 to 16-bit PCM, saturated.
//
// The vector window stage forms the signed high halves from SSE2's unsigned 32 x 32 -> 64
// products. Every coefficient is c = c' 2^14 with |c'| < 2^17, so hi(v c) = floor(v c' / 2^18).
// With v_u = v + 2^31 (the sign bit flipped) and the positive multiplier m = c' + 2^18
// (_pDiQ16Biased): v_u m = v c' + 2^31 c' + 2^18 v_u, so
//     floor(v_u m / 2^18) = hi(v c) + c / 2 + v_u,
// one unsigned product (below 2^51) and one shift per term. Only the sum modulo 2^32 is wanted:
// the sixteen v_u of a row sum to the sum of its v (16 2^31 = 0 mod 2^32), shared by the two
// outputs that read the row, and the c / 2 of the sixteen ages of a row add up to a constant of
// the row, whatever pos is (_pDiHalfSum).
#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_kernels.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

// Unnormalised DCT-II of N points: out_j = sum_k in_k cos(pi (2k + 1) j / 2N), h[0] holding
// 1 / (2 cos((2k + 1) pi / 2N)) and h[1..] the factors of the smaller stages.
template <int N, class T>
struct Lee {
    static void run(const T* in, T* out, const double* const* h) {
        T a[N / 2], b[N / 2], A[N / 2], B[N / 2];
        const double* f = h[0];
        for (int k = 0; k < N / 2; ++k) {
            a[k] = in[k] + in[N - 1 - k];
            b[k] = (in[k] - in[N - 1 - k]) * f[k];
        }
        Lee<N / 2, T>::run(a, A, h + 1);
        Lee<N / 2, T>::run(b, B, h + 1);
        for (int j = 0; j < N / 2 - 1; ++j) {
            out[2 * j] = A[j];
            out[2 * j + 1] = B[j] + B[j + 1];
        }
        out[N - 2] = A[N / 2 - 1];
        out[N - 1] = B[N / 2 - 1];
    }
};

template <class T>
struct Lee<1, T> {
    static void run(const T* in, T* out, const double* const*) { out[0] = in[0]; }
};

const double* const kStages[5] = {H16, H8, H4, H2, H1};

inline const Zuf32s* row_e(const Zuf32s* hist, int k) { return hist + 32 + 16 * (k - 1); }
inline const Zuf32s* row_o(const Zuf32s* hist, int k) { return hist + 272 + 16 * (k - 1); }

inline Zuf32s window_dot(const Zuf32s* v, const Zuf32s* c) {
    Zuf32u sum = 0;
    for (int s = 0; s < 16; ++s) sum += static_cast<Zuf32u>(mulhi(v[s], c[s]));
    return static_cast<Zuf32s>(sum);
}

// One output's 16 terms floor(v_u m / 2^18), four slots at a time, in the two 64-bit lanes
// of acc. vu: four history values with their sign bits flipped; vu_odd: the odd ones in lanes 0, 2.
inline __m128i row_add(__m128i acc, __m128i vu, __m128i vu_odd, const Zuf32s* m) {
    acc = _mm_add_epi64(acc, _mm_srli_epi64(_mm_mul_epu32(vu, loadu_i128(m)), 18));
    acc = _mm_add_epi64(acc, _mm_srli_epi64(_mm_mul_epu32(vu_odd, loadu_i128(m + 1)), 18));
    // Keeps the compiler from regrouping the sums across the unrolled loop, which makes it
    // hold every product at once and spill them.
    __asm__("" : "+x"(acc));
    return acc;
}

// Accumulates history row v (16 slots) against the runs of outputs j1 and j2 (j2 < 0: one);
// rows[j] gets the row's values summed four lanes wide.
#if defined(__AVX2__)
// Eight slots per step, four products per multiply; the four 64-bit lanes fold to the two of the
// SSE2 form at the end (sums modulo 2^64 and 2^32: the same bits).
inline __m256i row_add8(__m256i acc, __m256i vu, __m256i vu_odd, const Zuf32s* m) {
    const __m256i* p = reinterpret_cast<const __m256i*>(m);
    acc = _mm256_add_epi64(acc, _mm256_srli_epi64(_mm256_mul_epu32(vu, _mm256_loadu_si256(p)), 18));
    acc = _mm256_add_epi64(
        acc,
        _mm256_srli_epi64(_mm256_mul_epu32(vu_odd, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + 1))), 18));
    __asm__("" : "+x"(acc));  // as in row_add
    return acc;
}
inline __m128i fold64(__m256i v) { return _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }
inline void window_rows(const Zuf32s* v, int j1, int j2, int c0, __m128i* acc, __m128i* rows) {
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    __m256i a = _mm256_setzero_si256(), b = a, rs = a;
    for (int i = 0; i < 16; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i));
        rs = _mm256_add_epi32(rs, x);
        const __m256i vu = _mm256_xor_si256(x, flip);
        const __m256i vu_odd = _mm256_srli_epi64(vu, 32);
        a = row_add8(a, vu, vu_odd, _pDiQ16Biased[j1] + c0 + i);
        if (j2 >= 0) b = row_add8(b, vu, vu_odd, _pDiQ16Biased[j2] + c0 + i);
    }
    const __m128i r = _mm_add_epi32(_mm256_castsi256_si128(rs), _mm256_extracti128_si256(rs, 1));
    acc[j1] = fold64(a);
    rows[j1] = r;
    if (j2 >= 0) acc[j2] = fold64(b), rows[j2] = r;
}
#else
inline void window_rows(const Zuf32s* v, int j1, int j2, int c0, __m128i* acc, __m128i* rows) {
    const __m128i flip = sign_bits_epi32();
    __m128i a = _mm_setzero_si128(), b = a, rs = a;
    for (int i = 0; i < 16; i += 4) {
        const __m128i x = loadu_i128(v + i);
        rs = _mm_add_epi32(rs, x);
        const __m128i vu = _mm_xor_si128(x, flip);
        const __m128i vu_odd = _mm_srli_epi64(vu, 32);
        a = row_add(a, vu, vu_odd, _pDiQ16Biased[j1] + c0 + i);
        if (j2 >= 0) b = row_add(b, vu, vu_odd, _pDiQ16Biased[j2] + c0 + i);
    }
    acc[j1] = a;
    rows[j1] = rs;
    if (j2 >= 0) acc[j2] = b, rows[j2] = rs;
}
#endif

inline __m128i pick_even_dwords(__m128i a, __m128i b) {  // a0, a2, b0, b2
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}
inline __m128i pick_odd_dwords(__m128i a, __m128i b) {  // a1, a3, b1, b3
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

// The sums of four outputs at once: the low dwords of both lanes, minus the row sums, minus the
// row constants.
inline __m128i reduce4(const __m128i* acc, const __m128i* rows, const Zuf32s* half) {
    const __m128i s01 = pick_even_dwords(acc[0], acc[1]);  // lane 0, lane 1 of outputs 0 and 1
    const __m128i s23 = pick_even_dwords(acc[2], acc[3]);
    const __m128i p = _mm_add_epi32(pick_even_dwords(s01, s23), pick_odd_dwords(s01, s23));
    const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(rows[0], rows[1]), _mm_unpackhi_epi32(rows[0], rows[1]));
    const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(rows[2], rows[3]), _mm_unpackhi_epi32(rows[2], rows[3]));
    const __m128i r = _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
    return _mm_sub_epi32(_mm_sub_epi32(p, r), loadu_i128(half));
}

}  // namespace

void ownsDct32_MP3_ref(const Zuf32s* src, Zuf32s* x) {
    double in[32], out[32];
    for (int k = 0; k < 32; ++k) in[k] = src[k];
    Lee<32, double>::run(in, out, kStages);
    for (int j = 0; j < 32; ++j) x[j] = round_sat32(out[j]);
}

void ownsDct32_MP3_sse2(const Zuf32s* src, Zuf32s* x) {
    alignas(16) double in[32];
    for (int k = 0; k < 32; k += 4) {
        const __m128i s = loadu_i128(src + k);
        store_d128(in + k, cvt_lo_epi32_pd(s));
        store_d128(in + k + 2, cvt_hi_epi32_pd(s));
    }
    // First stage: lane 0 the scaled folded difference, lane 1 the folded sum (SSE3's addsub
    // subtracts in lane 0 and adds in lane 1; x - y and x + (-y) are the same IEEE operation).
    // The broadcasts load from memory (movddup) rather than shuffle values GCC still holds in
    // registers: shuffles of doubles compete with the adds for one port on recent Intel cores.
    // Lane 1 keeps the sum as it is (a product by 1.0 would give the same bits).
    asm("" : "+m"(in));
    F64x2 ab[16], R[16];
    for (int k = 0; k < 16; ++k) {
        const __m128d t = _mm_addsub_pd(_mm_loaddup_pd(in + k), _mm_loaddup_pd(in + 31 - k));
        ab[k].v = _mm_move_sd(t, _mm_mul_sd(t, _mm_load_sd(H16 + k)));
    }
    Lee<16, F64x2>::run(ab, R, kStages + 1);
    // Lane 1: X_2j = A_j; lane 0: X_2j+1 = B_j + B_j+1. Two j at a time, the lanes of each put
    // back in order by one shuffle of the four results.
    const __m128d zero = _mm_setzero_pd();
    for (int j = 0; j < 16; j += 2) {
        const __m128d next2 = j < 14 ? _mm_move_sd(zero, R[j + 2].v) : zero;
        const __m128i r0 = round_sat32_pd(_mm_add_pd(R[j].v, _mm_move_sd(zero, R[j + 1].v)));
        const __m128i r1 = round_sat32_pd(_mm_add_pd(R[j + 1].v, next2));
        storeu_i128(x + 2 * j, _mm_shuffle_epi32(_mm_unpacklo_epi64(r0, r1), _MM_SHUFFLE(2, 3, 0, 1)));
    }
}

void ownsSynthWindow_MP3_ref(const Zuf32s* hist, int pos, Zuf32s* sums) {
    const bool even = (pos & 1) == 0;
    const int c0 = 16 - pos;
    sums[0] = window_dot(hist, _pDiQ30[0] + c0);
    for (int j = 1; j < 16; ++j) {
        const Zuf32s* v = even ? row_e(hist, j) : row_o(hist, j);
        sums[j] = window_dot(v, _pDiQ30[j] + c0);
        sums[32 - j] = window_dot(v, _pDiQ30[32 - j] + c0);
    }
    sums[16] = window_dot(hist + 16, _pDiQ30[16] + c0);
}

void ownsSynthWindow_MP3_sse2(const Zuf32s* hist, int pos, Zuf32s* sums) {
    const bool even = (pos & 1) == 0;
    const int c0 = 16 - pos;
    __m128i acc[32], rows[32];
    window_rows(hist, 0, -1, c0, acc, rows);
    for (int j = 1; j < 16; ++j) window_rows(even ? row_e(hist, j) : row_o(hist, j), j, 32 - j, c0, acc, rows);
    window_rows(hist + 16, 16, -1, c0, acc, rows);
    for (int j = 0; j < 32; j += 4) storeu_i128(sums + j, reduce4(acc + j, rows + j, _pDiHalfSum + j));
}

void ownsSynthPQMF_MP3(const Zuf32s* src, Zuf16s* dst, Zuf32s* hist, int* pPos, int step) {
    const int pos = (*pPos + 15) & 15;
    *pPos = pos;

    Zuf32s X[32];
    ownsDct32_MP3_sse2(src, X);
    hist[pos] = X[16];
    hist[16 + pos] = X[0];
    // Even slots: X_(16+k) to the E rows and X_(16-k) to the O rows; odd slots the other way.
    const bool even = (pos & 1) == 0;
    Zuf32s* up = hist + (even ? 32 : 272) + pos;
    Zuf32s* down = hist + (even ? 272 : 32) + pos;
    for (int k = 1; k < 16; ++k) {
        up[16 * (k - 1)] = X[16 + k];
        down[16 * (k - 1)] = X[16 - k];
    }

    alignas(16) Zuf32s sums[32];
    ownsSynthWindow_MP3_sse2(hist, pos, sums);
    // (sum + 64) >> 7 in 32-bit arithmetic, saturated to 16 bits.
    alignas(16) Zuf16s pcm[32];
    const __m128i r = _mm_set1_epi32(64);
    for (int j = 0; j < 32; j += 8) {
        const __m128i a = _mm_srai_epi32(_mm_add_epi32(load_i128(sums + j), r), 7);
        const __m128i b = _mm_srai_epi32(_mm_add_epi32(load_i128(sums + j + 4), r), 7);
        store_i128(pcm + j, _mm_packs_epi32(a, b));
    }
    if (step == 1) {
        for (int j = 0; j < 32; j += 8) storeu_i128(dst + j, load_i128(pcm + j));
    } else {
        // Every second sample, four at a time, the odd entries between them (the other channel)
        // kept as they are; the last four one by one, so that nothing past entry 62 is touched.
        const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFFFF0000u)), zero = _mm_setzero_si128();
        for (int j = 0; j < 28; j += 4) {
            const __m128i p = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pcm + j)), zero);
            storeu_i128(dst + 2 * j, _mm_or_si128(_mm_and_si128(loadu_i128(dst + 2 * j), keep), p));
        }
        for (int j = 28; j < 32; ++j) dst[2 * j] = pcm[j];
    }
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
