// The float SBR QMF banks of ISO/IEC 14496-3 4.6.18.4: 32-band analysis (complex and real),
// 64-band synthesis and its 32-band down-sampled form. Each bank is a history ring with a moving
// position, a window-and-fold (or window-and-sum) loop and a transform built on the library's FFT
// or DCT, whose context sits at the start of the caller's block.
//
// One algorithm, two instantiations: every kernel is a template over a four-lane float type,
// xf::Lanes4 (the scalar reference) or __m128 (SSE). Both perform the same IEEE operations in the
// same order on every lane and call the same transform, so the two paths agree bit for bit. The
// vector path reads and writes the caller's arrays unaligned, so it serves every alignment.
#include "sbr/sbr_qmf_float.h"

#include <cstring>

#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"
#include "transforms/fft_internal.h"
#include "zufack9/zuf_transforms.h"

namespace zuf {
namespace {

using xf::add;
using xf::bcast;
using xf::deinterleave;
using xf::interleave;
using xf::Lanes4;
using xf::load;
using xf::loada;
using xf::mul;
using xf::reverse;
using xf::storea;
using xf::sub;

// ------------------------------------------------------------------ contexts
// The nested transform of each bank: FFT flag 8 (no scaling) and hint 2; DCT hint 2 (inverse) or 1.
enum class Xform { FftSplit5, Fft5, Fft6, DctInv32, DctFwd64, DctFwd32 };

zufResult ownsXformSizes(Xform t, int* pSpec, int* pInit, int* pWork) {
    switch (t) {
        case Xform::FftSplit5:
            return zufsFFTGetSize_C_32f(5, 8, 2, pSpec, pInit, pWork);
        case Xform::Fft5:
            return zufsFFTGetSize_C_32fc(5, 8, 2, pSpec, pInit, pWork);
        case Xform::Fft6:
            return zufsFFTGetSize_C_32fc(6, 8, 2, pSpec, pInit, pWork);
        case Xform::DctInv32:
            return zufsDCTInvGetSize_32f(32, 2, pSpec, pInit, pWork);
        case Xform::DctFwd64:
            return zufsDCTFwdGetSize_32f(64, 1, pSpec, pInit, pWork);
        case Xform::DctFwd32:
            return zufsDCTFwdGetSize_32f(32, 1, pSpec, pInit, pWork);
    }
    return zufErrSize;
}

// Builds the transform at `mem`; its status is not examined (the arguments are fixed and valid).
void* ownsXformInit(Xform t, Zuf8u* mem, Zuf8u* init) {
    switch (t) {
        case Xform::FftSplit5: {
            FftContext_C_32f* p = nullptr;
            zufsFFTInit_C_32f(&p, 5, 8, 2, mem, init);
            return p;
        }
        case Xform::Fft5:
        case Xform::Fft6: {
            FftContext_C_32fc* p = nullptr;
            zufsFFTInit_C_32fc(&p, t == Xform::Fft5 ? 5 : 6, 8, 2, mem, init);
            return p;
        }
        case Xform::DctInv32: {
            DctInvContext_32f* p = nullptr;
            zufsDCTInvInit_32f(&p, 32, 2, mem, init);
            return p;
        }
        case Xform::DctFwd64:
        case Xform::DctFwd32: {
            DctFwdContext_32f* p = nullptr;
            zufsDCTFwdInit_32f(&p, t == Xform::DctFwd64 ? 64 : 32, 1, mem, init);
            return p;
        }
    }
    return nullptr;
}

constexpr int round16(int n) { return (n + 15) & ~15; }

// K of the context size: 15 bytes of alignment slack, the header (16 bytes, 32 with 8-byte
// pointers) and the ring; the real synthesis ring has one spare float (1281, rounded to 16).
constexpr int kAnalysisK = 1327;   // 15 + 32 + 320 * 4
constexpr int kSynthesisK = 5167;  // 15 + 32 + 1280 * 4
constexpr int kSynthesisRealK = 5183;
constexpr int kDownK = 2607;  // 15 + 32 + 640 * 4
static_assert(round16(sizeof(SbrQmfFloatHeader)) <= 32, "the header fits the slack of K");

zufResult ownsQmfGetSize(Xform t, int k, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize, pWorkBufSize), zufErrNullPtr);
    int xformBytes = 0, init = 0, work = 0;
    ownsXformSizes(t, &xformBytes, &init, &work);
    *pSpecSize = round16(xformBytes) + k;
    *pInitBufSize = init + 4;
    *pWorkBufSize = work + 4;
    return zufOk;
}

