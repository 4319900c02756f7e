// Block FIR filter: blockLen independent signals filtered side by side, one sample of each per
// call (a column of a time-frequency matrix, say, where each position of the block is a band).
//
// History: the last tapsLen - 1 input blocks in a ring of rows of the delay buffer. A call
// advances delayIndex by one (modulo tapsLen - 1) to the row of the oldest block x_(n-T+1),
// uses it for the last tap, and then overwrites it with the current block x_n; row
// (delayIndex - k) mod (tapsLen - 1) then holds x_(n-k). Each output is summed in single
// precision in one fixed order, shared by the scalar and the SSE2 kernel:
//     y = h[T-1] * x_(n-T+1) + h[0] * x_n;  y += h[1] * x_(n-1);  ...;  y += h[T-2] * x_(n-T+2)
#include <cstddef>
#include <cstring>

#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

#if defined(__i386__)
static_assert(sizeof(FirBlockContext_32f) == 16, "FIR block context: 16 bytes on 32-bit x86");
static_assert(offsetof(FirBlockContext_32f, tapsLen) == 4 && offsetof(FirBlockContext_32f, blockLen) == 6 &&
                  offsetof(FirBlockContext_32f, blockStride) == 8 && offsetof(FirBlockContext_32f, delayIndex) == 10,
              "FIR block context field offsets");
static_assert(offsetof(FirBlockContext_32f, idCtx) == 12, "FIR block context: ID in the fourth word");
#endif
static_assert(offsetof(FirBlockContext_32f, idCtx) % 4 == 0, "the ID word is a whole 32-bit word");

namespace zuf {
namespace {

constexpr std::size_t kIdWord = offsetof(FirBlockContext_32f, idCtx) / 4;

// The row before r in the ring of `rows` rows.
inline int ring_prev(int r, int rows) { return r == 0 ? rows - 1 : r - 1; }

// Advances the ring and returns the row of the oldest block (tapsLen >= 2).
inline int advance(FirBlockContext_32f* c) {
    const int idx = (c->delayIndex + 1) % (c->tapsLen - 1);
    c->delayIndex = static_cast<int16_t>(idx);
    return idx;
}

// R registers of T (R kLanes<T> signals) starting at column j. The delay rows are 16-byte
// aligned (the buffer comes from zufsMalloc_32f and the stride is a multiple of four floats),
// which the unaligned loads need not rely on.
template <class T, int R>
inline void fir_columns(const Zuf32f* pSrc, Zuf32f* pDst, const FirBlockContext_32f* c, int idx, const Zuf32f* pTaps,
                        int j) {
    constexpr int L = kLanes<T>;
    const int taps = c->tapsLen, rows = taps - 1;
    const std::ptrdiff_t stride = c->blockStride;
    Zuf32f* oldest = c->pDelay + idx * stride + j;
    const T hl = lane_splat<T>(pTaps[taps - 1]), h0 = lane_splat<T>(pTaps[0]);
    T x[R], acc[R];
    for (int r = 0; r < R; ++r) {
        x[r] = lane_load<T>(pSrc + j + L * r);
        acc[r] = hl * lane_load<T>(oldest + L * r) + h0 * x[r];
    }
    int row = idx;
    for (int k = 1; k <= taps - 2; ++k) {
        row = ring_prev(row, rows);
        const Zuf32f* p = c->pDelay + row * stride + j;
        const T hk = lane_splat<T>(pTaps[k]);
        for (int r = 0; r < R; ++r) acc[r] = acc[r] + hk * lane_load<T>(p + L * r);
    }
    for (int r = 0; r < R; ++r) {
        lane_store(oldest + L * r, x[r]);
        lane_store(pDst + j + L * r, acc[r]);
    }
}

// One signal (column j), the scalar rule.
inline void fir_column(const Zuf32f* pSrc, Zuf32f* pDst, const FirBlockContext_32f* c, int idx, const Zuf32f* pTaps,
                       int j) {
    const int taps = c->tapsLen, rows = taps - 1;
    const std::ptrdiff_t stride = c->blockStride;
    Zuf32f* oldest = c->pDelay + idx * stride + j;
    const Zuf32f x = pSrc[j];
    Zuf32f acc = pTaps[taps - 1] * *oldest + pTaps[0] * x;
    int row = idx;
    for (int k = 1; k <= taps - 2; ++k) {
        row = ring_prev(row, rows);
        acc += pTaps[k] * c->pDelay[row * stride + j];
    }
    *oldest = x;
    pDst[j] = acc;
}

}  // namespace

// pDst may equal pSrc: each input is read before its output is written.
void ownsFIRBlockOne_32f_ref(const Zuf32f* pSrc, Zuf32f* pDst, FirBlockContext_32f* pCtx, const Zuf32f* pTaps) {
    const int n = pCtx->blockLen;
    if (pCtx->tapsLen == 1) {  // no history
        for (int j = 0; j < n; ++j) pDst[j] = pTaps[0] * pSrc[j];
        return;
    }
    const int idx = advance(pCtx);
    for (int j = 0; j < n; ++j) fir_column(pSrc, pDst, pCtx, idx, pTaps, j);
}

// Four registers of the widest lanes at a time (16 signals with SSE, 32 with AVX2, so each tap's
// row is read in whole cache lines), then one register, then four, then the scalar rule for the
// last blockLen % 4.
void ownsFIRBlockOne_32f_sse2(const Zuf32f* pSrc, Zuf32f* pDst, FirBlockContext_32f* pCtx, const Zuf32f* pTaps) {
    constexpr int L = kLanesF;
    const int n = pCtx->blockLen;
    int j = 0;
    if (pCtx->tapsLen == 1) {
        const LaneF h0 = lane_splat<LaneF>(pTaps[0]);
        for (; j + L <= n; j += L) lane_store(pDst + j, h0 * lane_load<LaneF>(pSrc + j));
        for (; j < n; ++j) pDst[j] = pTaps[0] * pSrc[j];
        return;
    }
    const int idx = advance(pCtx);
    for (; j + 4 * L <= n; j += 4 * L) fir_columns<LaneF, 4>(pSrc, pDst, pCtx, idx, pTaps, j);
    for (; j + L <= n; j += L) fir_columns<LaneF, 1>(pSrc, pDst, pCtx, idx, pTaps, j);
    for (; j + 4 <= n; j += 4) fir_columns<__m128, 1>(pSrc, pDst, pCtx, idx, pTaps, j);
    for (; j < n; ++j) fir_column(pSrc, pDst, pCtx, idx, pTaps, j);
}

}  // namespace zuf

