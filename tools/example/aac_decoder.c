/*
 * AAC-LC frame decoder with libzufack9's primitives, in the order of ISO/IEC 13818-7 and
 * ISO/IEC 14496-3 (4.6), for each single_channel_element() or channel_pair_element() of a
 * raw_data_block():
 *
 *   1. noiseless decoding of each individual_channel_stream(): ics_info, section data, scale
 *      factors, pulse and TNS data, the quantised spectrum;
 *   2. inverse quantisation and scaling, x = sign(q) |q|^(4/3) 2^((sf - 100) / 4);
 *   3. in a pair with a common window: M/S, then intensity stereo (4.6.8.1, 4.6.8.2; M/S may
 *      flip an intensity band's direction, so it goes first);
 *   4. noise substitution (4.6.13, MPEG-4 only);
 *   5. short windows: the grouped, interleaved spectrum back to eight windows of 128;
 *   6. TNS (4.6.9), then the filter bank: IMDCT, windowing and overlap-add (4.6.11).
 *
 * Every frame is copied into a zero-padded buffer, so the parsers' read-ahead and an element
 * that runs past a damaged frame's end stay inside memory this decoder owns, whatever the bytes.
 */
#include "aac_decoder.h"
#include "stream.h"

#include <emmintrin.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Fixed ADTS header fields, from the first bytes of a frame. */
#define ADTS_ID(p) (((p)[1] >> 3) & 1)
#define ADTS_LAYER(p) (((p)[1] >> 1) & 3)
#define ADTS_PROFILE(p) ((p)[2] >> 6)
#define ADTS_SFI(p) (((p)[2] >> 2) & 15)
#define ADTS_CHANNELS(p) ((((p)[2] & 1) << 2) | ((p)[3] >> 6))

enum { ID_SCE = 0, ID_CPE, ID_CCE, ID_LFE, ID_DSE, ID_PCE, ID_FIL, ID_END };

int aac_stream_supported(const Zuf8u *p, char *why, size_t why_len) {
    static const char *const profiles[4] = {"Main profile", "", "SSR profile", "LTP profile"};
    const int profile = ADTS_PROFILE(p), chans = ADTS_CHANNELS(p);
    if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0 || ADTS_LAYER(p) != 0) {
        snprintf(why, why_len, "not an ADTS header");
        return 1;
    }
    if (profile == 2 || (profile == 3 && ADTS_ID(p) != 0)) {
        snprintf(why, why_len, "%s is not decoded (only Main, LC and LTP)", profiles[profile]);
        return 1;
    }
    if (ADTS_SFI(p) > 11) {
        snprintf(why, why_len, "reserved sampling_frequency_index %d", ADTS_SFI(p));
        return 1;
    }
    (void)chans; /* 0: the layout comes from the first frame's PCE (aac_layout_from_frame) */
    return 0;
}

int aac_same_stream(const Zuf8u *a, const Zuf8u *b) {
    return a[0] == b[0] && a[1] == b[1] && (a[2] & 0xFD) == (b[2] & 0xFD) && (a[3] & 0xC0) == (b[3] & 0xC0);
}

/* The elements of channel_configuration 1..7 in the order of ISO/IEC 14496-3 Table 1.19 (ISO/IEC
 * 13818-7 Table 8.x), each with its speakers. WAV interleaves channels in the order of their
 * speaker bits, so each speaker's output channel follows from the mask. Configuration 7 is
 * C, Lc/Rc (front centre pair), L/R (outside front), Ls/Rs, LFE: WAV's FLC/FRC are the inner pair. */
static const struct {
    int elements;
    int id[5];
    unsigned long spk[5][2];
} k_configs[8] = {
    {0, {0}, {{0}}},
    {1, {ID_SCE}, {{AAC_SPK_FC}}},
    {1, {ID_CPE}, {{AAC_SPK_FL, AAC_SPK_FR}}},
    {2, {ID_SCE, ID_CPE}, {{AAC_SPK_FC}, {AAC_SPK_FL, AAC_SPK_FR}}},
    {3, {ID_SCE, ID_CPE, ID_SCE}, {{AAC_SPK_FC}, {AAC_SPK_FL, AAC_SPK_FR}, {AAC_SPK_BC}}},
    {3, {ID_SCE, ID_CPE, ID_CPE}, {{AAC_SPK_FC}, {AAC_SPK_FL, AAC_SPK_FR}, {AAC_SPK_BL, AAC_SPK_BR}}},
    {4,
     {ID_SCE, ID_CPE, ID_CPE, ID_LFE},
     {{AAC_SPK_FC}, {AAC_SPK_FL, AAC_SPK_FR}, {AAC_SPK_BL, AAC_SPK_BR}, {AAC_SPK_LFE}}},
    {5,
     {ID_SCE, ID_CPE, ID_CPE, ID_CPE, ID_LFE},
     {{AAC_SPK_FC}, {AAC_SPK_FLC, AAC_SPK_FRC}, {AAC_SPK_FL, AAC_SPK_FR}, {AAC_SPK_BL, AAC_SPK_BR}, {AAC_SPK_LFE}}},
};

static unsigned get_bits(Zuf8u **pp, int *off, int n);

/* Output channel of speaker bit `spk` in a mask: the number of the mask's lower bits. */
static int slot_of(unsigned long mask, unsigned long spk) {
    int n = 0;
    for (mask &= spk - 1; mask; mask &= mask - 1) ++n;
    return n;
}

/* Output channels from the elements' speakers: WAV puts them in the order of their mask bits. */
static void place_channels(AacDecoder *d) {
    int e, k;
    d->mask = 0;
    d->channels = 0;
    for (e = 0; e < d->elements; ++e) d->mask |= d->element[e].spk[0] | d->element[e].spk[1];
    for (e = 0; e < d->elements; ++e)
        for (k = 0; k < (d->element[e].id == ID_CPE ? 2 : 1); ++k) {
            d->element[e].slot[k] = slot_of(d->mask, d->element[e].spk[k]);
            ++d->channels;
        }
}

