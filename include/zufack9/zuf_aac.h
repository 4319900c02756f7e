/*
 * libzufack9 AAC: bit-stream syntax of MPEG-2/MPEG-4 AAC (ISO/IEC 13818-7, ISO/IEC 14496-3).
 *
 * Bit streams are read most significant bit first through the caller's byte pointer
 * (ppBitStream) and, where the syntax element may start inside a byte, a bit offset 0..7
 * (pOffset). Readers fetch four bytes at a time: the caller's buffer must stay readable for
 * three bytes past the end of the coded data.
 *
 * Records store every field in a signed 32-bit slot whatever its coded width (byte arrays
 * excepted); field names are those of the standard's syntax.
 */
#ifndef ZUFACK9_ZUF_AAC_H
#define ZUFACK9_ZUF_AAC_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ stream headers */

/* adts_fixed_header() and adts_variable_header(), ISO/IEC 13818-7 6.2. */
typedef struct {
    Zuf32s id; /* 0: MPEG-4, 1: MPEG-2 */
    Zuf32s layer;
    Zuf32s protection_absent;
    Zuf32s profile; /* profile_ObjectType: 0 Main, 1 LC, 2 SSR, 3 LTP */
    Zuf32s sampling_frequency_index;
    Zuf32s private_bit;
    Zuf32s channel_configuration;
    Zuf32s original_copy;
    Zuf32s home;
    Zuf32s reserved; /* never written by the unpacker */
    Zuf32s copyright_identification_bit;
    Zuf32s copyright_identification_start;
    Zuf32s aac_frame_length; /* whole frame in bytes, header included */
    Zuf32s adts_buffer_fullness;
    Zuf32s num_raw_data_blocks; /* number_of_raw_data_blocks_in_frame + 1: 1..4 */
    Zuf32s crc_check;           /* written only when protection_absent is 0 */
} AacAdtsFrameHeader;

/* program_config_element(), ISO/IEC 13818-7 8.5. Arrays are as long as their count field can
 * code; entries beyond the count are left unchanged. */
typedef struct {
    Zuf32s element_instance_tag;
    Zuf32s object_type;
    Zuf32s sampling_frequency_index;
    Zuf32s num_front_channel_elements;
    Zuf32s num_side_channel_elements;
    Zuf32s num_back_channel_elements;
    Zuf32s num_lfe_channel_elements;
    Zuf32s num_assoc_data_elements;
    Zuf32s num_valid_cc_elements;
    Zuf32s mono_mixdown_present;
    Zuf32s mono_mixdown_element_number; /* 0 when not present */
    Zuf32s stereo_mixdown_present;
    Zuf32s stereo_mixdown_element_number; /* 0 when not present */
    Zuf32s matrix_mixdown_idx_present;
    Zuf32s matrix_mixdown_idx;     /* 0 when not present */
    Zuf32s pseudo_surround_enable; /* 0 when the matrix mixdown index is not present */
    Zuf32s front_element_is_cpe[16];
    Zuf32s front_element_tag_select[16];
    Zuf32s side_element_is_cpe[16];
    Zuf32s side_element_tag_select[16];
    Zuf32s back_element_is_cpe[16];
    Zuf32s back_element_tag_select[16];
    Zuf32s lfe_element_tag_select[4];
    Zuf32s assoc_data_element_tag_select[8];
    Zuf32s cc_element_is_ind_sw[16];
    Zuf32s valid_cc_element_tag_select[16];
    Zuf32s comment_field_bytes;
    Zuf8u comment_field_data[256];
} AacPrgCfgElt;

/* adif_header(), ISO/IEC 13818-7 6.1. In the stream copyright_id follows copyright_id_present;
 * in the record it is the last field. */
