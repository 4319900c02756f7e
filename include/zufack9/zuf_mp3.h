/*
 * libzufack9 MP3: MPEG-1 and MPEG-2 (lower sampling frequencies) Layer III decoding
 * primitives (ISO/IEC 11172-3 and ISO/IEC 13818-3), in fixed point.
 *
 * A frame is decoded by the caller in stream order:
 *   zufsUnpackFrameHeader_MP3          4-byte header (and the CRC word when protected)
 *   zufsUnpackSideInfo_MP3             side information, into one Mp3SideInfo per granule and
 *                                      channel (granule-major)
 *   the caller assembles the main data from the bit reservoir (main_data_begin), then for every
 *   granule and channel:
 *   zufsUnpackScaleFactors_MP3_1u8s    scale factors (part 2)
 *   zufsHuffmanDecode_MP3_1u32s        Huffman-coded spectrum (part 3), 576 integers
 *   and for every granule:
 *   zufsReQuantize_MP3_32s_I           |x|^(4/3) with gains, M/S and intensity stereo, short-block
 *                                      reordering; 26 fractional bits (1.0 = 2^26)
 *   and for every granule and channel:
 *   zufsMDCTInv_MP3_32s                alias reduction, inverse MDCT with overlap-add and frequency
 *                                      inversion; subband samples with 24 fractional bits,
 *                                      time-major (entry 32 * t + sb)
 *   zufsSynthPQMF_MP3_32s16s           32-band polyphase synthesis, 18 calls per granule, to PCM
 *
 * Frame finding, CRC checking and the main-data buffer are the caller's. Bit streams are read
 * most significant bit first through the caller's byte pointer and bit offset (0..7). The readers
 * fetch whole bytes ahead: every buffer handed to these functions must stay readable for three
 * bytes past the last byte of the coded data.
 *
 * Records hold every field in a signed 32-bit slot whatever its coded width; field names are
 * those of the standards' syntax. MPEG-1 is ID = 1, MPEG-2 lower sampling frequencies ID = 0.
 */
#ifndef ZUFACK9_ZUF_MP3_H
#define ZUFACK9_ZUF_MP3_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ records */

/* header(), ISO/IEC 11172-3 2.4.1.3. 52 bytes. */
typedef struct {
    Zuf32s ID;                 /* 1: MPEG-1, 0: MPEG-2 lower sampling frequencies */
    Zuf32s layer;              /* layer code: 1 = Layer III (3 = I, 2 = II) */
    Zuf32s protection_bit;     /* 0: a 16-bit CRC word follows the header */
    Zuf32s bitrate_index;      /* 0 (free format) .. 14; 15 is forbidden */
    Zuf32s sampling_frequency; /* 0..2; 3 is reserved */
    Zuf32s padding_bit;
    Zuf32s private_bit;
    Zuf32s mode;           /* 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel */
    Zuf32s mode_extension; /* joint stereo: bit 0 intensity stereo, bit 1 M/S stereo */
    Zuf32s copyright;
    Zuf32s original_copy;
    Zuf32s emphasis;
    Zuf32s crc_check; /* written only when protection_bit is 0 */
} Mp3FrameHeader;

/* One granule of one channel of side_info(), ISO/IEC 11172-3 2.4.1.7 and ISO/IEC 13818-3
 * 2.4.1.7. 72 bytes. Arrays of records are granule-major: granule 0 channel 0, granule 0
 * channel 1, granule 1 channel 0, ... (MPEG-2 frames have one granule). */
typedef struct {
    Zuf32s part2_3_length; /* bits of scale factors and Huffman data */
    Zuf32s big_values;     /* pairs in the big-values region, 0..288 */
    Zuf32s global_gain;
    Zuf32s scalefac_compress; /* 4 bits MPEG-1, 9 bits MPEG-2 */
    Zuf32s window_switching_flag;
    Zuf32s block_type;       /* 0 normal, 1 start, 2 short, 3 stop; 0 when not switching */
    Zuf32s mixed_block_flag; /* 0 when not switching */
    Zuf32s table_select[3];  /* [2] not read (left unchanged) when switching */
    Zuf32s subblock_gain[3]; /* read only when switching, left unchanged otherwise */
    Zuf32s region0_count;    /* derived when switching: 8 (short, not mixed) or 7 */
    Zuf32s region1_count;    /* derived when switching: 20 - region0_count */
    Zuf32s preflag;          /* MPEG-2: set by zufsUnpackScaleFactors_MP3_1u8s */
    Zuf32s scalefac_scale;
    Zuf32s count1table_select;
} Mp3SideInfo;

