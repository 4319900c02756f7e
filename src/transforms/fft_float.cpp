// The exported float FFT families: complex interleaved (C_32fc), complex split (C_32f) and real
// (R_32f). Each shell checks its arguments in the documented order and calls the engine.
//
// Context block: the context at the caller's block rounded up to 32 bytes, its header, then the
// tables from the next 32-byte boundary. Orders up to 10 take their twiddles from the static
// 1024-point table; from order 11 Init first fills a quarter-wave cosine table (double) in the
// init buffer and derives the float tables from it.
#include <cmath>
#include <cstring>

#include "common/checks.h"
#include "transforms/fft_engine.h"
#include "transforms/transform_util.h"

namespace zuf::xf {
namespace {

constexpr int kMaxBaseOrder = 17;

int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(FftContext_C_32fc))); }
int base_order(int order) { return order < kMaxBaseOrder ? order : kMaxBaseOrder; }

int64_t engine_table_bytes(int corder, int order) {
    if (corder <= 3) return 0;
    if (corder <= kMaxRadix4Order) return ownsRadix4TableBytes(corder);
    return ownsLargeTableBytes(corder, order);
}

}  // namespace

zufResult ownsFFTGetSizes(int order, int flag, bool real, bool split, FloatSizes* out) {
    (void)flag;
    const int corder = real ? (order > 0 ? order - 1 : 0) : order;
    if (order <= 3) {
        *out = {static_cast<int64_t>(sizeof(FftContext_C_32fc)) + 32, 0, 0};
        return zufOk;
    }
    const bool rec = real;
    int64_t tables = engine_table_bytes(corder, order);
    if (rec) tables += ownsRecTableBytes(order);
    int64_t work = 0;
    // The radix-4 engine ping-pongs between two halves of N complex values; the blocked path needs
    // that for one block (the split family first interleaves the whole input).
    if (corder >= 4 && corder <= kMaxRadix4Order)
        work = 16 * (int64_t{1} << corder);
    else if (corder > kMaxRadix4Order)
        work = 16 * (int64_t{1} << kBlockOrder) + (split ? 8 * (int64_t{1} << corder) : 0);
    const int64_t init = order >= 11 ? 8 * ((int64_t{1} << base_order(order)) / 4 + 1) + 32 : 0;
    out->context = header_bytes() + tables + 32;
    out->init = init;
    out->work = work > 0 ? work + 32 : 0;
    if (!fits_i32(out->context) || !fits_i32(out->init) || !fits_i32(out->work)) return zufErrNoMemory;
    return zufOk;
}

zufResult ownsFFTInitFloat(FftContext_C_32fc** ppCtx, uint32_t id, int order, int flag, int hint, uint8_t* pMemSpec,
                           uint8_t* pMemInit, bool real) {
    FloatSizes sz;
    if (const zufResult st = ownsFFTGetSizes(order, flag, real, id == kIdFftC32f, &sz); st != zufOk) return st;
    auto* ctx = reinterpret_cast<FftContext_C_32fc*>(align_up(pMemSpec, 32));
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->id = id;
    ctx->order = order;
    ctx->hint = hint;
    ctx->corder = real ? (order > 0 ? order - 1 : 0) : order;
    ctx->fwdNorm = (flag == 1 || flag == 4) ? 1 : 0;
    ctx->invNorm = (flag == 2 || flag == 4) ? 1 : 0;
    // 1/N is exact; 1/sqrt N is formed in extended precision and rounded once.
    if (flag == 1 || flag == 2) ctx->norm = std::ldexp(1.0f, -order);
    if (flag == 4) ctx->norm = static_cast<float>(1.0L / std::sqrt(static_cast<long double>(std::ldexp(1.0L, order))));
    ctx->workBytes = sz.work > 0 ? static_cast<int32_t>(sz.work - 32) : 0;
    if (order >= 4) {
        TwiddleSource tw{nullptr, 0};
        if (order >= 11) {
            auto* base = reinterpret_cast<double*>(align_up(pMemInit, 32));
            ownsFillCosBase(base, base_order(order));
            tw = {base, base_order(order)};
        }
        uint8_t* tables = reinterpret_cast<uint8_t*>(ctx) + header_bytes();
        const int c = ctx->corder;
        if (c >= 4 && c <= kMaxRadix4Order)
            ownsRadix4Init(ctx, c, tables, tw);
        else if (c > kMaxRadix4Order)
            ownsLargeInit(ctx, c, order, tables, tw);
        if (real) ownsRecInit(ctx, order, tables + engine_table_bytes(c, order), tw);
    }
    *ppCtx = ctx;
    return zufOk;
}

}  // namespace zuf::xf

