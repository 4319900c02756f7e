// The escape-block engine (zuf_vlc.h) with specifications from the example builder and the
// standards' code tables (tools/example/vlc_build.h, vlc_codebooks.h): round trips over every
// book, hand-built escape streams, the library's own AAC and MP3 Huffman decoders on real
// streams as the reference, statuses, and the documented read-ahead behind a guard page.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "aac/aac_band_tables.h"
#include "common/bitstream.h"
#include "example/stream.h"
#include "example/vlc_codebooks.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kAac = VLC_CODEC_AAC, kMp3 = VLC_CODEC_MP3;

// Decoder (pairs; tuples for codes of magnitudes) and encoder specifications of one code.
struct Specs {
    Bytes pairs, tuples, enc;
    Specs(const VlcCode& c, int codec) {
        auto dec = [&](int layout, Bytes& b) {
            size_t n = 0;
            ASSERT_EQ(vlc_decoder_size(&c, layout, &n), VLC_BUILD_OK);
            b.resize(n);
            ASSERT_EQ(vlc_decoder_build(&c, layout, b.data(), n), VLC_BUILD_OK);
        };
        dec(VLC_LAYOUT_PAIRS, pairs);
        if (c.sign_bits) dec(VLC_LAYOUT_TUPLES, tuples);
        size_t n = 0;
        vlc_encoder_size(codec, &n);
        enc.resize(n);
        EXPECT_EQ(vlc_encoder_build(&c, codec, enc.data(), n), VLC_BUILD_OK);
    }
};

zufResult decode(int codec, bool tuple, int linbits, Zuf8u** pp, int* po, Zuf16s* dst, int n, const void* spec) {
    if (codec == kAac)
        return tuple ? zufsVLCDecodeUTupleEscBlock_AAC_1u16s(pp, po, dst, n, spec)
                     : zufsVLCDecodeEscBlock_AAC_1u16s(pp, po, dst, n, spec);
    return tuple ? zufsVLCDecodeUTupleEscBlock_MP3_1u16s(pp, po, linbits, dst, n, spec)
                 : zufsVLCDecodeEscBlock_MP3_1u16s(pp, po, linbits, dst, n, spec);
}
zufResult encode(int codec, int linbits, const Zuf16s* src, int n, Zuf8u** pp, int* po, const void* spec) {
    return codec == kAac ? zufsVLCEncodeEscBlock_AAC_16s1u(src, n, pp, po, spec)
                         : zufsVLCEncodeEscBlock_MP3_16s1u(src, n, linbits, pp, po, spec);
}
int count(int codec, int linbits, const Zuf16s* src, int n, const void* spec) {
    Zuf32s c = -1;
    EXPECT_EQ(codec == kAac ? zufsVLCCountEscBits_AAC_16s32s(src, n, &c, spec)
                            : zufsVLCCountEscBits_MP3_16s32s(src, n, linbits, &c, spec),
              zufOk);
    return c;
}
long bitpos(const Zuf8u* base, const Zuf8u* p, int o) { return 8 * (p - base) + o; }

struct Book {
    std::string name;
    const VlcCodebook* book;
    int codec;
};
std::vector<Book> all_books() {
    std::vector<Book> v;
    for (int b = 1; b <= 11; ++b) v.push_back({"aac" + std::to_string(b), &vlc_aac_spectral[b], kAac});
    v.push_back({"aac_sf", &vlc_aac_scalefactor, kAac});
    for (int t = 1; t < 32; ++t)
        if (vlc_mp3_pairs[t].code.count) v.push_back({"mp3_" + std::to_string(t), &vlc_mp3_pairs[t], kMp3});
    for (int t = 0; t < 2; ++t) v.push_back({"count1" + std::string(t ? "B" : "A"), &vlc_mp3_count1[t], kMp3});
    return v;
}

