// Layer III requantisation, joint stereo and short-block reordering (ISO/IEC 11172-3 2.4.3.4.7
// to 2.4.3.4.9, ISO/IEC 13818-3 2.4.3.2 and 2.4.3.4).
//
// xr = sign(is) |is|^(4/3) 2^(-e/4) with 26 fractional bits, e the band's attenuation in quarter
// steps: 210 - global_gain (the standard's 2^((global_gain - 210) / 4)), plus the scale factor
// shifted by 1 + scalefac_scale (2^(-(1 + scalefac_scale) / 2 * sf) is 2 or 4 quarter steps per
// unit), plus 8 * subblock_gain for short windows, plus 2 in mid/side bands: that 2^(-1/2) is the
// 1/sqrt(2) of M/S decoding, so the stereo step itself is a plain sum and difference.
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "mp3/mp3_kernels.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

constexpr Zuf32s kMaxXr = 0x7FFFFFFF;

struct RunParams {
    Zuf32u mult;   // 2^(((-e) mod 4) / 4), Q30
    int s;         // right shift taking Q14 * Q30 down to Q26
    uint64_t sat;  // products at or above this saturate (p >> s would reach 2^31)
};

inline RunParams run_params(int e) {
    const int ne = -e;
    RunParams r;
    r.mult = _pMP3Pow2Q30[ne & 3];
    r.s = 18 - (ne >> 2);  // 18 - floor(-e / 4)
    // p < 2^63, so for s >= 33 nothing saturates.
    r.sat = r.s < 33 ? uint64_t{1} << (r.s + 31) : ~uint64_t{0};
    return r;
}

// One value: sign(x) min(pReqTable[|x|] * mult >> s, 2^31 - 1); bad is set for |x| > 8206, which
// is then taken as 8206. Branch-free: zeros come out of the table as zeros.
inline Zuf32s requant_one(Zuf32s x, const RunParams& r, Zuf32u& bad) {
    const Zuf32u sign = static_cast<Zuf32u>(x >> 31);
    const Zuf32u m = (static_cast<Zuf32u>(x) ^ sign) - sign;
    bad |= m > 8206u;
    const uint64_t p = static_cast<uint64_t>(pReqTable[m > 8206u ? 8206u : m]) * r.mult;
    const Zuf32u v = p >= r.sat ? static_cast<Zuf32u>(kMaxXr) : static_cast<Zuf32u>(p >> r.s);
    return static_cast<Zuf32s>((v ^ sign) - sign);
}

}  // namespace

// Requantises n values of src with attenuation e (quarter steps) into dst (may equal src).
// Returns false on a magnitude above 8206 (the run is then converted with such magnitudes taken
// as 8206). The scalar reference.
bool ownsRequantRun_MP3_ref(const Zuf32s* src, Zuf32s* dst, int n, int e) {
    const RunParams r = run_params(e);
    Zuf32u bad = 0;
    if (r.s >= 64) {  // everything shifts out
        for (int i = 0; i < n; ++i) {
            const Zuf32u sign = static_cast<Zuf32u>(src[i] >> 31);
            bad |= ((static_cast<Zuf32u>(src[i]) ^ sign) - sign) > 8206u;
            dst[i] = 0;
        }
        return !bad;
    }
    for (int i = 0; i < n; ++i) dst[i] = requant_one(src[i], r, bad);
    return !bad;
}

