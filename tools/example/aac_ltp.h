/*
 * Long-term prediction of the AAC-LTP object type (ISO/IEC 14496-3 4.6.6) for the example AAC
 * decoder: per channel, the history of reconstructed samples (in the spectrum's Q3) and the
 * ltp_data of the current frame.
 */
#ifndef ZUF_EXAMPLE_AAC_LTP_H
#define ZUF_EXAMPLE_AAC_LTP_H

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AAC_AOT_LTP 4 /* audioObjectType of AAC LTP (ADTS profile 3 + 1) */

typedef struct {
    Zuf32s history[3072]; /* two reconstructed frames, then the pending windowed half */
    AacLtpInfo info;      /* this frame's ltp_data */
    Zuf32s time[2048];    /* predicted time signal, then its spectrum */
    Zuf32s work[6144];
} AacLtpChannel;

/* Keeps the channel's ltp_data from the record the parser filled (index 0 for a channel's own
 * ics_info, the channel number for a pair's common one). Returns 1 when ltp_data is present. */
int aac_ltp_take(AacLtpChannel *l, const AacMainHeader *mh, int index);

/* Adds the prediction to the Q3 spectrum x (long windows with ltp_data_present only): history at
 * ltp_lag times ltp_coef, windowed forward MDCT (ISO/IEC 14496-3 4.6.6.3), TNS analysis filter when the channel has TNS
 * data, then the bands whose ltp_long_used is set. Does nothing unless aot is AAC_AOT_LTP. */
void aac_ltp_predict(AacLtpChannel *l, int aot, Zuf32s *x, const AacIcsInfo *ics, int prev_shape, int sfi,
                     const AacChanInfo *ci, const Zuf8s *tns);

/* Pushes the frame into the history: x is the spectrum as it goes into the filter bank. */
void aac_ltp_update(AacLtpChannel *l, int aot, const Zuf32s *x, const AacIcsInfo *ics, int prev_shape);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_AAC_LTP_H */
