// Syntax elements of a raw data block besides the channel streams: channel_pair_element()
// side information, data_stream_element() and fill_element() (ISO/IEC 13818-7 8.2), and the
// MPEG-4 scalable layer headers aac_scalable_main_header() and aac_scalable_extension_header()
// (ISO/IEC 14496-3 4.4.2.3). Each starts after the element id that the caller has read.
#include <cstring>

#include "aac/aac_syntax.h"
#include "common/bitstream.h"
#include "common/checks.h"

namespace zuf {

namespace {

// ms_used flags for bands [first, last) of `groups` window groups.
void read_ms_used(const FieldReader& r, Zuf8u* ms_used, int groups, int first, int last) {
    for (int g = 0; g < groups; ++g)
        for (int b = first; b < last; ++b) ms_used[g * aac::kMsUsedStride + b] = static_cast<Zuf8u>(r.get(1));
}

// Clears an AacLtpInfo except the twenty words that belong to the caller.
void clear_ltp(AacLtpInfo* ltp) {
    ltp->ltp_data_present = 0;
    ltp->ltp_lag = 0;
    ltp->ltp_coef = 0;
    ltp->ltp_long_present = 0;
    std::memset(ltp->ltp_long_used, 0, sizeof ltp->ltp_long_used);
    std::memset(ltp->ltp_short_used, 0, sizeof ltp->ltp_short_used);
    std::memset(ltp->ltp_short_lag_present, 0, sizeof ltp->ltp_short_lag_present);
    std::memset(ltp->ltp_short_lag, 0, sizeof ltp->ltp_short_lag);
}

zufResult read_tns_block(Zuf8u** ppBitStream, int* pOffset, int window_sequence, AacTnsInfo* tns) {
    tns->tns_data_present = FieldReader{ppBitStream, pOffset}.get(1);
    if (tns->tns_data_present != 1) return zufOk;
    return ownsDecodeTnsData_AAC(ppBitStream, pOffset, window_sequence, tns->n_filt, tns->coef_res, tns->length,
                                 tns->order, tns->direction, tns->coef);
}

// common_window and what follows it in a channel pair; ics_info is read by `unpack`.
template <class UnpackIcs>
zufResult decode_pair(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* ics, AacChanPairElt* cpe, UnpackIcs unpack) {
    FieldReader r{ppBitStream, pOffset};
    cpe->common_window = r.get(1);
    if (cpe->common_window == 0) return zufOk;
    const zufResult st = unpack();
    if (st != zufOk) return st;
    // ms_mask_present 2 (all bands) and the reserved 3 carry no flags.
    cpe->ms_mask_present = r.get(2);
    if (cpe->ms_mask_present == 1) read_ms_used(r, cpe->ms_used, ics->num_window_groups, 0, ics->max_sfb);
    return zufOk;
}

}  // namespace

zufResult ownsDecodeChanPairElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                    AacChanPairElt* pChanPairElt, int predSfbMax) {
    return decode_pair(ppBitStream, pOffset, pIcsInfo, pChanPairElt,
                       [&] { return ownsUnpackIcsInfo_AAC(ppBitStream, pOffset, pIcsInfo, predSfbMax); });
}

zufResult ownsDecodeChanPairElt_MP4_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                        AacChanPairElt* pChanPairElt, AacMainHeader* pMainHeader, int predSfbMax,
                                        int audioObjectType) {
    return decode_pair(ppBitStream, pOffset, pIcsInfo, pChanPairElt, [&] {
        return ownsUnpackIcsInfo_MP4_AAC(ppBitStream, pOffset, pMainHeader, pIcsInfo, predSfbMax, audioObjectType, 1);
    });
}

zufResult ownsDecodeDatStrElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pDataTag, int* pDataCnt, Zuf8u* pDataElt) {
    FieldReader r{ppBitStream, pOffset};
    *pDataTag = r.get(4);
    const Zuf32s align = r.get(1);
    Zuf32s count = r.get(8);
    if (count == 255) count += r.get(8);  // esc_count: at most 510 bytes
    if (align == 1) r.align();
    for (int i = 0; i < count; ++i) pDataElt[i] = static_cast<Zuf8u>(r.get(8));
    *pDataCnt = count;
    return zufOk;
}

