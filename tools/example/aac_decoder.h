/*
 * AAC-LC frame decoder over libzufack9's public API: one ADTS frame (ISO/IEC 13818-7 6.2,
 * ISO/IEC 14496-3 1.A.2) in, 1024 PCM sample frames per raw data block out. No file I/O, so that
 * zufdec, the tests and the benchmark share it; stream_decoder.h finds the frames in a file.
 */
#ifndef ZUF_EXAMPLE_AAC_DECODER_H
#define ZUF_EXAMPLE_AAC_DECODER_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#include "aac_ltp.h"
#include "aac_predict.h"
#include "sbr_decoder.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AAC_MAX_FRAME 8191 /* aac_frame_length is a 13-bit field */
#define AAC_MAX_BLOCKS 4   /* number_of_raw_data_blocks_in_frame + 1 */
/* Zero bytes after a copied frame. The element loop stops as soon as an element ends past the
 * frame, so at most one element overruns: a channel pair reads at most about 8 KB (1024 values
 * of 21-bit escapes per channel plus side information) beyond where it started, and the
 * drivers read three bytes ahead of that. */
#define AAC_FRAME_PADDING 32768
#define AAC_MAX_CHANNELS 8 /* output channels: channel_configuration 7 (7.1) at most */

/* WAVE_FORMAT_EXTENSIBLE speaker bits (dwChannelMask), in the order WAV interleaves them. */
#define AAC_SPK_FL 0x1ul
#define AAC_SPK_FR 0x2ul
#define AAC_SPK_FC 0x4ul
#define AAC_SPK_LFE 0x8ul
#define AAC_SPK_BL 0x10ul
#define AAC_SPK_BR 0x20ul
#define AAC_SPK_FLC 0x40ul
#define AAC_SPK_FRC 0x80ul
#define AAC_SPK_BC 0x100ul
#define AAC_SPK_SL 0x200ul
#define AAC_SPK_SR 0x400ul

/* One audio element of the stream's layout, in the order the raw data block carries them, and
 * the output channel (WAV position) of each of its channels. */
typedef struct {
    int id;               /* ID_SCE 0, ID_CPE 1 or ID_LFE 3 */
    int tag;              /* element_instance_tag (PCE layouts), or -1: any (the order decides) */
    unsigned long spk[2]; /* speaker (AAC_SPK_*) of the element's first (and second) channel */
    int slot[2];          /* output channel of each: the place of its speaker bit in the mask */
} AacElementSlot;

/* How often each coding tool was met, to state which tools a stream really uses. */
typedef struct {
    unsigned long blocks, sce, cpe, channels;
    unsigned long pns_shared; /* noise bands of both channels of a pair with ms_used: one noise */
    unsigned long common_window, ms_all_frames, ms_bands, is_bands, pns_bands, tns, short_windows, pulses;
    unsigned long fil, dse, pce, lfe;
    unsigned long mpeg2_pns; /* MPEG-2 channels with noise substitution, decoded as MPEG-4 */
    unsigned long ltp;       /* channels with ltp_data (AAC LTP) */
    /* Main profile: bands with the prediction added */
    unsigned long pred_bands;
    /* HE-AAC: SBR payloads (fill elements EXT_SBR_DATA(_CRC)), those with parametric stereo data,
     * and those refused as damaged (their element's core passed through the QMF banks alone) */
    unsigned long sbr, ps, sbr_fallback;
} AacToolCounts;

/* SBR state of a decoder whose stream carries SBR (aac_sbr_enable): one SBR decoder per audio
 * element (an LFE's only ever passes its core through the QMF banks, for the same delay). The
 * core decodes into core/wide, SBR writes the caller's buffers. */
typedef struct {
    SbrElement el[AAC_MAX_CHANNELS];
    int last;    /* element of the block's last SCE or CPE (an SBR payload belongs to it), or -1 */
    int done;    /* blocks of the current frame through SBR */
    Zuf16s *out; /* the caller's pcm and wide buffers for this frame */
    Zuf32f *out_wide;
    Zuf16s core[AAC_MAX_BLOCKS * 1024 * AAC_MAX_CHANNELS];
    Zuf32f wide[AAC_MAX_BLOCKS * 1024 * AAC_MAX_CHANNELS];
    float in[1024], res[2048];
    Zuf8u payload[272];
} AacSbr;