// A random pair of the book as a stream carries it: random signs for codes of magnitudes, and at
// the escape value a magnitude over every escape length (AAC N = 4..12) or linbits value.
void random_pair(const Book& b, zuft::Rng& r, Zuf16s* out) {
    const VlcCodeword& w = b.book->code.words[r.range(0, b.book->code.count - 1)];
    int v[2] = {w.x, w.y};
    for (int k = 0; k < 2; ++k) {
        if (b.codec == kAac && v[k] == 16) {
            const int n = r.range(4, 12);
            v[k] = (1 << n) + r.range(0, (1 << n) - 1);
        }
        if (b.codec == kMp3 && v[k] == 15) v[k] += r.range(0, (1 << b.book->linbits) - 1);
        if (b.book->code.sign_bits && r.range(0, 1)) v[k] = -v[k];
        out[k] = static_cast<Zuf16s>(v[k]);
    }
}

// decode(encode(x)) = x for every book, both decoder kinds, any start bit, odd lengths; the
// count equals the bits written, and the buffer keeps its bits around the written span.
TEST(Vlc, RoundTripEveryBook) {
    zuft::Rng r(61);
    for (const Book& b : all_books()) {
        SCOPED_TRACE(b.name);
        const Specs s(b.book->code, b.codec);
        const int lb = b.book->linbits;
        for (int trial = 0; trial < 6; ++trial) {
            const int n = 2 * r.range(1, 150) + (trial & 1);
            std::vector<Zuf16s> src(n + 1, 0x5A5A);
            for (int i = 0; i + 1 < n; i += 2) random_pair(b, r, &src[i]);
            Bytes buf(8 * n + 64), before;
            for (auto& c : buf) c = static_cast<unsigned char>(r.u32());
            before = buf;
            Zuf8u* const start = buf.data() + r.range(0, 3);
            const int o0 = r.range(0, 7);
            Zuf8u* p = start;
            int o = o0;
            ASSERT_EQ(encode(b.codec, lb, src.data(), n, &p, &o, s.enc.data()), zufOk);
            const long b0 = bitpos(buf.data(), start, o0), b1 = bitpos(buf.data(), p, o);
            EXPECT_EQ(b1 - b0, count(b.codec, lb, src.data(), n, s.enc.data()));
            for (long k = 0; k < 8 * static_cast<long>(buf.size()); ++k)
                if (k < b0 || k >= b1) ASSERT_EQ((buf[k / 8] ^ before[k / 8]) >> (7 - k % 8) & 1, 0) << k;
            for (int tuple = 0; tuple < (s.tuples.empty() ? 1 : 2); ++tuple) {
                std::vector<Zuf16s> dst(n + 1, 0x5A5A);
                Zuf8u* q = start;
                int qo = o0;
                ASSERT_EQ(decode(b.codec, tuple, lb, &q, &qo, dst.data(), n, (tuple ? s.tuples : s.pairs).data()),
                          zufOk);
                if (n & 1) src[n - 1] = 0x5A5A;  // a final odd value is left untouched
                EXPECT_EQ(dst, src) << "tuple " << tuple;
                EXPECT_EQ(bitpos(buf.data(), q, qo), b1);
            }
        }
    }
}

// Streams written bit by bit: codeword of the book's pair (x, y), then the given tail.
struct HandCase {
    const char* what;
    int codec, book, linbits, x, y;
    const char* tail;
    zufResult status;
    int dx, dy;  // decoded pair
};

