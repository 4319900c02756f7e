// Backward-adaptive frequency-domain prediction of the AAC Main profile (ISO/IEC 13818-7,
// prediction). Every spectral line of long windows has a second-order lattice predictor
// adapted by LMS correlation and energy estimates; the decoder adds its prediction in bands
// with prediction_used set, the encoder subtracts it.
//
// Encoder and decoder must run the same arithmetic to the bit: every value is a binary32 float,
// products and sums are single precision in the order of predict_line (no fused operations:
// -ffp-contract=off), the prediction is rounded and the six state values are truncated to 16-bit
// floats (sign, 8-bit exponent, 7-bit mantissa), and b / var comes from two small tables
// instead of a division.
//
// Context layout (opaque to callers, fixed on 32-bit x86): six pointers to the state arrays, the
// line count, the ID word (59) and the InitAlloc flag; 36 bytes there. The arrays follow the
// header at the next 32-byte boundary, each 32-byte aligned, one every round_up(4 len, 32)
// bytes.
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "aac/aac_fdp_tables.h"
#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"
#include "frame/context_alloc.h"
#include "zufack9/zuf_aac.h"

struct FdpContext_32f {
    Zuf32f* cor0;  // correlation estimates of the two lattice stages
    Zuf32f* cor1;
    Zuf32f* var0;  // energy estimates of the two lattice stages
    Zuf32f* var1;
    Zuf32f* r0;  // lattice states: a x(n-1), and a (r0 - k1 x) of the previous frame
    Zuf32f* r1;
    int32_t len;  // predicted lines
    uint32_t id;  // kIdFdp32f
    uint32_t allocated;
};

#if defined(__i386__)
static_assert(sizeof(FdpContext_32f) == 36, "prediction context: 36 bytes on 32-bit x86");
static_assert(offsetof(FdpContext_32f, cor1) == 4 && offsetof(FdpContext_32f, var0) == 8 &&
                  offsetof(FdpContext_32f, var1) == 12 && offsetof(FdpContext_32f, r0) == 16 &&
                  offsetof(FdpContext_32f, r1) == 20 && offsetof(FdpContext_32f, len) == 24,
              "prediction context field offsets");
static_assert(offsetof(FdpContext_32f, id) == 28 && offsetof(FdpContext_32f, allocated) == 32,
              "prediction context: ID in the eighth word, the InitAlloc flag in the ninth");
#endif
static_assert(offsetof(FdpContext_32f, id) % 4 == 0, "the ID word is a whole 32-bit word");
static_assert(sizeof(FdpContext_32f) <= 64, "the state arrays start 64 bytes after the header");