template <class Ctx>
zufResult ownsQmfInit(Ctx** ppSpec, Zuf8u* pMemSpec, Zuf8u* pMemInit, Xform t, uint32_t id, int histFloats) {
    ZUF_REQUIRE(nonnull(ppSpec, pMemSpec, pMemInit), zufErrNullPtr);
    Zuf8u* block = align_up(pMemSpec, 16);
    int xformBytes = 0, init = 0, work = 0;
    ownsXformSizes(t, &xformBytes, &init, &work);
    void* xform = ownsXformInit(t, block, pMemInit);
    auto* h = reinterpret_cast<Ctx*>(block + round16(xformBytes));
    auto* hist = reinterpret_cast<float*>(reinterpret_cast<Zuf8u*>(h) + round16(sizeof(SbrQmfFloatHeader)));
    h->id = id;
    h->pHist = hist;
    h->pos = 0;
    h->pTransform = xform;
    std::memset(hist, 0, static_cast<std::size_t>(histFloats) * sizeof(float));
    *ppSpec = h;
    return zufOk;
}

inline bool ownsIdOk(const void* pSpec, uint32_t n) { return context_word(pSpec, 0) == amc_id(n); }

// The window loops have no lane crossings and read whole runs of the ring (slots start at
// multiples of eight floats): the vector path runs them as wide as the build allows, the scalar
// reference one float at a time, both with the same operations per element.
inline LaneF window_lane(__m128) { return LaneF{}; }
inline float window_lane(Lanes4) { return 0.0f; }
template <class V>
using WindowLane = decltype(window_lane(V{}));

// ------------------------------------------------------------------ analysis kernels
// Window and fold of one slot (ring x of 320 floats, newest sample at x[pos]):
// u[k] = sum_{j<5} w[k + 64j] x[(pos + k + 64j) mod 320], k = 0..63, j in order.
template <class V>
void ownsAnalysisWindow(const float* src, float* x, int pos, const float* win, float* u) {
    for (int i = 0; i < 32; i += 4) storea(x + pos + 28 - i, reverse(load<V>(src + i)));
    using W = WindowLane<V>;
    constexpr int L = sizeof(W) / sizeof(float);
    for (int k = 0; k < 64; k += 2 * L) {
        W a0 = lane_load<W>(win + k) * lane_load<W>(x + (pos + k) % 320);
        W a1 = lane_load<W>(win + k + L) * lane_load<W>(x + (pos + k + L) % 320);
        for (int j = 64; j < 320; j += 64) {
            a0 = a0 + lane_load<W>(win + k + j) * lane_load<W>(x + (pos + k + j) % 320);
            a1 = a1 + lane_load<W>(win + k + L + j) * lane_load<W>(x + (pos + k + L + j) % 320);
        }
        lane_store(u + k, a0);
        lane_store(u + k + L, a1);
    }
}

// Real analysis fold ahead of the 32-point inverse DCT: t[0] = 8 sqrt 2 u[48] (computed as
// (u[48] + u[48]) 4 sqrt 2, the same value), t[m] = 8 (u[48-m] + u[48+m]) for m = 1..15,
// t[16+i] = 8 (u[32-i] - u[i]) for i = 0..15; u[16] has weight cos(pi (2k+1)/2) = 0.
template <class V>
void ownsAnalysisFoldReal(const float* u, float* t) {
    for (int m = 0; m < 16; m += 4) {
        const V s = add(reverse(load<V>(u + 45 - m)), load<V>(u + 48 + m));
        storea(t + m, mul(s, loada<V>(m == 0 ? pScaleCoefsFirst : pScaleCoefs)));
    }
    for (int i = 0; i < 16; i += 4) {
        const V d = sub(reverse(load<V>(u + 29 - i)), load<V>(u + i));
        storea(t + 16 + i, mul(d, loada<V>(pScaleCoefs)));
    }
}

