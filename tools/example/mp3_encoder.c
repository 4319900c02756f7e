/*
 * MPEG-1 Layer III encoder over libzufack9's public API; mp3_encoder.h describes the frame loop.
 *
 * Timeline: encoder granule g analyses the new input samples [576 g, 576 g + 576); samples
 * before 0 and after the input are zero. The psychoacoustic model's 1024-sample window for
 * granule g starts at 576 g - 736, which centres it on the granule's MDCT window (the analysis
 * bank delays by about 240 samples, the MDCT window reaches one granule back). Its decisions for
 * a granule come out of the call that analyses the next one, so frame F's model call reads
 * granules 2F + 1 and 2F + 2 and returns those of 2F and 2F + 1, which the transform then codes.
 */
#include "mp3_encoder.h"
#include "mp3_uniform.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#define PSY_LEAD 736             /* the model's window starts this far before its granule */
#define HISTORY (PSY_LEAD + 576) /* = 1312: samples held before frame F's first granule */

static int lowpass_hz(int kbps, int channels, int every_rate);

static const int k_kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

int mp3enc_bitrate_index(int kbps) {
    int i;
    for (i = 1; i < 15; ++i)
        if (k_kbps[i] == kbps) return i;
    return 0;
}

static int rate_index(int rate) { return rate == 44100 ? 0 : rate == 48000 ? 1 : rate == 32000 ? 2 : -1; }

/* 144 bitrate / rate bytes per frame (ISO/IEC 11172-3 2.4.3.1): frame k ends at byte
 * floor((k + 1) 144 bitrate / rate), so the padding slots spread evenly and the stream keeps its
 * exact rate. */
static unsigned long long stream_end(int rate, int kbps, unsigned long long frames) {
    return frames * 144000ull * (unsigned)kbps / (unsigned)rate;
}

int mp3enc_frame_bytes(int sample_rate, int kbps, unsigned long k) {
    return (int)(stream_end(sample_rate, kbps, k + 1ull) - stream_end(sample_rate, kbps, k));
}

unsigned long long mp3enc_stream_bytes(const Mp3Encoder *e) { return e->bytes_total; }

static void put32(Zuf8u *p, unsigned long v) {
    p[0] = (Zuf8u)(v >> 24), p[1] = (Zuf8u)(v >> 16), p[2] = (Zuf8u)(v >> 8), p[3] = (Zuf8u)v;
}

/* CRC-16 with the polynomial x^16 + x^15 + x^2 + 1, bit-reversed (0xA001), initial value 0: the
 * check of LAME's tag. */
static unsigned crc16(const Zuf8u *p, size_t n) {
    unsigned crc = 0;
    size_t i;
    int b;
    for (i = 0; i < n; ++i) {
        crc ^= p[i];
        for (b = 0; b < 8; ++b) crc = (crc >> 1) ^ ((crc & 1) ? 0xA001u : 0u);
    }
    return crc & 0xFFFF;
}

static int side_bytes(int channels) { return channels == 2 ? 32 : 17; }

/* The first frame: a silent frame whose main data area holds the "Info" tag (flags: frame count,
 * byte count, quality; no seek table, which a constant rate does not need and which would not
 * fit a 32 kbit/s frame), then the LAME extension with the encoder delay and padding. */
static void info_frame(Mp3Encoder *e) {
    Mp3FrameHeader h = e->hdr;
    Zuf8u *f = e->out, *p = f, *t;
    const int len = mp3enc_frame_bytes(e->cfg.sample_rate, e->cfg.kbps, 0);
    const unsigned long delay = MP3ENC_CHAIN_DELAY - MP3ENC_DECODER_DELAY;
    const unsigned long padding = e->frames * 1152ul - e->total - delay;
    memset(f, 0, (size_t)len);
    h.padding_bit = len > (int)(144000ull * (unsigned)e->cfg.kbps / (unsigned)e->cfg.sample_rate);
    h.mode_extension = 0;
    zufsPackFrameHeader_MP3(&h, &p);
    t = f + 4 + side_bytes(e->cfg.channels);
    memcpy(t, "Info", 4);
    put32(t + 4, 1 | 2 | 8);
    put32(t + 8, e->frames);
    put32(t + 12, (unsigned long)e->bytes_total);
    put32(t + 16, 0); /* quality: not a VBR scale */
    t += 20;
    /* LAME extension: encoder string (9 bytes; the first four name the tag's layout to
     * readers), tag revision 0 / method 1 (constant rate), lowpass, replay gain (none), flags,
     * bit rate, delay and padding (12 bits each), misc, gain, preset, music length and CRC (not
     * known before the end), tag CRC. */
    memcpy(t, "LAMEzuf52", 9);
    t[9] = 0x01;
    t[10] = (Zuf8u)(e->lowpass_line * e->cfg.sample_rate / 1152 / 100);
    t[20] = (Zuf8u)(e->cfg.kbps > 255 ? 255 : e->cfg.kbps);
    t[21] = (Zuf8u)(delay >> 4);
    t[22] = (Zuf8u)(((delay & 15) << 4) | (padding >> 8));
    t[23] = (Zuf8u)padding;
    put32(t + 28, (unsigned long)e->bytes_total);
    {
        const unsigned crc = crc16(f, (size_t)(t + 34 - f));
        t[34] = (Zuf8u)(crc >> 8), t[35] = (Zuf8u)crc;
    }
    e->out_len = (size_t)len;
}

