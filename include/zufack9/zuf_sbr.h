/*
 * libzufack9 filter banks and SBR tools: the QMF banks of the spectral band replication tool of
 * ISO/IEC 14496-3 (4.6.18.4) in float and in 32-bit fixed point, the covariance-method
 * prediction of its HF generator and the encoder-side analysis (bank, transient detector,
 * tonality), and the 32-band polyphase filter banks of ISO/IEC 11172-3 in float.
 *
 * The SBR prototype window c[0..639] (ISO/IEC 14496-3 Table 4.A.87) is exported in every format
 * the banks and their callers use. The 32-band SBR banks (analysis, down-sampled synthesis)
 * window with the even-indexed half c[2n], n = 0..319.
 */
#ifndef ZUFACK9_ZUF_SBR_H
#define ZUFACK9_ZUF_SBR_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- SBR prototype window ---------------------------------------------------------------- */

ZUF_API extern const Zuf32f SBR_TAB_QMF_WINDOW_640_FP[640];        /* c[n], float           */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_640_INT_Q30[640]; /* c[n] * 2^30, rounded  */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_640_INT_Q31[640]; /* c[n] * 2^31, rounded  */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_320_INT_Q30[320]; /* c[2n] * 2^30, rounded */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_320_INT_Q31[320]; /* c[2n] * 2^31, rounded */

/* ---- SBR QMF banks, floating point --------------------------------------------------------- */

/* ---- SBR QMF banks, fixed point ------------------------------------------------------------ */

/* ---- SBR prediction and encoder analysis --------------------------------------------------- */

/* ---- MP3 polyphase filter banks, floating point ------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_SBR_H */