// The same, four values at a time: magnitudes, clamping and signs in SSE2, the table lookups
// one by one, the 32 x 32 -> 64 products with pmuludq. A group where anything saturates is
// redone by the scalar code (products that large come only from extreme gains). A group of
// magnitudes 0 and 1 only (all of the count1 region, much of the rest) needs no lookup: each
// value is 0 or the run's requantised 1 with its sign.
bool ownsRequantRun_MP3_sse2(const Zuf32s* src, Zuf32s* dst, int n, int e) {
    const RunParams r = run_params(e);
    if (r.s >= 64) return ownsRequantRun_MP3_ref(src, dst, n, e);
    const __m128i bias = sign_bits_epi32();
    const __m128i limit = _mm_set1_epi32(static_cast<int>(0x80000000u + 8206u));  // 8206, biased
    const __m128i top = _mm_set1_epi32(8206);
    const __m128i mult = _mm_set1_epi32(static_cast<int>(r.mult));
    const __m128i shift = _mm_cvtsi32_si128(r.s);
    const __m128i sat_shift = _mm_cvtsi32_si128(r.s + 31 < 64 ? r.s + 31 : 63);
    const __m128i low = _mm_set_epi32(0, -1, 0, -1);
    __m128i badv = _mm_setzero_si128();
    Zuf32u bad = 0;
    const __m128i one = _mm_set1_epi32(1);
    const __m128i one_biased = _mm_set1_epi32(static_cast<int>(0x80000001u));
    const __m128i unit = _mm_set1_epi32(requant_one(1, r, bad));  // |x| = 1 requantised
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i x = loadu_i128(src + i);
        const __m128i sign = _mm_srai_epi32(x, 31);
        __m128i m = _mm_sub_epi32(_mm_xor_si128(x, sign), sign);
        const __m128i mb = _mm_xor_si128(m, bias);
        if (_mm_movemask_epi8(_mm_cmpgt_epi32(mb, one_biased)) == 0) {  // every unsigned m <= 1
            const __m128i v = _mm_and_si128(_mm_cmpeq_epi32(m, one), unit);
            storeu_i128(dst + i, _mm_sub_epi32(_mm_xor_si128(v, sign), sign));
            continue;
        }
        const __m128i big = _mm_cmpgt_epi32(mb, limit);  // unsigned m > 8206
        badv = _mm_or_si128(badv, big);
        m = select_i128(big, top, m);
        alignas(16) Zuf32u idx[4];
        store_i128(idx, m);
        const __m128i t = _mm_set_epi32(static_cast<int>(pReqTable[idx[3]]), static_cast<int>(pReqTable[idx[2]]),
                                        static_cast<int>(pReqTable[idx[1]]), static_cast<int>(pReqTable[idx[0]]));
        const __m128i pe = _mm_mul_epu32(t, mult);                      // values 0 and 2
        const __m128i po = _mm_mul_epu32(_mm_srli_epi64(t, 32), mult);  // values 1 and 3
        if (r.s < 33) {
            const __m128i over = _mm_or_si128(_mm_srl_epi64(pe, sat_shift), _mm_srl_epi64(po, sat_shift));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(over, _mm_setzero_si128())) != 0xFFFF) {
                for (int k = 0; k < 4; ++k) dst[i + k] = requant_one(src[i + k], r, bad);
                continue;
            }
        }
        // Below saturation p >> s < 2^31: the low dwords are the values.
        const __m128i v =
            _mm_or_si128(_mm_and_si128(_mm_srl_epi64(pe, shift), low), _mm_slli_epi64(_mm_srl_epi64(po, shift), 32));
        storeu_i128(dst + i, _mm_sub_epi32(_mm_xor_si128(v, sign), sign));
    }
    for (; i < n; ++i) dst[i] = requant_one(src[i], r, bad);
    return !bad && _mm_movemask_epi8(badv) == 0;
}