namespace {

bool ownsFirIdOk(const FirBlockContext_32f* pCtx) {
    return zuf::context_word(pCtx, zuf::kIdWord) == zuf::kIdFirBlock32f;
}

}  // namespace

// The context's 16-bit fields bound the lengths: tapsLen up to 32767, and blockLen up to 32764
// so that its stride (rounded up to a multiple of 4) still fits; longer ones are zufErrSize.
// The delay buffer has tapsLen rows of blockStride floats, zeroed (the first calls see silence).
// *ppCtx is written only on success.
extern "C" ZUF_API zufResult zufsFIRBlockInitAlloc_32f(FirBlockContext_32f** ppCtx, int tapsLen, int blockLen) {
    ZUF_REQUIRE(zuf::nonnull(ppCtx), zufErrNullPtr);
    ZUF_REQUIRE(tapsLen >= 1 && blockLen >= 1, zufErrFirLen);
    ZUF_REQUIRE(tapsLen <= INT16_MAX && blockLen <= INT16_MAX - 3, zufErrSize);
    const int stride = (blockLen + 3) & ~3;
    auto* ctx = reinterpret_cast<FirBlockContext_32f*>(zufsMalloc_8u(static_cast<int>(sizeof(FirBlockContext_32f))));
    if (!ctx) return zufErrNoMemory;
    const int floats = tapsLen * stride;  // below 2^30
    Zuf32f* delay = zufsMalloc_32f(floats);
    if (!delay) {
        zufsFree(ctx);
        return zufErrNoMemory;
    }
    std::memset(delay, 0, static_cast<std::size_t>(floats) * sizeof(Zuf32f));
    *ctx = FirBlockContext_32f{delay,
                               static_cast<int16_t>(tapsLen),
                               static_cast<int16_t>(blockLen),
                               static_cast<int16_t>(stride),
                               0,
                               zuf::kIdFirBlock32f};
    *ppCtx = ctx;
    return zufOk;
}

// The vector kernel copes with any alignment of pSrc, pDst and pTaps; the status reports it.
extern "C" ZUF_API zufResult zufsFIRBlockOne_32f(const Zuf32f* pSrc, Zuf32f* pDst, FirBlockContext_32f* pCtx,
                                                 const Zuf32f* pTaps) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pCtx, pTaps), zufErrNullPtr);
    ZUF_REQUIRE(ownsFirIdOk(pCtx), zufErrContext);
    ZUF_REQUIRE(pCtx->tapsLen >= 1 && pCtx->blockLen >= 1, zufErrFirLen);
    ZUF_REQUIRE(pCtx->delayIndex >= 0 && pCtx->delayIndex <= pCtx->tapsLen - 1, zufErrFirLen);
    zuf::ownsFIRBlockOne_32f_sse2(pSrc, pDst, pCtx, pTaps);
    return zuf::all_aligned16(pSrc, pDst, pTaps) ? zufOk : zufWarnMisaligned;
}

// Releases the delay buffer, then the context.
extern "C" ZUF_API zufResult zufsFIRBlockFree_32f(FirBlockContext_32f* pCtx) {
    ZUF_REQUIRE(zuf::nonnull(pCtx), zufErrNullPtr);
    ZUF_REQUIRE(ownsFirIdOk(pCtx), zufErrContext);
    zufsFree(pCtx->pDelay);
    zufsFree(pCtx);
    return zufOk;
}