/* Scale factors of one granule and channel (signed bytes). Layout:
 *   MPEG-1 long blocks       [0..20] long bands 0..20, [21] = 0
 *   MPEG-1 short, not mixed  [3 * sfb + window], sfb 0..11; [36..38] = 0
 *   MPEG-1 mixed             [0..7] long bands 0..7, [8 + 3 * (sfb - 3) + window] for short sfb
 *                            3..11; [35..37] = 0
 *   MPEG-2                   values in stream order (long: 21 bands; short: 36 values, band-major;
 *                            mixed: 6 long bands then 27 short values), then three zeros.
 * In the MPEG-2 intensity-stereo right channel a value equal to its part's largest code
 * 2^slen - 1 is stored negated: an illegal intensity position. The requantiser takes the two
 * channels of a granule as 2 x 40 entries (channel 1 at entry 40). */
typedef Zuf8s Mp3ScaleFactors[40];

/* Encoder bit reservoir, in bits. */
typedef struct {
    Zuf32s bitsRemaining; /* bits currently held */
    Zuf32s maxBits;       /* capacity */
} Mp3BitReservoir;

/* Psychoacoustic model output for one granule and channel: signal-to-mask ratios (threshold /
 * energy, Q31, 2^31 - 1 for a band without energy) and the perceptual entropy. Long blocks use
 * ratio[0..20] (scale-factor bands); short blocks ratio[3 * sfb + window], sfb 0..11. */
typedef struct {
    Zuf32s ratio[36];
    Zuf32s pe;
} Mp3PsyOutput;

/* State of the psychoacoustic model, kept across frames; zero it before the first frame. Analysed
 * channels 0..3 are left, right, mid and side (mid and side in joint stereo only). blockType is the
 * block type decided for each channel's next granule (0 long, 2 short), which the quantiser reads
 * to plan the bit reservoir; the other members are the model's own. */
typedef struct {
    Zuf32s blockType[2];
    Zuf32s magHistory[4][2][6];   /* |X| of long FFT lines 0..5, previous granule [0] and the one before [1] */
    Zuf32s unitHistory[4][2][12]; /* their unit vectors (cos, sin) in Q30 */
    Zuf64s nbLong[4][2][64];      /* long partition thresholds nb(t-1) [0] and nb(t-2) [1] */
    Zuf64s nbShort[4][48];        /* window-2 short partition thresholds of the previous granule */
    Zuf32s delayedLong[4][21];    /* the previous granule's ratios, long bands (Q31) */
    Zuf32s delayedShort[4][36];   /* and short bands, [3 * sfb + window] */
    Zuf32s delayedPe[4];          /* and its perceptual entropy */
} Mp3PsyState;

/* ------------------------------------------------------------------ band tables */

/* Scale-factor band boundaries (line indexes), row = ID * 3 + sampling_frequency: rows 0..2 are
 * MPEG-2 at 22.05, 24 and 16 kHz (ISO/IEC 13818-3 Table B.2), rows 3..5 MPEG-1 at 44.1, 48 and
 * 32 kHz (ISO/IEC 11172-3 Table 3-B.8). Long: 23 boundaries per row, band 0 start .. band 21
 * end = 576. Short: 14 boundaries per row in lines of one window, last = 192. */
ZUF_API extern const Zuf16s _zuf_pMP3SfbTableLong[6 * 23];
ZUF_API extern const Zuf16s _zuf_pMP3SfbTableShort[6 * 14];

/* ------------------------------------------------------------------ header, side information */

/* Unpacks the header at *ppBitStream (the first sync byte) into pFrameHeader and advances
 * *ppBitStream by 4, or by 6 reading crc_check when protection_bit is 0. Bytes 1..3 are read;
 * nothing is validated (the sync word is the caller's business).
 * zufErrNullPtr: a null pointer, or *ppBitStream null. */
ZUF_API zufResult zufsUnpackFrameHeader_MP3(Zuf8u **ppBitStream, Mp3FrameHeader *pFrameHeader);