static void set_layout(AacDecoder *d, int config) {
    int e;
    d->config = config;
    d->elements = k_configs[config].elements;
    for (e = 0; e < d->elements; ++e) {
        d->element[e].id = k_configs[config].id[e];
        d->element[e].tag = -1;
        d->element[e].spk[0] = k_configs[config].spk[e][0];
        d->element[e].spk[1] = k_configs[config].spk[e][1];
    }
    place_channels(d);
}

/* One element of a PCE layout; 1 when its speakers are taken or the layout is full. */
static int add_element(AacDecoder *d, int id, int tag, unsigned long spk0, unsigned long spk1) {
    AacElementSlot *e = &d->element[d->elements];
    int i;
    if (d->elements == AAC_MAX_CHANNELS || !spk0 || (id == ID_CPE && !spk1)) return 1;
    for (i = 0; i < d->elements; ++i)
        if ((d->element[i].spk[0] | d->element[i].spk[1]) & (spk0 | spk1)) return 1;
    e->id = id;
    e->tag = tag;
    e->spk[0] = spk0;
    e->spk[1] = id == ID_CPE ? spk1 : 0;
    ++d->elements;
    return 0;
}

int aac_layout_from_pce(AacDecoder *d, const AacPrgCfgElt *pce, char *why, size_t why_len) {
    const int nf = pce->num_front_channel_elements, ns = pce->num_side_channel_elements;
    const int nb = pce->num_back_channel_elements, nl = pce->num_lfe_channel_elements;
    int i, pairs = 0, bad = 0;
    d->elements = 0;
    for (i = 0; i < nf; ++i) pairs += pce->front_element_is_cpe[i] != 0;
    /* Front: a centre SCE first, then the pairs from the centre outwards. */
    for (i = 0; i < nf && !bad; ++i) {
        const int tag = pce->front_element_tag_select[i], outer = pairs == 1 || i == nf - 1;
        if (!pce->front_element_is_cpe[i])
            bad = i > 0 || add_element(d, ID_SCE, tag, AAC_SPK_FC, 0);
        else
            bad = pairs > 2 ||
                  add_element(d, ID_CPE, tag, outer ? AAC_SPK_FL : AAC_SPK_FLC, outer ? AAC_SPK_FR : AAC_SPK_FRC);
    }
    for (i = 0; i < ns && !bad; ++i)
        bad = !pce->side_element_is_cpe[i] ||
              add_element(d, ID_CPE, pce->side_element_tag_select[i], AAC_SPK_SL, AAC_SPK_SR);
    for (i = 0; i < nb && !bad; ++i)
        bad = pce->back_element_is_cpe[i]
                  ? add_element(d, ID_CPE, pce->back_element_tag_select[i], AAC_SPK_BL, AAC_SPK_BR)
                  : add_element(d, ID_SCE, pce->back_element_tag_select[i], AAC_SPK_BC, 0);
    for (i = 0; i < nl && !bad; ++i) bad = add_element(d, ID_LFE, pce->lfe_element_tag_select[i], AAC_SPK_LFE, 0);
    if (pce->num_valid_cc_elements > 0) {
        snprintf(why, why_len,
                 "program configuration element with %d coupling channel element%s (CCE), which are "
                 "not decoded",
                 pce->num_valid_cc_elements, pce->num_valid_cc_elements == 1 ? "" : "s");
        d->elements = 0;
        return 1;
    }
    if (!bad && d->elements) place_channels(d);
    if (bad || !d->elements || d->channels > AAC_MAX_CHANNELS) {
        snprintf(why, why_len,
                 "program configuration element with %d front, %d side, %d back and %d LFE elements: no WAV "
                 "layout for it (at most C, L/R, Lc/Rc, Ls/Rs side, L/R back, back C, LFE)",
                 nf, ns, nb, nl);
        d->elements = 0;
        d->channels = 0;
        return 1;
    }
    d->config = 0;
    d->matrix_mixdown = pce->matrix_mixdown_idx_present ? pce->matrix_mixdown_idx + 1 : 0;
    return 0;
}

int aac_layout_from_frame(AacDecoder *d, const Zuf8u *frame, size_t len, char *why, size_t why_len) {
    AacPrgCfgElt pce;
    Zuf8u *p;
    int off = 0;
    const size_t head = (frame[1] & 1) ? 7 : 9;
    if (len > AAC_MAX_FRAME) len = AAC_MAX_FRAME;
    memset(d->buf, 0, sizeof d->buf);
    memcpy(d->buf, frame, len);
    d->used = len; /* the next frame clears what this one leaves beyond its end */
    p = d->buf + head;
    if (len <= head || get_bits(&p, &off, 3) != ID_PCE || zufsDecodePrgCfgElt_AAC(&p, &off, &pce) != zufOk) {
        snprintf(why, why_len,
                 "channel_configuration 0 and no program configuration element at the start of the first frame");
        return 1;
    }
    return aac_layout_from_pce(d, &pce, why, why_len);
}

void aac_decoder_init(AacDecoder *d, const Zuf8u *p) {
    int ch;
    memset(d, 0, sizeof *d);
    d->sfi = ADTS_SFI(p);
    d->mpeg4 = ADTS_ID(p) == 0;
    set_layout(d, ADTS_CHANNELS(p));
    d->aot = ADTS_PROFILE(p) + 1;
    d->main_profile = ADTS_PROFILE(p) == 0;
    for (ch = 0; ch < AAC_MAX_CHANNELS; ++ch) aac_predict_init(&d->ch[ch].pred);
    memset(d->ms_all, 1, sizeof d->ms_all);
}

/* The noise substitution seeds of raw data block `block` of the stream: distinct per channel, so
 * that the channels' noise differs where M/S does not tie it, and set again for every block from
 * its number alone, so that a damaged block (which stops drawing noise part way) changes no later
 * block's noise. */
