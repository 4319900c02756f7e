// The 32-band polyphase filter banks of ISO/IEC 11172-3 in float: the encoder's analysis subband
// filter (2.4.3.3 and Annex C, Figure C.4) and the decoder's synthesis subband filter (2.4.3.2 and
// Annex A, Figure A.2), one group of 32 samples per call.
//
// History: a ring of sixteen blocks of 32 floats; the phase index names the slot of the newest
// block (decremented every call), so the block of age a sits in slot (phase + a) mod 16 and no
// sample is ever moved.
//  - Analysis: a block holds 32 new samples scaled by 1/32768, newest first, so that the
//    standard's X[32a + r] is slot (phase + a), element r.
//  - Synthesis: a block holds T[m] = sum_k S[k] cos(m (2k + 1) pi / 64), m = 0..31; the
//    standard's 64 values V[i] = T[16 + i] (i < 16), 0 (i = 16), -T[48 - i] (16 < i <= 48,
//    T[32] being 0), -T[i - 48] (i > 48) follow by sign and mirror, and the folded window table
//    carries the signs.
//
// Vector paths: four outputs per step (eight in the matrix with AVX2) with the same operations in
// the same order on every lane (contraction off), so they equal the scalar reference bit for bit.
// The window loops read the folded tables in groups of four and stay four lanes wide.
#include "sbr/mp3_pqmf_float.h"

#include <cstddef>
#include <cstring>

#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"

