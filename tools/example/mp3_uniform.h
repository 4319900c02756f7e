/*
 * Uniform quantisation of MP3 frames: one step per granule and channel, no scale factors, every
 * line below the encoder's low-pass coded, the finest steps whose Huffman bits fit what the frame
 * may spend (LAME quantises this way at its faster settings).
 *
 * The library's rate loop sets each band's step from the band's own peak, spends about 8% of a
 * 128 kbit/s frame on scale factors and clears the lines above long band 21 (16 kHz at 44.1 kHz).
 * Against an independent masking model (bench/mp3_quality.py) this coding left less noise on
 * every signal and at every rate; at 320 kbit/s, even without a reservoir, quiet granules
 * come out of a decoder sample for sample (a tone over the input's rounding noise: -83 dB against
 * its masking threshold, -7 dB with the rate loop).
 *
 * A joint-stereo frame is coded both as left/right and as mid/side, and the one whose noise,
 * reconstructed into left and right, lies lower against those channels' thresholds is kept. Bits
 * are counted with the code lengths that the library's Huffman encoder writes (measured once), and
 * the table choice of ISO/IEC 11172-3 Annex C.
 */
#ifndef ZUF_EXAMPLE_MP3_UNIFORM_H
#define ZUF_EXAMPLE_MP3_UNIFORM_H

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One granule and channel being coded. */
typedef struct {
    const Zuf32s *x;  /* its lines (left/right or mid/side) */
    float a[576];     /* |x|^(3/4), 1.0 = full scale */
    float amax;       /* their largest */
    Zuf32s sign[576]; /* -1 where x < 0, else 0 */
    Mp3SideInfo si;   /* block type, and the fields this coding leaves 0 */
    Zuf32s q[2][576]; /* magnitudes: q[cur] of the coding kept, the other of the last try */
    int cur;
    Mp3SideInfo coded; /* the coding kept: its side information, */
    int g;             /* global_gain */
    long bits;         /* and part2_3_length */
    int silent;
} Mp3UniformGc;

typedef struct {
    Zuf8u qlen[2][16];                      /* code lengths of count1 tables A and B (signs apart) */
    Zuf64u packed[7][16][16];               /* per class of candidate tables and pair, the lengths to sum */
    Zuf32f pow43[8207];                     /* n^(4/3), the library's table */
    double quiet_long[22], quiet_short[13]; /* threshold in quiet per band, as a noise power */
    double allowed[4][39];                  /* the frame's allowed noise per band (and window) */
    int last_g[2];                          /* the last frame's common global gain, left/right and mid/side */
    Mp3UniformGc gc[4];
    Mp3SideInfo cand_side[4], best_side[4];
    Zuf32s ms[4 * 576], cand[4 * 576], best[4 * 576];
    double err[4 * 576];
} Mp3UniformWork;

/* Sets w up for the stream of header h: the code lengths (the library's Huffman encoder writes
 * each code once), n^(4/3) and the thresholds in quiet. Returns 0, or -1 when the library
 * refused. */
int mp3enc_uniform_init(Mp3UniformWork *w, const Mp3FrameHeader *h);

/* Codes one MPEG-1 frame of 2 x nch granule-channels (granule-major arrays). xr: left/right
 * lines (26 fractional bits); psy: the model's left/right ratios; side: block types in, the
 * side information out (part2_3_length exact, no stuffing); sf: zeroed; ix: the quantised lines
 * (may be xr); ms_allowed: 1 when mid/side may be chosen (joint stereo, equal block types in each
 * granule); frame_bits: the most bits the frame's granules may take. Returns 1 when the frame is coded as
 * mid/side, 0 as left/right, -1 when a library call failed or no step fits. w: set up by
 * mp3enc_uniform_init. */
int mp3enc_code_uniform(const Zuf32s *xr, const Mp3PsyOutput *psy, Mp3SideInfo *side, Zuf8s (*sf)[40], Zuf32s *ix,
                        const Mp3FrameHeader *h, int nch, int ms_allowed, int frame_bits, Mp3UniformWork *w);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_MP3_UNIFORM_H */
