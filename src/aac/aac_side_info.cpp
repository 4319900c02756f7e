// Side information of the AAC individual channel stream: ics_info, section_data,
// scale_factor_data, pulse_data, tns_data and ltp_data (ISO/IEC 13818-7 8.3, ISO/IEC 14496-3
// 4.4.2.7 and 4.6.x).
//
// The field parsers read one field at a time through the FieldReader and store each field as
// soon as it is read, so a failure leaves everything before it stored and the position just
// after the field that failed. The scale-factor parsers read through the BitCache and move the
// position only when they succeed.
#include <cstddef>

#include "aac/aac_huffman_tables.h"
#include "aac/aac_syntax.h"
#include "common/bitstream.h"

// The records are part of the ABI: their 32-bit x86 layout is fixed.
#if defined(__i386__)
static_assert(sizeof(AacIcsInfo) == 112 && offsetof(AacIcsInfo, prediction_used) == 32 &&
                  offsetof(AacIcsInfo, num_window_groups) == 76 && offsetof(AacIcsInfo, window_group_length) == 80,
              "AacIcsInfo layout");
static_assert(sizeof(AacChanInfo) == 488 && offsetof(AacChanInfo, sampling_frequency_index) == 8 &&
                  offsetof(AacChanInfo, win_len) == 20 && offsetof(AacChanInfo, global_gain) == 32 &&
                  offsetof(AacChanInfo, gain_control_data_present) == 44 && offsetof(AacChanInfo, pIcsInfo) == 48 &&
                  offsetof(AacChanInfo, pReserved) == 52 && offsetof(AacChanInfo, sect_cb) == 56 &&
                  offsetof(AacChanInfo, sect_end) == 176 && offsetof(AacChanInfo, num_sec) == 296 &&
                  offsetof(AacChanInfo, n_filt) == 328 && offsetof(AacChanInfo, coef_res) == 360 &&
                  offsetof(AacChanInfo, length) == 392 && offsetof(AacChanInfo, order) == 424 &&
                  offsetof(AacChanInfo, direction) == 456,
              "AacChanInfo layout");
static_assert(sizeof(AacLtpInfo) == 352 && offsetof(AacLtpInfo, ltp_coef) == 8 &&
                  offsetof(AacLtpInfo, ltp_long_present) == 12 && offsetof(AacLtpInfo, ltp_long_used) == 16 &&
                  offsetof(AacLtpInfo, reserved) == 176 && offsetof(AacLtpInfo, ltp_short_used) == 256 &&
                  offsetof(AacLtpInfo, ltp_short_lag_present) == 288 && offsetof(AacLtpInfo, ltp_short_lag) == 320,
              "AacLtpInfo layout");
static_assert(sizeof(AacTnsInfo) == 256 && offsetof(AacTnsInfo, direction) == 132 && offsetof(AacTnsInfo, coef) == 196,
              "AacTnsInfo layout");
static_assert(sizeof(AacMainHeader) == 1276 && offsetof(AacMainHeader, num_window_groups) == 16 &&
                  offsetof(AacMainHeader, window_group_length) == 20 &&
                  offsetof(AacMainHeader, ms_mask_present) == 52 && offsetof(AacMainHeader, ms_used) == 56 &&
                  offsetof(AacMainHeader, tns) == 60 && offsetof(AacMainHeader, ltp) == 572,
              "AacMainHeader layout");
static_assert(sizeof(AacChanPairElt) == 488 && offsetof(AacChanPairElt, ms_used) == 8, "AacChanPairElt layout");
static_assert(sizeof(AacExtensionHeader) == 932 && offsetof(AacExtensionHeader, ms_used) == 8 &&
                  offsetof(AacExtensionHeader, tns) == 12 && offsetof(AacExtensionHeader, diff_control_lr) == 524,
              "AacExtensionHeader layout");
#endif

