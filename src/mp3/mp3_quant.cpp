// Layer III quantisation and rate control (ISO/IEC 11172-3 Annex C.1.5.4): per granule and
// channel a bit budget from the perceptual entropy and the bit reservoir, scale factors from a
// noise-shaping estimate, then the quantiser step search (the inner loop), which trades the
// Huffman bit count against the bands' allowed distortion; finally the reservoir update and the
// stuffing bits.
//
// Formats: spectra 1.0 = 2^26; the psychoacoustic ratios Q31; bit counts plain integers. The
// quantiser is ix = floor((|xr| 2^(-t/4))^(3/4) + 0.4054) (Annex C), with the rounding of
// |xr| 2^(-t/4) to an integer y first and an exact evaluation of the 3/4 power of y.
#include "mp3/mp3_quant.h"

#include <cstdint>

#include "common/checks.h"
#include "common/simd.h"
#include "mp3/mp3_enc_math.h"
#include "mp3/mp3_huff_encode.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

constexpr int kStepMin = -210, kStepMax = 45;  // global_gain = 210 + step, 0..255
constexpr int kMaxPart23 = 4095;               // the 12-bit part2_3_length

inline Zuf32s mag32(Zuf32s v) {
    const uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    return m > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<Zuf32s>(m);
}

// e r with r in Q31 (e up to 2^40): split so that no product leaves 64 bits.
inline Zuf64s mul_q31(Zuf64s e, Zuf32s r) { return (e >> 31) * r + (((e & 0x7FFFFFFF) * r) >> 31); }

inline int floor_div4(int e) { return e >> 2; }  // arithmetic shift: floor for negative e too

// One coded band: lines [start, start + len) of the granule, its scale-factor and ratio entry
// and its short window (-1 for long bands).
struct Band {
    int start, len, sfb, window;
};

// The bands a granule is coded in: 21 long bands, or 12 short bands of 3 windows (band-major,
// the bit stream's order); *pCodedEnd is the first line above them (zeroed).
int granule_bands(int blockType, const Zuf16s* L, const Zuf16s* S, Band* b, int* pCodedEnd) {
    if (blockType != 2) {
        for (int k = 0; k < 21; ++k) b[k] = {L[k], L[k + 1] - L[k], k, -1};
        *pCodedEnd = L[21];
        return 21;
    }
    for (int sfb = 0; sfb < 12; ++sfb) {
        const int width = S[sfb + 1] - S[sfb];
        for (int w = 0; w < 3; ++w) b[3 * sfb + w] = {3 * S[sfb] + w * width, width, 3 * sfb + w, w};
    }
    *pCodedEnd = 3 * S[12];
    return 36;
}

// Bands below the coding limit: long bands below limit[0], short band sfb of window w below
// limit[w] (intensity stereo codes the rest of the right channel as positions).
inline bool below_limit(const Band& b, const int* limit) {
    return b.window < 0 ? b.sfb < limit[0] : b.sfb / 3 < limit[b.window];
}

// Per granule and channel: scale-factor bits of MPEG-1 for the chosen scalefac_compress.
int scalefactor_bits(int compress, int blockType, int gr, const int* scfsi) {
    const int s1 = _pMP3TableSlen[0][compress], s2 = _pMP3TableSlen[1][compress];
    if (blockType == 2) return 18 * (s1 + s2);
    if (gr == 1)
        return (scfsi[0] ? 0 : 6 * s1) + (scfsi[1] ? 0 : 5 * s1) + (scfsi[2] ? 0 : 5 * s2) + (scfsi[3] ? 0 : 5 * s2);
    return 11 * s1 + 10 * s2;
}

// Long band groups of scfsi: bands [kGroup[g], kGroup[g + 1]).
constexpr int kGroup[5] = {0, 6, 11, 16, 21};

// The first scalefac_compress whose slen1, slen2 hold max1 and max2 (negative values count as
// 0); -1 when none does.
int choose_compress(int max1, int max2) {
    for (int k = 0; k < 16; ++k)
        if (max1 < (1 << _pMP3TableSlen[0][k]) && max2 < (1 << _pMP3TableSlen[1][k])) return k;
    return -1;
}

