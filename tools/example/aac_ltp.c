/*
 * Long-term prediction for the example AAC decoder (ISO/IEC 14496-3 4.6.6): the decoder keeps
 * the channel's last reconstructed samples, predicts the new frame from them with the coded lag
 * and gain, and adds the predicted spectrum in the bands that ask for it, before TNS and the
 * filter bank. The prediction goes through the same windows and forward MDCT as an encoder's
 * analysis, so the predicted spectrum is in the decoded spectrum's Q3.
 */
#include "aac_ltp.h"

void aac_ltp_take(AacLtpChannel *l, const AacMainHeader *mh, int index) { l->info = mh->ltp[index]; }

void aac_ltp_predict(AacLtpChannel *l, int aot, Zuf32s *x, const AacIcsInfo *ics, int prev_shape, int sfi,
                     const AacChanInfo *ci, const Zuf8s *tns) {
    const Zuf32s unused = 0;
    /* Short windows carry no ltp_data in AAC LTP (ics_info reads it for long windows only). */
    if (aot != AAC_AOT_LTP || !l->info.ltp_data_present || ics->window_sequence == ZUF_AAC_EIGHT_SHORT_SEQUENCE)
        return;
    zufsLongTermPredict_AAC_32s(l->history, l->time, &l->info, ics->window_sequence);
    /* The history's Q3 samples stay below 2^20, so the unscaled transform cannot wrap. */
    zufsMDCTFwd_AAC_32s(l->time, l->est, &unused, ics->window_sequence, ics->window_shape, prev_shape,
                        l->work);
    if (ci->tns_data_present)
        zufsEncodeTNS_AAC_32s_I(l->est, ci->n_filt, ci->length, ci->order, ci->coef_res, tns, ci->direction,
                                ics->max_sfb, 1, sfi, 1024);
    zufsLongTermReconstruct_AAC_32s(l->est, x, &l->info.ltp_long_present, ics->window_sequence, sfi);
}

void aac_ltp_update(AacLtpChannel *l, int aot, const Zuf32s *x, const AacIcsInfo *ics, int prev_shape) {
    if (aot != AAC_AOT_LTP) return;
    zufsLtpUpdate_AAC_32s(x, l->history, ics->window_sequence, ics->window_shape, prev_shape, l->work);
}
