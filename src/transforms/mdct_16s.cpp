// 16-bit forward MDCT for powers of two N >= 32: the float transform's fold and DCT-IV
// factorisation (mdct_float.cpp) in block floating point around the 16-bit FFT.
//
//  1. An all-zero frame gives zeros.
//  2. Block normalisation: with m the largest input magnitude, s counts the doublings of m
//     (from -1) until it exceeds 32768, plus one when the normalised value (half of the last
//     doubled one) is below 23169 (32768 / sqrt 2); the inputs are taken times 2^s.
//  3. Fold and pre-rotate with the Q15 table of cos, sin (2 pi (j + 1/8) / N), in 64 bits, and
//     round to 16 bits with a quarter gain: a folded value is the sum of two inputs (below 2^17
//     after normalisation) and the rotation can add a factor sqrt 2.
//  4. 16-bit FFT of N/4 points with scale factor log2(N/4) + 1 (the worst-case growth of the sum).
//  5. Post-rotate with the same table (Q15) and round to 16 bits with the shift
//     scaleFactor - log2(N/4) + s + 11, which undoes the Q15, the quarter gain, the FFT scaling
//     and the normalisation and applies the forward factor 2 and 2^-scaleFactor.
// So the result is X * 2^-scaleFactor to within the quantisation of the 16-bit FFT's output.
#include <cmath>
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "transforms/fft_engine.h"
#include "transforms/transform_util.h"

// Context: the same layout as the float MDCT contexts (24 bytes on 32-bit x86).
struct MdctFwdContext_16s {
    uint32_t id;  // 57
    int32_t len;
    int32_t workBytes;
    const FftContext_C_16sc* fft;  // N/4-point 16-bit FFT, flag 8
    int32_t allocated;
    const int32_t* rot;  // Q15 cos, sin of 2 pi (j + 1/8) / N, j < N/4
};

#if defined(__i386__)
static_assert(sizeof(MdctFwdContext_16s) == 24, "16-bit MDCT header is 24 bytes on 32-bit x86");
#endif

namespace zuf::xf {

zufResult ownsFFTGetSizes16(int order, int flag, int hint, int64_t* context, int64_t* init, int64_t* work);
zufResult ownsFFTInit16(FftContext_C_16sc** ppCtx, int order, int flag, int hint, uint8_t* pMemSpec, uint8_t* pMemInit);

namespace {

using Ctx = MdctFwdContext_16s;
constexpr int kFftHint = 2;  // the float-path 16-bit FFT at every length: one rounding only

bool len_ok(int n) { return n >= 32 && (n & (n - 1)) == 0; }
int log2i(int64_t n) {
    int k = 0;
    while ((int64_t{1} << k) < n) ++k;
    return k;
}
int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(Ctx))); }

struct Layout {
    int64_t context, init, work, fspec, finit, fwork;
};

zufResult layout(int n, Layout* l) {
    *l = {};
    const int64_t N = n;
    if (ownsFFTGetSizes16(log2i(N / 4), 8, kFftHint, &l->fspec, &l->finit, &l->fwork) != zufOk) return zufErrSize;
    l->context = header_bytes() + round32(2 * N) + l->fspec + 32;
    l->init = l->finit;
    l->work = 2 * round32(N) + l->fwork + 32;
    if (!fits_i32(l->context) || !fits_i32(l->init) || !fits_i32(l->work)) return zufErrSize;
    return zufOk;
}

int norm_shift(int32_t m) {
    int s = -1;
    int64_t v = m;
    while (v <= 32768) {
        v *= 2;
        ++s;
    }
    if (v / 2 < 23169) ++s;
    return s;
}

Zuf16s round_shift16(int64_t p, int sh) {
    if (sh > 0) return sat16(rshift_round(p, sh > 62 ? 62 : sh));
    return sat16(p * (int64_t{1} << (-sh > 31 ? 31 : -sh)));
}