// Everything the step search needs of one granule and channel.
struct Granule {
    const Zuf32s* mag;  // |x|, 576 lines
    Zuf32s* q;          // quantised magnitudes, 576 lines
    const Band* bands;
    int nBands, codedEnd;
    const int* limit;
    const Zuf8s* sf;
    const Zuf64s* allowed;  // allowed distortion per band (by band index)
    int scale;              // 2 + 2 scalefac_scale: step units per scale-factor unit
    const int* sbg;         // subblock_gain per window
    const Zuf16s* L;
    int wsf, blockType;
};

inline int band_step(const Granule& g, const Band& b, int s) {
    return s - (b.window >= 0 ? 8 * g.sbg[b.window] : 0) - g.scale * g.sf[b.sfb];
}

// Quantises every band at global step s; returns the largest magnitude.
int quantize_all(const Granule& g, int s) {
    int peak = 0;
    for (int k = 0; k < g.nBands; ++k) {
        const Band& b = g.bands[k];
        const int p = ownsQuantizeBand_MP3(g.mag + b.start, g.q + b.start, b.len, band_step(g, b, s));
        peak = p > peak ? p : peak;
    }
    for (int i = g.codedEnd; i < 576; ++i) g.q[i] = 0;
    return peak;
}

// Bands below the limit whose distortion exceeds the allowed value.
int count_exceeding(const Granule& g, int s) {
    int n = 0;
    for (int k = 0; k < g.nBands; ++k) {
        const Band& b = g.bands[k];
        if (!below_limit(b, g.limit)) continue;
        n += ownsBandDistortion_MP3(g.mag + b.start, g.q + b.start, b.len, band_step(g, b, s)) > g.allowed[k];
    }
    return n;
}

struct SearchResult {
    int step, bits;
    bool fits;  // peak within 8191 and bits within the upper bound
};

// The inner loop: the step s for which the spectral bits meet the bounds (see below), starting
// from start (clamped to the step range; a clamped start fixes the step).
SearchResult step_search(const Granule& g, int start, int lower, int upper, Mp3HuffmanChoice* c) {
    int s = start < kStepMin ? kStepMin : (start > kStepMax ? kStepMax : start);
    const bool fixed = s != start;
    int dec = 8, prev = -1, same = 0, floorStep = kStepMin;
    bool first = true, fromAbove = false, wentUp = false;
    for (;;) {
        if (quantize_all(g, s) > kMaxQuant) {
            // Too fine for the largest line: no later decrease goes below the next step.
            if (s == kStepMax) return {s, 1 << 30, false};
            floorStep = ++s;
            continue;
        }
        const int bits = ownsCountSpectralBits_MP3(g.q, g.L, g.wsf, g.blockType, c);
        if (wentUp) {
            // Coming up from a count above the bound: the first count within it ends an upward
            // search; a count that stays put for more than 8 steps ends any search.
            if (bits <= upper && !fromAbove) return {s, bits, true};
            same = bits == prev ? same + 1 : 0;
            if (same > 8) return {s, bits, bits <= upper};
        }
        prev = bits;
        if (first) fromAbove = bits > upper, first = false;
        if (bits == upper) return {s, bits, true};
        if (bits < upper) {
            if (fixed || fromAbove || (bits >= lower && count_exceeding(g, s) == 0)) return {s, bits, true};
            // Down by the decrement (the search stops rather than go below -209), never into a
            // step whose peak is too large.
            if (s - dec < kStepMin + 1) return {s, bits, true};
            const int next = s - dec < floorStep ? floorStep : s - dec;
            if (next >= s) return {s, bits, true};
            s = next;
            dec = dec > 1 ? dec >> 1 : 1;
            wentUp = false;
            continue;
        }
        if (s == kStepMax) return {s, bits, false};
        ++s;
        wentUp = true;
    }
}

}  // namespace

int ownsQuantValue_MP3(Zuf32u y) {
    if (y < 256) return _BaseValue_MP3[y];
    if (y >= static_cast<Zuf32u>(kQuantTooLarge)) return kMaxQuant + 1;
    // A guess from single precision (within one of the result), settled by the exact thresholds.
    const float f = static_cast<float>(y);
    int n = static_cast<int>(__builtin_sqrtf(f * __builtin_sqrtf(f)) + 0.4054f);
    n = n < 1 ? 1 : (n > kMaxQuant ? kMaxQuant : n);
    while (n < kMaxQuant && static_cast<Zuf32u>(_pQuantThreshold_MP3[n + 1]) <= y) ++n;
    while (static_cast<Zuf32u>(_pQuantThreshold_MP3[n]) > y) --n;
    return n;
}

