// Fixed-point SBR QMF banks of ISO/IEC 14496-3 (4.6.18.4): 32-band analysis and 64-band (or
// down-sampled 32-band) synthesis, complex (HQ) and real (LP), one time slot per call.
//
// History: a ring of ten blocks of B values (B = 32 analysis, 128 synthesis, 64 down-sampled
// synthesis). Every call first steps blk back by one (9 after 0) and writes the new block there,
// so the value at distance r from the newest one lies in block (blk + r / B) mod 10 at offset
// r mod B. The window stages walk the ten blocks in that order: out of the standard's index sums,
// block t pairs with window entries (B/2) t .. (B/2) t + B/2 - 1 (analysis: 32 t .. 32 t + 31
// folded onto u mod 64), so no index wraps inside the inner loops.
//
// Arithmetic: every product is mulhi with a Q30 factor (the product / 4, floored); every sum
// wraps in 32 bits (through unsigned types). The transforms run the fixed-point FFT of
// transforms/fft_32sc.h (unscaled) between two rotation stages, so each has the gain 1/16 on
// its defining sum (see zuf_sbr.h).
//
// Context layout (16-byte aligned): the header {ID word, state record pointer, InitAlloc flag},
// the state record {history pointer, blk} right behind it, the history at the next 16-byte
// boundary. On 32-bit x86 that is 12 + 8 bytes before the history at byte 32.
#include "sbr/sbr_qmf_fixed.h"

#include <cstddef>
#include <cstring>

#include "common/checks.h"
#include "common/context.h"
#include "common/fixed_point.h"
#include "frame/context_alloc.h"
#include "transforms/fft_32sc.h"

struct SbrQmfContextHeader {
    uint32_t id;
    zuf::SbrQmfState* pState;
    int32_t allocated;  // 1: InitAlloc made the block, Free releases it
};
struct AnalysisFilterContext_SBRHQ_32s32sc : SbrQmfContextHeader {};
struct AnalysisFilterContext_SBRLP_32s : SbrQmfContextHeader {};
struct SynthesisFilterContext_SBRHQ_32sc32s : SbrQmfContextHeader {};
struct SynthesisFilterContext_SBRLP_32s : SbrQmfContextHeader {};
struct SynthesisDownFilterContext_SBRHQ_32sc32s : SbrQmfContextHeader {};
struct SynthesisDownFilterContext_SBRLP_32s : SbrQmfContextHeader {};