// Complex analysis as a DCT-IV-like transform: z[n] = -e^(-i t_n) (u[64-n] - i u[32-n]),
// t_n = (4n+1) pi/256, u[64] = -u[0]; table values c = -cos t_n, s = sin t_n.
template <class V>
void ownsAnalysisPreComplex(const float* u, float* zr, float* zi) {
    for (int n = 0; n < 32; n += 4) {
        const V a = reverse(load<V>(u + 61 - n));
        const V b = reverse(load<V>(u + 29 - n));
        const V c = loada<V>(tblPreProcCosSinDCT4_64_SIMD + 2 * n);
        const V s = loada<V>(tblPreProcCosSinDCT4_64_SIMD + 2 * n + 4);
        storea(zr + n, add(mul(c, a), mul(s, b)));
        storea(zi + n, sub(mul(s, a), mul(c, b)));
    }
}

// After the 32-point FFT Z: X[2m] = 2 e^(-i m pi/64) Z[m], X[2m+1] = 2 e^(-i (m+1) pi/64)
// conj(Z[31-m]), m = 0..15; bands stored in order to re[] and im[].
template <class V>
void ownsAnalysisPostComplex(const float* Zr, const float* Zi, float* re, float* im) {
    for (int m = 0; m < 16; m += 4) {
        const V zr = loada<V>(Zr + m), zi = loada<V>(Zi + m);
        const V yr = reverse(loada<V>(Zr + 28 - m)), yi = reverse(loada<V>(Zi + 28 - m));
        const V c = loada<V>(tblPostProcCosSinDCT4_32_SIMD + 2 * m);
        const V s = loada<V>(tblPostProcCosSinDCT4_32_SIMD + 2 * m + 4);
        const V c1 = loada<V>(tblPostProcCosSinDCT4_32_SIMD_Odd + 2 * m);
        const V s1 = loada<V>(tblPostProcCosSinDCT4_32_SIMD_Odd + 2 * m + 4);
        const V er = sub(mul(zr, c), mul(zi, s)), ei = add(mul(zr, s), mul(zi, c));
        const V orr = add(mul(yr, c1), mul(yi, s1)), oi = sub(mul(yr, s1), mul(yi, c1));
        V lo, hi;
        interleave(er, orr, lo, hi);
        xf::store(re + 2 * m, lo);
        xf::store(re + 2 * m + 4, hi);
        interleave(ei, oi, lo, hi);
        xf::store(im + 2 * m, lo);
        xf::store(im + 2 * m + 4, hi);
    }
}

enum class Layout { Split, Interleaved, Real };

thread_local bool t_reference = false;  // ownsSbrQmfFloatReference

template <class V, Layout L>
void ownsAnalysis(const float* pSrc, float* const* pRe, float* const* pIm, Zuf32fc* const* pC, const float* pWindow,
                  int numLoop, int offset, int kx, SbrQmfFloatHeader* h, Zuf8u* pWorkBuf) {
    alignas(16) float u[68];
    alignas(16) float a[32], b[32], zr[32], zi[32];
    float* x = h->pHist;
    int pos = h->pos;
    for (int l = 0; l < numLoop; ++l) {
        ownsAnalysisWindow<V>(pSrc + 32 * l, x, pos, pWindow, u);
        const int row = offset + l;
        if constexpr (L == Layout::Real) {
            ownsAnalysisFoldReal<V>(u, a);
            zufsDCTInv_32f(a, pRe[row], static_cast<const DctInvContext_32f*>(h->pTransform), pWorkBuf);
            for (int k = kx; k < 32; ++k) pRe[row][k] = 0.0f;
        } else {
            u[64] = -u[0];
            ownsAnalysisPreComplex<V>(u, a, b);
            zufsFFTFwd_CToC_32f(a, b, zr, zi, static_cast<const FftContext_C_32f*>(h->pTransform), pWorkBuf);
            if constexpr (L == Layout::Split) {
                ownsAnalysisPostComplex<V>(zr, zi, pRe[row], pIm[row]);
                for (int k = kx; k < 32; ++k) pRe[row][k] = pIm[row][k] = 0.0f;
            } else {
                ownsAnalysisPostComplex<V>(zr, zi, a, b);
                auto* d = reinterpret_cast<float*>(pC[row]);
                for (int k = 0; k < 32; k += 4) {
                    V lo, hi;
                    interleave(loada<V>(a + k), loada<V>(b + k), lo, hi);
                    xf::store(d + 2 * k, lo);
                    xf::store(d + 2 * k + 4, hi);
                }
                for (int k = kx; k < 32; ++k) d[2 * k] = d[2 * k + 1] = 0.0f;
            }
        }
        pos -= 32;
        if (pos < 0) pos += 320;
    }
    h->pos = pos;
}