// y = |x| 2^(e/4) / 2^26 rounded half up, e = -t = 4q + f. For q < 26: |x| 2^(f/4) first
// ((8|x| k + 2^31) >> 32 with k = 2^(f/4) in Q29), then 2^(q - 26) with rounding. For q >= 26
// (steps below -103, quiet lines) the power of two would magnify that first rounding, so the
// product |x| k (Q29, exact in 64 bits) is rounded once, after the shift.
int ownsQuantizeBand_MP3_ref(const Zuf32s* x, Zuf32s* q, int n, int t) {
    const int e = -t, qe = floor_div4(e), f = e - 4 * qe;
    const uint64_t k = f ? static_cast<uint64_t>(_Power2_1_Div_4_Q29_MP3[f - 1]) : uint64_t{1} << 29;
    const int sh = 26 - qe, shFine = 55 - qe;
    int peak = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t a = static_cast<uint32_t>(x[i]);
        uint64_t y;
        if (sh > 0) {
            const uint64_t v = f ? (8 * a * k + (uint64_t{1} << 31)) >> 32 : a;  // < 2^34
            y = sh >= 40 ? 0 : (v + (uint64_t{1} << (sh - 1))) >> sh;
        } else {
            // a k >= 2^29 > 165109 for any a > 0: a shift of 0 or left is always too large.
            const uint64_t v = a * k;  // < 2^61
            y = v == 0 ? 0 : (shFine <= 0 ? uint64_t{kQuantTooLarge} : (v + (uint64_t{1} << (shFine - 1))) >> shFine);
        }
        const int r =
            y < 256 ? _BaseValue_MP3[y] : ownsQuantValue_MP3(y > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<Zuf32u>(y));
        q[i] = r;
        peak = r > peak ? r : peak;
    }
    return peak;
}

// SSE2 form of the common case, 0 < 26 - floor(e/4) < 40 (steps -103..52): four lines at a time.
// The products |x| k of the even and odd lanes come from the unsigned 32 x 32 multiply (|x| < 2^31
// and k < 2^30, so 8 |x| k < 2^64 and y < 2^32). When all four y are below 256, the magnitudes
// come from _BaseValue_MP3 lane by lane (four loads take less time than the two dependent square
// roots of y^(3/4) in single precision). Otherwise, for other steps and for an odd last line, the
// scalar form.
int ownsQuantizeBand_MP3(const Zuf32s* x, Zuf32s* q, int n, int t) {
    const int e = -t, qe = floor_div4(e), f = e - 4 * qe, sh = 26 - qe;
    if (sh <= 0 || sh >= 40) return ownsQuantizeBand_MP3_ref(x, q, n, t);
    const __m128i k = _mm_set1_epi32(f ? _Power2_1_Div_4_Q29_MP3[f - 1] : 0);
    const __m128i round31 = _mm_set1_epi64x(int64_t{1} << 31), half = _mm_set1_epi64x(int64_t{1} << (sh - 1));
    const __m128i lo32 = _mm_set1_epi64x(0xFFFFFFFF), count = _mm_cvtsi32_si128(sh);
    __m128i top = _mm_setzero_si128();  // magnitudes below 2^15: 16-bit maxima of the low halves
    int peak = 0, i = 0;
    // Whole groups of four, and a last pair (band widths are even) loaded and stored as two lanes.
    for (int step = 4; i + 2 <= n; i += step) {
        const bool pair = i + 4 > n;
        step = pair ? 2 : 4;
        const __m128i a = pair ? load_i64(x + i) : loadu_i128(x + i);
        __m128i ve = _mm_and_si128(a, lo32), vo = _mm_srli_epi64(a, 32);
        if (f) {
            ve = _mm_srli_epi64(_mm_add_epi64(_mm_slli_epi64(_mm_mul_epu32(ve, k), 3), round31), 32);
            vo = _mm_srli_epi64(_mm_add_epi64(_mm_slli_epi64(_mm_mul_epu32(vo, k), 3), round31), 32);
        }
        const __m128i ye = _mm_srl_epi64(_mm_add_epi64(ve, half), count);
        const __m128i yo = _mm_srl_epi64(_mm_add_epi64(vo, half), count);
        const __m128i y = _mm_or_si128(ye, _mm_slli_epi64(yo, 32));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(y, 8), _mm_setzero_si128())) == 0xFFFF) {
            const __m128i r = _mm_setr_epi32(_BaseValue_MP3[_mm_cvtsi128_si32(y)],
                                             _BaseValue_MP3[_mm_cvtsi128_si32(_mm_shuffle_epi32(y, 1))],
                                             _BaseValue_MP3[_mm_cvtsi128_si32(_mm_shuffle_epi32(y, 2))],
                                             _BaseValue_MP3[_mm_cvtsi128_si32(_mm_shuffle_epi32(y, 3))]);
            if (pair)
                store_i64(q + i, r);
            else
                storeu_i128(q + i, r);
            top = _mm_max_epi16(top, r);
            continue;
        }
        alignas(16) Zuf32u v[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(v), y);
        for (int j = 0; j < (pair ? 2 : 4); ++j) {
            const int r = v[j] < 256 ? _BaseValue_MP3[v[j]] : ownsQuantValue_MP3(v[j]);
            q[i + j] = r;
            peak = r > peak ? r : peak;
        }
    }
    alignas(16) Zuf16s m[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(m), top);
    for (int j = 0; j < 8; j += 2) peak = m[j] > peak ? m[j] : peak;
    if (i >= n) return peak;
    const int rest = ownsQuantizeBand_MP3_ref(x + i, q + i, n - i, t);  // an odd last line
    return rest > peak ? rest : peak;
}

