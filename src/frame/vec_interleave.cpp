// Channel interleaving: frames of nChannels samples (PCM order, channel 0 first) to and from
// one array per channel. Callers may pass channels at any address, even odd ones for 16-bit
// data, so every element access here is alignment-agnostic (unaligned vector loads and
// stores, byte copies for single elements); alignment only decides the status.
#include <cstddef>
#include <cstring>

#include "common/checks.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

template <class T>
inline T ld(const T* p) {
    T v;
    std::memcpy(&v, static_cast<const void*>(p), sizeof v);
    return v;
}
template <class T>
inline void st(T* p, T v) {
    std::memcpy(static_cast<void*>(p), &v, sizeof v);
}

template <class T>
void deinterleave_any(const T* pSrc, int n, int len, T* const* ppDst) {
    for (int c = 0; c < n; ++c) {
        T* d = ppDst[c];
        const T* s = pSrc + c;
        for (int k = 0; k < len; ++k) st(d + k, ld(s + static_cast<std::ptrdiff_t>(k) * n));
    }
}

template <class T>
void interleave_any(const T* const* ppSrc, int n, int len, T* pDst) {
    for (int c = 0; c < n; ++c) {
        const T* s = ppSrc[c];
        T* d = pDst + c;
        for (int k = 0; k < len; ++k) st(d + static_cast<std::ptrdiff_t>(k) * n, ld(s + k));
    }
}

template <class T>
bool all_channels(T* const* pp, int n) {
    for (int c = 0; c < n; ++c)
        if (!pp[c]) return false;
    return true;
}
template <class T>
bool channels_aligned(T* const* pp, int n) {
    for (int c = 0; c < n; ++c)
        if (!aligned16(pp[c])) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- scalar references

void ownsDeinterleave_16s_ref(const Zuf16s* pSrc, int n, int len, Zuf16s* const* ppDst) {
    deinterleave_any(pSrc, n, len, ppDst);
}
void ownsDeinterleave_32f_ref(const Zuf32f* pSrc, int n, int len, Zuf32f* const* ppDst) {
    deinterleave_any(pSrc, n, len, ppDst);
}
void ownsInterleave_16s_ref(const Zuf16s* const* ppSrc, int n, int len, Zuf16s* pDst) {
    interleave_any(ppSrc, n, len, pDst);
}
void ownsInterleave_32f_ref(const Zuf32f* const* ppSrc, int n, int len, Zuf32f* pDst) {
    interleave_any(ppSrc, n, len, pDst);
}

// ---------------------------------------------------------------- two channels (stereo)

// Eight frames per step: channel 0 is the low half of each 32-bit lane (sign-extended in
// place), channel 1 the high half (shifted down); the saturating pack is exact on values that
// already fit 16 bits.
void ownsDeinterleave2_16s_sse2(const Zuf16s* pSrc, int len, Zuf16s* pDst0, Zuf16s* pDst1) {
    std::ptrdiff_t k = 0;  // 2 * k may pass INT_MAX
    for (; k + 8 <= len; k += 8) {
        const __m128i a = loadu_i128(pSrc + 2 * k), b = loadu_i128(pSrc + 2 * k + 8);
        const __m128i l =
            _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16), _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
        const __m128i r = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
        storeu_i128(pDst0 + k, l);
        storeu_i128(pDst1 + k, r);
    }
    for (; k < len; ++k) {
        st(pDst0 + k, ld(pSrc + 2 * k));
        st(pDst1 + k, ld(pSrc + 2 * k + 1));
    }
}

void ownsDeinterleave2_32f_sse2(const Zuf32f* pSrc, int len, Zuf32f* pDst0, Zuf32f* pDst1) {
    std::ptrdiff_t k = 0;  // 2 * k may pass INT_MAX
    for (; k + 4 <= len; k += 4) {
        const __m128 a = _mm_castsi128_ps(loadu_i128(pSrc + 2 * k)), b = _mm_castsi128_ps(loadu_i128(pSrc + 2 * k + 4));
        storeu_i128(pDst0 + k, _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))));
        storeu_i128(pDst1 + k, _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
    }
    for (; k < len; ++k) {
        st(pDst0 + k, ld(pSrc + 2 * k));
        st(pDst1 + k, ld(pSrc + 2 * k + 1));
    }
}

