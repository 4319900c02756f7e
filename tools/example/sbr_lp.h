/*
 * Low-power SBR (ISO/IEC 14496-3 4.6.19) for the example decoder: the real-valued QMF banks (float
 * or 32-bit), HF generation from real covariance prediction with the aliasing degree of each
 * low-band channel, the gain grouping that reduces the aliasing of the real banks in HF
 * adjustment, and the leakage of sinusoids into neighbouring channels. The rest of HF adjustment
 * (envelopes, noise, limiter, smoothing) is the high-quality path's, run on real values.
 */
#ifndef ZUF_EXAMPLE_SBR_LP_H
#define ZUF_EXAMPLE_SBR_LP_H

#include "example/sbr_decoder.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How SBR elements initialised afterwards decode (process-wide; SBR_MODE_HQ by default). */
typedef enum { SBR_MODE_HQ = 0, SBR_MODE_LP = 1 } SbrMode;
void sbr_set_mode(SbrMode mode);
SbrMode sbr_get_mode(void);

/* One channel's low-power state: its real banks and what HF generation leaves for adjustment. */
struct SbrLp {
    AnalysisFilterContext_SBR_RToR_32f *ana;
    SynthesisFilterContext_SBR_RToR_32f *syn;
    SynthesisDownFilterContext_SBR_RToR_32f *syn_down;
    AnalysisFilterContext_SBRLP_32s *ana_fx; /* SBR_BANK_FIXED */
    SynthesisFilterContext_SBRLP_32s *syn_fx;
    SynthesisDownFilterContext_SBRLP_32s *syn_down_fx;
    Zuf8u *mem, *work;
    float deg[SBR_MAX_BANDS + 1];           /* aliasing degree of each HF channel (0 = none) */
    float sine[SBR_MAX_ENV][SBR_MAX_BANDS]; /* sinusoid levels per envelope, channel - kx */
};

/* Makes the state of one channel (fixed: the 32-bit banks); NULL when out of memory. */
SbrLp *sbr_lp_new(int fixed);
void sbr_lp_free(SbrLp *lp);

/* 32 slots of real analysis of 1024 core samples into dst[l][k].re (imaginary parts 0). */
void sbr_lp_analysis(SbrLp *lp, const float *core, Zuf32fc *const *dst, const float *win320);

/* HF generation (real parts of xhigh) from the real parts of ch->xlow with the chirp factors
 * ch->bw; also records the aliasing degree of every HF channel. */
void sbr_lp_generate(SbrLp *lp, const SbrChannel *ch, const SbrBands *b, Zuf32fc xhigh[SBR_X_SLOTS][SBR_MAX_BANDS]);

/* Envelope l of HF adjustment, after limiter and boost: regroups the gains g (channel - kx) of
 * neighbouring channels whose aliasing is not cancelled. ecur: current energies, smap: a sinusoid
 * in the channel's envelope band, s: sinusoid levels (kept for the leakage). */
void sbr_lp_gains(SbrLp *lp, const SbrBands *b, int l, const double *ecur, const int *smap, const double *s, double *g);

/* After HF adjustment of the frame: drops the imaginary parts of ch->y and adds the leakage of
 * the sinusoids into the neighbouring channels (kx - 1 and kx + M included). */
void sbr_lp_assemble(SbrLp *lp, SbrChannel *ch, const SbrBands *b);

/* Adds the leakage of slot row y into the channels next to the HF range [kx, kx + m) of x. */
void sbr_lp_edges(Zuf32fc *x, const Zuf32fc *y, int kx, int m);

/* 32 slots of real synthesis of rows[l][k].re: 2048 samples, or 1024 down-sampled. */
void sbr_lp_synthesis(SbrLp *lp, const Zuf32fc *const *rows, float *pcm, int down, const float *win320);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_SBR_LP_H */