// xq = q^(4/3) 2^(-e/4) in the format of x: pReqTable[q] = round(q^(4/3) 2^14), times 2^(-f/4)
// in Q30 (2^(-1/4) = 2^(3/4) / 2 and so on: the Q29 table read as Q30), shifted by
// 18 + floor(e/4) with rounding (t <= 45 keeps the shift above 6).
Zuf64s ownsBandDistortion_MP3(const Zuf32s* x, const Zuf32s* q, int n, int t) {
    const int e = -t, qe = floor_div4(e), f = e - 4 * qe;
    const uint64_t c = f ? static_cast<uint64_t>(_Power2_1_Div_4_Q29_MP3[3 - f]) : uint64_t{1} << 30;
    const int sh = 18 + qe;
    Zuf64s d = 0;
    for (int i = 0; i < n; ++i) {
        const int m = q[i] > 8206 ? 8206 : q[i];
        const uint64_t p = static_cast<uint64_t>(pReqTable[m]) * c;
        const Zuf64s xq = sh >= 63 ? 0 : static_cast<Zuf64s>((p + (uint64_t{1} << (sh - 1))) >> sh);
        Zuf64s diff = x[i] - xq;
        diff = diff > 0x7FFFFFFF ? 0x7FFFFFFF : (diff < -0x7FFFFFFF ? -0x7FFFFFFF : diff);
        d += (diff * diff) >> 32;
    }
    return d >> 1;
}