void ownsInterleave2_16s_sse2(const Zuf16s* pSrc0, const Zuf16s* pSrc1, int len, Zuf16s* pDst) {
    std::ptrdiff_t k = 0;  // 2 * k may pass INT_MAX
    for (; k + 8 <= len; k += 8) {
        const __m128i a = loadu_i128(pSrc0 + k), b = loadu_i128(pSrc1 + k);
        storeu_i128(pDst + 2 * k, _mm_unpacklo_epi16(a, b));
        storeu_i128(pDst + 2 * k + 8, _mm_unpackhi_epi16(a, b));
    }
    for (; k < len; ++k) {
        st(pDst + 2 * k, ld(pSrc0 + k));
        st(pDst + 2 * k + 1, ld(pSrc1 + k));
    }
}

void ownsInterleave2_32f_sse2(const Zuf32f* pSrc0, const Zuf32f* pSrc1, int len, Zuf32f* pDst) {
    std::ptrdiff_t k = 0;  // 2 * k may pass INT_MAX
    for (; k + 4 <= len; k += 4) {
        const __m128i a = loadu_i128(pSrc0 + k), b = loadu_i128(pSrc1 + k);
        storeu_i128(pDst + 2 * k, _mm_unpacklo_epi32(a, b));
        storeu_i128(pDst + 2 * k + 4, _mm_unpackhi_epi32(a, b));
    }
    for (; k < len; ++k) {
        st(pDst + 2 * k, ld(pSrc0 + k));
        st(pDst + 2 * k + 1, ld(pSrc1 + k));
    }
}

// ---------------------------------------------------------------- any channel count

// Channels in pairs: the two channels' samples of a frame are adjacent in the output, so one
// pair of loads yields several frames' worth of two-sample stores (64-bit for floats, 32-bit
// for 16-bit samples). An odd last channel goes through the scalar loop.
void ownsInterleave_32f_sse2(const Zuf32f* const* ppSrc, int n, int len, Zuf32f* pDst) {
    const std::ptrdiff_t stride = n;
    int c = 0;
    for (; c + 2 <= n; c += 2) {
        const Zuf32f* s0 = ppSrc[c];
        const Zuf32f* s1 = ppSrc[c + 1];
        Zuf32f* d = pDst + c;
        int k = 0;
        for (; k + 4 <= len; k += 4, d += 4 * stride) {
            const __m128i a = loadu_i128(s0 + k), b = loadu_i128(s1 + k);
            const __m128i lo = _mm_unpacklo_epi32(a, b), hi = _mm_unpackhi_epi32(a, b);
            store_i64(d, lo);
            store_i64(d + stride, _mm_unpackhi_epi64(lo, lo));
            store_i64(d + 2 * stride, hi);
            store_i64(d + 3 * stride, _mm_unpackhi_epi64(hi, hi));
        }
        for (; k < len; ++k, d += stride) {
            st(d, ld(s0 + k));
            st(d + 1, ld(s1 + k));
        }
    }
    if (c < n) {
        const Zuf32f* s = ppSrc[c];
        Zuf32f* d = pDst + c;
        for (int k = 0; k < len; ++k) st(d + k * stride, ld(s + k));
    }
}

