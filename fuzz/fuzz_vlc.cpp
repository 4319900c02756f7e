// Fuzz harness for the escape-block engine: a code table and a bit stream from the input.
//
// Input: a control byte (codec, decoder kind, whether the raw header is used), a linbits byte, a
// codeword count k, k codewords of 5 bytes (x, y, length, code), 36 bytes of raw table block
// words, then the bit stream.
//  - The codewords go through the example builder (tools/example/vlc_build.h): whatever it
//    accepts is decoded from the stream, and values drawn from the code are encoded, counted and
//    decoded back (decode(encode(x)) = x, count = bits written).
//  - The raw words are used as a decoder table block header (ID, peek width, length field and
//    element widths as they come), with the built table's pointer and entry width put in (a
//    table pointer cannot be fuzzed without reading arbitrary memory): the engine must refuse a
//    wrong ID and otherwise decode anything without leaving its documented read-ahead.
// Every decode runs a second time from a copy of the stream in an allocation that ends where the
// read-ahead must end, two aligned words past the word holding the last bit used, so that
// AddressSanitizer flags any read beyond it. Invariants are checked with abort().
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

#include "example/vlc_build.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

using Decode = zufResult (*)(Zuf8u**, int*, int, Zuf16s*, int, const void*);
zufResult dec_aac(Zuf8u** pp, int* po, int, Zuf16s* d, int n, const void* s) {
    return zufsVLCDecodeEscBlock_AAC_1u16s(pp, po, d, n, s);
}
zufResult dec_aac_tuple(Zuf8u** pp, int* po, int, Zuf16s* d, int n, const void* s) {
    return zufsVLCDecodeUTupleEscBlock_AAC_1u16s(pp, po, d, n, s);
}
const Decode kDecoders[4] = {dec_aac, zufsVLCDecodeEscBlock_MP3_1u16s, dec_aac_tuple,
                             zufsVLCDecodeUTupleEscBlock_MP3_1u16s};

