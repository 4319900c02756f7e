// Bit-stream primitives shared by every parser and packer of the library.
//
// A stream position is a byte pointer plus a bit offset 0..7 counted from the byte's most
// significant bit, so (p, o) is absolute bit 8p + o. Fields are read and written most
// significant bit first (ISO/IEC 13818-7 and 11172-3 bit order). The primitives check nothing:
// their callers validate offsets before and values after.
#pragma once

#include <cstdint>

#include "zufack9/zuf_core.h"

namespace zuf {

// Big-endian 32-bit word at p. Readers always fetch four bytes, so a caller's buffer must be
// readable for three bytes past the last byte that holds a requested bit.
inline uint32_t load_be32(const Zuf8u* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The next n bits (1..25) as an unsigned value; advances the position by n. Branch-free.
inline uint32_t ownsGetBits_AAC(Zuf8u** ppBitStream, int* pOffset, uint32_t n) {
    const Zuf8u* p = *ppBitStream;
    const uint32_t o = static_cast<uint32_t>(*pOffset);
    const uint32_t w = load_be32(p) & (0xFFFFFFFFu >> o);
    const uint32_t t = o + n;
    *ppBitStream = const_cast<Zuf8u*>(p) + (t >> 3);
    *pOffset = static_cast<int>(t & 7);
    return w >> (32 - t);
}

// Moves to the next byte boundary unless already on one.
inline void ownsByteAlign_AAC(Zuf8u** ppBitStream, int* pOffset) {
    if (*pOffset != 0) {
        ++*ppBitStream;
        *pOffset = 0;
    }
}

// As ownsGetBits_AAC for n = 0..25; n = 0 returns 0 and leaves the position.
inline uint32_t ownGetBits_MP3(Zuf8u** ppBitStream, int* pOffset, uint32_t n) {
    if (n == 0) return 0;
    return ownsGetBits_AAC(ppBitStream, pOffset, n);
}

// Writes the low n bits (0..31) of value at the position and advances it. A byte is cleared in
// its unwritten low bits whenever writing starts at its most significant bit, so the buffer need
// not be cleared first. When the field ends on a byte boundary the following byte is read and
// stored back unchanged: the buffer needs one byte of slack after the last byte written.
inline void ownSetBits(Zuf8u** ppBitStream, int* pOffset, uint32_t value, int n) {
    if (n <= 0) return;
    Zuf8u* p = *ppBitStream;
    const int o = *pOffset;
    uint32_t v = value & (0xFFFFFFFFu >> (32 - n));
    int t = o + n;
    // Upper o bits of the current byte, the ones already written.
    const uint32_t kept = o ? (p[0] & (0xFFu << (8 - o)) & 0xFFu) : 0u;
    if (t <= 7) {
        p[0] = static_cast<Zuf8u>(kept | (v << (8 - t)));
        *pOffset = t;
        return;
    }
    t -= 8;  // bits of v left after completing the current byte
    *p++ = static_cast<Zuf8u>(kept | (v >> t));
    v &= (1u << t) - 1u;
    while (t >= 8) {
        t -= 8;
        *p++ = static_cast<Zuf8u>(v >> t);
        v &= (1u << t) - 1u;
    }
    if (t > 0) {
        p[0] = static_cast<Zuf8u>(v << (8 - t));
    } else {
        const Zuf8u keep = p[0];
        p[0] = keep;
    }
    *ppBitStream = p;
    *pOffset = t;
}

// Writes n one bits (n <= 0 writes nothing): up to the byte boundary through the writer, then
// whole 0xFF bytes, then a partial byte with its top bits set.
inline void ownPutStuffingBits(Zuf8u** ppBitStream, int* pOffset, int n) {
    if (n <= 0) return;
    int k = (8 - *pOffset) & 7;
    if (k > n) k = n;
    if (k > 0) ownSetBits(ppBitStream, pOffset, (1u << k) - 1u, k);
    int m = n - k;
    Zuf8u* p = *ppBitStream;
    for (; m >= 8; m -= 8) *p++ = 0xFF;
    if (m > 0) {
        p[0] = static_cast<Zuf8u>(((1u << m) - 1u) << (8 - m));
        *pOffset = m;
    }
    *ppBitStream = p;
}

}  // namespace zuf