/* Whether the frames are quantised by mp3_uniform.h: by choice, or because they have no reservoir,
 * where the library's rate loop would leave bits unused and the top band empty. */
static int quantises_uniformly(const Mp3Encoder *e) {
    return e->cfg.rate_loop != MP3ENC_LIBRARY_LOOP || e->resv.maxBits == 0;
}

int mp3enc_init(Mp3Encoder *e, const Mp3EncConfig *cfg, unsigned long total, char *why, size_t why_len) {
    const int sf = rate_index(cfg->sample_rate), bi = mp3enc_bitrate_index(cfg->kbps);
    memset(e, 0, sizeof *e);
    if (sf < 0) {
        snprintf(why, why_len, "sampling rate %d Hz: MPEG-1 Layer III takes 32000, 44100 or 48000", cfg->sample_rate);
        return 1;
    }
    if (cfg->channels < 1 || cfg->channels > 2) {
        snprintf(why, why_len, "%d channels: one or two are encoded", cfg->channels);
        return 1;
    }
    if (!bi) {
        snprintf(why, why_len, "%d kbit/s: the rates are 32 40 48 56 64 80 96 112 128 160 192 224 256 320", cfg->kbps);
        return 1;
    }
    if ((cfg->channels == 1) != (cfg->mode == MP3ENC_MONO) ||
        (cfg->mode != MP3ENC_MONO && cfg->mode != MP3ENC_STEREO && cfg->mode != MP3ENC_JOINT)) {
        snprintf(why, why_len, "mode %s does not fit %d channel%s", cfg->mode == MP3ENC_MONO ? "mono" : "stereo",
                 cfg->channels, cfg->channels == 1 ? "" : "s");
        return 1;
    }
    e->cfg = *cfg;
    e->hdr.ID = 1;
    e->hdr.layer = 1;
    e->hdr.protection_bit = 1;
    e->hdr.bitrate_index = bi;
    e->hdr.sampling_frequency = sf;
    e->hdr.mode = cfg->mode;
    e->hdr.original_copy = 1;
    e->psy_hdr = e->hdr;
    /* Where the model's intensity bound tables do not reach (80 to 112 kbit/s use intensity
     * stereo with the library's rate loop), it analyses left and right only and choose_mid_side
     * or the uniform quantiser decides; at 80 to 112 kbit/s its mid/side analysis comes with the
     * intensity bounds. */
    if (cfg->mode == MP3ENC_JOINT && (bi < 6 || bi > 8 || cfg->rate_loop != MP3ENC_LIBRARY_LOOP))
        e->psy_hdr.mode = MP3ENC_STEREO;
    if (zufsBitReservoirInit_MP3(&e->resv, &e->hdr) != zufOk) {
        snprintf(why, why_len, "the bit reservoir could not be set up");
        return 1;
    }
    /* The library keeps the reservoir and the frame within the 7680 bits that ISO/IEC 11172-3
     * gives a decoder's input buffer, which leaves 320 kbit/s none and 192 kbit/s 334 bytes.
     * Decoders read main_data_begin as far back as its 9 bits reach, and LAME writes such streams
     * by default; with the 511 bytes the noise-to-mask ratio of bursts after silence fell from
     * -8.5 to -11.5 dB at 320 kbit/s and from -2.9 to -4.2 at 192. */
    if (!cfg->strict_iso) e->resv.maxBits = 511 * 8;
    if (quantises_uniformly(e) && mp3enc_uniform_init(&e->uniform, &e->hdr) != 0) {
        snprintf(why, why_len, "the Huffman encoder refused a code");
        return 1;
    }
    e->total = total;
    e->frames = (unsigned long)((total + MP3ENC_CHAIN_DELAY + 1151ull) / 1152ull);
    e->bytes_total = stream_end(cfg->sample_rate, cfg->kbps, e->frames + 1ull);
    e->held = HISTORY; /* the zeros before the input */
    {
        /* The uniform quantiser codes every line below the edge. At 128 kbit/s an edge near 17 kHz
         * instead of 20.5 lowered the noise-to-mask ratio of six quality signals by 0.5-1.8 dB
         * (sweep rose by 0.2); at 320 kbit/s transients over the input's rounding noise come out
         * exact less often. */
        const int hz = lowpass_hz(cfg->kbps, cfg->channels, quantises_uniformly(e));
        e->lowpass_line = hz ? (int)((long long)hz * 1152 / cfg->sample_rate) : 0;
    }
    info_frame(e);
    e->md_base = e->md_len = 0;
    {
        /* 10^(-1/40) in Q30, applied step by step in integers so that every build agrees */
        const unsigned long long step = 1013677647ull;
        unsigned long long v = 1ull << 30;
        int k;
        for (k = 0; k <= MP3ENC_MAX_ATTEN; ++k, v = (v * step + (1ull << 29)) >> 30) e->atten_q30[k] = (Zuf32s)v;
    }
    return 0;
}