typedef struct {
    Zuf32u adif_id; /* 'ADIF' = 0x41444946 in a well-formed stream */
    Zuf32s copyright_id_present;
    Zuf32s original_copy;
    Zuf32s home;
    Zuf32s bitstream_type; /* 0 constant rate, 1 variable rate */
    Zuf32s bitrate;
    Zuf32s num_program_config_elements; /* the actual count 1..16 (coded value + 1) */
    Zuf32s adif_buffer_fullness[16];    /* written only when bitstream_type is 0 */
    Zuf8u copyright_id[9];              /* written only when copyright_id_present is 1 */
} AacAdifHeader;

/* Unpacks one ADTS header starting on the byte *ppBitStream; leaves *ppBitStream on the first
 * byte after it (7 bytes on, or 9 with crc_check). Nothing read is validated. */
ZUF_API zufResult zufsUnpackADTSFrameHeader_AAC(Zuf8u **ppBitStream, AacAdtsFrameHeader *pFrameHeader);

/* Unpacks an ADIF header and its program configuration elements into pPrgCfgElt[0..count-1].
 * prgCfgEltMax (1..16) is how many records pPrgCfgElt holds; a stream with more elements gives
 * zufErrAacPrgNum with the position just after the count field. */
ZUF_API zufResult zufsUnpackADIFHeader_AAC(Zuf8u **ppBitStream, AacAdifHeader *pAdifHeader, AacPrgCfgElt *pPrgCfgElt,
                                           int prgCfgEltMax);

/* Decodes one program configuration element of a raw data block, starting after its 3-bit
 * element id at any bit offset. */
ZUF_API zufResult zufsDecodePrgCfgElt_AAC(Zuf8u **ppBitStream, int *pOffset, AacPrgCfgElt *pPrgCfgElt);

/* ------------------------------------------------------------------ channel side information,
 * noiseless decoding and syntax elements */

/* window_sequence values (ISO/IEC 13818-7 8.3.1) */
#define ZUF_AAC_ONLY_LONG_SEQUENCE 0
#define ZUF_AAC_LONG_START_SEQUENCE 1
#define ZUF_AAC_EIGHT_SHORT_SEQUENCE 2
#define ZUF_AAC_LONG_STOP_SEQUENCE 3

/* ics_info(), ISO/IEC 13818-7 8.3.1 and ISO/IEC 14496-3 4.4.2.1. */
typedef struct {
    Zuf32s ics_reserved_bit;
    Zuf32s window_sequence; /* 0..3, see ZUF_AAC_*_SEQUENCE */
    Zuf32s window_shape;    /* 0 sine, 1 Kaiser-Bessel derived */
    Zuf32s max_sfb;
    Zuf32s scale_factor_grouping; /* 7 bits, EIGHT_SHORT_SEQUENCE only */
    Zuf32s predictor_data_present;
    Zuf32s predictor_reset;
    Zuf32s predictor_reset_group_number; /* written only when predictor_reset is 1 */
    Zuf8u prediction_used[41];           /* one flag per scale-factor band */
    Zuf32s num_window_groups;            /* 1 for long windows, 1..8 for short ones */
    Zuf32s window_group_length[8];       /* windows per group; entries beyond the groups kept */
} AacIcsInfo;

/* One channel of a raw data block: what the noiseless drivers decode besides the scale
 * factors, codebooks, spectrum and TNS coefficients, which go to caller arrays. */
