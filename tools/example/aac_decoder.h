/*
 * AAC-LC frame decoder over libzufack9's public API: one ADTS frame (ISO/IEC 13818-7 6.2,
 * ISO/IEC 14496-3 1.A.2) in, 1024 PCM sample frames per raw data block out. No file I/O, so that
 * zufdec, the tests and the benchmark share it; stream_decoder.h finds the frames in a file.
 */
#ifndef ZUF_EXAMPLE_AAC_DECODER_H
#define ZUF_EXAMPLE_AAC_DECODER_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#include "example/aac_predict.h"

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

/* How often each coding tool was met, to state which tools a stream really uses. */
typedef struct {
    unsigned long blocks, sce, cpe, channels;
    unsigned long pns_shared; /* noise bands of both channels of a pair with ms_used: one noise */
    unsigned long common_window, ms_all_frames, ms_bands, is_bands, pns_bands, tns, short_windows, pulses;
    unsigned long fil, dse, pce;
    unsigned long mpeg2_pns; /* MPEG-2 channels with noise substitution, decoded as MPEG-4 */
    /* Main profile: bands with the prediction added */
    unsigned long pred_bands;
} AacToolCounts;

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
    Zuf32u seed;    /* noise substitution seed of this channel */
    /* Main profile: the predictors of this channel */
    AacPredictor pred;
} AacChannel;

typedef struct {
    AacChannel ch[2];
    AacChanPairElt cpe;
    AacMainHeader mh;           /* required by the MPEG-4 driver; LC carries no LTP data */
    Zuf32u noise_state[8 * 51]; /* seeds of channel 0's noise bands, for shared M/S noise */
    int ltp_flags[52];          /* noise substitution clears LTP flags; unused for LC */
    Zuf8u ms_all[8 * 60];       /* ms_mask_present 2: every band */
    Zuf8u ms_none[8 * 60];      /* no M/S: the noise of the two channels stays independent */
    int sfi;                    /* sampling_frequency_index */
    int mpeg4;                  /* ADTS id 0: MPEG-4 (noise substitution allowed) */
    int channels;               /* 1 or 2 (channel_configuration) */
    int main_profile;           /* ADTS profile 0: prediction (ISO/IEC 13818-7) */
    AacToolCounts tools;
    int crc_on;      /* the frame carries CRC words (protection_absent 0) */
    unsigned crc;    /* CRC-16 register of the header or block being checked */
    long crc_second; /* bit of buf where the second channel stream of the last CPE starts */
    /* Non-NULL (set by the caller after aac_decoder_init): the filter bank runs on 32 bits
     * (zufsMDCTInv_AAC_32s_I) and every frame's samples also go here, laid out like pcm, as
     * floats with 1.0 at 16-bit full scale: about 24 bits of precision instead of 16. The 16-bit
     * pcm is then rounded from them (it may differ from the 16-bit filter bank's by 1). */
    Zuf32f *wide;
    const Zuf16s *pcm0; /* the current frame's pcm, to place the wide samples beside it */
    size_t used;        /* bytes of buf that may be non-zero */
    Zuf8u buf[AAC_MAX_FRAME + AAC_FRAME_PADDING];
} AacDecoder;

/* Checks that the ADTS header at p (7 bytes readable) starts a stream this decoder handles.
 * Returns 0, or 1 with the reason in `why`. */
int aac_stream_supported(const Zuf8u *p, char *why, size_t why_len);

/* Prepares d (about 120 KB) for the stream whose first header is at p. */
void aac_decoder_init(AacDecoder *d, const Zuf8u *p);

/* Decodes the ADTS frame at `frame` (len bytes: its aac_frame_length) into pcm, which receives
 * blocks x 1024 sample frames, interleaved for stereo. Returns 0; or -1 with *why set when the
 * frame is damaged, -2 when a CRC word does not match: the blocks from the damaged one on are
 * silence and the filter bank starts again from silence. *blocks is set in every case (0 when
 * the header itself is unusable). */
int aac_frame_decode(AacDecoder *d, const Zuf8u *frame, size_t len, Zuf16s *pcm, int *blocks, const char **why);

/* Fields of the fixed ADTS header that must stay the same within a stream. */
int aac_same_stream(const Zuf8u *a, const Zuf8u *b);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_AAC_DECODER_H */