namespace zuf::sbr {

namespace {

using Ctx = SynthesisFilterContext_PQMF_MP3_32f;

constexpr uint32_t kIdSynth = amc_id(0x67);
constexpr uint32_t kIdAnalysis = amc_id(0x68);
constexpr int kContextBytes = 2091;  // 15 bytes of alignment room, the header, 512 floats
static_assert(15 + sizeof(Ctx) + 512 * sizeof(float) <= kContextBytes, "the context fits its block");

inline const float* slot(const Ctx* ctx, int age) { return ctx->history + 32 * ((ctx->phase + age) & 15); }

// ------------------------------------------------------------------ lanes (lane_load etc.: common/simd.h)

// Y[k] = sum_{j<8} C[k + 64j] X[k + 64j] for the lanes from k (k and k + 3 in the same half).
// The groups' sums are independent; they run side by side so that their additions overlap.
template <class T>
void window_analysis(const Ctx* ctx, float* y) {
    constexpr int L = kLanes<T>;
    for (int k0 = 0; k0 < 64; k0 += 16) {
        T acc[16 / L];
        for (int k = k0; k < k0 + 16; k += L) {
            const float* c = mp3enc_Ccoef + 32 * (k / 4) + k % 4;
            acc[(k - k0) / L] = lane_load<T>(c) * lane_load<T>(slot(ctx, k / 32) + k % 32);
        }
        for (int j = 1; j < 8; ++j)
            for (int k = k0; k < k0 + 16; k += L) {
                const float* c = mp3enc_Ccoef + 32 * (k / 4) + k % 4;
                acc[(k - k0) / L] =
                    acc[(k - k0) / L] + lane_load<T>(c + 4 * j) * lane_load<T>(slot(ctx, 2 * j + k / 32) + k % 32);
            }
        for (int k = k0; k < k0 + 16; k += L) lane_store(y + k, acc[(k - k0) / L]);
    }
}

// out[i] = sum_m a[m] tab[32m + i], m in order, all outputs side by side.
template <class T>
void matrix32(const float* a, const float* tab, float* out) {
    constexpr int L = kLanes<T>, G = 32 / L;
    T acc[G];
    for (int g = 0; g < G; ++g) acc[g] = lane_splat<T>(a[0]) * lane_load<T>(tab + g * L);
    for (int m = 1; m < 32; ++m) {
        const T am = lane_splat<T>(a[m]);
        for (int g = 0; g < G; ++g) acc[g] = acc[g] + am * lane_load<T>(tab + 32 * m + g * L);
    }
    for (int g = 0; g < G; ++g) lane_store(out + g * L, acc[g]);
}

// The stored T entries that output j reads from a block of even age (ie) and of odd age (io):
// T[16 + j] and T[16 - j] for j < 16, T[48 - j] and T[j - 16] beyond. Output 16 takes nothing
// from even ages (its factor is 0); it reads T[31] there, like its vector group.
inline int index_even(int j) { return j < 16 ? 16 + j : (j == 16 ? 31 : 48 - j); }
inline int index_odd(int j) { return j <= 16 ? 16 - j : j - 16; }
inline float pick(const float* t, int j, bool odd) { return t[odd ? index_odd(j) : index_even(j)]; }
// The same four at a time: runs of four ascending or descending entries.
inline __m128 rev(__m128 v) { return permute_f32<_MM_SHUFFLE(0, 1, 2, 3)>(v); }
inline __m128 pick4(const float* t, int j0, bool odd) {
    if (odd) return j0 < 16 ? rev(loadu_f128(t + 13 - j0)) : loadu_f128(t + j0 - 16);
    if (j0 < 16) return loadu_f128(t + 16 + j0);
    if (j0 == 16) {
        const __m128 v = loadu_f128(t + 28);  // T[28..31] -> T[31], T[31], T[30], T[29]
        return permute_f32<_MM_SHUFFLE(1, 2, 3, 3)>(v);
    }
    return rev(loadu_f128(t + 45 - j0));
}
inline float pick_lanes(const float* t, int j, bool odd, float) { return pick(t, j, odd); }
inline __m128 pick_lanes(const float* t, int j, bool odd, __m128) { return pick4(t, j, odd); }

// out[j] = sum over the 16 blocks, newest first, of the folded window factor (entry
// 64 (j / 4) + 4 age + j % 4) times the block's stored entry for j.
template <class T>
void window_synthesis(const Ctx* ctx, float* out) {
    constexpr int L = kLanes<T>;
    for (int j = 0; j < 32; j += L) {
        const float* w = pMp3SynthWinFold + 64 * (j / 4) + j % 4;
        T acc = lane_load<T>(w) * pick_lanes(slot(ctx, 0), j, false, T{});
        for (int age = 1; age < 16; ++age)
            acc = acc + lane_load<T>(w + 4 * age) * pick_lanes(slot(ctx, age), j, age % 2 == 1, T{});
        lane_store(out + j, acc);
    }
}

// The lane type of the matrix: the scalar reference stays scalar, a vector path runs as wide as
// the build allows (its 32 outputs are independent).
inline float matrix_lane(float) { return 0.0f; }
inline LaneF matrix_lane(__m128) { return LaneF{}; }
template <class T>
using MatrixLane = decltype(matrix_lane(T{}));

template <class T>
void analysis(const Zuf32f* pSrc, Zuf32f* pDst, Ctx* ctx, int step) {
    ctx->phase = (ctx->phase - 1) & 15;
    float* blk = ctx->history + 32 * ctx->phase;
    for (int r = 0; r < 32; ++r) blk[r] = pSrc[(31 - r) * step] * 3.0517578e-5f;  // 1/32768
    alignas(16) float y[64], a[32];
    window_analysis<T>(ctx, y);
    // fold: cos((2i+1)(k-16) pi/64) is even in k - 16, changes sign at 64 - (k - 16) and
    // vanishes at k - 16 = 32
    a[0] = y[16];
    for (int m = 1; m <= 16; ++m) a[m] = y[16 + m] + y[16 - m];
    for (int m = 17; m < 32; ++m) a[m] = y[16 + m] - y[80 - m];
    matrix32<MatrixLane<T>>(a, pMp3MatrixCos, pDst);
}

template <class T>
void synthesis(const Zuf32f* pSrc, Zuf32f* pDst, Ctx* ctx, int step) {
    ctx->phase = (ctx->phase - 1) & 15;
    matrix32<MatrixLane<T>>(pSrc, pMp3SynthCos, ctx->history + 32 * ctx->phase);
    alignas(16) float out[32];
    window_synthesis<T>(ctx, out);
    for (int j = 0; j < 32; ++j) pDst[j * step] = out[j];
}

template <class C>
zufResult ownsInit(C** ppSpec, Zuf8u* pMem, uint32_t id, int32_t allocated) {
    ZUF_REQUIRE(nonnull(ppSpec, pMem), zufErrNullPtr);
    C* ctx = align_up(reinterpret_cast<C*>(pMem), 16);
    ctx->id = id;
    ctx->phase = 15;
    ctx->allocated = allocated;
    ctx->history = reinterpret_cast<Zuf32f*>(reinterpret_cast<Zuf8u*>(ctx) + sizeof(Ctx));
    std::memset(ctx->history, 0, 512 * sizeof(float));
    *ppSpec = ctx;
    return zufOk;
}

template <class C>
zufResult ownsInitAlloc(C** ppSpec, uint32_t id) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    Zuf8u* block = zufsMalloc_8u(kContextBytes);
    if (!block) return zufErrNoMemory;
    C* ctx = nullptr;
    ownsInit(&ctx, block, id, 1);
    *ppSpec = reinterpret_cast<C*>(block);
    return zufOk;
}

zufResult ownsFree(void* pSpec, uint32_t id) {
    ZUF_REQUIRE(pSpec != nullptr, zufErrNullPtr);
    Ctx* ctx = align_up(static_cast<Ctx*>(pSpec), 16);
    ZUF_REQUIRE(context_word(ctx, 0) == id, zufErrContext);
    ctx->id = 0;
    if (ctx->allocated) zufsFree(pSpec);
    return zufOk;
}

// Checks of the two filters: pointers, mode, then the ID at the aligned address.
zufResult ownsFilterCheck(const void* pSrc, const void* pDst, const void* pSpec, int mode, uint32_t id) {
    ZUF_REQUIRE(nonnull(pSrc, pDst, pSpec), zufErrNullPtr);
    ZUF_REQUIRE(mode == 1 || mode == 2, zufErrBadArg);
    ZUF_REQUIRE(context_word(align_up(static_cast<const Zuf8u*>(pSpec), 16), 0) == id, zufErrContext);
    return zufOk;
}

}  // namespace

