// Helpers shared by the vector-utility tests: the lengths and misalignments every kernel is
// exercised at, and byte-placed buffers for element access at any address (odd ones too).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/test_util.h"

namespace vt {

// Short lengths around the 4/8/16-wide steps and their tails, and a few long ones.
inline const std::vector<int> kLens = {1,  2,  3,  4,  5,  6,  7,  8,  9,  12, 15, 16,
                                       17, 23, 31, 32, 33, 47, 63, 64, 65, 70, 257};
// Byte offsets from a 64-byte boundary that keep 4-byte and 2-byte elements naturally aligned.
inline const std::vector<std::size_t> kMis32 = {0, 4, 8, 12};
inline const std::vector<std::size_t> kMis16 = {0, 2, 4, 6, 8, 14};

// n elements of T starting `misalign` bytes past a 64-byte boundary, read and written by byte
// copies, so any misalignment is legal.
template <class T>
struct Bytes {
    zuft::Placed<uint8_t> buf;
    Bytes(std::size_t n, std::size_t misalign) : buf(n * sizeof(T), misalign) {}
    T* ptr() { return reinterpret_cast<T*>(buf.data()); }
    T get(std::size_t i) const {
        T v;
        std::memcpy(&v, buf.data() + i * sizeof(T), sizeof(T));
        return v;
    }
    void set(std::size_t i, T v) { std::memcpy(buf.data() + i * sizeof(T), &v, sizeof(T)); }
    bool intact() const { return buf.guards_intact(); }
};

inline float f_of(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

}  // namespace vt