namespace zuf {
namespace {

using Header = SbrQmfContextHeader;

constexpr std::size_t round_to(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }
constexpr std::size_t kStateOffset = round_to(sizeof(Header), alignof(SbrQmfState));
constexpr std::size_t kHistOffset = round_to(kStateOffset + sizeof(SbrQmfState), 16);
#if defined(__i386__)
static_assert(sizeof(Header) == 12 && kStateOffset == 12 && kHistOffset == 32,
              "SBR fixed-point context: 12-byte header, 8-byte state record, history at byte 32 on 32-bit x86");
#endif

// The families: ID word and history length (ten blocks).
struct Family {
    uint32_t id;
    int hist;
};
constexpr Family kAnaHQ{amc_id(0x61), 320}, kAnaLP{amc_id(0x62), 320};
constexpr Family kSynHQ{amc_id(0x63), 1280}, kSynLP{amc_id(0x64), 1280};
constexpr Family kDownHQ{amc_id(0x65), 640}, kDownLP{amc_id(0x66), 640};

constexpr int kBlocks = 10;
constexpr Zuf32s kOneQ30 = 1 << 30;

// 15 bytes of alignment slack, header, state record and history.
constexpr int context_bytes(const Family& f) { return static_cast<int>(15 + kHistOffset + 4 * f.hist); }

Header* header_at(void* p) { return reinterpret_cast<Header*>(align_up(static_cast<Zuf8u*>(p), 16)); }

zufResult get_size(int* pSize, const Family& f) {
    ZUF_REQUIRE(nonnull(pSize), zufErrNullPtr);
    *pSize = context_bytes(f);
    return zufOk;
}

zufResult init(Zuf8u* pMem, const Family& f) {
    ZUF_REQUIRE(nonnull(pMem), zufErrNullPtr);
    Zuf8u* base = align_up(pMem, 16);
    auto* st = reinterpret_cast<SbrQmfState*>(base + kStateOffset);
    auto* hist = reinterpret_cast<Zuf32s*>(base + kHistOffset);
    std::memset(hist, 0, 4 * static_cast<std::size_t>(f.hist));
    *st = SbrQmfState{hist, 0};
    *reinterpret_cast<Header*>(base) = Header{f.id, st, 0};
    return zufOk;
}

// The block of zufsMalloc_8u is 32-byte aligned, so the context starts at the allocation address,
// which is what the caller gets and what Free releases.
template <class Ctx>
zufResult init_alloc(Ctx** ppSpec, const Family& f) {
    ZUF_REQUIRE(nonnull(ppSpec), zufErrNullPtr);
    auto sizes = [&f](int* pCtx, int* pInit, int* pWork) {
        *pInit = *pWork = 0;
        return get_size(pCtx, f);
    };
    auto build = [&f](Ctx** pp, Zuf8u* pMem, Zuf8u*) {
        const zufResult st = init(pMem, f);
        *pp = reinterpret_cast<Ctx*>(pMem);
        return st;
    };
    return ownsContextInitAlloc(ppSpec, sizes, build);
}

// The ID check: the word at the aligned context is one of the accepted IDs (the down-sampled
// synthesis also takes its full-band twin).
bool id_is(void* pSpec, uint32_t id, uint32_t alt) {
    const uint32_t w = context_word(header_at(pSpec), 0);
    return w == id || w == alt;
}

// A context built by Init stays the caller's memory and is left as it is.
zufResult free_ctx(void* pSpec, const Family& f) {
    ZUF_REQUIRE(pSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, f.id, f.id), zufErrContext);
    Header* h = header_at(pSpec);
    if (h->allocated == 1) {
        h->id = 0;
        zufsFree(h);
    }
    return zufOk;
}

// Steps the ring back by one block and returns the new newest block's index.
int next_block(SbrQmfState* st) {
    st->blk = st->blk == 0 ? kBlocks - 1 : st->blk - 1;
    return st->blk;
}

// Analysis, step 1 and 2: the 32 new samples reversed into the newest block (r = 31 - i), then
// u[k] = sum_j mulhi(x(k + 64j), W[k + 64j]), k < 64, W the Q30 320-tap window.
void analysis_window(const Zuf32s* pSrc, SbrQmfState* st, Zuf32s* pU) {
    const int blk = next_block(st);
    Zuf32s* newest = st->pHist + 32 * blk;
    for (int i = 0; i < 32; ++i) newest[31 - i] = pSrc[i];
    uint32_t acc[64] = {};
    for (int t = 0; t < kBlocks; ++t) {
        const Zuf32s* x = st->pHist + 32 * ((blk + t) % kBlocks);
        const Zuf32s* w = SBR_TABLE_QMF_WINDOW_320_INT_Q30 + 32 * t;
        uint32_t* a = acc + 32 * (t & 1);
        for (int m = 0; m < 32; ++m) a[m] += static_cast<uint32_t>(mulhi(x[m], w[m]));
    }
    for (int k = 0; k < 64; ++k) pU[k] = static_cast<Zuf32s>(acc[k]);
}

// Synthesis, step 2, blocks of B values (B = 2 * half): out[n] = sum over the ten blocks t of
// mulhi(v(B t + half (t & 1) + n), W[half t + n]), n < half; the standard's two sums over j
// (v(2 B j + n) and v(2 B j + 3 half + n)) are the even and the odd blocks.
void synthesis_window(const SbrQmfState* st, int half, const Zuf32s* pWin, Zuf32s* pDst) {
    uint32_t acc[64] = {};
    for (int t = 0; t < kBlocks; ++t) {
        const Zuf32s* v = st->pHist + 2 * half * ((st->blk + t) % kBlocks) + half * (t & 1);
        const Zuf32s* w = pWin + half * t;
        for (int n = 0; n < half; ++n) acc[n] += static_cast<uint32_t>(mulhi(v[n], w[n]));
    }
    for (int n = 0; n < half; ++n) pDst[n] = static_cast<Zuf32s>(acc[n]);
}

// (a + ib)(c + is), each product a mulhi.
inline void rotate(Zuf32s a, Zuf32s b, Zuf32s c, Zuf32s s, Zuf32s* re, Zuf32s* im) {
    *re = wrap_sub(mulhi(a, c), mulhi(b, s));
    *im = wrap_add(mulhi(a, s), mulhi(b, c));
}

// Three-multiplication rotation from the factors (c + s, s): re = c ar + s ai, im = c ai - s ar,
// as (c - s) ar + t and (c + s) ai - t with t = s (ar + ai).
inline void rotate3(Zuf32s ar, Zuf32s ai, Zuf32s cps, Zuf32s s, Zuf32s* re, Zuf32s* im) {
    const Zuf32s t = mulhi(s, wrap_add(ar, ai));
    const auto cms = static_cast<Zuf32s>(int64_t{cps} - 2 * int64_t{s});
    *re = wrap_add(mulhi(cms, ar), t);
    *im = wrap_sub(mulhi(cps, ai), t);
}

inline Zuf32s neg(Zuf32s a) { return wrap_sub(0, a); }

// Re(z p) of a Q30 factor p: mulhi(Re z, Re p) - mulhi(Im z, Im p), n values.
void real_of_product(const Zuf32s* z, const Zuf32s* p, int n, Zuf32s* pV) {
    for (int k = 0; k < n; ++k) pV[k] = wrap_sub(mulhi(z[2 * k], p[2 * k]), mulhi(z[2 * k + 1], p[2 * k + 1]));
}

// Real bands times Q30 complex factors into the lower half of an FFT buffer of 2 n complex
// values, the upper half zero.
void real_times_factor(const Zuf32s* x, const Zuf32s* p, int n, Zuf32s* z) {
    for (int k = 0; k < n; ++k) {
        z[2 * k] = mulhi(x[k], p[2 * k]);
        z[2 * k + 1] = mulhi(x[k], p[2 * k + 1]);
    }
    std::memset(z + 2 * n, 0, 8 * static_cast<std::size_t>(n));
}

// HQ synthesis post-rotation of one 32-point FFT result F (in place, into Q): for i < 16,
// p = i pi/64, q = (i+1) pi/64, Q[i] = (cos p Re F[i] + sin p Im F[i]) + i (cos q Re F[31-i]
// - sin q Im F[31-i]) and Q[31-i] = (sin q Re F[31-i] + cos q Im F[31-i]) + i (sin p Re F[i]
// - cos p Im F[i]). The factors of q come from entry 31 - i (cos q = sin((31-i) pi/64)).
void synthesis_post(Zuf32s* f) {
    for (int i = 0; i < 16; ++i) {
        Zuf32s ar, ai, br, bi;
        const int j = 31 - i;
        rotate3(f[2 * i], f[2 * i + 1], cos1sin1tab64[2 * i], cos1sin1tab64[2 * i + 1], &ar, &ai);
        rotate3(f[2 * j], f[2 * j + 1], cos1sin1tab64[2 * j], cos1sin1tab64[2 * j + 1], &br, &bi);
        f[2 * i] = ar;
        f[2 * i + 1] = neg(bi);
        f[2 * j] = br;
        f[2 * j + 1] = neg(ai);
    }
}

}  // namespace

