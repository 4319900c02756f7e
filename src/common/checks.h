// The argument-check vocabulary of the exported functions. An exported function states its
// checks as a list, in the documented order, before any work:
//
//     ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
//     ZUF_REQUIRE(len >= 1, zufErrSize);
//
// The first failing check returns its status; none of them writes anything.
#pragma once

#include <cstdint>

#include "zufack9/zuf_core.h"

#define ZUF_REQUIRE(cond, status)     \
    do {                              \
        if (!(cond)) return (status); \
    } while (0)

namespace zuf {

// True when every pointer is non-null.
template <class... P>
constexpr bool nonnull(const P*... p) {
    return ((p != nullptr) && ...);
}

// A bit-stream argument: the pointer to the byte pointer, and the byte pointer it holds.
template <class B>
constexpr bool stream_nonnull(B* const* ppBitStream) {
    return ppBitStream != nullptr && *ppBitStream != nullptr;
}

constexpr bool in_range(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }

constexpr bool bit_offset_ok(const int* pOffset) { return *pOffset >= 0 && *pOffset <= 7; }

}  // namespace zuf