TEST(Vlc, HandBuiltEscapes) {
    const HandCase cases[] = {
        {"shortest escape", kAac, 11, 0, 16, 0,
         "0"
         "0"
         "0000",
         zufOk, 16, 0},
        {"longest escape", kAac, 11, 0, 16, 0,
         "1"
         "11111111"
         "0"
         "111111111111",
         zufOk, -8191, 0},
        {"both escaped", kAac, 11, 0, 16, 16,
         "00"
         "0"
         "0001"
         "10"
         "00000",
         zufOk, 17, 32},
        {"prefix too long", kAac, 11, 0, 16, 0,
         "0"
         "111111111"
         "0000000000000",
         zufErrAacEscape, 0, 0},
        {"linbits", kMp3, 16, 4, 15, 0,
         "0011"
         "1",
         zufOk, -18, 0},
        {"linbits then y sign", kMp3, 24, 5, 15, 3,
         "00001"
         "0"
         "1",
         zufOk, 16, -3},
        {"y escaped", kMp3, 16, 2, 1, 15,
         "1"
         "11"
         "0",
         zufOk, -1, 18},
        {"linbits 0", kMp3, 15, 0, 15, 15,
         "1"
         "0",
         zufOk, -15, 15},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.what);
        const VlcCodebook& bk = c.codec == kAac ? vlc_aac_spectral[c.book] : vlc_mp3_pairs[c.book];
        const Specs s(bk.code, c.codec);
        std::string bits;
        for (int i = 0; i < bk.code.count; ++i)
            if (bk.code.words[i].x == c.x && bk.code.words[i].y == c.y)
                for (int k = bk.code.words[i].length - 1; k >= 0; --k)
                    bits += char('0' + (bk.code.words[i].code >> k & 1));
        bits += c.tail;
        Bytes buf(64, 0);
        for (size_t k = 0; k < bits.size(); ++k) buf[k / 8] |= (bits[k] - '0') << (7 - k % 8);
        for (int tuple = 0; tuple < 2; ++tuple) {
            Zuf16s dst[3] = {0, 0, 77};
            Zuf8u* p = buf.data();
            int o = 0;
            ASSERT_EQ(decode(c.codec, tuple, c.linbits, &p, &o, dst, 3, (tuple ? s.tuples : s.pairs).data()), c.status);
            const long end = c.status == zufOk ? static_cast<long>(bits.size()) : 0;
            EXPECT_EQ(bitpos(buf.data(), p, o), end);
            EXPECT_TRUE(dst[0] == c.dx && dst[1] == c.dy && dst[2] == 77) << dst[0] << " " << dst[1];
        }
    }
    // Counting the AAC pair (20, 0): the symbol (16, 0) with its sign bit, and a 5-bit escape.
    const Specs s11(vlc_aac_spectral[11].code, kAac);
    const Zuf16s p20[2] = {20, 0};
    for (int i = 0; i < vlc_aac_spectral[11].code.count; ++i)
        if (vlc_aac_spectral[11].code.words[i].x == 16 && vlc_aac_spectral[11].code.words[i].y == 0)
            EXPECT_EQ(count(kAac, 0, p20, 2, s11.enc.data()), vlc_aac_spectral[11].code.words[i].length + 1 + 5);
}

// Argument checks in the documented order (null, bit offset, ID word), nothing written or moved;
// a specification is read at the caller's pointer rounded up to 32 bytes.
TEST(Vlc, Statuses) {
    const Specs s(vlc_mp3_pairs[16].code, kMp3);
    auto block = [](const Bytes& b) { return b.data() + (32 - reinterpret_cast<uintptr_t>(b.data()) % 32) % 32; };
    const unsigned char *dec = block(s.pairs), *enc = block(s.enc);
    Bytes buf(16, 0xA5);
    Zuf16s v[2] = {7, 7};
    Zuf8u* p = buf.data();
    struct Case {
        Zuf8u** pp;
        int offset;
        Zuf16s* array;
        const void *dspec, *espec;
        zufResult want;
    };
    const Case cases[] = {
        {nullptr, 9, v, dec + 1, enc + 1, zufErrNullPtr},
        {&p, 9, nullptr, dec, enc, zufErrNullPtr},
        {&p, 0, v, nullptr, nullptr, zufErrNullPtr},
        {&p, -1, v, dec + 1, enc + 1, zufErrBitOffset},
        {&p, 8, v, dec, enc, zufErrBitOffset},
        {&p, 0, v, dec + 1, enc + 1, zufErrContext},
        {&p, 0, v, enc, dec, zufErrContext},
        {&p, 3, v, dec - 8, enc - 8, zufOk},
    };
    for (const Case& k : cases) {
        for (int kind = 0; kind < 6; ++kind) {
            int o = k.offset;
            const int codec = kind & 1 ? kAac : kMp3;
            const zufResult st = kind < 4 ? decode(codec, kind >> 1, 4, k.pp, &o, k.array, 1, k.dspec)
                                          : encode(codec, 4, k.array, 1, k.pp, &o, k.espec);
            EXPECT_EQ(st, k.want) << kind;
            EXPECT_TRUE(o == k.offset && p == buf.data() && v[0] == 7);
        }
        EXPECT_EQ(zufsVLCDecodeEscBlock_AAC_1u16s(k.pp, nullptr, v, 2, k.dspec), zufErrNullPtr);
    }
    EXPECT_EQ(buf, Bytes(16, 0xA5));
    Zuf32s c = 9;
    EXPECT_EQ(zufsVLCCountEscBits_AAC_16s32s(v, 1, &c, enc - 8), zufOk);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(zufsVLCCountEscBits_MP3_16s32s(v, 2, 1, nullptr, enc), zufErrNullPtr);
    EXPECT_EQ(zufsVLCCountEscBits_MP3_16s32s(v, 2, 1, &c, dec), zufErrContext);
}