namespace {

struct Channel {
    const Mp3SideInfo* si;
    const Zuf8s* sf;
    Zuf8u flag[40];  // 2 in mid/side bands, by scale-factor entry
    bool is_short;   // block_type 2 (pure or mixed)
    bool mixed;
    int nlong;        // long scale-factor entries before the short ones: 0, 8 or 6
    int first;        // first short band: 0, or 3 in mixed blocks
    int band_end[3];  // per window: one past the last band holding a non-zero line
    int line_end[3];  // per window: one past the last non-zero frequency
    int short_bound;  // largest line_end
    Zuf32s* area;     // short blocks: requantised values in stream order
};

inline int sf_mag(Zuf8s v) { return v < 0 ? -v : v; }

// Per window, the last band and frequency with a non-zero line (stream order: band, then
// window, then frequency).
void prepare_short(Channel& c, const Zuf32s* is, int nz, const Zuf16s* S) {
    int top = 12;
    while (top >= c.first && 3 * S[top] >= nz) --top;
    c.short_bound = 0;
    for (int w = 0; w < 3; ++w) {
        c.band_end[w] = c.first;
        c.line_end[w] = S[c.first];
        for (int s = top; s >= c.first; --s) {
            const int width = S[s + 1] - S[s];
            const Zuf32s* run = is + 3 * S[s] + w * width;
            int j = width - 1;
            while (j >= 0 && run[j] == 0) --j;
            if (j >= 0) {
                c.band_end[w] = s + 1;
                c.line_end[w] = S[s] + j + 1;
                break;
            }
        }
        if (c.line_end[w] > c.short_bound) c.short_bound = c.line_end[w];
    }
}

int bound_band(int bound, const Zuf16s* L, int top) {
    int b = top;
    while (b >= 0 && L[b] >= bound) --b;
    return b + 1;
}

// ISO/IEC 11172-3 2.4.3.4.9.3: is_ratio = tan(is_pos pi / 12), L = x is_ratio / (1 + is_ratio),
// R = x / (1 + is_ratio). ISO/IEC 13818-3 2.4.3.2: one channel keeps x, the other is attenuated
// by 2^(-(is_pos + 1) / 2 * (1 + intensity_scale) / 4).
struct Intensity {
    bool mpeg1, ms;
    int intensity_scale;

    // Lines [0, n) of l and r; k the right channel's scale-factor entry. False on an MPEG-1
    // position above 7.
    bool apply(Zuf32s* l, Zuf32s* r, int n, int k, bool short_block) const {
        if (mpeg1) {
            if (k > 7 || k < 0) return false;
            if (k == 7) {  // illegal position: L/R (or M/S with S = 0) coded
                if (ms) std::memcpy(r, l, static_cast<size_t>(n) * sizeof(Zuf32s));
                return true;
            }
            const int64_t f2 = 2 * static_cast<int64_t>(_pIsLeft[k]);
            for (int i = 0; i < n; ++i) {
                const Zuf32s x = l[i];
                const Zuf32s left = hi(x * f2);
                r[i] = wrap_sub(x, left);
                l[i] = left;
            }
            return true;
        }
        if (k < 0) {  // illegal position
            if (ms) {
                const int64_t f2 = 2 * static_cast<int64_t>(_pMP3Sqrt14_32s[0]);
                for (int i = 0; i < n; ++i) l[i] = r[i] = hi(l[i] * f2);
            } else if (short_block) {
                std::memset(r, 0, static_cast<size_t>(n) * sizeof(Zuf32s));
            }
            return true;
        }
        const int q = ((k + 1) >> 1) << intensity_scale;
        const int64_t f2 = 2 * static_cast<int64_t>(_pMP3Sqrt14_32s[q & 3]);
        // Positions come from the caller's scale factors: a stream gives at most 31 (q 32, a
        // shift of 8), but any byte must keep the shift defined: from 31 on only the sign is
        // left (0 or -1).
        const int sh = q >> 2 < 31 ? q >> 2 : 31;
        for (int i = 0; i < n; ++i) {
            const Zuf32s x = l[i];
            const Zuf32s att = hi(x * f2) >> sh;
            if (k & 1)
                l[i] = att, r[i] = x;
            else
                r[i] = att;
        }
        return true;
    }
};

// Sum and difference, saturated like the requantised values to +-(2^31 - 1).
inline Zuf32s sat_xr(int64_t v) { return static_cast<Zuf32s>(v > kMaxXr ? kMaxXr : v < -kMaxXr ? -kMaxXr : v); }

void mid_side(Zuf32s* l, Zuf32s* r, int n) {
    for (int i = 0; i < n; ++i) {
        const int64_t m = l[i], s = r[i];
        l[i] = sat_xr(m + s);
        r[i] = sat_xr(m - s);
    }
}

// Short-block reordering: entry 18 q + 6 w + j takes window w, frequency 6 q + j, so that each
// subband holds its three windows' six lines one after another (ISO/IEC 11172-3 2.4.3.4.8).
void reorder(const Zuf32s* area, Zuf32s* dst, const Channel& c, const Zuf16s* S) {
    if (c.mixed) std::memcpy(dst, area, 36 * sizeof(Zuf32s));
    for (int s = c.first; s < 13; ++s) {
        const int width = S[s + 1] - S[s];
        for (int w = 0; w < 3; ++w) {
            const Zuf32s* run = area + 3 * S[s] + w * width;
            for (int j = 0; j < width; ++j) {
                const int f = S[s] + j;
                dst[18 * (f / 6) + 6 * w + f % 6] = run[j];
            }
        }
    }
}

int last_nonzero(const Zuf32s* x, int from) {
    while (from > 0 && x[from - 1] == 0) --from;
    return from;
}

}  // namespace