void ownsInterleave_16s_sse2(const Zuf16s* const* ppSrc, int n, int len, Zuf16s* pDst) {
    const std::ptrdiff_t stride = n;
    int c = 0;
    for (; c + 2 <= n; c += 2) {
        const Zuf16s* s0 = ppSrc[c];
        const Zuf16s* s1 = ppSrc[c + 1];
        Zuf16s* d = pDst + c;
        int k = 0;
        for (; k + 8 <= len; k += 8) {
            const __m128i a = loadu_i128(s0 + k), b = loadu_i128(s1 + k);
            __m128i lo = _mm_unpacklo_epi16(a, b), hi = _mm_unpackhi_epi16(a, b);
            for (int j = 0; j < 4; ++j, d += stride, lo = _mm_srli_si128(lo, 4)) store_i32(d, lo);
            for (int j = 0; j < 4; ++j, d += stride, hi = _mm_srli_si128(hi, 4)) store_i32(d, hi);
        }
        for (; k < len; ++k, d += stride) {
            st(d, ld(s0 + k));
            st(d + 1, ld(s1 + k));
        }
    }
    if (c < n) {
        const Zuf16s* s = ppSrc[c];
        Zuf16s* d = pDst + c;
        for (int k = 0; k < len; ++k) st(d + k * stride, ld(s + k));
    }
}

}  // namespace zuf

// ---------------------------------------------------------------- exported shells

namespace {

// Checks in their documented order; the channel pointers are looked at only once the count is
// known to be valid. Two channels take the dedicated kernel at any alignment; the status
// reports whether every array (interleaved side and each channel) was 16-byte aligned.
template <class T>
zufResult ownsDeinterleave(const T* pSrc, int nChannels, int len, T** ppDst) {
    ZUF_REQUIRE(zuf::nonnull(ppDst, pSrc), zufErrNullPtr);
    ZUF_REQUIRE(nChannels >= 1, zufErrNumChannels);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ZUF_REQUIRE(zuf::all_channels(ppDst, nChannels), zufErrNullPtr);
    if (nChannels == 2) {
        if constexpr (sizeof(T) == 2)
            zuf::ownsDeinterleave2_16s_sse2(pSrc, len, ppDst[0], ppDst[1]);
        else
            zuf::ownsDeinterleave2_32f_sse2(pSrc, len, ppDst[0], ppDst[1]);
    } else {
        zuf::deinterleave_any(pSrc, nChannels, len, ppDst);
    }
    const bool aligned = zuf::aligned16(pSrc) && zuf::channels_aligned(ppDst, nChannels);
    return aligned ? zufOk : zufWarnMisaligned;
}

template <class T>
zufResult ownsInterleave(const T* const* ppSrc, int nChannels, int len, T* pDst) {
    ZUF_REQUIRE(zuf::nonnull(ppSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(nChannels >= 1, zufErrNumChannels);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ZUF_REQUIRE(zuf::all_channels(ppSrc, nChannels), zufErrNullPtr);
    if constexpr (sizeof(T) == 2) {
        if (nChannels == 2)
            zuf::ownsInterleave2_16s_sse2(ppSrc[0], ppSrc[1], len, pDst);
        else
            zuf::ownsInterleave_16s_sse2(ppSrc, nChannels, len, pDst);
    } else {
        if (nChannels == 2)
            zuf::ownsInterleave2_32f_sse2(ppSrc[0], ppSrc[1], len, pDst);
        else
            zuf::ownsInterleave_32f_sse2(ppSrc, nChannels, len, pDst);
    }
    const bool aligned = zuf::aligned16(pDst) && zuf::channels_aligned(ppSrc, nChannels);
    return aligned ? zufOk : zufWarnMisaligned;
}

}  // namespace

extern "C" {
ZUF_API zufResult zufsDeinterleave_16s(const Zuf16s* pSrc, int nChannels, int len, Zuf16s** ppDst) {
    return ownsDeinterleave(pSrc, nChannels, len, ppDst);
}
ZUF_API zufResult zufsDeinterleave_32f(const Zuf32f* pSrc, int nChannels, int len, Zuf32f** ppDst) {
    return ownsDeinterleave(pSrc, nChannels, len, ppDst);
}
ZUF_API zufResult zufsInterleave_16s(const Zuf16s* const* ppSrc, int nChannels, int len, Zuf16s* pDst) {
    return ownsInterleave(ppSrc, nChannels, len, pDst);
}
ZUF_API zufResult zufsInterleave_32f(const Zuf32f* const* ppSrc, int nChannels, int len, Zuf32f* pDst) {
    return ownsInterleave(ppSrc, nChannels, len, pDst);
}
}