namespace zuf {
namespace {

constexpr std::size_t kIdWord = offsetof(FdpContext_32f, id) / 4;
// Context size: header and alignment slack 260 bytes beyond the 24 len of the arrays; len is
// bounded so that the size fits an int.
constexpr int kFdpSlack = 260;
constexpr int kFdpMaxLen = (INT_MAX - kFdpSlack) / 24;

// ISO/IEC 13818-7 prediction constants: the estimates' forgetting factor and the attenuation of
// the lattice states (b sits in ao_mnt_table).
constexpr Zuf32f kAlpha = 0.90625f;
constexpr Zuf32f kA = 0.953125f;

// 16-bit floats: round to nearest on the upper half of the bit pattern (ties away from zero, a
// carry moving into the exponent), or truncate to it.
inline Zuf32f round16(Zuf32f v) { return std::bit_cast<Zuf32f>((std::bit_cast<uint32_t>(v) + 0x8000u) & 0xFFFF0000u); }
inline Zuf32f trunc16(Zuf32f v) { return std::bit_cast<Zuf32f>(std::bit_cast<uint32_t>(v) & 0xFFFF0000u); }

// k = (b / var) cor: var's upper 16 bits H = exponent e and 7 mantissa bits m give b / var as
// ao_mnt_table[m] 2^(127 - e), 0 below 2.0. A negative var (only a NaN input makes one) gives 0.
inline Zuf32f coefficient(Zuf32f var, Zuf32f cor) {
    const uint32_t h = std::bit_cast<uint32_t>(var) >> 16;
    const uint32_t e = h >> 7;
    const Zuf32f scale = e < 256 ? ao_exp_table[e] : 0.0f;
    return ao_mnt_table[h & 127] * cor * scale;
}

// One line k: pSrc[k] holds the encoder's input, or the decoder's residual to which the prediction is
// added when `mode` says so; the result goes to pDst[k] and the state moves on with the value x.
enum class Mode { kEncode, kDecodeAdd, kDecodeKeep };

inline void predict_line(FdpContext_32f* s, int k, Zuf32f* pSrc, Zuf32f* pDst, Mode mode) {
    const Zuf32f c0 = s->cor0[k], c1 = s->cor1[k], v0 = s->var0[k], v1 = s->var1[k];
    const Zuf32f r0 = s->r0[k], r1 = s->r1[k];
    const Zuf32f k1 = coefficient(v0, c0);
    const Zuf32f k2 = coefficient(v1, c1);
    const Zuf32f pred = round16(k2 * r1 + r0 * k1);
    Zuf32f x = pSrc[k];
    if (mode == Mode::kEncode) {
        pDst[k] = x - pred;
    } else if (mode == Mode::kDecodeAdd) {
        x = x + pred;
        pDst[k] = x;
    }
    const Zuf32f e1 = x - r0 * k1;
    s->cor0[k] = trunc16(c0 * kAlpha + r0 * x);
    s->cor1[k] = trunc16(c1 * kAlpha + r1 * e1);
    s->var0[k] = trunc16(v0 * kAlpha + (r0 * r0 + x * x) * 0.5f);
    s->var1[k] = trunc16(v1 * kAlpha + (r1 * r1 + e1 * e1) * 0.5f);
    s->r1[k] = trunc16((r0 - k1 * x) * kA);
    s->r0[k] = trunc16(x * kA);
}

inline void reset_line(FdpContext_32f* s, int k) {
    s->cor0[k] = s->cor1[k] = s->r0[k] = s->r1[k] = 0.0f;
    s->var0[k] = s->var1[k] = 1.0f;
}

// The lines [lo, hi) of a band, clipped to the predicted lines (offsets beyond len or below 0
// touch nothing there).
inline int clip_line(int v, int len) { return v < 0 ? 0 : (v > len ? len : v); }

bool fdp_id_ok(const FdpContext_32f* s) { return context_word(s, kIdWord) == kIdFdp32f; }

}  // namespace
}  // namespace zuf

using zuf::nonnull;

extern "C" ZUF_API zufResult zufsFDPGetSize_32f(int len, int* pSize) {
    ZUF_REQUIRE(nonnull(pSize), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1 && len <= zuf::kFdpMaxLen, zufErrSize);
    *pSize = 24 * len + zuf::kFdpSlack;
    return zufOk;
}

extern "C" ZUF_API zufResult zufsFDPReset_32f(FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pState), zufErrNullPtr);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    for (int k = 0; k < pState->len; ++k) zuf::reset_line(pState, k);
    return zufOk;
}

// The context at pMem rounded up to 32 bytes, the arrays from the next 32-byte boundary after
// its header: at most 31 + 64 + 5 round_up(4 len, 32) + 4 len bytes, within GetSize's size.
extern "C" ZUF_API zufResult zufsFDPInit_32f(FdpContext_32f** ppState, int len, Zuf8u* pMem) {
    ZUF_REQUIRE(nonnull(ppState, pMem), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1 && len <= zuf::kFdpMaxLen, zufErrSize);
    auto* s = reinterpret_cast<FdpContext_32f*>(zuf::align_up(pMem, 32));
    Zuf8u* arrays = zuf::align_up(reinterpret_cast<Zuf8u*>(s) + sizeof(FdpContext_32f), 32);
    const std::size_t stride = (4 * static_cast<std::size_t>(len) + 31) & ~std::size_t{31};
    Zuf32f** fields[6] = {&s->cor0, &s->cor1, &s->var0, &s->var1, &s->r0, &s->r1};
    for (int i = 0; i < 6; ++i) *fields[i] = reinterpret_cast<Zuf32f*>(arrays + i * stride);
    s->len = len;
    s->id = zuf::kIdFdp32f;
    s->allocated = 0;
    zufsFDPReset_32f(s);
    *ppState = s;
    return zufOk;
}