typedef struct {
    Zuf32s reserved1;                /* neither read nor written by the library */
    Zuf32s reserved2;                /* neither read nor written by the library */
    Zuf32s sampling_frequency_index; /* in: 0..11 */
    Zuf32s pred_sfb_max;             /* in: bands with prediction_used flags (0 for LC) */
    Zuf32s reserved3;                /* neither read nor written by the library */
    Zuf32s win_len;                  /* out: 1024, or 128 for EIGHT_SHORT_SEQUENCE */
    Zuf32s num_windows;              /* out: 1 or 8 */
    Zuf32s num_swb;                  /* out: scale-factor bands of that window length */
    Zuf32s global_gain;
    Zuf32s pulse_data_present;
    Zuf32s tns_data_present;
    Zuf32s gain_control_data_present;
    AacIcsInfo *pIcsInfo; /* in: this channel's ics_info (shared in a pair with
                                            common_window) */
    void *pReserved;      /* neither read nor written by the library */
    Zuf8u sect_cb[120];   /* sections of all groups one after another */
    Zuf8u sect_end[120];  /* end band (exclusive) within the section's group */
    Zuf32s num_sec[8];    /* sections per window group */
    Zuf32s n_filt[8];     /* TNS filters per window */
    Zuf32s coef_res[8];   /* TNS coefficient resolution per window: 3 or 4 bits */
    Zuf32s length[8];     /* TNS filter lengths, all filters in order */
    Zuf32s order[8];      /* TNS filter orders, same order */
    Zuf32s direction[8];  /* one per filter of non-zero order */
} AacChanInfo;

/* ltp_data(), ISO/IEC 14496-3 4.4.2.1, of one channel. */
typedef struct {
    Zuf32s ltp_data_present;
    Zuf32s ltp_lag;          /* 11 bits */
    Zuf16s ltp_coef;         /* Q14 gain: 9352 .. 22438 */
    Zuf32s ltp_long_present; /* ltp_data_present, for long windows */
    Zuf32s ltp_long_used[40];
    Zuf32s reserved[20]; /* never written by the parser */
    Zuf32s ltp_short_used[8];
    Zuf32s ltp_short_lag_present[8];
    Zuf32s ltp_short_lag[8]; /* the effective lag of each used window */
} AacLtpInfo;

/* tns_data() of one channel together with its presence flag. */
typedef struct {
    Zuf32s tns_data_present;
    Zuf32s n_filt[8];
    Zuf32s coef_res[8];
    Zuf32s length[8];
    Zuf32s order[8];
    Zuf32s direction[16];
    Zuf8s coef[60];
} AacTnsInfo;

/* The MPEG-4 layer record: aac_scalable_main_header() (ISO/IEC 14496-3 4.4.2.3) and the
 * ltp_data of the channels of a raw data block. */
typedef struct {
    Zuf32s window_sequence;
    Zuf32s window_shape;
    Zuf32s max_sfb;
    Zuf32s scale_factor_grouping;
    Zuf32s num_window_groups;
    Zuf32s window_group_length[8];
    Zuf32s ms_mask_present;
    Zuf8u *ms_used;    /* in: caller array of 8 x 60 flags, group x 60 + band */
    AacTnsInfo tns[2]; /* one per channel */
    AacLtpInfo ltp[2]; /* one per channel */
} AacMainHeader;

/* channel_pair_element() side information, ISO/IEC 13818-7 8.2.2. */
typedef struct {
    Zuf32s common_window;
    Zuf32s ms_mask_present;
    Zuf8u ms_used[8 * 60]; /* window group x 60 + band */
} AacChanPairElt;

/* aac_scalable_extension_header(), ISO/IEC 14496-3 4.4.2.3. */
typedef struct {
    Zuf32s ms_mask_present;
    Zuf32s max_sfb;
    Zuf8u *ms_used;                /* in: caller array of 8 x 60 flags, group x 60 + band */
    AacTnsInfo tns[2];             /* one per channel */
    Zuf32s diff_control_lr[2][51]; /* one array per channel */
} AacExtensionHeader;

/* Decodes one individual_channel_stream() of an MPEG-2 low-complexity stream (no prediction),
 * starting at global_gain; with commonWin 1 its ics_info is already in *pChanInfo->pIcsInfo.
 * Outputs: pScaleFactor (max_sfb per window group, at most 120), pSfbCb (the same), pQuantSpectrum
 * (1024 values, grouped and interleaved as in the stream), pTnsFiltCoef (at most 60), and the
 * fields of *pChanInfo. Refuses noise substitution (codebook 13) with zufErrAacCodebook. */