void forward16(const Ctx* ctx, const Zuf16s* x, Zuf16s* y, int scaleFactor, uint8_t* work) {
    const int n = ctx->len, q = n / 4, K = n / 2;
    int32_t m = 0;
    for (int i = 0; i < n; ++i) {
        const int32_t a = x[i] < 0 ? -int32_t{x[i]} : x[i];
        m = a > m ? a : m;
    }
    if (m == 0) {
        std::memset(y, 0, sizeof(Zuf16s) * K);
        return;
    }
    const int s = norm_shift(m);
    auto xs = [&](int i) { return int32_t{x[i]} * (int32_t{1} << s); };
    auto u = [&](int i) { return i < q ? -xs(3 * q - 1 - i) - xs(3 * q + i) : xs(i - q) - xs(3 * q - 1 - i); };
    auto* z = reinterpret_cast<Zuf16sc*>(work);
    auto* Z = reinterpret_cast<Zuf16sc*>(work + round32(n));
    uint8_t* fw = work + 2 * round32(n);
    const int32_t* r = ctx->rot;
    for (int j = 0; j < q; ++j) {
        const int64_t a = u(2 * j), b = u(K - 1 - 2 * j), c = r[2 * j], sn = r[2 * j + 1];
        z[j].re = sat16(rshift_round(a * c + b * sn, 17));
        z[j].im = sat16(rshift_round(b * c - a * sn, 17));
    }
    const int lq = log2i(q);
    ownsFFT_C_16sc(ctx->fft, z, Z, lq + 1, fw);
    const int sh = scaleFactor - lq + s + 11;
    for (int k = 0; k < q; ++k) {
        const int64_t zr = Z[k].re, zi = Z[k].im, c = r[2 * k], sn = r[2 * k + 1];
        y[2 * k] = round_shift16(zr * c + zi * sn, sh);
        y[K - 1 - 2 * k] = round_shift16(zr * sn - zi * c, sh);
    }
}

zufResult build(Ctx** ppCtx, int n, uint8_t* pMemSpec, uint8_t* pMemInit) {
    Layout l;
    if (const zufResult st = layout(n, &l); st != zufOk) return st;
    auto* ctx = reinterpret_cast<Ctx*>(align_up(pMemSpec, 32));
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->id = kIdMdctFwd16s;
    ctx->len = n;
    ctx->workBytes = static_cast<int32_t>(l.work);
    uint8_t* base = reinterpret_cast<uint8_t*>(ctx);
    auto* rot = reinterpret_cast<int32_t*>(base + header_bytes());
    for (int j = 0; j < n / 4; ++j) {
        const double a = 6.283185307179586476925286766559 * (j + 0.125) / n;
        rot[2 * j] = static_cast<int32_t>(std::lround(32768.0 * std::cos(a)));
        rot[2 * j + 1] = static_cast<int32_t>(std::lround(32768.0 * std::sin(a)));
    }
    ctx->rot = rot;
    FftContext_C_16sc* f = nullptr;
    if (const zufResult st =
            ownsFFTInit16(&f, log2i(n / 4), 8, kFftHint, base + header_bytes() + round32(2 * int64_t{n}), pMemInit);
        st != zufOk)
        return st;
    ctx->fft = f;
    *ppCtx = ctx;
    return zufOk;
}

}  // namespace
}  // namespace zuf::xf

using namespace zuf;
using namespace zuf::xf;

extern "C" {

ZUF_API zufResult zufsMDCTFwdGetSize_16s(int len, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize, pWorkBufSize), zufErrNullPtr);
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    Layout l;
    if (const zufResult st = layout(len, &l); st != zufOk) return st;
    return ownsContextSizesOut(l, pSpecSize, pInitBufSize, pWorkBufSize);
}

ZUF_API zufResult zufsMDCTFwdInit_16s(MdctFwdContext_16s** ppSpec, int len, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    // The pointers first, pMemInit among them: the 16-bit FFT of every allowed length builds its
    // tables in it.
    ZUF_REQUIRE(nonnull(ppSpec, pMemSpec, pMemInit), zufErrNullPtr);
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    return build(ppSpec, len, pMemSpec, pMemInit);
}

ZUF_API zufResult zufsMDCTFwdInitAlloc_16s(MdctFwdContext_16s** ppSpec, int len) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(len_ok(len), zufErrSize);
    return ownsContextInitAlloc(ppSpec, zufsMDCTFwdGetSize_16s, zufsMDCTFwdInit_16s, len);
}

// The nested FFT context lives in the same block.
ZUF_API zufResult zufsMDCTFwdFree_16s(MdctFwdContext_16s* pSpec) { return ownsContextFree(pSpec, kIdMdctFwd16s); }

// workBytes already holds the alignment room.
ZUF_API zufResult zufsMDCTFwdGetBufSize_16s(const MdctFwdContext_16s* pSpec, int* pSize) {
    return ownsContextGetBufSize(pSpec, pSize, kIdMdctFwd16s, 0);
}

ZUF_API zufResult zufsMDCTFwd_16s_Sfs(const Zuf16s* pSrc, Zuf16s* pDst, const MdctFwdContext_16s* pSpec,
                                      int scaleFactor, Zuf8u* pBuffer) {
    if (const zufResult st = ownsContextCheck(pSpec, kIdMdctFwd16s, pSrc, pDst); st != zufOk) return st;
    return ownsWithWork<uint8_t>(pBuffer, pSpec->workBytes,
                                 [&](uint8_t* w) { forward16(pSpec, pSrc, pDst, scaleFactor, w); });
}

}  // extern "C"