typedef struct {
    Zuf32s overlap[1024];   /* second half of the last windowed inverse transform */
    Zuf32s spectrum[1024];  /* quantised, then Q3 spectrum (grouped and interleaved for short windows) */
    Zuf32s spectrum2[1024]; /* short windows: eight consecutive windows of 128 */
    Zuf16s sf[120];         /* scale factors, is_position or noise energies, max_sfb per group */
    Zuf8u cb[120];          /* sfb_cb, max_sfb per group */
    Zuf8s tns[60];          /* TNS coefficients */
    AacChanInfo ci;
    AacIcsInfo ics; /* own ics_info (SCE, or a pair without common window) */
    int prev_shape; /* window_shape of the previous frame */
    Zuf32u seed;    /* noise substitution seed of this channel, set for every block */
    /* long-term prediction state (AAC LTP streams) */
    AacLtpChannel ltp;
    /* Main profile: the predictors of this channel */
    AacPredictor pred;
} AacChannel;

typedef struct {
    AacChannel ch[AAC_MAX_CHANNELS]; /* indexed by output channel */
    AacChanPairElt cpe;
    AacMainHeader mh;           /* required by the MPEG-4 driver; LC carries no LTP data */
    Zuf32u noise_state[8 * 51]; /* seeds of channel 0's noise bands, for shared M/S noise */
    int ltp_flags[52];          /* noise substitution clears LTP flags; unused for LC */
    Zuf8u ms_all[8 * 60];       /* ms_mask_present 2: every band */
    Zuf8u ms_none[8 * 60];      /* no M/S: the noise of the two channels stays independent */
    int sfi;                    /* sampling_frequency_index */
    int mpeg4;                  /* ADTS id 0: MPEG-4 (noise substitution allowed) */
    int aot;                    /* audioObjectType: 2 LC, 4 LTP */
    int config;                 /* channel_configuration 1..7 */
    int channels;               /* output channels: 1..8 */
    unsigned long mask;         /* the output channels' speakers (AAC_SPK_*), in WAV order */
    int elements;               /* audio elements of a raw data block */
    AacElementSlot element[AAC_MAX_CHANNELS];
    const char *refused; /* set when the stream opens with an element this decoder cannot decode (CCE) */
    int matrix_mixdown;  /* a PCE's matrix_mixdown_idx + 1, or 0: the default surround factor */
    int main_profile;    /* ADTS profile 0: prediction (ISO/IEC 13818-7) */
    AacToolCounts tools;
    /* Raw data blocks of the stream so far, damaged ones included: the noise seeds follow it. */
    unsigned long block_no;
    int crc_on;      /* the frame carries CRC words (protection_absent 0) */
    unsigned crc;    /* CRC-16 register of the header or block being checked */
    long crc_second; /* bit of buf where the second channel stream of the last CPE starts */
    /* Non-NULL (set by the caller after aac_decoder_init): the filter bank runs on 32 bits
     * (zufsMDCTInv_AAC_32s_I) and every frame's samples also go here, laid out like pcm, as
     * floats with 1.0 at 16-bit full scale: about 24 bits of precision instead of 16. The 16-bit
     * pcm is then rounded from them (it may differ from the 16-bit filter bank's by 1). */
    Zuf32f *wide;
    const Zuf16s *pcm0; /* the current frame's pcm, to place the wide samples beside it */
    Zuf16s one[1024];   /* one channel's samples, for layouts of more than 2 channels */
    size_t used;        /* bytes of buf that may be non-zero */
    AacSbr *sbr;        /* non-NULL: SBR decoded (allocated by aac_sbr_enable) */
    int sbr_down;       /* down-sampled SBR: output at the core rate */
    int ps_noted;       /* parametric stereo was reported once */
    Zuf8u buf[AAC_MAX_FRAME + AAC_FRAME_PADDING];
} AacDecoder;

/* Checks that the ADTS header at p (7 bytes readable) starts a stream this decoder handles.
 * Returns 0, or 1 with the reason in `why`. */
int aac_stream_supported(const Zuf8u *p, char *why, size_t why_len);

/* Prepares d (about 120 KB) for the stream whose first header is at p. */
void aac_decoder_init(AacDecoder *d, const Zuf8u *p);