template <Layout L>
void ownsAnalysisRun(const float* pSrc, float* const* pRe, float* const* pIm, Zuf32fc* const* pC, const float* pWindow,
                     int numLoop, int offset, int kx, SbrQmfFloatHeader* h, Zuf8u* pWorkBuf) {
    if (!t_reference)
        ownsAnalysis<__m128, L>(pSrc, pRe, pIm, pC, pWindow, numLoop, offset, kx, h, pWorkBuf);
    else
        ownsAnalysis<Lanes4, L>(pSrc, pRe, pIm, pC, pWindow, numLoop, offset, kx, h, pWorkBuf);
}

// ------------------------------------------------------------------ synthesis kernels
// Full complex: with A the DCT-IV (size 64) of the real parts and B the DST-IV of the imaginary
// parts, v[n] = -(A[n] - B[n])/64 and v[127-n] = (A[n] + B[n])/64, n = 0..63. Each is one
// 32-point FFT: bands in mirrored pairs (k, 63-k), pre-rotated by e^(-i k pi/64); the spectra
// post-rotated by e^(-i (4n+1) pi/256)/64 give p1 (real parts) and p2 (imaginary parts, the DST
// taken as the DCT-IV of the reversed bands with alternating signs), and
// v[2n] = Re p2 - Re p1, v[63-2n] = Im p1 + Im p2, v[64+2n] = Im p2 - Im p1, v[127-2n] = Re p1 + Re p2.
template <class V>
void ownsSynthesisComplex(const float* xr, const float* xi, float* v, const FftContext_C_32fc* fft, Zuf8u* work) {
    alignas(16) float z1[64], z2[64], Z1[64], Z2[64];
    alignas(16) float e1[32], o1[32], e2[32], o2[32];
    for (int k = 0; k < 32; k += 4) {
        V re, ro, ie, io, rre, rro, ire, iro;
        deinterleave(load<V>(xr + 2 * k), load<V>(xr + 2 * k + 4), re, ro);
        deinterleave(load<V>(xr + 56 - 2 * k), load<V>(xr + 60 - 2 * k), rre, rro);
        deinterleave(load<V>(xi + 2 * k), load<V>(xi + 2 * k + 4), ie, io);
        deinterleave(load<V>(xi + 56 - 2 * k), load<V>(xi + 60 - 2 * k), ire, iro);
        const V c = loada<V>(pTableSynthesisSinCos_32f + 2 * k), s = loada<V>(pTableSynthesisSinCos_32f + 2 * k + 4);
        const V ar = re, ai = reverse(rro);  // Re X[2k] + i Re X[63-2k]
        const V br = reverse(iro), bi = ie;  // Im X[63-2k] + i Im X[2k]
        V lo, hi;
        interleave(sub(mul(ar, c), mul(ai, s)), add(mul(ar, s), mul(ai, c)), lo, hi);
        storea(z1 + 2 * k, lo);
        storea(z1 + 2 * k + 4, hi);
        interleave(sub(mul(br, c), mul(bi, s)), add(mul(br, s), mul(bi, c)), lo, hi);
        storea(z2 + 2 * k, lo);
        storea(z2 + 2 * k + 4, hi);
    }
    zufsFFTFwd_CToC_32fc(reinterpret_cast<const Zuf32fc*>(z1), reinterpret_cast<Zuf32fc*>(Z1), fft, work);
    zufsFFTFwd_CToC_32fc(reinterpret_cast<const Zuf32fc*>(z2), reinterpret_cast<Zuf32fc*>(Z2), fft, work);
    for (int n = 0; n < 32; n += 4) {
        V r1, i1, r2, i2;
        deinterleave(loada<V>(Z1 + 2 * n), loada<V>(Z1 + 2 * n + 4), r1, i1);
        deinterleave(loada<V>(Z2 + 2 * n), loada<V>(Z2 + 2 * n + 4), r2, i2);
        const V c = loada<V>(pTableCosSin_HQ_SQMF_32f + 2 * n), s = loada<V>(pTableCosSin_HQ_SQMF_32f + 2 * n + 4);
        const V p1r = sub(mul(r1, c), mul(i1, s)), p1i = add(mul(r1, s), mul(i1, c));
        const V p2r = sub(mul(r2, c), mul(i2, s)), p2i = add(mul(r2, s), mul(i2, c));
        storea(e1 + n, sub(p2r, p1r));
        storea(o1 + n, add(p1i, p2i));
        storea(e2 + n, sub(p2i, p1i));
        storea(o2 + n, add(p1r, p2r));
    }
    for (int n = 0; n < 32; n += 4) {
        V lo, hi;
        interleave(loada<V>(e1 + n), reverse(loada<V>(o1 + 28 - n)), lo, hi);
        storea(v + 2 * n, lo);
        storea(v + 2 * n + 4, hi);
        interleave(loada<V>(e2 + n), reverse(loada<V>(o2 + 28 - n)), lo, hi);
        storea(v + 64 + 2 * n, lo);
        storea(v + 64 + 2 * n + 4, hi);
    }
}