static void noise_seeds(AacDecoder *d, unsigned long block) {
    const Zuf32u step = 0x9E3779B9u * (Zuf32u)block;
    int ch;
    d->ch[0].seed = 0x1F2E3D4Cu + step;
    d->ch[1].seed = 0x5B6A7988u + step;
    for (ch = 2; ch < AAC_MAX_CHANNELS; ++ch) d->ch[ch].seed = 0x1F2E3D4Cu + 0x9E3779B9u * (Zuf32u)ch + step;
}

/* The few fixed-length fields that the element loop reads itself (element ids and tags). */
static unsigned get_bits(Zuf8u **pp, int *off, int n) {
    unsigned v = 0;
    while (n-- > 0) {
        v = (v << 1) | ((**pp >> (7 - *off)) & 1u);
        if (++*off == 8) {
            *off = 0;
            ++*pp;
        }
    }
    return v;
}

/* Bits from `start` to the current position. */
static long bits_from(const Zuf8u *start, const Zuf8u *p, int off) { return 8L * (p - start) + off; }

/* crc_check of ADTS (ISO/IEC 13818-7 6.2, ISO/IEC 14496-3 1.A.2): the CRC-16 of ISO/IEC 11172-3
 * 2.4.3.1, G(X) = X^16 + X^15 + X^2 + 1, initial value all ones. It is fed, in the order they
 * appear, all 56 bits of the header (with the raw_data_block_position words of a frame with
 * several blocks), the first 192 bits of every SCE, LFE and CCE, the first 192 bits of every CPE
 * and then the first 128 bits of its second channel stream, and all of every PCE and DSE, each
 * counted from after the element's 3-bit id and padded with zero bits where the element ends
 * sooner (CCE is refused here before it matters). Fill and END elements are not
 * protected. A frame of one raw data block has one CRC over the header and the block; a frame of
 * several has one over the header and one after each block.
 * This feeds `n` bits of d->buf from bit `from`, bits at or past `end` as zeros. */
static void crc_feed(AacDecoder *d, long from, long n, long end) {
    long i;
    if (!d->crc_on) return;
    for (i = from; i < from + n; ++i) {
        const unsigned bit = i < end ? (d->buf[i >> 3] >> (7 - (i & 7))) & 1u : 0u;
        d->crc = ((d->crc << 1) & 0xFFFFu) ^ ((bit ^ (d->crc >> 15)) & 1u ? 0x8005u : 0u);
    }
}

/* One individual_channel_stream(): the MPEG-4 driver for MPEG-4 ADTS (it accepts noise
 * substitution, codebook 13), the MPEG-2 LC driver otherwise (where 13 is reserved). */
/* `second`: the pair's second channel, whose ltp_data of a common window is the record's second. */
static int channel_stream(AacDecoder *d, AacChannel *c, AacIcsInfo *ics, int common, int second, Zuf8u **pp, int *off,
                          const char **why) {
    zufResult r;
    c->ci.sampling_frequency_index = d->sfi;
    c->ci.pred_sfb_max = d->main_profile ? aac_pred_sfb_max(d->sfi) : 0;
    c->ci.pIcsInfo = ics;
    if (d->mpeg4 || d->main_profile) { /* object type 1 carries the Main profile's prediction data */
        r = zufsNoiselessDecode_AAC(pp, off, &d->mh, c->sf, c->spectrum, c->cb, c->tns, &c->ci, 0, 0, common, 0,
                                    d->aot);
    } else {
        Zuf8u *p0 = *pp;
        const int off0 = *off;
        r = zufsNoiselessDecoder_LC_AAC(pp, off, common, &c->ci, c->sf, c->spectrum, c->cb, c->tns);
        /* Codebook 13 is reserved in MPEG-2 but some encoders (FFmpeg's with -write_mpeg2) write
         * noise substitution there anyway, and common decoders accept it: decode the channel
         * again as MPEG-4 and count it. */
        if (r == zufErrAacCodebook) {
            *pp = p0;
            *off = off0;
            r = zufsNoiselessDecode_AAC(pp, off, &d->mh, c->sf, c->spectrum, c->cb, c->tns, &c->ci, 0, 0, common, 0, 2);
            d->tools.mpeg2_pns += r == zufOk;
        }
    }
    d->tools.ltp += aac_ltp_take(&c->ltp, &d->mh, common ? second : 0);
    if (r != zufOk) {
        *why = r == zufErrAacCodebook   ? "reserved or misplaced section codebook"
               : r == zufErrAacGainCtrl ? "gain control data (SSR) in an LC stream"
               : r == zufErrAacPred     ? "prediction data in an LC stream"
                                        : "channel stream refused by the noiseless decoder";
        return -1;
    }
    /* The MPEG-4 driver leaves this check to the caller. */
    if (ics->max_sfb > c->ci.num_swb) {
        *why = "max_sfb above the number of scale-factor bands";
        return -1;
    }
    ++d->tools.channels;
    d->tools.short_windows += c->ci.num_windows == 8;
    d->tools.tns += c->ci.tns_data_present != 0;
    d->tools.pulses += c->ci.pulse_data_present != 0;
    return 0;
}

/* Step 2 for one channel, counting the bands of the tools met. */
static int dequantise(AacDecoder *d, AacChannel *c, const AacIcsInfo *ics) {
    const int n = ics->num_window_groups * ics->max_sfb;
    int i;
    for (i = 0; i < n; ++i) {
        d->tools.pns_bands += c->cb[i] == 13;
        d->tools.is_bands += c->cb[i] >= 14;
    }
    return zufsQuantInv_AAC_32s_I(c->spectrum, c->sf, ics->num_window_groups, ics->window_group_length, ics->max_sfb,
                                  c->cb, d->sfi, c->ci.win_len) != zufOk;
}