/* Sets d's layout from a program configuration element (ISO/IEC 13818-7 8.5): front elements
 * from the centre outwards (a centre SCE, then L/R, or Lc/Rc and L/R), one side pair, a back pair
 * and/or back centre, one LFE, 8 channels at most; its matrix_mixdown_idx for aac_downmix().
 * Returns 0, or 1 with the reason in `why` for a layout without WAV speakers. */
int aac_layout_from_pce(AacDecoder *d, const AacPrgCfgElt *pce, char *why, size_t why_len);

/* For channel_configuration 0 (ADTS): the layout from the PCE that must open the first frame
 * (len bytes at frame). Returns 0, or 1 with the reason in `why`. */
int aac_layout_from_frame(AacDecoder *d, const Zuf8u *frame, size_t len, char *why, size_t why_len);

/* ADIF (ISO/IEC 13818-7 6.1): prepares d from the header at data (size bytes, followed by
 * AAC_FRAME_PADDING readable bytes): the first PCE gives the layout, sampling rate and profile.
 * Returns the header's length in bytes, or 0 with the reason in `why`. */
size_t aac_decoder_init_adif(AacDecoder *d, const Zuf8u *data, size_t size, char *why, size_t why_len);

/* Decodes one raw_data_block() of an ADIF stream at data (at most size bytes) into 1024 sample
 * frames of pcm. Returns the block's length in bytes, or 0 with *why set (the stream cannot be
 * resynchronised after a damaged block: it ends there). */
size_t aac_block_decode(AacDecoder *d, const Zuf8u *data, size_t size, Zuf16s *pcm, const char **why);

/* Decodes the ADTS frame at `frame` (len bytes: its aac_frame_length) into pcm, which receives
 * blocks x 1024 sample frames of d->channels channels, interleaved in WAV order (d->mask).
 * Returns 0; or -1 with *why set when the frame is damaged, -2 when a CRC word does not match:
 * the blocks from the damaged one on are silence and the filter bank starts again from silence.
 * *blocks is set in every case (0 when the header itself is unusable). */
int aac_frame_decode(AacDecoder *d, const Zuf8u *frame, size_t len, Zuf16s *pcm, int *blocks, const char **why);

/* Stereo from the decoder's output channels (ISO/IEC 13818-7 matrix-mixdown, 14496-3 4.5.1.2.2,
 * with the ITU-R BS.775 default): L' = k (L + Lc + a C + b Ls) and R' alike, where a = 1/sqrt(2)
 * for a centre, b = 1/sqrt(2) (or the PCE's matrix_mixdown_idx factor) for a surround, LFE left
 * out, and k = 1 / (sum of the row's factors) so that nothing can clip. m receives the 2 x
 * channels matrix, row by row. */
void aac_downmix_matrix(const AacDecoder *d, double m[2][AAC_MAX_CHANNELS]);

/* Downmixes `frames` frames of d's output (pcm, and wide when not NULL) to stereo in out and
 * out_wide (when wide is not NULL), through the matrix above in double precision. */
void aac_downmix(const AacDecoder *d, const Zuf16s *pcm, const Zuf32f *wide, unsigned long frames, Zuf16s *out,
                 Zuf32f *out_wide);

/* HE-AAC (ISO/IEC 14496-3 4.6.18): decodes SBR from now on; each frame then gives 2048 sample
 * frames per block (1024 when down, down-sampled SBR) at twice (once) the core rate. Returns 0, or
 * 1 when out of memory. aac_sbr_free releases it (a decoder without SBR: nothing). */
int aac_sbr_enable(AacDecoder *d, int down);
void aac_sbr_free(AacDecoder *d);

/* Implicit signalling: 1 when the first frame (len bytes at frame) of the stream d was prepared
 * for carries an SBR payload. d itself is not changed. */
int aac_sbr_probe(const AacDecoder *d, const Zuf8u *frame, size_t len);

/* Sample frames per raw data block that d produces: 1024, or 2048 with dual-rate SBR. */
int aac_block_samples(const AacDecoder *d);

/* Fields of the fixed ADTS header that must stay the same within a stream. */
int aac_same_stream(const Zuf8u *a, const Zuf8u *b);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_AAC_DECODER_H */