// Down-sampled complex: z[k] = X[k] e^(i pi k/128) (k < 32, zero above), Z = inverse 64-point
// FFT, v[n] = Re(Z[n] (-1/64) e^(i pi (4n+1)/256)).
template <class V>
void ownsSynthesisDownComplex(const float* xr, const float* xi, float* v, const FftContext_C_32fc* fft, Zuf8u* work) {
    alignas(16) float z[128], Z[128];
    for (int k = 0; k < 32; k += 4) {
        V tr, ti, lo, hi;
        deinterleave(loada<V>(_tInSynthesisDown_HQ_32 + 2 * k), loada<V>(_tInSynthesisDown_HQ_32 + 2 * k + 4), tr, ti);
        const V ar = load<V>(xr + k), ai = load<V>(xi + k);
        interleave(sub(mul(ar, tr), mul(ai, ti)), add(mul(ar, ti), mul(ai, tr)), lo, hi);
        storea(z + 2 * k, lo);
        storea(z + 2 * k + 4, hi);
    }
    std::memset(z + 64, 0, 64 * sizeof(float));
    zufsFFTInv_CToC_32fc(reinterpret_cast<const Zuf32fc*>(z), reinterpret_cast<Zuf32fc*>(Z), fft, work);
    for (int n = 0; n < 64; n += 4) {
        V zr, zi, er, ei;
        deinterleave(loada<V>(Z + 2 * n), loada<V>(Z + 2 * n + 4), zr, zi);
        deinterleave(loada<V>(_tExSynthesisDown_HQ_64 + 2 * n), loada<V>(_tExSynthesisDown_HQ_64 + 2 * n + 4), er, ei);
        storea(v + n, sub(mul(zr, er), mul(zi, ei)));
    }
}

// Real synthesis: V(m) = (1/32) sum_k x[k] cos(pi (2k+1) m / (2M)) from the orthonormal forward
// DCT of length M (64 or 32), y[0] times sqrt 2 and everything times `scale` (1/sqrt 32 or 1/8);
// then v[n] = V(n - M/2) over 2M values through V(-m) = V(m) and V(2M - m) = -V(m), V(M) = 0.
// Negation is 0 - V, so v[3M/2] is +0.
template <class V, int M>
void ownsSynthesisReal(const float* x, float* v, const DctFwdContext_32f* dct, Zuf8u* work, float scale) {
    alignas(16) static const float kFirst[4] = {1.4142135f, 1.0f, 1.0f, 1.0f};  // sqrt 2 on y[0] only
    alignas(16) float y[M + 4];
    zufsDCTFwd_32f(x, y, dct, work);
    const V c = bcast<V>(scale);
    storea(y, mul(mul(loada<V>(y), loada<V>(kFirst)), c));
    for (int m = 4; m < M; m += 4) storea(y + m, mul(loada<V>(y + m), c));
    y[M] = 0.0f;
    constexpr int H = M / 2;
    const V zero = bcast<V>(0.0f);
    for (int i = 0; i < H; i += 4) {
        storea(v + i, reverse(load<V>(y + H - 3 - i)));                     // v[i] = V(H - i)
        storea(v + H + i, loada<V>(y + i));                                 // v[H + i] = V(i)
        storea(v + M + i, load<V>(y + H + i));                              // v[M + i] = V(H + i)
        storea(v + M + H + i, sub(zero, reverse(load<V>(y + M - 3 - i))));  // v[3H + i] = -V(M - i)
    }
}

