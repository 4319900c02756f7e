// The 16-bit complex FFT (family C_16sc).
//
// Orders 1..3 with hint 0 or 1 run an integer kernel: inputs widened to 32 bits and shifted left
// by 15 - order (headroom for the N-fold growth of the sums), radix-2 decimation in frequency with
// Q31 twiddles, the 1/sqrt 2 of flag 4 at odd orders as x * 23170 / 32768, the bit-reversal
// permutation, and one output shift by the direction's shift + scaleFactor + 15 - order that
// rounds halves upward and saturates. Every other case converts to float, runs the nested float
// context (which carries the normalisation flag) and converts back with 2^-scaleFactor, rounding
// to nearest (ties to even) and saturating.
#include <cmath>
#include <cstring>
#include <type_traits>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "transforms/fft_engine.h"
#include "transforms/transform_util.h"

namespace zuf::xf {
namespace {

constexpr int64_t kSqrtHalfQ31 = 1518500250;  // round(2^31 / sqrt 2)

int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(FftContext_C_16sc))); }
constexpr int64_t kIntTableBytes = 64;  // 8 permutation bytes, then four Q31 cos/sin pairs at +32

bool integer_path(int order, int hint) { return order >= 1 && order <= 3 && (hint == 0 || hint == 1); }

struct Sizes16 {
    int64_t context, init, work;
    FloatSizes fl;
};

zufResult sizes16(int order, int flag, int hint, Sizes16* out) {
    out->fl = {0, 0, 0};
    if (integer_path(order, hint)) {
        *out = {header_bytes() + kIntTableBytes + 32, 32, 0, {0, 0, 0}};
        return zufOk;
    }
    if (const zufResult st = ownsFFTGetSizes(order, flag, false, false, &out->fl); st != zufOk) return st;
    out->context = header_bytes() + kIntTableBytes + out->fl.context + 32;
    out->init = order >= 1 ? out->fl.init + 32 : 0;
    // Float copy of the data (N complex), then the float engine's work buffer.
    out->work = round32(8 * (int64_t{1} << order)) + out->fl.work + 32;
    if (!fits_i32(out->context) || !fits_i32(out->init) || !fits_i32(out->work)) return zufErrNoMemory;
    return zufOk;
}

// ------------------------------------------------------------------ integer path
struct I32c {
    int32_t re, im;
};

// d * W_8^j for j = 0..3, Q31 twiddles, rounded.
inline I32c rotate8(I32c d, int j) {
    const int64_t r = d.re, i = d.im;
    auto q31 = [](int64_t x) { return static_cast<int32_t>((x * kSqrtHalfQ31 + (int64_t{1} << 30)) >> 31); };
    switch (j) {
        case 0:
            return d;
        case 1:  // (1 - i)/sqrt 2
            return {q31(r + i), q31(i - r)};
        case 2:  // -i
            return {static_cast<int32_t>(i), static_cast<int32_t>(-r)};
        default:  // (-1 - i)/sqrt 2
            return {q31(i - r), q31(-(r + i))};
    }
}

int32_t out_shift(int32_t v, int s) {
    if (s > 0) return sat16(rshift_round(v, s > 31 ? 31 : s));
    if (s == 0) return sat16(v);
    if (-s >= 32) return 0;
    return sat16(static_cast<int64_t>(v) * (int64_t{1} << -s));
}

void integer_fft(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor) {
    const int order = ctx->order, n = 1 << order;
    I32c x[8];
    for (int k = 0; k < n; ++k) {
        x[k] = {static_cast<int32_t>(src[k].re) * (1 << (15 - order)),
                static_cast<int32_t>(src[k].im) * (1 << (15 - order))};
    }
    for (int len = n; len >= 2; len /= 2) {
        const int half = len / 2, step = 8 / len;
        for (int b = 0; b < n; b += len)
            for (int j = 0; j < half; ++j) {
                const I32c a = x[b + j], c = x[b + j + half];
                x[b + j] = {a.re + c.re, a.im + c.im};
                x[b + j + half] = rotate8({a.re - c.re, a.im - c.im}, j * step);
            }
    }
    if (ctx->oddOrder)
        for (int k = 0; k < n; ++k) {
            x[k].re = static_cast<int32_t>((int64_t{x[k].re} * 23170) >> 15);
            x[k].im = static_cast<int32_t>((int64_t{x[k].im} * 23170) >> 15);
        }
    const int s = ctx->fwdShift + scaleFactor + 15 - order;
    I32c y[8];
    for (int k = 0; k < n; ++k) y[k] = x[ctx->bitrev[k]];
    for (int k = 0; k < n; ++k) {
        dst[k].re = static_cast<Zuf16s>(out_shift(y[k].re, s));
        dst[k].im = static_cast<Zuf16s>(out_shift(y[k].im, s));
    }
}