/* Upper edge of the coded band in Hz by bit rate per channel pair (mono counts double): the high
 * band would take the bits that the bands below need to stay under their masking threshold, so it
 * is left out, as LAME's low-pass does (its table, rounded). The library's rate loop keeps only the
 * lines below scale-factor band 21 (about 16 kHz) itself, so for it (every_rate 0) only the rates
 * up to 112 kbit/s have an edge here; 0: none. */
static int lowpass_hz(int kbps, int channels, int every_rate) {
    static const int k_rate[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256};
    static const int k_hz[] = {5500, 7000, 7500, 10000, 11000, 13500, 15100, 15600, 17000, 17500, 18600, 19400, 19700};
    const int pair = channels == 1 ? 2 * kbps : kbps;
    int i;
    for (i = 0; i < (every_rate ? 13 : 8); ++i)
        if (pair <= k_rate[i]) return k_hz[i];
    return every_rate ? 20500 : 0;
}

/* Zeroes the lines above `line` (of 576; short blocks: of 192 per window, in the band-major order
 * of the short bands) with a linear taper over the 24 lines below it, so that the cut does not
 * ring. */
static void lowpass(Zuf32s *xr, int block_type, int line, const Mp3FrameHeader *h) {
    int i, w;
    if (block_type != 2) {
        for (i = 0; i < 576; ++i)
            if (i >= line)
                xr[i] = 0;
            else if (i > line - 24)
                xr[i] = (Zuf32s)((long long)xr[i] * (line - i) / 24);
        return;
    }
    {
        const Zuf16s *sfb = _zuf_pMP3SfbTableShort + 14 * (3 * h->ID + h->sampling_frequency);
        const int cut = line / 3;
        int b, k = 0;
        for (b = 0; b < 13; ++b)
            for (w = 0; w < 3; ++w)
                for (i = sfb[b]; i < sfb[b + 1]; ++i, ++k)
                    if (i >= cut)
                        xr[k] = 0;
                    else if (i > cut - 8)
                        xr[k] = (Zuf32s)((long long)xr[k] * (cut - i) / 8);
    }
}

/* Lines of the count1 region: the coded part ends at the last non-zero pair, and big_values
 * pairs come before it (11172-3 2.4.2.7, big_values and count1). */
static int count1_lines(const Zuf32s *ix, int big_values) {
    int last = 575, n;
    while (last >= 0 && ix[last] == 0) --last;
    n = ((last + 2) & ~1) - 2 * big_values;
    n = n < 0 ? 0 : (n + 3) & ~3;
    return 2 * big_values + n > 576 ? 576 - 2 * big_values : n;
}

/* Whether the quantised right channels of the frame start intensity stereo where a decoder will:
 * at the band after the last one holding a non-zero line (per window for short blocks). If not,
 * the bounds are lowered to there (to 0 when `all`) and 0 is returned. */
static int is_bounds_decodable(Mp3Encoder *e, int all) {
    const int row = 3 * e->hdr.ID + e->hdr.sampling_frequency;
    const Zuf16s *lb = _zuf_pMP3SfbTableLong + 23 * row, *sb = _zuf_pMP3SfbTableShort + 14 * row;
    int gr, w, b, k, ok = 1;
    for (gr = 0; gr < 2; ++gr) {
        const Zuf32s *r = e->xr + (gr * 2 + 1) * 576;
        int *bound = &e->is_bound[gr * 3];
        if (e->side[gr * 2 + 1].block_type != 2) {
            for (k = 575; k >= 0 && r[k] == 0; --k) continue;
            for (b = 0; b < 22 && lb[b] <= k; ++b) continue; /* first band starting above line k */
            if (all) b = 0;
            if (b < bound[0]) bound[0] = bound[1] = bound[2] = b, ok = 0;
            continue;
        }
        for (w = 0; w < 3; ++w) {
            int last = -1; /* last short band of window w with a non-zero line */
            for (b = 0; b < 13; ++b)
                for (k = 3 * sb[b] + w * (sb[b + 1] - sb[b]); k < 3 * sb[b] + (w + 1) * (sb[b + 1] - sb[b]); ++k)
                    if (r[k]) last = b;
            b = all ? 0 : last + 1;
            if (b < bound[w]) bound[w] = b, ok = 0;
        }
    }
    return ok;
}

/* Margin between the model's thresholds and the noise the quantiser may leave, in quarter
 * decibels, for a band starting at hz: 20 dB up to 1 kHz, falling to 2.5 dB at 3 kHz, 2.5 dB up
 * to 8 kHz, then the other way, up to 10 dB more noise at 16 kHz.
 * - Model two spreads the masking of strong low partials over the lines between them, but at low
 *   frequencies a critical band spans only a few MDCT lines and the noise there is heard (on
 *   music at 128 kbit/s the subbands below 2 kHz carried a noise-to-mask ratio 5 to 9 dB above
 *   LAME's without this margin).
 * - From 3 to 8 kHz the model's thresholds sit a little high as well: without the 2.5 dB, wide
 *   stereo music at 128 and 192 kbit/s carried 3 to 5 dB more noise against its masking
 *   threshold there than LAME's.
 * - Towards 16 kHz the threshold in quiet rises faster than the model's partition tables follow,
 *   and the bits saved there go to the bands below. */