/* Unpacks side_info() at *ppBitStream (byte-aligned, right after the header or CRC) into
 * pDstSideInfo (2 x channels records for MPEG-1, channels records for MPEG-2; channels = 1 when
 * mode is 3, else 2), main_data_begin (9 bits MPEG-1, 8 bits MPEG-2), private_bits and the
 * MPEG-1 scfsi flags (4 per channel, channel-major, flag k for band group k). On success
 * *ppBitStream is advanced past the side information: 17 / 32 bytes (MPEG-1 one / two
 * channels), 9 / 17 bytes (MPEG-2).
 * zufErrNullPtr; zufErrMp3FrameHeader: ID not 0 or 1, layer not 1, mode outside 0..3;
 * zufErrMp3SideInfo: window_switching_flag 1 with block_type 0 (returned at once, the records
 * read so far stored, the stream part-way). */
ZUF_API zufResult zufsUnpackSideInfo_MP3(Zuf8u **ppBitStream, Mp3SideInfo *pDstSideInfo, int *pDstMainDataBegin,
                                         int *pDstPrivateBits, int *pDstScfsi, const Mp3FrameHeader *pFrameHeader);

/* Unpacks the scale factors (part 2) of granule gr and channel ch from the main data at
 * (*ppBitStream, *pOffset) into pDstScaleFactor (at least 39 entries, layout above) and advances
 * the position past them. pSideInfo is this granule and channel's record (MPEG-2: preflag is
 * written, and mixed_block_flag masked to its low bit when block_type is 2); pScfsi points at
 * this channel's four scfsi flags: in MPEG-1 granule 1 a band group whose flag is set is not
 * read and its entries are left as they are (pass the array holding granule 0's values).
 * zufErrNullPtr; zufErrBadArg: *pOffset outside 0..7, gr or ch outside 0..1;
 * zufErrMp3SideInfo: scalefac_compress outside 0..15 (MPEG-1) or 0..511 (MPEG-2);
 * zufErrMp3FrameHeader: MPEG-2 mode_extension outside 0..3. */
ZUF_API zufResult zufsUnpackScaleFactors_MP3_1u8s(Zuf8u **ppBitStream, int *pOffset, Zuf8s *pDstScaleFactor,
                                                  Mp3SideInfo *pSideInfo, int *pScfsi,
                                                  const Mp3FrameHeader *pFrameHeader, int gr, int ch);

/* Sets up the encoder's bit reservoir for an MPEG-1 stream: bitsRemaining = 0, maxBits =
 * min(7680 - min(8 * bytes per frame, 7680), 4088) with the frame size of the header's bit rate
 * and sampling frequency (free format: 4088). zufErrNullPtr; zufErrMp3FrameHeader: ID not 1. */
ZUF_API zufResult zufsBitReservoirInit_MP3(Mp3BitReservoir *pDstBitResv, const Mp3FrameHeader *pFrameHeader);

/* ------------------------------------------------------------------ Huffman decoding */

/* Decodes part 3 of one granule and channel (big_values pairs with tables 0..31, then count1
 * quadruples with table A or B) into pDstIs[0..575], sets *pDstNonZeroBound to one past the
 * highest non-zero line (0 if none), and leaves the position exactly hufSize bits after its
 * entry value. hufSize = part2_3_length minus the scale-factor bits just read. pSfbTableLong
 * is a 6 x 23 long band table as _zuf_pMP3SfbTableLong (region boundaries of long blocks).
 * The decoder may read up to three bytes beyond the last Huffman bit.
 * Statuses, in the order checked:
 *   zufErrNullPtr;
 *   zufErrBadArg: *pOffset outside 0..7, hufSize < 0 or > part2_3_length;
 *   zufErrMp3SideInfo: 2 * big_values outside 0..576; block_type outside 0..3,
 *     window_switching_flag or count1table_select not 0 or 1;
 *   zufErrMp3FrameHeader: ID not 0 or 1, layer not 1, sampling_frequency outside 0..2;
 *   zufErrMp3SideInfo: window switching with block_type 0; without switching region0_count or
 *     region1_count negative or their sum 21 or more; a used region's table_select outside 0..31;
 *   zufErrRange: the big-values pairs take more than hufSize bits. */
ZUF_API zufResult zufsHuffmanDecodeSfb_MP3_1u32s(Zuf8u **ppBitStream, int *pOffset, Zuf32s *pDstIs,
                                                 int *pDstNonZeroBound, const Mp3SideInfo *pSideInfo,
                                                 const Mp3FrameHeader *pFrameHeader, int hufSize,
                                                 const Zuf16s *pSfbTableLong);