// ------------------------------------------------------------------ float path
float pow2_neg(int scaleFactor) {
    // Beyond +-64 every result is already 0 or saturated.
    const int sf = scaleFactor > 64 ? 64 : (scaleFactor < -64 ? -64 : scaleFactor);
    return std::ldexp(1.0f, -sf);
}

// The conversions around the float transform: the SSE kernel (kVector) converts eight values a
// step and leaves the tail to the scalar loop, the reference runs the scalar loop throughout.
template <bool kVector>
void to_float(const Zuf16sc* src, float* x, int64_t n) {
    const Zuf16s* s = &src[0].re;
    int64_t i = 0;
    if constexpr (kVector)
        for (; i + 8 <= 2 * n; i += 8) {
            const __m128i v = loadu_i128(s + i);
            storeu_f128(x + i, _mm_cvtepi32_ps(widen_lo_epi16(v)));
            storeu_f128(x + i + 4, _mm_cvtepi32_ps(widen_hi_epi16(v)));
        }
    for (; i < 2 * n; ++i) x[i] = static_cast<float>(s[i]);
}

template <bool kVector>
void to_16s(const float* x, Zuf16sc* dst, int64_t n, float scale) {
    Zuf16s* d = &dst[0].re;
    int64_t i = 0;
    if constexpr (kVector) {
        const __m128 f = _mm_set1_ps(scale), lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
        for (; i + 8 <= 2 * n; i += 8) {
            const __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(loadu_f128(x + i), f), lo), hi);
            const __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(loadu_f128(x + i + 4), f), lo), hi);
            storeu_i128(d + i, _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
        }
    }
    for (; i < 2 * n; ++i) {
        float v = x[i] * scale;
        v = v < -32768.0f ? -32768.0f : (v > 32767.0f ? 32767.0f : v);
        d[i] = static_cast<Zuf16s>(std::nearbyint(v));  // the default rounding mode: ties to even
    }
}

template <class V>
void fft16(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor, uint8_t* work) {
    constexpr bool kVector = !std::is_same_v<V, Lanes4>;
    if (!ctx->engine) {
        integer_fft(ctx, src, dst, scaleFactor);
        return;
    }
    const int64_t n = int64_t{1} << ctx->order;
    float* x = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(8 * n));
    to_float<kVector>(src, x, n);
    ownsFFTComplex<V>(ctx->fft, x, x, fw, Dir::Fwd, ctx->fft->fwdNorm, ctx->fft->norm);
    to_16s<kVector>(x, dst, n, pow2_neg(scaleFactor));
}

}  // namespace

// Shared with the 16-bit MDCT.
void ownsFFT_C_16sc(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor, uint8_t* work) {
    fft16<__m128>(ctx, src, dst, scaleFactor, work);
}
void ownsFFT_C_16sc_ref(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor,
                        uint8_t* work) {
    fft16<Lanes4>(ctx, src, dst, scaleFactor, work);
}

zufResult ownsFFTGetSizes16(int order, int flag, int hint, int64_t* context, int64_t* init, int64_t* work) {
    Sizes16 sz;
    if (const zufResult st = sizes16(order, flag, hint, &sz); st != zufOk) return st;
    *context = sz.context;
    *init = sz.init;
    *work = sz.work;
    return zufOk;
}

