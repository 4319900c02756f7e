// The lifecycle of a context family, written once: InitAlloc (context block and init buffer from
// the library allocator, then the family's own Init), Free and GetBufSize, plus the writing of
// GetSize's three sizes. Every family with caller-placed contexts (FFT, DCT, MDCT, and the SBR, VQ
// and AAC prediction contexts that follow them) builds its exported shells on these.
//
// What a family provides:
//   GetSize(args..., int* pCtxSize, int* pInitBufSize, int* pWorkBufSize) -> zufResult
//   Init(Ctx** ppCtx, args..., Zuf8u* pMemCtx, Zuf8u* pMemInit) -> zufResult
// usually its exported functions themselves, so that InitAlloc checks exactly what they check.
// The context record Ctx holds its 32-bit ID word as the member `id` at word 0, the flag
// `allocated` (1: InitAlloc made the block, so Free releases it) and, for GetBufSize, the member
// `workBytes`. A context nested in another (an MDCT's FFT, say) lives in its parent's block and
// is never freed on its own.
#pragma once

#include <cstdint>

#include "common/checks.h"
#include "common/context.h"
#include "zufack9/zuf_core.h"

namespace zuf {

// GetSize's output: the context, init and work sizes of any record with those three members (in
// bytes, already known to fit an int), written to the caller's three ints.
template <class Sizes>
zufResult ownsContextSizesOut(const Sizes& s, int* pCtxSize, int* pInitBufSize, int* pWorkBufSize) {
    *pCtxSize = static_cast<int>(s.context);
    *pInitBufSize = static_cast<int>(s.init);
    *pWorkBufSize = static_cast<int>(s.work);
    return zufOk;
}

// InitAlloc. The shell checks ppCtx (and anything its documentation checks before it) first,
// then calls this with the arguments of GetSize and Init. Statuses, in this order: GetSize's
// status when it fails; zufErrNoMemory when the context block or the init buffer (allocated only
// when GetSize asks for one, or always with kInitRequired, for an Init that requires the pointer
// even where the buffer is empty) cannot be had, with nothing left allocated; Init's status when
// it fails, with the block released; otherwise zufOk. The init buffer is released before
// returning in every case, and *ppCtx is written only on success.
template <bool kInitRequired = false, class Ctx, class GetSize, class Init, class... Args>
zufResult ownsContextInitAlloc(Ctx** ppCtx, GetSize getSize, Init init, Args... args) {
    int ctxSize = 0, initSize = 0, workSize = 0;
    if (const zufResult st = getSize(args..., &ctxSize, &initSize, &workSize); st != zufOk) return st;
    Zuf8u* block = zufsMalloc_8u(ctxSize);
    if (!block) return zufErrNoMemory;
    Zuf8u* initBuf = nullptr;
    if (initSize > 0 || kInitRequired) {
        initBuf = zufsMalloc_8u(initSize > 0 ? initSize : 1);
        if (!initBuf) {
            zufsFree(block);
            return zufErrNoMemory;
        }
    }
    Ctx* ctx = nullptr;
    const zufResult st = init(&ctx, args..., block, initBuf);
    zufsFree(initBuf);
    if (st != zufOk) {
        zufsFree(block);
        return st;
    }
    ctx->allocated = 1;
    *ppCtx = ctx;
    return zufOk;
}

// The first checks of every call on a context, in this order: the context pointer
// (zufErrNullPtr), its ID word (zufErrContext), then the call's data pointers (zufErrNullPtr).
template <class Ctx, class... P>
zufResult ownsContextCheck(const Ctx* pCtx, uint32_t id, const P*... data) {
    ZUF_REQUIRE(pCtx != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(context_word(pCtx, 0) == id, zufErrContext);
    ZUF_REQUIRE(nonnull(data...), zufErrNullPtr);
    return zufOk;
}

// Free: the context checks above. The ID is cleared, so that a second Free or any later use
// reports zufErrContext, and the block is released when InitAlloc made it (a caller-placed
// context stays the caller's memory).
template <class Ctx>
zufResult ownsContextFree(Ctx* pCtx, uint32_t id) {
    if (const zufResult st = ownsContextCheck(pCtx, id); st != zufOk) return st;
    pCtx->id = 0;
    if (pCtx->allocated) zufsFree(pCtx);
    return zufOk;
}

// GetBufSize: both pointers (zufErrNullPtr), then the ID word (zufErrContext). The size is the
// context's workBytes plus `slack` (the 32 bytes of alignment room, for families whose workBytes
// leave it out), or 0 when a transform needs no work buffer.
template <class Ctx>
zufResult ownsContextGetBufSize(const Ctx* pCtx, int* pSize, uint32_t id, int32_t slack) {
    ZUF_REQUIRE(nonnull(pCtx, pSize), zufErrNullPtr);
    ZUF_REQUIRE(context_word(pCtx, 0) == id, zufErrContext);
    *pSize = pCtx->workBytes > 0 ? pCtx->workBytes + slack : 0;
    return zufOk;
}

}  // namespace zuf