ZUF_API zufResult zufsNoiselessDecoder_LC_AAC(Zuf8u **ppBitStream, int *pOffset, int commonWin, AacChanInfo *pChanInfo,
                                              Zuf16s *pScaleFactor, Zuf32s *pQuantSpectrum, Zuf8u *pSfbCb,
                                              Zuf8s *pTnsFiltCoef);

/* As zufsNoiselessDecoder_LC_AAC for MPEG-4 streams: prediction (audioObjectType 1) or long-term
 * prediction into pMainHeader->ltp[0], noise substitution (noise energies in pScaleFactor), and
 * scalable-layer channels (scalableFlag 1: grouping from winSequence, maxSfb and pMainHeader;
 * no pulse, TNS or gain-control data). */
ZUF_API zufResult zufsNoiselessDecode_AAC(Zuf8u **ppBitStream, int *pOffset, AacMainHeader *pMainHeader,
                                          Zuf16s *pScaleFactor, Zuf32s *pQuantSpectrum, Zuf8u *pSfbCb,
                                          Zuf8s *pTnsFiltCoef, AacChanInfo *pChanInfo, int winSequence, int maxSfb,
                                          int commonWin, int scalableFlag, int audioObjectType);

/* channel_pair_element() after its element id and tag: common_window and, when set, the shared
 * ics_info (predSfbMax 0..41) and the M/S mask. */
ZUF_API zufResult zufsDecodeChanPairElt_AAC(Zuf8u **ppBitStream, int *pOffset, AacIcsInfo *pIcsInfo,
                                            AacChanPairElt *pChanPairElt, int predSfbMax);

/* The same for MPEG-4 streams: with long-term prediction both channels' ltp_data go to
 * pMainHeader->ltp[0] and ltp[1]. predSfbMax 0..51. */
ZUF_API zufResult zufsDecodeChanPairElt_MP4_AAC(Zuf8u **ppBitStream, int *pOffset, AacIcsInfo *pIcsInfo,
                                                AacChanPairElt *pChanPairElt, AacMainHeader *pMainHeader,
                                                int predSfbMax, int audioObjectType);

/* data_stream_element() after its element id; pDataElt receives up to 510 bytes. */
ZUF_API zufResult zufsDecodeDatStrElt_AAC(Zuf8u **ppBitStream, int *pOffset, int *pDataTag, int *pDataCnt,
                                          Zuf8u *pDataElt);

/* fill_element() after its element id; pFillElt receives up to 269 bytes, not interpreted. */
ZUF_API zufResult zufsDecodeFillElt_AAC(Zuf8u **ppBitStream, int *pOffset, int *pFillCnt, Zuf8u *pFillElt);

/* aac_scalable_main_header() for 1 or 2 channels. layerFlag 1 decodes everything and returns
 * zufErrNotSupported. */
ZUF_API zufResult zufsDecodeMainHeader_AAC(Zuf8u **ppBitStream, int *pOffset, AacMainHeader *pMainHeader, int channels,
                                           int layerFlag);

/* aac_scalable_extension_header(). */
ZUF_API zufResult zufsDecodeExtensionHeader_AAC(Zuf8u **ppBitStream, int *pOffset, AacExtensionHeader *pExtHeader,
                                                int tnsFlag, int stereoFlag, int diffCtrlFlag, int sfbStart,
                                                int sfbLimit, int winSequence);

/* ------------------------------------------------------------------ spectral tools and
 * fixed-point filter bank */

/* Spectra are 32-bit fixed point: zufsQuantInv_AAC_32s_I produces Q3 (8 times the real value),
 * which the stereo, noise, TNS and filter-bank functions keep. Until zufsDeinterleaveSpectrum_
 * AAC_32s, a short-window frame is in the grouped, interleaved order of the standard (group
 * after group, each groupLen * 128 values, inside a group band after band, each band holding
 * its coefficients of every window of the group one window after the other); TNS and the
 * filter bank read eight consecutive windows of 128. Scale factors, codebooks and noise
 * energies hold maxSfb entries per group; ms_used flags are rows of 60 per group. */

