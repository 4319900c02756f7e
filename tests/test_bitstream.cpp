// The field reader, bit cache, writer and stuffing writer against a bit-by-bit model of the stream.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "common/bitstream.h"
#include "support/test_util.h"

namespace {

using zuf::BitCache;
using zuf::FieldReader;

// Bit number b of the buffer, most significant bit of each byte first; zero past `size`.
int model_bit(const Zuf8u* buf, size_t size, size_t b) { return b / 8 < size ? (buf[b / 8] >> (7 - b % 8)) & 1 : 0; }
uint32_t model_read(const std::vector<Zuf8u>& buf, size_t pos, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | static_cast<uint32_t>(model_bit(buf.data(), buf.size(), pos + i));
    return v;
}
std::vector<Zuf8u> random_bytes(zuft::Rng& rng, size_t n) {
    std::vector<Zuf8u> v(n);
    for (auto& b : v) b = static_cast<Zuf8u>(rng.u32());
    return v;
}
long position(const Zuf8u* base, const Zuf8u* p, int off) { return 8 * (p - base) + off; }

// Random reads from every entry offset: 0..25 bits with alignments (field reader), 1..25 bits
// (cache without an end) and 1..32 bits (cache with one, read on past its end, where bits are
// zero), each cached read checked through peek, window and get.
TEST(BitReaders, RandomWalksMatchModel) {
    enum Kind { kField, kNear, kBounded };
    // The kind, the widest single read, and what the cache is asked to hold before each read.
    const struct {
        Kind kind;
        int max_bits, ensure;
    } cases[] = {{kField, 25, 0}, {kNear, 25, BitCache::kNearBits}, {kBounded, 32, BitCache::kBoundedBits}};
    zuft::Rng rng(1);
    auto buf = random_bytes(rng, 600);
    const size_t data = 512;  // a bounded cache ends here; the rest is the readers' read-ahead
    for (const auto& c : cases)
        for (int o = 0; o < 8; ++o) {
            Zuf8u* p = buf.data() + 3;
            int off = o;
            size_t pos = 8 * 3 + o;
            const size_t stop = c.kind == kBounded ? 8 * data + 300 : 8 * data;
            const std::vector<Zuf8u> model(buf.begin(), buf.begin() + (c.kind == kBounded ? data : buf.size()));
            BitCache bc = c.kind == kBounded ? BitCache(p, off, buf.data() + data) : BitCache(p, off);
            const FieldReader r{&p, &off};
            while (pos < stop) {
                const int n = static_cast<int>(rng.u32() % static_cast<uint32_t>(c.max_bits + 1));
                const uint32_t want = model_read(model, pos, n);
                if (c.kind == kField) {
                    const bool align = rng.u32() % 9 == 0;  // now and then an alignment
                    if (align) r.align();
                    if (!align) {  // braces: the assertion macro is an if/else of its own
                        ASSERT_EQ(uint32_t(r.get(uint32_t(n))), want) << o << " " << pos;
                    }
                    pos = align ? (pos + 7) / 8 * 8 : pos + static_cast<size_t>(n);
                    ASSERT_EQ(position(buf.data(), p, off), static_cast<long>(pos));
                    continue;
                }
                if (n == 0) continue;
                bc.ensure(c.ensure);
                ASSERT_EQ(bc.peek(n), want);
                ASSERT_EQ(static_cast<uint32_t>(bc.window() >> (64 - n)), want);
                ASSERT_EQ(n == 1 ? bc.bit() : bc.get(n), want) << c.kind << " " << o << " " << pos;
                pos += static_cast<size_t>(n);
                ASSERT_EQ(bc.consumed(), static_cast<long>(pos - 8 * 3 - o));
            }
            if (c.kind == kField) continue;
            // The caller's position moves only in finish(), to the entry position plus the bits taken.
            ASSERT_EQ(position(buf.data(), p, off), static_cast<long>(8 * 3 + o));
            bc.finish(&p, &off);
            ASSERT_EQ(position(buf.data(), p, off), static_cast<long>(pos));
        }
}

// Readable memory that ends at a page boundary: reading past `end()` faults.
struct FencedBuffer {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    Zuf8u* mem =
        static_cast<Zuf8u*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    FencedBuffer() { mprotect(mem + page, page, PROT_NONE); }
    ~FencedBuffer() { munmap(mem, 2 * page); }
    Zuf8u* end() const { return mem + page; }
};

// The readers touch at most three bytes past the byte of the last bit they use, and a bounded
// cache nothing at or past its end. The last bit used ends at every offset of the last byte.
TEST(BitReaders, ReadAheadStaysWithinThreeBytes) {
    FencedBuffer fb;
    zuft::Rng rng(2);
    for (int last = 0; last < 8; ++last)
        for (int n = 1; n <= 25; ++n) {
            // A field of n bits whose last bit is bit `last` of the byte 4 before the fence.
            const long end_bit = 8 * 64 - 8 * 4 + last + 1;
            for (size_t i = 0; i < 64; ++i) fb.end()[-64 + static_cast<long>(i)] = static_cast<Zuf8u>(rng.u32());
            Zuf8u* base = fb.end() - 64;
            Zuf8u* p = base + (end_bit - n) / 8;
            int off = static_cast<int>((end_bit - n) % 8);
            Zuf8u* q = p;
            int qo = off;
            FieldReader{&p, &off}.get(static_cast<uint32_t>(n));
            ASSERT_EQ(position(base, p, off), end_bit);
            // The cache through a run of short reads that ends on the same bit.
            BitCache bc(q, qo);
            for (int left = n; left > 0; left -= 3) {
                bc.ensure(BitCache::kNearBits);
                bc.skip(left < 3 ? left : 3);
            }
            bc.finish(&q, &qo);
            ASSERT_EQ(position(base, q, qo), end_bit);
        }
    // A bounded cache ending at the fence reads zeros beyond it, however far it is taken.
    Zuf8u* p = fb.end() - 2;
    BitCache bc(p, 5, fb.end());
    bc.ensure(BitCache::kBoundedBits);
    EXPECT_EQ(bc.get(11), static_cast<uint32_t>(((p[0] & 7u) << 8) | p[1]));
    for (int k = 0; k < 20; ++k) {
        bc.ensure(BitCache::kBoundedBits);
        EXPECT_EQ(bc.get(32), 0u);
    }
}

// Random fields written one after another read back through both readers; every bit of the
// buffer is checked: before the start untouched, written bits as written, the rest of the last
// byte zero, the byte after it untouched.
TEST(BitWriter, RandomFieldsRoundTrip) {
    zuft::Rng rng(3);
    for (int o = 0; o < 8; ++o) {
        auto buf = random_bytes(rng, 400);
        buf[1] &= static_cast<Zuf8u>(0xFF00u >> o);  // a partly written byte has zero low bits
        const auto before = buf;
        std::vector<std::pair<uint32_t, int>> fields;
        Zuf8u* p = buf.data() + 1;
        int off = o;
        std::vector<int> model;  // the bits written
        while (model.size() < 8 * 380) {
            const int n = static_cast<int>(rng.u32() % 32);
            const uint32_t v = rng.u32();
            zuf::ownSetBits(&p, &off, v, n);
            fields.emplace_back(n ? v & (0xFFFFFFFFu >> (32 - n)) : 0u, n);
            for (int i = n - 1; i >= 0; --i) model.push_back(static_cast<int>((v >> i) & 1));
        }
        const size_t start = 8 + o, end = start + model.size();
        ASSERT_EQ(position(buf.data(), p, off), static_cast<long>(end));
        for (size_t b = 0; b < 8 * buf.size(); ++b) {
            const int want = b < start               ? model_bit(before.data(), before.size(), b)
                             : b < end               ? model[b - start]
                             : b < (end + 7) / 8 * 8 ? 0
                                                     : model_bit(before.data(), before.size(), b);
            ASSERT_EQ(model_bit(buf.data(), buf.size(), b), want) << "o=" << o << " bit " << b;
        }
        // Read back in two halves: a field may be wider than one read.
        Zuf8u* q = buf.data() + 1;
        int qo = o;
        const FieldReader r{&q, &qo};
        BitCache bc(q, qo);
        for (auto [v, n] : fields) {
            const int lo = n / 2, hi = n - lo;
            const uint32_t got = static_cast<uint32_t>(r.get(hi)) << lo | static_cast<uint32_t>(r.get(lo));
            ASSERT_EQ(got, v);
            if (n == 0) continue;
            bc.ensure(BitCache::kNearBits);
            uint32_t cached = bc.get(hi);
            bc.ensure(BitCache::kNearBits);
            if (lo) cached = cached << lo | bc.get(lo);
            ASSERT_EQ(cached, v);
        }
        EXPECT_EQ(position(buf.data(), q, qo), static_cast<long>(end));
    }
}

TEST(BitWriter, StuffingMatchesModel) {
    zuft::Rng rng(5);
    for (int o = 0; o < 8; ++o)
        for (int n = -3; n <= 40; ++n) {
            auto buf = random_bytes(rng, 10);
            buf[1] &= static_cast<Zuf8u>(0xFF00u >> o);
            const auto before = buf;
            Zuf8u* p = buf.data() + 1;
            int off = o;
            zuf::ownPutStuffingBits(&p, &off, n);
            const size_t start = 8 + o, end = start + (n > 0 ? n : 0);
            ASSERT_EQ(position(buf.data(), p, off), static_cast<long>(end));
            ASSERT_TRUE(off >= 0 && off <= 7) << "the position after stuffing is a normal one";
            for (size_t b = 0; b < 8 * buf.size(); ++b) {
                const int want = b < start || b >= (end + 7) / 8 * 8 ? model_bit(before.data(), 10, b) : b < end;
                ASSERT_EQ(model_bit(buf.data(), 10, b), want) << "o=" << o << " n=" << n << " bit " << b;
            }
        }
}

}  // namespace
