// The escape-block engine (zuf_vlc.h) with table blocks from the example builder and the
// standards' code tables (tools/example/vlc_build.h, vlc_codebooks.h): round trips over every
// book with the documented read-ahead behind a guard page, hand-built escape streams, statuses,
// and the library's own AAC and MP3 Huffman decoders on real streams as the reference.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "aac/aac_band_tables.h"
#include "common/bitstream.h"
#include "example/stream.h"
#include "example/vlc_codebooks.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Values = std::vector<Zuf16s>;
constexpr int kAac = VLC_CODEC_AAC, kMp3 = VLC_CODEC_MP3;

// A table block built by the example builder: decoder in `layout` (-1: encoder for `codec`);
// empty when the code has no such layout (tuples need magnitudes).
Bytes tables(const VlcCode& c, int layout, int codec = 0) {
    size_t n = 0;
    if (layout < 0 ? vlc_encoder_size(codec, &n) : (c.sign_bits || !layout) ? vlc_decoder_size(&c, layout, &n) : 1)
        return {};
    Bytes b(n);
    EXPECT_EQ(layout < 0 ? vlc_encoder_build(&c, codec, b.data(), n) : vlc_decoder_build(&c, layout, b.data(), n),
              VLC_BUILD_OK);
    return b;
}

// Decoder (pairs; tuples for codes of magnitudes) and encoder table blocks of one code.
struct Tables {
    Bytes pairs, tuples, enc;
    Tables(const VlcCode& c, int codec)
        : pairs(tables(c, VLC_LAYOUT_PAIRS)), tuples(tables(c, VLC_LAYOUT_TUPLES)), enc(tables(c, -1, codec)) {}
    int kinds() const { return tuples.empty() ? 1 : 2; }
    const void* dec(int tuple) const { return (tuple ? tuples : pairs).data(); }
};

zufResult decode(int codec, int tuple, int linbits, Zuf8u** pp, int* po, Zuf16s* dst, int n, const void* tab) {
    if (codec == kAac)
        return tuple ? zufsVLCDecodeUTupleEscBlock_AAC_1u16s(pp, po, dst, n, tab)
                     : zufsVLCDecodeEscBlock_AAC_1u16s(pp, po, dst, n, tab);
    return tuple ? zufsVLCDecodeUTupleEscBlock_MP3_1u16s(pp, po, linbits, dst, n, tab)
                 : zufsVLCDecodeEscBlock_MP3_1u16s(pp, po, linbits, dst, n, tab);
}
zufResult encode(int codec, int linbits, const Zuf16s* src, int n, Zuf8u** pp, int* po, const void* tab) {
    return codec == kAac ? zufsVLCEncodeEscBlock_AAC_16s1u(src, n, pp, po, tab)
                         : zufsVLCEncodeEscBlock_MP3_16s1u(src, n, linbits, pp, po, tab);
}
int count(int codec, int linbits, const Values& v, const void* tab) {
    Zuf32s c = -1;
    const int n = static_cast<int>(v.size());
    EXPECT_EQ(codec == kAac ? zufsVLCCountEscBits_AAC_16s32s(v.data(), n, &c, tab)
                            : zufsVLCCountEscBits_MP3_16s32s(v.data(), n, linbits, &c, tab),
              zufOk);
    return c;
}
long bitpos(const Zuf8u* base, const Zuf8u* p, int o) { return 8 * (p - base) + o; }

using Book = std::pair<const VlcCodebook*, int>;  // book, codec
std::vector<Book> all_books() {
    std::vector<Book> v{{&vlc_aac_scalefactor, kAac}, {&vlc_mp3_count1[0], kMp3}, {&vlc_mp3_count1[1], kMp3}};
    for (int b = 1; b <= 11; ++b) v.push_back({&vlc_aac_spectral[b], kAac});
    for (int t = 1; t < 32; ++t)
        if (vlc_mp3_pairs[t].code.count) v.push_back({&vlc_mp3_pairs[t], kMp3});
    return v;
}