/* As zufsHuffmanDecodeSfb_MP3_1u32s with _zuf_pMP3SfbTableLong. */
ZUF_API zufResult zufsHuffmanDecode_MP3_1u32s(Zuf8u **ppBitStream, int *pOffset, Zuf32s *pDstIs, int *pDstNonZeroBound,
                                              const Mp3SideInfo *pSideInfo, const Mp3FrameHeader *pFrameHeader,
                                              int hufSize);

/* As zufsHuffmanDecodeSfb_MP3_1u32s, with region 0 of window-switching granules taken from
 * the band tables: block_type 1 or 3 ends it at the long boundary 8; short, not mixed, at three
 * windows of short bands 0..2; mixed at the long boundary pMbp[0] plus pMbp[1] short band-windows
 * (pSfbTableShort: 6 x 14 as _zuf_pMP3SfbTableShort; pMbp: 6 rows x 2 signed 16-bit values,
 * same row order). Checks: zufErrNullPtr; zufErrBadArg (offset); zufErrMp3FrameHeader (ID);
 * zufErrMp3SideInfo (2 * big_values, block_type, window_switching_flag, window switching with
 * block_type 0); zufErrMp3FrameHeader (layer, sampling_frequency); zufErrMp3SideInfo
 * (count1table_select, hufSize outside 0..part2_3_length); then as above. */
ZUF_API zufResult zufsHuffmanDecodeSfbMbp_MP3_1u32s(Zuf8u **ppBitStream, int *pOffset, Zuf32s *pDstIs,
                                                    int *pDstNonZeroBound, const Mp3SideInfo *pSideInfo,
                                                    const Mp3FrameHeader *pFrameHeader, int hufSize,
                                                    const Zuf16s *pSfbTableLong, const Zuf16s *pSfbTableShort,
                                                    const Zuf16s *pMbp);

/* ------------------------------------------------------------------ requantisation and stereo */

/* Requantises one granule in place: pSrcDstIsXr holds channel 0 then channel 1 (576 lines each)
 * of Huffman output on entry and xr = sign(x) |x|^(4/3) 2^(gain/4) with 26 fractional bits on
 * exit (saturated to +-(2^31 - 1)), after M/S and intensity stereo (ISO/IEC 11172-3 2.4.3.4.9,
 * ISO/IEC 13818-3 2.4.3.2) and, for short blocks, reordering into the layout of the inverse MDCT
 * (entry 18 q + 6 w + j = window w, frequency 6 q + j; mixed blocks keep lines 0..35).
 * pNonZeroBound (2 entries, in/out) bounds the non-zero lines per channel; on exit it is one past
 * the last non-zero line. pScaleFactor: 2 x 40 entries (Mp3ScaleFactors of channel 0 then 1);
 * pSideInfo: the granule's records, channel 0 then 1; pBuffer: 576 work values.
 * pSfbTableLong / pSfbTableShort: 6 x 23 and 6 x 14 band tables.
 * Statuses: zufErrNullPtr; zufErrMp3FrameHeader: ID outside 0..1, sampling_frequency outside
 * 0..2, mode or mode_extension outside 0..3; zufErrMp3SideInfo: joint stereo (M/S or intensity
 * on) with different block_type or mixed_block_flag in the two channels, block_type outside 0..3,
 * mixed_block_flag outside 0..1, global_gain outside 0..255, scalefac_scale or preflag not 0 or
 * 1; zufErrBadArg: a non-zero bound outside 0..576; zufErrRange: 8 * subblock_gain outside 0..56,
 * a quantised magnitude above 8206, an MPEG-1 intensity position above 7. */
ZUF_API zufResult zufsReQuantizeSfb_MP3_32s_I(Zuf32s *pSrcDstIsXr, int *pNonZeroBound, const Zuf8s *pScaleFactor,
                                              const Mp3SideInfo *pSideInfo, const Mp3FrameHeader *pFrameHeader,
                                              Zuf32s *pBuffer, const Zuf16s *pSfbTableLong,
                                              const Zuf16s *pSfbTableShort);

/* As zufsReQuantizeSfb_MP3_32s_I with _zuf_pMP3SfbTableLong and _zuf_pMP3SfbTableShort. */
ZUF_API zufResult zufsReQuantize_MP3_32s_I(Zuf32s *pSrcDstIsXr, int *pNonZeroBound, const Zuf8s *pScaleFactor,
                                           const Mp3SideInfo *pSideInfo, const Mp3FrameHeader *pFrameHeader,
                                           Zuf32s *pBuffer);