zufResult ownsReQuantizeSfb_MP3(Zuf32s* xr, int* nz, const Zuf8s* pSf, const Mp3SideInfo* pSi, const Mp3FrameHeader* h,
                                Zuf32s* work, const Zuf16s* pLong, const Zuf16s* pShort) {
    ZUF_REQUIRE(in_range(h->ID, 0, 1) && in_range(h->sampling_frequency, 0, 2) && in_range(h->mode, 0, 3) &&
                    in_range(h->mode_extension, 0, 3),
                zufErrMp3FrameHeader);
    const int nch = h->mode == 3 ? 1 : 2;
    const bool ms = h->mode == 1 && (h->mode_extension & 2);
    const bool is_on = h->mode == 1 && (h->mode_extension & 1);
    const bool stereo = nch == 2 && (ms || is_on);
    if (stereo)
        ZUF_REQUIRE(pSi[0].block_type == pSi[1].block_type && pSi[0].mixed_block_flag == pSi[1].mixed_block_flag,
                    zufErrMp3SideInfo);
    for (int ch = 0; ch < nch; ++ch) {
        ZUF_REQUIRE(in_range(pSi[ch].block_type, 0, 3) && in_range(pSi[ch].mixed_block_flag, 0, 1), zufErrMp3SideInfo);
        ZUF_REQUIRE(in_range(nz[ch], 0, 576), zufErrBadArg);
    }
    const int row = 3 * h->ID + h->sampling_frequency;
    const Zuf16s* L = pLong + 23 * row;
    const Zuf16s* S = pShort + 14 * row;
    const bool mpeg1 = h->ID == 1;

    Channel chan[2];
    int shorts = 0;
    for (int ch = 0; ch < nch; ++ch) {
        Channel& c = chan[ch];
        c.si = &pSi[ch];
        c.sf = pSf + 40 * ch;
        std::memset(c.flag, 0, sizeof c.flag);
        c.is_short = c.si->block_type == 2;
        c.mixed = c.is_short && c.si->mixed_block_flag == 1;
        c.nlong = c.mixed ? (mpeg1 ? 8 : 6) : 0;
        c.first = c.mixed ? 3 : 0;
        c.area = nullptr;
        if (c.is_short) {
            prepare_short(c, xr + 576 * ch, nz[ch], S);
            // The first short channel goes to the work area; a second one into channel 0's
            // array, free once channel 0 has been requantised into the work area.
            c.area = shorts++ == 0 ? work : xr;
        }
    }

    // Mid/side flags, and the band where intensity stereo starts.
    int long_bound_band = 0;
    int isb[3] = {0, 0, 0}, max_end[3] = {0, 0, 0};
    const int max_nz = stereo ? (nz[0] > nz[1] ? nz[0] : nz[1]) : 0;
    if (stereo) {
        auto illegal = [&](int k) { return mpeg1 ? k == 7 : k < 0; };
        Channel &c0 = chan[0], &c1 = chan[1];
        if (!c0.is_short || c0.mixed) {
            int bound = is_on ? nz[1] : max_nz;
            const int top = c0.mixed ? c0.nlong - 1 : 21;
            if (c0.mixed && bound > 36) bound = 36;
            long_bound_band = bound_band(bound, L, top);
            if (ms)
                for (int b = 0; b < long_bound_band; ++b) c0.flag[b] = c1.flag[b] = 2;
            if (ms && is_on)
                for (int b = long_bound_band; b <= top; ++b)
                    if (illegal(c1.sf[b])) c0.flag[b] = 2;
        }
        if (c0.is_short) {
            for (int w = 0; w < 3; ++w) {
                max_end[w] = c0.band_end[w] > c1.band_end[w] ? c0.band_end[w] : c1.band_end[w];
                isb[w] = is_on ? c1.band_end[w] : max_end[w];
                for (int s = c0.first; s < 13; ++s) {
                    const int k = c0.nlong + 3 * (s - c0.first) + w;
                    if (ms && s < isb[w]) c0.flag[k] = c1.flag[k] = 2;
                    if (ms && is_on && s >= isb[w] && s < max_end[w] && illegal(c1.sf[k])) c0.flag[k] = 2;
                }
            }
        }
    }

    // Requantisation, channel by channel.
    for (int ch = 0; ch < nch; ++ch) {
        Channel& c = chan[ch];
        const Mp3SideInfo& g = *c.si;
        ZUF_REQUIRE(in_range(g.global_gain, 0, 255) && in_range(g.scalefac_scale, 0, 1) && in_range(g.preflag, 0, 1),
                    zufErrMp3SideInfo);
        const int base = 210 - g.global_gain;
        const int shift = 1 + g.scalefac_scale;
        Zuf32s* src = xr + 576 * ch;
        if (!c.is_short) {
            for (int b = 0; b < 22 && L[b] < nz[ch]; ++b) {
                const int e = base + c.flag[b] + ((sf_mag(c.sf[b]) + g.preflag * _pPretab[b]) << shift);
                ZUF_REQUIRE(ownsRequantRun_MP3_sse2(src + L[b], src + L[b], L[b + 1] - L[b], e), zufErrRange);
            }
            continue;
        }
        for (int w = 0; w < 3; ++w)
            ZUF_REQUIRE(in_range(8 * static_cast<int64_t>(g.subblock_gain[w]), 0, 56), zufErrRange);
        Zuf32s* dst = c.area;
        std::memset(dst, 0, 576 * sizeof(Zuf32s));
        if (c.mixed) {
            for (int b = 0; b < c.nlong && L[b] < nz[ch]; ++b) {
                const int e = base + c.flag[b] + ((sf_mag(c.sf[b]) + g.preflag * _pPretab[b]) << shift);
                ZUF_REQUIRE(ownsRequantRun_MP3_sse2(src + L[b], dst + L[b], L[b + 1] - L[b], e), zufErrRange);
            }
        }
        for (int w = 0; w < 3; ++w) {
            for (int s = c.first; s < c.band_end[w]; ++s) {
                const int k = c.nlong + 3 * (s - c.first) + w;
                const int width = S[s + 1] - S[s];
                const int at = 3 * S[s] + w * width;
                const int e = base + 8 * g.subblock_gain[w] + c.flag[k] + (sf_mag(c.sf[k]) << shift);
                ZUF_REQUIRE(ownsRequantRun_MP3_sse2(src + at, dst + at, width, e), zufErrRange);
            }
        }
    }

    // Joint stereo on the requantised values.
    int bound[2];
    for (int ch = 0; ch < nch; ++ch) bound[ch] = chan[ch].is_short ? 3 * chan[ch].short_bound : nz[ch];
    if (stereo) {
        Channel &c0 = chan[0], &c1 = chan[1];
        const Intensity inten{mpeg1, ms, chan[1].si->scalefac_compress & 1};
        Zuf32s* l = c0.is_short ? c0.area : xr;
        Zuf32s* r = c1.is_short ? c1.area : xr + 576;
        if (!c0.is_short || c0.mixed) {
            const int top = c0.mixed ? c0.nlong : 22;
            const int limit = c0.mixed ? 36 : max_nz;
            if (ms) mid_side(l, r, L[long_bound_band]);
            if (is_on)
                for (int b = long_bound_band; b < top && L[b] < limit; ++b)
                    ZUF_REQUIRE(inten.apply(l + L[b], r + L[b], L[b + 1] - L[b], c1.sf[b], false), zufErrRange);
        }
        if (c0.is_short) {
            for (int w = 0; w < 3; ++w) {
                for (int s = c0.first; s < max_end[w]; ++s) {
                    const int width = S[s + 1] - S[s];
                    const int at = 3 * S[s] + w * width;
                    if (s < isb[w]) {
                        if (ms) mid_side(l + at, r + at, width);
                    } else if (is_on) {
                        const int k = c0.nlong + 3 * (s - c0.first) + w;
                        ZUF_REQUIRE(inten.apply(l + at, r + at, width, c1.sf[k], true), zufErrRange);
                    }
                }
            }
        }
        if (c0.is_short) {
            const int sb = c0.short_bound > c1.short_bound ? c0.short_bound : c1.short_bound;
            bound[0] = bound[1] = 3 * sb;
        } else {
            bound[0] = bound[1] = max_nz;
        }
    }

    // Reordering into the inverse transform's layout: channel 1 first, whose values may sit in
    // channel 0's array.
    for (int ch = nch - 1; ch >= 0; --ch) {
        Channel& c = chan[ch];
        Zuf32s* dst = xr + 576 * ch;
        int from = bound[ch];
        if (c.is_short) {
            reorder(c.area, dst, c, S);
            from = (from + 17) / 18 * 18;
        }
        nz[ch] = last_nonzero(dst, from > 576 ? 576 : from);
    }
    return zufOk;
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsReQuantizeSfb_MP3_32s_I(Zuf32s* pSrcDstIsXr, int* pNonZeroBound, const Zuf8s* pScaleFactor,
                                              const Mp3SideInfo* pSideInfo, const Mp3FrameHeader* pFrameHeader,
                                              Zuf32s* pBuffer, const Zuf16s* pSfbTableLong,
                                              const Zuf16s* pSfbTableShort) {
    ZUF_REQUIRE(nonnull(pSrcDstIsXr, pNonZeroBound, pScaleFactor, pSideInfo, pFrameHeader, pBuffer, pSfbTableLong,
                        pSfbTableShort),
                zufErrNullPtr);
    return ownsReQuantizeSfb_MP3(pSrcDstIsXr, pNonZeroBound, pScaleFactor, pSideInfo, pFrameHeader, pBuffer,
                                 pSfbTableLong, pSfbTableShort);
}

ZUF_API zufResult zufsReQuantize_MP3_32s_I(Zuf32s* pSrcDstIsXr, int* pNonZeroBound, const Zuf8s* pScaleFactor,
                                           const Mp3SideInfo* pSideInfo, const Mp3FrameHeader* pFrameHeader,
                                           Zuf32s* pBuffer) {
    ZUF_REQUIRE(nonnull(pSrcDstIsXr, pNonZeroBound, pScaleFactor, pSideInfo, pFrameHeader, pBuffer), zufErrNullPtr);
    return ownsReQuantizeSfb_MP3(pSrcDstIsXr, pNonZeroBound, pScaleFactor, pSideInfo, pFrameHeader, pBuffer,
                                 _zuf_pMP3SfbTableLong, _zuf_pMP3SfbTableShort);
}

}  // extern "C"
