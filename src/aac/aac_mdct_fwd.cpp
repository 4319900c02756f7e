// AAC fixed-point analysis filter bank (ISO/IEC 13818-7 15.3): windowing of two frames with the
// window of the frame's window_sequence, then the MDCT X[k] = 2 sum_n z[n] cos(2 pi / N' (n + n_0)
// (k + 1/2)) through an M = N/2 point complex FFT with pre- and post-rotation. The windows,
// twiddles and FFT are those of the synthesis filter bank.
#include "aac/aac_mdct_fwd.h"

#include <cstdint>
#include <cstring>

#include "aac/aac_filterbank.h"
#include "aac/aac_filterbank_tables.h"
#include "aac/aac_spectral.h"
#include "common/checks.h"
#include "common/fixed_point.h"
#include "transforms/fft_32sc.h"

namespace zuf {
namespace {

inline int32_t neg(int32_t v) { return wrap_sub(0, v); }
inline int64_t abs64(int32_t v) { return v < 0 ? -int64_t{v} : int64_t{v}; }

// Window factors are unsigned Q31 values; kOne marks a sample taken unchanged.
constexpr uint32_t kOne = 0x80000000u;

const Zuf32s* long_window(int shape) { return shape ? pWinKBDLong : pWinSINLong; }
const Zuf32s* short_window(int shape) { return shape ? pWinKBDShort : pWinSINShort; }

// Factor of input sample p (0..2047; 0..255 for a short block). Rising halves use the previous
// shape, falling halves the current one.
uint32_t window_factor(int seq, int p, int shape, int prevShape) {
    if (seq == aac::kEightShort)
        return static_cast<uint32_t>(p < 128 ? short_window(prevShape)[p] : short_window(shape)[255 - p]);
    if (p < 1024) {
        if (seq == aac::kLongStop)
            return p < 448 ? 0u : (p < 576 ? static_cast<uint32_t>(short_window(prevShape)[p - 448]) : kOne);
        return static_cast<uint32_t>(long_window(prevShape)[p]);
    }
    const int m = p - 1024;
    if (seq == aac::kLongStart)
        return m < 448 ? kOne : (m < 576 ? static_cast<uint32_t>(short_window(shape)[575 - m]) : 0u);
    return static_cast<uint32_t>(long_window(shape)[1023 - m]);
}

// Unit gain: hi((2x) w), 2x wrapping; an unchanged sample is x.
inline int32_t win_unit(int32_t x, uint32_t f) { return f == kOne ? x : hi(int64_t{wrap_add(x, x)} * int64_t{f}); }
// Half gain: hi(x w); an unchanged sample is x >> 1.
inline int32_t win_half(int32_t x, uint32_t f) { return f == kOne ? x >> 1 : hi(int64_t{x} * int64_t{f}); }

// Folds the 2N windowed samples in place so that (z[2i], z[2i+1]), i < N/2, are the complex
// inputs of the rotation: the quarters rotate (-d, a, b, c), then the even samples take the
// mirrored fourth quarter off and the odd ones are rebuilt from the mirrored halves.
void fold(Zuf32s* z, int n) {
    const int h = n / 2;
    for (int i = 0; i < h; ++i) {
        const int32_t a = z[i], b = z[h + i], c = z[n + i], d = z[n + h + i];
        z[i] = neg(d);
        z[h + i] = a;
        z[n + i] = b;
        z[n + h + i] = c;
    }
    for (int i = 0; i < n; i += 2) z[i] = wrap_sub(z[i], z[2 * n - 1 - i]);
    for (int j = 0; j < n / 4; ++j) {
        const int32_t lo = z[2 * j + 1], up = z[n - 2 * j - 1];
        z[2 * j + 1] = wrap_sub(up, z[n + 2 * j]);
        z[n - 2 * j - 1] = wrap_sub(lo, z[2 * n - 2 * j - 2]);
    }
}

// z_i (a + jb) conj(W_i) with W_i in Q30: each component's 64-bit sum goes through `scale`.
// Returns the sum of the magnitudes of the rotated values.
template <class Scale>
int64_t pre_rotate(Zuf32s* z, int n, const Zuf32s* tw, Scale scale) {
    int64_t s = 0;
    for (int i = 0; i < n / 2; ++i) {
        const int64_t a = z[2 * i], b = z[2 * i + 1];
        const int64_t wc = tw[2 * i], ws = tw[2 * i + 1];
        z[2 * i] = scale(wc * a + ws * b);
        z[2 * i + 1] = scale(wc * b - ws * a);
        s += abs64(z[2 * i]) + abs64(z[2 * i + 1]);
    }
    return s;
}

// R_i = Z_i conj(W_i), scaled; out[2i] = Re R_i, out[N-1-2i] = -Im R_i (negation after scaling).
template <class Scale>
void post_rotate(const Zuf32s* z, Zuf32s* out, int n, const Zuf32s* tw, Scale scale) {
    for (int i = 0; i < n / 2; ++i) {
        const int64_t zr = z[2 * i], zi = z[2 * i + 1];
        const int64_t wc = tw[2 * i], ws = tw[2 * i + 1];
        out[2 * i] = scale(zr * wc + zi * ws);
        out[n - 1 - 2 * i] = neg(scale(zi * wc - zr * ws));
    }
}

inline int transform_length(int seq) { return seq == aac::kEightShort ? 128 : 1024; }

}  // namespace

void ownsMDCTFwd_Window_32s(const Zuf32s* pSrc, Zuf32s* pDst, int seq, int shape, int prevShape, bool half) {
    const int len = 2 * transform_length(seq);
    for (int p = 0; p < len; ++p) {
        const uint32_t f = window_factor(seq, p, shape, prevShape);
        pDst[p] = half ? win_half(pSrc[p], f) : win_unit(pSrc[p], f);
    }
}

void ownsMDCTFwd_Radix2_32s(Zuf32s* pSrcDst, Zuf32s* pDst, int n) {
    const Zuf32s* tw = n == 1024 ? pTwidlTables2 : pTwidlTables1;
    fold(pSrcDst, n);
    // Q30 twiddles: rounding shift by 30 keeps unit gain.
    pre_rotate(pSrcDst, n, tw, [](int64_t s) { return static_cast<int32_t>((s + (int64_t{1} << 29)) >> 30); });
    ownsIMDCT_FFT_32sc_I(pSrcDst, n == 1024 ? 9 : 6);
    // The shift by 29 doubles: the standard's factor 2 of the forward MDCT.
    post_rotate(pSrcDst, pDst, n, tw, [](int64_t s) { return static_cast<int32_t>(s >> 29); });
}

void ownsMDCTFwd_Radix2_32s_I(Zuf32s* pSrcDst, int n) {
    const Zuf32s* tw = n == 1024 ? pTwidlTables2 : pTwidlTables1;
    const int order = n == 1024 ? 9 : 6;
    alignas(16) Zuf32s z[2048];
    std::memcpy(z, pSrcDst, sizeof(Zuf32s) * 2 * n);
    fold(z, n);
    const int64_t magnitude = pre_rotate(z, n, tw, [](int64_t s) { return hi(s); });  // a quarter
    // Half-gain window, 1/4 and 1/4 from the rotations, gain M of the FFT: a shift by order - 3
    // leaves (1/N) sum z cos, less the block scaling.
    ownsFFT_BlockScaled_32s(z, n, order, magnitude, [&](auto scale) { post_rotate(z, pSrcDst, n, tw, scale); });
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsMDCTFwd_AAC_32s(const Zuf32s* pSrc, Zuf32s* pDst, const Zuf32s* pReserved,
                                                 int windowSequence, int windowShape, int prevWindowShape,
                                                 Zuf32s* pWork) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pReserved, pWork), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(windowShape, 0, 1) && zuf::in_range(prevWindowShape, 0, 1), zufErrAacWinShape);
    const int n = zuf::transform_length(windowSequence);
    zuf::ownsMDCTFwd_Window_32s(pSrc, pWork, windowSequence, windowShape, prevWindowShape, false);
    zuf::ownsMDCTFwd_Radix2_32s(pWork, pDst, n);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsMDCTFwd_AAC_32s_I(Zuf32s* pSrcDst, int windowSequence, int windowShape,
                                                   int prevWindowShape, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(windowSequence, 0, 3), zufErrAacWinSeq);
    ZUF_REQUIRE(zuf::in_range(windowShape, 0, 1) && zuf::in_range(prevWindowShape, 0, 1), zufErrAacWinShape);
    ZUF_REQUIRE(len == 2048, zufErrSize);
    zuf::ownsMDCTFwd_Window_32s(pSrcDst, pSrcDst, windowSequence, windowShape, prevWindowShape, true);
    zuf::ownsMDCTFwd_Radix2_32s_I(pSrcDst, zuf::transform_length(windowSequence));
    return zufOk;
}