/* ------------------------------------------------------------------ hybrid synthesis */

/* Inverse hybrid transform of one granule and channel (ISO/IEC 11172-3 2.4.3.4.10): alias
 * reduction (done in place on pSrcXr), 36-point inverse MDCT (three 12-point ones for short
 * blocks) with the window of block_type, overlap-add with pSrcDstOverlap and frequency
 * inversion. pSrcXr: 576 lines with 26 fractional bits (short blocks in the reordered layout);
 * pDstY: 576 subband samples with 24 fractional bits (one quarter of the standard's windowed
 * inverse MDCT of xr), time-major, entry 32 * t + sb; pSrcDstOverlap: 576 values, the second
 * halves of the previous granule's transforms (subband-major), zero at stream start;
 * nonZeroBound: lines beyond it are zero; pPrevNumOfImdct: subbands transformed by the previous
 * call (0..32, zero at stream start), updated. Mixed blocks transform subbands 0 and 1 with the
 * normal long window.
 * Statuses: zufErrNullPtr; zufErrBadArg: nonZeroBound outside 0..576, blockType outside 0..3,
 * mixedBlock outside 0..1, *pPrevNumOfImdct outside 0..32. */
ZUF_API zufResult zufsMDCTInv_MP3_32s(Zuf32s *pSrcXr, Zuf32s *pDstY, Zuf32s *pSrcDstOverlap, int nonZeroBound,
                                      int *pPrevNumOfImdct, int blockType, int mixedBlock);

/* One subband's windowed inverse MDCT: 18 lines in, 36 outputs (the scale of
 * zufsMDCTInv_MP3_32s, no overlap). blockType 2 runs three 12-point transforms whose windowed
 * outputs overlap at 6..29 (0..5 and 30..35 are zero); any other value the 36-point transform
 * with the window of that type (0 normal, 1 start, 3 stop). No checks; returns zufOk. */
ZUF_API zufResult zufsMDCTInvWindow_MP3_32s(Zuf32s *pSrc, Zuf32s *pDst, int blockType);

/* Polyphase synthesis of one time slot (ISO/IEC 11172-3 2.4.3.2 and Annex A, Figure A.2):
 * 32 subband samples with 24 fractional bits (1.0 = 16-bit full scale) to 32 PCM samples,
 * written to pDst[0], pDst[step], ... (step 2 for interleaved stereo). pSrcDstHistory (512
 * values) and *pHistoryPos (0..15) are the channel's synthesis history, zero at stream start.
 * Statuses: zufErrNullPtr; zufErrBadArg: step outside 1..2, *pHistoryPos outside 0..15. */
ZUF_API zufResult zufsSynthPQMF_MP3_32s16s(const Zuf32s *pSrcY, Zuf16s *pDst, Zuf32s *pSrcDstHistory, int *pHistoryPos,
                                           int step);

/* ---- Encoding: analysis filter bank, forward MDCT, joint stereo ---------------------------- */

/* Polyphase analysis of 32 new samples (ISO/IEC 11172-3 Annex C.1.3): reads the 512 samples
 * pSrc[0], pSrc[step], ..., pSrc[511 * step], oldest first (the caller keeps the 480 older
 * samples in front of each new block of 32), and writes 32 subband samples with 24 fractional
 * bits (1.0 = 16-bit full scale, the scale of zufsSynthPQMF_MP3_32s16s). The window C 2^30 and
 * the rounding (sum + 2^19) >> 20 are integer; step 2 reads one channel of interleaved stereo.
 * Statuses: zufErrNullPtr; zufErrBadArg: step not 1 or 2. */
ZUF_API zufResult zufsAnalysisPQMF_MP3_16s32s(const Zuf16s *pSrc, Zuf32s *pDst, int step);

/* Forward hybrid transform of one granule and channel (ISO/IEC 11172-3 Annex C.1.5.3.3), the
 * inverse of zufsMDCTInv_MP3_32s: pSrc holds 576 subband samples (24 fractional bits,
 * time-major, entry 32 * t + sb), pSrcDstHistory the previous granule's (zero at stream start;
 * replaced by pSrc). Frequency inversion, the 36-point MDCT with the window of blockType (0
 * normal, 1 start, 3 stop) or three 12-point ones (2; with mixedBlock, subbands 0 and 1 take the
 * normal window), then alias-reduction butterflies (all boundaries for long blocks, the first
 * for mixed ones). pDst: 576 lines with 26 fractional bits; short blocks in the bit stream's
 * order (per short band of pFrameHeader's ID and sampling_frequency, windows 0, 1, 2 in turn).
 * Statuses: zufErrNullPtr; the block fields are not range-checked. */