// Malformed codes are refused by the builder with its documented statuses, in order.
TEST(Vlc, BuilderRefusesMalformedCodes) {
    const VlcCodeword ok[3] = {{0, 0, 0, 1}, {1, 0, 2, 2}, {0, 1, 3, 2}};
    const VlcCodeword prefix[2] = {{0, 0, 1, 1}, {1, 0, 3, 2}};
    const VlcCodeword same[2] = {{0, 0, 1, 2}, {1, 0, 1, 2}};
    const VlcCodeword zero_len[1] = {{0, 0, 0, 0}};
    const VlcCodeword too_long[2] = {{0, 0, 0, 1}, {1, 1, 0xFFFFFFFFu, 32}};  // 34 bits with signs
    const VlcCodeword stray_bits[1] = {{0, 0, 2, 1}};
    const VlcCodeword big[2] = {{0, 0, 0, 1}, {17, 0, 1, 1}};
    const VlcCodeword negative[2] = {{0, 0, 0, 1}, {-1, 0, 1, 1}};
    struct Case {
        VlcCode code;
        int layout, codec, dec, enc;
    } cases[] = {
        {{ok, 3, 1}, VLC_LAYOUT_TUPLES, kAac, VLC_BUILD_OK, VLC_BUILD_OK},
        {{ok, 0, 1}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_EMPTY, VLC_BUILD_EMPTY},
        {{nullptr, 2, 1}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_NULL, VLC_BUILD_NULL},
        {{prefix, 2, 0}, VLC_LAYOUT_PAIRS, kMp3, VLC_BUILD_NOT_PREFIX, VLC_BUILD_NOT_PREFIX},
        {{same, 2, 0}, VLC_LAYOUT_PAIRS, kMp3, VLC_BUILD_NOT_PREFIX, VLC_BUILD_NOT_PREFIX},
        {{zero_len, 1, 0}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_LENGTH, VLC_BUILD_LENGTH},
        {{too_long, 2, 1}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_LENGTH, VLC_BUILD_LENGTH},
        {{too_long, 2, 1}, VLC_LAYOUT_TUPLES, kAac, VLC_BUILD_OK, VLC_BUILD_LENGTH},
        {{stray_bits, 1, 0}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_LENGTH, VLC_BUILD_LENGTH},
        {{big, 2, 0}, VLC_LAYOUT_PAIRS, kAac, VLC_BUILD_OK, VLC_BUILD_VALUE},
        {{negative, 2, 1}, VLC_LAYOUT_PAIRS, kMp3, VLC_BUILD_VALUE, VLC_BUILD_VALUE},
        {{negative, 2, 0}, VLC_LAYOUT_TUPLES, kMp3, VLC_BUILD_VALUE, VLC_BUILD_OK},
        {{ok, 3, 0}, 7, 9, VLC_BUILD_BAD_ARG, VLC_BUILD_BAD_ARG},
    };
    for (const Case& c : cases) {
        Bytes b(1 << 16);
        size_t n = 0;
        EXPECT_EQ(vlc_decoder_build(&c.code, c.layout, b.data(), b.size()), c.dec) << vlc_build_status_name(c.dec);
        EXPECT_EQ(vlc_encoder_build(&c.code, c.codec, b.data(), b.size()), c.enc) << vlc_build_status_name(c.enc);
        if (c.dec == VLC_BUILD_OK) {
            ASSERT_EQ(vlc_decoder_size(&c.code, c.layout, &n), VLC_BUILD_OK);
            EXPECT_EQ(vlc_decoder_build(&c.code, c.layout, b.data(), n - 1), VLC_BUILD_SIZE);
        }
    }
}