static int band_margin(int hz) {
    if (hz <= 1000) return 80;
    if (hz < 3000) return 10 + 70 * (3000 - hz) / 2000;
    if (hz <= 8000) return 10;
    return hz >= 16000 ? -40 : 10 - 50 * (hz - 8000) / 8000;
}

/* log2 of a positive double to within 0.09, from its exponent and a linear mantissa: exact
 * arithmetic only, so that every build takes the same decisions. */
static double log2_rough(double x) {
    int ex;
    const double m = frexp(x, &ex); /* x = m 2^ex, 0.5 <= m < 1 */
    return ex - 2.0 + 2.0 * m;
}

/* Bits a band needs to keep its noise below thr, roughly: half the lines times log2 of the
 * energy-to-threshold ratio, 0 when the band is masked. */
static double band_cost(double energy, double thr, int lines) {
    if (energy <= thr) return 0.0;
    return thr > 0 ? 0.5 * lines * log2_rough(energy / thr) : 20.0 * lines;
}

/* Mid/side or left/right for a joint-stereo frame whose model ran on left and right alone. Mid
 * and side each get the lower of left's and right's thresholds (their noise reaches both
 * outputs), and each pair is priced by band_cost over the frame; mid/side is taken unless it
 * costs a quarter more than left/right (the estimate is rough, and near a tie mid/side measured
 * the lower noise-to-mask ratio on near-mono and on wide stereo music). Frames whose channels
 * differ in block type stay left/right. Model two's own rule compares entropies that do not fall
 * with the side channel's level, and keeping it would need the model's mid and side analysis,
 * half of its time. */
static void choose_mid_side(Mp3Encoder *e) {
    const int row = 3 * e->hdr.ID + e->hdr.sampling_frequency;
    const Zuf16s *lb = _zuf_pMP3SfbTableLong + 23 * row, *sb = _zuf_pMP3SfbTableShort + 14 * row;
    double costLR = 0, costMS = 0, thr[2][36], em[2][36], es[2][36];
    int gr, b, i;
    if (e->cfg.channels != 2 || e->hdr.mode != MP3ENC_JOINT || e->psy_hdr.mode == MP3ENC_JOINT) return;
    for (gr = 0; gr < 2; ++gr)
        if (e->side[2 * gr].block_type != e->side[2 * gr + 1].block_type) return;
    for (gr = 0; gr < 2; ++gr) {
        const int shrt = e->side[2 * gr].block_type == 2, nb = shrt ? 36 : 21;
        const Zuf32s *l = e->xr + 2 * gr * 576, *r = l + 576;
        for (b = 0; b < nb; ++b) {
            const int width = shrt ? sb[b / 3 + 1] - sb[b / 3] : lb[b + 1] - lb[b];
            const int start = shrt ? 3 * sb[b / 3] + (b % 3) * width : lb[b];
            const Zuf32s rl = e->psy_out[2 * gr].ratio[b], rr = e->psy_out[2 * gr + 1].ratio[b];
            double el = 0, er = 0, m = 0, d = 0, tl, tr;
            for (i = start; i < start + width; ++i) {
                const double x = l[i], y = r[i];
                el += x * x, er += y * y, m += (x + y) * (x + y), d += (x - y) * (x - y);
            }
            m *= 0.5, d *= 0.5;
            tl = el * (rl / 2147483648.0), tr = er * (rr / 2147483648.0);
            /* A saturated ratio says only that the band lies below its threshold: the other
             * channel's threshold decides. */
            if (rl == 0x7FFFFFFF) tl = tr > el ? tr : el;
            if (rr == 0x7FFFFFFF) tr = tl > er ? tl : er;
            thr[gr][b] = tl < tr ? tl : tr, em[gr][b] = m, es[gr][b] = d;
            costLR += band_cost(el, tl, width) + band_cost(er, tr, width);
            costMS += band_cost(m, thr[gr][b], width) + band_cost(d, thr[gr][b], width);
        }
    }
    if (costMS >= 1.25 * costLR) return;
    e->hdr.mode_extension |= 2;
    for (gr = 0; gr < 2; ++gr) {
        Mp3PsyOutput *pm = &e->psy_out[2 * gr], *ps = pm + 1;
        const int nb = e->side[2 * gr].block_type == 2 ? 36 : 21;
        double cm = 0, cs = 0;
        const Zuf32s pe = pm->pe + ps->pe;
        for (b = 0; b < nb; ++b) {
            const double t = thr[gr][b];
            pm->ratio[b] = em[gr][b] > t ? (Zuf32s)(t / em[gr][b] * 2147483647.0) : 0x7FFFFFFF;
            ps->ratio[b] = es[gr][b] > t ? (Zuf32s)(t / es[gr][b] * 2147483647.0) : 0x7FFFFFFF;
            cm += band_cost(em[gr][b], t, 1), cs += band_cost(es[gr][b], t, 1);
        }
        /* The entropy sets each channel's share of the granule's bits: split the pair's. */
        pm->pe = cm + cs > 0 ? (Zuf32s)(pe * (cm / (cm + cs))) : pe / 2;
        ps->pe = pe - pm->pe;
    }
}