zufResult ownsDecodeFillElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pFillCnt, Zuf8u* pFillElt) {
    FieldReader r{ppBitStream, pOffset};
    Zuf32s count = r.get(4);
    if (count == 15) count += r.get(8) - 1;  // at most 269 bytes
    for (int i = 0; i < count; ++i) pFillElt[i] = static_cast<Zuf8u>(r.get(8));
    *pFillCnt = count;
    return zufOk;
}

zufResult ownsDecodeMainHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* mh, int channels, int layerFlag) {
    FieldReader r{ppBitStream, pOffset};
    mh->window_sequence = r.get(2);
    mh->window_shape = r.get(1);
    if (mh->window_sequence != aac::kEightShort) {
        mh->max_sfb = r.get(6);
        mh->num_window_groups = 1;
        mh->window_group_length[0] = 1;
        for (int g = 1; g < 8; ++g) mh->window_group_length[g] = 0;
    } else {
        mh->max_sfb = r.get(4);
        mh->scale_factor_grouping = r.get(7);
        ownsGroupShortWindows_AAC(mh->scale_factor_grouping, &mh->num_window_groups, mh->window_group_length);
    }
    if (channels == 2) {
        mh->ms_mask_present = r.get(2);
        if (mh->ms_mask_present == 1) {
            read_ms_used(r, mh->ms_used, mh->num_window_groups, 0, mh->max_sfb);
        } else {
            // Unlike a channel pair element, the layer header states every coded band's flag.
            const Zuf8u flag = mh->ms_mask_present == 2 ? 1 : 0;
            for (int g = 0; g < mh->num_window_groups; ++g)
                for (int b = 0; b < mh->max_sfb; ++b) mh->ms_used[g * aac::kMsUsedStride + b] = flag;
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        std::memset(&mh->tns[ch], 0, sizeof mh->tns[ch]);
        const zufResult st = read_tns_block(ppBitStream, pOffset, mh->window_sequence, &mh->tns[ch]);
        if (st != zufOk) return st;
        AacLtpInfo* ltp = &mh->ltp[ch];
        clear_ltp(ltp);
        ltp->ltp_data_present = r.get(1);
        if (ltp->ltp_data_present == 1) ownsDecodeLtpData_AAC(ppBitStream, pOffset, mh, ltp);
    }
    // Layered decoding beyond the header is not implemented; the header itself is complete.
    return layerFlag == 1 ? zufErrNotSupported : zufOk;
}

zufResult ownsDecodeExtensionHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacExtensionHeader* eh, int tnsFlag,
                                        int stereoFlag, int diffCtrlFlag, int sfbStart, int sfbLimit, int winSequence) {
    FieldReader r{ppBitStream, pOffset};
    const bool is_short = winSequence == aac::kEightShort;
    if (!is_short) {
        eh->max_sfb = r.get(6);
        if (eh->max_sfb > aac::kMsUsedStride) return zufErrAacMaxSfb;  // past the ms_used slots of a group
    } else {
        eh->max_sfb = r.get(4);
    }
    if (stereoFlag == 1) {
        eh->ms_mask_present = r.get(2);
        if (eh->ms_mask_present == 1) read_ms_used(r, eh->ms_used, is_short ? 4 : 1, sfbStart, eh->max_sfb);
    }
    if (tnsFlag == 1) {
        for (int ch = 0; ch < 2; ++ch) {
            const zufResult st = read_tns_block(ppBitStream, pOffset, winSequence, &eh->tns[ch]);
            if (st != zufOk) return st;
        }
    }
    if (diffCtrlFlag == 1 && stereoFlag == 1) {
        const int last = sfbLimit < eh->max_sfb ? sfbLimit : eh->max_sfb;
        for (int ch = 0; ch < 2; ++ch) {
            Zuf32s* dc = eh->diff_control_lr[ch];
            if (is_short) {
                if (sfbStart == 0)
                    for (int w = 0; w < 8; ++w) dc[w] = r.get(1);
            } else {
                // Bands coded M/S carry no difference control.
                int j = 0;
                for (int b = sfbStart; b < last; ++b)
                    if (eh->ms_used[b] == 0) dc[j++] = r.get(1);
            }
        }
    }
    return zufOk;
}

}  // namespace zuf