// The decoders stay within two aligned words past the word holding the last bit they use: the
// stream is placed so that the next byte is on a page that cannot be read. A stream that ends
// inside an escape word (the padding reads as ones) fails with -127, keeping the pairs before.
TEST(Vlc, ReadAheadAndTruncatedStreams) {
    const long page = sysconf(_SC_PAGESIZE);
    auto* mem =
        static_cast<Zuf8u*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    ASSERT_EQ(mprotect(mem + page, page, PROT_NONE), 0);
    zuft::Rng r(5);
    for (const Book& b : all_books()) {
        const Specs s(b.book->code, b.codec);
        for (int tuple = 0; tuple < (s.tuples.empty() ? 1 : 2); ++tuple) {
            const int n = 2 * r.range(1, 40), m = r.range(0, 3), o0 = r.range(0, 7);
            std::vector<Zuf16s> src(n), dst(n);
            for (int i = 0; i < n; i += 2) random_pair(b, r, &src[i]);
            Bytes tmp(8 * n + 16, 0);
            Zuf8u* p = tmp.data() + m;
            int o = o0;
            encode(b.codec, b.book->linbits, src.data(), n, &p, &o, s.enc.data());
            const long last = bitpos(tmp.data(), p, o) - 1;  // from an aligned base
            Zuf8u* base = mem + page - 4 * (last / 32 + 3);
            std::memcpy(base, tmp.data(), static_cast<size_t>(mem + page - base));
            p = base + m;
            o = o0;
            ASSERT_EQ(
                decode(b.codec, tuple, b.book->linbits, &p, &o, dst.data(), n, (tuple ? s.tuples : s.pairs).data()),
                zufOk);
            EXPECT_EQ(dst, src) << b.name;
            EXPECT_EQ(bitpos(base, p, o), last + 1);
        }
    }
    // Three pairs of book 11, the third escaped and cut after its sign bit.
    const Specs s(vlc_aac_spectral[11].code, kAac);
    const Zuf16s src[6] = {1, -2, 300, 5, -16, 0};
    Bytes tmp(64, 0);
    Zuf8u* p = tmp.data();
    int o = 0;
    encode(kAac, 0, src, 6, &p, &o, s.enc.data());
    const long cut = bitpos(tmp.data(), p, o) - 5;  // the 5-bit escape word of 16
    for (long k = cut; k < 8 * 64; ++k) tmp[k / 8] |= 0x80 >> (k % 8);
    for (int tuple = 0; tuple < 2; ++tuple) {
        Zuf16s dst[6] = {};
        p = tmp.data();
        o = 0;
        EXPECT_EQ(decode(kAac, tuple, 0, &p, &o, dst, 6, (tuple ? s.tuples : s.pairs).data()), zufErrAacEscape);
        EXPECT_TRUE(p == tmp.data() && o == 0 && std::equal(src, src + 4, dst) && dst[4] == 0);
    }
    munmap(mem, 2 * page);
}

// Specifications of the books met in a stream, built once.
struct SpecCache {
    std::map<const VlcCodebook*, Specs> m;
    const Specs& operator()(const VlcCodebook& b, int codec) { return m.try_emplace(&b, b.code, codec).first->second; }
};

// Decodes `pairs` values of book b from the position with either decoder kind (tuples where the
// book has them) and checks them.
void expect_engine_decodes(const Specs& s, int codec, int linbits, int tuple, Zuf8u** pp, int* po,
                           const std::vector<Zuf16s>& want) {
    std::vector<Zuf16s> got(want.size());
    const bool t = tuple && !s.tuples.empty();
    ASSERT_EQ(
        decode(codec, t, linbits, pp, po, got.data(), static_cast<int>(got.size()), (t ? s.tuples : s.pairs).data()),
        zufOk);
    ASSERT_EQ(got, want);
}

template <class F>
void for_each_stream(const char* dir, const char* ext, F f) {
    for (const auto& e : std::filesystem::directory_iterator(std::string(ZUF_SOURCE_DIR) + dir)) {
        if (e.path().extension() != ext) continue;
        Input in;
        ASSERT_EQ(input_read(e.path().c_str(), &in, "test_vlc"), 0);
        SCOPED_TRACE(e.path().filename().string());
        f(in);
        input_free(&in);
    }
}

