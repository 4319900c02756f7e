// SSE2/SSE3 helpers shared by the vector kernels. Every kernel built on them sits beside its
// scalar reference and must match it bit for bit.
#pragma once

#include <emmintrin.h>
#include <pmmintrin.h>

#include <cstdint>

namespace zuf {

inline bool aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15u) == 0; }

template <class... P>
inline bool all_aligned16(const P*... p) {
    return (aligned16(p) && ...);
}

}  // namespace zuf
