// Aligned allocation through the replaceable allocator hooks.
//
// Block layout: the hook i_malloc is asked for len + 32 + sizeof(void*) bytes; the returned
// address is raw + sizeof(void*) + 31 rounded down to a multiple of 32, which leaves at least
// one pointer-sized slot in front of it, and that slot holds the raw address for zufsFree.
// On 32-bit x86 this is exactly len + 36 bytes, (raw + 35) & ~31, and a 4-byte raw address.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zufack9/zuf_core.h"

extern "C" {
ZUF_API void* (*i_malloc)(size_t) = std::malloc;
ZUF_API void* (*i_calloc)(size_t, size_t) = std::calloc;
ZUF_API void* (*i_realloc)(void*, size_t) = std::realloc;
ZUF_API void (*i_free)(void*) = std::free;
ZUF_API Zuf32s i_version = 1;
ZUF_API Zuf32s i_min_version = 0;
}

namespace {

constexpr std::size_t kSlot = sizeof(void*);
constexpr std::size_t kAlign = 32;

// bytes is the request before the alignment overhead.
Zuf8u* ownsMallocAligned(std::size_t bytes) {
    void* raw = i_malloc(bytes + kAlign + kSlot);
    if (!raw) return nullptr;
    const auto r = reinterpret_cast<std::uintptr_t>(raw);
    const auto a = (r + kSlot + kAlign - 1) & ~static_cast<std::uintptr_t>(kAlign - 1);
    auto* block = reinterpret_cast<Zuf8u*>(a);
    std::memcpy(block - kSlot, &raw, kSlot);
    return block;
}

}  // namespace

extern "C" ZUF_API Zuf8u* zufsMalloc_8u(int len) {
    if (len < 1) return nullptr;
    return ownsMallocAligned(static_cast<std::size_t>(len));
}

// The product len * 4 is not checked for overflow (on 32-bit x86 a huge len wraps, as the
// documented request of len * 4 + 36 bytes does).
extern "C" ZUF_API Zuf32f* zufsMalloc_32f(int len) {
    if (len < 1) return nullptr;
    return reinterpret_cast<Zuf32f*>(ownsMallocAligned(static_cast<std::size_t>(len) * 4u));
}

extern "C" ZUF_API void zufsFree(void* ptr) {
    if (!ptr) return;
    void* raw;
    std::memcpy(&raw, static_cast<Zuf8u*>(ptr) - kSlot, kSlot);
    i_free(raw);
}