/* The filter bank on 32 bits, for d->wide. zufsMDCTInv_AAC_32s_I gives 32 times the time samples
 * of a long transform and 4 times those of a short one, in the spectrum's Q3: short spectra are
 * scaled by 8 first, so that every contribution, overlap included, is 256 times the 16-bit
 * sample (8 fractional bits). Shifts go through unsigned values: a damaged spectrum wraps. */
static int filter_bank_wide(AacDecoder *d, AacChannel *c, const AacIcsInfo *ics, Zuf32s *x, Zuf16s *pcm, int step) {
    Zuf32f *wide = d->wide + (pcm - d->pcm0);
    int i;
    if (ics->window_sequence == ZUF_AAC_EIGHT_SHORT_SEQUENCE)
        for (i = 0; i < 1024; ++i) x[i] = (Zuf32s)((Zuf32u)x[i] << 3);
    if (zufsMDCTInv_AAC_32s_I(x, c->overlap, ics->window_sequence, ics->window_shape, c->prev_shape, 1024) != zufOk)
        return -1;
    for (i = 0; i < 1024; ++i) {
        const Zuf64s r = ((Zuf64s)x[i] + 128) >> 8;
        wide[i * step] = (Zuf32f)x[i] * (1.0f / 8388608.0f); /* 256 x 32768 */
        pcm[i * step] = (Zuf16s)(r > 32767 ? 32767 : r < -32768 ? -32768 : r);
    }
    return 0;
}

/* Steps 5 and 6 for one channel, into pcm (stride `step`). */
static int synthesise(AacDecoder *d, AacChannel *c, const AacIcsInfo *ics, Zuf16s *pcm, int step, const char **why) {
    Zuf32s *x = c->spectrum;
    const int win_len = c->ci.win_len;
    /* The 16-bit filter bank writes with a stride of 1 or 2: wider layouts go through one
     * channel's buffer. */
    Zuf16s *out = !d->wide && step > 2 ? d->one : pcm;
    int i;
    const int predicted = d->main_profile ? aac_predict_frame(&c->pred, ics, c->cb, d->sfi, c->spectrum) : 0;
    if (predicted < 0) {
        *why = "prediction refused";
        return -1;
    }
    d->tools.pred_bands += (unsigned long)predicted;
    if (win_len == 128) {
        if (zufsDeinterleaveSpectrum_AAC_32s(c->spectrum, c->spectrum2, ics->num_window_groups,
                                             ics->window_group_length, ics->max_sfb, d->sfi, 128) != zufOk) {
            *why = "short-window grouping refused";
            return -1;
        }
        x = c->spectrum2;
    }
    aac_ltp_predict(&c->ltp, d->aot, x, ics, c->prev_shape, d->sfi, &c->ci, c->tns);
    if (c->ci.tns_data_present &&
        zufsDecodeTNS_AAC_32s_I(x, c->ci.n_filt, c->ci.length, c->ci.order, c->ci.coef_res, c->tns, c->ci.direction,
                                ics->max_sfb, 1, d->sfi, win_len) != zufOk) {
        *why = "TNS data refused";
        return -1;
    }
    aac_ltp_update(&c->ltp, d->aot, x, ics, c->prev_shape);
    if (d->wide ? filter_bank_wide(d, c, ics, x, pcm, step)
                : zufsMDCTInv_AAC_32s16s(x, out, c->overlap, ics->window_sequence, ics->window_shape, c->prev_shape,
                                         out == pcm ? step : 1) != zufOk) {
        *why = "window sequence or shape refused by the filter bank";
        return -1;
    }
    if (out != pcm)
        for (i = 0; i < 1024; ++i) pcm[i * step] = out[i];
    c->prev_shape = ics->window_shape;
    return 0;
}

/* single_channel_element(): steps 1, 2, 4, 5, 6. */
static int single_channel(AacDecoder *d, const AacElementSlot *e, Zuf8u **pp, int *off, Zuf16s *pcm, const char **why) {
    AacChannel *c = &d->ch[e->slot[0]];
    AacIcsInfo *ics = &c->ics;
    if (channel_stream(d, c, ics, 0, 0, pp, off, why)) return -1;
    if (dequantise(d, c, ics)) {
        *why = "spectrum refused by the inverse quantiser";
        return -1;
    }
    if (zufsDecodePNS_AAC_32s(c->spectrum, d->ltp_flags, c->cb, c->sf, ics->max_sfb, ics->num_window_groups,
                              ics->window_group_length, d->sfi, c->ci.win_len, &c->seed) != zufOk) {
        *why = "noise substitution refused";
        return -1;
    }
    if (e->id == ID_LFE)
        ++d->tools.lfe;
    else
        ++d->tools.sce;
    return synthesise(d, c, ics, pcm + e->slot[0], d->channels, why);
}

/* channel_pair_element(): the common ics_info and ms_mask when common_window is set, then steps 1
 * to 6, each for both channels before the next (the stereo steps need both spectra). */
