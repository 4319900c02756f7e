// Context identification and placement. Every context carries a 32-bit ID word at a position
// that its family fixes; Init functions place a context at the caller's pointer rounded up
// to 16 or 32 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zuf {

// ID words of the context families (the 0x434D41nn family reads n, 'A', 'M', 'C' in memory).
enum ContextId : uint32_t {
    kIdFftC16sc = 1,
    kIdFftC32fc = 4,
    kIdFftC32f = 5,
    kIdFftR32f = 6,
    kIdDctFwd32f = 21,
    kIdDctInv32f = 22,
    kIdMdctFwd32f = 55,
    kIdMdctInv32f = 56,
    kIdMdctFwd16s = 57,
    kIdFirBlock32f = 58,
    kIdFdp32f = 59,
};
constexpr uint32_t amc_id(uint32_t n) { return 0x434D4100u + n; }

template <class T>
inline T* align_up(T* p, std::size_t a) {
    auto u = reinterpret_cast<std::uintptr_t>(p);
    return reinterpret_cast<T*>((u + (a - 1)) & ~static_cast<std::uintptr_t>(a - 1));
}

// Reads the 32-bit word number `index` of a context (memcpy: the caller's block may be of any
// type and alignment).
inline uint32_t context_word(const void* ctx, std::size_t index) {
    uint32_t w;
    std::memcpy(&w, static_cast<const unsigned char*>(ctx) + 4 * index, 4);
    return w;
}

}  // namespace zuf