// Window of one slot: full banks out[n] = sum_{j<5} (w[128j + n] v[(pos + 256j + n) mod 1280] +
// w[128j + 64 + n] v[(pos + 256j + 192 + n) mod 1280]), n < 64; down banks the same with 64, 32,
// 128, 96 and 640.
template <class V, int B>
void ownsSynthesisWindow(const float* v, int pos, const float* win, float* out) {
    using W = WindowLane<V>;
    constexpr int R = 10 * B, H = B / 2, L = sizeof(W) / sizeof(float);
    for (int n = 0; n < H; n += L) {
        W acc{};
        for (int j = 0; j < 5; ++j) {
            const W p = lane_load<W>(win + B * j + n) * lane_load<W>(v + (pos + 2 * B * j + n) % R);
            const W q = lane_load<W>(win + B * j + H + n) * lane_load<W>(v + (pos + 2 * B * j + 3 * H + n) % R);
            acc = j == 0 ? p + q : acc + (p + q);
        }
        lane_store(out + n, acc);
    }
}

template <class V, Layout L, bool Down>
void ownsSynthesis(const float* const* pRe, const float* const* pIm, const Zuf32fc* const* pC, float* pDst,
                   const float* pWindow, int numLoop, SbrQmfFloatHeader* h, Zuf8u* pWorkBuf) {
    constexpr int B = Down ? 64 : 128;  // ring values per slot
    constexpr int K = B / 2;            // bands in, samples out
    alignas(16) float xr[64], xi[64];
    float* ring = h->pHist;
    int pos = h->pos;
    for (int l = 0; l < numLoop; ++l) {
        float* v = ring + pos;
        if constexpr (L == Layout::Real) {
            if constexpr (Down)
                ownsSynthesisReal<V, 32>(pRe[l], v, static_cast<const DctFwdContext_32f*>(h->pTransform), pWorkBuf,
                                         0.125f);  // 1/8
            else
                ownsSynthesisReal<V, 64>(pRe[l], v, static_cast<const DctFwdContext_32f*>(h->pTransform), pWorkBuf,
                                         0.17677669f);  // 1/sqrt 32
        } else {
            const float* re = nullptr;
            const float* im = nullptr;
            if constexpr (L == Layout::Split) {
                re = pRe[l];
                im = pIm[l];
            } else {
                const auto* s = reinterpret_cast<const float*>(pC[l]);
                for (int k = 0; k < K; k += 4) {
                    V r, i;
                    deinterleave(load<V>(s + 2 * k), load<V>(s + 2 * k + 4), r, i);
                    storea(xr + k, r);
                    storea(xi + k, i);
                }
                re = xr;
                im = xi;
            }
            const auto* fft = static_cast<const FftContext_C_32fc*>(h->pTransform);
            if constexpr (Down)
                ownsSynthesisDownComplex<V>(re, im, v, fft, pWorkBuf);
            else
                ownsSynthesisComplex<V>(re, im, v, fft, pWorkBuf);
        }
        ownsSynthesisWindow<V, B>(ring, pos, pWindow, pDst + K * l);
        pos -= B;
        if (pos < 0) pos += 10 * B;
    }
    h->pos = pos;
}

