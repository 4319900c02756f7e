// SBR encoder analysis: the 64-band complex QMF analysis bank over a caller-kept 640-sample window
// (ISO/IEC 14496-3 4.6.18.4.1 with the complex-exponential modulation of the encoder), the
// transient detector over per-band energies, and the tonality-to-noise estimate from the
// covariance prediction gain.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "common/checks.h"
#include "common/context.h"
#include "zufack9/zuf_sbr.h"
#include "zufack9/zuf_transforms.h"

// Context header at the caller's block rounded up to 16 bytes; the 64-point FFT context (order 6,
// no scaling) and its work area follow in the same block.
struct AnalysisFilterEncContext_SBR_32f {
    uint32_t id;             // 0x434D416A
    FftContext_C_32fc* fft;  // inside the block
    Zuf8u* work;             // FFT work area, inside the block
    int32_t allocated;       // 1: InitAlloc made the block
};

namespace zuf::sbr {

namespace {

constexpr uint32_t kIdEnc = amc_id(0x6A);
constexpr int kFftOrder = 6, kFftFlag = 8, kFftHint = 2;
constexpr std::size_t kHeaderBytes = (sizeof(AnalysisFilterEncContext_SBR_32f) + 15) & ~std::size_t{15};

using Ctx = AnalysisFilterEncContext_SBR_32f;

int round_down16(int v) { return v & ~15; }

const Ctx* ctx_at(const void* p) { return align_up(static_cast<const Ctx*>(p), 16); }

// (a + ib)(c + is), with (c, s) = tab[2m], tab[2m + 1].
inline void rotate(float a, float b, const float* tab, int m, float& re, float& im) {
    const float c = tab[2 * m], s = tab[2 * m + 1];
    re = a * c - b * s;
    im = a * s + b * c;
}

void ownsAnalysisFilterEnc(const Zuf32f* pSrc, Zuf32fc* pDst, const Ctx* ctx) {
    const float* c = SBR_TAB_QMF_WINDOW_640_FP;
    // 1. windowing: the five 128-sample blocks, newest sample at pSrc[639]
    alignas(16) float u[128];
    for (int n = 0; n < 128; ++n) {
        float acc = 0.0f;
        for (int j = 0; j < 5; ++j) acc += c[n + 128 * j] * pSrc[639 - 128 * j - n];
        u[n] = acc;
    }
    // 2. fold: t[0] = u[0] + i u[1], t[m] = -u[128 - m] + i u[m + 1]; as floats f[2m], f[2m + 1]
    alignas(16) float f[128];
    f[0] = u[0];
    f[1] = u[1];
    for (int m = 1; m < 64; ++m) {
        f[2 * m] = -u[128 - m];
        f[2 * m + 1] = u[m + 1];
    }
    // 3. pre-twiddle the pairs (f[2m], f[127 - 2m]), 64-point FFT, post-twiddle
    alignas(16) Zuf32fc v[64], V[64];
    for (int m = 0; m < 64; ++m) rotate(f[2 * m], f[127 - 2 * m], SBR_TAB2_QMF_ENC_FP, m, v[m].re, v[m].im);
    zufsFFTFwd_CToC_32fc(v, V, ctx->fft, ctx->work);
    alignas(16) float w[128];
    for (int m = 0; m < 64; ++m) {
        float re, im;
        rotate(V[m].re, V[m].im, SBR_TAB3_QMF_ENC_FP, m, re, im);
        w[2 * m] = re;
        w[127 - 2 * m] = -im;
    }
    // 4. output quadrant
    for (int m = 0; m < 64; ++m) rotate(w[m], -w[127 - m], SBR_TAB4_QMF_ENC_FP, m, pDst[m].re, pDst[m].im);
}

// Q(a): the mean of the energies a and a + 1.
inline float pair_mean(const Zuf32f* e, int a) { return (e[a] + e[a + 1]) * 0.5f; }

void ownsDetectTransient(const Zuf32f* e, Zuf32f* pThr, Zuf32f* tr) {
    constexpr float kMinThreshold = 128000.0f;  // MAX_THRESHOLD: the floor of the smoothed threshold
    float sd = 0.0f;
    zufsStdDev_32f(e + 16, 48, &sd, 1);
    float thr = 0.34f * sd + 0.66f * *pThr;
    thr = thr > kMinThreshold ? thr : kMinThreshold;
    *pThr = thr;
    const float inv = 1.0f / thr;
    auto add = [&](float delta, int t) {
        if (delta > thr) tr[t] += delta * inv - 1.0f;
    };
    const float q12 = pair_mean(e, 12), q14 = pair_mean(e, 14), q16 = pair_mean(e, 16), q18 = pair_mean(e, 18);
    add(q16 - q14, 16);
    add(q16 + q18 - 2.0f * q14, 16);
    add(q16 + 2.0f * q18 - 2.0f * q14 - q12, 16);
    for (int t = 17; t <= 59; t += 2) {
        const int a = t + 1;
        const float qm4 = pair_mean(e, a - 4), qm2 = pair_mean(e, a - 2), q0 = pair_mean(e, a),
                    qp2 = pair_mean(e, a + 2);
        const float d1 = q0 - qm2;
        add(d1, t);
        add(d1, t + 1);
        add(2.0f * q0 - qm2 - qm4, t);
        add(2.0f * q0 + qp2 - qm2 - 2.0f * qm4, t);
        add(q0 + qp2 - 2.0f * qm2, t + 1);
        add(q0 + 2.0f * qp2 - 2.0f * qm2 - qm4, t + 1);
    }
}

// Tonality of one block of 16 values: the prediction gain of the covariance method (without the
// stability limit) over the block's last 14 values; phi(0,0) is the block energy.
float ownsTnrBlock(const Zuf32fc* x, float& energy) {
    constexpr float kRelax = 0.99999905f;  // 1 / (1 + 1e-6)
    float p00 = 0, p01r = 0, p01i = 0, p02r = 0, p02i = 0, p11 = 0, p12r = 0, p12i = 0, p22 = 0;
    for (int n = 2; n < 16; ++n) {
        const Zuf32fc a = x[n], b = x[n - 1], c = x[n - 2];
        p00 += a.re * a.re + a.im * a.im;
        p01r += a.re * b.re + a.im * b.im;
        p01i += a.im * b.re - a.re * b.im;
        p02r += a.re * c.re + a.im * c.im;
        p02i += a.im * c.re - a.re * c.im;
        p11 += b.re * b.re + b.im * b.im;
        p12r += b.re * c.re + b.im * c.im;
        p12i += b.im * c.re - b.re * c.im;
        p22 += c.re * c.re + c.im * c.im;
    }
    energy = p00;
    const float d = p22 * p11 - kRelax * (p12r * p12r + p12i * p12i);
    float a1r = 0, a1i = 0, a0r = 0, a0i = 0;
    if (d != 0.0f) {
        a1r = (p01r * p12r - p01i * p12i - p02r * p11) / d;
        a1i = (p01r * p12i + p01i * p12r - p02i * p11) / d;
    }
    if (d != 0.0f && p11 != 0.0f) {  // a singular block predicts nothing
        a0r = -(p01r + (a1r * p12r + a1i * p12i)) / p11;
        a0i = -(p01i + (a1i * p12r - a1r * p12i)) / p11;
    }
    if (p00 == 0.0f) return 0.0f;
    const float g = -((a0r * p01r + a0i * p01i) + (a1r * p02r + a1i * p02i)) / p00;
    constexpr float kInvEps = 1e6f;  // INV_EPS: the TNR of a perfectly predictable block
    return std::fabs(1.0f - g) > 1e-6f ? g / (1.000001f - g) : kInvEps;
}

}  // namespace

}  // namespace zuf::sbr