/* Inverse quantisation sign(x) |x|^(4/3) 2^((sf - 100) / 4) in place, result Q3; bands coded
 * with codebook 0, 13, 14 or 15 are left as they are. winLen is 1024 or 128. */
ZUF_API zufResult zufsQuantInv_AAC_32s_I(Zuf32s *pSrcDst, const Zuf16s *pScaleFactor, int numWinGrp,
                                         const int *pWinGrpLen, int maxSfb, const Zuf8u *pSfbCb, int samplingRateIndex,
                                         int winLen);

/* The same power law on 16-bit values, result Q0 divided by 2^scaleFactor: band b covers
 * [pBandOffset[b] * groupLen, pBandOffset[b+1] * groupLen) with exponent
 * pScaleFactor[b] - offset - 4 * scaleFactor. */
ZUF_API zufResult zufsPow43Scale_16s32s_Sf(const Zuf16s *pSrc, Zuf32s *pDst, const Zuf16s *pScaleFactor,
                                           const Zuf32s *pBandOffset, int offset, int bandsNumber, int groupLen,
                                           int scaleFactor);

/* Mid/side: L' = L + R, R' = L - R in bands with ms_used set (msMaskPresent 1) or in every band
 * (msMaskPresent 2), except noise and intensity bands; an intensity band of the right channel
 * (pSfbCb) with ms_used set has its codebook 14/15 swapped, inverting its sign. */
ZUF_API zufResult zufsDecodeMsStereo_AAC_32s_I(Zuf32s *pSrcDstL, Zuf32s *pSrcDstR, int msMaskPresent,
                                               const Zuf8u *pMsUsed, Zuf8u *pSfbCb, int numWinGrp,
                                               const int *pWinGrpLen, int maxSfb, int samplingRateIndex, int winLen);

/* Intensity stereo: right-channel bands coded with codebook 15 (14) become +(-) L *
 * 2^(-is_position / 4); pScaleFactor holds the right channel's is_position values. */
ZUF_API zufResult zufsDecodeIsStereo_AAC_32s(const Zuf32s *pSrcL, Zuf32s *pDstR, const Zuf16s *pScaleFactor,
                                             const Zuf8u *pSfbCb, int numWinGrp, const int *pWinGrpLen, int maxSfb,
                                             int samplingRateIndex, int winLen);

/* Grouped, interleaved short-window spectrum to eight windows of 128 values (winLen 128 only);
 * the bins from swb_offset[maxSfb] to 127 of every window are set to 0. */
ZUF_API zufResult zufsDeinterleaveSpectrum_AAC_32s(const Zuf32s *pSrc, Zuf32s *pDst, int numWinGrp,
                                                   const int *pWinGrpLen, int maxSfb, int samplingRateIndex,
                                                   int winLen);

/* Perceptual noise substitution: every band coded with codebook 13 is filled with noise from
 * the caller's seed (advanced once per value) scaled to 2^(n/4) per window, n the band's noise
 * energy (pScaleFactor, 0..83). Short windows use the grouped, interleaved layout: per group,
 * band after band, each window of the group in turn. With one window group pLtpFlag[sfb + 1]
 * is cleared for every noise band. */
ZUF_API zufResult zufsDecodePNS_AAC_32s(Zuf32s *pSrcDst, int *pLtpFlag, const Zuf8u *pSfbCb, const Zuf16s *pScaleFactor,
                                        int maxSfb, int numWinGrp, const int *pWinGrpLen, int samplingRateIndex,
                                        int winLen, Zuf32u *pSeed);

/* Noise substitution for one channel of a pair: channel 0 saves the seed of each noise band in
 * pNoiseState[g * maxSfb + sfb] before generating; channel 1 regenerates bands with ms_used set
 * from those saved seeds (so both channels get the same noise there) and leaves *pSeed alone
 * for them. */