// Decodes n values from the stream at bit offset o of a buffer whose first byte sits m bytes past
// a 4-byte boundary, then again from a copy that ends at the read-ahead limit; both must agree.
void decode_twice(Decode f, int linbits, const void* tab, const uint8_t* bits, size_t nbits, int m, int o, int n) {
    const size_t big = nbits + 80 * static_cast<size_t>(n) + 16;  // every value's longest escape
    std::vector<uint32_t> words(big / 4 + 4, 0);
    auto* base = reinterpret_cast<Zuf8u*>(words.data());
    std::memcpy(base + m, bits, nbits);
    std::vector<Zuf16s> a(static_cast<size_t>(n) + 1, 0x1234), b(a);
    Zuf8u* p = base + m;
    int off = o;
    const zufResult st = f(&p, &off, linbits, a.data(), n, tab);
    require(st == zufOk || st == zufErrAacEscape || st == zufErrContext);
    require(a[static_cast<size_t>(n)] == 0x1234 && (n % 2 == 0 || a[static_cast<size_t>(n) - 1] == 0x1234));
    if (st != zufOk) {
        require(p == base + m && off == o);
        return;
    }
    const long end = 8 * (p - base) + off;
    require(end >= 8 * m + o && end <= 8 * static_cast<long>(big));
    // Allowed: up to the end of the aligned word two past the one holding the last bit used (the
    // entry word and the one after it when no bit was used).
    const long last_word = end > 8 * m + o ? (end - 1) / 32 : (8 * m + o) / 32;
    const size_t limit = 4 * static_cast<size_t>(last_word + 3);
    auto* exact = static_cast<Zuf8u*>(std::malloc(limit));  // malloc keeps the 4-byte phase
    require(exact != nullptr && reinterpret_cast<uintptr_t>(exact) % 4 == 0);
    std::memcpy(exact, base, limit);
    Zuf8u* q = exact + m;
    int qo = o;
    require(f(&q, &qo, linbits, b.data(), n, tab) == zufOk);
    require(a == b && 8 * (q - exact) + qo == end);
    std::free(exact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 + 36) return 0;
    const int control = data[0], linbits = static_cast<int8_t>(data[1]) % 20, k = 1 + data[2] % 48;
    const int codec = control & 1, tuples = (control >> 1) & 1;
    if (size < 3 + 5 * static_cast<size_t>(k) + 36) return 0;
    const uint8_t* cw = data + 3;
    const uint8_t* raw = cw + 5 * k;
    const uint8_t* bits = raw + 36;
    const size_t nbits = size - static_cast<size_t>(bits - data);
    std::vector<VlcCodeword> words(static_cast<size_t>(k));
    for (int i = 0; i < k; ++i) {
        const uint8_t* c = cw + 5 * i;
        words[i].x = static_cast<int8_t>(c[0]) % 18;
        words[i].y = static_cast<int8_t>(c[1]) % 18;
        words[i].length = c[2] % 34;
        words[i].code = (uint32_t{c[3]} << 8 | c[4]) &
                        ((words[i].length >= 1 && words[i].length < 16) ? (1u << words[i].length) - 1u : 0xFFFFu);
        if (control & 8) words[i].code ^= 0x10000u;  // stray bits above short lengths
    }
    if (control & 32) {
        // Canonical codewords for the given lengths (1..20), in length order, as far as they fit:
        // a prefix code most of the time, so that decoding gets exercised.
        std::stable_sort(words.begin(), words.end(),
                         [](const VlcCodeword& a, const VlcCodeword& b) { return a.length % 20 < b.length % 20; });
        uint32_t next = 0;
        int prev = 1, kept = 0;
        for (VlcCodeword& w : words) {
            w.length = 1 + w.length % 20;
            next <<= w.length - prev;
            prev = w.length;
            if (next >> w.length) break;
            w.code = next++;
            ++kept;
        }
        words.resize(static_cast<size_t>(std::max(kept, 1)));
    }
    const VlcCode code = {words.data(), static_cast<int>(words.size()), (control >> 2) & 1};
    const int layout = tuples ? VLC_LAYOUT_TUPLES : VLC_LAYOUT_PAIRS;
    size_t dsize = 0, esize = 0;
    if (vlc_decoder_size(&code, layout, &dsize) != VLC_BUILD_OK) return 0;
    std::vector<uint8_t> dtab(dsize);
    require(vlc_decoder_build(&code, layout, dtab.data(), dsize) == VLC_BUILD_OK);
    const Decode f = kDecoders[2 * tuples + codec];
    const int n = static_cast<int>(data[0] >> 4) * 7 + (data[1] & 1);
    const int m = data[2] & 3, o = (data[2] >> 2) & 7;
    decode_twice(f, linbits, dtab.data(), bits, nbits, m, o, n);

    // The raw header over the built table.
    const unsigned char* block = dtab.data() + (32 - reinterpret_cast<uintptr_t>(dtab.data()) % 32) % 32;
    std::vector<uint8_t> rtab(32 + 9 * sizeof(uintptr_t));
    unsigned char* rblock = rtab.data() + (32 - reinterpret_cast<uintptr_t>(rtab.data()) % 32) % 32;
    for (int w = 0; w < 9; ++w) {
        uint32_t v;
        std::memcpy(&v, raw + 4 * w, 4);
        uintptr_t slot = v;
        if (w == 3 || w == 4) std::memcpy(&slot, block + w * sizeof(uintptr_t), sizeof slot);
        if (w == 0 && (control & 16)) slot = ZUF_VLC_DECODER_ID;
        std::memcpy(rblock + w * sizeof(uintptr_t), &slot, sizeof slot);
    }
    {
        Zuf8u byte = 0;
        Zuf8u* p = &byte;
        int off = 0;
        Zuf16s v[2];
        const bool id_ok = static_cast<uint32_t>(reinterpret_cast<const uintptr_t*>(rblock)[0]) == ZUF_VLC_DECODER_ID;
        if (!id_ok) require(f(&p, &off, linbits, v, 2, rblock) == zufErrContext && p == &byte);
    }
    decode_twice(f, linbits, rblock, bits, nbits, m, o, n);

    // Round trip of values drawn from the code.
    if (vlc_encoder_size(codec, &esize) != VLC_BUILD_OK) return 0;
    std::vector<uint8_t> etab(esize);
    if (vlc_encoder_build(&code, codec, etab.data(), esize) != VLC_BUILD_OK) return 0;
    const int lb = linbits < 0 ? 0 : linbits > 16 ? 16 : linbits;
    std::vector<Zuf16s> src;
    for (size_t i = 0; i < nbits && src.size() < 64; i += 2) {
        const VlcCodeword& w = words[bits[i] % words.size()];
        int v[2] = {w.x, w.y};
        for (int j = 0; j < 2; ++j) {
            const int r = i + 1 < nbits ? bits[i + 1] >> (4 * j) & 15 : 0;
            if (codec == VLC_CODEC_AAC && (v[j] == 16 || v[j] == -16)) v[j] = (v[j] < 0 ? -1 : 1) * (16 + r * 545);
            if (codec == VLC_CODEC_MP3 && (v[j] == 15 || v[j] == -15) && lb > 0)
                v[j] = (v[j] < 0 ? -1 : 1) * (15 + (r * 4099) % (1 << lb));
            if (code.sign_bits && (r & 1)) v[j] = -v[j];
            src.push_back(static_cast<Zuf16s>(v[j]));
        }
    }
    if (src.empty()) return 0;
    std::vector<Zuf8u> out(10 * src.size() + 16, 0);
    Zuf8u* p = out.data() + m;
    int off = o;
    const int len = static_cast<int>(src.size());
    const zufResult st = codec == VLC_CODEC_AAC
                             ? zufsVLCEncodeEscBlock_AAC_16s1u(src.data(), len, &p, &off, etab.data())
                             : zufsVLCEncodeEscBlock_MP3_16s1u(src.data(), len, linbits, &p, &off, etab.data());
    require(st == zufOk);
    Zuf32s counted = -1;
    require((codec == VLC_CODEC_AAC
                 ? zufsVLCCountEscBits_AAC_16s32s(src.data(), len, &counted, etab.data())
                 : zufsVLCCountEscBits_MP3_16s32s(src.data(), len, linbits, &counted, etab.data())) == zufOk);
    // The MP3 encoder moves the last bits of an escaped pair's codeword behind its linbits, which
    // are its sign bits only in a code of magnitudes; tuple decoders read sign bits that only such
    // a code has. Elsewhere the stream is well defined but not the one the decoders expect.
    if (codec == VLC_CODEC_MP3 && !code.sign_bits) return 0;
    require(8 * (p - out.data()) + off - (8 * m + o) == counted);
    std::vector<Zuf16s> back(src.size());
    Zuf8u* q = out.data() + m;
    int qo = o;
    if (tuples && !code.sign_bits) return 0;
    require(kDecoders[2 * tuples + codec](&q, &qo, linbits, back.data(), len, dtab.data()) == zufOk);
    require(back == src && q == p && qo == off);
    return 0;
}
