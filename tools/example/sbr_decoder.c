/*
 * Spectral band replication decoding (ISO/IEC 14496-3 4.6.18) for the example AAC decoder: the
 * payload parser of 4.4.2.8, the band tables, dequantisation, HF generation and HF adjustment in
 * double/float, on the library's complex QMF banks and its covariance prediction.
 */
#include "example/sbr_decoder.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "example/sbr_lp.h"
#include "example/sbr_tables.h"

enum { FIXFIX = 0, FIXVAR, VARFIX, VARVAR };
#define NUM_TIME_SLOTS 16
#define EPS0 1e-12

static int nint(double x) { return (int)floor(x + 0.5); }

static const SbrRate *rate_entry(int rate) {
    int i;
    for (i = 0; i < SBR_RATES; ++i)
        if (sbr_rates[i].fs == rate) return &sbr_rates[i];
    return NULL;
}

static void sort_ints(int *v, int n) {
    int i, j;
    for (i = 1; i < n; ++i)
        for (j = i; j > 0 && v[j - 1] > v[j]; --j) {
            int t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}

/* ---- frequency band tables (4.6.18.3.2) ---------------------------------------------------- */

int sbr_stop_channel(int rate, int stop_freq, int k0) {
    const SbrRate *r = rate_entry(rate);
    int vk[14], dk[13], k, k2;
    if (stop_freq == 14) return 2 * k0 < 64 ? 2 * k0 : 64;
    if (stop_freq == 15) return 3 * k0 < 64 ? 3 * k0 : 64;
    for (k = 0; k <= 13; ++k) vk[k] = nint(r->stop_min * pow(64.0 / r->stop_min, k / 13.0));
    for (k = 0; k < 13; ++k) dk[k] = vk[k + 1] - vk[k];
    sort_ints(dk, 13);
    for (k2 = r->stop_min, k = 0; k < stop_freq; ++k) k2 += dk[k];
    return k2 < 64 ? k2 : 64;
}

/* Bands of a geometric progression from a to b (sorted widths) into dk; returns their number. */
static int geometric(int *dk, int a, int b, int bands, double warp) {
    int n = 2 * nint(bands * log2((double)b / a) / warp), k, prev = a;
    if (n <= 0 || n > SBR_MAX_BANDS) return n <= 0 ? 0 : -1;
    for (k = 1; k <= n; ++k) {
        int v = nint(a * pow((double)b / a, (double)k / n));
        dk[k - 1] = v - prev;
        prev = v;
    }
    sort_ints(dk, n);
    return n;
}

static int master_table(SbrBands *b, const SbrHeader *h) {
    const int k0 = b->k0, k2 = b->k2;
    int dk[SBR_MAX_BANDS], n, k;
    if (h->freq_scale == 0) {
        const int d = h->alter_scale ? 2 : 1;
        int diff, incr;
        n = h->alter_scale ? 2 * nint((k2 - k0) / 4.0) : 2 * ((k2 - k0) / 2);
        if (n <= 0 || n > SBR_MAX_BANDS) return 1;
        for (k = 0; k < n; ++k) dk[k] = d;
        diff = k2 - (k0 + n * d);
        incr = diff > 0 ? -1 : 1;
        for (k = diff > 0 ? n - 1 : 0; diff != 0 && k >= 0 && k < n; k += incr, diff += incr) dk[k] -= incr;
        b->n_master = n;
        b->master[0] = k0;
        for (k = 1; k <= n; ++k) b->master[k] = b->master[k - 1] + dk[k - 1];
    } else {
        static const int per_octave[3] = {6, 5, 4};
        const int bands = per_octave[h->freq_scale - 1];
        const int two = (double)k2 / k0 > 2.2449;
        const int k1 = two ? 2 * k0 : k2;
        int n0 = geometric(dk, k0, k1, bands, 1.0), n1 = 0, dk1[SBR_MAX_BANDS];
        if (n0 <= 0) return 1;
        if (two) {
            n1 = geometric(dk1, k1, k2, bands, h->alter_scale ? 1.3 : 1.0);
            if (n1 < 0 || n0 + n1 > SBR_MAX_BANDS) return 1;
            if (n1 > 0 && dk1[0] < dk[n0 - 1]) {
                const int change = dk[n0 - 1] - dk1[0];
                dk1[0] += change;
                dk1[n1 - 1] -= change;
                sort_ints(dk1, n1);
            }
            for (k = 0; k < n1; ++k) dk[n0 + k] = dk1[k];
        }
        b->n_master = n0 + n1;
        b->master[0] = k0;
        for (k = 1; k <= b->n_master; ++k) b->master[k] = b->master[k - 1] + dk[k - 1];
    }
    for (k = 0; k < b->n_master; ++k)
        if (b->master[k + 1] <= b->master[k]) return 1;
    return 0;
}

/* Patches from the low band up to goalSb (4.6.18.6.3). */
static int patches(SbrBands *b, int rate) {
    const int goal = rate_entry(rate)->goal_sb, k0 = b->k0;
    int msb = k0, usb = b->kx, k, sb, i, rounds = 0;
    b->num_patches = 0;
    if (goal < b->kx + b->m) {
        for (i = 0, k = 0; b->master[i] < goal; ++i) k = i + 1;
    } else {
        k = b->n_master;
    }
    do {
        int j = k + 1, odd;
        do {
            --j;
            sb = b->master[j];
            odd = (sb - 2 + k0) % 2;
        } while (sb > k0 - 1 + msb - odd);
        if (b->num_patches >= 6) return 1;
        b->patch_size[b->num_patches] = sb - usb > 0 ? sb - usb : 0;
        b->patch_start[b->num_patches] = k0 - odd - b->patch_size[b->num_patches];
        if (b->patch_size[b->num_patches] > 0) {
            usb = sb;
            msb = sb;
            ++b->num_patches;
        } else {
            msb = b->kx;
        }
        if (b->master[k] - sb < 3) k = b->n_master;
        if (++rounds > 16) return 1; /* a master table that never reaches kx + M */
    } while (sb != b->kx + b->m);
    if (b->num_patches > 1 && b->patch_size[b->num_patches - 1] < 3) --b->num_patches;
    return b->num_patches == 0 || b->num_patches > 5;
}

static int is_border(const int *borders, int n, int v) {
    int i;
    for (i = 0; i <= n; ++i)
        if (borders[i] == v) return 1;
    return 0;
}

static void limiter_table(SbrBands *b, const SbrHeader *h) {
    int borders[7], lim[SBR_MAX_BANDS + 8], n, in, out, i;
    if (h->limiter_bands == 0) {
        b->lim[0] = b->table[0][0];
        b->lim[1] = b->table[0][b->n[0]];
        b->n_lim = 1;
        return;
    }
    borders[0] = b->kx;
    for (i = 1; i <= b->num_patches; ++i) borders[i] = borders[i - 1] + b->patch_size[i - 1];
    for (n = 0; n <= b->n[0]; ++n) lim[n] = b->table[0][n];
    for (i = 1; i < b->num_patches; ++i) lim[n++] = borders[i];
    sort_ints(lim, n);
    /* Merge bands narrower than 0.49 / limBands octaves, keeping patch borders. */
    const double width = pow(2.0, 0.49 / sbr_limiter_bands_per_octave[h->limiter_bands - 1]);
    for (out = 0, in = 1; in < n; ++in) {
        if (lim[in] >= lim[out] * width) {
            lim[++out] = lim[in];
        } else if (lim[in] == lim[out] || !is_border(borders, b->num_patches, lim[in])) {
            continue; /* drop lim[in] */
        } else if (!is_border(borders, b->num_patches, lim[out])) {
            lim[out] = lim[in];
        } else {
            lim[++out] = lim[in];
        }
    }
    b->n_lim = out;
    memcpy(b->lim, lim, sizeof(int) * (size_t)(out + 1));
}

int sbr_bands(SbrBands *b, const SbrHeader *h, int rate) {
    const SbrRate *r = rate_entry(rate);
    int k, nh, i;
    memset(b, 0, sizeof *b);
    if (!r) return 1;
    b->k0 = r->start_min + sbr_start_offset[r->offset_row][h->start_freq];
    b->k2 = sbr_stop_channel(rate, h->stop_freq, b->k0);
    if (b->k2 <= b->k0 || b->k2 - b->k0 > r->max_k2_k0 || master_table(b, h)) return 1;
    if (h->xover_band >= b->n_master) return 1;
    nh = b->n[1] = b->n_master - h->xover_band;
    for (k = 0; k <= nh; ++k) b->table[1][k] = b->master[k + h->xover_band];
    b->n[0] = nh / 2 + nh % 2;
    b->table[0][0] = b->table[1][0];
    for (k = 1; k <= b->n[0]; ++k) b->table[0][k] = b->table[1][2 * k - nh % 2];
    b->kx = b->table[1][0];
    b->m = b->table[1][nh] - b->kx;
    if (b->kx > 32 || b->kx + b->m > 64 || b->m <= 0 || b->m > 48) return 1;
    b->n_q = h->noise_bands ? nint(h->noise_bands * log2((double)b->k2 / b->kx)) : 1;
    if (b->n_q < 1) b->n_q = 1;
    if (b->n_q > SBR_MAX_NOISE) return 1;
    b->noise[0] = b->table[0][0];
    for (i = 0, k = 1; k <= b->n_q; ++k) {
        i += (b->n[0] - i) / (b->n_q + 1 - k);
        b->noise[k] = b->table[0][i];
    }
    if (patches(b, rate)) return 1;
    limiter_table(b, h);
    return 0;
}

/* ---- payload parsing (4.4.2.8) ------------------------------------------------------------- */

typedef struct {
    const Zuf8u *p;
    long pos, len;
    int over; /* a read went past len */
} Bits;

static unsigned get(Bits *bs, int n) {
    unsigned v = 0;
    while (n-- > 0) {
        if (bs->pos >= bs->len) {
            bs->over = 1;
            return 0;
        }
        v = v << 1 | ((bs->p[bs->pos >> 3] >> (7 - (bs->pos & 7))) & 1u);
        ++bs->pos;
    }
    return v;
}

static int huff(Bits *bs, int book) {
    const short(*t)[2] = sbr_huff[book].tree;
    int n = 0;
    while (n >= 0 && !bs->over) n = t[n][get(bs, 1)];
    return bs->over ? 0 : -n - 1 - sbr_huff[book].lav;
}

static int ceil_log2(int v) {
    int b = 0;
    while ((1 << b) < v) ++b;
    return b;
}

static int grid(Bits *bs, SbrFrame *f, int amp_res) {
    int rel0[4] = {0}, rel1[4] = {0}, n0 = 0, n1 = 0, lead = 0, trail = NUM_TIME_SLOTS, l, i, ne, mid;
    f->frame_class = (int)get(bs, 2);
    f->amp_res = amp_res;
    f->pointer = 0;
    switch (f->frame_class) {
        case FIXFIX:
            ne = 1 << get(bs, 2);
            if (ne == 1) f->amp_res = 0;
            f->freq_res[0] = (int)get(bs, 1);
            for (l = 1; l < ne && l < SBR_MAX_ENV; ++l) f->freq_res[l] = f->freq_res[0];
            break;
        case FIXVAR:
        case VARFIX:
            if (f->frame_class == FIXVAR)
                trail += (int)get(bs, 2);
            else
                lead = (int)get(bs, 2);
            ne = (int)get(bs, 2) + 1;
            for (i = 0; i < ne - 1; ++i) (f->frame_class == FIXVAR ? rel1 : rel0)[i] = 2 * (int)get(bs, 2) + 2;
            if (f->frame_class == FIXVAR)
                n1 = ne - 1;
            else
                n0 = ne - 1;
            f->pointer = (int)get(bs, ceil_log2(ne + 1));
            for (l = 0; l < ne; ++l) f->freq_res[f->frame_class == FIXVAR ? ne - 1 - l : l] = (int)get(bs, 1);
            break;
        default:
            lead = (int)get(bs, 2);
            trail += (int)get(bs, 2);
            n0 = (int)get(bs, 2);
            n1 = (int)get(bs, 2);
            ne = n0 + n1 + 1;
            if (ne > SBR_MAX_ENV) return 1;
            for (i = 0; i < n0; ++i) rel0[i] = 2 * (int)get(bs, 2) + 2;
            for (i = 0; i < n1; ++i) rel1[i] = 2 * (int)get(bs, 2) + 2;
            f->pointer = (int)get(bs, ceil_log2(ne + 1));
            for (l = 0; l < ne; ++l) f->freq_res[l] = (int)get(bs, 1);
            break;
    }
    if (ne > SBR_MAX_ENV || f->pointer > ne) return 1;
    f->num_env = ne;
    f->t_env[0] = lead;
    f->t_env[ne] = trail;
    if (f->frame_class == FIXFIX) {
        for (l = 1; l < ne; ++l) f->t_env[l] = nint((double)NUM_TIME_SLOTS * l / ne);
    } else {
        for (l = 1; l <= n0; ++l) f->t_env[l] = f->t_env[l - 1] + rel0[l - 1];
        for (i = 0; i < n1; ++i) f->t_env[ne - 1 - i] = f->t_env[ne - i] - rel1[i];
    }
    for (l = 0; l < ne; ++l)
        if (f->t_env[l + 1] <= f->t_env[l]) return 1;
    /* transient envelope l_A and the middle noise border */
    if (f->frame_class == FIXFIX)
        f->l_a = -1;
    else if (f->frame_class == VARFIX)
        f->l_a = f->pointer <= 1 ? -1 : f->pointer - 1;
    else
        f->l_a = f->pointer == 0 ? -1 : ne + 1 - f->pointer;
    f->num_noise = ne > 1 ? 2 : 1;
    f->t_noise[0] = f->t_env[0];
    f->t_noise[f->num_noise] = f->t_env[ne];
    if (f->num_noise == 2) {
        if (f->frame_class == FIXFIX)
            mid = ne / 2;
        else if (f->frame_class == VARFIX)
            mid = f->pointer == 0 ? 1 : f->pointer == 1 ? ne - 1 : f->pointer - 1;
        else
            mid = f->pointer > 1 ? ne + 1 - f->pointer : ne - 1;
        if (mid <= 0 || mid >= ne) return 1;
        f->t_noise[1] = f->t_env[mid];
    }
    return bs->over;
}

static void dtdf(Bits *bs, SbrFrame *f) {
    int i;
    for (i = 0; i < f->num_env; ++i) f->df_env[i] = (int)get(bs, 1);
    for (i = 0; i < f->num_noise; ++i) f->df_noise[i] = (int)get(bs, 1);
}

static void invf(Bits *bs, SbrFrame *f, const SbrBands *b) {
    int i;
    for (i = 0; i < b->n_q; ++i) f->invf[i] = (int)get(bs, 2);
}

/* sbr_envelope(): absolute values from the deltas. bal: the second channel of a coupled pair. */
static int envelope(Bits *bs, SbrFrame *f, const SbrBands *b, int bal) {
    const int delta = bal ? 2 : 1;
    const int tbook =
        f->amp_res ? (bal ? SBR_T_ENV_BAL_3_0DB : SBR_T_ENV_3_0DB) : (bal ? SBR_T_ENV_BAL_1_5DB : SBR_T_ENV_1_5DB);
    const int start_bits = f->amp_res ? (bal ? 5 : 6) : (bal ? 6 : 7);
    int l, k, *prev = f->last_env, prev_res = f->last_res;
    for (l = 0; l < f->num_env; ++l) {
        const int r = f->freq_res[l], n = b->n[r];
        int *e = f->env[l];
        if (!f->df_env[l]) {
            e[0] = delta * (int)get(bs, start_bits);
            for (k = 1; k < n; ++k) e[k] = e[k - 1] + delta * huff(bs, tbook + 1);
        } else {
            for (k = 0; k < n; ++k) {
                int i = k;
                if (r != prev_res) {
                    if (r == 0) { /* the high band starting where the low band starts */
                        for (i = 0; b->table[1][i] != b->table[0][k]; ++i) continue;
                    } else { /* the low band holding the high band */
                        for (i = 0; i + 1 < b->n[0] && b->table[0][i + 1] <= b->table[1][k]; ++i) continue;
                    }
                }
                e[k] = prev[i] + delta * huff(bs, tbook);
            }
        }
        prev = e;
        prev_res = r;
    }
    /* Values beyond the bit-stream's range mean a damaged payload. */
    for (l = 0; l < f->num_env; ++l)
        for (k = 0; k < b->n[f->freq_res[l]]; ++k)
            if (f->env[l][k] < 0 || f->env[l][k] > 127) return 1;
    return bs->over;
}

static int noise(Bits *bs, SbrFrame *f, const SbrBands *b, int bal) {
    const int delta = bal ? 2 : 1;
    const int tbook = bal ? SBR_T_NOISE_BAL_3_0DB : SBR_T_NOISE_3_0DB;
    const int fbook = bal ? SBR_F_ENV_BAL_3_0DB : SBR_F_ENV_3_0DB;
    int l, k;
    const int *prev = f->last_noise;
    for (l = 0; l < f->num_noise; ++l) {
        int *q = f->noise[l];
        if (!f->df_noise[l]) {
            q[0] = delta * (int)get(bs, 5);
            for (k = 1; k < b->n_q; ++k) q[k] = q[k - 1] + delta * huff(bs, fbook);
        } else {
            for (k = 0; k < b->n_q; ++k) q[k] = prev[k] + delta * huff(bs, tbook);
        }
        for (k = 0; k < b->n_q; ++k)
            if (q[k] < 0 || q[k] > 30 * delta) return 1;
        prev = q;
    }
    return bs->over;
}

static void sinusoids(Bits *bs, SbrFrame *f, const SbrBands *b) {
    int k;
    f->add_harmonic_flag = (int)get(bs, 1);
    for (k = 0; k < b->n[1]; ++k) f->add_harmonic[k] = f->add_harmonic_flag ? (int)get(bs, 1) : 0;
}

/* Where the next frame's time deltas start: this frame's last envelope and noise values. */
static void keep_last(SbrFrame *f, const SbrBands *b) {
    memcpy(f->last_env, f->env[f->num_env - 1], sizeof(int) * (size_t)b->n[f->freq_res[f->num_env - 1]]);
    f->last_res = f->freq_res[f->num_env - 1];
    memcpy(f->last_noise, f->noise[f->num_noise - 1], sizeof(int) * (size_t)b->n_q);
}

static void reset(SbrElement *e) {
    int c;
    for (c = 0; c < 2; ++c) {
        SbrChannel *ch = &e->ch[c];
        memset(&ch->f.last_env, 0, sizeof ch->f.last_env);
        memset(&ch->f.last_noise, 0, sizeof ch->f.last_noise);
        ch->f.last_res = 0;
        memset(ch->prev_invf, 0, sizeof ch->prev_invf);
        memset(ch->bw, 0, sizeof ch->bw);
        memset(ch->prev_add_harmonic, 0, sizeof ch->prev_add_harmonic);
        ch->reset = 1;
    }
}

static int header(Bits *bs, SbrElement *e) {
    SbrHeader h;
    int extra1, extra2;
    h.amp_res = (int)get(bs, 1);
    h.start_freq = (int)get(bs, 4);
    h.stop_freq = (int)get(bs, 4);
    h.xover_band = (int)get(bs, 3);
    get(bs, 2);
    extra1 = (int)get(bs, 1);
    extra2 = (int)get(bs, 1);
    h.freq_scale = extra1 ? (int)get(bs, 2) : 2;
    h.alter_scale = extra1 ? (int)get(bs, 1) : 1;
    h.noise_bands = extra1 ? (int)get(bs, 2) : 2;
    h.limiter_bands = extra2 ? (int)get(bs, 2) : 2;
    h.limiter_gains = extra2 ? (int)get(bs, 2) : 2;
    h.interpol_freq = extra2 ? (int)get(bs, 1) : 1;
    h.smoothing_mode = extra2 ? (int)get(bs, 1) : 1;
    if (bs->over) return 1;
    if (!e->have_header || h.start_freq != e->h.start_freq || h.stop_freq != e->h.stop_freq ||
        h.freq_scale != e->h.freq_scale || h.alter_scale != e->h.alter_scale || h.xover_band != e->h.xover_band ||
        h.noise_bands != e->h.noise_bands) {
        e->bands_ok = !sbr_bands(&e->b, &h, e->rate);
        reset(e);
    } else if (h.limiter_bands != e->h.limiter_bands) {
        limiter_table(&e->b, &h);
    }
    e->h = h;
    e->have_header = 1;
    return 0;
}

/* bs_extended_data: skipped; parametric stereo (bs_extension_id 2) is noted. */
static void extended(Bits *bs, SbrElement *e) {
    if (get(bs, 1)) {
        long cnt = (long)get(bs, 4);
        if (cnt == 15) cnt += (long)get(bs, 8);
        if (cnt > 0 && bs->pos + 2 <= bs->len && ((bs->p[bs->pos >> 3] << (bs->pos & 7)) & 0xC0) == 0x80) ++e->ps;
        bs->pos += 8 * cnt;
        if (bs->pos > bs->len) bs->over = 1;
    }
}

static int data(Bits *bs, SbrElement *e, SbrFrame *f0, SbrFrame *f1) {
    const SbrBands *b = &e->b;
    if (get(bs, 1)) get(bs, e->channels == 2 ? 8 : 4); /* bs_data_extra: bs_reserved */
    if (e->channels == 1) {
        if (grid(bs, f0, e->h.amp_res)) return 1;
        dtdf(bs, f0);
        invf(bs, f0, b);
        if (envelope(bs, f0, b, 0) || noise(bs, f0, b, 0)) return 1;
        sinusoids(bs, f0, b);
    } else {
        e->coupling = (int)get(bs, 1);
        if (e->coupling) {
            if (grid(bs, f0, e->h.amp_res)) return 1;
            memcpy(f1->t_env, f0->t_env, sizeof f0->t_env);
            memcpy(f1->t_noise, f0->t_noise, sizeof f0->t_noise);
            memcpy(f1->freq_res, f0->freq_res, sizeof f0->freq_res);
            f1->frame_class = f0->frame_class, f1->num_env = f0->num_env, f1->num_noise = f0->num_noise;
            f1->amp_res = f0->amp_res, f1->pointer = f0->pointer, f1->l_a = f0->l_a;
            dtdf(bs, f0);
            dtdf(bs, f1);
            invf(bs, f0, b);
            memcpy(f1->invf, f0->invf, sizeof f0->invf);
            if (envelope(bs, f0, b, 0) || noise(bs, f0, b, 0) || envelope(bs, f1, b, 1) || noise(bs, f1, b, 1))
                return 1;
        } else {
            if (grid(bs, f0, e->h.amp_res) || grid(bs, f1, e->h.amp_res)) return 1;
            dtdf(bs, f0);
            dtdf(bs, f1);
            invf(bs, f0, b);
            invf(bs, f1, b);
            if (envelope(bs, f0, b, 0) || envelope(bs, f1, b, 0) || noise(bs, f0, b, 0) || noise(bs, f1, b, 0))
                return 1;
        }
        sinusoids(bs, f0, b);
        sinusoids(bs, f1, b);
    }
    extended(bs, e);
    return bs->over;
}

int sbr_parse(SbrElement *e, const Zuf8u *payload, long bits, int crc) {
    Bits bs = {payload, 0, bits, 0};
    SbrFrame f[2];
    int c;
    if (crc) get(&bs, 10); /* bs_sbr_crc_bits: checked by nobody here */
    if (get(&bs, 1) && header(&bs, e)) goto refused;
    if (!e->have_header) { /* frames before the first header: core only, not a fallback */
        sbr_no_payload(e);
        return 0;
    }
    if (!e->bands_ok) goto refused;
    for (c = 0; c < e->channels; ++c) f[c] = e->ch[c].f;
    if (data(&bs, e, &f[0], &f[1])) goto refused;
    for (c = 0; c < e->channels; ++c) {
        keep_last(&f[c], &e->b);
        e->ch[c].f = f[c];
        e->ch[c].valid = 1;
    }
    return 0;
refused:
    ++e->fallback;
    sbr_no_payload(e);
    return 1;
}

void sbr_no_payload(SbrElement *e) { e->ch[0].valid = e->ch[1].valid = 0; }

/* ---- filter bank contexts ------------------------------------------------------------------ */

static SbrBank g_bank = SBR_BANK_FLOAT;
void sbr_set_bank(SbrBank bank) { g_bank = bank; }
SbrBank sbr_get_bank(void) { return g_bank; }

int sbr_element_init(SbrElement *e, int channels, int core_rate, int down) {
    int c, sa, ia, wa, ss, is, ws, sd, id, wd;
    memset(e, 0, sizeof *e);
    e->rate = 2 * core_rate;
    e->down = down;
    e->channels = channels;
    e->bank = g_bank;
    for (c = 0; c < 320; ++c) e->win320[c] = SBR_TAB_QMF_WINDOW_640_FP[2 * c];
    if (zufsAnalysisFilterGetSize_SBR_RToC_32f32fc(&sa, &ia, &wa) != zufOk ||
        zufsSynthesisFilterGetSize_SBR_CToR_32fc32f(&ss, &is, &ws) != zufOk ||
        zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f(&sd, &id, &wd) != zufOk)
        return 1;
    for (c = 0; c < channels; ++c) {
        SbrChannel *ch = &e->ch[c];
        int init = ia > is ? ia : is, work = wa > ws ? wa : ws;
        Zuf8u *p, *tmp;
        init = init > id ? init : id;
        work = work > wd ? work : wd;
        ch->mem = p = (Zuf8u *)malloc((size_t)(sa + ss + sd + work + 4 * 16));
        tmp = (Zuf8u *)malloc((size_t)init + 16);
        if (!p || !tmp) {
            free(tmp);
            return 1;
        }
#define ALIGN16(q) ((Zuf8u *)(((size_t)(q) + 15) & ~(size_t)15))
        p = ALIGN16(p);
        if (zufsAnalysisFilterInit_SBR_RToC_32f32fc(&ch->ana, p, ALIGN16(tmp)) != zufOk) goto fail;
        p = ALIGN16(p + sa);
        if (zufsSynthesisFilterInit_SBR_CToR_32fc32f(&ch->syn, p, ALIGN16(tmp)) != zufOk) goto fail;
        p = ALIGN16(p + ss);
        if (zufsSynthesisDownFilterInit_SBR_CToR_32fc32f(&ch->syn_down, p, ALIGN16(tmp)) != zufOk) goto fail;
        ch->work = ALIGN16(p + sd);
        free(tmp);
        if (e->bank == SBR_BANK_FIXED && (zufsAnalysisFilterInitAlloc_SBRHQ_32s32sc(&ch->ana_fx) != zufOk ||
                                          zufsSynthesisFilterInitAlloc_SBRHQ_32sc32s(&ch->syn_fx) != zufOk ||
                                          zufsSynthesisDownFilterInitAlloc_SBRHQ_32sc32s(&ch->syn_down_fx) != zufOk))
            return 1;
        if (sbr_get_mode() == SBR_MODE_LP && !(ch->lp = sbr_lp_new(e->bank == SBR_BANK_FIXED))) return 1;
        ch->prev_kx = 32;
        ch->prev_t_end = NUM_TIME_SLOTS;
        continue;
    fail:
        free(tmp);
        return 1;
    }
    return 0;
}

void sbr_element_free(SbrElement *e) {
    int c;
    for (c = 0; c < 2; ++c) {
        SbrChannel *ch = &e->ch[c];
        if (ch->ana_fx) zufsAnalysisFilterFree_SBRHQ_32s32sc(ch->ana_fx);
        if (ch->syn_fx) zufsSynthesisFilterFree_SBRHQ_32sc32s(ch->syn_fx);
        if (ch->syn_down_fx) zufsSynthesisDownFilterFree_SBRHQ_32sc32s(ch->syn_down_fx);
        ch->ana_fx = NULL, ch->syn_fx = NULL, ch->syn_down_fx = NULL;
        sbr_lp_free(ch->lp);
        ch->lp = NULL;
    }
    free(e->ch[0].mem);
    free(e->ch[1].mem);
    e->ch[0].mem = e->ch[1].mem = NULL;
}

/* ---- HF generation (4.6.18.6) -------------------------------------------------------------- */

static void chirp(SbrChannel *ch, const SbrBands *b) {
    int i;
    for (i = 0; i < b->n_q; ++i) {
        const double nb = sbr_new_bw[ch->prev_invf[i]][ch->f.invf[i]];
        double bw = nb < ch->bw[i] ? 0.75 * nb + 0.25 * ch->bw[i] : 0.90625 * nb + 0.09375 * ch->bw[i];
        if (bw < 0.015625) bw = 0.0;
        if (bw > 0.99609375) bw = 0.99609375;
        ch->bw[i] = (float)bw;
        ch->prev_invf[i] = ch->f.invf[i];
    }
}

/* X_High(k, l + t_HFAdj) for l in [2 t_E(0), 2 t_E(L_E)), k = kx .. kx + M - 1. */
static void hf_generate(SbrChannel *ch, const SbrBands *b, Zuf32fc xhigh[SBR_X_SLOTS][SBR_MAX_BANDS]) {
    const Zuf32fc *rows[SBR_X_SLOTS];
    Zuf32fc a0[32], a1[32];
    const int l0 = 2 * ch->f.t_env[0], l1 = 2 * ch->f.t_env[ch->f.num_env];
    int i, x, l, k = b->kx;
    for (l = 0; l < SBR_X_SLOTS; ++l) rows[l] = ch->xlow[l];
    zufsPredictCoef_SBR_C_32fc_D2L(rows, a0, a1, 32, SBR_X_SLOTS - 2);
    int src[SBR_MAX_BANDS];
    double r0[SBR_MAX_BANDS], i0[SBR_MAX_BANDS], r1[SBR_MAX_BANDS], i1[SBR_MAX_BANDS];
    const int k0 = k;
    /* the coefficients of each high band k from its source band p, then the bands slot by slot */
    for (i = 0; i < b->num_patches; ++i)
        for (x = 0; x < b->patch_size[i]; ++x, ++k) {
            const int p = b->patch_start[i] + x;
            int g = 0;
            double bw;
            while (g + 1 < b->n_q && b->noise[g + 1] <= k) ++g;
            bw = ch->bw[g];
            src[k - k0] = p;
            r0[k - k0] = bw * a0[p].re, i0[k - k0] = bw * a0[p].im;
            r1[k - k0] = bw * bw * a1[p].re, i1[k - k0] = bw * bw * a1[p].im;
        }
    for (l = l0 + SBR_T_HFADJ; l < l1 + SBR_T_HFADJ; ++l)
        for (x = 0; x < k - k0; ++x) {
            const int p = src[x];
            const Zuf32fc c = ch->xlow[l][p], m1 = ch->xlow[l - 1][p], m2 = ch->xlow[l - 2][p];
            xhigh[l][k0 + x].re = (Zuf32f)(c.re + r0[x] * m1.re - i0[x] * m1.im + r1[x] * m2.re - i1[x] * m2.im);
            xhigh[l][k0 + x].im = (Zuf32f)(c.im + r0[x] * m1.im + i0[x] * m1.re + r1[x] * m2.im + i1[x] * m2.re);
        }
}

/* ---- HF adjustment (4.6.18.7) -------------------------------------------------------------- */

/* Dequantised envelope and noise of channel c (4.6.18.3.5), coupled pairs resolved. */
static void dequantise(const SbrElement *e, int c, double eo[SBR_MAX_ENV][SBR_MAX_BANDS], double qo[2][SBR_MAX_NOISE]) {
    const SbrFrame *f = &e->ch[c].f, *f0 = &e->ch[0].f, *f1 = &e->ch[1].f;
    const double a = f->amp_res ? 1.0 : 0.5;
    const int pan = f->amp_res ? 12 : 24;
    int l, k;
    for (l = 0; l < f->num_env; ++l)
        for (k = 0; k < e->b.n[f->freq_res[l]]; ++k) {
            if (e->channels == 2 && e->coupling) {
                const double lvl = 64.0 * pow(2.0, f0->env[l][k] * a + 1.0);
                const double bal = pow(2.0, (pan - f1->env[l][k]) * a);
                eo[l][k] = c == 0 ? lvl / (1.0 + bal) : lvl / (1.0 + 1.0 / bal);
            } else {
                eo[l][k] = 64.0 * pow(2.0, f->env[l][k] * a);
            }
        }
    for (l = 0; l < f->num_noise; ++l)
        for (k = 0; k < e->b.n_q; ++k) {
            if (e->channels == 2 && e->coupling) {
                const double lvl = pow(2.0, 6 - f0->noise[l][k] + 1);
                const double bal = pow(2.0, 12 - f1->noise[l][k]);
                qo[l][k] = c == 0 ? lvl / (1.0 + bal) : lvl / (1.0 + 1.0 / bal);
            } else {
                qo[l][k] = pow(2.0, 6 - f->noise[l][k]);
            }
        }
}

static int band_of(const int *table, int n, int k) {
    int i = 0;
    while (i + 1 < n && table[i + 1] <= k) ++i;
    return i;
}

static void hf_adjust(SbrElement *e, int c, Zuf32fc xhigh[SBR_X_SLOTS][SBR_MAX_BANDS]) {
    SbrChannel *ch = &e->ch[c];
    const SbrFrame *f = &ch->f;
    const SbrBands *b = &e->b;
    const int kx = b->kx, m_n = b->m, h_sl = e->h.smoothing_mode ? 0 : 4;
    const int ea0 = ch->prev_la_end ? 0 : -1, ea1 = f->l_a;
    double eo[SBR_MAX_ENV][SBR_MAX_BANDS], qo[2][SBR_MAX_NOISE];
    float gt[SBR_X_SLOTS + 4][SBR_MAX_BANDS], qt[SBR_X_SLOTS + 4][SBR_MAX_BANDS];
    float sm[SBR_MAX_ENV][SBR_MAX_BANDS];
    int l, m, i, q = 0, j;
    dequantise(e, c, eo, qo);
    for (l = 0; l < f->num_env; ++l) {
        const int r = f->freq_res[l], s0 = 2 * f->t_env[l], s1 = 2 * f->t_env[l + 1];
        const int delta = !(l == ea0 || l == ea1);
        double ecur[SBR_MAX_BANDS], eom[SBR_MAX_BANDS], qm[SBR_MAX_BANDS], g[SBR_MAX_BANDS], s[SBR_MAX_BANDS];
        int sidx[SBR_MAX_BANDS], smap[SBR_MAX_BANDS];
        if (q + 1 < f->num_noise && f->t_env[l] >= f->t_noise[q + 1]) ++q;
        /* mapping and sinusoid placement */
        memset(sidx, 0, sizeof sidx);
        for (i = 0; i < b->n[1]; ++i)
            if (f->add_harmonic[i] && (l >= f->l_a || ch->prev_add_harmonic[i]))
                sidx[(b->table[1][i + 1] + b->table[1][i]) / 2 - kx] = 1;
        for (m = 0; m < m_n; ++m) {
            const int k = m + kx, bi = band_of(b->table[r], b->n[r], k);
            eom[m] = eo[l][bi];
            qm[m] = qo[q][band_of(b->noise, b->n_q, k)];
            smap[m] = 0;
            for (j = b->table[r][bi]; j < b->table[r][bi + 1]; ++j) smap[m] |= sidx[j - kx];
        }
        /* the current envelope (bs_interpol_freq: per channel, else per band) */
        for (m = 0; m < m_n; ++m) ecur[m] = 0.0;
        for (i = s0; i < s1; ++i) /* slot by slot: rows of xhigh, not columns */
            for (m = 0; m < m_n; ++m) {
                const Zuf32fc v = xhigh[i + SBR_T_HFADJ][m + kx];
                ecur[m] += (double)v.re * v.re + (double)v.im * v.im;
            }
        if (e->h.interpol_freq) {
            for (m = 0; m < m_n; ++m) ecur[m] /= s1 - s0;
        } else {
            for (i = 0; i < b->n[r]; ++i) {
                const int lo = b->table[r][i] - kx, hi = b->table[r][i + 1] - kx;
                double sum = 0.0;
                for (m = lo; m < hi; ++m) sum += ecur[m];
                for (m = lo; m < hi; ++m) ecur[m] = sum / ((s1 - s0) * (hi - lo));
            }
        }
        /* gains, noise and sinusoid levels (4.6.18.7.5) */
        for (m = 0; m < m_n; ++m) {
            s[m] = sidx[m] ? sqrt(eom[m] / (1.0 + qm[m])) : 0.0;
            if (smap[m])
                g[m] = sqrt(eom[m] * qm[m] / ((1.0 + ecur[m]) * (1.0 + qm[m])));
            else
                g[m] = sqrt(eom[m] / ((1.0 + ecur[m]) * (1.0 + delta * qm[m])));
            qm[m] = sqrt(eom[m] * qm[m] / (1.0 + qm[m]));
        }
        /* limiter and boost per limiter band */
        for (i = 0; i < b->n_lim; ++i) {
            const int lo = b->lim[i] - kx, hi = b->lim[i + 1] - kx;
            double so = 0.0, sc = 0.0, gmax, den = 0.0, boost;
            for (m = lo; m < hi; ++m) so += eom[m], sc += ecur[m];
            gmax = sbr_lim_gain[e->h.limiter_gains] * sqrt((EPS0 + so) / (EPS0 + sc));
            if (gmax > 1e5) gmax = 1e5;
            for (m = lo; m < hi; ++m) {
                if (g[m] > gmax) {
                    qm[m] = qm[m] * gmax / g[m];
                    g[m] = gmax;
                }
                den += ecur[m] * g[m] * g[m] + s[m] * s[m] + (delta && s[m] == 0.0 ? qm[m] * qm[m] : 0.0);
            }
            boost = sqrt((EPS0 + so) / (EPS0 + den));
            if (boost > 1.584893192) boost = 1.584893192;
            for (m = lo; m < hi; ++m) g[m] *= boost, qm[m] *= boost, s[m] *= boost;
        }
        /* The merged limiter table can end below kx + M: at the border of a last patch when the
         * stop channel lies closer to it than the merging width allows. The channels above it
         * belong to no limiter band and stay silent, as in FFmpeg and FAAD2. */
        for (m = b->lim[b->n_lim] - kx; m < m_n; ++m) g[m] = qm[m] = s[m] = 0.0;
        if (ch->lp) sbr_lp_gains(ch->lp, b, l, ecur, smap, s, g);
        for (m = 0; m < m_n; ++m) sm[l][m] = (float)s[m];
        for (i = s0; i < s1; ++i)
            for (m = 0; m < m_n; ++m) {
                gt[i + 4][m] = (float)g[m];
                qt[i + 4][m] = (float)qm[m];
            }
    }
    /* smoothing history: the previous frame's last slots, or after a reset this frame's first */
    {
        const int s0 = 2 * f->t_env[0];
        for (i = 0; i < 4; ++i)
            for (m = 0; m < m_n; ++m) {
                gt[s0 + i][m] = ch->reset ? gt[s0 + 4][m] : ch->g_hist[i][m];
                qt[s0 + i][m] = ch->reset ? qt[s0 + 4][m] : ch->q_hist[i][m];
            }
    }
    ch->reset = 0;
    /* assembly (4.6.18.7.6) */
    for (l = 0; l < f->num_env; ++l) {
        const int quiet = l == ea0 || l == ea1;
        for (i = 2 * f->t_env[l]; i < 2 * f->t_env[l + 1]; ++i) {
            int nidx = ch->index_noise;
            const double phr = sbr_phi_re[ch->index_sine], phi = sbr_phi_im[ch->index_sine];
            double gfs[SBR_MAX_BANDS], qfs[SBR_MAX_BANDS];
            /* the smoothed gains of the slot first, band by band in loops that vectorise */
            if (h_sl && !quiet) {
                for (m = 0; m < m_n; ++m) gfs[m] = qfs[m] = 0.0;
                for (j = 0; j <= 4; ++j)
                    for (m = 0; m < m_n; ++m) {
                        gfs[m] += gt[i + 4 - j][m] * sbr_h_smooth[j];
                        qfs[m] += qt[i + 4 - j][m] * sbr_h_smooth[j];
                    }
            } else {
                for (m = 0; m < m_n; ++m) {
                    gfs[m] = gt[i + 4][m];
                    qfs[m] = qt[i + 4][m];
                }
            }
            for (m = 0; m < m_n; ++m) {
                const int k = m + kx;
                const double gf = gfs[m], qf = qfs[m];
                double yr, yi;
                const Zuf32fc x = xhigh[i + SBR_T_HFADJ][k];
                yr = x.re * gf;
                yi = x.im * gf;
                nidx = (nidx + 1) & 511;
                if (sm[l][m] != 0.0f) {
                    yr += sm[l][m] * phr;
                    yi += sm[l][m] * phi * ((k & 1) ? -1.0 : 1.0);
                } else if (!quiet) {
                    yr += qf * sbr_noise[nidx][0];
                    yi += qf * sbr_noise[nidx][1];
                }
                ch->y[i][k].re = (Zuf32f)yr;
                ch->y[i][k].im = (Zuf32f)yi;
            }
            ch->index_noise = (ch->index_noise + m_n) & 511;
            ch->index_sine = (ch->index_sine + 1) & 3;
        }
    }
    {
        const int end = 2 * f->t_env[f->num_env];
        for (i = 0; i < 4; ++i)
            for (m = 0; m < m_n; ++m) {
                ch->g_hist[i][m] = gt[end + i][m];
                ch->q_hist[i][m] = qt[end + i][m];
            }
    }
}

/* ---- the 32-bit banks ------------------------------------------------------------------------ */

/* Scalings between the float banks and the 32-bit ones. The 32-bit analysis of samples x 2^FX_IN
 * gives 1/64 of sum c x e^(...) (a 1/4 on windowing, 1/16 on the transform), the float one twice
 * that sum: X_float = X_32 2^(7 - FX_IN). 2^10 keeps full-scale samples (2^15) at 2^25, half the
 * 2^26 the bank takes, so a core overshooting full scale by 2x still fits. The 32-bit synthesis
 * of X_float 2^FX_SYN gives the float synthesis' samples times 2^FX_SYN (its 1/16 transform and
 * 1/4 window against the float 1/64). Its products are truncated, so each output sample carries
 * a bias of a few units: 2^5 brings it to a fraction of an LSB (2^3 left 0.78 LSB RMS against
 * the float banks' 0.1 on the test streams, 2^5 0.41) while bands of a full-scale signal (about
 * 2^20) stay under the 2^25 the bank takes. Values past the limits are clamped, not wrapped. */
#define FX_IN 10
#define FX_SYN 5

static Zuf32s to_fixed(double v, double limit) {
    v = floor(v + 0.5);
    return (Zuf32s)(v > limit ? limit : v < -limit ? -limit : v);
}

static void analysis_fixed(SbrChannel *ch, const float *core, Zuf32fc *const *dst) {
    const double in = (double)(1 << FX_IN), out = ldexp(1.0, 7 - FX_IN);
    Zuf32s x[32];
    Zuf32sc y[32];
    int l, k;
    for (l = 0; l < SBR_SLOTS; ++l) {
        for (k = 0; k < 32; ++k) x[k] = to_fixed(core[32 * l + k] * in, 67108863.0);
        zufsAnalysisFilter_SBRHQ_32s32sc(x, y, 32, ch->ana_fx);
        for (k = 0; k < 32; ++k) {
            dst[l][k].re = (Zuf32f)(y[k].re * out);
            dst[l][k].im = (Zuf32f)(y[k].im * out);
        }
    }
}

static void synthesis_fixed(SbrChannel *ch, const Zuf32fc *const *rows, float *pcm, int down) {
    const double in = (double)(1 << FX_SYN), out = 1.0 / (1 << FX_SYN);
    const int n = down ? 32 : 64;
    Zuf32sc x[64];
    Zuf32s y[64];
    int l, k;
    for (l = 0; l < SBR_SLOTS; ++l) {
        for (k = 0; k < n; ++k) {
            x[k].re = to_fixed(rows[l][k].re * in, 33554431.0);
            x[k].im = to_fixed(rows[l][k].im * in, 33554431.0);
        }
        if (down)
            zufsSynthesisDownFilter_SBRHQ_32sc32s(x, y, ch->syn_down_fx);
        else
            zufsSynthesisFilter_SBRHQ_32sc32s(x, y, ch->syn_fx);
        for (k = 0; k < n; ++k) pcm[n * l + k] = (float)(y[k] * out);
    }
}

/* ---- one frame of one channel -------------------------------------------------------------- */

void sbr_process(SbrElement *e, int c, const float *core, float *out) {
    SbrChannel *ch = &e->ch[c];
    const int active = ch->valid && e->bands_ok;
    const int kx = active ? e->b.kx : 32, m_n = active ? e->b.m : 0;
    Zuf32fc(*xhigh)[SBR_MAX_BANDS] = e->xhigh;
    Zuf32fc x[SBR_SLOTS][64];
    const Zuf32fc *rows[SBR_SLOTS];
    Zuf32fc *dst[SBR_SLOTS];
    int l, k, i_temp;
    /* analysis: the last t_HFGen slots stay as history */
    memmove(ch->xlow[0], ch->xlow[SBR_SLOTS], sizeof(Zuf32fc) * 32 * (SBR_X_SLOTS - SBR_SLOTS));
    for (l = 0; l < SBR_SLOTS; ++l) dst[l] = ch->xlow[l + SBR_X_SLOTS - SBR_SLOTS];
    if (ch->lp)
        sbr_lp_analysis(ch->lp, core, dst, e->win320);
    else if (e->bank == SBR_BANK_FIXED)
        analysis_fixed(ch, core, dst);
    else
        zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(core, dst, e->win320, SBR_SLOTS, 0, 32, ch->ana, ch->work);
    memset(ch->y, 0, sizeof ch->y);
    if (active) {
        memset(e->xhigh, 0, sizeof e->xhigh);
        chirp(ch, &e->b);
        if (ch->lp)
            sbr_lp_generate(ch->lp, ch, &e->b, xhigh);
        else
            hf_generate(ch, &e->b, xhigh);
        hf_adjust(e, c, xhigh);
        if (ch->lp) sbr_lp_assemble(ch->lp, ch, &e->b);
    }
    /* X: the low band, the previous frame's HF slots past its end, then this frame's */
    i_temp = 2 * ch->prev_t_end - SBR_SLOTS;
    if (i_temp < 0) i_temp = 0;
    for (l = 0; l < SBR_SLOTS; ++l) {
        const int lkx = l < i_temp ? ch->prev_kx : kx, lm = l < i_temp ? ch->prev_m : m_n;
        for (k = 0; k < lkx; ++k) x[l][k] = ch->xlow[l + SBR_T_HFADJ][k];
        for (; k < lkx + lm; ++k) x[l][k] = l < i_temp ? ch->ytail[l][k] : ch->y[l][k];
        for (; k < 64; ++k) x[l][k].re = x[l][k].im = 0.0f;
        if (ch->lp) sbr_lp_edges(x[l], l < i_temp ? ch->ytail[l] : ch->y[l], lkx, lm);
        rows[l] = x[l];
    }
    if (ch->lp)
        sbr_lp_synthesis(ch->lp, rows, out, e->down, e->win320);
    else if (e->bank == SBR_BANK_FIXED)
        synthesis_fixed(ch, rows, out, e->down);
    else if (e->down)
        zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(rows, out, e->win320, SBR_SLOTS, ch->syn_down, ch->work);
    else
        zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(rows, out, SBR_TAB_QMF_WINDOW_640_FP, SBR_SLOTS, ch->syn, ch->work);
    /* what the next frame continues from */
    for (l = 0; l < 8; ++l) memcpy(ch->ytail[l], ch->y[l + SBR_SLOTS], sizeof ch->ytail[l]);
    if (active) {
        memcpy(ch->prev_add_harmonic, ch->f.add_harmonic, sizeof ch->prev_add_harmonic);
        ch->prev_la_end = ch->f.l_a == ch->f.num_env;
        ch->prev_t_end = ch->f.t_env[ch->f.num_env];
    } else {
        ch->prev_la_end = 0;
        ch->prev_t_end = NUM_TIME_SLOTS;
    }
    ch->prev_kx = kx;
    ch->prev_m = m_n;
}
