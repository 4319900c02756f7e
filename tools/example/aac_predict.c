/* Main-profile prediction of the example AAC decoder; see aac_predict.h. */
#include "example/aac_predict.h"

/* swb_offset of long windows (ISO/IEC 13818-7), up to band PRED_SFB_MAX of each rate. */
static const short k_swb96[] = {0,  4,  8,  12,  16,  20,  24,  28,  32,  36,  40,  44,  48,  52,  56,  64,  72,
                                80, 88, 96, 108, 120, 132, 144, 156, 172, 188, 212, 240, 276, 320, 384, 448, 512};
static const short k_swb64[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,  48,
                                52,  56,  64,  72,  80,  88,  100, 112, 124, 140, 156, 172, 192,
                                216, 240, 268, 304, 344, 384, 424, 464, 504, 544, 584, 624, 664};
static const short k_swb48[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,  64,
                                72,  80,  88,  96,  108, 120, 132, 144, 160, 176, 196, 216, 240, 264,
                                292, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608, 640, 672};
static const short k_swb24[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,  52,  60,
                                68,  76,  84,  92,  100, 108, 116, 124, 136, 148, 160, 172, 188, 204,
                                220, 240, 260, 284, 308, 336, 364, 396, 432, 468, 508, 552, 600, 652};
static const short k_swb16[] = {0,   8,   16,  24,  32,  40,  48,  56,  64,  72,  80,  88,  100,
                                112, 124, 136, 148, 160, 172, 184, 196, 212, 228, 244, 260, 280,
                                300, 320, 344, 368, 396, 424, 456, 492, 532, 572, 616, 664};
static const short k_swb8[] = {0,   12,  24,  36,  48,  60,  72,  84,  96,  108, 120, 132, 144, 156, 172, 188, 204, 220,
                               236, 252, 268, 288, 308, 328, 348, 372, 396, 420, 448, 476, 508, 544, 580, 620, 664};
static const short *const k_swb[12] = {k_swb96, k_swb96, k_swb64, k_swb48, k_swb48, k_swb48,
                                       k_swb24, k_swb24, k_swb16, k_swb16, k_swb16, k_swb8};
static const int k_pred_sfb_max[12] = {33, 33, 38, 40, 40, 40, 41, 41, 37, 37, 37, 34};

int aac_pred_sfb_max(int sfi) { return sfi >= 0 && sfi < 12 ? k_pred_sfb_max[sfi] : 0; }

int aac_predict_init(AacPredictor *p) { return zufsFDPInit_32f(&p->state, 1024, p->mem) == zufOk ? 0 : -1; }

/* Q3 to the standard's scale and back: exact up to 2^27 (then the float keeps 24 bits, as the
 * standard's float decoders do); back rounded (halves away from zero) and saturated. */
static Zuf32s from_float(Zuf32f v) {
    const float q = v * 8.0f;
    return q != q                ? 0 /* not met: the predictor's values stay finite */
           : q >= 2147483520.0f  ? 0x7FFFFFFF
           : q <= -2147483648.0f ? (Zuf32s)0x80000000u
                                 : (Zuf32s)(q >= 0 ? q + 0.5f : q - 0.5f);
}

int aac_predict_frame(AacPredictor *p, const AacIcsInfo *ics, const Zuf8u *pSfbCb, int sfi, Zuf32s *x) {
    const int nb = aac_pred_sfb_max(sfi);
    const short *swb = k_swb[sfi];
    int offs[42];
    Zuf8u used[41], noise[41];
    int b, k, any_noise = 0, n_used = 0;
    if (ics->window_sequence == ZUF_AAC_EIGHT_SHORT_SEQUENCE) return zufsFDPReset_32f(p->state) == zufOk ? 0 : -1;
    for (b = 0; b < nb; ++b) {
        const int cb = b < ics->max_sfb ? pSfbCb[b] : 0;
        /* ISO/IEC 13818-7, intensity stereo, integration with the prediction tool: "For
         * scalefactor bands coded in intensity stereo the corresponding predictors in the right
         * channel are switched to 'off' thus effectively overriding the status specified by the
         * prediction_used mask. The update of these predictors is done by feeding the intensity
         * stereo decoded spectral values of the right channel as the 'last value' input." So an
         * intensity band (codebook 14 or 15, right channel only) is not predicted but its state
         * is updated with the intensity values, which is why this runs after intensity stereo.
         * Noise bands (ISO/IEC 14496-3, noise substitution) likewise: predictors off, then
         * reset. */
        used[b] = ics->predictor_data_present && b < ics->max_sfb && ics->prediction_used[b] && cb < 13;
        noise[b] = cb == 13;
        n_used += used[b];
        any_noise |= noise[b];
        offs[b] = swb[b];
    }
    offs[nb] = swb[nb];
    for (k = 0; k < offs[nb]; ++k) p->x[k] = (Zuf32f)x[k] * 0.125f;
    if (zufsFDPInv_32f_I(p->x, offs, nb, used, p->state) < 0) return -1;
    for (b = 0; b < nb; ++b)
        for (k = offs[b]; used[b] && k < offs[b + 1]; ++k) x[k] = from_float(p->x[k]);
    /* predictor_reset_group_number n (1..30; 0 resets nothing) resets every 30th predictor from
     * line n - 1, after this frame's prediction. */
    if (ics->predictor_data_present && ics->predictor_reset && ics->predictor_reset_group_number >= 1 &&
        zufsFDPResetGroup_32f(30, ics->predictor_reset_group_number - 1, p->state) < 0)
        return -1;
    if (any_noise && zufsFDPResetSfb_32f(offs, nb, noise, p->state) < 0) return -1;
    return n_used;
}