static int channel_pair(AacDecoder *d, const AacElementSlot *e, Zuf8u **pp, int *off, Zuf16s *pcm, const char **why) {
    AacChannel *l = &d->ch[e->slot[0]], *r = &d->ch[e->slot[1]], *pair[2];
    AacChanPairElt *cpe = &d->cpe;
    AacIcsInfo *ics[2];
    const Zuf8u *ms = d->ms_none;
    int common, ms_present = 0, ch;
    if ((d->aot == AAC_AOT_LTP ? zufsDecodeChanPairElt_MP4_AAC(pp, off, &l->ics, cpe, &d->mh, 0, d->aot)
                               : zufsDecodeChanPairElt_AAC(pp, off, &l->ics, cpe,
                                                           d->main_profile ? aac_pred_sfb_max(d->sfi) : 0)) != zufOk) {
        *why = "channel pair side information refused";
        return -1;
    }
    common = cpe->common_window;
    pair[0] = l;
    pair[1] = r;
    ics[0] = &l->ics;
    ics[1] = common ? &l->ics : &r->ics;
    if (common) {
        ms_present = cpe->ms_mask_present;
        if (ms_present == 3) {
            *why = "reserved ms_mask_present 3";
            return -1;
        }
        ms = ms_present == 1 ? cpe->ms_used : ms_present == 2 ? d->ms_all : d->ms_none;
    }
    for (ch = 0; ch < 2; ++ch) {
        if (ch) d->crc_second = bits_from(d->buf, *pp, *off); /* the second channel's 128 protected bits */
        if (channel_stream(d, pair[ch], ics[ch], common, ch, pp, off, why)) return -1;
    }
    for (ch = 0; ch < 2; ++ch)
        if (dequantise(d, pair[ch], ics[ch])) {
            *why = "spectrum refused by the inverse quantiser";
            return -1;
        }
    ++d->tools.cpe;
    if (common) {
        const AacIcsInfo *s = ics[0];
        const int win_len = l->ci.win_len;
        ++d->tools.common_window;
        if (ms_present) {
            int g, b;
            d->tools.ms_all_frames += ms_present == 2;
            for (g = 0; g < s->num_window_groups; ++g)
                for (b = 0; b < s->max_sfb; ++b) {
                    const int i = g * s->max_sfb + b;
                    d->tools.ms_bands += ms[60 * g + b] != 0;
                    d->tools.pns_shared += ms[60 * g + b] && l->cb[i] == 13 && r->cb[i] == 13;
                }
            /* Before intensity: an M/S flag on an intensity band inverts its direction (the
             * right channel's codebook 14/15 is swapped here). */
            if (zufsDecodeMsStereo_AAC_32s_I(l->spectrum, r->spectrum, ms_present, ms, r->cb, s->num_window_groups,
                                             s->window_group_length, s->max_sfb, d->sfi, win_len) != zufOk) {
                *why = "M/S stereo refused";
                return -1;
            }
        }
        if (zufsDecodeIsStereo_AAC_32s(l->spectrum, r->spectrum, r->sf, r->cb, s->num_window_groups,
                                       s->window_group_length, s->max_sfb, d->sfi, win_len) != zufOk) {
            *why = "intensity stereo refused";
            return -1;
        }
    }
    for (ch = 0; ch < 2; ++ch) {
        AacChannel *c = pair[ch];
        /* Noise substitution (no-op without codebook 13). Channel 0 first: it saves the seeds that
         * channel 1 reuses in M/S bands. */
        if (zufsDecodeMsPNS_AAC_32s(c->spectrum, d->ltp_flags, c->cb, c->sf, ics[ch]->max_sfb,
                                    ics[ch]->num_window_groups, ics[ch]->window_group_length, d->sfi, c->ci.win_len,
                                    &c->seed, ch, ms, d->noise_state) != zufOk) {
            *why = "noise substitution refused";
            return -1;
        }
    }
    for (ch = 0; ch < 2; ++ch)
        if (synthesise(d, pair[ch], ics[ch], pcm + e->slot[ch], d->channels, why)) return -1;
    return 0;
}

/* ---- SBR (HE-AAC) --------------------------------------------------------------------------- */

enum { EXT_SBR_DATA = 13, EXT_SBR_DATA_CRC = 14 }; /* extension_type of a fill element */

/* An SBR payload: it belongs to the SCE or CPE just before it. bytes[0]'s high nibble is the
 * extension_type; the rest is realigned to a byte boundary for the SBR parser. */
static void sbr_payload(AacDecoder *d, const Zuf8u *bytes, int cnt) {
    AacSbr *s = d->sbr;
    SbrElement *e;
    int i;
    ++d->tools.sbr;
    if (!s || s->last < 0) return;
    e = &s->el[s->last];
    for (i = 0; i < cnt; ++i) s->payload[i] = (Zuf8u)(bytes[i] << 4 | (i + 1 < cnt ? bytes[i + 1] >> 4 : 0));
    d->tools.sbr_fallback -= e->fallback;
    d->tools.ps -= e->ps;
    sbr_parse(e, s->payload, 8L * cnt - 4, (bytes[0] >> 4) == EXT_SBR_DATA_CRC);
    d->tools.sbr_fallback += e->fallback;
    d->tools.ps += e->ps;
    if (e->ps && !d->ps_noted) {
        d->ps_noted = 1;
        fprintf(stderr, "parametric stereo is not supported: decoded as mono SBR\n");
    }
    s->last = -1; /* one payload per element */
}

/* floor(v + 0.5) saturated to 16 bits, for n samples into pcm at the given stride. The sum is
 * clamped before the floor (the same result) and the floor is a truncation corrected for negative
 * fractions. Four samples at a time in SSE2: GCC keeps the scalar form's comparisons as branches
 * (they may trap), which costs a tenth of HE-AAC decoding. minps/maxps with the constant first
 * keep a NaN, whose truncation 0x80000000 keeps its low 16 bits: 0, as (Zuf16s)(int)NaN gives. */
static Zuf16s round16_one(float v) {
    float r = v + 0.5f;
    int t;
    r = r > 32767.0f ? 32767.0f : r;
    r = r < -32768.0f ? -32768.0f : r;
    t = (int)r;
    return (Zuf16s)(t - ((float)t > r));
}

static void round16(const float *v, Zuf16s *pcm, int n, int stride) {
    Zuf16s tmp[2048];
    const __m128 half = _mm_set1_ps(0.5f), hi = _mm_set1_ps(32767.0f), lo = _mm_set1_ps(-32768.0f);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i t[2];
        int k;
        for (k = 0; k < 2; ++k) {
            const __m128 r = _mm_max_ps(lo, _mm_min_ps(hi, _mm_add_ps(_mm_loadu_ps(v + i + 4 * k), half)));
            const __m128i q = _mm_cvttps_epi32(r);
            /* q - 1 where (float)q > r; then the low 16 bits, sign-extended */
            const __m128i f = _mm_add_epi32(q, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(q), r)));
            t[k] = _mm_srai_epi32(_mm_slli_epi32(f, 16), 16);
        }
        _mm_storeu_si128((__m128i *)(void *)(tmp + i), _mm_packs_epi32(t[0], t[1]));
    }
    for (; i < n; ++i) tmp[i] = round16_one(v[i]);
    for (i = 0; i < n; ++i) pcm[(long)i * stride] = tmp[i];
}

