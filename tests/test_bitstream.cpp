// The bit readers, writer and stuffing writer against a bit-by-bit model of the stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/bitstream.h"
#include "support/test_util.h"

namespace {

using zuf::ownGetBits_MP3;
using zuf::ownPutStuffingBits;
using zuf::ownsByteAlign_AAC;
using zuf::ownSetBits;
using zuf::ownsGetBits_AAC;

// Bit number b of the buffer, most significant bit of each byte first.
int model_bit(const std::vector<Zuf8u>& buf, size_t b) { return (buf[b / 8] >> (7 - b % 8)) & 1; }

uint32_t model_read(const std::vector<Zuf8u>& buf, size_t pos, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | static_cast<uint32_t>(model_bit(buf, pos + i));
    return v;
}

std::vector<Zuf8u> random_bytes(zuft::Rng& rng, size_t n) {
    std::vector<Zuf8u> v(n);
    for (auto& b : v) b = static_cast<Zuf8u>(rng.u32());
    return v;
}

TEST(BitReader, EveryOffsetAndWidthMatchesModel) {
    zuft::Rng rng(1);
    auto buf = random_bytes(rng, 64);
    for (int start_byte = 0; start_byte < 8; ++start_byte)
        for (int o = 0; o < 8; ++o)
            for (int n = 1; n <= 25; ++n) {
                Zuf8u* p = buf.data() + start_byte;
                int off = o;
                const uint32_t got = ownsGetBits_AAC(&p, &off, static_cast<uint32_t>(n));
                const size_t pos = 8 * start_byte + o;
                ASSERT_EQ(got, model_read(buf, pos, n)) << "o=" << o << " n=" << n;
                ASSERT_EQ(8 * (p - buf.data()) + off, static_cast<long>(pos + n));
                ASSERT_TRUE(off >= 0 && off <= 7);

                Zuf8u* p3 = buf.data() + start_byte;
                int off3 = o;
                ASSERT_EQ(ownGetBits_MP3(&p3, &off3, static_cast<uint32_t>(n)), got);
                ASSERT_EQ(p3, p);
                ASSERT_EQ(off3, off);
            }
}

TEST(BitReader, LongRandomWalkAgreesWithModel) {
    zuft::Rng rng(2);
    auto buf = random_bytes(rng, 4096 + 4);
    Zuf8u* p = buf.data();
    int off = 0;
    size_t pos = 0;
    while (pos + 25 < 8 * 4096) {
        if (rng.u32() % 9 == 0) {
            ownsByteAlign_AAC(&p, &off);
            pos = (pos + 7) / 8 * 8;
        } else {
            const int n = static_cast<int>(rng.u32() % 25) + 1;
            ASSERT_EQ(ownsGetBits_AAC(&p, &off, static_cast<uint32_t>(n)), model_read(buf, pos, n));
            pos += static_cast<size_t>(n);
        }
        ASSERT_EQ(static_cast<size_t>(8 * (p - buf.data()) + off), pos);
    }
}

TEST(BitReader, DocumentedCornerCases) {
    Zuf8u buf[8] = {0xB7, 0x5C, 0xFF, 0x00, 0, 0, 0, 0};
    Zuf8u* p = buf;
    int off = 6;  // last 2 bits of 0xB7 (11) then the first 2 of 0x5C (01)
    EXPECT_EQ(ownsGetBits_AAC(&p, &off, 4), 0xDu);
    EXPECT_EQ(p, buf + 1);
    EXPECT_EQ(off, 2);

    p = buf;
    off = 0;
    EXPECT_EQ(ownsGetBits_AAC(&p, &off, 8), 0xB7u);
    EXPECT_EQ(p, buf + 1);
    EXPECT_EQ(off, 0);

    // n = 0 is a no-op for the MP3 reader.
    EXPECT_EQ(ownGetBits_MP3(&p, &off, 0), 0u);
    EXPECT_EQ(p, buf + 1);
    EXPECT_EQ(off, 0);

    // Alignment: nothing at offset 0, skips 7 bits at offset 1.
    ownsByteAlign_AAC(&p, &off);
    EXPECT_EQ(p, buf + 1);
    off = 1;
    ownsByteAlign_AAC(&p, &off);
    EXPECT_EQ(p, buf + 2);
    EXPECT_EQ(off, 0);
}

// Writes random fields and checks every bit of the buffer against a model: written bits hold
// the field, the bits before the start are untouched, and bits after the end of the field in
// its last byte are zero.
TEST(BitWriter, RandomFieldsAtEveryOffsetAndWidth) {
    zuft::Rng rng(3);
    for (int o = 0; o < 8; ++o)
        for (int n = 0; n <= 31; ++n)
            for (int rep = 0; rep < 4; ++rep) {
                auto buf = random_bytes(rng, 12);
                const auto before = buf;
                const uint32_t value = rng.u32();
                Zuf8u* p = buf.data() + 1;
                int off = o;
                ownSetBits(&p, &off, value, n);
                const size_t start = 8 + o, end = start + n;
                ASSERT_EQ(static_cast<size_t>(8 * (p - buf.data()) + off), end) << o << " " << n;
                for (size_t b = 0; b < 8 * buf.size(); ++b) {
                    const int want = b < start || (n == 0)   ? model_bit(before, b)
                                     : b < end               ? static_cast<int>((value >> (n - 1 - (b - start))) & 1)
                                     : b < (end + 7) / 8 * 8 ? 0
                                                             : model_bit(before, b);
                    ASSERT_EQ(model_bit(buf, b), want) << "o=" << o << " n=" << n << " bit " << b;
                }
            }
}

TEST(BitWriter, SequenceReadsBack) {
    zuft::Rng rng(4);
    std::vector<Zuf8u> buf(2048, 0xEE);
    std::vector<std::pair<uint32_t, int>> fields;
    Zuf8u* p = buf.data();
    int off = 0;
    size_t total = 0;
    while (total < 8 * 2000) {
        const int n = static_cast<int>(rng.u32() % 26);
        const uint32_t v = n ? rng.u32() & ((1u << n) - 1u) : 0u;
        ownSetBits(&p, &off, v, n);
        fields.emplace_back(v, n);
        total += static_cast<size_t>(n);
    }
    Zuf8u* q = buf.data();
    int qo = 0;
    for (auto [v, n] : fields) ASSERT_EQ(ownGetBits_MP3(&q, &qo, static_cast<uint32_t>(n)), v);
    EXPECT_EQ(q, p);
    EXPECT_EQ(qo, off);
}

TEST(BitWriter, DocumentedCornerCases) {
    Zuf8u buf[4] = {0xFF, 0x77, 0x33, 0x11};
    Zuf8u* p = buf;
    int off = 0;
    ownSetBits(&p, &off, 0x5, 3);  // low bits of a byte started at its top are cleared
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(off, 3);
    ownSetBits(&p, &off, 0x11, 5);
    EXPECT_EQ(buf[0], 0xB1);
    EXPECT_EQ(p, buf + 1);
    EXPECT_EQ(off, 0);
    EXPECT_EQ(buf[1], 0x77);  // the byte after a field that ends on a boundary is unchanged

    Zuf8u b2[4] = {0x50, 0x99, 0x42, 0x24};
    p = b2;
    off = 4;
    ownSetBits(&p, &off, 0xABC, 12);
    EXPECT_EQ(b2[0], 0x5A);
    EXPECT_EQ(b2[1], 0xBC);
    EXPECT_EQ(b2[2], 0x42);
    EXPECT_EQ(p, b2 + 2);
    EXPECT_EQ(off, 0);

    // Only the low n bits of the value are written.
    Zuf8u b3[3] = {0, 0, 0};
    p = b3;
    off = 0;
    ownSetBits(&p, &off, 0xFFFFFF0Fu, 4);
    EXPECT_EQ(b3[0], 0xF0);
}

TEST(Stuffing, MatchesModelForEveryOffsetAndCount) {
    zuft::Rng rng(5);
    for (int o = 0; o < 8; ++o)
        for (int n = -3; n <= 40; ++n) {
            auto buf = random_bytes(rng, 10);
            buf[1] &= static_cast<Zuf8u>(0xFF00u >> o);  // a partly written byte has zero low bits
            const auto before = buf;
            Zuf8u* p = buf.data() + 1;
            int off = o;
            ownPutStuffingBits(&p, &off, n);
            const size_t start = 8 + o, end = start + (n > 0 ? n : 0);
            ASSERT_EQ(static_cast<size_t>(8 * (p - buf.data()) + off), end);
            for (size_t b = 0; b < 8 * buf.size(); ++b) {
                const int want = (b < start || n <= 0)   ? model_bit(before, b)
                                 : b < end               ? 1
                                 : b < (end + 7) / 8 * 8 ? 0
                                                         : model_bit(before, b);
                ASSERT_EQ(model_bit(buf, b), want) << "o=" << o << " n=" << n << " bit " << b;
            }
        }
}

// The position after stuffing is a normal one (offset 0..7), so the next field written lands right
// after the ones: n one bits, then 0101, for every start offset and count (whole bytes included).
TEST(Stuffing, NextFieldFollowsAtANormalPosition) {
    for (int o = 0; o < 8; ++o)
        for (int n = 1; n <= 40; ++n) {
            std::vector<Zuf8u> buf(10, 0);
            Zuf8u* p = buf.data();
            int off = o;
            ownPutStuffingBits(&p, &off, n);
            ASSERT_GE(off, 0) << "o=" << o << " n=" << n;
            ASSERT_LE(off, 7) << "o=" << o << " n=" << n;
            ownSetBits(&p, &off, 0b0101u, 4);
            ASSERT_EQ(static_cast<size_t>(8 * (p - buf.data()) + off), static_cast<size_t>(o + n + 4));
            for (int b = 0; b < o + n + 4; ++b) {
                const int want = b < o ? 0 : b < o + n ? 1 : (0b0101 >> (o + n + 3 - b)) & 1;
                ASSERT_EQ(model_bit(buf, static_cast<size_t>(b)), want) << "o=" << o << " n=" << n << " bit " << b;
            }
        }
}

TEST(Stuffing, ThirteenBitsAtOffsetFive) {
    Zuf8u buf[4] = {0xA0, 0x00, 0x00, 0x5A};
    Zuf8u* p = buf;
    int off = 5;
    ownPutStuffingBits(&p, &off, 13);
    EXPECT_EQ(buf[0], 0xA7);
    EXPECT_EQ(buf[1], 0xFF);
    EXPECT_EQ(buf[2], 0xC0);
    EXPECT_EQ(buf[3], 0x5A);
    EXPECT_EQ(p, buf + 2);
    EXPECT_EQ(off, 2);
}

}  // namespace