// One channel of an AAC-LC raw data block: the library decodes it, the engine counts the spectral
// bits of its spectrum (book by book, quadruples packed as the companion packs them), starts that
// many bits before the library's end and must decode the same values to the same end.
bool aac_channel(Zuf8u** pp, int* po, int common, AacIcsInfo* ics, int sfi, SpecCache& specs, long& checked) {
    AacChanInfo ci{};
    ci.sampling_frequency_index = sfi;
    ci.pIcsInfo = ics;
    Zuf16s sf[120];
    Zuf32s q[1024];
    Zuf8u cb[120];
    Zuf8s tns[60];
    if (zufsNoiselessDecoder_LC_AAC(pp, po, common, &ci, sf, q, cb, tns) != zufOk) return false;
    if (ci.pulse_data_present) return true;  // pulses are added to the decoded spectrum
    const bool shrt = ci.win_len == 128;
    const Zuf16s* off = shrt ? zuf::_pAACSwbOffsetTableShort[sfi] : zuf::_pAACSwbOffsetTableLong[sfi];
    std::vector<std::pair<int, std::vector<Zuf16s>>> bands;
    long bits = 0;
    for (int g = 0, base = 0; g < ics->num_window_groups; ++g) {
        const int glen = shrt ? ics->window_group_length[g] : 1;
        for (int sfb = 0; sfb < ics->max_sfb; ++sfb) {
            const int book = cb[g * ics->max_sfb + sfb];
            if (book < 1 || book > 11) continue;
            const VlcCodebook& bk = vlc_aac_spectral[book];
            std::vector<Zuf16s> v;
            const int step = bk.dim / 2;  // lines per engine value
            for (int i = base + off[sfb] * glen; i < base + off[sfb + 1] * glen; i += step)
                v.push_back(static_cast<Zuf16s>(step == 2 ? q[i] * bk.radix + q[i + 1] : q[i]));
            bits += count(kAac, 0, v.data(), static_cast<int>(v.size()), specs(bk, kAac).enc.data());
            bands.emplace_back(book, std::move(v));
        }
        base += glen * (shrt ? 128 : 1024);
    }
    const long rel = *po - bits, byte = rel >= 0 ? rel / 8 : -((-rel + 7) / 8);
    for (int tuple = 0; tuple < 2; ++tuple) {
        Zuf8u* p = *pp + byte;
        int o = static_cast<int>(rel - 8 * byte);
        for (const auto& [book, v] : bands)
            expect_engine_decodes(specs(vlc_aac_spectral[book], kAac), kAac, 0, tuple, &p, &o, v);
        EXPECT_TRUE(p == *pp && o == *po);
    }
    ++checked;
    return true;
}

TEST(Vlc, AgreesWithTheLibraryOnAacSpectra) {
    SpecCache specs;
    long checked = 0;
    for_each_stream("/tests/vectors/aac", ".aac", [&](Input& in) {
        for (size_t pos = in.begin, frames = 0; pos + 9 <= in.end && frames < 25; ++frames) {
            Zuf8u* h = in.data + pos;
            const size_t len = adts_frame_len(h);
            if (h[0] != 0xFF || len < 9) break;
            pos += len;
            if ((h[2] >> 6) != 1 || (h[6] & 3) != 0) continue;  // AAC-LC, one raw data block
            Zuf8u* p = h + ((h[1] & 1) ? 7 : 9);
            int o = 0;
            for (int id; (id = zuf::FieldReader{&p, &o}.get(3)) <= 1;) {  // SCE or CPE
                zuf::FieldReader{&p, &o}.get(4);
                AacIcsInfo ics{};
                AacChanPairElt cpe{};
                if (id == 1 && zufsDecodeChanPairElt_AAC(&p, &o, &ics, &cpe, 0) != zufOk) break;
                const int common = id == 1 ? cpe.common_window : 0;
                if (!aac_channel(&p, &o, common, &ics, (h[2] >> 2) & 15, specs, checked)) break;
                if (id == 1 && !aac_channel(&p, &o, common, &ics, (h[2] >> 2) & 15, specs, checked)) break;
            }
        }
    });
    EXPECT_GT(checked, 400);
}