// A random pair of the book as a stream carries it: random signs for codes of magnitudes, and at
// the escape value a magnitude over every escape length (AAC N = 4..12) or linbits value.
void random_pair(const VlcCodebook* book, int codec, zuft::Rng& r, Zuf16s* out) {
    const VlcCodeword& w = book->code.words[r.range(0, book->code.count - 1)];
    for (int k = 0, v = w.x; k < 2; v = w.y, ++k) {
        const int n = r.range(4, 12);
        if (codec == kAac && v == 16) v = (1 << n) + r.range(0, (1 << n) - 1);
        if (codec == kMp3 && v == 15) v += r.range(0, (1 << book->linbits) - 1);
        out[k] = static_cast<Zuf16s>(book->code.sign_bits && r.range(0, 1) ? -v : v);
    }
}

// decode(encode(x)) = x for every book, both decoder kinds, any start bit and odd lengths (the
// last value is left alone); the count equals the bits written, the buffer keeps its bits around
// the written span, and the decoders read nothing past two aligned words after the word holding
// the last bit (the stream is copied to the end of a page followed by an unreadable one).
TEST(Vlc, RoundTripEveryBookWithinTheReadAhead) {
    const long page = sysconf(_SC_PAGESIZE);
    auto* mem =
        static_cast<Zuf8u*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    ASSERT_EQ(mprotect(mem + 2 * page, page, PROT_NONE), 0);
    zuft::Rng r(61);
    for (const auto& [book, codec] : all_books()) {
        const Tables s(book->code, codec);
        const int lb = book->linbits;
        for (int trial = 0; trial < 6; ++trial) {
            const int n = 2 * r.range(1, 150) + (trial & 1), m = r.range(0, 3), o0 = r.range(0, 7);
            Values src(n + 1, 0x5A5A);
            for (int i = 0; i + 1 < n; i += 2) random_pair(book, codec, r, &src[i]);
            Bytes buf(8 * n + 64), before;
            for (auto& c : buf) c = static_cast<unsigned char>(r.u32());
            before = buf;
            Zuf8u* p = buf.data() + m;
            int o = o0;
            ASSERT_EQ(encode(codec, lb, src.data(), n, &p, &o, s.enc.data()), zufOk);
            const long b0 = 8 * m + o0, b1 = bitpos(buf.data(), p, o);
            EXPECT_EQ(b1 - b0, count(codec, lb, Values(src.begin(), src.end() - 1), s.enc.data()));
            for (long k = 0; k < 8 * static_cast<long>(buf.size()); ++k)
                ASSERT_TRUE((k >= b0 && k < b1) || ((buf[k / 8] ^ before[k / 8]) >> (7 - k % 8) & 1) == 0) << k;
            if (n & 1) src[n - 1] = 0x5A5A;
            Zuf8u* base = mem + 2 * page - 4 * ((b1 - 1) / 32 + 3);
            std::memcpy(base, buf.data(), static_cast<size_t>(mem + 2 * page - base));
            for (int tuple = 0; tuple < s.kinds(); ++tuple) {
                Values dst(n + 1, 0x5A5A);
                Zuf8u* q = base + m;
                int qo = o0;
                ASSERT_EQ(decode(codec, tuple, lb, &q, &qo, dst.data(), n, s.dec(tuple)), zufOk);
                EXPECT_EQ(dst, src) << "tuple " << tuple;
                EXPECT_EQ(bitpos(base, q, qo), b1);
            }
        }
    }
    munmap(mem, 3 * page);
}

