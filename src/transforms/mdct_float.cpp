// Float MDCT, forward and inverse, for N = 12, 36 and powers of two from 32.
//
// The forward transform folds the N inputs into the N/2 inputs u of a DCT-IV (X = 2 DCT-IV(u)):
// u[n] = -x[3N/4-1-n] - x[3N/4+n] and u[N/4+n] = x[n] - x[N/2-1-n] for n < N/4. The DCT-IV of
// K = N/2 points runs as an N/4-point complex DFT: z[j] = (u[2j] + i u[K-1-2j]) e^(-i t_j),
// Z = DFT(z), W[k] = Z[k] e^(-i t_k), Y[2k] = Re W[k], Y[K-1-2k] = -Im W[k], with
// t_j = 2 pi (j + 1/8) / N; the one rotation table serves both rotations and carries the scale
// (sqrt 2 forward, so that the two rotations give the factor 2; 1/sqrt(N/2) inverse, giving 2/N).
// The inverse transform runs the same DCT-IV on the coefficients and unfolds with the transposed
// fold: the first half of the output is antisymmetric about its centre, the second symmetric.
// Powers of two use the complex FFT (flag 8) of N/4 points; 12 and 36 fixed 3- and 9-point DFTs.
#include <cmath>
#include <cstring>

#include "common/checks.h"
#include "transforms/fft_engine.h"
#include "transforms/transform_util.h"

// Contexts. On 32-bit x86 the header is 24 bytes: ID, N, work bytes, FFT context, allocated
// flag, rotation table.
struct MdctFwdContext_32f {
    uint32_t id;  // 55 forward, 56 inverse
    int32_t len;
    int32_t workBytes;
    const FftContext_C_32fc* fft;  // N/4-point complex FFT (powers of two), else null
    int32_t allocated;
    const float* rot;  // cos, sin of 2 pi (j + 1/8) / N, j < N/4, times the direction's scale
};
struct MdctInvContext_32f : MdctFwdContext_32f {};

#if defined(__i386__)
static_assert(sizeof(MdctFwdContext_32f) == 24, "MDCT header is 24 bytes on 32-bit x86");
static_assert(offsetof(MdctFwdContext_32f, fft) == 12 && offsetof(MdctFwdContext_32f, rot) == 20);
#endif

namespace zuf::xf {
namespace {

using Ctx = MdctFwdContext_32f;

bool is_pow2(int n) { return n > 0 && (n & (n - 1)) == 0; }
bool len_ok(int n) { return n == 12 || n == 36 || (n >= 32 && is_pow2(n)); }
int log2i(int64_t n) {
    int k = 0;
    while ((int64_t{1} << k) < n) ++k;
    return k;
}
int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(Ctx))); }

struct Layout {
    int64_t context, init, work;
    FloatSizes fft;
};

// The documented sizes: context (FFT context + 32) + 4 (N/2) + 92, init buffer the FFT's, work
// (FFT work + 32) + 4N + 64; on 64-bit targets grown by the wider header.
zufResult layout(int n, Layout* l) {
    *l = {};
    const int64_t N = n, extra = header_bytes() - 32;
    if (is_pow2(n)) {
        if (ownsFFTGetSizes(log2i(N / 4), 8, false, false, &l->fft) != zufOk) return zufErrSize;
        l->context = (l->fft.context + 32) + 4 * (N / 2) + 92 + extra;
        l->init = l->fft.init;
        l->work = (l->fft.work + 32) + 4 * N + 64;
    } else {
        l->context = 4 * (N / 2) + 92 + extra;
        l->work = 4 * N + 64;
    }
    if (!fits_i32(l->context) || !fits_i32(l->init) || !fits_i32(l->work)) return zufErrSize;
    return zufOk;
}

// ------------------------------------------------------------------ small DFTs (forward)
constexpr float kSin60 = 0.866025403784438646763723170752936f;

// Strides in complex values.
inline void dft3(const float* x, int xs, float* y, int ys) {
    const float x0r = x[0], x0i = x[1], x1r = x[2 * xs], x1i = x[2 * xs + 1];
    const float x2r = x[4 * xs], x2i = x[4 * xs + 1];
    const float tr = x1r + x2r, ti = x1i + x2i, dr = x1r - x2r, di = x1i - x2i;
    const float mr = x0r - 0.5f * tr, mi = x0i - 0.5f * ti;
    y[0] = x0r + tr;
    y[1] = x0i + ti;
    y[2 * ys] = mr + kSin60 * di;  // m - i sin60 d
    y[2 * ys + 1] = mi - kSin60 * dr;
    y[4 * ys] = mr - kSin60 * di;
    y[4 * ys + 1] = mi + kSin60 * dr;
}

