// Replaces the library's allocator hooks for one scope and counts the calls; from call number
// `fail_from` on (1-based, 0: never) the allocation fails. Blocks start `offset` bytes into what
// the platform returned, so the library meets every residue of its alignment.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "zufack9/zuf_core.h"

namespace zuft {

struct CountingHooks {
    static inline int mallocs = 0, frees = 0, fail_from = 0;
    static inline std::size_t offset = 0;
    static inline std::size_t last_size = 0;
    static inline void* last_raw = nullptr;
    static void* my_malloc(std::size_t n) {
        last_size = n;
        last_raw =
            ++mallocs >= fail_from && fail_from > 0 ? nullptr : static_cast<char*>(std::malloc(n + offset)) + offset;
        return last_raw;
    }
    static void my_free(void* p) {
        ++frees;
        last_raw = p;
        std::free(p ? static_cast<char*>(p) - offset : nullptr);
    }
    void* (*saved_malloc)(std::size_t) = i_malloc;
    void (*saved_free)(void*) = i_free;
    explicit CountingHooks(int fail = 0, std::size_t off = 0) {
        mallocs = frees = 0;
        fail_from = fail;
        offset = off;
        i_malloc = my_malloc;
        i_free = my_free;
    }
    ~CountingHooks() {
        i_malloc = saved_malloc;
        i_free = saved_free;
    }
};

}  // namespace zuft
