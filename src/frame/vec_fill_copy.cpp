// Fill, copy and move. These are pure memory traffic: the platform's block fill and copy
// (which pick their own vector width at run time) are the kernels, whatever the alignment.
#include <cstddef>
#include <cstring>

#include "common/checks.h"
#include "zufack9/zuf_core.h"

namespace {

template <class T>
std::size_t bytes(int len) {
    return static_cast<std::size_t>(len) * sizeof(T);
}

// All-zero bytes are +0 for every element type, real and complex alike.
template <class T>
zufResult ownsZero(T* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    std::memset(pDst, 0, bytes<T>(len));
    return zufOk;
}

template <class T>
zufResult ownsSet(T val, T* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    for (int i = 0; i < len; ++i) pDst[i] = val;
    return zufOk;
}

// The buffers must not overlap.
template <class T>
zufResult ownsCopy(const T* pSrc, T* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    std::memcpy(pDst, pSrc, bytes<T>(len));
    return zufOk;
}

// Overlap allowed in either direction.
template <class T>
zufResult ownsMove(const T* pSrc, T* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    std::memmove(pDst, pSrc, bytes<T>(len));
    return zufOk;
}

}  // namespace

extern "C" {
ZUF_API zufResult zufsZero_8u(Zuf8u* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_16s(Zuf16s* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_16sc(Zuf16sc* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_32s(Zuf32s* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_32sc(Zuf32sc* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_32f(Zuf32f* pDst, int len) { return ownsZero(pDst, len); }
ZUF_API zufResult zufsZero_32fc(Zuf32fc* pDst, int len) { return ownsZero(pDst, len); }

ZUF_API zufResult zufsSet_32s(Zuf32s val, Zuf32s* pDst, int len) { return ownsSet(val, pDst, len); }

ZUF_API zufResult zufsCopy_8u(const Zuf8u* pSrc, Zuf8u* pDst, int len) { return ownsCopy(pSrc, pDst, len); }
ZUF_API zufResult zufsCopy_32s(const Zuf32s* pSrc, Zuf32s* pDst, int len) { return ownsCopy(pSrc, pDst, len); }
ZUF_API zufResult zufsCopy_32f(const Zuf32f* pSrc, Zuf32f* pDst, int len) { return ownsCopy(pSrc, pDst, len); }
ZUF_API zufResult zufsMove_8u(const Zuf8u* pSrc, Zuf8u* pDst, int len) { return ownsMove(pSrc, pDst, len); }
}