/* The block of core samples at `core` (inside d->sbr->core) through each element's SBR decoder
 * into the caller's buffers; the payloads parsed for this block are used up. */
static void sbr_block(AacDecoder *d, const Zuf16s *core) {
    AacSbr *s = d->sbr;
    const int n = aac_block_samples(d), chans = d->channels;
    const long b = (long)(core - s->core) / (1024L * chans);
    int e, c, i;
    for (e = 0; e < d->elements; ++e) {
        const AacElementSlot *el = &d->element[e];
        for (c = 0; c < (el->id == ID_CPE ? 2 : 1); ++c) {
            const Zuf32f *w = s->wide + 1024L * chans * b + el->slot[c];
            Zuf16s *out = s->out + (long)n * chans * b + el->slot[c];
            for (i = 0; i < 1024; ++i) s->in[i] = w[(long)i * chans] * 32768.0f;
            sbr_process(&s->el[e], c, s->in, s->res);
            round16(s->res, out, n, chans);
            if (s->out_wide)
                for (i = 0; i < n; ++i)
                    s->out_wide[(long)n * chans * b + el->slot[c] + (long)i * chans] = s->res[i] * (1.0f / 32768.0f);
        }
        sbr_no_payload(&s->el[e]);
    }
    s->last = -1;
    s->done = (int)b + 1;
}

int aac_block_samples(const AacDecoder *d) { return d->sbr && !d->sbr_down ? 2048 : 1024; }

int aac_sbr_enable(AacDecoder *d, int down) {
    int e;
    if (d->sbr) return 0;
    d->sbr = (AacSbr *)calloc(1, sizeof *d->sbr);
    if (!d->sbr) return 1;
    d->sbr_down = down;
    d->sbr->last = -1;
    for (e = 0; e < d->elements; ++e)
        if (sbr_element_init(&d->sbr->el[e], d->element[e].id == ID_CPE ? 2 : 1, aac_sample_rate(d->sfi), down)) {
            aac_sbr_free(d);
            return 1;
        }
    return 0;
}

void aac_sbr_free(AacDecoder *d) {
    int e;
    if (!d->sbr) return;
    for (e = 0; e < AAC_MAX_CHANNELS; ++e) sbr_element_free(&d->sbr->el[e]);
    free(d->sbr);
    d->sbr = NULL;
}

int aac_sbr_probe(const AacDecoder *d, const Zuf8u *frame, size_t len) {
    AacDecoder *t = (AacDecoder *)malloc(sizeof *t);
    Zuf16s *pcm = (Zuf16s *)malloc(sizeof(Zuf16s) * AAC_MAX_BLOCKS * 1024 * AAC_MAX_CHANNELS);
    const char *why;
    int blocks, found = 0;
    if (t && pcm) {
        memcpy(t, d, sizeof *t);
        t->sbr = NULL;
        t->wide = NULL;
        aac_frame_decode(t, frame, len, pcm, &blocks, &why);
        found = t->tools.sbr > 0;
    }
    free(pcm);
    free(t);
    return found;
}

/* One raw_data_block() up to and including its END element and byte alignment. */
static int raw_data_block(AacDecoder *d, Zuf8u **pp, int *off, const Zuf8u *end, Zuf16s *pcm, const char **why) {
    unsigned used = 0; /* the layout's elements met in this block, one bit each */
    int audio = 0;
    for (;;) {
        unsigned id;
        int r = 0, e, tag;
        long start, stop;
        if (bits_from(*pp, end, 0) - *off < 3) {
            *why = "raw data block runs past the end of its frame";
            return -1;
        }
        id = get_bits(pp, off, 3);
        start = bits_from(d->buf, *pp, *off);
        switch (id) {
            case ID_END:
                if (*off) *off = 0, ++*pp; /* byte_alignment() */
                if (audio < d->elements) {
                    for (e = 0; used & (1u << e); ++e) continue;
                    *why = d->element[e].id == ID_SCE   ? "raw data block without its SCE"
                           : d->element[e].id == ID_CPE ? "raw data block without its CPE"
                                                        : "raw data block without its LFE";
                    return -1;
                }
                if (d->sbr) sbr_block(d, pcm);
                return 0;
            case ID_SCE:
            case ID_CPE:
            case ID_LFE:
                /* The first element of the layout not yet met with this id (and this tag, for a
                 * PCE layout): a channel configuration's elements come in its order. */
                tag = (int)get_bits(pp, off, 4);
                for (e = 0; e < d->elements; ++e)
                    if (!(used & (1u << e)) && d->element[e].id == (int)id &&
                        (d->element[e].tag < 0 || d->element[e].tag == tag))
                        break;
                if (e == d->elements) {
                    *why = id == ID_SCE   ? "unexpected SCE for the channel configuration"
                           : id == ID_CPE ? "unexpected CPE for the channel configuration"
                                          : "unexpected LFE for the channel configuration";
                    return -1;
                }
                r = id == ID_CPE ? channel_pair(d, &d->element[e], pp, off, pcm, why)
                                 : single_channel(d, &d->element[e], pp, off, pcm, why);
                if (d->sbr) d->sbr->last = id == ID_LFE ? -1 : e;
                used |= 1u << e;
                ++audio;
                break;
            case ID_CCE:
                /* Coupling channels mix into other channels' spectra or time signals; nothing
                 * here can check such a decode against a peer, so a stream that opens with one is
                 * refused (later, a CCE id is more likely damage: that frame is concealed). */
                *why = "coupling channel element (CCE) is not decoded";
                if (d->tools.blocks == 1) d->refused = *why;
                return -1;
            case ID_DSE: {
                int tag, cnt;
                Zuf8u bytes[512];
                ++d->tools.dse;
                if (zufsDecodeDatStrElt_AAC(pp, off, &tag, &cnt, bytes) != zufOk) {
                    *why = "data stream element refused";
                    return -1;
                }
                break;
            }
            case ID_PCE: {
                AacPrgCfgElt pce;
                ++d->tools.pce;
                if (zufsDecodePrgCfgElt_AAC(pp, off, &pce) != zufOk) {
                    *why = "program configuration element refused";
                    return -1;
                }
                break;
            }
            case ID_FIL: {
                int cnt;
                Zuf8u bytes[272];
                ++d->tools.fil;
                if (zufsDecodeFillElt_AAC(pp, off, &cnt, bytes) != zufOk) {
                    *why = "fill element refused";
                    return -1;
                }
                if (cnt > 0 && ((bytes[0] >> 4) == EXT_SBR_DATA || (bytes[0] >> 4) == EXT_SBR_DATA_CRC))
                    sbr_payload(d, bytes, cnt);
                break;
            }
        }
        if (r) return -1;
        if (*pp > end || (*pp == end && *off)) {
            *why = "element runs past the end of its frame";
            return -1;
        }
        stop = bits_from(d->buf, *pp, *off);
        if (id == ID_SCE || id == ID_CPE || id == ID_LFE) crc_feed(d, start, 192, stop);
        if (id == ID_CPE) crc_feed(d, d->crc_second, 128, stop);
        if (id == ID_DSE || id == ID_PCE) crc_feed(d, start, stop - start, stop);
    }
}