// 9 points as 3 x 3: column DFTs over n1 (n = 3 n1 + n2), twiddles W9^(n2 k1), row DFTs over n2.
void dft9(float* z) {
    static constexpr float kW9[5][2] = {
        {1.0f, 0.0f},
        {0.766044443118978035202392650555f, -0.642787609686539326322643409907f},
        {0.173648177666930348851716626769f, -0.984807753012208059366743024589f},
        {-0.5f, -0.866025403784438646763723170752f},
        {-0.939692620785908384054109277324f, -0.342020143325668733044099614682f},
    };
    float t[18];
    for (int n2 = 0; n2 < 3; ++n2) dft3(z + 2 * n2, 3, t + 2 * n2, 3);  // t[n2 + 3 k1]
    for (int n2 = 1; n2 < 3; ++n2)
        for (int k1 = 1; k1 < 3; ++k1) {
            const float* w = kW9[n2 * k1];
            float* v = t + 2 * (n2 + 3 * k1);
            const float r = v[0] * w[0] - v[1] * w[1], i = v[0] * w[1] + v[1] * w[0];
            v[0] = r;
            v[1] = i;
        }
    for (int k1 = 0; k1 < 3; ++k1) dft3(t + 6 * k1, 1, z + 2 * k1, 3);  // X[k1 + 3 k2]
}

// ------------------------------------------------------------------ the DCT-IV core
// z holds N/4 complex values already pre-rotated; transforms them in place.
void core_dft(const Ctx* ctx, float* z, float* fw) {
    const int q = ctx->len / 4;
    if (ctx->fft) {
        ownsFFT_C_32fc(ctx->fft, z, z, fw, Dir::Fwd, false, 1.0f);
    } else if (q == 3) {
        float t[6];
        dft3(z, 1, t, 1);
        std::memcpy(z, t, sizeof(t));
    } else {
        dft9(z);
    }
}

// z[j] = (a + i b) e^(-i t_j) with the scaled table (c, s): (a c + b s) + i (b c - a s).
inline void pre_rot(float a, float b, const float* r, float* z) {
    z[0] = a * r[0] + b * r[1];
    z[1] = b * r[0] - a * r[1];
}

void forward(const Ctx* ctx, const float* x, float* y, uint8_t* work) {
    const int n = ctx->len, q = n / 4, K = n / 2;
    float* z = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(8 * int64_t{q}));
    const float* r = ctx->rot;
    auto u = [&](int i) {  // the fold
        return i < q ? -x[3 * q - 1 - i] - x[3 * q + i] : x[i - q] - x[3 * q - 1 - i];
    };
    for (int j = 0; j < q; ++j) pre_rot(u(2 * j), u(K - 1 - 2 * j), r + 2 * j, z + 2 * j);
    core_dft(ctx, z, fw);
    for (int k = 0; k < q; ++k) {
        const float zr = z[2 * k], zi = z[2 * k + 1], c = r[2 * k], s = r[2 * k + 1];
        y[2 * k] = zr * c + zi * s;          // Re(Z e^(-i t))
        y[K - 1 - 2 * k] = zr * s - zi * c;  // -Im(Z e^(-i t))
    }
}

void inverse(const Ctx* ctx, const float* X, float* y, uint8_t* work) {
    const int n = ctx->len, q = n / 4, K = n / 2;
    float* z = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(8 * int64_t{q}));
    const float* r = ctx->rot;
    for (int j = 0; j < q; ++j) pre_rot(X[2 * j], X[K - 1 - 2 * j], r + 2 * j, z + 2 * j);
    core_dft(ctx, z, fw);
    // v = DCT-IV of the coefficients; y = unfold(v): v[i] with i < N/4 goes to y[3N/4-1-i] and
    // y[3N/4+i] negated; v[N/4+m] to y[m], and negated to y[N/2-1-m].
    auto emit = [&](int i, float v) {
        if (i < q) {
            y[3 * q - 1 - i] = -v;
            y[3 * q + i] = -v;
        } else {
            y[i - q] = v;
            y[K - 1 - (i - q)] = -v;
        }
    };
    for (int k = 0; k < q; ++k) {
        const float zr = z[2 * k], zi = z[2 * k + 1], c = r[2 * k], s = r[2 * k + 1];
        emit(2 * k, zr * c + zi * s);
        emit(K - 1 - 2 * k, zr * s - zi * c);
    }
}

zufResult build(Ctx** ppCtx, uint32_t id, int n, uint8_t* pMemSpec, uint8_t* pMemInit) {
    Layout l;
    if (const zufResult st = layout(n, &l); st != zufOk) return st;
    auto* ctx = reinterpret_cast<Ctx*>(align_up(pMemSpec, 32));
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->id = id;
    ctx->len = n;
    ctx->workBytes = static_cast<int32_t>(l.work);
    uint8_t* base = reinterpret_cast<uint8_t*>(ctx);
    auto* rot = reinterpret_cast<float*>(base + header_bytes());
    const int q = n / 4;
    const double scale = id == kIdMdctFwd32f ? std::sqrt(2.0) : 1.0 / std::sqrt(n / 2.0);
    for (int j = 0; j < q; ++j) {
        const double a = 6.283185307179586476925286766559 * (j + 0.125) / n;
        rot[2 * j] = static_cast<float>(scale * std::cos(a));
        rot[2 * j + 1] = static_cast<float>(scale * std::sin(a));
    }
    ctx->rot = rot;
    if (is_pow2(n)) {
        FftContext_C_32fc* f = nullptr;
        uint8_t* fmem = base + header_bytes() + round32(8 * int64_t{q});
        if (const zufResult st = ownsFFTInitFloat(&f, kIdFftC32fc, log2i(q), 8, 0, fmem, pMemInit, false); st != zufOk)
            return st;
        ctx->fft = f;
    }
    *ppCtx = ctx;
    return zufOk;
}