ZUF_API zufResult zufsMDCTFwd_MP3_32s(const Zuf32s *pSrc, Zuf32s *pDst, int blockType, int mixedBlock,
                                      const Mp3FrameHeader *pFrameHeader, Zuf32s *pSrcDstHistory);

/* Joint stereo of one granule in place, when mode is 1: M/S (mode_extension bit 1) on the lines
 * below the bound band, M = (L + R) / sqrt(2), S = (L - R) / sqrt(2); intensity (bit 0) from the
 * bound band on: the left channel takes +-(|l| + |r|), the right channel 0, and the band's
 * intensity position (0..6, from the energy ratio) goes to pDstScaleFactorR (long: entry sfb;
 * short: 3 * sfb + window). pIsSfbBound (3 entries): long blocks the first, short blocks one per
 * window; without intensity stereo set to 22 (long) or 13, 13, 13 (short). pSideInfo: the
 * granule's records, channel 0 then 1 (block_type decides long or short). Other modes leave the
 * spectra as they are. Statuses: zufErrNullPtr; zufErrMp3SideInfo: M/S or intensity on with
 * different block_type in the two channels. */
ZUF_API zufResult zufsJointStereoEncode_MP3_32s_I(Zuf32s *pSrcDstXrL, Zuf32s *pSrcDstXrR, Zuf8u *pDstScaleFactorR,
                                                  const Mp3FrameHeader *pFrameHeader, const Mp3SideInfo *pSideInfo,
                                                  int *pIsSfbBound);

/* ---- Encoding: psychoacoustic model two ---------------------------------------------------- */

/* Bytes of the work buffer zufsPsychoacousticModelTwo_MP3_16s needs (any alignment). */
#define ZUF_MP3_PSY_WORK_BYTES 65536

/* Psychoacoustic model two (ISO/IEC 11172-3 Annex D) for one frame of MPEG-1 Layer III at 44.1,
 * 48 or 32 kHz (sampling_frequency 0..2), in fixed point. Per granule (two; one when ID is not 1)
 * and analysed channel (left and right; one when mode is 3; also mid and side when mode is 1) it
 * takes a 1024-point and three 256-point Hann-windowed FFTs, the unpredictability of each line,
 * spread partition energies, a tonality-dependent threshold limited by the threshold in quiet and
 * by the two previous granules (pre-echo control), the perceptual entropy, and the ratios threshold
 * / energy per scale-factor band.
 *
 * Decisions are one granule late: a call analyses its granules, but the ratios, perceptual entropy
 * and block types it writes belong to each channel's previous granule (so a start block can
 * precede a short one); the first frame after a zeroed state reports a silent long granule.
 *   pSrc        16-bit PCM, interleaved when two channels; granule g reads the 1024 samples per
 *               channel from sample 576 g on (576 granules + 448 samples per channel in all)
 *   pDstOut     Mp3PsyOutput per granule and channel (granule-major): ratios of long bands
 *               (ratio[0..20]) or, for block_type 2, of short bands; pe the perceptual entropy
 *   pDstIsSfbBound  3 values per granule: with intensity stereo the bound band (long blocks: all
 *               three entries; short: one per window, equal), else 22 (long) or 13 (short)
 *   pSideInfo   per granule and channel: block_type (0 long, 1 start, 2 short, 3 stop),
 *               window_switching_flag (block_type != 0) and mixed_block_flag (0) written
 *   pFrameHeader  ID, mode, bitrate_index and sampling_frequency read; in joint stereo
 *               mode_extension written: bit 1 (M/S) when the two channels have the same block
 *               type in every granule and the left/right perceptual entropy of the call is at
 *               least the mid/side one, bit 0 (intensity) with the same block types at
 *               bitrate_index 6..8; other modes leave it as it is
 *   pState      Mp3PsyState, zeroed before the first frame
 *   pReserved   not read
 *   pWork       ZUF_MP3_PSY_WORK_BYTES of scratch
 * The ratios written in joint stereo are those of the pair (left/right or mid/side) chosen.
 * Statuses: zufErrNullPtr (a pointer other than pReserved null); sampling_frequency outside 0..2
 * is read as 0. */
