// Layer III psychoacoustic model two (ISO/IEC 11172-3 Annex D, model 2 as used for Layer III), in
// fixed point: FFT analysis, unpredictability, partition energies, spreading, tonality-dependent
// threshold, pre-echo control, threshold in quiet, perceptual entropy, block switching and the
// stereo decision. Formats and the energy scale are in mp3_psy.h; the tables' in
// tools/gen/gen_mp3_psy_tables.py.
#include "mp3/mp3_psy.h"

#include <cstdint>
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_enc_math.h"
#include "transforms/fft_32sc.h"

namespace zuf {

namespace {

constexpr int kLines = 513;              // long FFT lines 0..512
constexpr Zuf32s kCwHigh = 858993459;    // unpredictability 0.4 in Q31 above line 205
constexpr int kShortCwLimit = 206;       // lines below it take their unpredictability from the short FFTs
constexpr Zuf32s kTonalCb = 1071379501;  // cb >= 0.4989: tb = 0, threshold 6 dB below
constexpr Zuf32s kNoiseCb = 104798000;   // cb < 0.0488: tb = 1, threshold 18 dB below
constexpr Zuf32s kTonalF = 1078847007;   // 10^(-0.6) in Q32
constexpr Zuf32s kNoiseF = 68070644;     // 10^(-1.8) in Q32
constexpr Zuf32s kFScale = 1232338071;   // 0.5739 in Q31: f = 0.5739 cb^1.18813
constexpr Zuf32s kLog10Of2 = 646456993;  // log10(2) in Q31
constexpr int kPeShortEnergy = 801, kPeShort = 1001;

// (e f) >> s for e >= 0 up to 2^62 and a factor 0 <= f < 2^31, s = 31 or 32, exact (floor) in 64
// bits: e = h 2^32 + l splits the 95-bit product.
inline Zuf64s mul64(Zuf64s e, Zuf32s f, int s) {
#if defined(__SIZEOF_INT128__)
    return static_cast<Zuf64s>((static_cast<__int128>(e) * f) >> s);  // the same floor, one multiply
#else
    const Zuf64s h = e >> 32;
    const Zuf64u l = static_cast<Zuf64u>(e) & 0xFFFFFFFFu;
    return ((h * f) << (32 - s)) + static_cast<Zuf64s>((l * static_cast<Zuf64u>(f)) >> s);
#endif
}

inline Zuf64s min64(Zuf64s a, Zuf64s b) { return a < b ? a : b; }
inline Zuf64s max64(Zuf64s a, Zuf64s b) { return a > b ? a : b; }

// num / den = mn 2^en / (md 2^ed), 1 / (md / 2^31) = rec / 2^30: in Q31 (mn rec) 2^(en - ed - 30).
inline Zuf32s ratio_from(Zuf32s mn, int en, int ed, Zuf32s rec) {
    const Zuf64u prod = static_cast<Zuf64u>(mn) * static_cast<Zuf64u>(rec);  // < 2^62
    const int s = 30 + ed - en;
    if (s <= 0) return INT32_MAX;
    if (s >= 64) return 0;
    const Zuf64u v = prod >> s;
    return v > INT32_MAX ? INT32_MAX : static_cast<Zuf32s>(v);
}

// num / den in Q31 for num, den >= 0, saturated to 2^31 - 1 (also for den = 0): den normalised
// to a 32-bit mantissa, its reciprocal times the normalised numerator.
Zuf32s ratio_q31(Zuf64s num, Zuf64s den) {
    if (den <= 0) return INT32_MAX;
    if (num <= 0) return 0;
    int en, ed;
    const Zuf32s mn = ownsNorm64_Audio_64s32s(num, &en), md = ownsNorm64_Audio_64s32s(den, &ed);
    return ratio_from(mn, en, ed, ownsReciprocal_Audio_32s(md));
}

// ratio_q31 of two pairs, the reciprocals side by side.
void ratio_q31_pair(Zuf64s num0, Zuf64s den0, Zuf64s num1, Zuf64s den1, Zuf32s* r0, Zuf32s* r1) {
    if (den0 <= 0 || num0 <= 0 || den1 <= 0 || num1 <= 0) {
        *r0 = ratio_q31(num0, den0);
        *r1 = ratio_q31(num1, den1);
        return;
    }
    int en0, ed0, en1, ed1;
    const Zuf32s mn0 = ownsNorm64_Audio_64s32s(num0, &en0), md0 = ownsNorm64_Audio_64s32s(den0, &ed0);
    const Zuf32s mn1 = ownsNorm64_Audio_64s32s(num1, &en1), md1 = ownsNorm64_Audio_64s32s(den1, &ed1);
    Zuf32s rec0, rec1;
    ownsReciprocalPair_Audio_32s(md0, md1, &rec0, &rec1);
    *r0 = ratio_from(mn0, en0, ed0, rec0);
    *r1 = ratio_from(mn1, en1, ed1, rec1);
}

// ---------------------------------------------------------------- FFT analysis

// Forward FFT of n = 2m real samples held in z as m complex values (x_2i + j x_2i+1), order of m
// given; writes lines 0..m as (re, im) to dst. The complex FFT leaves Z; then with A = Z_k,
// B = conj Z_(m-k), E = (A + B) / 2 and O = (A - B) / 2 the real transform is X_k = E - j W^k O,
// W = e^(-j 2 pi / n), the twiddle (c, s) = (cos, sin)(2 pi k / n) read from the 1024-point table.
void real_fft(Zuf32s* z, Zuf32s* dst, int order) {
    const int m = 1 << order, stride = 512 / m;
    ownsIMDCT_FFT_32sc_I(z, order);
    // Lines k and m - k share their sums and products: E and O change sign in the imaginary and
    // real part respectively, and the twiddle of m - k is (-c, s) (the table is symmetric).
    const int64_t half = int64_t{1} << 30;
    for (int k = 0; 2 * k <= m; ++k) {
        const int a = k & (m - 1), b = (m - k) & (m - 1), t = k * stride;
        const int64_t ar = z[2 * a], ai = z[2 * a + 1], br = z[2 * b], bi = -int64_t{z[2 * b + 1]};
        const int64_t er = ar + br, ei = ai + bi, or_ = ar - br, oi = ai - bi;  // 2E, 2O
        int64_t c, s;                                                           // Q30
        if (t < 256) {
            c = pPsyFftTwiddle_MP3[2 * t];
            s = pPsyFftTwiddle_MP3[2 * t + 1];
        } else {  // t = 256 (k = m / 2): a quarter turn, (cos, sin) = (0, 1)
            c = -int64_t{pPsyFftTwiddle_MP3[1]};
            s = pPsyFftTwiddle_MP3[0];
        }
        const int64_t e = er * (int64_t{1} << 30), f = ei * (int64_t{1} << 30);
        const int64_t so = s * or_, co = c * oi, si = s * oi, cr = c * or_;
        dst[2 * k] = static_cast<Zuf32s>((e - so + co + half) >> 31);
        dst[2 * k + 1] = static_cast<Zuf32s>((f - si - cr + half) >> 31);
        if (2 * k == m) break;
        dst[2 * (m - k)] = static_cast<Zuf32s>((e + so - co + half) >> 31);
        dst[2 * (m - k) + 1] = static_cast<Zuf32s>((-f - si - cr + half) >> 31);
    }
}

inline Zuf64s energy(const Zuf32s* x) { return int64_t{x[0]} * x[0] + int64_t{x[1]} * x[1]; }

// Magnitude and unit vector (cos, sin in Q30) of one line.
struct Polar {
    Zuf32s r, c, s;
};

Polar polar(const Zuf32s* x) {
    const Zuf64s e = energy(x);
    if (e == 0) return {0, 1 << 30, 0};
    int ex, er;
    const Zuf32s m = ownsNorm64_Audio_64s32s(e, &ex);
    const Zuf32s root = ownsSqrtNorm_Audio_32s(m, ex, &er);  // |X| = root 2^er, below 2^30
    Zuf32s r = er < 0 ? static_cast<Zuf32s>(rshift_round(root, -er)) : root;
    if (r == 0) r = 1;
    return {r, static_cast<Zuf32s>((int64_t{x[0]} * (1 << 30)) / r),
            static_cast<Zuf32s>((int64_t{x[1]} * (1 << 30)) / r)};
}

// A line kept in the state; a zeroed state holds the silent line, phase 0.
inline Polar history(Zuf32s r, const Zuf32s* unit) {
    if (unit[0] == 0 && unit[1] == 0) return {r, 1 << 30, 0};
    return {r, unit[0], unit[1]};
}

// Unpredictability of a line X = (re, im) with polar form p, predicted from the two earlier values
// p1 (the nearer) and p2: magnitude 2 r1 - r2, phase 2 phi1 - phi2 (the unit vector u1^2 conj u2,
// u1^2 = (2 c1^2 - 1, 2 c1 s1)); cw = |X - Xpred| / (r + |rpred|) in Q31, saturated.
Zuf32s unpredictability(const Zuf32s* x, const Polar& p, const Polar& p1, const Polar& p2) {
    const int64_t one = int64_t{1} << 30;
    const int64_t cc = ((2 * int64_t{p1.c} * p1.c) >> 30) - one, ss = (2 * int64_t{p1.c} * p1.s) >> 30;
    const int64_t uc = (cc * p2.c + ss * p2.s) >> 30, us = (ss * p2.c - cc * p2.s) >> 30;
    const int64_t rp = 2 * int64_t{p1.r} - p2.r;
    // Differences below 2^32; a quarter of them keeps the squares in range.
    const int64_t dr = (x[0] - ((rp * uc) >> 30)) >> 2, di = (x[1] - ((rp * us) >> 30)) >> 2;
    const int64_t den = (p.r + (rp < 0 ? -rp : rp)) >> 2;
    if (den == 0) return 0;
    int ex, er;
    const Zuf32s m = ownsNorm64_Audio_64s32s(dr * dr + di * di, &ex);
    if (m == 0) return 0;
    const Zuf32s root = ownsSqrtNorm_Audio_32s(m, ex, &er);
    const int64_t num = er < 0 ? rshift_round(root, -er) : int64_t{root} << er;  // |X - Xpred| / 4
    const int64_t cw = (num << 31) / den;
    return cw > INT32_MAX ? INT32_MAX : static_cast<Zuf32s>(cw);
}

// ---------------------------------------------------------------- partitions

// Sum over partitions of per-line values given by f(line).
template <class F>
void partition_sums(const Zuf16s* bounds, int n, Zuf64s* out, F f) {
    for (int b = 0; b < n; ++b) {
        Zuf64s sum = 0;
        for (int i = bounds[b]; i < bounds[b + 1]; ++i) sum += f(i);
        out[b] = sum;
    }
}

// K sums over the same factors, sum[i] = sum over j < n of floor(e[i][j] f[j] / 2^31), two
// products at a time with the unsigned 32 x 32 -> 64-bit multiply: with e = h 2^32 + l,
// floor(e f / 2^31) = 2 h f + floor(l f / 2^31) exactly, and both products fit in 64 bits
// (h < 2^30, l < 2^32, f < 2^31).
template <int K>
inline void weighted_sums(const Zuf64s* const* e, const Zuf32s* f, int n, Zuf64s* sum) {
    __m128i acc[K];
    for (int i = 0; i < K; ++i) acc[i] = _mm_setzero_si128();
    int j = 0;
    for (; j + 2 <= n; j += 2) {
        const __m128i w = _mm_unpacklo_epi32(load_i64(f + j), _mm_setzero_si128());
        for (int i = 0; i < K; ++i) {
            const __m128i v = loadu_i128(e[i] + j);
            const __m128i lo = _mm_mul_epu32(v, w), hi = _mm_mul_epu32(_mm_srli_epi64(v, 32), w);
            acc[i] = _mm_add_epi64(acc[i], _mm_add_epi64(_mm_slli_epi64(hi, 1), _mm_srli_epi64(lo, 31)));
        }
    }
    for (int i = 0; i < K; ++i) {
        const __m128i a = _mm_add_epi64(acc[i], _mm_unpackhi_epi64(acc[i], acc[i]));
        std::memcpy(&sum[i], &a, sizeof sum[i]);
        if (j < n) sum[i] += mul64(e[i][j], f[j], 31);
    }
}

// Spread values: out[b] = sum over b's source range of s(b, j) in[j] (Q31 factors, packed).
void spread(const Zuf16s* bound, const Zuf32s* packed, int n, const Zuf64s* in, Zuf64s* out) {
    for (int b = 0; b < n; ++b) {
        const int first = bound[2 * b], count = bound[2 * b + 1] - first;
        const Zuf64s* e[1] = {in + first};
        weighted_sums<1>(e, packed, count, out + b);
        packed += count;
    }
}

// Two spreads with the same function: outA from inA, outB from inB.
void spread2(const Zuf16s* bound, const Zuf32s* packed, int n, const Zuf64s* inA, Zuf64s* outA, const Zuf64s* inB,
             Zuf64s* outB) {
    for (int b = 0; b < n; ++b) {
        const int first = bound[2 * b], count = bound[2 * b + 1] - first;
        const Zuf64s* e[2] = {inA + first, inB + first};
        Zuf64s sum[2];
        weighted_sums<2>(e, packed, count, sum);
        outA[b] = sum[0];
        outB[b] = sum[1];
        packed += count;
    }
}

// Mid/side threshold coupling over n partitions (thresholds in place, spread energies e).
void couple_ms(Zuf64s* thrL, Zuf64s* thrR, Zuf64s* thrM, Zuf64s* thrS, const Zuf64s* eL, const Zuf64s* eR,
               const Zuf64s* eM, const Zuf64s* eS, const Zuf32s* bmld, int n) {
    for (int b = 0; b < n; ++b) {
        const Zuf64s l = thrL[b], r = thrR[b], m = thrM[b], s = thrS[b];
        const Zuf32s ratio = ratio_q31(min64(m, s), max64(m, s)), w = bmld[b];
        const Zuf64s lr = min64(l, r);
        thrL[b] = min64(l, max64(mul64(l, ratio, 31), mul64(eL[b], w, 31)));
        thrR[b] = min64(r, max64(mul64(r, ratio, 31), mul64(eR[b], w, 31)));
        thrM[b] = min64(lr, max64(m, min64(s, mul64(eS[b], w, 31))));
        thrS[b] = min64(lr, max64(s, min64(m, mul64(eM[b], w, 31))));
    }
}

// Ratio threshold / energy of each band from partition values (weighted edge partitions).
void band_ratios(const Zuf8u* first, const Zuf32s* weight, int bands, const Zuf64s* e, const Zuf64s* thr, Zuf32s* ratio,
                 int stride) {
    Zuf64s en[36], th[36];
    for (int s = 0; s < bands; ++s) {
        const int a = first[s], z = first[s + 1];
        const Zuf32s wa = weight[s], wz = INT32_MAX - weight[s + 1];
        en[s] = mul64(e[a], wa, 31) + mul64(e[z], wz, 31);
        th[s] = mul64(thr[a], wa, 31) + mul64(thr[z], wz, 31);
        for (int j = a + 1; j < z; ++j) {
            en[s] += e[j];
            th[s] += thr[j];
        }
    }
    // two bands at a time (a band without energy gets 2^31 - 1 from ratio_q31)
    int s = 0;
    for (; s + 2 <= bands; s += 2)
        ratio_q31_pair(th[s], en[s], th[s + 1], en[s + 1], &ratio[s * stride], &ratio[(s + 1) * stride]);
    if (s < bands) ratio[s * stride] = ratio_q31(th[s], en[s]);
}

// ---------------------------------------------------------------- one granule

struct Frame {
    const PsyTables_MP3* t;
    int analysed;  // 1, 2 or 4 channels
};

// Spectra, unpredictability and short energies of the input channels (left, right).
void analyse_input(const Zuf16s* pcm, int nch, int ch, PsyWork_MP3* w, Mp3PsyState* st) {
    ownsPsyWindow_MP3(pcm + ch, nch, pHannWinLong_MP3, 1024, w->fft);
    Zuf32s* X = w->longX[ch];
    real_fft(w->fft, X, 9);
    for (int win = 0; win < 3; ++win) {  // short windows centred on the granule's three short blocks
        ownsPsyWindow_MP3(pcm + ch + 192 * (win + 1) * nch, nch, pHannWinShort_MP3, 256, w->fft);
        real_fft(w->fft, w->shortX[ch][win], 7);
    }
    Zuf32s* cw = w->cw[ch];
    Zuf32s* mag = &st->magHistory[ch][0][0];
    Zuf32s* unit = &st->unitHistory[ch][0][0];
    for (int k = 0; k < 6; ++k) {  // long lines 0..5: predicted from the two previous granules
        const Polar p = polar(X + 2 * k);
        const Polar p1 = history(mag[k], unit + 2 * k), p2 = history(mag[6 + k], unit + 12 + 2 * k);
        cw[k] = unpredictability(X + 2 * k, p, p1, p2);
        mag[6 + k] = p1.r;
        unit[12 + 2 * k] = p1.c;
        unit[12 + 2 * k + 1] = p1.s;
        mag[k] = p.r;
        unit[2 * k] = p.c;
        unit[2 * k + 1] = p.s;
    }
    for (int j = 6; j < kShortCwLimit; j += 4) {  // lines j..j+3 from short bin (j + 2) / 4 across the windows
        const int k = (j + 2) / 4;
        const Zuf32s* x = w->shortX[ch][2] + 2 * k;
        const Zuf32s c =
            unpredictability(x, polar(x), polar(w->shortX[ch][1] + 2 * k), polar(w->shortX[ch][0] + 2 * k));
        for (int i = j; i < j + 4; ++i) cw[i] = c;
    }
    for (int i = kShortCwLimit; i < kLines; ++i) cw[i] = kCwHigh;
}

// Line energy of analysed channel a (left, right, mid, side) of spectra l, r.
inline Zuf64s line_energy(int a, const Zuf32s* l, const Zuf32s* r) {
    if (a < 2) return energy(a == 0 ? l : r);
    const Zuf64s cross = 2 * (int64_t{l[0]} * r[0] + int64_t{l[1]} * r[1]);
    return (energy(l) + energy(r) + (a == 2 ? cross : -cross)) >> 2;
}

// Long thresholds of channel a before the coupling (step 4 of the model).
void long_thresholds(const Frame& f, int a, PsyWork_MP3* w, Mp3PsyState* st) {
    const PsyTables_MP3& t = *f.t;
    PsyChannel_MP3& c = w->ch[a];
    const int n = t.numPartLong;
    const Zuf32s *l = w->longX[0], *r = w->longX[a == 0 ? 0 : 1];
    const Zuf32s* cwl = w->cw[a == 1 ? 1 : 0];
    const Zuf32s* cwr = w->cw[a == 0 ? 0 : 1];
    for (int b = 0; b < n; ++b) {  // energy and unpredictability-weighted energy in one pass
        Zuf64s se = 0, sw = 0;
        for (int i = t.partitionLong[b]; i < t.partitionLong[b + 1]; ++i) {
            const Zuf64s en = line_energy(a, l + 2 * i, r + 2 * i);
            se += en;
            sw += mul64(en, cwl[i] < cwr[i] ? cwl[i] : cwr[i], 31);
        }
        c.eLong[b] = se;
        c.wLong[b] = sw;
    }
    Zuf64s ct[64];
    spread2(t.spreadBoundLong, t.spreadPackedLong, n, c.eLong, c.ecbLong, c.wLong, ct);
    const bool prevShort = st->blockType[a & 1] == 2;
    Zuf64s* nb1 = st->nbLong[a][0];
    Zuf64s* nb2 = st->nbLong[a][1];
    Zuf32s tonality[64];
    int b = 0;
    for (; b + 2 <= n; b += 2)
        ratio_q31_pair(ct[b], c.ecbLong[b], ct[b + 1], c.ecbLong[b + 1], &tonality[b], &tonality[b + 1]);
    if (b < n) tonality[b] = ratio_q31(ct[b], c.ecbLong[b]);
    for (b = 0; b < n; ++b) {
        const Zuf32s cb = tonality[b];
        Zuf32s fq32;  // threshold factor, Q32
        if (cb >= kTonalCb)
            fq32 = kTonalF;
        else if (cb < kNoiseCb)
            fq32 = kNoiseF;
        else
            fq32 = static_cast<Zuf32s>((int64_t{kFScale} * ownsPow118813_Audio_32s(cb)) >> 30);
        const Zuf64s nb = c.ecbLong[b] == 0 ? 1 : mul64(c.ecbLong[b], fq32, 32);
        Zuf64s lim = min64(nb, 2 * nb1[b]);
        if (!prevShort) lim = min64(lim, 16 * nb2[b]);
        c.nbLong[b] = nb;
        c.thrLong[b] = max64(static_cast<Zuf64s>(t.quietLong[b]), lim);
        nb2[b] = nb1[b];
        nb1[b] = nb;
    }
}

// Short spread thresholds of channel a, per window (before the coupling and the time limit).
void short_thresholds(const Frame& f, int a, PsyWork_MP3* w) {
    const PsyTables_MP3& t = *f.t;
    PsyChannel_MP3& c = w->ch[a];
    const int n = t.numPartShort;
    for (int win = 0; win < 3; ++win) {
        const Zuf32s *l = w->shortX[0][win], *r = w->shortX[a == 0 ? 0 : 1][win];
        partition_sums(t.partitionShort, n, c.eShort[win], [&](int i) { return line_energy(a, l + 2 * i, r + 2 * i); });
        spread(t.spreadBoundShort, t.spreadPackedShort, n, c.eShort[win], c.ecbShort[win]);
        Zuf64s total = 0;
        for (int b = 0; b < n; ++b) {
            total += c.eShort[win][b];
            c.thrShort[win][b] = mul64(c.ecbShort[win][b], t.smrShort[b], 31);
        }
        c.energyShort[win] = total;
    }
}

// Time limit of the short thresholds (window 2 downward, each against the unlimited window before
// it, window 0 against the previous granule's window 2), threshold in quiet, and the band ratios.
void short_finish(const Frame& f, int a, PsyWork_MP3* w, Mp3PsyState* st) {
    const PsyTables_MP3& t = *f.t;
    PsyChannel_MP3& c = w->ch[a];
    const int n = t.numPartShort;
    Zuf64s prev2[48];
    std::memcpy(prev2, st->nbShort[a], sizeof prev2);
    std::memcpy(st->nbShort[a], c.thrShort[2], sizeof prev2);
    for (int win = 2; win >= 0; --win) {
        const Zuf64s* before = win > 0 ? c.thrShort[win - 1] : prev2;
        for (int b = 0; b < n; ++b)
            c.thrShort[win][b] = max64(static_cast<Zuf64s>(t.quietShort[b]), min64(c.thrShort[win][b], before[b]));
    }
    for (int win = 0; win < 3; ++win)
        band_ratios(t.sfbFirstPartShort, t.sfbWeightShort, 12, c.eShort[win], c.thrShort[win], c.ratioShort + win, 3);
}

// Perceptual entropy: sum of lines (b) log10(max(E / (T + 1), 1)), the terms in Q5.
Zuf32s perceptual_entropy(const PsyTables_MP3& t, const PsyChannel_MP3& c) {
    Zuf64s sum = 0;
    for (int b = 0; b < t.numPartLong; ++b) {
        if (c.eLong[b] <= 0) continue;
        int ee, et;
        const Zuf32s me = ownsNorm64_Audio_64s32s(c.eLong[b], &ee), mt = ownsNorm64_Audio_64s32s(c.thrLong[b] + 1, &et);
        Zuf32s le, lt;
        ownsLog2Pair_Audio_32s(me, mt, &le, &lt);
        const Zuf64s d = (Zuf64s{le} + ee * 65536) - (Zuf64s{lt} + et * 65536);  // log2 e - log2 (thr + 1), Q16
        if (d <= 0) continue;
        sum += ((t.partitionLong[b + 1] - t.partitionLong[b]) * d * kLog10Of2) >> (31 + 16 - 5);
    }
    return static_cast<Zuf32s>(sum >> 5);
}

void analyse_granule(const Frame& f, const Zuf16s* pcm, int nch, PsyWork_MP3* w, Mp3PsyState* st) {
    const PsyTables_MP3& t = *f.t;
    for (int ch = 0; ch < nch; ++ch) analyse_input(pcm, nch, ch, w, st);
    for (int a = 0; a < f.analysed; ++a) {
        long_thresholds(f, a, w, st);
        short_thresholds(f, a, w);
    }
    if (f.analysed == 4) {
        PsyChannel_MP3* c = w->ch;
        couple_ms(c[0].thrLong, c[1].thrLong, c[2].thrLong, c[3].thrLong, c[0].ecbLong, c[1].ecbLong, c[2].ecbLong,
                  c[3].ecbLong, t.bmldLong, t.numPartLong);
        for (int win = 0; win < 3; ++win)
            couple_ms(c[0].thrShort[win], c[1].thrShort[win], c[2].thrShort[win], c[3].thrShort[win],
                      c[0].ecbShort[win], c[1].ecbShort[win], c[2].ecbShort[win], c[3].ecbShort[win], t.bmldShort,
                      t.numPartShort);
    }
    for (int a = 0; a < f.analysed; ++a) {
        PsyChannel_MP3& c = w->ch[a];
        c.pe = perceptual_entropy(t, c);
        short_finish(f, a, w, st);
        band_ratios(t.sfbFirstPartLong, t.sfbWeightLong, 21, c.eLong, c.thrLong, c.ratioLong, 1);
    }
}

// Block switching of channel ch: returns the (revised) type of the granule output now and keeps
// the new decision in the state.
int switch_block(const PsyChannel_MP3& c, Mp3PsyState* st, int ch) {
    const Zuf64s* e = c.energyShort;
    const Zuf64s lo = min64(e[0], min64(e[1], e[2])), hi = max64(e[0], max64(e[1], e[2]));
    const bool wantShort = hi > 40 * lo || (hi > 8 * lo && c.pe >= kPeShortEnergy) || c.pe >= kPeShort;
    int prev = st->blockType[ch];
    if (wantShort) {
        if (prev == 0) prev = 1;
        if (prev == 3) prev = 2;
        st->blockType[ch] = 2;
    } else {
        st->blockType[ch] = prev == 2 ? 3 : 0;
    }
    return prev;
}

}  // namespace

// The windowed input times 16 for precision: |x| 16 <= 2^19, and 1024 of them stay within the
// complex FFT's headroom.
void ownsPsyWindow_MP3_ref(const Zuf16s* pcm, int step, const Zuf16s* win, int n, Zuf32s* z) {
    for (int i = 0; i < n; ++i) z[i] = ((int32_t{pcm[i * step]} * win[i]) >> 15) * 16;
}

// Eight samples at a time: the 32-bit products from the low and high halves of the 16-bit ones.
// With step 2 the even 16-bit lanes of 16 loaded values are the channel's; the last eight go the
// scalar way, so the loads never pass the channel's last sample.
void ownsPsyWindow_MP3(const Zuf16s* pcm, int step, const Zuf16s* win, int n, Zuf32s* z) {
    int i = 0;
    if (step == 1 || step == 2) {
        for (; i + 8 <= n - (step == 2 ? 8 : 0); i += 8) {
            __m128i x;
            if (step == 1) {
                x = loadu_i128(pcm + i);
            } else {
                const __m128i v0 = loadu_i128(pcm + 2 * i), v1 = loadu_i128(pcm + 2 * i + 8);
                x = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(v0, 16), 16),
                                    _mm_srai_epi32(_mm_slli_epi32(v1, 16), 16));
            }
            const __m128i w = loadu_i128(win + i);
            const __m128i lo = _mm_mullo_epi16(x, w), hi = _mm_mulhi_epi16(x, w);
            storeu_i128(z + i, _mm_slli_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 15), 4));
            storeu_i128(z + i + 4, _mm_slli_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 15), 4));
        }
    }
    ownsPsyWindow_MP3_ref(pcm + i * step, step, win + i, n - i, z + i);
}

