// Internal parsers of the AAC individual channel stream (ISO/IEC 13818-7 8.3, ISO/IEC 14496-3
// 4.4.2): side information, scale factors and spectral data. The exported drivers and element
// decoders call them in stream order and pass their statuses up unchanged.
//
// Every parser reads from the caller's stream position (byte pointer, bit offset 0..7), most
// significant bit first. Field-by-field parsers read through the FieldReader and leave the
// position where they stopped, also on failure; the scale-factor and spectral parsers read
// through a BitCache without an end and move the position only when they succeed. Either way
// a parser reads at most three bytes past the last bit it uses.
#pragma once

#include <cstdint>

#include "aac/aac_spectral.h"
#include "common/bitstream.h"
#include "zufack9/zuf_aac.h"

namespace zuf {

// ---------------------------------------------------------------- side information

// Window grouping of an EIGHT_SHORT_SEQUENCE from its 7 scale_factor_grouping bits, read from
// bit 6 down (1: the next window joins the current group). Entries beyond the groups are kept.
void ownsGroupShortWindows_AAC(Zuf32s scale_factor_grouping, Zuf32s* num_window_groups, Zuf32s* window_group_length);

// ics_info(), MPEG-2: prediction_used flags for bands below min(max_sfb, pred_sfb_max).
zufResult ownsUnpackIcsInfo_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo, int pred_sfb_max);

// ics_info(), MPEG-4: with predictor_data_present and an object type other than Main, ltp_data
// of the first (and, with secondChannelLtp, the second) channel into pMainHeader->ltp.
zufResult ownsUnpackIcsInfo_MP4_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, AacIcsInfo* pIcsInfo,
                                    int pred_sfb_max, int audioObjectType, int secondChannelLtp);

// section_data(): sect_cb/sect_end/num_sec per group, and each band's codebook into sfb_cb
// (max_sfb entries per group). A group has at most max_sfb sections.
zufResult ownsDecodeSectData_AAC(Zuf8u** ppBitStream, int* pOffset, int max_sfb, int window_sequence,
                                 int num_window_groups, Zuf8u* sect_cb, Zuf8u* sect_end, Zuf32s* num_sec,
                                 Zuf8u* sfb_cb);

// scale_factor_data(), MPEG-2 (noise bands refused) and MPEG-4 (noise energies).
zufResult ownsDecodeScalefactor_AAC_1u16s(Zuf8u** ppBitStream, int* pOffset, Zuf16s* pScaleFactor, int global_gain,
                                          int num_window_groups, const Zuf32s* num_sec, const Zuf8u* sect_cb,
                                          const Zuf8u* sect_end);
zufResult ownsDecodeScalefactor_AAC_MPEG4_1u16s(Zuf8u** ppBitStream, int* pOffset, Zuf16s* pScaleFactor,
                                                int global_gain, int num_window_groups, const Zuf32s* num_sec,
                                                const Zuf8u* sect_cb, const Zuf8u* sect_end);

// pulse_data(): number_pulse is stored as the pulse count 1..4.
zufResult ownsDecodePulseData_AAC(Zuf8u** ppBitStream, int* pOffset, Zuf32s* number_pulse, Zuf32s* pulse_start_sfb,
                                  Zuf32s* pulse_offset, Zuf32s* pulse_amp);

// tns_data(): per window n_filt and coef_res (in bits), per filter length and order, per filter
// of non-zero order direction and its coefficients (sign-extended) one after another.
zufResult ownsDecodeTnsData_AAC(Zuf8u** ppBitStream, int* pOffset, int window_sequence, Zuf32s* n_filt,
                                Zuf32s* coef_res, Zuf32s* length, Zuf32s* order, Zuf32s* direction, Zuf8s* coef);

// ltp_data(), using the owning record's window_sequence and max_sfb.
void ownsDecodeLtpData_AAC(Zuf8u** ppBitStream, int* pOffset, const AacMainHeader* pMainHeader, AacLtpInfo* pLtp);

// ---------------------------------------------------------------- spectral data

// spectral_data() of all groups into the 1024 values of pSpectrum.
zufResult ownsDecodeSpectralData_AAC_1u32s(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pSpectrum, int num_window_groups,
                                           const Zuf32s* window_group_length, const Zuf32s* num_sec,
                                           const Zuf8u* sect_cb, const Zuf8u* sect_end, int sampling_frequency_index,
                                           int win_len);

// n values (a multiple of the book's dimension) of codebook 1..11.
zufResult ownsDecodeSpecHuf_AAC(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pDst, int n, int codebook);

// escape sequence of codebook 11: the magnitude 16..8191, or zufErrAacCoef.
// The cache must hold the longest escape word (21 bits).
zufResult ownsDecodeSpecEsc_AAC(BitCache& bc, Zuf32s* pMagnitude);

// Adds the pulses of pulse_data() to a long-window spectrum (ISO/IEC 13818-7 9.3).
zufResult ownsAddPulseData_AAC(Zuf32s* pSpectrum, int number_pulse, int pulse_start_sfb, const Zuf32s* pulse_offset,
                               const Zuf32s* pulse_amp, const Zuf16s* swb_offset, int win_len);

// ---------------------------------------------------------------- drivers (after their checks)

zufResult ownsNoiselessDecoder_LC_AAC(Zuf8u** ppBitStream, int* pOffset, int commonWin, AacChanInfo* pChanInfo,
                                      Zuf16s* pScaleFactor, Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb, Zuf8s* pTnsFiltCoef);
zufResult ownsNoiselessDecode_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, Zuf16s* pScaleFactor,
                                  Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb, Zuf8s* pTnsFiltCoef, AacChanInfo* pChanInfo,
                                  int winSequence, int maxSfb, int commonWin, int scalableFlag, int audioObjectType);

// ---------------------------------------------------------------- syntax elements (after their checks)

zufResult ownsDecodeChanPairElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                    AacChanPairElt* pChanPairElt, int predSfbMax);
zufResult ownsDecodeChanPairElt_MP4_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                        AacChanPairElt* pChanPairElt, AacMainHeader* pMainHeader, int predSfbMax,
                                        int audioObjectType);
zufResult ownsDecodeDatStrElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pDataTag, int* pDataCnt, Zuf8u* pDataElt);
zufResult ownsDecodeFillElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pFillCnt, Zuf8u* pFillElt);
zufResult ownsDecodeMainHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, int channels,
                                   int layerFlag);
zufResult ownsDecodeExtensionHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacExtensionHeader* pExtHeader, int tnsFlag,
                                        int stereoFlag, int diffCtrlFlag, int sfbStart, int sfbLimit, int winSequence);

}  // namespace zuf