template <Layout L, bool Down>
void ownsSynthesisRun(const float* const* pRe, const float* const* pIm, const Zuf32fc* const* pC, float* pDst,
                      const float* pWindow, int numLoop, SbrQmfFloatHeader* h, Zuf8u* pWorkBuf) {
    if (!t_reference)
        ownsSynthesis<__m128, L, Down>(pRe, pIm, pC, pDst, pWindow, numLoop, h, pWorkBuf);
    else
        ownsSynthesis<Lanes4, L, Down>(pRe, pIm, pC, pDst, pWindow, numLoop, h, pWorkBuf);
}

}  // namespace

void ownsSbrQmfFloatReference(bool on) { t_reference = on; }

}  // namespace zuf

using zuf::Layout;
using zuf::nonnull;
using zuf::ownsIdOk;
using zuf::Xform;

// ------------------------------------------------------------------ GetSize and Init
extern "C" {

ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToC_32f32fc(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::FftSplit5, zuf::kAnalysisK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToC_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::FftSplit5, zuf::kAnalysisK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToR_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::DctInv32, zuf::kAnalysisK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_CToR_32fc32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::Fft5, zuf::kSynthesisK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_CToR_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::Fft5, zuf::kSynthesisK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_RToR_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::DctFwd64, zuf::kSynthesisRealK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f(int* pSpecSize, int* pInitBufSize,
                                                                  int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::Fft6, zuf::kDownK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_CToR_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::Fft6, zuf::kDownK, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_RToR_32f(int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return zuf::ownsQmfGetSize(Xform::DctFwd32, zuf::kDownK, pSpecSize, pInitBufSize, pWorkBufSize);
}

ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToC_32f32fc(AnalysisFilterContext_SBR_RToC_32f32fc** ppSpec,
                                                          Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::FftSplit5, zuf::amc_id(0x56), 320);
}
ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToC_32f(AnalysisFilterContext_SBR_RToC_32f** ppSpec, Zuf8u* pMemSpec,
                                                      Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::FftSplit5, zuf::amc_id(0x57), 320);
}
ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToR_32f(AnalysisFilterContext_SBR_RToR_32f** ppSpec, Zuf8u* pMemSpec,
                                                      Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::DctInv32, zuf::amc_id(0x58), 320);
}
ZUF_API zufResult zufsSynthesisFilterInit_SBR_CToR_32fc32f(SynthesisFilterContext_SBR_CToR_32fc32f** ppSpec,
                                                           Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::Fft5, zuf::amc_id(0x59), 1280);
}
ZUF_API zufResult zufsSynthesisFilterInit_SBR_CToR_32f(SynthesisFilterContext_SBR_CToR_32f** ppSpec, Zuf8u* pMemSpec,
                                                       Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::Fft5, zuf::amc_id(0x5A), 1280);
}
ZUF_API zufResult zufsSynthesisFilterInit_SBR_RToR_32f(SynthesisFilterContext_SBR_RToR_32f** ppSpec, Zuf8u* pMemSpec,
                                                       Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::DctFwd64, zuf::amc_id(0x5B), 1281);
}
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_CToR_32fc32f(SynthesisDownFilterContext_SBR_CToR_32fc32f** ppSpec,
                                                               Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::Fft6, zuf::amc_id(0x5C), 640);
}
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_CToR_32f(SynthesisDownFilterContext_SBR_CToR_32f** ppSpec,
                                                           Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::Fft6, zuf::amc_id(0x5D), 640);
}
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_RToR_32f(SynthesisDownFilterContext_SBR_RToR_32f** ppSpec,
                                                           Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return zuf::ownsQmfInit(ppSpec, pMemSpec, pMemInit, Xform::DctFwd32, zuf::amc_id(0x5E), 640);
}

// ------------------------------------------------------------------ analysis

