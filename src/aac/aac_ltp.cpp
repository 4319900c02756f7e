// AAC long-term prediction (ISO/IEC 14496-3 4.6.6): the predicted time signal taken from the
// channel's history of reconstructed samples, the addition of its spectrum in the bands that use
// it, and the history update after each frame.
//
// History (3072 samples, the caller's Q format, Q3 in the reference decoder): 0..2047 the two
// latest complete frames, older first; 2048..3071 the windowed second half of the latest inverse
// transform, which the next overlap-add completes (ISO/IEC 14496-3 4.6.6.3, x_est from the
// fully and partly reconstructed time signal).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "aac/aac_filterbank.h"
#include "aac/aac_mdct_fwd.h"
#include "aac/aac_spectral.h"
#include "common/checks.h"
#include "common/fixed_point.h"
#include "frame/vec_kernels.h"
#include "zufack9/zuf_aac.h"

namespace zuf {
namespace {

constexpr int kHistory = 3072;

// (history sample * ltp_coef) >> 14 with the coefficient in Q14; positions outside the history
// (lags beyond the 11-bit range of the syntax) read as zero.
inline int32_t scaled(const Zuf32s* h, int64_t idx, int32_t g) {
    if (idx < 0 || idx >= kHistory) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>((int64_t{h[idx]} * g) >> 14)));
}

// Reads `count` predicted samples from history position `start`, zeroes the rest of `len`.
void predict_run(const Zuf32s* h, Zuf32s* dst, int64_t start, int64_t count, int len, int32_t g) {
    count = std::clamp<int64_t>(count, 0, len);
    for (int n = 0; n < count; ++n) dst[n] = scaled(h, start + n, g);
    for (int64_t n = count; n < len; ++n) dst[n] = 0;
}

// Inverse transform of N = 1024 or 128 values (scaled core: Q3 in, Q3 out), expanded to the 2N
// samples y by the core's symmetries, then windowed at unit gain like the analysis bank.
void windowed_inverse(const Zuf32s* spectrum, Zuf32s* core, Zuf32s* y, Zuf32s* out, int n, int seq, int shape,
                      int prevShape) {
    std::memcpy(core, spectrum, sizeof(Zuf32s) * n);
    ownsMDCTInv_Radix2_32s(core, n);
    const int h = n / 2;
    for (int i = 0; i < h; ++i) {
        y[i] = core[i];
        y[n - 1 - i] = wrap_sub(0, core[i]);
        y[n + i] = y[2 * n - 1 - i] = core[h + i];
    }
    ownsMDCTFwd_Window_32s(y, out, seq, shape, prevShape, false);
}

void ownsLongTermPredict_AAC_32s(const Zuf32s* h, Zuf32s* dst, const AacLtpInfo* info, int seq) {
    const int32_t g = info->ltp_coef;
    if (seq != aac::kEightShort) {
        const int64_t lag = info->ltp_lag;
        predict_run(h, dst, 2048 - lag, std::min<int64_t>(1024 + lag, 2048), 2048, g);
        return;
    }
    for (int w = 0; w < 8; ++w) {
        if (info->ltp_short_used[w] == 0) continue;
        const int64_t s = info->ltp_short_lag[w];
        predict_run(h, dst + 256 * w, 2816 - s, std::min<int64_t>(256 + s, 256), 256, g);
    }
}

void ownsLongTermReconstruct_AAC_32s(const Zuf32s* est, Zuf32s* spectrum, const int* flag, int seq, int rate) {
    if (seq != aac::kEightShort) {
        const aac::Bands b = aac::bands(rate, 1024);
        for (int sfb = 0; sfb < 40; ++sfb)
            if (flag[sfb + 1] != 0)
                for (int k = b.offset[sfb]; k < b.offset[sfb + 1]; ++k) spectrum[k] = wrap_add(spectrum[k], est[k]);
        return;
    }
    const aac::Bands b = aac::bands(rate, 128);
    for (int w = 0; w < 8; ++w)
        if (flag[w] != 0)
            for (int k = b.offset[0]; k < b.offset[8]; ++k)
                spectrum[128 * w + k] = wrap_add(spectrum[128 * w + k], est[128 * w + k]);
}

void ownsLtpUpdate_AAC_32s(const Zuf32s* spectrum, Zuf32s* h, int seq, int shape, int prevShape, Zuf32s* work) {
    // Work layout: transform core 0..1023, expanded samples 2048..4095, windowed 4096..6143.
    Zuf32s* core = work;
    Zuf32s* y = work + 2048;
    Zuf32s* o = work + 4096;
    std::memmove(h, h + 1024, sizeof(Zuf32s) * 2048);
    if (seq != aac::kEightShort) {
        windowed_inverse(spectrum, core, y, o, 1024, seq, shape, prevShape);
        ownsAdd_32s_ISfs_sse2(o, h + 1024, 1024, 0);  // saturating, as the vector addition
        std::memcpy(h + 2048, o + 1024, sizeof(Zuf32s) * 1024);
        return;
    }
    std::memset(h + 2048, 0, sizeof(Zuf32s) * 1024);
    for (int w = 0; w < 8; ++w) {
        windowed_inverse(spectrum + 128 * w, core, y, o, 128, seq, shape, w == 0 ? prevShape : shape);
        ownsAdd_32s_ISfs_sse2(o, h + 1472 + 128 * w, 256, 0);
    }
}

}  // namespace
}  // namespace zuf

extern "C" ZUF_API zufResult zufsLongTermPredict_AAC_32s(const Zuf32s* pSrc, Zuf32s* pDst, const AacLtpInfo* pLtpInfo,
                                                         int windowSequence) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pLtpInfo), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    zuf::ownsLongTermPredict_AAC_32s(pSrc, pDst, pLtpInfo, windowSequence);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsLongTermReconstruct_AAC_32s(const Zuf32s* pSrcEstSpec, Zuf32s* pSrcDstSpec,
                                                             const int* pLtpFlag, int windowSequence,
                                                             int samplingRateIndex) {
    ZUF_REQUIRE(zuf::nonnull(pSrcEstSpec, pSrcDstSpec, pLtpFlag), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(samplingRateIndex, 0, 12), zufErrAacSmplRateIdx);
    // 7350 Hz (index 12) shares the band tables of 8000 Hz.
    const int rate = samplingRateIndex == 12 ? 11 : samplingRateIndex;
    zuf::ownsLongTermReconstruct_AAC_32s(pSrcEstSpec, pSrcDstSpec, pLtpFlag, windowSequence, rate);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsLtpUpdate_AAC_32s(const Zuf32s* pSrcSpec, Zuf32s* pSrcDstBuffer, int windowSequence,
                                                   int windowShape, int prevWindowShape, Zuf32s* pWork) {
    ZUF_REQUIRE(zuf::nonnull(pSrcSpec, pSrcDstBuffer, pWork), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(windowShape, 0, 1) && zuf::in_range(prevWindowShape, 0, 1), zufErrAacWinShape);
    zuf::ownsLtpUpdate_AAC_32s(pSrcSpec, pSrcDstBuffer, windowSequence, windowShape, prevWindowShape, pWork);
    return zufOk;
}
