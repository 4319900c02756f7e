/*
 * MPEG-1 Layer III encoder over libzufack9's public API (ISO/IEC 11172-3): 16-bit PCM at 32, 44.1
 * or 48 kHz, one or two channels, constant bit rate 32..320 kbit/s, to a stream that starts with
 * an "Info" frame (frame count, byte count, and the LAME extension's encoder delay and padding),
 * so that gapless decoders return exactly the input's samples. No file I/O: the caller pushes
 * PCM and takes the bytes from `out`.
 *
 * Per frame: the psychoacoustic model (whose decisions come one granule late, so it reads one
 * granule ahead of the transform), the polyphase analysis bank, the forward hybrid transform
 * with the decided block types, a low-pass, then quantisation in one of two ways:
 * - uniform (the default, mp3_uniform.h): one quantiser step per granule and channel and no
 *   scale factors, the finest steps that fit the frame's bits and half of the reservoir; in
 *   joint stereo left/right or mid/side by the noise each leaves in left and right;
 * - the library's rate loop: the mid/side choice (the model's at 80 to 112 kbit/s, where it also
 *   sets intensity stereo bounds; the encoder's own elsewhere), the model's ratios moved by a
 *   margin that falls with frequency, joint stereo (intensity stereo bounds moved to where
 *   decoders will find them), quantisation within the bit reservoir (frames of low entropy leave
 *   bits in it; granule 1 reuses granule 0's scale factors where both are long). Frames that
 *   have no reservoir (320 kbit/s held to ISO/IEC 11172-3's decoder buffer) are quantised
 *   uniformly here too.
 * Then header, side information, scale factors and Huffman data. Main data is a byte stream laid
 * into the frames' slots; a frame leaves only when its slots are full (main_data_begin reaches
 * back into frames not yet written). Bits the reservoir cannot keep go out as ancillary data.
 *
 * On the quality signals of bench/mp3_quality.py the uniform quantiser measured the lower
 * noise-to-mask ratio at 64, 128 and 192 kbit/s on every signal, by 0.4 to 15 dB (music at 128
 * kbit/s: -1.68 dB against 3.01): the rate loop spends 8% of a frame on scale factors, sets each
 * band's step from its own peak and clears everything above 16 kHz.
 */
#ifndef ZUF_EXAMPLE_MP3_ENCODER_H
#define ZUF_EXAMPLE_MP3_ENCODER_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#include "mp3_uniform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Delay of the whole chain (analysis bank, forward and inverse hybrid transform, synthesis bank)
 * from an input sample to the same sample out of a decoder, in sample frames: one granule of
 * hybrid transform plus the two polyphase banks' 481. The Info frame states it less the 529
 * that decoders remove by convention. */
#define MP3ENC_CHAIN_DELAY 1057
#define MP3ENC_DECODER_DELAY 529
#define MP3ENC_MAX_FRAME 1441 /* 320 kbit/s at 32 kHz, with padding */
#define MP3ENC_PENDING 32     /* frames waiting for main data (511 bytes back at 96-byte frames) */
#define MP3ENC_HOLD 2752      /* sample frames held: 1312 of history plus 1440 ahead */

typedef enum { MP3ENC_STEREO = 0, MP3ENC_JOINT = 1, MP3ENC_MONO = 3 } Mp3EncMode;

/* How the spectrum is quantised: the uniform quantiser of mp3_uniform.h, or the library's rate
 * loop (scale factors from the psychoacoustic model, intensity stereo at 80 to 112 kbit/s) in
 * every frame that has a bit reservoir. */
typedef enum { MP3ENC_UNIFORM = 0, MP3ENC_LIBRARY_LOOP = 1 } Mp3EncRateLoop;

#define MP3ENC_MAX_ATTEN 80 /* quarter decibels: 20 dB */

typedef struct {
    int sample_rate; /* 32000, 44100 or 48000 */
    int channels;    /* 1 or 2 */
    int kbps;        /* 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 */
    int mode;        /* Mp3EncMode: MONO for one channel, STEREO or JOINT for two */
    int rate_loop;   /* Mp3EncRateLoop */
    int strict_iso;  /* nonzero: the reservoir stays within ISO/IEC 11172-3's 7680-bit decoder buffer
                      * (none at 320 kbit/s); zero: up to the 511 bytes main_data_begin reaches */
} Mp3EncConfig;

