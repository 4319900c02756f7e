/*
 * Long-term prediction for the example AAC decoder (ISO/IEC 14496-3 4.6.6): the decoder keeps
 * the channel's last reconstructed samples, predicts the new frame from them with the coded lag
 * and gain, and adds the predicted spectrum in the bands that ask for it, before TNS and the
 * filter bank. The prediction goes through the same windows and forward MDCT as an encoder's
 * analysis, so the predicted spectrum is in the decoded spectrum's Q3.
 */
#include "aac_ltp.h"

int aac_ltp_take(AacLtpChannel *l, const AacMainHeader *mh, int index) {
    l->info = mh->ltp[index];
    return l->info.ltp_data_present != 0;
}

void aac_ltp_predict(AacLtpChannel *l, int aot, Zuf32s *x, const AacIcsInfo *ics, int prev_shape, int sfi,
                     const AacChanInfo *ci, const Zuf8s *tns) {
    /* ltp_coef of ISO/IEC 14496-3 Table 4.147, in Q24: the record's Q14 gain is too coarse for
     * 16-bit accuracy (0.570829 is 9352 / 2^14 within 5e-5, a quarter LSB on a loud prediction). */
    static const Zuf16s q14[8] = {9352, 11413, 13320, 14931, 16137, 17496, 19572, 22438};
    static const Zuf64s q24[8] = {9576921, 11687277, 13639944, 15289144, 16523880, 17916288, 20042079, 22976951};
    AacLtpInfo unit;
    Zuf64s gain = (Zuf64s)l->info.ltp_coef << 10;
    int i;
    /* Short windows carry no ltp_data in AAC LTP (ics_info reads it for long windows only). */
    if (aot != AAC_AOT_LTP || !l->info.ltp_data_present || ics->window_sequence == ZUF_AAC_EIGHT_SHORT_SEQUENCE) return;
    for (i = 0; i < 8; ++i)
        if (l->info.ltp_coef == q14[i]) gain = q24[i];
    unit = l->info;
    unit.ltp_coef = 16384; /* the history's samples unchanged; the gain follows below */
    zufsLongTermPredict_AAC_32s(l->history, l->time, &unit, ics->window_sequence);
    /* The in-place transform gives X / 4096 with block floating point, so the Q3 samples go in
     * with 12 more fractional bits, times the gain (below 2^31 for 16-bit audio; clipped) and the
     * spectrum comes out in Q3 with the window products' truncation 4096 times smaller than the
     * unit-gain transform's, and no risk of wrapping. */
    for (i = 0; i < 2048; ++i) {
        const Zuf64s v = l->time[i] > 0x50000 ? 0x50000 : l->time[i] < -0x50000 ? -0x50000 : l->time[i];
        l->time[i] = (Zuf32s)((v * gain + 2048) >> 12);
    }
    zufsMDCTFwd_AAC_32s_I(l->time, ics->window_sequence, ics->window_shape, prev_shape, 2048);
    if (ci->tns_data_present)
        zufsEncodeTNS_AAC_32s_I(l->time, ci->n_filt, ci->length, ci->order, ci->coef_res, tns, ci->direction,
                                ics->max_sfb, 1, sfi, 1024);
    zufsLongTermReconstruct_AAC_32s(l->time, x, &l->info.ltp_long_present, ics->window_sequence, sfi);
}

void aac_ltp_update(AacLtpChannel *l, int aot, const Zuf32s *x, const AacIcsInfo *ics, int prev_shape) {
    if (aot != AAC_AOT_LTP) return;
    zufsLtpUpdate_AAC_32s(x, l->history, ics->window_sequence, ics->window_shape, prev_shape, l->work);
}