extern "C" ZUF_API zufResult zufsFDPInitAlloc_32f(FdpContext_32f** ppState, int len) {
    ZUF_REQUIRE(nonnull(ppState), zufErrNullPtr);
    auto getSize = [](int n, int* pCtx, int* pInit, int* pWork) {
        *pInit = *pWork = 0;
        return zufsFDPGetSize_32f(n, pCtx);
    };
    auto init = [](FdpContext_32f** pp, int n, Zuf8u* pMem, Zuf8u*) { return zufsFDPInit_32f(pp, n, pMem); };
    return zuf::ownsContextInitAlloc(ppState, getSize, init, len);
}

// The ID is cleared, so that a second Free or any later call reports zufErrContext.
extern "C" ZUF_API zufResult zufsFDPFree_32f(FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pState), zufErrNullPtr);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    pState->id = 0;
    // The block InitAlloc made starts at the context: zufsMalloc_8u's blocks are 32-byte aligned.
    if (pState->allocated) zufsFree(pState);
    return zufOk;
}

// predictor_reset_group_number n resets lines n - 1, n + 29, n + 59, ... (step 30, first n - 1).
extern "C" ZUF_API zufResult zufsFDPResetGroup_32f(int step, int first, FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pState), zufErrNullPtr);
    ZUF_REQUIRE(first >= 0, zufErrSize);
    ZUF_REQUIRE(step >= 1, zufErrStep);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    for (int64_t k = first; k < pState->len; k += step) zuf::reset_line(pState, static_cast<int>(k));
    return zufOk;
}

extern "C" ZUF_API zufResult zufsFDPResetSfb_32f(const int* pBandOffset, int nBands, const Zuf8u* pResetFlag,
                                                 FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pState, pBandOffset, pResetFlag), zufErrNullPtr);
    ZUF_REQUIRE(nBands >= 1, zufErrSize);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    for (int b = 0; b < nBands; ++b) {
        if (pResetFlag[b] == 0) continue;
        const int hi = zuf::clip_line(pBandOffset[b + 1], pState->len);
        for (int k = zuf::clip_line(pBandOffset[b], pState->len); k < hi; ++k) zuf::reset_line(pState, k);
    }
    return zufOk;
}

// Encoder: pDst = pSrc - prediction over every line (pDst may be pSrc).
extern "C" ZUF_API zufResult zufsFDPFwd_32f(const Zuf32f* pSrc, Zuf32f* pDst, FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pSrc, pDst, pState), zufErrNullPtr);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    auto* src = const_cast<Zuf32f*>(pSrc);  // read only in kEncode
    for (int k = 0; k < pState->len; ++k) zuf::predict_line(pState, k, src, pDst, zuf::Mode::kEncode);
    return zuf::all_aligned16(pSrc, pDst) ? zufOk : zufWarnMisaligned;
}

// Decoder: the prediction is added in bands with prediction_used set; every line of every band
// updates its predictor with the reconstructed value (ISO/IEC 13818-7: the predictor of a line
// runs in every long-window frame, whether its band's prediction is used or not).
extern "C" ZUF_API zufResult zufsFDPInv_32f_I(Zuf32f* pSrcDst, const int* pBandOffset, int nBands,
                                              const Zuf8u* pPredFlag, FdpContext_32f* pState) {
    ZUF_REQUIRE(nonnull(pSrcDst, pBandOffset, pPredFlag, pState), zufErrNullPtr);
    ZUF_REQUIRE(nBands >= 1, zufErrSize);
    ZUF_REQUIRE(zuf::fdp_id_ok(pState), zufErrContext);
    for (int b = 0; b < nBands; ++b) {
        const auto mode = pPredFlag[b] != 0 ? zuf::Mode::kDecodeAdd : zuf::Mode::kDecodeKeep;
        const int hi = zuf::clip_line(pBandOffset[b + 1], pState->len);
        for (int k = zuf::clip_line(pBandOffset[b], pState->len); k < hi; ++k)
            zuf::predict_line(pState, k, pSrcDst, pSrcDst, mode);
    }
    return zuf::all_aligned16(pSrcDst) ? zufOk : zufWarnMisaligned;
}