ZUF_API zufResult zufsPsychoacousticModelTwo_MP3_16s(const Zuf16s *pSrc, Mp3PsyOutput *pDstOut, Zuf32s *pDstIsSfbBound,
                                                     Mp3SideInfo *pSideInfo, Mp3FrameHeader *pFrameHeader,
                                                     Mp3PsyState *pState, void *pReserved, Zuf8u *pWork);

/* ---- Encoding: quantisation ---------------------------------------------------------------- */

/* Quantisation and rate control of one frame (ISO/IEC 11172-3 Annex C.1.5.4), every granule and
 * channel in turn (granule-major arrays throughout, channels = 1 when mode is 3, else 2):
 *   pSrcDstXr      576 MDCT lines per granule and channel (26 fractional bits) in, the signed
 *                  quantised values (magnitudes at most 8191) out;
 *   pDstScaleFactor 40 entries per granule and channel (Mp3ScaleFactors layout);
 *   pScfsi         the caller's scfsi flags (4 per channel), read only: in granule 1 a long-block
 *                  band group whose flag is set takes granule 0's scale factors;
 *   pDstCount1Len  lines of the count1 region per granule and channel (the count1 length of
 *                  zufsHuffmanEncode_MP3_32s1u);
 *   pDstStuffing   stuffing bits added to each granule and channel's part2_3_length;
 *   pSideInfo      block_type, window_switching_flag, mixed_block_flag and subblock_gain are
 *                  read; part2_3_length, global_gain, scalefac_compress (MPEG-1), scalefac_scale,
 *                  preflag (0), big_values, table_select, region0_count, region1_count and
 *                  count1table_select are written;
 *   pPsyOutput     the model's ratios and perceptual entropy per granule and channel;
 *   pPsyState      blockType[] of the next granule, for the reservoir plan;
 *   pBitResv       bitsRemaining and maxBits, updated after the frame (bitsRemaining a multiple
 *                  of 8, at most maxBits: the rest becomes stuffing);
 *   frameBits      the bits of this frame's main data;
 *   pIsSfbBound    3 intensity-stereo bounds per granule (long: the first; short: per window),
 *                  which limit the right channel's coded bands when intensity stereo is on;
 *   pBuffer        work space of 2 x 576 values.
 * part2_3_length is the scale-factor bits plus the Huffman bits of the chosen side information
 * (plus stuffing). Statuses: zufErrNullPtr; zufErrMp3FrameHeader: sampling_frequency outside
 * 0..2, ID outside 0..1; zufErrMp3SideInfo: a mixed block (not encoded), returned when that
 * granule is reached. */
ZUF_API zufResult zufsQuantize_MP3_32s_I(Zuf32s *pSrcDstXr, Zuf8s *pDstScaleFactor, const int *pScfsi,
                                         int *pDstCount1Len, int *pDstStuffing, const Mp3FrameHeader *pFrameHeader,
                                         Mp3SideInfo *pSideInfo, const Mp3PsyOutput *pPsyOutput,
                                         const Mp3PsyState *pPsyState, Mp3BitReservoir *pBitResv, int frameBits,
                                         const int *pIsSfbBound, Zuf32s *pBuffer);

/* Vector power functions of the encoders. Statuses: zufErrNullPtr; zufErrSize: len < 1 (unless
 * stated). */

/* pDst[i] = |pSrc[i]|^(3/4), as sqrt(|x|) sqrt(sqrt(|x|)) in single precision (within 1.5
 * units in the last place). zufWarnMisaligned when pSrc or pDst is not 16-byte aligned (the result is
 * the same). */
ZUF_API zufResult zufsPow34_32f(const Zuf32f *pSrc, Zuf32f *pDst, int len);

/* As zufsPow34_32f, rounded to the nearest integer (ties to even) and saturated to 32767. */
ZUF_API zufResult zufsPow34_32f16s(const Zuf32f *pSrc, Zuf16s *pDst, int len);

/* pDst[i] = (|pSrc[i]| 2^-inScaleFactor)^(3/4) 2^-outScaleFactor, rounded half up, saturated to
 * 32767 (0 for 0). The length is checked before the pointers. */
ZUF_API zufResult zufsPow34_16s_Sfs(const Zuf16s *pSrc, int inScaleFactor, Zuf16s *pDst, int outScaleFactor, int len);

/* pDst[i] = sign(pSrc[i]) |pSrc[i]|^(4/3) (single precision, correctly rounded) for magnitudes
 * up to 8206 (larger ones are taken as 8206). zufErrSize: len < 0; len 0 does nothing. */
