// Noiseless decoding of one AAC individual channel stream (ISO/IEC 13818-7 8.3 and 9, ISO/IEC
// 14496-3 4.4.2.7 and 4.6.3): the two exported drivers, the spectral data with its Huffman
// trees, sign bits and escape sequences, and the pulse data.
#include "aac/aac_band_tables.h"
#include "aac/aac_huffman_tables.h"
#include "aac/aac_syntax.h"
#include "common/bitstream.h"
#include "common/checks.h"

namespace zuf {

// ---------------------------------------------------------------- spectral data

zufResult ownsDecodeSpecEsc_AAC(BitCache& bc, Zuf32s* pMagnitude) {
    // ISO/IEC 13818-7 8.3.2 (escape_sequence): a prefix of N - 4 one bits and a zero, then an
    // N-bit word; 2^N + word must stay within 13 bits, so N is at most 12.
    int n = 4;
    while (bc.bit()) {
        if (++n > 12) return zufErrAacCoef;
    }
    *pMagnitude = (Zuf32s{1} << n) + static_cast<Zuf32s>(bc.get(n));
    return zufOk;
}

namespace {

// The codewords of one section, with the book's shape fixed at compile time: quadruples or pairs,
// sign bits or signed values, escapes (book 11) or none. Each value goes straight to pDst.
template <int kDim, bool kUnsigned, bool kEscapes>
zufResult spec_huf(BitCache& bc, const Zuf16u* tree, const Zuf32u* first, Zuf32s* pDst, int n) {
    for (int i = 0; i < n; i += kDim, pDst += kDim) {
        // The longest codeword (16 bits) and its sign bits (at most 20 bits in all books).
        bc.ensure(20);
        const uint32_t node = walk_tree_first(bc, tree, first);
        Zuf32s v[kDim];
        for (int k = 0; k < kDim; ++k)
            v[k] = kDim == 4 ? static_cast<Zuf32s>(node << (27 - 3 * k)) >> 29
                             : static_cast<Zuf32s>(node << (24 - 6 * k)) >> 26;
        if constexpr (kUnsigned) {
            // One sign bit per non-zero value, taken without a branch on the values (a branch
            // per value is mispredicted about as often as values are zero).
            uint64_t w = bc.window();
            int taken = 0;
            for (int k = 0; k < kDim; ++k) {
                const int nz = v[k] != 0;
                const Zuf32s m = -static_cast<Zuf32s>(static_cast<int>(w >> 63) & nz);
                v[k] = (v[k] ^ m) - m;
                w <<= nz;
                taken += nz;
            }
            bc.skip(taken);
        }
        if constexpr (kEscapes) {
            // Both sign bits come before the escape sequences, first value's escape first.
            for (int k = 0; k < 2; ++k) {
                if (v[k] != 16 && v[k] != -16) continue;
                bc.ensure(21);
                Zuf32s magnitude;
                const zufResult st = ownsDecodeSpecEsc_AAC(bc, &magnitude);
                if (st != zufOk) return st;
                v[k] = v[k] < 0 ? -magnitude : magnitude;
            }
        }
        for (int k = 0; k < kDim; ++k) pDst[k] = v[k];
    }
    return zufOk;
}

// The first-stage tables by codebook number (1..11).
constexpr const Zuf32u* kFirstStage[12] = {nullptr,      _pHfFirstSp1, _pHfFirstSp2,  _pHfFirstSp3,
                                           _pHfFirstSp4, _pHfFirstSp5, _pHfFirstSp6,  _pHfFirstSp7,
                                           _pHfFirstSp8, _pHfFirstSp9, _pHfFirstSp10, _pHfFirstSp11};

}  // namespace

zufResult ownsDecodeSpecHuf_AAC(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pDst, int n, int codebook) {
    const AacCbParam& book = _pCbParam_AAC[codebook];
    const Zuf16u* tree = book.pTree;
    const Zuf32u* first = kFirstStage[codebook];
    BitCache bc(*ppBitStream, *pOffset);
    zufResult st;
    if (book.lav == 16)
        st = spec_huf<2, true, true>(bc, tree, first, pDst, n);
    else if (book.dimension == 4)
        st = book.is_unsigned ? spec_huf<4, true, false>(bc, tree, first, pDst, n)
                              : spec_huf<4, false, false>(bc, tree, first, pDst, n);
    else
        st = book.is_unsigned ? spec_huf<2, true, false>(bc, tree, first, pDst, n)
                              : spec_huf<2, false, false>(bc, tree, first, pDst, n);
    if (st != zufOk) return st;
    bc.finish(ppBitStream, pOffset);
    return zufOk;
}

zufResult ownsDecodeSpectralData_AAC_1u32s(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pSpectrum, int num_window_groups,
                                           const Zuf32s* window_group_length, const Zuf32s* num_sec,
                                           const Zuf8u* sect_cb, const Zuf8u* sect_end, int sampling_frequency_index,
                                           int win_len) {
    const aac::Bands bands = aac::bands(sampling_frequency_index, win_len);
    Zuf32s* group = pSpectrum;
    int slot = 0;
    for (int g = 0; g < num_window_groups; ++g) {
        // A group's windows are interleaved band by band (ISO/IEC 13818-7 8.3.2), so band b of
        // the group starts at swb_offset[b] x group length.
        const int len = window_group_length[g];
        int placed = 0;
        for (int i = 0; i < num_sec[g]; ++i, ++slot) {
            const int end = sect_end[slot];
            if (end > bands.count) return zufErrRange;
            const int cb = sect_cb[slot];
            const int n = bands.offset[end] * len - placed;
            if (n < 0) return zufErrRange;  // sections from section_data never go backwards
            if (cb == aac::kZeroHcb || cb == aac::kNoiseHcb || aac::is_intensity(cb)) {
                // No spectral bits: noise and intensity bands are filled by the stereo tools.
                for (int k = 0; k < n; ++k) group[placed + k] = 0;
            } else if (cb == 12 || cb > 15) {
                return zufErrAacCodebook;
            } else {
                const zufResult st = ownsDecodeSpecHuf_AAC(ppBitStream, pOffset, group + placed, n, cb);
                if (st != zufOk) return st;
            }
            placed += n;
        }
        for (int k = placed; k < len * win_len; ++k) group[k] = 0;
        group += len * win_len;
    }
    return zufOk;
}

zufResult ownsAddPulseData_AAC(Zuf32s* pSpectrum, int number_pulse, int pulse_start_sfb, const Zuf32s* pulse_offset,
                               const Zuf32s* pulse_amp, const Zuf16s* swb_offset, int win_len) {
    // ISO/IEC 13818-7 9.3: pulses raise the magnitude of a quantised value, keeping its sign
    // (a zero value counts as negative).
    int k = swb_offset[pulse_start_sfb];
    for (int i = 0; i < number_pulse; ++i) {
        k += pulse_offset[i];
        if (k >= win_len) return zufErrAacPulse;
        if (pSpectrum[k] > 0)
            pSpectrum[k] += pulse_amp[i];
        else
            pSpectrum[k] -= pulse_amp[i];
    }
    return zufOk;
}

// ---------------------------------------------------------------- drivers

namespace {

struct PulseData {
    Zuf32s number_pulse = 0;
    Zuf32s start_sfb = 0;
    Zuf32s offset[4] = {};
    Zuf32s amp[4] = {};
};

// The window layout both drivers derive from window_sequence.
struct WindowLayout {
    bool is_short;
    int win_len;
    int num_windows;
    int num_swb;
};

WindowLayout layout_of(int window_sequence, int sampling_frequency_index) {
    const bool is_short = window_sequence == aac::kEightShort;
    const int win_len = is_short ? 128 : 1024;
    return {is_short, win_len, is_short ? 8 : 1, aac::bands(sampling_frequency_index, win_len).count};
}

// A grouping that no ics_info can produce: a caller's record, or one that a failed parse left
// half-written. Refused before anything is written through it, so that sections, scale factors
// and spectral values stay within their 120 / 120 / 1024 slots.
zufResult check_ics_layout(const WindowLayout& w, int max_sfb, int num_window_groups,
                           const Zuf32s* window_group_length) {
    if (max_sfb < 0 || max_sfb > (w.is_short ? aac::kMaxSfbShort : aac::kMaxSfbLong)) return zufErrAacMaxSfb;
    if (!w.is_short) return num_window_groups == 1 && window_group_length[0] == 1 ? zufOk : zufErrAacWinGrp;
    if (num_window_groups < 1 || num_window_groups > 8) return zufErrAacWinGrp;
    int windows = 0;
    for (int g = 0; g < num_window_groups; ++g) {
        if (window_group_length[g] < 1 || window_group_length[g] > 8) return zufErrAacWinGrp;
        windows += window_group_length[g];
    }
    return windows <= 8 ? zufOk : zufErrAacWinGrp;
}

// pulse_data_present .. gain_control_data_present of individual_channel_stream().
zufResult read_pulse_tns_gain(Zuf8u** ppBitStream, int* pOffset, AacChanInfo* ci, int window_sequence,
                              Zuf8s* pTnsFiltCoef, PulseData& pulse) {
    const FieldReader r{ppBitStream, pOffset};
    const Zuf32s pulse_present = r.get(1);
    // ISO/IEC 13818-7 8.3.6: pulse data is defined for long windows only.
    if (pulse_present == 1 && window_sequence == aac::kEightShort) return zufErrAacPulse;
    ci->pulse_data_present = pulse_present;
    if (pulse_present == 1) {
        const zufResult st = ownsDecodePulseData_AAC(ppBitStream, pOffset, &pulse.number_pulse, &pulse.start_sfb,
                                                     pulse.offset, pulse.amp);
        if (st != zufOk) return st;
        if (pulse.start_sfb >= ci->num_swb) return zufErrAacPulse;
    }
    ci->tns_data_present = r.get(1);
    ci->n_filt[0] = 0;
    if (ci->tns_data_present == 1) {
        const zufResult st = ownsDecodeTnsData_AAC(ppBitStream, pOffset, window_sequence, ci->n_filt, ci->coef_res,
                                                   ci->length, ci->order, ci->direction, pTnsFiltCoef);
        if (st != zufOk) return st;
    }
    ci->gain_control_data_present = r.get(1);
    // Gain control belongs to the SSR profile, which this library does not decode.
    if (ci->gain_control_data_present == 1) return zufErrAacGainCtrl;
    return zufOk;
}

// The part both drivers share once the window layout is known: section_data,
// scale_factor_data, the optional pulse/TNS/gain-control flags and spectral_data.
template <bool kMpeg4>
zufResult decode_channel_body(Zuf8u** ppBitStream, int* pOffset, AacChanInfo* ci, const WindowLayout& w,
                              int window_sequence, int max_sfb, int num_window_groups,
                              const Zuf32s* window_group_length, bool side_flags, Zuf16s* pScaleFactor,
                              Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb, Zuf8s* pTnsFiltCoef) {
    zufResult st = ownsDecodeSectData_AAC(ppBitStream, pOffset, max_sfb, window_sequence, num_window_groups,
                                          ci->sect_cb, ci->sect_end, ci->num_sec, pSfbCb);
    if (st != zufOk) return st;
    st = kMpeg4 ? ownsDecodeScalefactor_AAC_MPEG4_1u16s(ppBitStream, pOffset, pScaleFactor, ci->global_gain,
                                                        num_window_groups, ci->num_sec, ci->sect_cb, ci->sect_end)
                : ownsDecodeScalefactor_AAC_1u16s(ppBitStream, pOffset, pScaleFactor, ci->global_gain,
                                                  num_window_groups, ci->num_sec, ci->sect_cb, ci->sect_end);
    if (st != zufOk) return st;
    PulseData pulse;
    bool pulses = false;
    if (side_flags) {
        st = read_pulse_tns_gain(ppBitStream, pOffset, ci, window_sequence, pTnsFiltCoef, pulse);
        if (st != zufOk) return st;
        pulses = ci->pulse_data_present == 1;
    }
    st = ownsDecodeSpectralData_AAC_1u32s(ppBitStream, pOffset, pQuantSpectrum, num_window_groups, window_group_length,
                                          ci->num_sec, ci->sect_cb, ci->sect_end, ci->sampling_frequency_index,
                                          w.win_len);
    if (st != zufOk) return st;
    if (pulses && !w.is_short) {
        st = ownsAddPulseData_AAC(pQuantSpectrum, pulse.number_pulse, pulse.start_sfb, pulse.offset, pulse.amp,
                                  _pAACSwbOffsetTableLong[ci->sampling_frequency_index], w.win_len);
    }
    return st;
}

}  // namespace

zufResult ownsNoiselessDecoder_LC_AAC(Zuf8u** ppBitStream, int* pOffset, int commonWin, AacChanInfo* ci,
                                      Zuf16s* pScaleFactor, Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb,
                                      Zuf8s* pTnsFiltCoef) {
    AacIcsInfo* ics = ci->pIcsInfo;
    ci->global_gain = FieldReader{ppBitStream, pOffset}.get(8);
    if (commonWin == 0) {
        const zufResult st = ownsUnpackIcsInfo_AAC(ppBitStream, pOffset, ics, 0);
        if (st != zufOk) return st;
    }
    const WindowLayout w = layout_of(ics->window_sequence, ci->sampling_frequency_index);
    ci->num_windows = w.num_windows;
    ci->num_swb = w.num_swb;
    if (w.num_swb < ics->max_sfb) return zufErrAacMaxSfb;
    ci->win_len = w.win_len;
    const zufResult st = check_ics_layout(w, ics->max_sfb, ics->num_window_groups, ics->window_group_length);
    if (st != zufOk) return st;
    return decode_channel_body<false>(ppBitStream, pOffset, ci, w, ics->window_sequence, ics->max_sfb,
                                      ics->num_window_groups, ics->window_group_length, true, pScaleFactor,
                                      pQuantSpectrum, pSfbCb, pTnsFiltCoef);
}

zufResult ownsNoiselessDecode_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, Zuf16s* pScaleFactor,
                                  Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb, Zuf8s* pTnsFiltCoef, AacChanInfo* ci,
                                  int winSequence, int maxSfb, int commonWin, int scalableFlag, int audioObjectType) {
    AacIcsInfo* ics = ci->pIcsInfo;
    ci->global_gain = FieldReader{ppBitStream, pOffset}.get(8);
    if (commonWin == 0 && scalableFlag == 0) {
        const zufResult st =
            ownsUnpackIcsInfo_MP4_AAC(ppBitStream, pOffset, pMainHeader, ics, ci->pred_sfb_max, audioObjectType, 0);
        if (st != zufOk) return st;
    }
    // A scalable-layer channel takes its grouping from the layer header (ISO/IEC 14496-3
    // 4.4.2.3); any other channel from its ics_info.
    const bool scalable = scalableFlag == 1;
    const int window_sequence = scalable ? winSequence : ics->window_sequence;
    const int max_sfb = scalable ? maxSfb : ics->max_sfb;
    const int num_window_groups = scalable ? pMainHeader->num_window_groups : ics->num_window_groups;
    const Zuf32s* window_group_length = scalable ? pMainHeader->window_group_length : ics->window_group_length;
    const WindowLayout w = layout_of(window_sequence, ci->sampling_frequency_index);
    ci->num_windows = w.num_windows;
    ci->num_swb = w.num_swb;
    ci->win_len = w.win_len;
    const zufResult st = check_ics_layout(w, max_sfb, num_window_groups, window_group_length);
    if (st != zufOk) return st;
    return decode_channel_body<true>(ppBitStream, pOffset, ci, w, window_sequence, max_sfb, num_window_groups,
                                     window_group_length, !scalable, pScaleFactor, pQuantSpectrum, pSfbCb,
                                     pTnsFiltCoef);
}

}  // namespace zuf