/* The ratios the quantiser reads: the model's, moved by the band margin. */
static void shape_ratios(Mp3Encoder *e) {
    const int nch = e->cfg.channels, row = 3 * e->hdr.ID + e->hdr.sampling_frequency;
    const Zuf16s *lb = _zuf_pMP3SfbTableLong + 23 * row, *sb = _zuf_pMP3SfbTableShort + 14 * row;
    int k, b;
    for (k = 0; k < 2 * nch; ++k) {
        const int shrt = e->side[k].block_type == 2;
        for (b = 0; b < (shrt ? 36 : 21); ++b) {
            const int hz = shrt ? sb[b / 3] * e->cfg.sample_rate / 384 : lb[b] * e->cfg.sample_rate / 1152;
            Zuf32s *r = &e->psy_out[k].ratio[b];
            const int a = band_margin(hz);
            if (a >= 0)
                *r = (Zuf32s)(((long long)*r * e->atten_q30[a]) >> 30);
            else {
                const long long v = ((long long)*r << 30) / e->atten_q30[-a];
                *r = v > 0x7FFFFFFF ? 0x7FFFFFFF : (Zuf32s)v;
            }
        }
    }
}

/* Bit estimates of short blocks: the square-root formula gives a granule of short blocks a few
 * dozen bits where a long one of the same entropy gets thousands, so an attack was coded with what
 * the other granule-channels left over. Its estimate becomes the long formula's (3.1 PE, the
 * quantiser's; bursts of tone and noise at 128 kbit/s: the noise-to-mask ratio fell by 2 dB). */
static void plan_bits(Mp3Encoder *e) {
    int k;
    for (k = 0; k < 2 * e->cfg.channels; ++k)
        if (e->side[k].block_type == 2 && e->psy_out[k].pe > 0) {
            const double est = 3.1 * e->psy_out[k].pe, m = (est < 1800 ? est : 1800) * 32.0 / 38.0;
            e->psy_out[k].pe = (Zuf32s)(m * m + 1);
        }
}

/* Bits that a frame of lower entropy than the recent ones leaves in the reservoir (a multiple of
 * 8). The quantiser spends a frame's bits whenever its bands exceed their allowed noise, which at
 * 128 kbit/s is nearly always, so the reservoir stayed below 30 bytes and an attack found nothing
 * to draw on. Such a frame now codes with 0.3 of its bits times its shortfall against the running
 * mean of the entropy held back (less below 128 kbit/s per channel pair, where every frame is
 * short of bits), up to a reservoir a quarter frame below its limit. On music at 128 kbit/s the
 * reservoir then holds about 300 bytes, as LAME's does, and the noise-to-mask ratio fell by 1 dB. */
static int bank_bits(Mp3Encoder *e, int frame_bits) {
    const int pair = e->cfg.channels == 1 ? 2 * e->cfg.kbps : e->cfg.kbps;
    const double mean = e->pe_mean;
    double pe = 0, d;
    int k, room;
    for (k = 0; k < 2 * e->cfg.channels; ++k) pe += e->psy_out[k].pe > 0 ? e->psy_out[k].pe : 0;
    e->pe_mean = mean > 0 ? 0.9 * mean + 0.1 * pe : pe;
    if (e->resv.maxBits <= 0 || mean <= 0 || pe >= mean) return 0;
    d = 0.3 * (pair < 128 ? pair / 128.0 : 1.0) * frame_bits * (1 - pe / mean);
    room = e->resv.maxBits - e->resv.bitsRemaining - frame_bits / 4;
    if (d > room) d = room;
    return d > 0 ? (int)d & ~7 : 0;
}

/* Scale-factor selection information: in a frame with a reservoir whose two granules are both
 * long in a channel, granule 1 reuses granule 0's scale factors in all four band groups, and the
 * quantiser codes it with them. That saves granule 1's 60 to 75 scale-factor bits per channel,
 * about 4% of a 128 kbit/s frame, and the factors of the same bands 13 ms apart differ little:
 * the noise-to-mask ratio fell by 0.2-0.3 dB on music and wide stereo at 128 kbit/s and on most
 * signals at 64 and 96 kbit/s (bursts of tone at 128 kbit/s rose by 0.26 dB). Frames without a
 * reservoir code no scale factors (mp3_uniform.h). */
static void choose_scfsi(Mp3Encoder *e) {
    const int nch = e->cfg.channels;
    int ch, grp;
    for (ch = 0; ch < nch; ++ch) {
        const int reuse = e->side[ch].block_type != 2 && e->side[nch + ch].block_type != 2;
        for (grp = 0; grp < 4; ++grp) e->scfsi[4 * ch + grp] = reuse;
    }
}