Zuf64s ownsWeightedSum_MP3_ref(const Zuf64s* e, const Zuf32s* f, int n) {
    Zuf64s sum = 0;
    for (int j = 0; j < n; ++j) sum += mul64(e[j], f[j], 31);
    return sum;
}

void ownsWeightedSums_MP3(const Zuf64s* a, const Zuf64s* b, const Zuf32s* f, int n, Zuf64s* pSa, Zuf64s* pSb) {
    const Zuf64s* e[2] = {a, b};
    Zuf64s sum[2];
    weighted_sums<2>(e, f, n, sum);
    *pSa = sum[0];
    *pSb = sum[1];
}

void ownsPsychoacousticModelTwo_MP3(const Zuf16s* pcm, Mp3PsyOutput* out, Zuf32s* bound, Mp3SideInfo* si,
                                    Mp3FrameHeader* hdr, Mp3PsyState* st, PsyWork_MP3* w) {
    const int nch = hdr->mode == 3 ? 1 : 2, ngr = hdr->ID == 1 ? 2 : 1;
    const bool joint = hdr->mode == 1;
    const int sf = hdr->sampling_frequency >= 0 && hdr->sampling_frequency <= 2 ? hdr->sampling_frequency : 0;
    const Frame f = {&_zuf_pPsyTables_MP3[sf], joint ? 4 : nch};
    for (int g = 0; g < ngr; ++g) {
        analyse_granule(f, pcm + 576 * nch * g, nch, w, st);
        for (int ch = 0; ch < nch; ++ch) {
            const int type = switch_block(w->ch[ch], st, ch);
            Mp3SideInfo& s = si[g * nch + ch];
            s.block_type = type;
            s.window_switching_flag = type != 0;
            s.mixed_block_flag = 0;
            w->outType[g][ch] = type;
        }
        for (int a = 0; a < f.analysed; ++a) {  // the delayed granule out, this one in
            Mp3PsyOutput& o = w->out[g][a];
            std::memset(&o, 0, sizeof o);
            if (w->outType[g][a & 1] == 2)
                std::memcpy(o.ratio, st->delayedShort[a], sizeof st->delayedShort[a]);
            else
                std::memcpy(o.ratio, st->delayedLong[a], sizeof st->delayedLong[a]);
            o.pe = st->delayedPe[a];
            const PsyChannel_MP3& c = w->ch[a];
            std::memcpy(st->delayedLong[a], c.ratioLong, sizeof c.ratioLong);
            std::memcpy(st->delayedShort[a], c.ratioShort, sizeof c.ratioShort);
            st->delayedPe[a] = c.pe;
        }
    }
    bool sameTypes = nch == 2, ms = false, is = false;
    if (joint) {
        int64_t peLR = 0, peMS = 0;
        for (int g = 0; g < ngr; ++g) {
            sameTypes = sameTypes && w->outType[g][0] == w->outType[g][1];
            peLR += int64_t{w->out[g][0].pe} + w->out[g][1].pe;
            peMS += int64_t{w->out[g][2].pe} + w->out[g][3].pe;
        }
        ms = sameTypes && peLR >= peMS;
        is = sameTypes && hdr->bitrate_index >= 6 && hdr->bitrate_index <= 8;
        hdr->mode_extension = (ms ? 2 : 0) | (is ? 1 : 0);
    }
    for (int g = 0; g < ngr; ++g) {
        for (int ch = 0; ch < nch; ++ch) out[g * nch + ch] = w->out[g][ms ? ch + 2 : ch];
        const bool shortBlocks = w->outType[g][0] == 2;
        Zuf32s b = shortBlocks ? 13 : 22;
        if (is) b = (shortBlocks ? pIsSfbBoundTableShort : pIsSfbBoundTableLong)[hdr->bitrate_index - 6][sf];
        bound[3 * g] = bound[3 * g + 1] = bound[3 * g + 2] = b;
    }
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsPsychoacousticModelTwo_MP3_16s(const Zuf16s* pSrc, Mp3PsyOutput* pDstOut,
                                                                Zuf32s* pDstIsSfbBound, Mp3SideInfo* pSideInfo,
                                                                Mp3FrameHeader* pFrameHeader, Mp3PsyState* pState,
                                                                void* pReserved, Zuf8u* pWork) {
    (void)pReserved;
    ZUF_REQUIRE(nonnull(pSrc, pFrameHeader, pSideInfo, pDstOut, pState, pWork, pDstIsSfbBound), zufErrNullPtr);
    ownsPsychoacousticModelTwo_MP3(pSrc, pDstOut, pDstIsSfbBound, pSideInfo, pFrameHeader, pState,
                                   ownsPsyWork_MP3(pWork));
    return zufOk;
}
