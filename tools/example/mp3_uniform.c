/*
 * Uniform quantisation of MP3 frames without a bit reservoir; see mp3_uniform.h.
 *
 * Every decision here comes from exact arithmetic, the library's kernels and tables fixed at set-up
 * (powers of two from constants, not libm), so that every build writes the same stream.
 */
#include "mp3_uniform.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#define SCRATCH 4096                /* a granule-channel's part 3: at most 4095 bits */
#define INV_FULL (1.0 / 67108864.0) /* the library's lines have 26 fractional bits */

/* 2^(j / 16), from the sixteen doubles nearest 2^(k / 16) and an exact power of two. */
static double exp2_16(int j) {
    static const double frac[16] = {1.0,
                                    1.0442737824274138,
                                    1.0905077326652577,
                                    1.1387886347566916,
                                    1.189207115002721,
                                    1.241857812073484,
                                    1.2968395546510096,
                                    1.3542555469368927,
                                    1.4142135623730951,
                                    1.4768261459394993,
                                    1.5422108254079407,
                                    1.6104903319492543,
                                    1.681792830507429,
                                    1.7562521603732995,
                                    1.8340080864093424,
                                    1.9152065613971474};
    const int q = j >= 0 ? j / 16 : -((15 - j) / 16); /* floor(j / 16) */
    return ldexp(frac[j - 16 * q], q);
}

/* Threshold in quiet (Terhardt's formula, 12 dB below its usual level as ISO/IEC 11172-3 Annex D
 * places it for high bit rates) at hz, as the noise power that reaches it over `len` lines, on a
 * grid of 2^(1/16) (about 0.19 dB) so that libm's last bits cannot move it. On the library's scale
 * white noise of variance v gives lines of power v / 288 and a full-scale sine is 96 dB; the
 * threshold is met when the noise within about 18 lines (a critical band near the threshold's
 * minimum) stays below it. */
static double quiet_power(double hz, int len) {
    const double k = (hz < 20 ? 20 : hz) / 1000.0;
    const double db = 3.64 * pow(k, -0.8) - 6.5 * exp(-0.6 * (k - 3.3) * (k - 3.3)) + 1e-3 * k * k * k * k - 12.0;
    /* 10^((db - 96) / 10) len / 27 = 2^(log2(10) (db - 96) / 10 + log2(len / 27)) */
    return exp2_16((int)lround(16.0 * (3.321928094887362 * (db - 96.0) / 10.0 + log2(len / 27.0))));
}

/* The threshold in quiet of each band at its most sensitive frequency (3.3 kHz, or the band's
 * edge nearest to it). */
static void quiet_bands(Mp3UniformWork *w, const Mp3FrameHeader *h) {
    const int row = 3 * h->ID + h->sampling_frequency;
    const double rate = h->sampling_frequency == 1 ? 48000.0 : h->sampling_frequency == 2 ? 32000.0 : 44100.0;
    int shrt, b;
    for (shrt = 0; shrt < 2; ++shrt) {
        const Zuf16s *t = shrt ? _zuf_pMP3SfbTableShort + 14 * row : _zuf_pMP3SfbTableLong + 23 * row;
        const double hz_line = rate / (shrt ? 384.0 : 1152.0);
        for (b = 0; b < (shrt ? 13 : 22); ++b) {
            double f = 3300;
            if (f < t[b] * hz_line) f = t[b] * hz_line;
            if (f > t[b + 1] * hz_line) f = t[b + 1] * hz_line;
            (shrt ? w->quiet_short : w->quiet_long)[b] = quiet_power(f, t[b + 1] - t[b]);
        }
    }
}

/* Region split of the big values by the number of long bands they cover (the table of 11172-3's
 * reference encoder), each count lowered until its boundary lies within the big values. */
static const Zuf8u k_subdivide[23][2] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1}, {1, 1}, {1, 1},
                                         {1, 2}, {2, 2}, {2, 3}, {2, 3}, {3, 4}, {3, 4}, {3, 4}, {4, 5},
                                         {4, 5}, {4, 6}, {5, 6}, {5, 6}, {5, 7}, {6, 7}, {6, 7}};

