// Bit-stream primitives shared by every parser and packer of the library: one field reader, one
// bit cache and one bit writer.
//
// A stream position is a byte pointer plus a bit offset 0..7 counted from the byte's most
// significant bit, so (p, o) is absolute bit 8p + o. Fields are read and written most
// significant bit first (ISO/IEC 13818-7 and 11172-3 bit order). The primitives check nothing:
// their callers validate offsets before and values after.
//
// Read-ahead: a parser may read past the last bit it uses, and its callers pad their buffers
// for that. Both readers keep within the four bytes that start at the byte holding the next bit
// to be used, so a parser built on them never reads more than three bytes past its last bit.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "zufack9/zuf_core.h"

namespace zuf {

// Big-endian words at p.
inline uint32_t load_be32(const Zuf8u* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint64_t load_be64(const Zuf8u* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
}

// ---------------------------------------------------------------- field reader

// Reads one field at a time straight from the caller's position, for syntax read field by
// field (headers, side information). The position moves with every field, so a parser that
// stops early leaves it just after the last field it read.
struct FieldReader {
    Zuf8u** pp;
    int* offset;

    // The next n bits (0..25) as a value (it fits a signed slot); advances the position by n.
    // One four-byte fetch, a mask and a shift; n = 0 reads nothing and returns 0.
    Zuf32s get(uint32_t n) const {
        if (n == 0) return 0;
        const uint32_t o = static_cast<uint32_t>(*offset);
        const uint32_t w = load_be32(*pp) & (0xFFFFFFFFu >> o);
        const uint32_t t = o + n;
        *pp += t >> 3;
        *offset = static_cast<int>(t & 7u);
        return static_cast<Zuf32s>(w >> (32 - t));
    }

    // Moves n bits on without reading them.
    void skip(uint32_t n) const {
        const uint32_t t = static_cast<uint32_t>(*offset) + n;
        *pp += t >> 3;
        *offset = static_cast<int>(t & 7u);
    }

    // byte_alignment(): to the next byte boundary unless already on one.
    void align() const {
        if (*offset != 0) {
            ++*pp;
            *offset = 0;
        }
    }
};

// ---------------------------------------------------------------- bit cache

// A 64-bit window on the stream for parsers that take many short fields or codewords in a row
// (Huffman decoding). The cached bits are left-aligned, the next one in bit 63, and the bits
// below the valid ones are zero. The caller's position is not touched until finish().
//
// Protocol: ensure(n) before taking up to n bits with peek/skip/get/bit, or before walking the
// window() and then skip()ping what was used. How far a refill may read is fixed when the cache
// is made:
//  - without an end (the parser does not know where its data stops): a refill fetches the four
//    bytes from the byte holding the next unread bit, as the field reader would, and leaves at
//    least 25 valid bits (32 - offset). Calling ensure() only where at least one bit is about to
//    be used keeps the read-ahead within three bytes past the last bit used.
//  - with an end (the parser knows where its data stops): a refill appends up to eight bytes,
//    none at or past the end, and leaves at least 57 valid bits; bits past the end read as zero,
//    so damaged side information can never make a parser read further.
class BitCache {
  public:
    // Largest n that ensure(n) can always honour, without and with an end.
    static constexpr int kNearBits = 25;
    static constexpr int kBoundedBits = 57;

    // Starts at (p, offset); reads nothing until the first ensure().
    BitCache(const Zuf8u* p, int offset) : base_(p), start_offset_(offset), bits_(-offset) {}
    // Starts at (p, offset) and never fetches a byte at or past `end`.
    BitCache(const Zuf8u* p, int offset, const Zuf8u* end)
        : base_(p), start_offset_(offset), bits_(-offset), end_(end - p) {
        reload();  // from here on bits_ >= 0, which appending needs
    }

    // At least n valid bits: n up to kNearBits without an end, kBoundedBits with one.
    void ensure(int n) {
        if (bits_ < n) refill();
    }
    // Tops the window up; with an end, only while fewer than kBoundedBits bits are valid.
    void refill() {
        if (end_ - next_ >= 8) {
            // Far from the end: append the whole bytes that fit below the valid bits.
            cache_ |= load_be64(base_ + next_) >> bits_;
            const int bytes = (63 - bits_) >> 3;
            next_ += bytes;
            bits_ += 8 * bytes;
        } else {
            reload();
        }
    }

    // The next bits, left-aligned: the first codeword bit is bit 63.
    uint64_t window() const { return cache_; }
    // The next n bits (1..32) without taking them.
    uint32_t peek(int n) const { return static_cast<uint32_t>(cache_ >> (64 - n)); }
    // Takes n bits (0..63).
    void skip(int n) {
        cache_ <<= n;
        bits_ -= n;
    }
    // Takes the next n bits (1..32) and returns them.
    uint32_t get(int n) {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    uint32_t bit() { return get(1); }

    // Bits taken since the entry position.
    long consumed() const { return 8 * next_ - bits_ - start_offset_; }

    // Moves the caller's position to the entry position plus the bits taken; bytes fetched
    // ahead are not consumed.
    void finish(Zuf8u** ppBitStream, int* pOffset) const {
        const long pos = 8 * next_ - bits_;
        *ppBitStream = const_cast<Zuf8u*>(base_) + (pos >> 3);
        *pOffset = static_cast<int>(pos & 7);
    }

  private:
    // Replaces the window with the bytes from the next unread bit (byte q, bit o) on. Before the
    // first refill bits_ holds minus the entry offset, so the formulas give the entry position.
    void reload() {
        const long q = next_ - ((bits_ + 7) >> 3);
        const int o = -bits_ & 7;
        if (end_ < 0) {
            cache_ = uint64_t{load_be32(base_ + q)} << (32 + o);
            bits_ = 32 - o;
            next_ = q + 4;
            return;
        }
        uint64_t w = 0;
        if (end_ - q >= 8) {
            w = load_be64(base_ + q);
        } else {
            for (long k = 0; k < 8; ++k) w = (w << 8) | (q + k < end_ ? base_[q + k] : 0u);
        }
        cache_ = w << o;
        bits_ = 64 - o;
        next_ = q + 8;
    }

    const Zuf8u* base_;  // entry byte; all byte counts below are relative to it
    int start_offset_;
    uint64_t cache_ = 0;
    int bits_;       // valid bits in cache_
    long next_ = 0;  // byte after the last one fetched
    long end_ = -1;  // first byte that may not be fetched; -1: no end known
};

// ---------------------------------------------------------------- aligned-word cache

// A window on the stream that is refilled a whole aligned 32-bit word at a time, for table-driven
// decoders that peek up to 32 bits at once (the escape-block engine). It always holds the rest of
// the word with the next unread bit and all of the word after it (33..64 valid bits, left-aligned
// in a 64-bit register): the first fetch takes the entry byte up to the end of its aligned word
// and the word after it, and a word is appended whenever the current one is used up. It therefore
// never reads before the entry byte and never more than two aligned words past the word that
// holds the last bit taken. The caller's position is not touched until finish().
class WordCache {
  public:
    WordCache(const Zuf8u* p, int offset) : base_(p) {
        const int head = 4 - static_cast<int>(reinterpret_cast<std::uintptr_t>(p) & 3u);  // bytes to the word end
        uint64_t first = 0;
        for (int k = 0; k < head; ++k) first = (first << 8) | p[k];
        next_ = p + head;
        cache_ = first << (64 - 8 * head);
        bits_ = 8 * head;
        append();
        skip(offset);
    }

    // The next n bits (0..32) without taking them.
    uint32_t peek(int n) const { return n == 0 ? 0u : static_cast<uint32_t>(cache_ >> (64 - n)); }
    // Takes n bits (0..32).
    void skip(int n) {
        cache_ <<= n;
        bits_ -= n;
        while (bits_ <= 32) append();
    }
    // Takes the next n bits (0..32) and returns them.
    uint32_t get(int n) {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }

    // Moves the caller's position to the first bit not taken.
    void finish(Zuf8u** ppBitStream, int* pOffset) const {
        const long pos = 8 * static_cast<long>(next_ - base_) - bits_;
        *ppBitStream = const_cast<Zuf8u*>(base_) + (pos >> 3);
        *pOffset = static_cast<int>(pos & 7);
    }

  private:
    void append() {
        cache_ |= uint64_t{load_be32(next_)} << (32 - bits_);
        next_ += 4;
        bits_ += 32;
    }

    const Zuf8u* base_;  // entry byte
    const Zuf8u* next_;  // next aligned word to fetch
    uint64_t cache_;
    int bits_;  // valid bits in cache_, 33..64 between calls
};

// ---------------------------------------------------------------- bit accumulator

// A writer for long runs of fields (the escape-block encoders): fields collect in a register and
// leave it as whole big-endian bytes. Unlike ownSetBits it keeps what the buffer holds around the
// written span: the bits before the start position in the first byte and the bits after the end
// position in the last byte, and it touches no byte past the one holding the end position.
class BitAccumulator {
  public:
    BitAccumulator(Zuf8u* p, int offset) : p_(p), first_(p), pending_(offset), first_offset_(offset) {
        if (offset > 0) acc_ = p[0] >> (8 - offset);
    }

    // Appends the low n bits (0..32) of v.
    void put(uint32_t v, int n) {
        if (n == 0) return;
        acc_ = (acc_ << n) | (v & (0xFFFFFFFFu >> (32 - n)));
        pending_ += n;
        while (pending_ >= 8) {
            pending_ -= 8;
            *p_++ = static_cast<Zuf8u>(acc_ >> pending_);
        }
    }

    // Stores a partial last byte over the old one's low bits and returns the end position.
    void finish(Zuf8u** ppBitStream, int* pOffset) {
        if (pending_ > 0) {
            const unsigned keep = 0xFFu >> pending_;
            p_[0] = static_cast<Zuf8u>(((acc_ << (8 - pending_)) & ~keep & 0xFFu) | (p_[0] & keep));
        }
        *ppBitStream = p_;
        *pOffset = pending_;
    }

    // Stores a partial last byte with its unwritten low bits cleared, the bytes ownSetBits would
    // leave, and returns the end position. Unlike ownSetBits it never touches the byte after, and
    // like it leaves the buffer as it was when no bit was put.
    void finish_cleared(Zuf8u** ppBitStream, int* pOffset) {
        const bool moved = p_ != first_ || pending_ != first_offset_;
        if (pending_ > 0 && moved) p_[0] = static_cast<Zuf8u>((acc_ << (8 - pending_)) & 0xFFu);
        *ppBitStream = p_;
        *pOffset = pending_;
    }

  private:
    Zuf8u* p_;
    Zuf8u* first_;      // start position
    uint64_t acc_ = 0;  // the last pending_ bits are not stored yet
    int pending_;       // 0..7 between calls
    int first_offset_;
};

// ---------------------------------------------------------------- bit writer

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