// HQ analysis: z[k] = (-u[64-k] + i u[32-k]) exp(-i (4k+1) pi/256) with u[64] = -u[0], the
// 32-point FFT, then band 2m = Z[m] exp(-i m pi/64) and band 63 - 2i = conj(Z[i])
// exp(-i (32-i) pi/64), i >= 16.
void ownsAnalysisDCT4_SBRHQ_32s32sc(const Zuf32s* pU, Zuf32sc* pDst) {
    alignas(16) Zuf32s z[64];
    // cos(pi/256) rounded and -sin(pi/256) truncated, Q30.
    rotate(pU[0], pU[32], 1073660973, -13176463, &z[0], &z[1]);
    const Zuf32s* pre = pTabPreProc_CosSin_DCT4_64_32s;
    for (int k = 1; k < 32; ++k)
        rotate(neg(pU[64 - k]), pU[32 - k], pre[2 * k], pre[2 * k + 1], &z[2 * k], &z[2 * k + 1]);
    ownsIMDCT_FFT_32sc_I(z, 5);
    const Zuf32s* post = pTabPostProc_CosSin_DCT4_64_32s;
    for (int m = 0; m < 16; ++m)
        rotate(z[2 * m], z[2 * m + 1], post[2 * m], post[2 * m + 1], &pDst[2 * m].re, &pDst[2 * m].im);
    for (int i = 16; i < 32; ++i) {
        const int a = 32 - i;
        rotate(z[2 * i], neg(z[2 * i + 1]), post[2 * a], post[2 * a + 1], &pDst[63 - 2 * i].re, &pDst[63 - 2 * i].im);
    }
}

