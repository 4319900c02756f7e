/*
 * Spectral band replication (HE-AAC v1, ISO/IEC 14496-3 4.6.18) for the example AAC decoder, on
 * libzufack9's public API: the SBR payload of a fill element (bit-stream syntax of 4.4.2.8) is
 * parsed into per-channel frame data, and each channel's 1024 core samples go through the
 * 32-band complex QMF analysis, HF generation and adjustment, and the 64-band (or down-sampled
 * 32-band) synthesis. Samples are floats at 16-bit scale (full scale 32768) on both sides.
 */
#ifndef ZUF_EXAMPLE_SBR_DECODER_H
#define ZUF_EXAMPLE_SBR_DECODER_H

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SBR_MAX_ENV 5   /* envelopes per frame */
#define SBR_MAX_NOISE 5 /* noise-floor bands */
#define SBR_MAX_BANDS 64
#define SBR_SLOTS 32   /* QMF slots per 1024-sample frame (numTimeSlots x RATE) */
#define SBR_X_SLOTS 40 /* the low band's slots: t_HFGen = 8 of history, then the frame's 32 */
#define SBR_T_HFADJ 2

/* sbr_header(): the fields, with the defaults of the optional blocks filled in. */
typedef struct {
    int amp_res, start_freq, stop_freq, xover_band;
    int freq_scale, alter_scale, noise_bands;                        /* bs_header_extra_1 */
    int limiter_bands, limiter_gains, interpol_freq, smoothing_mode; /* bs_header_extra_2 */
} SbrHeader;

/* The frequency band tables of a header at one SBR rate (4.6.18.3.2). */
typedef struct {
    int k0, k2, kx, m;              /* start and stop channel, first SBR channel, SBR channels */
    int n_master, n[2], n_q, n_lim; /* bands of the master, low (n[0]) and high (n[1]), noise, limiter tables */
    int master[SBR_MAX_BANDS + 1];
    int table[2][SBR_MAX_BANDS + 1]; /* f_TableLow, f_TableHigh */
    int noise[SBR_MAX_NOISE + 1];
    int lim[SBR_MAX_BANDS + 1];
    int num_patches, patch_start[6], patch_size[6];
} SbrBands;

/* One channel's data of one SBR frame, as parsed (envelope and noise values absolute, after
 * delta decoding; balance values of a coupled pair's second channel in the doubled units). */
typedef struct {
    int frame_class, num_env, num_noise, amp_res, pointer, l_a;
    int t_env[SBR_MAX_ENV + 1], t_noise[3], freq_res[SBR_MAX_ENV];
    int df_env[SBR_MAX_ENV], df_noise[2];
    int invf[SBR_MAX_NOISE];
    int env[SBR_MAX_ENV][SBR_MAX_BANDS];
    int noise[2][SBR_MAX_NOISE];
    int add_harmonic_flag, add_harmonic[SBR_MAX_BANDS];
    /* what the next frame's time-direction deltas start from */
    int last_env[SBR_MAX_BANDS], last_res, last_noise[SBR_MAX_NOISE];
} SbrFrame;

typedef struct SbrLp SbrLp; /* low-power state (sbr_lp.h) */