static const Zuf8u k_xlen[32] = {0,  2,  3,  3,  0,  4,  4,  6,  6,  6,  8,  8,  8,  16, 0,  16,
                                 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
static const Zuf8u k_linbits[32] = {0, 0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0, 0, 0,  0,
                                    1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};

static long written_bits(const Zuf32s *ix, const Mp3FrameHeader *h, const Mp3SideInfo *si, int count1, int *fail) {
    Zuf8u buf[SCRATCH], *p = buf;
    int off = 0;
    if (zufsHuffmanEncode_MP3_32s1u(ix, &p, &off, h, si, count1, 0) != zufOk) *fail = 1;
    return (long)(p - buf) * 8 + off;
}

/* Code lengths, as the library's encoder writes them: each pair and quadruple once. */
static int measure_codes(Mp3UniformWork *w, const Mp3FrameHeader *h) {
    Zuf32s ix[576];
    Mp3SideInfo si;
    int t, x, y, q, fail = 0;
    memset(ix, 0, sizeof ix);
    memset(&si, 0, sizeof si);
    memset(w->hlen, 0, sizeof w->hlen);
    si.big_values = 1; /* one pair, in region 0 */
    for (t = 1; t < 32; ++t) {
        const int lb = k_linbits[t];
        if (!k_xlen[t]) continue;
        si.table_select[0] = si.table_select[1] = si.table_select[2] = t;
        for (x = 0; x < k_xlen[t]; ++x)
            for (y = 0; y < k_xlen[t]; ++y) {
                ix[0] = x, ix[1] = y;
                w->hlen[t][x][y] = (Zuf8u)(written_bits(ix, h, &si, 0, &fail) - (x != 0) - (y != 0) -
                                           (x == 15 ? lb : 0) - (y == 15 ? lb : 0));
            }
    }
    ix[0] = ix[1] = 0;
    si.big_values = 0;
    for (t = 0; t < 2; ++t) {
        si.count1table_select = t;
        for (q = 0; q < 16; ++q) {
            ix[0] = q >> 3, ix[1] = (q >> 2) & 1, ix[2] = (q >> 1) & 1, ix[3] = q & 1;
            w->qlen[t][q] = (Zuf8u)(written_bits(ix, h, &si, 4, &fail) - ix[0] - ix[1] - ix[2] - ix[3]);
        }
    }
    return fail ? -1 : 0;
}

/* Bits of the pairs of ix[from..to) with table t (signs and linbits included). */
static long region_bits(const Zuf32s *ix, int from, int to, int t, const Mp3UniformWork *w) {
    const int lb = k_linbits[t];
    long bits = 0;
    int i;
    if (t < 16)
        for (i = from; i < to; i += 2) {
            const int x = abs(ix[i]), y = abs(ix[i + 1]);
            bits += w->hlen[t][x][y] + (x != 0) + (y != 0);
        }
    else
        for (i = from; i < to; i += 2) {
            const int x = abs(ix[i]), y = abs(ix[i + 1]), cx = x < 15 ? x : 15, cy = y < 15 ? y : 15;
            bits += w->hlen[t][cx][cy] + (x != 0) + (y != 0) + (cx == 15 ? lb : 0) + (cy == 15 ? lb : 0);
        }
    return bits;
}

/* Sets big_values, the regions, their tables and the count1 table of si for ix, as the library's
 * rate loop would choose them (Annex C); returns the spectral bits. */
static long huffman_plan(const Zuf32s *ix, const Mp3FrameHeader *h, Mp3SideInfo *si, const Mp3UniformWork *w) {
    static const Zuf8u first_small[15] = {0, 1, 2, 5, 7, 7, 10, 10, 13, 13, 13, 13, 13, 13, 13};
    const Zuf16s *L = _zuf_pMP3SfbTableLong + 23 * (3 * h->ID + h->sampling_frequency);
    int n = 576, c1 = 0, r, end[3], bv;
    long bits = 0;
    while (n > 0 && ix[n - 1] == 0 && ix[n - 2] == 0) n -= 2;
    while (n >= 4 && abs(ix[n - 1]) <= 1 && abs(ix[n - 2]) <= 1 && abs(ix[n - 3]) <= 1 && abs(ix[n - 4]) <= 1) {
        n -= 4;
        c1 += 4;
    }
    bv = n / 2;
    si->big_values = bv;
    if (si->window_switching_flag && si->block_type != 0) {
        end[0] = n < 36 ? n : 36;
        end[1] = n;
        end[2] = n;
    } else {
        int b = 0, r0, r1;
        while (b < 22 && L[b] < n) ++b;
        r0 = k_subdivide[b][0];
        r1 = k_subdivide[b][1];
        while (r0 > 0 && L[r0 + 1] > n) --r0;
        while (r1 > 0 && L[r0 + r1 + 2] > n) --r1;
        si->region0_count = bv ? r0 : 0;
        si->region1_count = bv ? r1 : 0;
        end[0] = L[r0 + 1] < n ? L[r0 + 1] : n;
        end[1] = L[r0 + r1 + 2] < n ? L[r0 + r1 + 2] : n;
        end[2] = n;
    }
    for (r = 0; r < 3; ++r) {
        const int from = r ? end[r - 1] : 0;
        int m = 0, i, cand[3], nc = 0, c, best = 0;
        long best_bits = 0;
        si->table_select[r] = 0;
        for (i = from; i < end[r]; ++i) m = abs(ix[i]) > m ? abs(ix[i]) : m;
        if (end[r] <= from || m == 0) continue;
        if (m < 15) {
            const int f = first_small[m];
            cand[nc++] = f;
            if (f == 2 || f == 5 || f == 7 || f == 10) cand[nc++] = f + 1;
            if (f == 7 || f == 10) cand[nc++] = f + 2;
            if (f == 13) cand[nc++] = 15;
        } else {
            int k;
            for (k = 16; k < 23 && (1 << k_linbits[k]) <= m - 15; ++k) {}
            cand[nc++] = k;
            for (k = 24; k < 31 && (1 << k_linbits[k]) <= m - 15; ++k) {}
            cand[nc++] = k;
        }
        for (c = 0; c < nc; ++c) {
            const long b = region_bits(ix, from, end[r], cand[c], w);
            if (c == 0 || b < best_bits) best = cand[c], best_bits = b;
        }
        si->table_select[r] = best;
        bits += best_bits;
    }
    si->count1table_select = 0;
    if (c1) {
        long a = 0, b = 0;
        int i;
        for (i = n; i < n + c1; i += 4) {
            const int q = 8 * (ix[i] != 0) + 4 * (ix[i + 1] != 0) + 2 * (ix[i + 2] != 0) + (ix[i + 3] != 0);
            const int signs = (ix[i] != 0) + (ix[i + 1] != 0) + (ix[i + 2] != 0) + (ix[i + 3] != 0);
            a += w->qlen[0][q] + signs;
            b += w->qlen[1][q] + signs;
        }
        si->count1table_select = b <= a;
        bits += b <= a ? b : a;
    }
    return bits;
}

int mp3enc_uniform_init(Mp3UniformWork *w, const Mp3FrameHeader *h) {
    Zuf16s q[8207];
    int i;
    for (i = 0; i < 8207; ++i) q[i] = (Zuf16s)i;
    if (zufsPow43_16s32f(q, w->pow43, 8207) != zufOk || measure_codes(w, h) != 0) return -1;
    quiet_bands(w, h);
    w->last_g[0] = w->last_g[1] = 150;
    return 0;
}

/* Bits of c at global gain g (lines into ix, side information into si), or 2^30 when a line
 * would exceed what tables 16-31 code (15 + 8191). The 0.4054 offset is the rounding of 11172-3
 * Annex C's quantiser. */
static long bits_at(const Mp3UniformGc *c, int g, Zuf32s *ix, Mp3SideInfo *si, const Mp3FrameHeader *h,
                    const Mp3UniformWork *w) {
    const float f = (float)exp2_16(-3 * (g - 210));
    int i;
    if (c->amax * f + 0.4054f >= 8207.0f) return 1L << 30;
    for (i = 0; i < 576; ++i) {
        const Zuf32s q = (Zuf32s)(c->a[i] * f + 0.4054f);
        ix[i] = (q ^ c->sign[i]) - c->sign[i]; /* sign: 0 or -1 */
    }
    *si = c->si;
    return huffman_plan(ix, h, si, w);
}

/* The finest global gain, searched from g, at which c takes at most `budget` bits (at most
 * 4095), with its bits; 256 when none does. Bits fall as the gain rises. */
static int finest_within(const Mp3UniformGc *c, int g, long budget, Zuf32s *ix, const Mp3FrameHeader *h, long *bits,
                         const Mp3UniformWork *w) {
    Mp3SideInfo si;
    long b;
    if (budget > 4095) budget = 4095;
    b = bits_at(c, g, ix, &si, h, w);
    if (b <= budget) {
        long finer;
        while (g > 0 && (finer = bits_at(c, g - 1, ix, &si, h, w)) <= budget) --g, b = finer;
    } else
        while (b > budget && ++g < 256) b = bits_at(c, g, ix, &si, h, w);
    *bits = b;
    return g;
}

/* Bits of the frame's granule-channels at one global gain g, stopping once past `limit`; a
 * granule-channel over 4095 bits counts as past it. */
static long frame_bits_at(const Mp3UniformGc *gc, int n, int g, Zuf32s *ix, const Mp3FrameHeader *h, long limit,
                          const Mp3UniformWork *w) {
    Mp3SideInfo si;
    long sum = 0;
    int k;
    for (k = 0; k < n && sum <= limit; ++k) {
        const long b = gc[k].silent ? 0 : bits_at(&gc[k], g, ix, &si, h, w);
        sum += b > 4095 ? limit + 1 : b;
    }
    return sum;
}

/* Codes the n granule-channels of a frame in frame_bits at the finest steps that fit:
 * 1. one step for all, the same noise everywhere (searched from the last frame's);
 * 2. with pair_bits (left/right), the two channels of each granule split that granule's bits
 *    equally instead: a channel of noise-like content would otherwise take most of them where
 *    the other, cleaner one is heard with less masking (LAME splits a left/right granule alike);
 * 3. each granule-channel in turn one step finer while the frame has room.
 * ix: the lines, 576 per granule-channel. Returns 0, or -1 when no step fits. */
static int code_frame(Mp3UniformGc *gc, int n, Zuf32s *ix, const Mp3FrameHeader *h, long frame_bits, int pair_bits,
                      int *last_g, const Mp3UniformWork *w) {
    Mp3SideInfo si;
    int g = *last_g, k, changed;
    long total = 0;
    if (frame_bits_at(gc, n, g, ix, h, frame_bits, w) <= frame_bits)
        while (g > 0 && frame_bits_at(gc, n, g - 1, ix, h, frame_bits, w) <= frame_bits) --g;
    else
        while (++g < 256 && frame_bits_at(gc, n, g, ix, h, frame_bits, w) > frame_bits) {}
    if (g > 255) return -1;
    *last_g = g;
    for (k = 0; k < n; ++k) {
        gc[k].g = g;
        gc[k].bits = gc[k].silent ? 0 : bits_at(&gc[k], g, ix + 576 * k, &si, h, w);
        total += gc[k].bits;
    }
    if (pair_bits)
        for (k = 0; k + 1 < n; k += 2) {
            Mp3UniformGc *c0 = &gc[k], *c1 = &gc[k + 1];
            const long both = c0->bits + c1->bits;
            long b0, b1;
            int g0, g1;
            if (c0->silent || c1->silent) continue;
            g0 = finest_within(c0, g, both / 2, ix + 576 * k, h, &b0, w);
            g1 = finest_within(c1, g, both - b0, ix + 576 * (k + 1), h, &b1, w);
            if (g0 > 255 || g1 > 255) continue; /* keep the common step */
            c0->g = g0, c0->bits = b0, c1->g = g1, c1->bits = b1;
            total += b0 + b1 - both;
        }
    do {
        changed = 0;
        for (k = 0; k < n; ++k) {
            long b;
            if (gc[k].silent || gc[k].g == 0) continue;
            b = bits_at(&gc[k], gc[k].g - 1, ix + 576 * k, &si, h, w);
            if (b <= 4095 && total - gc[k].bits + b <= frame_bits) {
                total += b - gc[k].bits;
                gc[k].bits = b;
                --gc[k].g;
                changed = 1;
            }
        }
    } while (changed);
    for (k = 0; k < n; ++k) {
        Mp3SideInfo *s = &gc[k].si;
        if (gc[k].silent) {
            memset(ix + 576 * k, 0, 576 * sizeof *ix);
            s->part2_3_length = s->big_values = 0;
            s->global_gain = 210;
            s->table_select[0] = s->table_select[1] = s->table_select[2] = 0;
            s->region0_count = s->region1_count = s->count1table_select = 0;
            continue;
        }
        gc[k].bits = bits_at(&gc[k], gc[k].g, ix + 576 * k, s, h, w);
        s->global_gain = gc[k].g;
        s->part2_3_length = (Zuf32s)gc[k].bits;
    }
    return 0;
}

/* Product over the left/right granule-channels of their noise-to-allowed ratio: per band (of a
 * window, for short blocks) the error power over the larger of the model's threshold (the band's
 * energy times its ratio) and the threshold in quiet, averaged over the bands weighted by their
 * width, plus 10^-7 (-70 dB: below that, granules count as equally clean). err: the left/right
 * coding errors. */
static double lr_score(const Zuf32s *xr, const double *err, const Mp3PsyOutput *psy, const Mp3SideInfo *side,
                       const Mp3FrameHeader *h, int nch, const Mp3UniformWork *w) {
    const int row = 3 * h->ID + h->sampling_frequency;
    double total = 1;
    int k, b, win, i;
    for (k = 0; k < 2 * nch; ++k) {
        const int shrt = side[k].window_switching_flag && side[k].block_type == 2;
        const Zuf16s *t = shrt ? _zuf_pMP3SfbTableShort + 14 * row : _zuf_pMP3SfbTableLong + 23 * row;
        const int bands = shrt ? 13 : 22, wins = shrt ? 3 : 1;
        double sum = 0;
        for (b = 0; b < bands; ++b)
            for (win = 0; win < wins; ++win) {
                /* the top band has no ratio of its own: it takes the one below */
                const int width = t[b + 1] - t[b], start = wins * t[b] + win * width;
                const int r = shrt ? 3 * (b < 12 ? b : 11) + win : b < 21 ? b : 20;
                const double quiet = shrt ? w->quiet_short[b] : w->quiet_long[b];
                double energy = 0, noise = 0, allowed;
                for (i = start; i < start + width; ++i) {
                    const double x = xr[576 * k + i] * INV_FULL, d = err[576 * k + i];
                    energy += x * x;
                    noise += d * d;
                }
                allowed = energy * ((double)psy[k].ratio[r] / 2147483648.0);
                sum += width * noise / (allowed > quiet ? allowed : quiet);
            }
        total *= sum / 576 + 1e-7;
    }
    return total;
}

int mp3enc_code_uniform(const Zuf32s *xr, const Mp3PsyOutput *psy, Mp3SideInfo *side, Zuf8s (*sf)[40], Zuf32s *ix,
                        const Mp3FrameHeader *h, int nch, int ms_allowed, int frame_bits, Mp3UniformWork *w) {
    const int n = 2 * nch;
    double best = 0;
    int mode, k, i, chosen = -1;

    if (ms_allowed) {
        Mp3FrameHeader mh = *h;
        int bound[6], gr;
        Zuf8u is_pos[40];
        mh.mode = 1;
        mh.mode_extension = 2;
        memcpy(w->ms, xr, sizeof w->ms);
        for (gr = 0; gr < 2; ++gr)
            if (zufsJointStereoEncode_MP3_32s_I(w->ms + 2 * gr * 576, w->ms + (2 * gr + 1) * 576, is_pos, &mh,
                                                &side[2 * gr], bound + 3 * gr) != zufOk)
                return -1;
    }
    for (mode = 0; mode <= ms_allowed; ++mode) {
        double s;
        for (k = 0; k < n; ++k) {
            Mp3UniformGc *c = &w->gc[k];
            float m[576];
            c->x = (mode ? w->ms : xr) + 576 * k;
            c->si = side[k];
            c->si.scalefac_compress = c->si.scalefac_scale = c->si.preflag = 0;
            c->si.subblock_gain[0] = c->si.subblock_gain[1] = c->si.subblock_gain[2] = 0;
            c->silent = 1;
            for (i = 0; i < 576; ++i) {
                m[i] = (float)(fabs((double)c->x[i]) * INV_FULL);
                c->sign[i] = c->x[i] < 0 ? -1 : 0;
                if (c->x[i]) c->silent = 0;
            }
            if (zufsPow34_32f(m, c->a, 576) < zufOk) return -1;
            c->amax = 0;
            for (i = 0; i < 576; ++i) c->amax = c->a[i] > c->amax ? c->a[i] : c->amax;
        }
        if (code_frame(w->gc, n, w->cand, h, frame_bits, !mode && n == 4, &w->last_g[mode], w) < 0) continue;
        /* the errors as they are heard: mid/side noise reaches left and right alike */
        for (k = 0; k < n; ++k) {
            const double step = exp2_16(4 * (w->gc[k].g - 210));
            for (i = 0; i < 576; ++i) {
                const Zuf32s q = w->cand[576 * k + i];
                const double y = w->pow43[q < 0 ? -q : q] * step;
                w->err[576 * k + i] = w->gc[k].x[i] * INV_FULL - (q < 0 ? -y : y);
            }
        }
        if (mode)
            for (k = 0; k < n; k += 2)
                for (i = 0; i < 576; ++i) {
                    const double m = w->err[576 * k + i], d = w->err[576 * (k + 1) + i];
                    w->err[576 * k + i] = (m + d) * 0.70710678118654752;
                    w->err[576 * (k + 1) + i] = (m - d) * 0.70710678118654752;
                }
        s = lr_score(xr, w->err, psy, side, h, nch, w);
        if (chosen < 0 || s < best) {
            best = s;
            chosen = mode;
            memcpy(w->best, w->cand, sizeof w->best);
            for (k = 0; k < n; ++k) w->best_side[k] = w->gc[k].si;
        }
    }
    if (chosen < 0) return -1;
    memcpy(ix, w->best, (size_t)n * 576 * sizeof *ix);
    for (k = 0; k < n; ++k) {
        side[k] = w->best_side[k];
        memset(sf[k], 0, sizeof sf[k]);
    }
    return chosen;
}