namespace zuf {

namespace {

constexpr int kPredUsedSlots = 41;  // prediction_used has room for PRED_SFB_MAX of every rate

// predictor_reset, predictor_reset_group_number and prediction_used (ISO/IEC 13818-7 8.3.1).
// MPEG-4 callers may ask for up to 51 bands: flags above the 41 slots are read and dropped.
void read_predictor_fields(const FieldReader& r, AacIcsInfo* ics, int pred_sfb_max) {
    ics->predictor_reset = r.get(1);
    if (ics->predictor_reset == 1) ics->predictor_reset_group_number = r.get(5);
    const int coded = ics->max_sfb < pred_sfb_max ? ics->max_sfb : pred_sfb_max;
    const int slots = pred_sfb_max < kPredUsedSlots ? pred_sfb_max : kPredUsedSlots;
    int sfb = 0;
    for (; sfb < coded; ++sfb) {
        const Zuf32s used = r.get(1);
        if (sfb < kPredUsedSlots) ics->prediction_used[sfb] = static_cast<Zuf8u>(used);
    }
    for (; sfb < slots; ++sfb) ics->prediction_used[sfb] = 0;
}

// The part of ics_info() up to predictor_data_present. Returns zufErrAacMaxSfb for a long-window
// max_sfb above 51, which no sampling rate has bands for.
zufResult read_ics_head(const FieldReader& r, AacIcsInfo* ics) {
    ics->ics_reserved_bit = r.get(1);
    ics->window_sequence = r.get(2);
    ics->window_shape = r.get(1);
    ics->predictor_data_present = 0;
    if (ics->window_sequence == aac::kEightShort) {
        ics->max_sfb = r.get(4);
        ics->scale_factor_grouping = r.get(7);
        ownsGroupShortWindows_AAC(ics->scale_factor_grouping, &ics->num_window_groups, ics->window_group_length);
        return zufOk;
    }
    ics->max_sfb = r.get(6);
    if (ics->max_sfb > aac::kMaxSfbLong) return zufErrAacMaxSfb;
    ics->predictor_data_present = r.get(1);
    ics->predictor_reset = 0;
    ics->num_window_groups = 1;
    ics->window_group_length[0] = 1;
    return zufOk;
}

}  // namespace

void ownsGroupShortWindows_AAC(Zuf32s scale_factor_grouping, Zuf32s* num_window_groups, Zuf32s* window_group_length) {
    // ISO/IEC 13818-7 8.3.4: bit 6 belongs to window 1, bit 0 to window 7; a 1 keeps the window
    // in the current group.
    int g = 0;
    window_group_length[0] = 1;
    for (int bit = 6; bit >= 0; --bit) {
        if ((scale_factor_grouping >> bit) & 1) {
            ++window_group_length[g];
        } else {
            ++g;
            window_group_length[g] = 1;
        }
    }
    *num_window_groups = g + 1;
}

zufResult ownsUnpackIcsInfo_AAC(Zuf8u** ppBitStream, int* pOffset, AacIcsInfo* pIcsInfo, int pred_sfb_max) {
    FieldReader r{ppBitStream, pOffset};
    const zufResult st = read_ics_head(r, pIcsInfo);
    if (st != zufOk) return st;
    if (pIcsInfo->predictor_data_present == 1) read_predictor_fields(r, pIcsInfo, pred_sfb_max);
    return zufOk;
}

zufResult ownsUnpackIcsInfo_MP4_AAC(Zuf8u** ppBitStream, int* pOffset, AacMainHeader* pMainHeader, AacIcsInfo* pIcsInfo,
                                    int pred_sfb_max, int audioObjectType, int secondChannelLtp) {
    pMainHeader->ltp[0].ltp_data_present = 0;
    pMainHeader->ltp[1].ltp_data_present = 0;
    FieldReader r{ppBitStream, pOffset};
    const zufResult st = read_ics_head(r, pIcsInfo);
    if (st != zufOk) return st;
    if (pIcsInfo->predictor_data_present != 1) return zufOk;
    if (audioObjectType == 1) {  // AAC Main: the MPEG-2 predictor
        read_predictor_fields(r, pIcsInfo, pred_sfb_max);
        return zufOk;
    }
    // ISO/IEC 14496-3 4.4.2.1: other object types carry long-term prediction instead, for the
    // channel and, in a pair with common window, for the second channel too. ltp_data() reads
    // the window sequence and max_sfb from the owning record.
    pMainHeader->max_sfb = pIcsInfo->max_sfb;
    pMainHeader->window_sequence = pIcsInfo->window_sequence;
    for (int ch = 0; ch < (secondChannelLtp ? 2 : 1); ++ch) {
        AacLtpInfo* ltp = &pMainHeader->ltp[ch];
        ltp->ltp_data_present = r.get(1);
        if (ltp->ltp_data_present == 1) ownsDecodeLtpData_AAC(ppBitStream, pOffset, pMainHeader, ltp);
    }
    return zufOk;
}

zufResult ownsDecodeSectData_AAC(Zuf8u** ppBitStream, int* pOffset, int max_sfb, int window_sequence,
                                 int num_window_groups, Zuf8u* sect_cb, Zuf8u* sect_end, Zuf32s* num_sec,
                                 Zuf8u* sfb_cb) {
    FieldReader r{ppBitStream, pOffset};
    const bool is_short = window_sequence == aac::kEightShort;
    const uint32_t len_bits = is_short ? 3 : 5;
    const Zuf32s esc = is_short ? 7 : 31;
    int slot = 0;  // section slot, counted over all groups
    for (int g = 0; g < num_window_groups; ++g) {
        int k = 0;
        int i = 0;
        while (k < max_sfb) {
            // Every section a stream needs covers at least one band, so a group never has more
            // sections than max_sfb; zero-length sections beyond that would only make us read
            // on and write past the 120 section slots.
            if (i >= max_sfb || slot >= 120) return zufErrAacSectData;
            const Zuf32s cb = r.get(4);
            sect_cb[slot] = static_cast<Zuf8u>(cb);
            Zuf32s len = 0;
            Zuf32s incr;
            do {
                incr = r.get(len_bits);
                len += incr;
            } while (incr == esc && k + len <= max_sfb);
            const int stop = k + len < max_sfb ? k + len : max_sfb;
            for (int b = k; b < stop; ++b) sfb_cb[b] = static_cast<Zuf8u>(cb);
            k += len;
            sect_end[slot] = static_cast<Zuf8u>(k);  // at most max_sfb + 31 + 31
            ++slot;
            ++i;
        }
        if (k != max_sfb) return zufErrAacSectData;
        num_sec[g] = i;
        sfb_cb += max_sfb;
    }
    return zufOk;
}

namespace {

// scale_factor_data(), ISO/IEC 13818-7 8.3.3 and 9.2, ISO/IEC 14496-3 4.6.2.3.3. The scale
// factor, the intensity position and the noise energy are separate DPCM chains. The cache is
// topped up before every band that takes bits, so that a 19-bit codeword (or the 9-bit first
// noise energy) is always in it.
template <bool kMpeg4>
zufResult decode_scale_factors(Zuf8u** ppBitStream, int* pOffset, Zuf16s* out, int global_gain, int num_window_groups,
                               const Zuf32s* num_sec, const Zuf8u* sect_cb, const Zuf8u* sect_end) {
    BitCache bc(*ppBitStream, *pOffset);
    // One codeword of _pHfTableScf as a difference -60..60.
    auto difference = [&bc] {
        bc.ensure(19);
        return static_cast<int>(walk_tree(bc, _pHfTableScf) >> 1) - 60;
    };
    int scale_factor = global_gain;
    int is_position = 0;
    int noise_energy = 0;
    bool first_noise = true;
    int slot = 0;
    for (int g = 0; g < num_window_groups; ++g) {
        int band = 0;
        for (int i = 0; i < num_sec[g]; ++i, ++slot) {
            const int cb = sect_cb[slot];
            const int end = sect_end[slot];
            for (; band < end; ++band) {
                if (cb == aac::kZeroHcb) {
                    *out++ = 0;
                } else if (cb <= 11) {
                    scale_factor += difference();
                    if (scale_factor < 0 || scale_factor > 255) return zufErrAacSfValue;
                    *out++ = static_cast<Zuf16s>(scale_factor);
                } else if (aac::is_intensity(cb)) {
                    // is_position has no range of its own: the stereo tool interprets it.
                    is_position += difference();
                    *out++ = static_cast<Zuf16s>(is_position);
                } else if (kMpeg4 && cb == aac::kNoiseHcb) {
                    if (first_noise) {
                        // 9-bit first noise energy, relative to global_gain - NOISE_OFFSET (90)
                        // and biased by 256.
                        bc.ensure(9);
                        noise_energy = static_cast<int>(bc.get(9)) + global_gain - 346;
                        first_noise = false;
                    } else {
                        noise_energy += difference();
                        if (noise_energy < 0 || noise_energy > 255) return zufErrAacSfValue;
                    }
                    *out++ = static_cast<Zuf16s>(noise_energy);
                } else {
                    return zufErrAacCodebook;  // 12 (reserved), or 13 without noise substitution
                }
            }
        }
    }
    bc.finish(ppBitStream, pOffset);
    return zufOk;
}

}  // namespace

zufResult ownsDecodeScalefactor_AAC_1u16s(Zuf8u** ppBitStream, int* pOffset, Zuf16s* pScaleFactor, int global_gain,
                                          int num_window_groups, const Zuf32s* num_sec, const Zuf8u* sect_cb,
                                          const Zuf8u* sect_end) {
    return decode_scale_factors<false>(ppBitStream, pOffset, pScaleFactor, global_gain, num_window_groups, num_sec,
                                       sect_cb, sect_end);
}

zufResult ownsDecodeScalefactor_AAC_MPEG4_1u16s(Zuf8u** ppBitStream, int* pOffset, Zuf16s* pScaleFactor,
                                                int global_gain, int num_window_groups, const Zuf32s* num_sec,
                                                const Zuf8u* sect_cb, const Zuf8u* sect_end) {
    return decode_scale_factors<true>(ppBitStream, pOffset, pScaleFactor, global_gain, num_window_groups, num_sec,
                                      sect_cb, sect_end);
}

zufResult ownsDecodePulseData_AAC(Zuf8u** ppBitStream, int* pOffset, Zuf32s* number_pulse, Zuf32s* pulse_start_sfb,
                                  Zuf32s* pulse_offset, Zuf32s* pulse_amp) {
    FieldReader r{ppBitStream, pOffset};
    *number_pulse = r.get(2) + 1;
    *pulse_start_sfb = r.get(6);
    if (*pulse_start_sfb > aac::kMaxSfbLong) return zufErrAacPulse;
    for (int i = 0; i < *number_pulse; ++i) {
        pulse_offset[i] = r.get(5);
        pulse_amp[i] = r.get(4);
    }
    return zufOk;
}

zufResult ownsDecodeTnsData_AAC(Zuf8u** ppBitStream, int* pOffset, int window_sequence, Zuf32s* n_filt,
                                Zuf32s* coef_res, Zuf32s* length, Zuf32s* order, Zuf32s* direction, Zuf8s* coef) {
    FieldReader r{ppBitStream, pOffset};
    // ISO/IEC 13818-7 8.3.5 / Table 8.9: field widths and the largest order (TNS_MAX_ORDER of
    // the short window, and the 5-bit long-window field capped at 12 for every profile).
    const bool is_short = window_sequence == aac::kEightShort;
    const int windows = is_short ? 8 : 1;
    const uint32_t n_filt_bits = is_short ? 1 : 2;
    const uint32_t length_bits = is_short ? 4 : 6;
    const uint32_t order_bits = is_short ? 3 : 5;
    const Zuf32s max_order = is_short ? 7 : 12;
    int f = 0;  // filter slot over all windows (at most 8 short or 3 long)
    int d = 0;  // direction slot
    int c = 0;  // coefficient slot (at most 8 x 7 or 3 x 12)
    for (int w = 0; w < windows; ++w) {
        n_filt[w] = r.get(n_filt_bits);
        if (n_filt[w] == 0) continue;
        coef_res[w] = r.get(1) + 3;
        for (int i = 0; i < n_filt[w]; ++i, ++f) {
            length[f] = r.get(length_bits);
            order[f] = r.get(order_bits);
            if (order[f] > max_order) return zufErrAacTnsOrder;
            if (order[f] == 0) continue;
            direction[d++] = r.get(1);
            const Zuf32s compress = r.get(1);
            const uint32_t width = static_cast<uint32_t>(coef_res[w] - compress);  // 2..4 bits
            const Zuf32s half = Zuf32s{1} << (width - 1);
            for (int j = 0; j < order[f]; ++j) {
                const Zuf32s v = r.get(width);
                coef[c++] = static_cast<Zuf8s>(v >= half ? v - 2 * half : v);
            }
        }
    }
    return zufOk;
}

void ownsDecodeLtpData_AAC(Zuf8u** ppBitStream, int* pOffset, const AacMainHeader* pMainHeader, AacLtpInfo* pLtp) {
    FieldReader r{ppBitStream, pOffset};
    pLtp->ltp_lag = r.get(11);
    pLtp->ltp_coef = _Tab_LtpCoef_AAC[r.get(3)];
    if (pMainHeader->window_sequence == aac::kEightShort) {
        pLtp->ltp_short_lag[0] = pLtp->ltp_lag;
        int prev = -1;  // previous used window
        for (int w = 0; w < 8; ++w) {
            pLtp->ltp_short_used[w] = r.get(1);
            if (pLtp->ltp_short_used[w] == 0) continue;
            if (prev < 0) {
                pLtp->ltp_short_lag_present[w] = 0;
                pLtp->ltp_short_lag[w] = pLtp->ltp_short_lag[0];
            } else {
                pLtp->ltp_short_lag_present[w] = r.get(1);
                if (pLtp->ltp_short_lag_present[w] == 1) {
                    const Zuf32s delta = r.get(5);
                    // ltp_short_lag_delta is coded with a bias of 16 against the previous lag.
                    pLtp->ltp_short_lag[w] = static_cast<Zuf16s>(pLtp->ltp_short_lag[prev] - delta) + 16;
                } else {
                    pLtp->ltp_short_lag[w] = pLtp->ltp_short_lag[prev];
                }
            }
            prev = w;
        }
        return;
    }
    pLtp->ltp_long_present = pLtp->ltp_data_present;
    // MAX_LTP_LONG_SFB = 40 (ISO/IEC 14496-3 4.5.2.1.1).
    int bands = pMainHeader->max_sfb < 40 ? pMainHeader->max_sfb : 40;
    if (bands < 0) bands = 0;
    int sfb = 0;
    for (; sfb < bands; ++sfb) pLtp->ltp_long_used[sfb] = r.get(1);
    for (; sfb < 40; ++sfb) pLtp->ltp_long_used[sfb] = 0;
}

}  // namespace zuf