void ownsAnalysisPQMF_MP3_32f(const Zuf32f* pSrc, Zuf32f* pDst, Ctx* ctx, int step, bool vector) {
    vector ? analysis<__m128>(pSrc, pDst, ctx, step) : analysis<float>(pSrc, pDst, ctx, step);
}

void ownsSynthesisPQMF_MP3_32f(const Zuf32f* pSrc, Zuf32f* pDst, Ctx* ctx, int step, bool vector) {
    vector ? synthesis<__m128>(pSrc, pDst, ctx, step) : synthesis<float>(pSrc, pDst, ctx, step);
}

}  // namespace zuf::sbr

using namespace zuf;
using namespace zuf::sbr;

extern "C" {

ZUF_API zufResult zufsAnalysisFilterGetSize_PQMF_MP3_32f(int* pSize) {
    ZUF_REQUIRE(pSize != nullptr, zufErrNullPtr);
    *pSize = kContextBytes;
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilterGetSize_PQMF_MP3_32f(int* pSize) {
    ZUF_REQUIRE(pSize != nullptr, zufErrNullPtr);
    *pSize = kContextBytes;
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilterInit_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f** ppSpec, Zuf8u* pMem) {
    return ownsInit(ppSpec, pMem, kIdAnalysis, 0);
}

ZUF_API zufResult zufsSynthesisFilterInit_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f** ppSpec, Zuf8u* pMem) {
    return ownsInit(ppSpec, pMem, kIdSynth, 0);
}

ZUF_API zufResult zufsAnalysisFilterInitAlloc_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f** ppSpec) {
    return ownsInitAlloc(ppSpec, kIdAnalysis);
}

ZUF_API zufResult zufsSynthesisFilterInitAlloc_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f** ppSpec) {
    return ownsInitAlloc(ppSpec, kIdSynth);
}

ZUF_API zufResult zufsAnalysisFilterFree_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f* pSpec) {
    return ownsFree(pSpec, kIdAnalysis);
}

ZUF_API zufResult zufsSynthesisFilterFree_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f* pSpec) {
    return ownsFree(pSpec, kIdSynth);
}

ZUF_API zufResult zufsAnalysisFilter_PQMF_MP3_32f(const Zuf32f* pSrc, Zuf32f* pDst,
                                                  AnalysisFilterContext_PQMF_MP3_32f* pSpec, int mode) {
    if (const zufResult st = ownsFilterCheck(pSrc, pDst, pSpec, mode, kIdAnalysis); st != zufOk) return st;
    ownsAnalysisPQMF_MP3_32f(pSrc, pDst, align_up(static_cast<Ctx*>(pSpec), 16), mode, true);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilter_PQMF_MP3_32f(const Zuf32f* pSrc, Zuf32f* pDst,
                                                   SynthesisFilterContext_PQMF_MP3_32f* pSpec, int mode) {
    if (const zufResult st = ownsFilterCheck(pSrc, pDst, pSpec, mode, kIdSynth); st != zufOk) return st;
    ownsSynthesisPQMF_MP3_32f(pSrc, pDst, align_up(pSpec, 16), mode, true);
    return zufOk;
}

}  // extern "C"