// LP analysis: y[n] = u[n] exp(i (3 pi/4 - n pi/64)), the 64-point FFT Z; band k is 1/4 of
// Re Z[k], Im Z[k], -Re Z[k], -Im Z[k] for k mod 4 = 0, 1, 2, 3 (the phase 3 pi (2k+1)/4 of the
// cosine kernel reduced mod 2 pi), each through a mulhi by +-2^30 as written below.
void ownsAnalysisDCT4_SBRLP_32s(const Zuf32s* pU, Zuf32s* pDst) {
    alignas(16) Zuf32s z[128];
    for (int n = 0; n < 64; ++n) {
        z[2 * n] = mulhi(pU[n], pTabPreProc_QMFA_LPmode[2 * n]);
        z[2 * n + 1] = mulhi(pU[n], pTabPreProc_QMFA_LPmode[2 * n + 1]);
    }
    ownsIMDCT_FFT_32sc_I(z, 6);
    for (int m = 0; m < 8; ++m) {
        const Zuf32s* w = z + 8 * m;
        pDst[4 * m] = mulhi(w[0], kOneQ30);
        pDst[4 * m + 1] = neg(mulhi(w[3], -kOneQ30));
        pDst[4 * m + 2] = mulhi(w[4], -kOneQ30);
        pDst[4 * m + 3] = neg(mulhi(w[7], kOneQ30));
    }
}

// HQ synthesis: the bands in mirrored pairs (j, 63 - j) rotated into P1 (real parts) and P2
// (imaginary parts), a = (4i+1) pi/256 for entries i < 16, b = (4i+3) pi/256 for entries 31 - i
// (rotations by sin b, cos b, i.e. from (cos b + sin b, cos b)); two 32-point FFTs; the
// post-rotation; the fold into 128 values.
void ownsSynthesisRotate_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pV) {
    alignas(16) Zuf32s p1[64], p2[64];
    for (int i = 0; i < 16; ++i) {
        const int j = 2 * i, e = 31 - i;
        const Zuf32s* t = cos4sin4tab64 + 4 * i;
        rotate3(pSrc[j].re, pSrc[63 - j].re, t[0], t[1], &p1[2 * i], &p1[2 * i + 1]);
        rotate3(pSrc[63 - j].im, pSrc[j].im, t[0], t[1], &p2[2 * i], &p2[2 * i + 1]);
        rotate3(pSrc[62 - j].re, pSrc[j + 1].re, t[2], t[3], &p1[2 * e], &p1[2 * e + 1]);
        rotate3(pSrc[j + 1].im, pSrc[62 - j].im, t[2], t[3], &p2[2 * e], &p2[2 * e + 1]);
    }
    ownsIMDCT_FFT_32sc_I(p1, 5);
    ownsIMDCT_FFT_32sc_I(p2, 5);
    synthesis_post(p1);
    synthesis_post(p2);
    for (int i = 0; i < 32; ++i) {
        const Zuf32s r1 = p1[2 * i], i1 = p1[2 * i + 1], r2 = p2[2 * i], i2 = p2[2 * i + 1];
        pV[2 * i] = wrap_sub(r2, r1);
        pV[2 * i + 1] = wrap_sub(neg(i2), i1);
        pV[127 - 2 * i] = wrap_add(r1, r2);
        pV[126 - 2 * i] = wrap_sub(i1, i2);
    }
}

// LP synthesis: z[k] = x[k] exp(i k pi/2), k < 64, z[64..127] = 0, the 128-point FFT Z, then
// v(n) = Re(Z[n] exp(i (pi/4 - n pi/128))).
void ownsSynthesisRotate_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pV) {
    alignas(16) Zuf32s z[256];
    real_times_factor(pSrc, pTabPreProc_QMFS_LPmode, 64, z);
    ownsIMDCT_FFT_32sc_I(z, 7);
    real_of_product(z, pTabPostProc_QMFS_LPmode, 128, pV);
}

// HQ down-sampled synthesis: z[k] = conj(X[k]) exp(-i k pi/128), k < 32, zero above, the
// 64-point FFT Z, v(n) = Re(Z[n] (-exp(-i (4n+1) pi/256))).
void ownsSynthesisDownRotate_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pV) {
    alignas(16) Zuf32s z[128];
    const Zuf32s* pre = pTabPreProc_QMFSD_HQmode;
    for (int k = 0; k < 32; ++k) {
        const Zuf32s c = pre[2 * k], s = pre[2 * k + 1];
        z[2 * k] = wrap_add(mulhi(pSrc[k].re, c), mulhi(pSrc[k].im, s));
        z[2 * k + 1] = wrap_add(mulhi(neg(pSrc[k].im), c), mulhi(pSrc[k].re, s));
    }
    std::memset(z + 64, 0, 64 * sizeof(Zuf32s));
    ownsIMDCT_FFT_32sc_I(z, 6);
    real_of_product(z, pTabPostProc_QMFSD_HQmode, 64, pV);
}