// Streams written bit by bit: the pair (1, -1) (codeword of (1, 1), signs 0 1), the codeword of
// the book's pair (x, y), then the tail. Five values are asked for: two pairs are decoded and the
// fifth value is left alone; on an escape failure (a stream cut inside an escape word, ones after
// it) the first pair is stored and the position stays.
TEST(Vlc, HandBuiltEscapes) {
    // codec, book, linbits, (x, y), tail, status, decoded second pair
    const std::tuple<int, int, int, int, int, const char*, zufResult, int, int> cases[] = {
        {kAac, 11, 0, 16, 0, "0 0 0000", zufOk, 16, 0},  // sign, escape: N = 4
        {kAac, 11, 0, 16, 0, "1 11111111 0 111111111111", zufOk, -8191, 0},
        {kAac, 11, 0, 16, 16, "00 0 0001 10 00000", zufOk, 17, 32},
        {kAac, 11, 0, 16, 0, "0 111111111 0000000000000", zufErrAacEscape, 0, 0},
        {kMp3, 16, 4, 15, 0, "0011 1", zufOk, -18, 0},  // linbits, then the sign
        {kMp3, 24, 5, 15, 3, "00001 0 1", zufOk, 16, -3},
        {kMp3, 16, 2, 1, 15, "1 11 0", zufOk, -1, 18},
        {kMp3, 15, 0, 15, 15, "1 0", zufOk, -15, 15},
    };
    for (const auto& [codec, book, linbits, x, y, tail, status, dx, dy] : cases) {
        const VlcCodebook& bk = codec == kAac ? vlc_aac_spectral[book] : vlc_mp3_pairs[book];
        const Tables s(bk.code, codec);
        std::string bits;
        auto codeword = [&](int vx, int vy) {
            for (const VlcCodeword* w = bk.code.words; w < bk.code.words + bk.code.count; ++w)
                for (int k = w->length - 1; k >= 0 && w->x == vx && w->y == vy; --k)
                    bits += char('0' + (w->code >> k & 1));
        };
        codeword(1, 1);
        bits += "01";
        codeword(x, y);
        for (const char* t = tail; *t; ++t)
            if (*t != ' ') bits += *t;
        Bytes buf(64, 0);
        for (size_t k = 0; k < bits.size(); ++k) buf[k / 8] |= (bits[k] - '0') << (7 - k % 8);
        for (int tuple = 0; tuple < 2; ++tuple) {
            Zuf16s dst[5] = {0, 0, 0, 0, 77};
            Zuf8u* p = buf.data();
            int o = 0;
            ASSERT_EQ(decode(codec, tuple, linbits, &p, &o, dst, 5, s.dec(tuple)), status) << tail;
            EXPECT_EQ(bitpos(buf.data(), p, o), status == zufOk ? static_cast<long>(bits.size()) : 0);
            EXPECT_TRUE(dst[0] == 1 && dst[1] == -1 && dst[2] == dx && dst[3] == dy && dst[4] == 77) << tail;
        }
        const int counted = count(codec, linbits, {1, -1, Zuf16s(dx), Zuf16s(dy)}, s.enc.data());
        EXPECT_TRUE(status != zufOk || counted == static_cast<int>(bits.size()));
    }
}