/* Compares the CRC fed so far with the crc_check word at byte `at` of the frame. */
static int crc_mismatch(const AacDecoder *d, size_t at, const char **why) {
    if (d->crc == ((unsigned)d->buf[at] << 8 | d->buf[at + 1])) return 0;
    *why = "CRC mismatch";
    return 1;
}

/* Silence from block b on, and a filter bank that starts again from silence. */
static void conceal(AacDecoder *d, Zuf16s *pcm, int b, int blocks) {
    int ch;
    if (blocks > b) memset(pcm + 1024 * d->channels * b, 0, sizeof(Zuf16s) * 1024 * d->channels * (blocks - b));
    if (blocks > b && d->wide)
        memset(d->wide + 1024 * d->channels * b, 0, sizeof(Zuf32f) * 1024 * d->channels * (blocks - b));
    for (ch = 0; ch < AAC_MAX_CHANNELS; ++ch) {
        memset(d->ch[ch].overlap, 0, sizeof d->ch[ch].overlap);
        d->ch[ch].prev_shape = 0;
        if (d->main_profile) zufsFDPReset_32f(d->ch[ch].pred.state);
    }
}

size_t aac_decoder_init_adif(AacDecoder *d, const Zuf8u *data, size_t size, char *why, size_t why_len) {
    AacPrgCfgElt pce[16]; /* as many as the header can hold */
    AacAdifHeader h;
    Zuf8u *p = (Zuf8u *)(size_t)data; /* the unpacker only reads */
    memset(d, 0, sizeof *d);
    memset(d->ms_all, 1, sizeof d->ms_all);
    if (zufsUnpackADIFHeader_AAC(&p, &h, pce, 16) != zufOk || (size_t)(p - data) > size) {
        snprintf(why, why_len, "ADIF header refused or cut off");
        return 0;
    }
    /* The first program is the one played; its object_type is the profile (1: LC). */
    if (pce[0].object_type != 1) {
        snprintf(why, why_len, "ADIF of profile %d is not decoded (only AAC-LC)", pce[0].object_type);
        return 0;
    }
    if (pce[0].sampling_frequency_index > 11) {
        snprintf(why, why_len, "reserved sampling_frequency_index %d", pce[0].sampling_frequency_index);
        return 0;
    }
    d->sfi = pce[0].sampling_frequency_index;
    if (aac_layout_from_pce(d, &pce[0], why, why_len)) return 0;
    return (size_t)(p - data);
}

size_t aac_block_decode(AacDecoder *d, const Zuf8u *data, size_t size, Zuf16s *pcm, const char **why) {
    const size_t n = size < AAC_MAX_FRAME ? size : AAC_MAX_FRAME;
    Zuf8u *p = d->buf;
    int off = 0;
    d->pcm0 = pcm;
    memcpy(d->buf, data, n);
    if (d->used > n) memset(d->buf + n, 0, d->used - n);
    d->used = n;
    d->crc_on = 0;
    ++d->tools.blocks;
    noise_seeds(d, d->block_no++);
    if (n == 0 || raw_data_block(d, &p, &off, d->buf + n, pcm, why)) {
        if (n == 0) *why = "raw data block cut off by the end of the file";
        conceal(d, pcm, 0, 1);
        return 0;
    }
    return (size_t)(p - d->buf);
}