zufResult ownsFFTInit16(FftContext_C_16sc** ppCtx, int order, int flag, int hint, uint8_t* pMemSpec,
                        uint8_t* pMemInit) {
    Sizes16 sz;
    if (const zufResult st = sizes16(order, flag, hint, &sz); st != zufOk) return st;
    auto* ctx = reinterpret_cast<FftContext_C_16sc*>(align_up(pMemSpec, 32));
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->id = kIdFftC16sc;
    ctx->order = order;
    ctx->hint = hint;
    switch (flag) {
        case 4:
            ctx->fwdShift = ctx->invShift = order >> 1;
            ctx->oddOrder = order & 1;
            break;
        case 1:
            ctx->fwdShift = order;
            break;
        case 2:
            ctx->invShift = order;
            break;
        default:
            break;
    }
    uint8_t* tables = reinterpret_cast<uint8_t*>(ctx) + header_bytes();
    auto* rev = tables;
    auto* tw = reinterpret_cast<int32_t*>(tables + 32);
    for (int k = 0; k < 8; ++k) {
        const int bits = order < 1 ? 0 : order;
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((k >> b) & 1) << (bits - 1 - b);
        rev[k] = static_cast<uint8_t>(k < (1 << bits) ? r : k);
    }
    const int32_t q31[4][2] = {{INT32_MAX, 0}, {1518500250, -1518500250}, {0, -INT32_MAX}, {-1518500250, -1518500250}};
    std::memcpy(tw, q31, sizeof(q31));
    ctx->bitrev = rev;
    ctx->twiddle = tw;
    if (!integer_path(order, hint)) {
        FftContext_C_32fc* f = nullptr;
        const zufResult st = ownsFFTInitFloat(&f, kIdFftC32fc, order, flag, hint, tables + kIntTableBytes,
                                              pMemInit ? align_up(pMemInit, 32) : nullptr, false);
        if (st != zufOk) return st;
        ctx->fft = f;
        ctx->engine = 1;
        ctx->workBytes = static_cast<int32_t>(sz.work - 32);
    }
    *ppCtx = ctx;
    return zufOk;
}

}  // namespace zuf::xf

using namespace zuf;
using namespace zuf::xf;

extern "C" {

ZUF_API zufResult zufsFFTGetSize_C_16sc(int order, int flag, int hint, int* pSpecSize, int* pInitBufSize,
                                        int* pWorkBufSize) {
    return ownsFFTGetSize<Sizes16>(order, flag, pSpecSize, pInitBufSize, pWorkBufSize,
                                   [=](Sizes16* sz) { return sizes16(order, flag, hint, sz); });
}

ZUF_API zufResult zufsFFTInit_C_16sc(FftContext_C_16sc** ppSpec, int order, int flag, int hint, Zuf8u* pMemSpec,
                                     Zuf8u* pMemInit) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(in_range(order, 0, 30), zufErrFftOrder);
    ZUF_REQUIRE(pMemSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(ownsFFTFlagOk(flag), zufErrFftFlag);
    ZUF_REQUIRE(order < 1 || pMemInit != nullptr, zufErrNullPtr);
    return ownsFFTInit16(ppSpec, order, flag, hint, pMemSpec, pMemInit);
}

ZUF_API zufResult zufsFFTInitAlloc_C_16sc(FftContext_C_16sc** ppSpec, int order, int flag, int hint) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    return ownsContextInitAlloc(ppSpec, zufsFFTGetSize_C_16sc, zufsFFTInit_C_16sc, order, flag, hint);
}

ZUF_API zufResult zufsFFTFree_C_16sc(FftContext_C_16sc* pSpec) { return ownsContextFree(pSpec, kIdFftC16sc); }

// The work size with its 32 bytes of alignment room.
ZUF_API zufResult zufsFFTGetBufSize_C_16sc(const FftContext_C_16sc* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdFftC16sc, 32);
}

ZUF_API zufResult zufsFFTFwd_CToC_16sc_Sfs(const Zuf16sc* pSrc, Zuf16sc* pDst, const FftContext_C_16sc* pSpec,
                                           int scaleFactor, Zuf8u* pBuffer) {
    if (const zufResult st = ownsContextCheck(pSpec, kIdFftC16sc, pSrc, pDst); st != zufOk) return st;
    return ownsWithWork<uint8_t>(pBuffer, pSpec->workBytes,
                                 [&](uint8_t* w) { ownsFFT_C_16sc(pSpec, pSrc, pDst, scaleFactor, w); });
}

}  // extern "C"
