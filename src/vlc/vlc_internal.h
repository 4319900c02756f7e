// The pieces every escape-block function shares: reading the caller's table blocks, the
// codeword lookup, AAC escape words and MP3 linbits. Layouts are described in zuf_vlc.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/bitstream.h"
#include "common/context.h"
#include "vlc/vlc_tables.h"
#include "zufack9/zuf_core.h"

namespace zuf::vlc {

constexpr uint32_t kDecoderId = amc_id(0x60);  // word 0 of a decoder table block
constexpr uint32_t kEncoderId = amc_id(0x5F);  // word 4 of an encoder table block

// The table block: the caller's pointer rounded up to 32 bytes, read as machine words
// (32 bits on the 32-bit target; pointer-sized elsewhere so that the table pointers fit).
inline const unsigned char* tables_at(const void* pVLCSpec) {
    return align_up(static_cast<const unsigned char*>(pVLCSpec), 32);
}
inline std::uintptr_t slot_at(const unsigned char* block, int index) {
    std::uintptr_t v;
    std::memcpy(&v, block + sizeof(std::uintptr_t) * static_cast<std::size_t>(index), sizeof v);
    return v;
}
inline uint32_t word_at(const unsigned char* block, int index) { return static_cast<uint32_t>(slot_at(block, index)); }
inline bool decoder_id_ok(const void* pVLCSpec) { return word_at(tables_at(pVLCSpec), 0) == kDecoderId; }
inline bool encoder_id_ok(const void* pVLCSpec) { return word_at(tables_at(pVLCSpec), 4) == kEncoderId; }

// Field widths that come from the caller's tables are clamped to what a 32-bit word can hold, so
// that a malformed table gives wrong values, never an undefined shift.
inline int width(uint32_t w) { return static_cast<int>(std::min<uint32_t>(w, 32)); }
// v >> n for n of any size (0 beyond 31).
inline uint32_t shr(uint32_t v, int n) { return (n >= 0 && n < 32) ? v >> n : 0u; }

// MP3 linbits are not range-checked: 0..16 cover the 16-bit range of the values, and anything
// outside acts as the nearest bound.
inline int linbits_of(int linbits) { return std::clamp(linbits, 0, 16); }

// A decoded leaf: the entry (sign-extended from its width) and the codeword length.
struct Leaf {
    int32_t entry;
    int length;
};

// What the lookup needs of a VlcDecoderTables.
struct Decoder {
    int peek;             // W
    const Zuf8u* lookup;  // the level entries
    bool wide;            // 32-bit entries
    int len_bits;         // L
    int elem_bits;        // E
    int elem_total;       // T
    int root_bits;        // index width of the first level

    explicit Decoder(const void* pVLCSpec) {
        const unsigned char* b = tables_at(pVLCSpec);
        peek = width(word_at(b, 2));
        lookup = reinterpret_cast<const Zuf8u*>(slot_at(b, 3));
        wide = word_at(b, 4) == 32;
        len_bits = width(word_at(b, 5));
        elem_bits = width(word_at(b, 7));
        elem_total = width(word_at(b, 8));
        root_bits = width(raw(0));
    }

    // Entry pos as stored (level widths and level references are unsigned).
    uint32_t raw(uint32_t pos) const {
        if (wide) {
            uint32_t e;
            std::memcpy(&e, lookup + 4 * static_cast<std::size_t>(pos), 4);
            return e;
        }
        uint16_t e;
        std::memcpy(&e, lookup + 2 * static_cast<std::size_t>(pos), 2);
        return e;
    }
    // The next W bits, left-aligned in 32 (the bits past W are zero).
    uint32_t window(const WordCache& wc) const { return peek == 0 ? 0u : wc.peek(peek) << (32 - peek); }