ZUF_API zufResult zufsAnalysisFilter_SBR_RToR_32f_D2L(const Zuf32f* pSrc, Zuf32f* const* pDst, const Zuf32f* pWindow,
                                                      int numLoop, int offset, int kx,
                                                      AnalysisFilterContext_SBR_RToR_32f* pSpec, Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x58), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(kx, 0, 32), zufErrSize);
    if (numLoop < 1) return zufOk;
    zuf::ownsAnalysisRun<Layout::Real>(pSrc, pDst, nullptr, nullptr, pWindow, numLoop, offset, kx, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(const Zuf32f* pSrc, Zuf32fc* const* pDst,
                                                          const Zuf32f* pWindow, int numLoop, int offset, int kx,
                                                          AnalysisFilterContext_SBR_RToC_32f32fc* pSpec,
                                                          Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x56), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(kx, 0, 32), zufErrSize);
    if (numLoop < 1) return zufOk;
    zuf::ownsAnalysisRun<Layout::Interleaved>(pSrc, nullptr, nullptr, pDst, pWindow, numLoop, offset, kx, pSpec,
                                              pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilter_SBR_RToC_32f_D2L(const Zuf32f* pSrc, Zuf32f* const* pDstRe, Zuf32f* const* pDstIm,
                                                      const Zuf32f* pWindow, int numLoop, int offset, int kx,
                                                      AnalysisFilterContext_SBR_RToC_32f* pSpec, Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow, pWorkBuf), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x57), zufErrContext);
    ZUF_REQUIRE(zuf::in_range(kx, 0, 32), zufErrSize);
    ZUF_REQUIRE(nonnull(pSrc, pDstRe, pDstIm), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsAnalysisRun<Layout::Split>(pSrc, pDstRe, pDstIm, nullptr, pWindow, numLoop, offset, kx, pSpec, pWorkBuf);
    return zufOk;
}

// ------------------------------------------------------------------ synthesis

ZUF_API zufResult zufsSynthesisFilter_SBR_CToR_32f_D2L(const Zuf32f* const* pSrcRe, const Zuf32f* const* pSrcIm,
                                                       Zuf32f* pDst, const Zuf32f* pWindow, int numLoop,
                                                       SynthesisFilterContext_SBR_CToR_32f* pSpec, Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow, pWorkBuf), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x5A), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrcRe, pSrcIm, pDst), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Split, false>(pSrcRe, pSrcIm, nullptr, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(const Zuf32fc* const* pSrc, Zuf32f* pDst,
                                                           const Zuf32f* pWindow, int numLoop,
                                                           SynthesisFilterContext_SBR_CToR_32fc32f* pSpec,
                                                           Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x59), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Interleaved, false>(nullptr, nullptr, pSrc, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilter_SBR_RToR_32f_D2L(const Zuf32f* const* pSrc, Zuf32f* pDst, const Zuf32f* pWindow,
                                                       int numLoop, SynthesisFilterContext_SBR_RToR_32f* pSpec,
                                                       Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x5B), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Real, false>(pSrc, nullptr, nullptr, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisDownFilter_SBR_CToR_32f_D2L(const Zuf32f* const* pSrcRe, const Zuf32f* const* pSrcIm,
                                                           Zuf32f* pDst, const Zuf32f* pWindow, int numLoop,
                                                           SynthesisDownFilterContext_SBR_CToR_32f* pSpec,
                                                           Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow, pWorkBuf), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x5D), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrcRe, pSrcIm, pDst), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Split, true>(pSrcRe, pSrcIm, nullptr, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(const Zuf32fc* const* pSrc, Zuf32f* pDst,
                                                               const Zuf32f* pWindow, int numLoop,
                                                               SynthesisDownFilterContext_SBR_CToR_32fc32f* pSpec,
                                                               Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x5C), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Interleaved, true>(nullptr, nullptr, pSrc, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisDownFilter_SBR_RToR_32f_D2L(const Zuf32f* const* pSrc, Zuf32f* pDst,
                                                           const Zuf32f* pWindow, int numLoop,
                                                           SynthesisDownFilterContext_SBR_RToR_32f* pSpec,
                                                           Zuf8u* pWorkBuf) {
    ZUF_REQUIRE(nonnull(pSpec, pWindow), zufErrNullPtr);
    ZUF_REQUIRE(ownsIdOk(pSpec, 0x5E), zufErrContext);
    ZUF_REQUIRE(nonnull(pSrc, pDst, pWorkBuf), zufErrNullPtr);
    if (numLoop < 1) return zufOk;
    zuf::ownsSynthesisRun<Layout::Real, true>(pSrc, nullptr, nullptr, pDst, pWindow, numLoop, pSpec, pWorkBuf);
    return zufOk;
}

}  // extern "C"