zufResult ownsQuantize_MP3(Zuf32s* pXr, Zuf8s* pScaleFactor, const int* pScfsi, int* pCount1, int* pStuffing,
                           const Mp3FrameHeader* h, Mp3SideInfo* si, const Mp3PsyOutput* psy,
                           const Mp3PsyState* psyState, Mp3BitReservoir* resv, int frameBits, const int* pIsBound,
                           Zuf32s* pWork) {
    const int nGr = h->ID == 1 ? 2 : 1, nCh = h->mode == 3 ? 1 : 2, nGc = nGr * nCh;
    const bool intensity = h->mode == 1 && (h->mode_extension & 1);
    const bool mpeg1 = h->ID == 1;
    const int row = 3 * h->ID + h->sampling_frequency;
    const Zuf16s* L = _zuf_pMP3SfbTableLong + 23 * row;
    const Zuf16s* S = _zuf_pMP3SfbTableShort + 14 * row;
    const Zuf64s F = frameBits;

    // Bit estimates from the perceptual entropy: about 3.1 PE for long blocks, 38/32 sqrt(PE)
    // for short ones.
    Zuf64s est[4], used = 0;
    int shortGc = 0, shortNext = 0;
    for (int k = 0; k < nGc; ++k) {
        const Zuf32s pe = psy[k].pe > 0 ? psy[k].pe : 0;
        if (si[k].block_type == 2) {
            int ex;
            const Zuf32s m = ownsSqrt_Audio_32s(pe, &ex);
            const Zuf64s b = (Zuf64s{m} * 38) >> (5 - ex);
            est[k] = b < 1800 ? b : 1800;
            ++shortGc;
        } else {
            const Zuf64s b = (Zuf64s{pe} * 203161) >> 16;
            est[k] = b < 1500 ? b : 1500;
        }
        used += est[k];
    }
    for (int ch = 0; ch < nCh; ++ch) shortNext += psyState->blockType[ch] == 2;
    const Zuf64s coef = ppBitResvAvailbitCoef[shortGc][shortNext];
    if (used > F) {
        const Zuf64s factor = F > 0 ? (F << 15) / used : 0;
        used = 0;
        for (int k = 0; k < nGc; ++k) used += est[k] = (est[k] * factor) >> 15;
    }

    const Zuf64s R = resv->bitsRemaining, Rmax = resv->maxBits;
    const Zuf64s r95 = Rmax * 95 / 100;
    for (int k = 0; k < nGc; ++k) pStuffing[k] = 0;

    for (int gr = 0; gr < nGr; ++gr) {
        for (int ch = 0; ch < nCh; ++ch) {
            const int k = gr * nCh + ch;
            Mp3SideInfo& g = si[k];
            if (g.window_switching_flag && g.mixed_block_flag) return zufErrMp3SideInfo;
            Zuf32s* xr = pXr + 576 * k;
            Zuf8s* sf = pScaleFactor + 40 * k;
            const int* scfsi = pScfsi + 4 * ch;
            const int bt = g.block_type;

            // 1. Band limit (intensity stereo codes the right channel's upper bands as positions).
            int limit[3] = {21, 12, 12};
            if (bt != 2) limit[1] = limit[2] = 0;
            const bool isRight = intensity && ch == 1;
            for (int w = 0; isRight && w < 3; ++w) {
                const int b = pIsBound[3 * gr + w], top = bt == 2 ? 12 : 21;
                if (bt != 2 && w > 0) break;
                limit[w] = b < 0 ? 0 : (b > top ? top : b);
            }

            // 2. Pre-filter: nothing above long band 20 (short band 11); above 16 kHz for MPEG-1
            // start and stop blocks and for loud granules when the frame is small and the
            // reservoir is not full.
            Band bands[36];
            int codedEnd;
            const int nBands = granule_bands(bt, L, S, bands, &codedEnd);
            if (mpeg1 && bt != 2 && (bt == 1 || bt == 3 || (F / nGc < 765 && R < r95 && psy[k].pe >= 500)))
                codedEnd = _p16kHzLines_MPEG1_MP3[h->sampling_frequency];
            for (int i = codedEnd; i < 576; ++i) xr[i] = 0;

            // 3. Magnitudes; the signs stay in xr.
            Zuf32s* mag = pWork;
            Zuf32s* q = pWork + 576;
            Zuf32s peak = 0;
            for (int i = 0; i < 576; ++i) {
                mag[i] = mag32(xr[i]);
                peak = mag[i] > peak ? mag[i] : peak;
            }

            // 4. Bounds of this granule-channel's bits.
            const Zuf64s n = nGc - k;
            Zuf64s lower = R - r95 + (F + est[k] - used);
            if (n >= 3) lower /= 2;
            if (n == 2) lower = lower * 3 / 4;
            Zuf64s upper = est[k] + (((2 * R * coef) >> 16) + F - used) / n;
            upper = upper > lower ? upper : lower;
            upper = upper < 0 ? 0 : (upper > kMaxPart23 ? kMaxPart23 : upper);
            lower = lower > kMaxPart23 ? kMaxPart23 : lower;

            // Scale factors start at 0; the right channel keeps its intensity positions.
            for (int b = 0; b < nBands; ++b)
                if (below_limit(bands[b], limit) || !isRight) sf[bands[b].sfb] = 0;
            for (int i = bt == 2 ? 36 : 21; i < 40; ++i) sf[i] = 0;
            g.preflag = 0;
            g.scalefac_scale = 0;

            // 6. Noise shaping: a step estimate per band from its peak and ratio, scale factors
            // that bring every band to the coarsest step.
            Zuf64s allowed[36];
            int nEst[36] = {}, G = 0;
            bool anyActive = false;
            for (int b = 0; b < nBands; ++b) {
                const Band& bd = bands[b];
                if (!below_limit(bd, limit)) continue;
                Zuf64s energy = 0;
                Zuf32s m = 0;
                for (int i = bd.start; i < bd.start + bd.len; ++i) {
                    energy += (Zuf64s{mag[i]} * mag[i]) >> 32;
                    m = mag[i] > m ? mag[i] : m;
                }
                const Zuf32s ratio = psy[k].ratio[bd.sfb] > 0 ? psy[k].ratio[bd.sfb] : 0;
                allowed[b] = mul_q31(energy, ratio);
                if (m == 0) continue;
                int i = 0;
                while (i < 19 && ratio <= _pPsyRatio2IxStatistics_MP3[i]) ++i;
                const int log64 = ownsLog2_Audio_32s(m) >> 10;  // 64 log2 m
                nEst[b] = (log64 - _pQStepMid_MP3[i] - 1656) >> 4;
                if (nEst[b] == 0) continue;
                G = anyActive && G > nEst[b] ? G : nEst[b];
                anyActive = true;
            }
            int maxLo = 0, maxHi = 0;
            for (int b = 0; b < nBands; ++b) {
                if (!below_limit(bands[b], limit) || nEst[b] == 0) continue;
                const int v = (G - nEst[b]) >> 1, sfb = bands[b].sfb;
                const bool lo = bt == 2 ? sfb < 18 : sfb < 11;
                int& mx = lo ? maxLo : maxHi;
                mx = v > mx ? v : mx;
            }
            g.scalefac_scale = maxLo > 15 || maxHi > 7 ? 1 : 0;
            for (int b = 0; b < nBands; ++b) {
                if (!below_limit(bands[b], limit) || nEst[b] == 0) continue;
                const int sfb = bands[b].sfb, v = ((G - nEst[b]) >> 1) / (1 + g.scalefac_scale);
                // slen2 holds 3 bits: the upper bands (long 11..20, short 6..11) stop at 7.
                const int top = (bt == 2 ? sfb < 18 : sfb < 11) ? 15 : 7;
                sf[sfb] = static_cast<Zuf8s>(v < top ? v : top);
            }
            // Granule 1 of MPEG-1: a long-block band group under scfsi is not sent, the decoder
            // keeps granule 0's values, so the quantiser uses them too.
            const bool reuse = mpeg1 && gr == 1 && bt != 2;
            const auto reuse_granule0 = [&]() {
                for (int grp = 0; reuse && grp < 4; ++grp)
                    for (int b = kGroup[grp]; scfsi[grp] && b < kGroup[grp + 1]; ++b) sf[b] = sf[b - 40 * nCh];
            };
            reuse_granule0();

            int sfBits = 0;
            const auto choose_sf_bits = [&]() {
                if (!mpeg1) return 0;
                int max1 = 0, max2 = 0;
                for (int i = 0; i < (bt == 2 ? 36 : 21); ++i) {
                    const bool lo = bt == 2 ? i < 18 : i < 11;
                    const int grp = i < 6 ? 0 : (i < 11 ? 1 : (i < 16 ? 2 : 3));
                    if (reuse && scfsi[grp]) continue;
                    int& mx = lo ? max1 : max2;
                    mx = sf[i] > mx ? sf[i] : mx;
                }
                const int c = choose_compress(max1, max2);
                if (c >= 0) g.scalefac_compress = c;
                return scalefactor_bits(g.scalefac_compress & 15, bt, gr, scfsi);
            };
            sfBits = choose_sf_bits();

            int sbg[3];
            for (int w = 0; w < 3; ++w) sbg[w] = bt == 2 ? g.subblock_gain[w] & 7 : 0;
            Granule gq{mag,    q,        bands,
                       nBands, codedEnd, limit,
                       sf,     allowed,  2 + 2 * g.scalefac_scale,
                       sbg,    L,        g.window_switching_flag,
                       bt};

            Mp3HuffmanChoice c{};
            SearchResult res{0, 0, false};
            if (peak > 0 && upper > 0) {
                // 7. The step search; the scale-factor bits come off the bounds.
                res = step_search(gq, G, static_cast<int>(lower) - sfBits, static_cast<int>(upper) - sfBits, &c);
                if (!res.fits) {
                    // Nothing fits with these scale factors: code with none, from the step reached.
                    for (int b = 0; b < nBands; ++b)
                        if (below_limit(bands[b], limit)) sf[bands[b].sfb] = 0;
                    reuse_granule0();
                    g.scalefac_scale = 0;
                    gq.scale = 2;
                    sfBits = choose_sf_bits();
                    res = step_search(gq, res.step + 1 > kStepMax ? kStepMax : res.step + 1, 0,
                                      static_cast<int>(upper) - sfBits, &c);
                }
            }
            if (!res.fits || peak == 0 || upper == 0) {
                // 5. Silent: no lines (and, without bits, no scale factors either).
                for (int i = 0; i < 576; ++i) q[i] = 0;
                if (upper == 0 || !res.fits)
                    for (int i = 0; i < 40; ++i) sf[i] = 0;
                reuse_granule0();
                g.scalefac_scale = 0;
                sfBits = choose_sf_bits();
                res = {0, ownsCountSpectralBits_MP3(q, L, g.window_switching_flag, bt, &c), true};
            }

            // 8. Side information and the signed values.
            g.part2_3_length = sfBits + res.bits;
            g.global_gain = 210 + res.step;
            g.big_values = c.big_values;
            for (int r = 0; r < 3; ++r) g.table_select[r] = c.table_select[r];
            g.region0_count = c.region0_count;
            g.region1_count = c.region1_count;
            g.count1table_select = c.count1table_select;
            pCount1[k] = c.count1;
            for (int i = 0; i < 576; ++i) xr[i] = xr[i] < 0 ? -q[i] : q[i];

            // 9. The actual bits replace the estimate.
            used += g.part2_3_length - est[k];
        }
    }

    // Reservoir: what the frame did not use goes in, in whole bytes up to the capacity; the
    // rest is stuffing.
    Zuf64s U = 0;
    for (int k = 0; k < nGc; ++k) U += si[k].part2_3_length;
    const Zuf64s T = R + F - U;
    const Zuf64s excess = T > Rmax ? T - Rmax : 0;
    const Zuf64s rest = T - excess, odd = rest & 7;
    resv->bitsRemaining = static_cast<Zuf32s>(rest - odd);
    Zuf64s stuff = excess + odd;
    if (stuff > 0 && si[0].part2_3_length + stuff < kMaxPart23) {
        si[0].part2_3_length += static_cast<Zuf32s>(stuff);
        pStuffing[0] = static_cast<int>(stuff);
    } else {
        for (int k = 0; k < nGc && stuff > 0; ++k) {
            const Zuf64s room = kMaxPart23 - si[k].part2_3_length, take = room < stuff ? room : stuff;
            si[k].part2_3_length += static_cast<Zuf32s>(take);
            pStuffing[k] += static_cast<int>(take);
            stuff -= take;
        }
    }
    return zufOk;
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsQuantize_MP3_32s_I(Zuf32s* pSrcDstXr, Zuf8s* pDstScaleFactor, const int* pScfsi,
                                                    int* pDstCount1Len, int* pDstStuffing,
                                                    const Mp3FrameHeader* pFrameHeader, Mp3SideInfo* pSideInfo,
                                                    const Mp3PsyOutput* pPsyOutput, const Mp3PsyState* pPsyState,
                                                    Mp3BitReservoir* pBitResv, int frameBits, const int* pIsSfbBound,
                                                    Zuf32s* pBuffer) {
    ZUF_REQUIRE(nonnull(pSrcDstXr, pDstScaleFactor, pScfsi), zufErrNullPtr);
    ZUF_REQUIRE(nonnull(pDstCount1Len, pDstStuffing, pFrameHeader, pSideInfo), zufErrNullPtr);
    ZUF_REQUIRE(nonnull(pPsyOutput, pPsyState, pBitResv, pIsSfbBound, pBuffer), zufErrNullPtr);
    ZUF_REQUIRE(in_range(pFrameHeader->sampling_frequency, 0, 2), zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(pFrameHeader->ID, 0, 1), zufErrMp3FrameHeader);
    return ownsQuantize_MP3(pSrcDstXr, pDstScaleFactor, pScfsi, pDstCount1Len, pDstStuffing, pFrameHeader, pSideInfo,
                            pPsyOutput, pPsyState, pBitResv, frameBits, pIsSfbBound, pBuffer);
}