/* Moves every frame whose slots the main-data stream has filled to the output. */
static void release_frames(Mp3Encoder *e, int pad_with_zeros) {
    while (e->npend) {
        Mp3EncFrame *f = &e->pending[0];
        const unsigned long slots = (unsigned long)(f->len - f->head);
        unsigned long have = e->md_base + e->md_len - f->md_pos;
        if (e->md_base + e->md_len < f->md_pos) have = 0;
        if (have < slots && !pad_with_zeros) break;
        if (have > slots) have = slots;
        memcpy(f->bytes + f->head, e->md + (f->md_pos - e->md_base), have);
        memset(f->bytes + f->head + have, 0, slots - have);
        memcpy(e->out + e->out_len, f->bytes, (size_t)f->len);
        e->out_len += (size_t)f->len;
        memmove(&e->pending[0], &e->pending[1], (size_t)(e->npend - 1) * sizeof *f);
        --e->npend;
    }
    /* The stream before the first waiting frame's slots is written: drop it. */
    {
        const unsigned long keep_from = e->npend ? e->pending[0].md_pos : e->md_base + e->md_len;
        const unsigned long drop = keep_from > e->md_base ? keep_from - e->md_base : 0;
        if (drop >= e->md_len) {
            e->md_base += e->md_len;
            e->md_len = 0;
        } else if (drop) {
            memmove(e->md, e->md + drop, e->md_len - drop);
            e->md_base += drop;
            e->md_len -= drop;
        }
    }
}

static int fail(char *why, size_t why_len, const char *what, int status) {
    snprintf(why, why_len, "%s failed (status %d)", what, status);
    return 1;
}