// Argument checks in the documented order (null, bit offset, ID word), nothing written or moved;
// a table block is read at the caller's pointer rounded up to 32 bytes.
TEST(Vlc, Statuses) {
    const Tables s(vlc_mp3_pairs[16].code, kMp3);
    auto block = [](const Bytes& b) { return b.data() + (32 - reinterpret_cast<uintptr_t>(b.data()) % 32) % 32; };
    const unsigned char *dec = block(s.pairs), *enc = block(s.enc);
    Bytes buf(16, 0xA5);
    Zuf16s v[2] = {7, 7};
    Zuf8u* p = buf.data();
    const std::tuple<Zuf8u**, int, Zuf16s*, const void*, const void*, zufResult> cases[] = {
        {nullptr, 9, v, dec + 1, enc + 1, zufErrNullPtr},
        {&p, 9, nullptr, dec, enc, zufErrNullPtr},
        {&p, 0, v, nullptr, nullptr, zufErrNullPtr},
        {&p, -1, v, dec + 1, enc + 1, zufErrBitOffset},
        {&p, 8, v, dec, enc, zufErrBitOffset},
        {&p, 0, v, dec + 1, enc + 1, zufErrContext},
        {&p, 0, v, enc, dec, zufErrContext},
        {&p, 3, v, dec - 8, enc - 8, zufOk},
    };
    for (const auto& [pp, offset, array, dtab, etab, want] : cases) {
        for (int kind = 0; kind < 6; ++kind) {
            int o = offset;
            const int codec = kind & 1 ? kAac : kMp3;
            EXPECT_EQ(kind < 4 ? decode(codec, kind >> 1, 4, pp, &o, array, 1, dtab)
                               : encode(codec, 4, array, 1, pp, &o, etab),
                      want);
            EXPECT_TRUE(o == offset && p == buf.data() && v[0] == 7);
        }
        EXPECT_EQ(zufsVLCDecodeEscBlock_AAC_1u16s(pp, nullptr, v, 2, dtab), zufErrNullPtr);
    }
    EXPECT_EQ(buf, Bytes(16, 0xA5));
    Zuf32s c = 9;
    EXPECT_TRUE(zufsVLCCountEscBits_AAC_16s32s(v, 1, &c, enc - 8) == zufOk && c == 0);
    EXPECT_EQ(zufsVLCCountEscBits_MP3_16s32s(v, 2, 1, nullptr, enc), zufErrNullPtr);
    EXPECT_EQ(zufsVLCCountEscBits_MP3_16s32s(v, 2, 1, &c, dec), zufErrContext);
}