using namespace zuf;
using namespace zuf::xf;

namespace {

zufResult get_size(int order, int flag, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize, bool real, bool split) {
    return ownsFFTGetSize<FloatSizes>(order, flag, pSpecSize, pInitBufSize, pWorkBufSize,
                                      [=](FloatSizes* sz) { return ownsFFTGetSizes(order, flag, real, split, sz); });
}

template <class Ctx>
zufResult init(Ctx** ppSpec, uint32_t id, int order, int flag, int hint, Zuf8u* pMemSpec, Zuf8u* pMemInit, bool real) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(in_range(order, 0, 30), zufErrFftOrder);
    ZUF_REQUIRE(pMemSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(ownsFFTFlagOk(flag), zufErrFftFlag);
    ZUF_REQUIRE(order < 11 || pMemInit != nullptr, zufErrNullPtr);
    FftContext_C_32fc* ctx = nullptr;
    if (const zufResult st = ownsFFTInitFloat(&ctx, id, order, flag, hint, pMemSpec, pMemInit, real); st != zufOk)
        return st;
    *ppSpec = static_cast<Ctx*>(ctx);
    return zufOk;
}

zufResult run_c(const Zuf32fc* pSrc, Zuf32fc* pDst, const FftContext_C_32fc* pSpec, Zuf8u* pBuffer, Dir dir) {
    if (const zufResult st = ownsContextCheck(pSpec, kIdFftC32fc, pSrc, pDst); st != zufOk) return st;
    const bool scale = dir == Dir::Fwd ? pSpec->fwdNorm : pSpec->invNorm;
    return ownsWithWork(pBuffer, pSpec->workBytes, [&](float* w) {
        ownsFFT_C_32fc(pSpec, reinterpret_cast<const float*>(pSrc), reinterpret_cast<float*>(pDst), w, dir, scale,
                       pSpec->norm);
    });
}

zufResult run_r(const Zuf32f* pSrc, Zuf32f* pDst, const FftContext_R_32f* pSpec, Zuf8u* pBuffer, Dir dir) {
    if (const zufResult st = ownsContextCheck(pSpec, kIdFftR32f, pSrc, pDst); st != zufOk) return st;
    const bool scale = dir == Dir::Fwd ? pSpec->fwdNorm : pSpec->invNorm;
    return ownsWithWork(pBuffer, pSpec->workBytes,
                        [&](float* w) { ownsFFT_R_32f(pSpec, pSrc, pDst, w, dir, scale, pSpec->norm); });
}

}  // namespace