/* A frame written except for its main data slots. */
typedef struct {
    Zuf8u bytes[MP3ENC_MAX_FRAME];
    int len;              /* whole frame */
    int head;             /* header and side information */
    unsigned long md_pos; /* position of its first slot byte in the main-data stream */
} Mp3EncFrame;

typedef struct {
    Mp3EncConfig cfg;
    Mp3FrameHeader hdr;
    Mp3FrameHeader psy_hdr; /* the model's view: stereo (left/right only) where this encoder
                               decides mid/side itself */
    Mp3BitReservoir resv;
    Mp3PsyState psy;
    Mp3PsyOutput psy_out[4];
    Mp3SideInfo side[4];
    int is_bound[6];
    Zuf8s sf[4][40];
    int scfsi[8];
    int count[4], stuff[4];
    Zuf32s xr[4 * 576]; /* granule-major, channel-minor */
    Zuf32s xr_saved[4 * 576];
    Mp3SideInfo side_saved[4];
    Zuf32s sub[576];
    Zuf32s mdct_hist[2][576];
    Zuf32s qwork[4 * 576];
    /* PCM timeline: pcm[i] is sample frame base + i (interleaved); base = 1152 frame - 1312 */
    Zuf16s pcm[2 * (MP3ENC_HOLD + 1152)];
    int held;                               /* sample frames in pcm */
    unsigned long long input;               /* sample frames pushed */
    unsigned long total;                    /* sample frames of the input (stated in the Info frame) */
    unsigned long frames;                   /* audio frames to write: ceil((total + chain delay) / 1152) */
    unsigned long coded;                    /* audio frames coded */
    int lowpass_line;                       /* lines from this one up are not coded (0: no limit of our own) */
    int primed;                             /* the model ran once on the granules before the first */
    double pe_mean;                         /* running mean of the frames' perceptual entropy */
    Zuf32s atten_q30[MP3ENC_MAX_ATTEN + 1]; /* 10^(-k/40) in Q30: an attenuation of k/4 dB */
    /* main data: a byte stream, md[0] at stream position md_base */
    Zuf8u md[8192];
    unsigned long md_base, md_len;
    unsigned long md_slots_end; /* stream position after the slots of every frame coded so far */
    Mp3EncFrame pending[MP3ENC_PENDING];
    int npend;
    unsigned long long bytes_total; /* the stream's size, Info frame included */
    /* statistics */
    unsigned long short_granules, ms_frames, is_frames;
    /* output: bytes ready for the caller, who empties it (out_len = 0) after each call */
    Zuf8u out[(MP3ENC_PENDING + 2) * MP3ENC_MAX_FRAME];
    size_t out_len;
    Zuf8u psy_work[ZUF_MP3_PSY_WORK_BYTES];
    Mp3UniformWork uniform; /* frames quantised uniformly */
} Mp3Encoder;

/* Index of kbps in the MPEG-1 bit-rate table (1..14), or 0 when it has none. */
int mp3enc_bitrate_index(int kbps);

/* Prepares e (about 330 KB) for `total` sample frames of the configuration and writes the Info
 * frame to e->out. Returns 0, or 1 with the reason in `why` (unsupported rate, channels, bit
 * rate or mode). */
int mp3enc_init(Mp3Encoder *e, const Mp3EncConfig *cfg, unsigned long total, char *why, size_t why_len);

/* Takes `frames` interleaved sample frames; complete MP3 frames are appended to e->out. At most
 * 1152 sample frames per call. Returns 0, or 1 when the library refused a frame (why says). */
int mp3enc_push(Mp3Encoder *e, const Zuf16s *pcm, size_t frames, char *why, size_t why_len);

/* Codes what is left (the input must be complete: `total` frames pushed; zeros follow it) and
 * writes every remaining frame to e->out; call with e->out emptied, and again while it returns
 * 2 (more to come). Returns 0 when done, 2 to be called again, 1 on a library error. */
int mp3enc_finish(Mp3Encoder *e, char *why, size_t why_len);

/* Bytes of the whole stream (Info frame included), known from the start. */
unsigned long long mp3enc_stream_bytes(const Mp3Encoder *e);

/* The stream's frame size for frame index k (0 = the Info frame): 144 bitrate / rate bytes, one
 * more when the running remainder overflows (44.1 kHz). */
int mp3enc_frame_bytes(int sample_rate, int kbps, unsigned long k);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_MP3_ENCODER_H */