zufResult get_size(int len, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize, pWorkBufSize), zufErrNullPtr);
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    Layout l;
    if (const zufResult st = layout(len, &l); st != zufOk) return st;
    return ownsContextSizesOut(l, pSpecSize, pInitBufSize, pWorkBufSize);
}

template <class C>
zufResult init(C** ppSpec, uint32_t id, int len, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    // Every power of two takes an init buffer, also where its FFT needs none (N up to 4096), so
    // that a caller's Init does not depend on the FFT's internal thresholds.
    ZUF_REQUIRE(nonnull(ppSpec, pMemSpec) && (!is_pow2(len) || pMemInit != nullptr), zufErrNullPtr);
    Ctx* ctx = nullptr;
    if (const zufResult st = build(&ctx, id, len, pMemSpec, pMemInit); st != zufOk) return st;
    *ppSpec = static_cast<C*>(ctx);
    return zufOk;
}

// The length first, then the pointer; the context then as GetSize and Init make it, with an init
// buffer for every power of two (Init requires one even when GetSize reports 0 bytes).
template <class C, class GetSize, class Init>
zufResult init_alloc(C** ppSpec, int len, GetSize getSize, Init initFn) {
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    if (is_pow2(len)) return ownsContextInitAlloc<true>(ppSpec, getSize, initFn, len);
    return ownsContextInitAlloc(ppSpec, getSize, initFn, len);
}

zufResult run(const float* src, float* dst, const Ctx* ctx, Zuf8u* pBuffer, uint32_t id) {
    if (const zufResult st = ownsContextCheck(ctx, id, src, dst); st != zufOk) return st;
    WorkBuffer work(pBuffer, ctx->workBytes);
    ZUF_REQUIRE(!work.failed(), zufErrNoMemory);
    if (id == kIdMdctFwd32f)
        forward(ctx, src, dst, work.get<uint8_t>());
    else
        inverse(ctx, src, dst, work.get<uint8_t>());
    return zufOk;
}

}  // namespace
}  // namespace zuf::xf

using namespace zuf;
using namespace zuf::xf;

extern "C" {

ZUF_API zufResult zufsMDCTFwdGetSize_32f(int len, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return get_size(len, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsMDCTInvGetSize_32f(int len, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return get_size(len, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsMDCTFwdInit_32f(MdctFwdContext_32f** ppSpec, int len, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return init(ppSpec, kIdMdctFwd32f, len, pMemSpec, pMemInit);
}
ZUF_API zufResult zufsMDCTInvInit_32f(MdctInvContext_32f** ppSpec, int len, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return init(ppSpec, kIdMdctInv32f, len, pMemSpec, pMemInit);
}
ZUF_API zufResult zufsMDCTFwdInitAlloc_32f(MdctFwdContext_32f** ppSpec, int len) {
    return init_alloc(ppSpec, len, zufsMDCTFwdGetSize_32f, zufsMDCTFwdInit_32f);
}
ZUF_API zufResult zufsMDCTInvInitAlloc_32f(MdctInvContext_32f** ppSpec, int len) {
    return init_alloc(ppSpec, len, zufsMDCTInvGetSize_32f, zufsMDCTInvInit_32f);
}
// The nested FFT context lives in the same block.
ZUF_API zufResult zufsMDCTFwdFree_32f(MdctFwdContext_32f* pSpec) { return ownsContextFree(pSpec, kIdMdctFwd32f); }
ZUF_API zufResult zufsMDCTInvFree_32f(MdctInvContext_32f* pSpec) { return ownsContextFree(pSpec, kIdMdctInv32f); }
// workBytes already holds the alignment room.
ZUF_API zufResult zufsMDCTFwdGetBufSize_32f(const MdctFwdContext_32f* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdMdctFwd32f, 0);
}
ZUF_API zufResult zufsMDCTInvGetBufSize_32f(const MdctInvContext_32f* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdMdctInv32f, 0);
}
ZUF_API zufResult zufsMDCTFwd_32f(const Zuf32f* pSrc, Zuf32f* pDst, const MdctFwdContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrc, pDst, pSpec, pBuffer, kIdMdctFwd32f);
}
ZUF_API zufResult zufsMDCTFwd_32f_I(Zuf32f* pSrcDst, const MdctFwdContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrcDst, pSrcDst, pSpec, pBuffer, kIdMdctFwd32f);
}
ZUF_API zufResult zufsMDCTInv_32f(const Zuf32f* pSrc, Zuf32f* pDst, const MdctInvContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrc, pDst, pSpec, pBuffer, kIdMdctInv32f);
}
ZUF_API zufResult zufsMDCTInv_32f_I(Zuf32f* pSrcDst, const MdctInvContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrcDst, pSrcDst, pSpec, pBuffer, kIdMdctInv32f);
}

}  // extern "C"