// LP down-sampled synthesis: z[k] = x[k] exp(i k pi/2), k < 32, the 64-point FFT Z, then
// v(n) = Re(Z[n] exp(i (pi/4 - n pi/64))).
void ownsSynthesisDownRotate_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pV) {
    alignas(16) Zuf32s z[128];
    real_times_factor(pSrc, pTabPreProc_QMFSD_LPmode, 32, z);
    ownsIMDCT_FFT_32sc_I(z, 6);
    real_of_product(z, pTabPostProc_QMFSD_LPmode, 64, pV);
}

namespace {

template <class Src, class Rotate>
void synthesis_slot(const Src* pSrc, Zuf32s* pDst, Header* h, int half, const Zuf32s* pWin, Rotate rot) {
    SbrQmfState* st = h->pState;
    const int blk = next_block(st);
    rot(pSrc, st->pHist + 2 * half * blk);
    synthesis_window(st, half, pWin, pDst);
}

}  // namespace
}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsAnalysisFilterGetSize_SBRHQ_32s32sc(int* pSize) { return get_size(pSize, kAnaHQ); }
ZUF_API zufResult zufsAnalysisFilterGetSize_SBRLP_32s(int* pSize) { return get_size(pSize, kAnaLP); }
ZUF_API zufResult zufsSynthesisFilterGetSize_SBRHQ_32sc32s(int* pSize) { return get_size(pSize, kSynHQ); }
ZUF_API zufResult zufsSynthesisFilterGetSize_SBRLP_32s(int* pSize) { return get_size(pSize, kSynLP); }
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBRHQ_32sc32s(int* pSize) { return get_size(pSize, kDownHQ); }
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBRLP_32s(int* pSize) { return get_size(pSize, kDownLP); }

ZUF_API zufResult zufsAnalysisFilterInit_SBRHQ_32s32sc(Zuf8u* pMem) { return init(pMem, kAnaHQ); }
ZUF_API zufResult zufsAnalysisFilterInit_SBRLP_32s(Zuf8u* pMem) { return init(pMem, kAnaLP); }
ZUF_API zufResult zufsSynthesisFilterInit_SBRHQ_32sc32s(Zuf8u* pMem) { return init(pMem, kSynHQ); }
ZUF_API zufResult zufsSynthesisFilterInit_SBRLP_32s(Zuf8u* pMem) { return init(pMem, kSynLP); }
ZUF_API zufResult zufsSynthesisDownFilterInit_SBRHQ_32sc32s(Zuf8u* pMem) { return init(pMem, kDownHQ); }
ZUF_API zufResult zufsSynthesisDownFilterInit_SBRLP_32s(Zuf8u* pMem) { return init(pMem, kDownLP); }

ZUF_API zufResult zufsAnalysisFilterInitAlloc_SBRHQ_32s32sc(AnalysisFilterContext_SBRHQ_32s32sc** ppSpec) {
    return init_alloc(ppSpec, kAnaHQ);
}
ZUF_API zufResult zufsAnalysisFilterInitAlloc_SBRLP_32s(AnalysisFilterContext_SBRLP_32s** ppSpec) {
    return init_alloc(ppSpec, kAnaLP);
}
ZUF_API zufResult zufsSynthesisFilterInitAlloc_SBRHQ_32sc32s(SynthesisFilterContext_SBRHQ_32sc32s** ppSpec) {
    return init_alloc(ppSpec, kSynHQ);
}
ZUF_API zufResult zufsSynthesisFilterInitAlloc_SBRLP_32s(SynthesisFilterContext_SBRLP_32s** ppSpec) {
    return init_alloc(ppSpec, kSynLP);
}
ZUF_API zufResult zufsSynthesisDownFilterInitAlloc_SBRHQ_32sc32s(SynthesisDownFilterContext_SBRHQ_32sc32s** ppSpec) {
    return init_alloc(ppSpec, kDownHQ);
}
ZUF_API zufResult zufsSynthesisDownFilterInitAlloc_SBRLP_32s(SynthesisDownFilterContext_SBRLP_32s** ppSpec) {
    return init_alloc(ppSpec, kDownLP);
}