// Big values and count1 of real Layer III streams, region by region as the library decodes them.
TEST(Vlc, AgreesWithTheLibraryOnMp3HuffmanData) {
    SpecCache specs;
    long checked = 0;
    for_each_stream("/tests/vectors/mp3", ".bit", [&](Input& in) {
        std::vector<Zuf8u> main;
        MpegHeader mh;
        for (size_t pos = in.begin, frames = 0; frames < 40 && mpeg_header_parse(in.data + pos, &mh); ++frames) {
            const size_t len = mpeg_frame_len(&in, pos, &mh);
            Zuf8u* bs = in.data + pos;
            Mp3FrameHeader h;
            Mp3SideInfo si[4];
            int mdb, priv, scfsi[8];
            if (mh.layer != 3 || mh.version == 25 || len == 0) break;
            zufsUnpackFrameHeader_MP3(&bs, &h);
            if (zufsUnpackSideInfo_MP3(&bs, si, &mdb, &priv, scfsi, &h) != zufOk) break;
            const size_t old = main.size();
            main.insert(main.end(), bs, in.data + pos + len);
            pos += len;
            if (static_cast<size_t>(mdb) > old) continue;
            std::vector<Zuf8u> md(main);
            md.resize(md.size() + 64);
            Zuf8u* p = md.data() + old - mdb;
            int o = 0;
            const int nch = h.mode == 3 ? 1 : 2;
            for (int gr = 0; gr < (h.ID ? 2 : 1); ++gr)
                for (int ch = 0; ch < nch; ++ch) {
                    Mp3SideInfo& g = si[gr * nch + ch];
                    Zuf8s sfs[40];
                    const long s0 = bitpos(md.data(), p, o);
                    zufsUnpackScaleFactors_MP3_1u8s(&p, &o, sfs, &g, scfsi + 4 * ch, &h, gr, ch);
                    const int huf = g.part2_3_length - static_cast<int>(bitpos(md.data(), p, o) - s0);
                    Zuf8u* lp = p;
                    int lo = o, nz;
                    Zuf32s is[576];
                    if (huf >= 0 && zufsHuffmanDecode_MP3_1u32s(&lp, &lo, is, &nz, &g, &h, huf) == zufOk) {
                        const int bv2 = 2 * g.big_values, r0 = h.ID == 0 && g.block_type % 2 ? 54 : 36;
                        const Zuf16s* L = _zuf_pMP3SfbTableLong + 23 * (3 * h.ID + h.sampling_frequency);
                        const int e[3] = {
                            std::min(g.window_switching_flag ? r0 : int{L[g.region0_count + 1]}, bv2),
                            std::min(g.window_switching_flag ? bv2 : int{L[g.region0_count + g.region1_count + 2]},
                                     bv2),
                            bv2};
                        const int tuple = (frames + gr + ch) & 1;
                        int i = 0, qo = o;
                        Zuf8u* q = p;
                        for (int r = 0; r < 3; i = std::max(i, e[r]), ++r) {
                            const VlcCodebook& bk = vlc_mp3_pairs[g.table_select[r]];
                            if (e[r] <= i || !bk.code.count) continue;
                            expect_engine_decodes(specs(bk, kMp3), kMp3, bk.linbits, tuple, &q, &qo,
                                                  std::vector<Zuf16s>(is + i, is + e[r]));
                        }
                        const VlcCodebook& c1 = vlc_mp3_count1[g.count1table_select];
                        long left = huf - (bitpos(md.data(), q, qo) - bitpos(md.data(), p, o));
                        for (; left > 0 && i < 574; i += 4) {
                            Zuf16s xy[2];
                            int v[4];
                            const long before = bitpos(md.data(), q, qo);
                            ASSERT_EQ(zufsVLCDecodeEscBlock_MP3_1u16s(&q, &qo, 0, xy, 2, specs(c1, kMp3).pairs.data()),
                                      zufOk);
                            left -= bitpos(md.data(), q, qo) - before;
                            vlc_unpack(&c1, xy[0], xy[1], v);
                            if (left >= 0)
                                EXPECT_TRUE(is[i] == v[0] && is[i + 1] == v[1] && is[i + 2] == v[2] &&
                                            is[i + 3] == v[3])
                                    << i;
                        }
                        if (left == 0) EXPECT_TRUE(q == lp && qo == lo);
                        ++checked;
                    }
                    const long end = s0 + g.part2_3_length;
                    p = md.data() + end / 8;
                    o = static_cast<int>(end % 8);
                }
        }
    });
    EXPECT_GT(checked, 400);
}

}  // namespace