ZUF_API zufResult zufsPow43_16s32f(const Zuf16s *pSrc, Zuf32f *pDst, int len);

/* pSrcDst[i] = pSrcDst[i] (val 2^scaleFactor), the gain formed once in single precision. */
ZUF_API zufResult zufsScale_32f_I(Zuf32f *pSrcDst, Zuf32f val, int scaleFactor, int len);

/* ---- Encoding: Huffman encoding and bit-stream packing ------------------------------------- */

/* Writes the header at *ppBitStream (a byte boundary): the 12-bit syncword 0xFFF, then ID,
 * layer, protection_bit, ..., emphasis, each field cut to its width, and crc_check (16 bits,
 * high byte first) when protection_bit is 0. Advances *ppBitStream by 4, or 6 with the CRC.
 * zufErrNullPtr: a null pointer, or *ppBitStream null. */
ZUF_API zufResult zufsPackFrameHeader_MP3(const Mp3FrameHeader *pSrcFrameHeader, Zuf8u **ppBitStream);

/* Writes side_info() at *ppBitStream (a byte boundary) from pSrcSideInfo (granule-major, as
 * zufsUnpackSideInfo_MP3 fills it), main_data_begin, private_bits and, for MPEG-1, the scfsi
 * flags (4 per channel); fields are cut to their widths. On success *ppBitStream is advanced by
 * 17 / 32 bytes (MPEG-1 one / two channels) or 9 / 17 (MPEG-2).
 * zufErrNullPtr; zufErrMp3FrameHeader: ID not 0 or 1, layer not 1, mode outside 0..3;
 * zufErrMp3SideInfo: window_switching_flag with block_type 0 (writing stops before block_type,
 * *ppBitStream after the last whole byte written). */
ZUF_API zufResult zufsPackSideInfo_MP3(const Mp3SideInfo *pSrcSideInfo, Zuf8u **ppBitStream, int mainDataBegin,
                                       int privateBits, const int *pSrcScfsi, const Mp3FrameHeader *pFrameHeader);

/* Writes the scale factors (part 2) of granule gr and channel ch, in the layout that
 * zufsUnpackScaleFactors_MP3_1u8s reads, at (*ppBitStream, *pOffset) and advances the position.
 * MPEG-1 granule 1 long blocks leave out the band groups whose pScfsi flag is set. MPEG-2 writes
 * preflag (1 for scalefac_compress 500..511) into pSideInfo; an illegal intensity position
 * stored negated in the right channel is written as its code.
 * zufErrNullPtr; zufErrBadArg: *pOffset outside 0..7; zufErrMp3SideInfo: scalefac_compress
 * outside 0..15 (MPEG-1) or 0..511 (MPEG-2); zufErrMp3FrameHeader: MPEG-2 mode_extension outside
 * 0..3. */
ZUF_API zufResult zufsPackScaleFactors_MP3_8s1u(const Zuf8s *pSrcScaleFactor, Zuf8u **ppBitStream, int *pOffset,
                                                const Mp3FrameHeader *pFrameHeader, Mp3SideInfo *pSideInfo,
                                                const int *pScfsi, int gr, int ch);

/* Writes part 3 of an MPEG-1 granule from the 576 quantised lines pSrcIx: big_values pairs by
 * region with the side information's table_select (region boundaries as the decoder's), then
 * count1Len lines (a multiple of 4) of count1 quadruples from line 2 * big_values with
 * count1table_select, then 1-bits until hufSize bits are written (none when the data is longer).
 * Advances (*ppBitStream, *pOffset); a partly written last byte has its low bits cleared.
 * Statuses, in the order checked: zufErrNullPtr; zufErrBadArg: *pOffset outside 0..7;
 * zufErrMp3SideInfo: 2 * big_values outside 0..576, region0_count + region1_count outside 0..20,
 * count1table_select not 0 or 1; zufErrMp3FrameHeader: ID or layer not 1, sampling_frequency
 * outside 0..2; zufErrMp3SideInfo: the table_select of a non-empty region outside 0..31 (the
 * regions before it written). */
ZUF_API zufResult zufsHuffmanEncode_MP3_32s1u(const Zuf32s *pSrcIx, Zuf8u **ppBitStream, int *pOffset,
                                              const Mp3FrameHeader *pFrameHeader, const Mp3SideInfo *pSideInfo,
                                              int count1Len, int hufSize);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_MP3_H */