extern "C" {

ZUF_API zufResult zufsNoiselessDecoder_LC_AAC(Zuf8u** ppBitStream, int* pOffset, int commonWin, AacChanInfo* pChanInfo,
                                              Zuf16s* pScaleFactor, Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb,
                                              Zuf8s* pTnsFiltCoef) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pChanInfo, pScaleFactor, pQuantSpectrum, pSfbCb, pTnsFiltCoef),
                zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(pChanInfo->pIcsInfo != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(commonWin == 0 || commonWin == 1, zufErrAacCommonWin);
    ZUF_REQUIRE(zuf::in_range(pChanInfo->sampling_frequency_index, 0, 11), zufErrAacSmplRateIdx);
    ZUF_REQUIRE(pChanInfo->pred_sfb_max == 0, zufErrAacPred);
    return zuf::ownsNoiselessDecoder_LC_AAC(ppBitStream, pOffset, commonWin, pChanInfo, pScaleFactor, pQuantSpectrum,
                                            pSfbCb, pTnsFiltCoef);
}

ZUF_API zufResult zufsNoiselessDecode_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader,
                                          Zuf16s* pScaleFactor, Zuf32s* pQuantSpectrum, Zuf8u* pSfbCb,
                                          Zuf8s* pTnsFiltCoef, AacChanInfo* pChanInfo, int winSequence, int maxSfb,
                                          int commonWin, int scalableFlag, int audioObjectType) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pChanInfo, pScaleFactor, pQuantSpectrum, pSfbCb, pTnsFiltCoef),
                zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(pMainHeader != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    ZUF_REQUIRE(commonWin == 0 || commonWin == 1, zufErrAacCommonWin);
    ZUF_REQUIRE(zuf::in_range(winSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(scalableFlag == 0 || scalableFlag == 1, zufErrAacScalableFlag);
    ZUF_REQUIRE(zuf::in_range(audioObjectType, 0, 16), zufErrAacObjType);
    ZUF_REQUIRE(zuf::in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(pChanInfo->sampling_frequency_index, 0, 11), zufErrAacSmplRateIdx);
    // Not among the documented checks, but a non-scalable channel cannot be decoded without its
    // ics_info record.
    ZUF_REQUIRE(scalableFlag == 1 || pChanInfo->pIcsInfo != nullptr, zufErrNullPtr);
    return zuf::ownsNoiselessDecode_AAC(ppBitStream, pOffset, pMainHeader, pScaleFactor, pQuantSpectrum, pSfbCb,
                                        pTnsFiltCoef, pChanInfo, winSequence, maxSfb, commonWin, scalableFlag,
                                        audioObjectType);
}

}  // extern "C"
