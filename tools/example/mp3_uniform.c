/*
 * Uniform quantisation of MP3 frames; see mp3_uniform.h.
 *
 * Every decision here rests on IEEE arithmetic without libm, the library's kernels, and tables
 * fixed at set-up (powers of two from constants; the thresholds in quiet snapped to a grid), so
 * that every build writes the same stream.
 */
#include "mp3_uniform.h"

#include <math.h>
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

/* Code lengths, as the library's encoder writes them: each pair (into hlen, signs and linbits
 * apart) and each quadruple (into w) once. */
static int measure_codes(Zuf8u (*hlen)[16][16], Mp3UniformWork *w, const Mp3FrameHeader *h) {
    Zuf32s ix[576];
    Mp3SideInfo si;
    int t, x, y, q, fail = 0;
    memset(ix, 0, sizeof ix);
    memset(&si, 0, sizeof si);
    memset(hlen, 0, 32 * sizeof *hlen);
    si.big_values = 1; /* one pair, in region 0 */
    for (t = 1; t < 32; ++t) {
        const int lb = k_linbits[t];
        if (!k_xlen[t]) continue;
        si.table_select[0] = si.table_select[1] = si.table_select[2] = t;
        for (x = 0; x < k_xlen[t]; ++x)
            for (y = 0; y < k_xlen[t]; ++y) {
                ix[0] = x, ix[1] = y;
                hlen[t][x][y] = (Zuf8u)(written_bits(ix, h, &si, 0, &fail) - (x != 0) - (y != 0) - (x == 15 ? lb : 0) -
                                        (y == 15 ? lb : 0));
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

/* The candidate tables of a region by its largest magnitude m (11172-3 Annex C): the first table
 * whose rows hold m, and the others of its size; above 14, the first of 16-23 and of 24-31 whose
 * linbits hold m - 15. */
static const Zuf8u k_class_of[15] = {0, 0, 1, 2, 3, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5};
static const Zuf8u k_class_tables[6][3] = {{1, 0, 0}, {2, 3, 0}, {5, 6, 0}, {7, 8, 9}, {10, 11, 12}, {13, 15, 0}};
static const Zuf8u k_class_count[6] = {1, 2, 2, 3, 3, 2};

/* Per class, per pair of magnitudes (each limited to 15), the candidates' code lengths in 16-bit
 * fields 0-2 and the pair's sign bits in field 3 (the escape class: the lengths of tables 16 and
 * 24 in fields 0-1 and the number of linbits fields in 2): a region's counts are one sum. */
static void pack_classes(Mp3UniformWork *w, Zuf8u (*hlen)[16][16]) {
    int c, x, y, j;
    for (c = 0; c < 7; ++c)
        for (x = 0; x < 16; ++x)
            for (y = 0; y < 16; ++y) {
                Zuf64u v = (Zuf64u)((x != 0) + (y != 0)) << 48;
                if (c < 6) {
                    for (j = 0; j < k_class_count[c]; ++j) {
                        const int t = k_class_tables[c][j];
                        if (x < k_xlen[t] && y < k_xlen[t]) v |= (Zuf64u)hlen[t][x][y] << (16 * j);
                    }
                } else
                    v |= (Zuf64u)hlen[16][x][y] | (Zuf64u)hlen[24][x][y] << 16 | (Zuf64u)((x == 15) + (y == 15)) << 32;
                w->packed[c][x][y] = v;
            }
}

/* Chooses the table of the region mag[from..to) (largest magnitude m > 0); returns its bits. */
static long region_table(const Zuf32s *mag, int from, int to, int m, int *table, const Mp3UniformWork *w) {
    Zuf64u sum = 0;
    int i;
    if (m < 15) {
        const int c = k_class_of[m];
        const Zuf64u(*pk)[16] = w->packed[c];
        long best = 0;
        int j;
        for (i = from; i < to; i += 2) sum += pk[mag[i]][mag[i + 1]];
        for (j = 0; j < k_class_count[c]; ++j) {
            const long b = (long)((sum >> (16 * j)) & 0xFFFF) + (long)(sum >> 48);
            if (j == 0 || b < best) best = b, *table = k_class_tables[c][j];
        }
        return best;
    } else {
        const Zuf64u(*pk)[16] = w->packed[6];
        long b16, b24;
        int t16 = 16, t24 = 24;
        for (i = from; i < to; i += 2) {
            const int x = mag[i] < 15 ? mag[i] : 15, y = mag[i + 1] < 15 ? mag[i + 1] : 15;
            sum += pk[x][y];
        }
        while (t16 < 23 && (1 << k_linbits[t16]) <= m - 15) ++t16;
        while (t24 < 31 && (1 << k_linbits[t24]) <= m - 15) ++t24;
        {
            const long esc = (long)((sum >> 32) & 0xFFFF), signs = (long)(sum >> 48);
            b16 = (long)(sum & 0xFFFF) + signs + esc * k_linbits[t16];
            b24 = (long)((sum >> 16) & 0xFFFF) + signs + esc * k_linbits[t24];
        }
        /* 24-31 only when strictly smaller, as the library's loop decides */
        *table = b24 < b16 ? t24 : t16;
        return b24 < b16 ? b24 : b16;
    }
}

/* Sets big_values, the regions, their tables and the count1 table of si for the magnitudes mag,
 * as the library's rate loop would choose them (Annex C); returns the spectral bits. */
static long huffman_plan(const Zuf32s *mag, const Mp3FrameHeader *h, Mp3SideInfo *si, const Mp3UniformWork *w) {
    const Zuf16s *L = _zuf_pMP3SfbTableLong + 23 * (3 * h->ID + h->sampling_frequency);
    int n = 576, c1 = 0, r, end[3], bv;
    long bits = 0;
    while (n > 0 && (mag[n - 1] | mag[n - 2]) == 0) n -= 2;
    while (n >= 4 && (mag[n - 1] | mag[n - 2] | mag[n - 3] | mag[n - 4]) <= 1) {
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
        int m = 0, i, t = 0;
        for (i = from; i < end[r]; ++i) m = mag[i] > m ? mag[i] : m;
        if (m) bits += region_table(mag, from, end[r], m, &t, w);
        si->table_select[r] = t;
    }
    si->count1table_select = 0;
    if (c1) {
        long a = 0, b = 0;
        int i;
        for (i = n; i < n + c1; i += 4) {
            const int q = 8 * mag[i] + 4 * mag[i + 1] + 2 * mag[i + 2] + mag[i + 3];
            const int signs = mag[i] + mag[i + 1] + mag[i + 2] + mag[i + 3];
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
    Zuf8u hlen[32][16][16];
    int i;
    for (i = 0; i < 8207; ++i) q[i] = (Zuf16s)i;
    if (zufsPow43_16s32f(q, w->pow43, 8207) != zufOk || measure_codes(hlen, w, h) != 0) return -1;
    pack_classes(w, hlen);
    quiet_bands(w, h);
    w->last_g[0] = w->last_g[1] = 150;
    return 0;
}

/* Quantises c at global gain g into its spare buffer of magnitudes and plans its Huffman coding
 * (side information into si); returns the bits, or 2^30 when a line would exceed what tables
 * 16-31 code (15 + 8191). The 0.4054 offset is the rounding of 11172-3 Annex C's quantiser. */
static long try_gain(Mp3UniformGc *c, int g, Mp3SideInfo *si, const Mp3FrameHeader *h, const Mp3UniformWork *w) {
    const float f = (float)exp2_16(-3 * (g - 210));
    Zuf32s *q = c->q[c->cur ^ 1];
    int i;
    if (c->amax * f + 0.4054f >= 8207.0f) return 1L << 30;
    for (i = 0; i < 576; ++i) q[i] = (Zuf32s)(c->a[i] * f + 0.4054f);
    *si = c->si;
    return huffman_plan(q, h, si, w);
}

/* Makes the last try_gain of c its coding. */
static void keep(Mp3UniformGc *c, int g, long bits, const Mp3SideInfo *si) {
    c->cur ^= 1;
    c->g = g;
    c->bits = bits;
    c->coded = *si;
}

/* The finest global gain used. Steps finer than this hardly change the decoded 16-bit samples:
 * quiet granules of speech coded at 123-125 already decoded to within one LSB, and stopping at
 * 120 keeps the bits they would take in the reservoir for louder frames. At 320 kbit/s this
 * lowered the noise-to-mask ratio of speech from -25.4 to -26.3 dB and of bursts after silence
 * from -11.5 to -11.9 and of transients from -82.0 to -83.3 (the others moved by less than 0.1). */
#define FINEST_GAIN 120

/* How much coarser the side channel's step is than the mid channel's. The 4/3 power law makes a
 * line's quantisation error grow with its value (by (4/3) q^(1/3) per step), so at one common step
 * the louder mid channel carries more noise than the side channel; two steps (3 dB) apart, the two
 * come out nearer even. This lowered the noise-to-mask ratio of speech at 320 kbit/s by 1.6 dB and
 * of music and bursts at 128, 192 and 320 by 0.1 to 0.8 dB; near-mono and wide stereo lost up to
 * 0.26 dB at 128 and 320. */
#define SIDE_OFFSET 2

/* Codes c at the finest global gain, searched from g, that takes at most `budget` bits (at most
 * 4095; bits fall as the gain rises). Returns the gain, 256 when none fits. */
static int finest_within(Mp3UniformGc *c, int g, long budget, const Mp3FrameHeader *h, const Mp3UniformWork *w) {
    Mp3SideInfo si;
    long b;
    if (budget > 4095) budget = 4095;
    if ((b = try_gain(c, g, &si, h, w)) <= budget) {
        keep(c, g, b, &si);
        while (g > FINEST_GAIN && (b = try_gain(c, g - 1, &si, h, w)) <= budget) keep(c, --g, b, &si);
        return g;
    }
    while (++g < 256)
        if ((b = try_gain(c, g, &si, h, w)) <= budget) {
            keep(c, g, b, &si);
            break;
        }
    return g;
}

/* Codes every granule-channel at global gain g (the side channels of a mid/side frame, odd k, at
 * g + SIDE_OFFSET) when their bits fit `limit` (none over 4095); returns whether they did (the
 * codings stay as they were when not). */
static int try_frame(Mp3UniformGc *gc, int n, int g, int ms, long limit, const Mp3FrameHeader *h,
                     const Mp3UniformWork *w) {
    Mp3SideInfo si[4];
    long b[4], sum = 0;
    int k, gk[4];
    for (k = 0; k < n; ++k) {
        gk[k] = ms && (k & 1) && g + SIDE_OFFSET < 256 ? g + SIDE_OFFSET : g;
        b[k] = gc[k].silent ? 0 : try_gain(&gc[k], gk[k], &si[k], h, w);
        if (b[k] > 4095 || (sum += b[k]) > limit) return 0;
    }
    for (k = 0; k < n; ++k)
        if (!gc[k].silent) keep(&gc[k], gk[k], b[k], &si[k]);
    return 1;
}

/* Codes the n granule-channels of a frame in frame_bits at the finest steps that fit, none finer
 * than FINEST_GAIN:
 * 1. one step for all, the same noise everywhere (searched from the last frame's; with ms, the
 *    side channels SIDE_OFFSET coarser);
 * 2. with pair_bits (left/right), the two channels of each granule split that granule's bits
 *    equally instead: a channel of noise-like content would otherwise take most of them where
 *    the other, cleaner one is heard with less masking (LAME splits a left/right granule alike);
 * 3. each granule-channel in turn one step finer while the frame has room.
 * Returns 0, or -1 when no step fits. */
static int code_frame(Mp3UniformGc *gc, int n, const Mp3FrameHeader *h, long frame_bits, int pair_bits, int ms,
                      int *last_g, const Mp3UniformWork *w) {
    int g = *last_g, k, changed, stuck[4] = {0, 0, 0, 0};
    long total = 0;
    for (k = 0; k < n; ++k) gc[k].bits = 0;
    if (g < FINEST_GAIN) g = FINEST_GAIN;
    if (try_frame(gc, n, g, ms, frame_bits, h, w))
        while (g > FINEST_GAIN && try_frame(gc, n, g - 1, ms, frame_bits, h, w)) --g;
    else
        while (++g < 256 && !try_frame(gc, n, g, ms, frame_bits, h, w)) {}
    if (g > 255) return -1;
    *last_g = g;
    for (k = 0; k < n; ++k) total += gc[k].bits;
    if (pair_bits)
        for (k = 0; k + 1 < n; k += 2) {
            Mp3UniformGc *c0 = &gc[k], *c1 = &gc[k + 1];
            const long both = c0->bits + c1->bits;
            if (c0->silent || c1->silent) continue;
            if (finest_within(c0, g, both / 2, h, w) > 255 || finest_within(c1, g, both - c0->bits, h, w) > 255) {
                Mp3SideInfo si;
                long b = try_gain(c0, g, &si, h, w); /* back to the common step, which fits */
                keep(c0, g, b, &si);
                b = try_gain(c1, g, &si, h, w);
                keep(c1, g, b, &si);
            }
            total += c0->bits + c1->bits - both;
        }
    do {
        changed = 0;
        for (k = 0; k < n; ++k) {
            Mp3SideInfo si;
            long b;
            /* a granule-channel that did not fit stays out: the others only take bits away */
            if (gc[k].silent || gc[k].g <= FINEST_GAIN || stuck[k]) continue;
            b = try_gain(&gc[k], gc[k].g - 1, &si, h, w);
            if (b <= 4095 && total - gc[k].bits + b <= frame_bits) {
                total += b - gc[k].bits;
                keep(&gc[k], gc[k].g - 1, b, &si);
                changed = 1;
            } else
                stuck[k] = 1;
        }
    } while (changed);
    return 0;
}

/* The signed lines and side information of c's coding. */
static void coded_lines(const Mp3UniformGc *c, Zuf32s *ix, Mp3SideInfo *si) {
    int i;
    *si = c->coded;
    if (c->silent) {
        memset(ix, 0, 576 * sizeof *ix);
        si->part2_3_length = si->big_values = 0;
        si->global_gain = 210;
        si->table_select[0] = si->table_select[1] = si->table_select[2] = 0;
        si->region0_count = si->region1_count = si->count1table_select = 0;
        return;
    }
    for (i = 0; i < 576; ++i) ix[i] = (c->q[c->cur][i] ^ c->sign[i]) - c->sign[i]; /* sign: 0 or -1 */
    si->global_gain = c->g;
    si->part2_3_length = (Zuf32s)c->bits;
}

/* The noise each band (of a window, for short blocks) of the left/right granule-channels may
 * carry: the larger of the model's threshold (the band's energy times its ratio) and the threshold
 * in quiet. */
static void allowed_noise(const Zuf32s *xr, const Mp3PsyOutput *psy, const Mp3SideInfo *side, const Mp3FrameHeader *h,
                          int nch, Mp3UniformWork *w) {
    const int row = 3 * h->ID + h->sampling_frequency;
    int k, b, win, i;
    for (k = 0; k < 2 * nch; ++k) {
        const int shrt = side[k].window_switching_flag && side[k].block_type == 2;
        const Zuf16s *t = shrt ? _zuf_pMP3SfbTableShort + 14 * row : _zuf_pMP3SfbTableLong + 23 * row;
        const int bands = shrt ? 13 : 22, wins = shrt ? 3 : 1;
        for (b = 0; b < bands; ++b)
            for (win = 0; win < wins; ++win) {
                /* the top band has no ratio of its own: it takes the one below */
                const int width = t[b + 1] - t[b], start = wins * t[b] + win * width;
                const int r = shrt ? 3 * (b < 12 ? b : 11) + win : b < 21 ? b : 20;
                const double quiet = shrt ? w->quiet_short[b] : w->quiet_long[b];
                double energy = 0, allowed;
                for (i = start; i < start + width; ++i) {
                    const double x = xr[576 * k + i] * INV_FULL;
                    energy += x * x;
                }
                allowed = energy * ((double)psy[k].ratio[r] / 2147483648.0);
                w->allowed[k][wins * b + win] = allowed > quiet ? allowed : quiet;
            }
    }
}

/* Product over the left/right granule-channels of their noise-to-allowed ratio: per band the
 * error power over the noise it may carry, averaged over the bands weighted by their width, plus
 * 10^-7 (-70 dB: below that, granules count as equally clean). err: the left/right coding
 * errors. */
static double lr_score(const double *err, const Mp3SideInfo *side, const Mp3FrameHeader *h, int nch,
                       const Mp3UniformWork *w) {
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
                const int width = t[b + 1] - t[b], start = wins * t[b] + win * width;
                double noise = 0;
                for (i = start; i < start + width; ++i) noise += err[576 * k + i] * err[576 * k + i];
                sum += width * noise / w->allowed[k][wins * b + win];
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

    allowed_noise(xr, psy, side, h, nch, w);
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
            c->coded = c->si;
            c->cur = 0;
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
        if (code_frame(w->gc, n, h, frame_bits, !mode && n == 4, mode, &w->last_g[mode], w) < 0) continue;
        for (k = 0; k < n; ++k) coded_lines(&w->gc[k], w->cand + 576 * k, &w->cand_side[k]);
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
        s = lr_score(w->err, side, h, nch, w);
        if (chosen < 0 || s < best) {
            best = s;
            chosen = mode;
            memcpy(w->best, w->cand, sizeof w->best);
            memcpy(w->best_side, w->cand_side, sizeof w->best_side);
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
