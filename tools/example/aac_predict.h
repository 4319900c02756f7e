/*
 * Main-profile prediction for the example AAC decoder (ISO/IEC 13818-7 prediction): the
 * backward-adaptive predictor of every spectral line of one channel, run with libzufack9's FDP
 * functions on a caller-placed context, between the stereo tools and TNS.
 */
#ifndef ZUF_EXAMPLE_AAC_PREDICT_H
#define ZUF_EXAMPLE_AAC_PREDICT_H

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

/* zufsFDPGetSize_32f for 1024 lines: 24 * 1024 + 260 bytes. */
#define AAC_PREDICT_MEM (24 * 1024 + 260)

typedef struct {
    FdpContext_32f *state; /* NULL until aac_predict_init */
    Zuf32f x[1024];        /* the spectrum in the standard's scale while it is predicted */
    Zuf8u mem[AAC_PREDICT_MEM];
} AacPredictor;

/* PRED_SFB_MAX of sampling_frequency_index 0..11 (ISO/IEC 13818-7). */
int aac_pred_sfb_max(int sfi);

/* Places the context in p->mem and resets every predictor. Returns 0, or -1. */
int aac_predict_init(AacPredictor *p);

/* One frame of one channel, on the Q3 spectrum x after M/S, intensity stereo and noise
 * substitution: short windows reset every predictor; long windows predict the lines of the
 * bands below PRED_SFB_MAX, adding the prediction where prediction_used is set (and the band is
 * coded with neither noise nor intensity: pSfbCb), then apply predictor_reset and reset the
 * predictors of noise bands. Returns the number of bands with the prediction added, or -1 when
 * the library refuses a call. */
int aac_predict_frame(AacPredictor *p, const AacIcsInfo *ics, const Zuf8u *pSfbCb, int sfi, Zuf32s *x);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_AAC_PREDICT_H */