// Malformed codes are refused by the builder with its documented statuses, in order.
TEST(Vlc, BuilderRefusesMalformedCodes) {
    const VlcCodeword ok[3] = {{0, 0, 0, 1}, {1, 0, 2, 2}, {0, 1, 3, 2}}, prefix[2] = {{0, 0, 1, 1}, {1, 0, 3, 2}},
                      same[2] = {{0, 0, 1, 2}, {1, 0, 1, 2}}, zero_len[1] = {{0, 0, 0, 0}},
                      too_long[2] = {{0, 0, 0, 1}, {1, 1, 0xFFFFFFFFu, 32}},  // 34 bits with the signs
        stray_bits[1] = {{0, 0, 2, 1}}, big[2] = {{0, 0, 0, 1}, {17, 0, 1, 1}},
                      negative[2] = {{0, 0, 0, 1}, {-1, 0, 1, 1}};
    // code, decoder layout, encoder codec, their statuses
    const std::tuple<VlcCode, int, int, int, int> cases[] = {
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
    for (const auto& [code, layout, codec, dec, enc] : cases) {
        Bytes b(1 << 16);
        size_t n = 0;
        EXPECT_EQ(vlc_decoder_build(&code, layout, b.data(), b.size()), dec) << vlc_build_status_name(dec);
        EXPECT_EQ(vlc_encoder_build(&code, codec, b.data(), b.size()), enc) << vlc_build_status_name(enc);
        EXPECT_TRUE(dec != VLC_BUILD_OK || (vlc_decoder_size(&code, layout, &n) == VLC_BUILD_OK &&
                                            vlc_decoder_build(&code, layout, b.data(), n - 1) == VLC_BUILD_SIZE));
    }
}

// ---------------------------------------------------------------- real streams

// Table blocks of the books met in the streams, built once; decodes a block and checks it.
struct Engine {
    std::map<const VlcCodebook*, Tables> m;
    long checked = 0;
    const Tables& operator()(const VlcCodebook& b, int codec) { return m.try_emplace(&b, b.code, codec).first->second; }
    void expect(const VlcCodebook& b, int codec, int tuple, Zuf8u** pp, int* po, const Values& want) {
        const Tables& s = (*this)(b, codec);
        Values got(want.size());
        tuple &= s.kinds() - 1;
        ASSERT_EQ(decode(codec, tuple, b.linbits, pp, po, got.data(), static_cast<int>(got.size()), s.dec(tuple)),
                  zufOk);
        ASSERT_EQ(got, want);
    }
};

template <class F>
void for_each_stream(const char* dir, const char* ext, F f) {
    for (const auto& e : std::filesystem::directory_iterator(std::string(ZUF_SOURCE_DIR) + dir)) {
        Input in;
        if (e.path().extension() != ext || input_read(e.path().c_str(), &in, "test_vlc") != 0) continue;
        SCOPED_TRACE(e.path().filename().string());
        f(in);
        input_free(&in);
    }
}

// One channel of an AAC-LC raw data block: the library decodes it, the engine counts the spectral
// bits of its spectrum (band by band, quadruples packed as the companion packs them), starts that
// many bits before the library's end and must decode the same values to the same end.
bool aac_channel(Zuf8u** pp, int* po, int common, AacIcsInfo* ics, int sfi, Engine& engine) {
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
    std::vector<std::pair<const VlcCodebook*, Values>> bands;
    long bits = 0;
    for (int g = 0, base = 0; g < ics->num_window_groups; base += (shrt ? 128 : 1024) * ics->window_group_length[g++]) {
        const int glen = shrt ? ics->window_group_length[g] : 1;
        for (int sfb = 0; sfb < ics->max_sfb; ++sfb) {
            const int book = cb[g * ics->max_sfb + sfb], step = vlc_aac_spectral[book % 12].dim / 2;
            if (book < 1 || book > 11) continue;
            Values v;
            for (int i = base + off[sfb] * glen; i < base + off[sfb + 1] * glen; i += step)
                v.push_back(static_cast<Zuf16s>(step == 2 ? q[i] * vlc_aac_spectral[book].radix + q[i + 1] : q[i]));
            bits += count(kAac, 0, v, engine(vlc_aac_spectral[book], kAac).enc.data());
            bands.emplace_back(&vlc_aac_spectral[book], std::move(v));
        }
    }
    const long rel = *po - bits, byte = rel >= 0 ? rel / 8 : -((-rel + 7) / 8);
    for (int tuple = 0; tuple < 2; ++tuple) {
        Zuf8u* p = *pp + byte;
        int o = static_cast<int>(rel - 8 * byte);
        for (const auto& [book, v] : bands) engine.expect(*book, kAac, tuple, &p, &o, v);
        EXPECT_TRUE(p == *pp && o == *po);
    }
    ++engine.checked;
    return true;
}

TEST(Vlc, AgreesWithTheLibraryOnAacSpectra) {
    Engine engine;
    for_each_stream("/tests/vectors/aac", ".aac", [&](Input& in) {
        for (size_t pos = in.begin, frames = 0; pos + 9 <= in.end && frames < 25; ++frames) {
            Zuf8u* h = in.data + pos;
            pos += adts_frame_len(h);
            if ((h[2] >> 6) != 1 || (h[6] & 3) != 0) continue;  // AAC-LC, one raw data block
            Zuf8u* p = h + ((h[1] & 1) ? 7 : 9);
            int o = 0, id;
            while ((id = zuf::FieldReader{&p, &o}.get(7) >> 4) <= 1) {  // SCE or CPE, and its tag
                AacIcsInfo ics{};
                AacChanPairElt cpe{};
                if (id == 1 && zufsDecodeChanPairElt_AAC(&p, &o, &ics, &cpe, 0) != zufOk) break;
                const int common = id == 1 ? cpe.common_window : 0, sfi = (h[2] >> 2) & 15;
                if (!aac_channel(&p, &o, common, &ics, sfi, engine)) break;
                if (id == 1 && !aac_channel(&p, &o, common, &ics, sfi, engine)) break;
            }
        }
    });
    EXPECT_GT(engine.checked, 400);
}

// Part 3 of a Layer III granule at (p, o), huf bits long: big values region by region (region
// ends as the library takes them), then count1 quadruples while bits remain, against the
// library's decode; the engine ends where the library does.
void mp3_granule(Zuf8u* p, int o, const Mp3SideInfo& g, const Mp3FrameHeader& h, int huf, int tuple, Engine& engine) {
    Zuf8u* lp = p;
    int lo = o, nz, i = 0;
    Zuf32s is[576];
    if (zufsHuffmanDecode_MP3_1u32s(&lp, &lo, is, &nz, &g, &h, huf) != zufOk) return;
    const int bv2 = 2 * g.big_values, r0 = h.ID == 0 && g.block_type % 2 ? 54 : 36;
    const Zuf16s* L = _zuf_pMP3SfbTableLong + 23 * (3 * h.ID + h.sampling_frequency);
    const int ends[3] = {std::min(g.window_switching_flag ? r0 : int{L[g.region0_count + 1]}, bv2),
                         std::min(g.window_switching_flag ? bv2 : int{L[g.region0_count + g.region1_count + 2]}, bv2),
                         bv2};
    Zuf8u* q = p;
    int qo = o;
    for (int r = 0; r < 3; i = std::max(i, ends[r++]))
        if (ends[r] > i && g.table_select[r] != 0)
            engine.expect(vlc_mp3_pairs[g.table_select[r]], kMp3, tuple, &q, &qo, Values(is + i, is + ends[r]));
    const VlcCodebook& c1 = vlc_mp3_count1[g.count1table_select];
    long left = huf - (bitpos(p, q, qo) - o);
    for (; left > 0 && i < 574; i += 4) {
        Zuf16s xy[2];
        int v[4];
        const long before = bitpos(p, q, qo);
        ASSERT_EQ(zufsVLCDecodeEscBlock_MP3_1u16s(&q, &qo, 0, xy, 2, engine(c1, kMp3).pairs.data()), zufOk);
        left -= bitpos(p, q, qo) - before;
        vlc_unpack(&c1, xy[0], xy[1], v);
        EXPECT_TRUE(left < 0 || (is[i] == v[0] && is[i + 1] == v[1] && is[i + 2] == v[2] && is[i + 3] == v[3])) << i;
    }
    EXPECT_TRUE(left != 0 || (q == lp && qo == lo));
    ++engine.checked;
}

TEST(Vlc, AgreesWithTheLibraryOnMp3HuffmanData) {
    Engine engine;
    for_each_stream("/tests/vectors/mp3", ".bit", [&](Input& in) {
        std::vector<Zuf8u> main;
        MpegHeader mh;
        for (size_t pos = in.begin, frames = 0; frames < 40 && mpeg_header_parse(in.data + pos, &mh); ++frames) {
            const size_t len = mpeg_frame_len(&in, pos, &mh), old = main.size();
            Zuf8u* bs = in.data + pos;
            Mp3FrameHeader h;
            Mp3SideInfo si[4];
            int mdb, priv, scfsi[8];
            if (mh.layer != 3 || mh.version == 25 || len == 0) break;
            zufsUnpackFrameHeader_MP3(&bs, &h);
            if (zufsUnpackSideInfo_MP3(&bs, si, &mdb, &priv, scfsi, &h) != zufOk) break;
            main.insert(main.end(), bs, in.data + pos + len);  // the bit reservoir, never trimmed
            pos += len;
            if (static_cast<size_t>(mdb) > old) continue;
            std::vector<Zuf8u> md(main.size() + 64);  // padded for the read-ahead
            std::copy(main.begin(), main.end(), md.begin());
            long start = 8 * static_cast<long>(old - mdb);
            const int nch = h.mode == 3 ? 1 : 2;
            for (int k = 0; k < (h.ID ? 2 : 1) * nch; start += si[k++].part2_3_length) {
                Zuf8u* p = md.data() + start / 8;
                int o = static_cast<int>(start % 8);
                Zuf8s sfs[40];
                zufsUnpackScaleFactors_MP3_1u8s(&p, &o, sfs, &si[k], scfsi + 4 * (k % nch), &h, k / nch, k % nch);
                const int huf = si[k].part2_3_length - static_cast<int>(bitpos(md.data(), p, o) - start);
                if (huf >= 0) mp3_granule(p, o, si[k], h, huf, static_cast<int>(frames + k) & 1, engine);
            }
        }
    });
    EXPECT_GT(engine.checked, 400);
}

}  // namespace