extern "C" {

ZUF_API zufResult zufsDecodeChanPairElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                            AacChanPairElt* pChanPairElt, int predSfbMax) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pIcsInfo, pChanPairElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(zuf::in_range(predSfbMax, 0, 41), zufErrAacPred);
    return zuf::ownsDecodeChanPairElt_AAC(ppBitStream, pOffset, pIcsInfo, pChanPairElt, predSfbMax);
}

ZUF_API zufResult zufsDecodeChanPairElt_MP4_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo,
                                                AacChanPairElt* pChanPairElt, AacMainHeader* pMainHeader,
                                                int predSfbMax, int audioObjectType) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pIcsInfo, pChanPairElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(zuf::in_range(predSfbMax, 0, 51), zufErrAacMaxSfb);
    // Not among the documented checks: the MPEG-4 ics_info always writes the LTP flags there.
    ZUF_REQUIRE(pMainHeader != nullptr, zufErrNullPtr);
    return zuf::ownsDecodeChanPairElt_MP4_AAC(ppBitStream, pOffset, pIcsInfo, pChanPairElt, pMainHeader, predSfbMax,
                                              audioObjectType);
}

ZUF_API zufResult zufsDecodeDatStrElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pDataTag, int* pDataCnt,
                                          Zuf8u* pDataElt) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pDataTag, pDataCnt, pDataElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    return zuf::ownsDecodeDatStrElt_AAC(ppBitStream, pOffset, pDataTag, pDataCnt, pDataElt);
}

ZUF_API zufResult zufsDecodeFillElt_AAC(Zuf8u** ppBitStream, int* pOffset, int* pFillCnt, Zuf8u* pFillElt) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pFillCnt, pFillElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    return zuf::ownsDecodeFillElt_AAC(ppBitStream, pOffset, pFillCnt, pFillElt);
}

ZUF_API zufResult zufsDecodeMainHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, int channels,
                                           int layerFlag) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pMainHeader), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(channels == 1 || channels == 2, zufErrAacChanNum);
    ZUF_REQUIRE(layerFlag == 0 || layerFlag == 1, zufErrAacLayerFlag);
    // Not among the documented checks: a stereo header always writes its M/S flags.
    ZUF_REQUIRE(channels == 1 || pMainHeader->ms_used != nullptr, zufErrNullPtr);
    return zuf::ownsDecodeMainHeader_AAC(ppBitStream, pOffset, pMainHeader, channels, layerFlag);
}

ZUF_API zufResult zufsDecodeExtensionHeader_AAC(Zuf8u** ppBitStream, int* pOffset, AacExtensionHeader* pExtHeader,
                                                int tnsFlag, int stereoFlag, int diffCtrlFlag, int sfbStart,
                                                int sfbLimit, int winSequence) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pExtHeader), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(tnsFlag == 0 || tnsFlag == 1, zufErrAacLayerFlag);
    ZUF_REQUIRE(stereoFlag == 0 || stereoFlag == 1, zufErrAacStereoFlag);
    ZUF_REQUIRE(diffCtrlFlag == 0 || diffCtrlFlag == 1, zufErrAacDiffCtrlFlag);
    ZUF_REQUIRE(zuf::in_range(sfbStart, 0, 51) && zuf::in_range(sfbLimit, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(winSequence, 0, 3), zufErrAacWinSeq);
    // Not among the documented checks: a stereo layer reads (and writes) the M/S flags.
    ZUF_REQUIRE(stereoFlag == 0 || pExtHeader->ms_used != nullptr, zufErrNullPtr);
    return zuf::ownsDecodeExtensionHeader_AAC(ppBitStream, pOffset, pExtHeader, tnsFlag, stereoFlag, diffCtrlFlag,
                                              sfbStart, sfbLimit, winSequence);
}

}  // extern "C"