using namespace zuf;
using namespace zuf::sbr;

extern "C" {

ZUF_API zufResult zufsAnalysisFilterEncGetSize_SBR_32f(int* pSpecSize, int* pInitBufSize) {
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize), zufErrNullPtr);
    int fftSpec = 0, init = 0, work = 0;
    if (const zufResult st = zufsFFTGetSize_C_32fc(kFftOrder, kFftFlag, kFftHint, &fftSpec, &init, &work); st != zufOk)
        return st;
    // the header (at most 48 bytes) and the alignment slack live in the 63 bytes
    *pSpecSize = round_down16(fftSpec + 19) + round_down16(work + 19) + 63;
    *pInitBufSize = init + 4;
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilterEncInit_SBR_32f(Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    ZUF_REQUIRE(nonnull(pMemSpec, pMemInit), zufErrNullPtr);
    int fftSpec = 0, init = 0, work = 0;
    if (const zufResult st = zufsFFTGetSize_C_32fc(kFftOrder, kFftFlag, kFftHint, &fftSpec, &init, &work); st != zufOk)
        return st;
    Ctx* ctx = align_up(reinterpret_cast<Ctx*>(pMemSpec), 16);
    Zuf8u* fftMem = reinterpret_cast<Zuf8u*>(ctx) + kHeaderBytes;
    FftContext_C_32fc* fft = nullptr;
    if (const zufResult st = zufsFFTInit_C_32fc(&fft, kFftOrder, kFftFlag, kFftHint, fftMem, pMemInit); st != zufOk)
        return st;
    ctx->id = kIdEnc;
    ctx->fft = fft;
    ctx->work = fftMem + round_down16(fftSpec + 19);
    ctx->allocated = 0;
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilterEncInitAlloc_SBR_32f(AnalysisFilterEncContext_SBR_32f** ppSpec) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    int specSize = 0, initSize = 0;
    if (const zufResult st = zufsAnalysisFilterEncGetSize_SBR_32f(&specSize, &initSize); st != zufOk) return st;
    Zuf8u* block = zufsMalloc_8u(specSize);
    if (!block) return zufErrNoMemory;
    Zuf8u* initBuf = zufsMalloc_8u(initSize);
    if (!initBuf) {
        zufsFree(block);
        return zufErrNoMemory;
    }
    const zufResult st = zufsAnalysisFilterEncInit_SBR_32f(block, initBuf);
    zufsFree(initBuf);
    if (st != zufOk) {
        zufsFree(block);
        return st;
    }
    Ctx* ctx = align_up(reinterpret_cast<Ctx*>(block), 16);
    ctx->allocated = 1;
    *ppSpec = reinterpret_cast<Ctx*>(block);
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilterEncFree_SBR_32f(AnalysisFilterEncContext_SBR_32f* pSpec) {
    ZUF_REQUIRE(pSpec != nullptr, zufErrNullPtr);
    Ctx* ctx = align_up(pSpec, 16);
    ZUF_REQUIRE(context_word(ctx, 0) == kIdEnc, zufErrContext);
    ctx->id = 0;
    if (ctx->allocated) zufsFree(pSpec);
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilterEnc_SBR_32f32fc(const Zuf32f* pSrc, Zuf32fc* pDst,
                                                    const AnalysisFilterEncContext_SBR_32f* pSpec) {
    ZUF_REQUIRE(nonnull(pSrc, pDst, pSpec), zufErrNullPtr);
    const Ctx* ctx = ctx_at(pSpec);
    ZUF_REQUIRE(context_word(ctx, 0) == kIdEnc, zufErrContext);
    ownsAnalysisFilterEnc(pSrc, pDst, ctx);
    return zufOk;
}

ZUF_API zufResult zufsDetectTransient_SBR_32f(const Zuf32f* pSrc, Zuf32f* pThr, Zuf32f* pTransient) {
    ZUF_REQUIRE(nonnull(pSrc, pThr, pTransient), zufErrNullPtr);
    ownsDetectTransient(pSrc, pThr, pTransient);
    return zufOk;
}

ZUF_API zufResult zufsEstimateTNR_SBR_32f(const Zuf32fc* pSrc, Zuf32f* pTnr0, Zuf32f* pTnr1, Zuf32f* pMeanNrg) {
    ZUF_REQUIRE(nonnull(pSrc, pTnr0, pTnr1, pMeanNrg), zufErrNullPtr);
    float e0 = 0.0f, e1 = 0.0f;
    *pTnr0 = ownsTnrBlock(pSrc, e0);
    *pTnr1 = ownsTnrBlock(pSrc + 16, e1);
    *pMeanNrg = (e0 + e1) * 0.5f;
    return zufOk;
}

}  // extern "C"