ZUF_API zufResult zufsDecodeMsPNS_AAC_32s(Zuf32s *pSrcDst, int *pLtpFlag, const Zuf8u *pSfbCb,
                                          const Zuf16s *pScaleFactor, int maxSfb, int numWinGrp, const int *pWinGrpLen,
                                          int samplingRateIndex, int winLen, Zuf32u *pSeed, int channel,
                                          const Zuf8u *pMsUsed, Zuf32u *pNoiseState);

/* Temporal noise shaping on 1024 values (eight windows of 128 for winLen 128): the decoder runs
 * the all-pole filter, the encoder the all-zero one (profile must be 1). pNumFilt, pCoefRes per
 * window; pFiltLength, pFiltOrder per filter; pCoef and pDirection only for filters of non-zero
 * order. */
ZUF_API zufResult zufsDecodeTNS_AAC_32s_I(Zuf32s *pSrcDst, const int *pNumFilt, const int *pFiltLength,
                                          const int *pFiltOrder, const int *pCoefRes, const Zuf8s *pCoef,
                                          const int *pDirection, int maxSfb, int profile, int samplingRateIndex,
                                          int winLen);
ZUF_API zufResult zufsEncodeTNS_AAC_32s_I(Zuf32s *pSrcDst, const int *pNumFilt, const int *pFiltLength,
                                          const int *pFiltOrder, const int *pCoefRes, const Zuf8s *pCoef,
                                          const int *pDirection, int maxSfb, int profile, int samplingRateIndex,
                                          int winLen);

/* Synthesis filter bank: inverse MDCT of 1024 values (or eight of 128, consecutive), window
 * (shape 0 sine, 1 KBD; the rising half uses prevWindowShape) and overlap-add with the 1024
 * values of pSrcDstOverlap (zero before the first frame; carried between calls). pSrc (Q3) is
 * used as work space. 16-bit PCM goes to pDst[0], pDst[stride], ... (stride 1 or 2). */
ZUF_API zufResult zufsMDCTInv_AAC_32s16s(Zuf32s *pSrc, Zuf16s *pDst, Zuf32s *pSrcDstOverlap, int windowSequence,
                                         int windowShape, int prevWindowShape, int stride);

/* The same transform with fixed scaling in place on 32-bit values: the output is 32 (long) or 4
 * (short) times the standard's time samples in the input's Q format; len must be 1024. */
ZUF_API zufResult zufsMDCTInv_AAC_32s_I(Zuf32s *pSrcDst, Zuf32s *pSrcDstOverlap, int windowSequence, int windowShape,
                                        int prevWindowShape, int len);

/* Analysis filter bank: windows 2048 time samples (256 for EIGHT_SHORT_SEQUENCE, one short
 * block per call; rising half with prevWindowShape) and transforms them into 1024 (128) spectral
 * values X[k] = 2 sum z[n] cos(2 pi / N' (n + n_0)(k + 1/2)) of ISO/IEC 13818-7, unscaled: the
 * caller leaves headroom. pReserved must not be null and is not read; pWork holds 2048 values. */
ZUF_API zufResult zufsMDCTFwd_AAC_32s(const Zuf32s *pSrc, Zuf32s *pDst, const Zuf32s *pReserved, int windowSequence,
                                      int windowShape, int prevWindowShape, Zuf32s *pWork);

/* The same in place with half-gain windows and block floating point: the first 1024 (128)
 * entries of pSrcDst receive X / (4N), N the number of values; len must be 2048. */
ZUF_API zufResult zufsMDCTFwd_AAC_32s_I(Zuf32s *pSrcDst, int windowSequence, int windowShape, int prevWindowShape,
                                        int len);

/* Long-term prediction (ISO/IEC 14496-3 4.6.6), per channel with a caller history of 3072
 * samples (zero at the start). Predicted time signal: 2048 samples of the history scaled by
 * ltp_coef (Q14) at ltp_lag (long) or ltp_short_lag (each used short window; windows not used
 * are left as they are in pDst). */