/* Codes frame e->coded from the held PCM (pcm[0] is sample frame 1152 F - 1312). */
static int encode_frame(Mp3Encoder *e, char *why, size_t why_len) {
    const int nch = e->cfg.channels, gr_n = 2;
    const int len = mp3enc_frame_bytes(e->cfg.sample_rate, e->cfg.kbps, e->coded + 1);
    const int head = 4 + side_bytes(nch);
    Mp3EncFrame *f;
    Zuf8u chunk[4 * 4096 / 8 + 16], *p; /* part2_3_length has 12 bits */
    Zuf16s plane[1152 + 480];
    unsigned long chunk_bits = 0, md_pos;
    Mp3BitReservoir resv = e->resv;
    int gr, ch, i, t, rc, mdb, bank;

    if (!e->primed) {
        /* The model's first call analyses granules -1 and 0; its outputs (for -2, -1) are dropped. */
        memset(e->side, 0, sizeof e->side);
        rc = zufsPsychoacousticModelTwo_MP3_16s(e->pcm, e->psy_out, e->is_bound, e->side, &e->psy_hdr, &e->psy, NULL,
                                                e->psy_work);
        if (rc != zufOk) return fail(why, why_len, "psychoacoustic model", rc);
        e->primed = 1;
    }
    memset(e->side, 0, sizeof e->side);
    memset(e->sf, 0, sizeof e->sf);
    e->hdr.padding_bit = len > (int)(144000ull * (unsigned)e->cfg.kbps / (unsigned)e->cfg.sample_rate);
    e->hdr.mode_extension = 0;
    e->psy_hdr.padding_bit = e->hdr.padding_bit;
    e->psy_hdr.mode_extension = 0;
    rc = zufsPsychoacousticModelTwo_MP3_16s(e->pcm + 1152 * nch, e->psy_out, e->is_bound, e->side, &e->psy_hdr, &e->psy,
                                            NULL, e->psy_work);
    if (rc != zufOk) return fail(why, why_len, "psychoacoustic model", rc);
    e->hdr.mode_extension = e->hdr.mode == MP3ENC_JOINT ? e->psy_hdr.mode_extension : 0;

    /* Analysis and forward transform of granules 2F and 2F + 1 with the decided block types:
     * the 32 new samples of slot t of granule gr start at 1152 F + 576 gr + 32 t, and the bank
     * reads from 480 samples before them. */
    for (ch = 0; ch < nch; ++ch) {
        /* The channel's samples from the first one the bank reads, one after the other: the
         * bank's loads are simpler without the interleaving step. */
        const Zuf16s *src = e->pcm + (HISTORY - 480) * nch + ch;
        if (nch == 2)
            for (i = 0; i < 1152 + 480; ++i) plane[i] = src[2 * i];
        else
            memcpy(plane, src, sizeof plane);
        for (gr = 0; gr < gr_n; ++gr) {
            const Mp3SideInfo *si = &e->side[gr * nch + ch];
            for (t = 0; t < 18; ++t) {
                rc = zufsAnalysisPQMF_MP3_16s32s(plane + 576 * gr + 32 * t, e->sub + 32 * t, 1);
                if (rc != zufOk) return fail(why, why_len, "analysis filter bank", rc);
            }
            rc = zufsMDCTFwd_MP3_32s(e->sub, e->xr + (gr * nch + ch) * 576, si->block_type, 0, &e->hdr,
                                     e->mdct_hist[ch]);
            if (rc != zufOk) return fail(why, why_len, "forward MDCT", rc);
            e->short_granules += si->block_type == 2;
            if (e->lowpass_line) lowpass(e->xr + (gr * nch + ch) * 576, si->block_type, e->lowpass_line, &e->hdr);
        }
    }
    /* Joint stereo and quantisation within this frame's main-data bits and the reservoir.
     * main_data_begin is the reservoir before the frame: the bytes of earlier slots that earlier
     * frames left empty. */
    mdb = e->resv.bitsRemaining / 8;
    if (quantises_uniformly(e)) {
        /* See mp3_uniform.h. The frame may take half of the reservoir. Every frame spends what
         * it may, so the reservoir fills only where frames cannot (silence, a granule-channel at
         * 4095 bits) and an attack after a pause finds it full; drawing more measured worse on
         * bursts of tone after silence, banking by perceptual entropy worse on every signal. */
        const int frame_bits = 8 * (len - head), held = e->resv.bitsRemaining;
        int ms_ok = nch == 2 && e->hdr.mode == MP3ENC_JOINT, used = 0, left;
        for (gr = 0; gr < gr_n; ++gr)
            if (nch == 2 && e->side[gr * 2].block_type != e->side[gr * 2 + 1].block_type) ms_ok = 0;
        e->hdr.mode_extension = 0;
        rc = mp3enc_code_uniform(e->xr, e->psy_out, e->side, e->sf, e->xr, &e->hdr, nch, ms_ok, frame_bits + held / 2,
                                 &e->uniform);
        if (rc < 0) return fail(why, why_len, "quantisation", rc);
        if (rc) e->hdr.mode_extension = 2;
        e->ms_frames += rc;
        for (i = 0; i < gr_n * nch; ++i) used += e->side[i].part2_3_length;
        /* what the reservoir keeps: whole bytes, at most its size; the rest is ancillary data */
        left = held + frame_bits - used;
        e->resv.bitsRemaining = (left < e->resv.maxBits ? left : e->resv.maxBits) & ~7;
        memset(e->stuff, 0, sizeof e->stuff);
        memset(e->scfsi, 0, sizeof e->scfsi);
        goto pack;
    }
    choose_mid_side(e);
    shape_ratios(e);
    plan_bits(e);
    bank = bank_bits(e, 8 * (len - head));
    choose_scfsi(e);
    e->ms_frames += (e->hdr.mode_extension & 2) != 0;
    e->is_frames += (e->hdr.mode_extension & 1) != 0;
    if (nch == 2 && e->hdr.mode == MP3ENC_JOINT) {
        memcpy(e->xr_saved, e->xr, sizeof e->xr);
        memcpy(e->side_saved, e->side, sizeof e->side);
        resv = e->resv;
    }
    for (t = 0;; ++t) {
        if (nch == 2 && e->hdr.mode == MP3ENC_JOINT)
            for (gr = 0; gr < gr_n; ++gr) {
                rc = zufsJointStereoEncode_MP3_32s_I(e->xr + gr * 2 * 576, e->xr + (gr * 2 + 1) * 576,
                                                     (Zuf8u *)e->sf[gr * 2 + 1], &e->hdr, &e->side[gr * 2],
                                                     &e->is_bound[gr * 3]);
                if (rc != zufOk) return fail(why, why_len, "joint stereo", rc);
            }
        /* The banked bits are hidden from the quantiser as frame bits and as reservoir room
         * alike, so its reservoir arithmetic (excess, stuffing) comes out as for the whole frame. */
        e->resv.maxBits -= bank;
        rc = zufsQuantize_MP3_32s_I(e->xr, &e->sf[0][0], e->scfsi, e->count, e->stuff, &e->hdr, e->side, e->psy_out,
                                    &e->psy, &e->resv, 8 * (len - head) - bank, e->is_bound, e->qwork);
        e->resv.maxBits += bank;
        e->resv.bitsRemaining += bank;
        if (rc != zufOk) return fail(why, why_len, "quantisation", rc);
        /* A decoder starts intensity stereo above the right channel's last non-zero line
         * (11172-3 2.4.3.4.9.3), not at the bound the model chose: when the quantiser left the
         * bands just below that bound empty, the bound moves down to where the decoder will
         * start and the frame is coded again (the last try puts the whole right channel into
         * intensity stereo, which every decoder reads alike). */
        if (!(e->hdr.mode_extension & 1) || e->hdr.mode != MP3ENC_JOINT || is_bounds_decodable(e, t >= 3)) break;
        memcpy(e->xr, e->xr_saved, sizeof e->xr);
        memcpy(e->side, e->side_saved, sizeof e->side);
        memset(e->sf, 0, sizeof e->sf);
        e->resv = resv;
    }

    /* The quantiser puts the bits that the reservoir cannot keep into part2_3_length as 1-bits
     * after the Huffman data. Decoders read those as count1 quadruples until line 576, and not
     * all alike; written as ancillary data after the granules instead (zeros, below), they mean
     * nothing to any decoder. */
    for (i = 0; i < gr_n * nch; ++i) e->side[i].part2_3_length -= e->stuff[i];
pack:

    /* Header and side information. */
    f = &e->pending[e->npend];
    memset(f, 0, sizeof *f);
    f->len = len;
    f->head = head;
    p = f->bytes;
    rc = zufsPackFrameHeader_MP3(&e->hdr, &p);
    if (rc == zufOk) rc = zufsPackSideInfo_MP3(e->side, &p, mdb, 0, e->scfsi, &e->hdr);
    if (rc != zufOk) return fail(why, why_len, "header and side information packing", rc);
    md_pos = e->md_slots_end; /* this frame's first slot: the end of all earlier slots */
    f->md_pos = md_pos;

    /* Main data: per granule and channel the scale factors, then the Huffman data filling the
     * rest of part2_3_length (the quantiser's stuffing included). */
    memset(chunk, 0, sizeof chunk);
    p = chunk;
    {
        int off = 0;
        for (gr = 0; gr < gr_n; ++gr)
            for (ch = 0; ch < nch; ++ch) {
                Mp3SideInfo *si = &e->side[gr * nch + ch];
                const Zuf32s *ix = e->xr + (gr * nch + ch) * 576;
                const unsigned long start = (unsigned long)(p - chunk) * 8u + (unsigned)off;
                unsigned long sf_bits;
                rc = zufsPackScaleFactors_MP3_8s1u(e->sf[gr * nch + ch], &p, &off, &e->hdr, si, e->scfsi + 4 * ch, gr,
                                                   ch);
                if (rc != zufOk) return fail(why, why_len, "scale factor packing", rc);
                sf_bits = (unsigned long)(p - chunk) * 8u + (unsigned)off - start;
                rc = zufsHuffmanEncode_MP3_32s1u(ix, &p, &off, &e->hdr, si, count1_lines(ix, si->big_values),
                                                 si->part2_3_length - (int)sf_bits);
                if (rc != zufOk) return fail(why, why_len, "Huffman encoding", rc);
                if ((unsigned long)(p - chunk) * 8u + (unsigned)off - start != (unsigned long)si->part2_3_length) {
                    snprintf(why, why_len, "granule %d channel %d: %lu bits written for part2_3_length %d", gr, ch,
                             (unsigned long)(p - chunk) * 8u + (unsigned)off - start, (int)si->part2_3_length);
                    return 1;
                }
            }
        chunk_bits = (unsigned long)(p - chunk) * 8u + (unsigned)off;
    }
    /* The reservoir left after this frame says where the next frame's data starts: bits that
     * the granules' part2_3_length could not hold (at most 4095 each) and a last partial byte
     * are ancillary data, zeros. */
    {
        const unsigned long at = e->md_base + e->md_len;
        const unsigned long end =
            e->md_slots_end + (unsigned long)(len - head) - (unsigned long)e->resv.bitsRemaining / 8;
        const unsigned long bytes = (chunk_bits + 7) / 8;
        if (at + (unsigned long)mdb != md_pos || at + bytes > end || e->resv.bitsRemaining % 8) {
            snprintf(why, why_len, "main data of %lu bits at %lu does not fit main_data_begin %d (slots at %lu, %lu)",
                     chunk_bits, at, mdb, md_pos, end);
            return 1;
        }
        if (e->md_len + (end - at) > sizeof e->md) {
            snprintf(why, why_len, "main data buffer overflow");
            return 1;
        }
        memcpy(e->md + e->md_len, chunk, bytes);
        memset(e->md + e->md_len + bytes, 0, end - at - bytes);
        e->md_len += end - at;
    }
    e->md_slots_end += (unsigned long)(len - head);
    ++e->npend;
    ++e->coded;
    release_frames(e, 0);
    if (e->npend == MP3ENC_PENDING) {
        snprintf(why, why_len, "too many frames wait for main data");
        return 1;
    }
    return 0;
}