    // Looks up the codeword at the head of X (the next W bits, left-aligned in 32): one entry per
    // level. A level's index is the b bits of X after the bits of the levels passed (zeros past
    // the end of X). The walk stops after 32 levels, which no table with codewords of at most 32
    // bits needs, and a length is never more than the 32 bits peeked.
    Leaf find(uint32_t X) const {
        // The first level, whose width was read once, ends most codewords.
        uint32_t e = raw(1u + (root_bits == 0 ? 0u : X >> (32 - root_bits)));
        int used = 0;
        for (int level = 0, b = root_bits; !(e & 1) && level < 31; ++level) {
            used = std::min(used + b, 32);
            const uint32_t pos = e >> 1;
            b = width(raw(pos));
            const uint32_t index = b == 0 ? 0u : static_cast<uint32_t>(((uint64_t{X} << 32) << used) >> (64 - b));
            e = raw(pos + 1 + index);
        }
        const int len = used + static_cast<int>((e >> 1) & table[len_bits]);
        // A leaf's first value takes the sign of the entry's top bit.
        const int32_t leaf = wide ? static_cast<int32_t>(e) : static_cast<int16_t>(static_cast<uint16_t>(e));
        return {leaf, std::min(len, 32)};
    }

    // Pair leaves: the first value, signed, from bit L+9 up; the second value plus 128 in bits
    // L+1..L+8.
    int32_t first(int32_t e) const { return e >> std::min(len_bits + 9, 31); }
    int32_t second(int32_t e) const {
        return static_cast<int32_t>(shr(static_cast<uint32_t>(e), len_bits + 1) & 0xFFu) - 128;
    }
    // Tuple leaves: magnitude k (0 or 1) of the E-bit fields in bits L+1..L+T, the first highest.
    uint32_t magnitude(int32_t e, int k) const {
        const uint32_t u = wide ? static_cast<uint32_t>(e) : static_cast<uint16_t>(e);
        return shr(u, len_bits + 1 + elem_total - (k + 1) * elem_bits) & table[elem_bits];
    }
};

// An AAC escape word (ISO/IEC 13818-7 8.3.5): N - 4 one bits, a zero bit, N bits w; the
// magnitude 2^N + w. False (nothing taken) when the prefix is too long for 13 bits.
inline bool read_escape(WordCache& wc, int32_t* magnitude) {
    const uint32_t v = wc.peek(21);
    const int n = aac_table[v >> 12];
    if (n > 12) return false;
    *magnitude = static_cast<int32_t>((1u << n) + (shr(v, 24 - 2 * n) & table[n]));
    wc.skip(2 * n - 3);
    return true;
}

// Escape word of magnitude m >= 16 as one field: N - 4 ones, a zero, the low N bits of m.
struct Field {
    uint32_t bits;
    int length;
};
inline Field escape_word(uint32_t m) {
    const int n = std::bit_width(m) - 1;  // floor(log2 m): 4..12 for codable magnitudes
    return {(table[n - 4] << (n + 1)) | (m & table[n]), 2 * n - 3};
}

// An MP3 escaped value (ISO/IEC 11172-3 2.4.2.7): linbits bits l, then the sign bit.
inline int32_t read_linbits_value(WordCache& wc, int linbits) {
    const int32_t m = 15 + static_cast<int32_t>(wc.get(linbits));
    return wc.get(1) ? -m : m;
}
inline int32_t with_sign(WordCache& wc, int32_t magnitude) { return wc.get(1) ? -magnitude : magnitude; }

// The kernels behind the exported shells; pairs = values / 2 >= 1, arguments checked.
zufResult ownsVLCDecodeEscBlock_AAC(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int pairs,
                                    const void* pVLCSpec);
zufResult ownsVLCDecodeEscBlock_MP3(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst, int pairs,
                                    const void* pVLCSpec);
zufResult ownsVLCDecodeUTupleEscBlock_AAC(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int pairs,
                                          const void* pVLCSpec);
zufResult ownsVLCDecodeUTupleEscBlock_MP3(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst, int pairs,
                                          const void* pVLCSpec);

// Stores a decoded value: 16-bit wrap-around for what only a malformed table or an out-of-range
// linbits can produce.
inline Zuf16s to16(int32_t v) { return static_cast<Zuf16s>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }

}  // namespace zuf::vlc