/* Everything a channel carries from frame to frame. */
typedef struct {
    SbrFrame f; /* the current frame (its last_* fields: the previous frame's values on parsing) */
    int valid;  /* f holds this frame's data (else the core passes through without HF) */
    int prev_invf[SBR_MAX_NOISE];
    float bw[SBR_MAX_NOISE];
    int prev_add_harmonic[SBR_MAX_BANDS];
    int prev_la_end;     /* the previous frame's transient pointer was at its end border */
    int prev_t_end;      /* t_E(L_E) of the previous frame, in SBR time slots (16 when none) */
    int prev_kx, prev_m; /* band split of the previous frame */
    int reset;           /* the first frame after a reset: smoothing starts from its own gains */
    float g_hist[4][SBR_MAX_BANDS], q_hist[4][SBR_MAX_BANDS]; /* the four slots before this frame's first */
    int index_noise, index_sine;
    Zuf32fc xlow[SBR_X_SLOTS][32];
    Zuf32fc y[SBR_X_SLOTS][SBR_MAX_BANDS]; /* this frame's HF slots, frame slot index */
    Zuf32fc ytail[8][SBR_MAX_BANDS];       /* the previous frame's HF slots past its end (32..39) */
    AnalysisFilterContext_SBR_RToC_32f32fc *ana;
    SynthesisFilterContext_SBR_CToR_32fc32f *syn;
    SynthesisDownFilterContext_SBR_CToR_32fc32f *syn_down;
    Zuf8u *mem; /* contexts and work buffer, one malloc */
    Zuf8u *work;
    /* SBR_BANK_FIXED: the 32-bit banks (InitAlloc) */
    AnalysisFilterContext_SBRHQ_32s32sc *ana_fx;
    SynthesisFilterContext_SBRHQ_32sc32s *syn_fx;
    SynthesisDownFilterContext_SBRHQ_32sc32s *syn_down_fx;
    SbrLp *lp; /* low-power decoding (sbr_set_mode): real banks and HF, else NULL */
} SbrChannel;

/* The QMF banks the decoder runs on. The complex float banks are the reference; the 32-bit
 * complex banks give the same transform within their rounding (samples scaled to fit them). */
typedef enum { SBR_BANK_FLOAT = 0, SBR_BANK_FIXED = 1 } SbrBank;

/* The banks of every SBR element initialised afterwards (process-wide; SBR_BANK_FLOAT by default). */
void sbr_set_bank(SbrBank bank);
SbrBank sbr_get_bank(void);

/* The SBR decoder of one SCE or CPE (LFE elements carry no SBR). */
typedef struct {
    int rate;        /* SBR rate: twice the core rate */
    int down;        /* down-sampled SBR: 32-band synthesis, output at the core rate */
    int have_header; /* a header was met: frames before the first one are skipped */
    int channels;    /* 1 or 2 */
    SbrBank bank;
    int coupling;
    SbrHeader h;
    SbrBands b;
    int bands_ok;           /* the header gives usable band tables */
    unsigned long ps;       /* frames with parametric stereo data (decoded as mono SBR) */
    unsigned long fallback; /* frames whose payload was refused: core upsampled without HF */
    SbrChannel ch[2];
    Zuf32fc xhigh[SBR_X_SLOTS][SBR_MAX_BANDS]; /* HF generator output, t_HFAdj + frame slot */
    Zuf32f win320[320]; /* c[2n]: the window of the 32-band banks (analysis, down-sampled synthesis) */
} SbrElement;

/* Band tables of header h at SBR rate `rate`. Returns 0, or 1 for a header that gives none (a
 * rate without SBR tables, k2 - k0 beyond the limit, too many bands). */
int sbr_bands(SbrBands *b, const SbrHeader *h, int rate);

/* The stop channel k2 for bs_stop_freq = stop_freq (0..15) at `rate` with start channel k0. */
int sbr_stop_channel(int rate, int stop_freq, int k0);

/* Prepares e for `channels` channels at core rate core_rate (down: down-sampled output).
 * Returns 0, or 1 when the filter bank contexts cannot be made. */
int sbr_element_init(SbrElement *e, int channels, int core_rate, int down);
void sbr_element_free(SbrElement *e);

/* Parses sbr_extension_data() of `bits` bits at data (the fill element's payload after its
 * 4-bit extension_type, crc: EXT_SBR_DATA_CRC). Returns 0; 1 when the payload is refused
 * (damaged, or invalid for the header): the frame then passes the core through. */
int sbr_parse(SbrElement *e, const Zuf8u *data, long bits, int crc);

/* Marks the frame of e as having no SBR payload (the core passes through). */
void sbr_no_payload(SbrElement *e);

/* Runs channel ch: 1024 core samples in, 2048 (or 1024 down-sampled) samples out. */
void sbr_process(SbrElement *e, int ch, const float *core, float *out);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_SBR_DECODER_H */