int mp3enc_push(Mp3Encoder *e, const Zuf16s *pcm, size_t frames, char *why, size_t why_len) {
    const int nch = e->cfg.channels;
    while (frames) {
        size_t n = (size_t)(MP3ENC_HOLD - e->held);
        if (n > frames) n = frames;
        if (pcm)
            memcpy(e->pcm + e->held * nch, pcm, n * (size_t)nch * sizeof *pcm);
        else
            memset(e->pcm + e->held * nch, 0, n * (size_t)nch * sizeof *pcm);
        e->held += (int)n;
        e->input += n;
        frames -= n;
        if (pcm) pcm += n * (size_t)nch;
        if (e->held == MP3ENC_HOLD) {
            if (e->coded < e->frames && encode_frame(e, why, why_len)) return 1;
            memmove(e->pcm, e->pcm + 1152 * nch, (size_t)(MP3ENC_HOLD - 1152) * (size_t)nch * sizeof *e->pcm);
            e->held -= 1152;
        }
    }
    return 0;
}

int mp3enc_finish(Mp3Encoder *e, char *why, size_t why_len) {
    if (e->coded < e->frames) {
        if (mp3enc_push(e, NULL, (size_t)(MP3ENC_HOLD - e->held), why, why_len)) return 1;
        return 2;
    }
    release_frames(e, 1);
    return 0;
}