ZUF_API zufResult zufsAnalysisFilterFree_SBRHQ_32s32sc(AnalysisFilterContext_SBRHQ_32s32sc* pSpec) {
    return free_ctx(pSpec, kAnaHQ);
}
ZUF_API zufResult zufsAnalysisFilterFree_SBRLP_32s(AnalysisFilterContext_SBRLP_32s* pSpec) {
    return free_ctx(pSpec, kAnaLP);
}
ZUF_API zufResult zufsSynthesisFilterFree_SBRHQ_32sc32s(SynthesisFilterContext_SBRHQ_32sc32s* pSpec) {
    return free_ctx(pSpec, kSynHQ);
}
ZUF_API zufResult zufsSynthesisFilterFree_SBRLP_32s(SynthesisFilterContext_SBRLP_32s* pSpec) {
    return free_ctx(pSpec, kSynLP);
}
ZUF_API zufResult zufsSynthesisDownFilterFree_SBRHQ_32sc32s(SynthesisDownFilterContext_SBRHQ_32sc32s* pSpec) {
    return free_ctx(pSpec, kDownHQ);
}
ZUF_API zufResult zufsSynthesisDownFilterFree_SBRLP_32s(SynthesisDownFilterContext_SBRLP_32s* pSpec) {
    return free_ctx(pSpec, kDownLP);
}

ZUF_API zufResult zufsAnalysisFilter_SBRHQ_32s32sc(const Zuf32s* pSrc, Zuf32sc* pDst, int kx,
                                                   AnalysisFilterContext_SBRHQ_32s32sc* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kAnaHQ.id, kAnaHQ.id), zufErrContext);
    ZUF_REQUIRE(in_range(kx, 0, 32), zufErrSize);
    alignas(16) Zuf32s u[64];
    analysis_window(pSrc, header_at(pSpec)->pState, u);
    ownsAnalysisDCT4_SBRHQ_32s32sc(u, pDst);
    std::memset(pDst + kx, 0, sizeof(Zuf32sc) * static_cast<std::size_t>(32 - kx));
    return zufOk;
}

ZUF_API zufResult zufsAnalysisFilter_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pDst, int kx,
                                               AnalysisFilterContext_SBRLP_32s* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kAnaLP.id, kAnaLP.id), zufErrContext);
    ZUF_REQUIRE(in_range(kx, 0, 32), zufErrSize);
    alignas(16) Zuf32s u[64];
    analysis_window(pSrc, header_at(pSpec)->pState, u);
    ownsAnalysisDCT4_SBRLP_32s(u, pDst);
    std::memset(pDst + kx, 0, sizeof(Zuf32s) * static_cast<std::size_t>(32 - kx));
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilter_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pDst,
                                                    SynthesisFilterContext_SBRHQ_32sc32s* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kSynHQ.id, kSynHQ.id), zufErrContext);
    synthesis_slot(pSrc, pDst, header_at(pSpec), 64, SBR_TABLE_QMF_WINDOW_640_INT_Q30,
                   ownsSynthesisRotate_SBRHQ_32sc32s);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisFilter_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pDst,
                                                SynthesisFilterContext_SBRLP_32s* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kSynLP.id, kSynLP.id), zufErrContext);
    synthesis_slot(pSrc, pDst, header_at(pSpec), 64, SBR_TABLE_QMF_WINDOW_640_INT_Q30, ownsSynthesisRotate_SBRLP_32s);
    return zufOk;
}

// A full-band context of the same mode is accepted: its ring then holds ten blocks of 64 in its
// first 640 values.
ZUF_API zufResult zufsSynthesisDownFilter_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pDst,
                                                        SynthesisDownFilterContext_SBRHQ_32sc32s* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kDownHQ.id, kSynHQ.id), zufErrContext);
    synthesis_slot(pSrc, pDst, header_at(pSpec), 32, SBR_TABLE_QMF_WINDOW_320_INT_Q30,
                   ownsSynthesisDownRotate_SBRHQ_32sc32s);
    return zufOk;
}

ZUF_API zufResult zufsSynthesisDownFilter_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pDst,
                                                    SynthesisDownFilterContext_SBRLP_32s* pSpec) {
    ZUF_REQUIRE(nonnull(pSpec, pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(id_is(pSpec, kDownLP.id, kSynLP.id), zufErrContext);
    synthesis_slot(pSrc, pDst, header_at(pSpec), 32, SBR_TABLE_QMF_WINDOW_320_INT_Q30,
                   ownsSynthesisDownRotate_SBRLP_32s);
    return zufOk;
}

}  // extern "C"