static int frame_decode(AacDecoder *d, const Zuf8u *frame, size_t len, Zuf16s *pcm, int *blocks, const char **why) {
    AacAdtsFrameHeader h;
    Zuf8u *p = d->buf, *end;
    int off = 0, b, head;
    unsigned long first_block;
    *blocks = 0;
    d->pcm0 = pcm;
    if (len < 7 || len > AAC_MAX_FRAME) {
        *why = "frame length out of range";
        conceal(d, pcm, 0, 0);
        return -1;
    }
    /* Everything after the frame is zero: what a longer earlier frame left is cleared. */
    memcpy(d->buf, frame, len);
    if (d->used > len) memset(d->buf + len, 0, d->used - len);
    d->used = len;
    zufsUnpackADTSFrameHeader_AAC(&p, &h);
    *blocks = h.num_raw_data_blocks;
    first_block = d->block_no;
    d->block_no += (unsigned long)*blocks;
    /* adts_error_check() is one CRC word; with several blocks adts_header_error_check() also
     * holds a 16-bit position for every block after the first (ISO/IEC 13818-7 6.2). */
    head = 7 + (h.protection_absent ? 0 : 2 * h.num_raw_data_blocks);
    if ((size_t)head >= len) {
        *why = "frame shorter than its header";
        conceal(d, pcm, 0, *blocks);
        return -1;
    }
    p = d->buf + head;
    end = d->buf + len;
    d->crc_on = !h.protection_absent;
    d->crc = 0xFFFFu;
    crc_feed(d, 0, 8L * (head - 2), 8L * head);   /* the header and the block positions */
    if (d->crc_on && h.num_raw_data_blocks > 1) { /* adts_header_error_check(): its own CRC */
        if (crc_mismatch(d, (size_t)head - 2, why)) {
            conceal(d, pcm, 0, *blocks);
            return -2;
        }
        d->crc = 0xFFFFu;
    }
    for (b = 0; b < h.num_raw_data_blocks; ++b) {
        ++d->tools.blocks;
        noise_seeds(d, first_block + (unsigned long)b);
        if (raw_data_block(d, &p, &off, end, pcm + 1024 * d->channels * b, why)) {
            conceal(d, pcm, b, *blocks);
            return -1;
        }
        if (h.protection_absent) continue;
        /* adts_raw_data_block_error_check() after each block of a multi-block frame; the CRC
         * word after the header of a single-block frame covers its block too. */
        if (crc_mismatch(d, h.num_raw_data_blocks > 1 ? (size_t)(p - d->buf) : 7, why)) {
            conceal(d, pcm, b, *blocks);
            return -2;
        }
        if (h.num_raw_data_blocks > 1) p += 2;
        d->crc = 0xFFFFu;
    }
    if (p != end) {
        *why = p > end ? "raw data runs past the end of the frame" : "raw data ends before the end of the frame";
        conceal(d, pcm, 0, *blocks);
        return -1;
    }
    return 0;
}

int aac_frame_decode(AacDecoder *d, const Zuf8u *frame, size_t len, Zuf16s *pcm, int *blocks, const char **why) {
    AacSbr *s = d->sbr;
    Zuf32f *wide = d->wide;
    int r, b;
    if (!s) return frame_decode(d, frame, len, pcm, blocks, why);
    /* The core decodes into the SBR buffers (on the 32-bit filter bank); the blocks that it
     * concealed go through SBR as silence without payload. */
    s->out = pcm;
    s->out_wide = wide;
    s->done = 0;
    s->last = -1;
    d->wide = s->wide;
    r = frame_decode(d, frame, len, s->core, blocks, why);
    for (b = s->done; b < *blocks; ++b) {
        int e;
        for (e = 0; e < d->elements; ++e) sbr_no_payload(&s->el[e]);
        sbr_block(d, s->core + 1024L * d->channels * b);
    }
    d->wide = wide;
    return r;
}

void aac_downmix_matrix(const AacDecoder *d, double m[2][AAC_MAX_CHANNELS]) {
    /* matrix_mixdown_idx factors for the surround channels (ISO/IEC 13818-7 Table 8.x):
     * 1/sqrt(2), 1/2, 1/(2 sqrt(2)), 0; without one, ITU-R BS.775's 1/sqrt(2). */
    static const double k_surround[4] = {0.70710678118654752, 0.5, 0.35355339059327376, 0.0};
    const double centre = 0.70710678118654752;
    const double sur = k_surround[d->matrix_mixdown ? d->matrix_mixdown - 1 : 0];
    unsigned long spk;
    int ch = 0, row;
    memset(m, 0, sizeof(double) * 2 * AAC_MAX_CHANNELS);
    if (d->channels == 1) { /* mono: the same signal on both sides */
        m[0][0] = m[1][0] = 1.0;
        return;
    }
    for (spk = 1; ch < d->channels && spk <= AAC_SPK_SR; spk <<= 1) {
        if (!(d->mask & spk)) continue;
        if (spk & (AAC_SPK_FL | AAC_SPK_FLC)) m[0][ch] = 1.0;
        if (spk & (AAC_SPK_FR | AAC_SPK_FRC)) m[1][ch] = 1.0;
        if (spk & AAC_SPK_FC) m[0][ch] = m[1][ch] = centre;
        if (spk & (AAC_SPK_BL | AAC_SPK_SL)) m[0][ch] = sur;
        if (spk & (AAC_SPK_BR | AAC_SPK_SR)) m[1][ch] = sur;
        if (spk & AAC_SPK_BC) m[0][ch] = m[1][ch] = centre * sur;
        ++ch;
    }
    for (row = 0; row < 2; ++row) {
        double sum = 0.0;
        for (ch = 0; ch < d->channels; ++ch) sum += m[row][ch];
        if (sum > 1.0)
            for (ch = 0; ch < d->channels; ++ch) m[row][ch] /= sum;
    }
}

void aac_downmix(const AacDecoder *d, const Zuf16s *pcm, const Zuf32f *wide, unsigned long frames, Zuf16s *out,
                 Zuf32f *out_wide) {
    double m[2][AAC_MAX_CHANNELS];
    const int n = d->channels;
    unsigned long i;
    int row, ch;
    aac_downmix_matrix(d, m);
    for (i = 0; i < frames; ++i)
        for (row = 0; row < 2; ++row) {
            double v = 0.0, r;
            for (ch = 0; ch < n; ++ch)
                v += m[row][ch] * (wide ? 32768.0 * (double)wide[i * n + ch] : (double)pcm[i * n + ch]);
            if (out_wide) out_wide[2 * i + row] = (Zuf32f)(v / 32768.0);
            r = floor(v + 0.5);
            out[2 * i + row] = (Zuf16s)(r > 32767.0 ? 32767 : r < -32768.0 ? -32768 : (int)r);
        }
}