extern "C" {

ZUF_API zufResult zufsFFTGetSize_C_32fc(int order, int flag, int hint, int* pSpecSize, int* pInitBufSize,
                                        int* pWorkBufSize) {
    (void)hint;
    return get_size(order, flag, pSpecSize, pInitBufSize, pWorkBufSize, false, false);
}
ZUF_API zufResult zufsFFTGetSize_C_32f(int order, int flag, int hint, int* pSpecSize, int* pInitBufSize,
                                       int* pWorkBufSize) {
    (void)hint;
    return get_size(order, flag, pSpecSize, pInitBufSize, pWorkBufSize, false, true);
}
ZUF_API zufResult zufsFFTGetSize_R_32f(int order, int flag, int hint, int* pSpecSize, int* pInitBufSize,
                                       int* pWorkBufSize) {
    (void)hint;
    return get_size(order, flag, pSpecSize, pInitBufSize, pWorkBufSize, true, false);
}

ZUF_API zufResult zufsFFTInit_C_32fc(FftContext_C_32fc** ppSpec, int order, int flag, int hint, Zuf8u* pMemSpec,
                                     Zuf8u* pMemInit) {
    return init(ppSpec, kIdFftC32fc, order, flag, hint, pMemSpec, pMemInit, false);
}
// The split family is the interleaved engine under its own ID word.
ZUF_API zufResult zufsFFTInit_C_32f(FftContext_C_32f** ppSpec, int order, int flag, int hint, Zuf8u* pMemSpec,
                                    Zuf8u* pMemInit) {
    return init(ppSpec, kIdFftC32f, order, flag, hint, pMemSpec, pMemInit, false);
}
ZUF_API zufResult zufsFFTInit_R_32f(FftContext_R_32f** ppSpec, int order, int flag, int hint, Zuf8u* pMemSpec,
                                    Zuf8u* pMemInit) {
    return init(ppSpec, kIdFftR32f, order, flag, hint, pMemSpec, pMemInit, true);
}

ZUF_API zufResult zufsFFTInitAlloc_C_32fc(FftContext_C_32fc** ppSpec, int order, int flag, int hint) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    return ownsContextInitAlloc(ppSpec, zufsFFTGetSize_C_32fc, zufsFFTInit_C_32fc, order, flag, hint);
}

ZUF_API zufResult zufsFFTFree_C_32fc(FftContext_C_32fc* pSpec) { return ownsContextFree(pSpec, kIdFftC32fc); }

// The work size with its 32 bytes of alignment room.
ZUF_API zufResult zufsFFTGetBufSize_C_32fc(const FftContext_C_32fc* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdFftC32fc, 32);
}
ZUF_API zufResult zufsFFTGetBufSize_R_32f(const FftContext_R_32f* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdFftR32f, 32);
}

ZUF_API zufResult zufsFFTFwd_CToC_32fc(const Zuf32fc* pSrc, Zuf32fc* pDst, const FftContext_C_32fc* pSpec,
                                       Zuf8u* pBuffer) {
    return run_c(pSrc, pDst, pSpec, pBuffer, Dir::Fwd);
}
ZUF_API zufResult zufsFFTInv_CToC_32fc(const Zuf32fc* pSrc, Zuf32fc* pDst, const FftContext_C_32fc* pSpec,
                                       Zuf8u* pBuffer) {
    return run_c(pSrc, pDst, pSpec, pBuffer, Dir::Inv);
}

ZUF_API zufResult zufsFFTFwd_CToC_32f(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32f* pDstRe, Zuf32f* pDstIm,
                                      const FftContext_C_32f* pSpec, Zuf8u* pBuffer) {
    if (const zufResult st = ownsContextCheck(pSpec, kIdFftC32f, pSrcRe, pSrcIm, pDstRe, pDstIm); st != zufOk)
        return st;
    return ownsWithWork(pBuffer, pSpec->workBytes, [&](float* w) {
        ownsFFT_C_32f(pSpec, pSrcRe, pSrcIm, pDstRe, pDstIm, w, pSpec->fwdNorm, pSpec->norm);
    });
}

ZUF_API zufResult zufsFFTFwd_RToPerm_32f(const Zuf32f* pSrc, Zuf32f* pDst, const FftContext_R_32f* pSpec,
                                         Zuf8u* pBuffer) {
    return run_r(pSrc, pDst, pSpec, pBuffer, Dir::Fwd);
}
ZUF_API zufResult zufsFFTInv_PermToR_32f(const Zuf32f* pSrc, Zuf32f* pDst, const FftContext_R_32f* pSpec,
                                         Zuf8u* pBuffer) {
    return run_r(pSrc, pDst, pSpec, pBuffer, Dir::Inv);
}

}  // extern "C"