ZUF_API zufResult zufsLongTermPredict_AAC_32s(const Zuf32s *pSrc, Zuf32s *pDst, const AacLtpInfo *pLtpInfo,
                                              int windowSequence);

/* Adds the predicted spectrum to the decoded one in the bands that use it: pLtpFlag is
 * &ltp_long_present (entry sfb + 1 flags band sfb) for long sequences, ltp_short_used (one flag
 * per window, bands 0..7) for EIGHT_SHORT_SEQUENCE. */
ZUF_API zufResult zufsLongTermReconstruct_AAC_32s(const Zuf32s *pSrcEstSpec, Zuf32s *pSrcDstSpec, const int *pLtpFlag,
                                                  int windowSequence, int samplingRateIndex);

/* After every frame: shifts the history by 1024 samples and adds the windowed inverse MDCT of
 * the frame's spectrum (the one that went into the synthesis filter bank). pWork: 6144 values. */
ZUF_API zufResult zufsLtpUpdate_AAC_32s(const Zuf32s *pSrcSpec, Zuf32s *pSrcDstBuffer, int windowSequence,
                                        int windowShape, int prevWindowShape, Zuf32s *pWork);

/* ------------------------------------------------------------------ Main-profile prediction */

/* Backward-adaptive prediction of long-window spectra (ISO/IEC 13818-7): one second-order
 * lattice LMS predictor per spectral line, in 32-bit float with the standard's 16-bit rounding
 * of the prediction and the state, so that encoder and decoder stay in step. The context holds
 * the state of len lines; zufsFDPGetSize_32f gives the bytes a caller-placed context needs
 * (24 * len + 260). Init and InitAlloc leave every line reset (correlations and lattice
 * states 0, energies 1.0). */
typedef struct FdpContext_32f FdpContext_32f;

ZUF_API zufResult zufsFDPGetSize_32f(int len, int *pSize);
/* Builds the context in pMem (rounded up to 32 bytes). */
ZUF_API zufResult zufsFDPInit_32f(FdpContext_32f **ppState, int len, Zuf8u *pMem);
ZUF_API zufResult zufsFDPInitAlloc_32f(FdpContext_32f **ppState, int len);
/* Clears the ID word; releases the block only when InitAlloc made it. */
ZUF_API zufResult zufsFDPFree_32f(FdpContext_32f *pState);
ZUF_API zufResult zufsFDPReset_32f(FdpContext_32f *pState);
/* Resets lines first, first + step, ... below len (a predictor reset group n: step 30,
 * first n - 1). zufErrSize for first < 0, zufErrStep for step < 1. */
ZUF_API zufResult zufsFDPResetGroup_32f(int step, int first, FdpContext_32f *pState);
/* Resets the lines pBandOffset[b] .. pBandOffset[b+1] - 1 of every band b < nBands whose flag
 * is not 0. */
ZUF_API zufResult zufsFDPResetSfb_32f(const int *pBandOffset, int nBands, const Zuf8u *pResetFlag,
                                      FdpContext_32f *pState);
/* Encoder: pDst[k] = pSrc[k] - prediction for every line, the state updated with pSrc[k].
 * zufWarnMisaligned when pSrc or pDst is not 16-byte aligned (the result is complete). */
ZUF_API zufResult zufsFDPFwd_32f(const Zuf32f *pSrc, Zuf32f *pDst, FdpContext_32f *pState);
/* Decoder: in the lines of band b < nBands the prediction is added when pPredFlag[b] is not 0
 * (prediction_used); every line of the bands updates its state with its final value, the
 * others keep theirs. zufWarnMisaligned when pSrcDst is not 16-byte aligned. */
ZUF_API zufResult zufsFDPInv_32f_I(Zuf32f *pSrcDst, const int *pBandOffset, int nBands, const Zuf8u *pPredFlag,
                                   FdpContext_32f *pState);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_AAC_H */
