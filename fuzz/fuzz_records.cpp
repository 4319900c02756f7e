// Fuzz harness for the entry points that take a caller's records instead of a bit stream: the
// MP3 Huffman decoders, requantiser, inverse MDCT and synthesis, and the AAC spectral tools
// and filter bank. Every field of every record comes from the fuzz input, biased towards the
// values that break range checks (INT_MIN, INT_MAX, -1, the first value past a limit), and the
// buffers are exactly as large as the interfaces document, so AddressSanitizer sees any access
// that a field steers outside them. A function must either reject its records with a status or
// stay inside its buffers; which of the two is not checked here.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zufack9/zufack9.h"

namespace {

class Input {
  public:
    Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    uint8_t byte() { return i_ < n_ ? d_[i_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = v << 8 | byte();
        return v;
    }
    // A field value: mostly small, sometimes a limit or an extreme.
    int32_t field() {
        static const int32_t kEdges[] = {
            INT_MIN, INT_MIN + 1, -65536, -2,  -1,  0,    1,    2,    3,    4,     7,     8,           9,
            11,      12,          13,     14,  15,  16,   20,   21,   22,   23,    31,    32,          40,
            41,      48,          49,     51,  52,  60,   63,   64,   127,  128,   255,   256,         287,
            288,     289,         575,    576, 577, 1023, 1024, 1025, 4095, 65535, 65536, INT_MAX - 1, INT_MAX};
        const uint8_t sel = byte();
        if (sel < 128) return static_cast<int32_t>(sel % 32) - 4;
        if (sel < 240) return kEdges[sel % (sizeof kEdges / sizeof kEdges[0])];
        return static_cast<int32_t>(u32());
    }
    void fill(void* p, size_t n) {
        auto* b = static_cast<uint8_t*>(p);
        for (size_t k = 0; k < n; ++k) b[k] = byte();
    }
    // The rest of the input, for bit streams.
    std::vector<uint8_t> rest(size_t pad) {
        std::vector<uint8_t> v(d_ + (i_ < n_ ? i_ : n_), d_ + n_);
        v.resize(v.size() + pad, 0);
        i_ = n_;
        return v;
    }

  private:
    const uint8_t* d_;
    size_t n_;
    size_t i_ = 0;
};

// Exact-size heap arrays, so that one element too far is an ASan report.
template <typename T>
struct Buf {
    explicit Buf(size_t n) : v(n) {}
    T* p() { return v.data(); }
    std::vector<T> v;
};

void side_info(Input& in, Mp3SideInfo* si) {
    auto* f = reinterpret_cast<Zuf32s*>(si);
    for (size_t k = 0; k < sizeof(Mp3SideInfo) / 4; ++k) f[k] = in.field();
}

void frame_header(Input& in, Mp3FrameHeader* h) {
    auto* f = reinterpret_cast<Zuf32s*>(h);
    for (size_t k = 0; k < sizeof(Mp3FrameHeader) / 4; ++k) f[k] = in.field();
    // Mostly a plausible Layer III header, so the checks after the header ones are reached.
    if (in.byte() & 1) h->layer = 1, h->ID &= 1, h->sampling_frequency &= 1;
}

void mp3(Input& in, int which) {
    Mp3SideInfo si[2];
    Mp3FrameHeader h;
    side_info(in, &si[0]);
    side_info(in, &si[1]);
    frame_header(in, &h);
    Buf<Zuf32s> is(1152);
    Buf<Zuf32s> work(576);
    Zuf8s sf[80];
    in.fill(sf, sizeof sf);
    Zuf16s mbp[12];
    for (auto& m : mbp) m = static_cast<Zuf16s>(in.field());
    int nz[2] = {in.field(), in.field()};
    const int huf = in.field();
    switch (which) {
        case 0:
        case 1:
        case 2: {
            auto bits = in.rest(8);
            Zuf8u* p = bits.data();
            int off = static_cast<int>(bits.size() & 7);
            // The stream holds at most what the input gave; a hufSize beyond it would make the
            // caller, not the decoder, read past the buffer.
            if (huf > 8 * static_cast<long>(bits.size() - 8)) return;
            if (which == 0) zufsHuffmanDecode_MP3_1u32s(&p, &off, is.p(), nz, si, &h, huf);
            if (which == 1) zufsHuffmanDecodeSfb_MP3_1u32s(&p, &off, is.p(), nz, si, &h, huf, _zuf_pMP3SfbTableLong);
            if (which == 2)
                zufsHuffmanDecodeSfbMbp_MP3_1u32s(&p, &off, is.p(), nz, si, &h, huf, _zuf_pMP3SfbTableLong,
                                                  _zuf_pMP3SfbTableShort, mbp);
            break;
        }
        case 3:
            in.fill(is.p(), 1152 * 4);
            zufsReQuantize_MP3_32s_I(is.p(), nz, sf, si, &h, work.p());
            break;
        case 4:
            in.fill(is.p(), 1152 * 4);
            zufsReQuantizeSfb_MP3_32s_I(is.p(), nz, sf, si, &h, work.p(), _zuf_pMP3SfbTableLong,
                                        _zuf_pMP3SfbTableShort);
            break;
        case 5: {
            Buf<Zuf32s> y(576), overlap(576);
            in.fill(is.p(), 576 * 4);
            in.fill(overlap.p(), 576 * 4);
            int prev = in.field();
            zufsMDCTInv_MP3_32s(is.p(), y.p(), overlap.p(), in.field(), &prev, in.field(), in.field());
            break;
        }
        default: {
            Buf<Zuf32s> hist(512);
            Buf<Zuf16s> pcm(64);
            in.fill(is.p(), 32 * 4);
            int pos = in.field();
            zufsSynthPQMF_MP3_32s16s(is.p(), pcm.p(), hist.p(), &pos, in.field());
            break;
        }
    }
}

void aac(Input& in, int which) {
    // The largest arrays any valid call needs: 1024 lines, 8 groups of at most 51 bands (scale
    // factors, codebooks, noise states), ms_used rows of 60 per group.
    Buf<Zuf32s> spectrum(1024), spectrum2(1024);
    Buf<Zuf16s> sf(8 * 51);
    Buf<Zuf8u> cb(8 * 51), ms(8 * 60);
    Buf<Zuf32u> noise(8 * 51);
    in.fill(spectrum.p(), 1024 * 4);
    in.fill(sf.p(), sf.v.size() * 2);
    in.fill(cb.p(), cb.v.size());
    in.fill(ms.p(), ms.v.size());
    int grp[8];
    for (auto& g : grp) g = in.field();
    const int groups = in.field(), max_sfb = in.field(), sri = in.field(), win_len = in.field();
    Zuf32u seed = in.u32();
    int ltp[52];
    switch (which) {
        case 0:
            zufsQuantInv_AAC_32s_I(spectrum.p(), sf.p(), groups, grp, max_sfb, cb.p(), sri, win_len);
            break;
        case 1:
            zufsDecodeMsStereo_AAC_32s_I(spectrum.p(), spectrum2.p(), in.field(), ms.p(), cb.p(), groups, grp, max_sfb,
                                         sri, win_len);
            break;
        case 2:
            zufsDecodeIsStereo_AAC_32s(spectrum.p(), spectrum2.p(), sf.p(), cb.p(), groups, grp, max_sfb, sri, win_len);
            break;
        case 3:
            zufsDeinterleaveSpectrum_AAC_32s(spectrum.p(), spectrum2.p(), groups, grp, max_sfb, sri, win_len);
            break;
        case 4:
            zufsDecodePNS_AAC_32s(spectrum.p(), ltp, cb.p(), sf.p(), max_sfb, groups, grp, sri, win_len, &seed);
            break;
        case 5:
            zufsDecodeMsPNS_AAC_32s(spectrum.p(), ltp, cb.p(), sf.p(), max_sfb, groups, grp, sri, win_len, &seed,
                                    in.field(), ms.p(), noise.p());
            break;
        case 6: {
            int nf[8], len[8], order[8], res[8], dir[8];
            Zuf8s coef[8 * 32];
            for (int k = 0; k < 8; ++k) nf[k] = in.field(), len[k] = in.field(), order[k] = in.field();
            for (int k = 0; k < 8; ++k) res[k] = in.field(), dir[k] = in.field();
            in.fill(coef, sizeof coef);
            const int profile = in.field();
            if (in.byte() & 1)
                zufsDecodeTNS_AAC_32s_I(spectrum.p(), nf, len, order, res, coef, dir, max_sfb, profile, sri, win_len);
            else
                zufsEncodeTNS_AAC_32s_I(spectrum.p(), nf, len, order, res, coef, dir, max_sfb, profile, sri, win_len);
            break;
        }
        default: {
            Buf<Zuf32s> overlap(1024);
            Buf<Zuf16s> pcm(2048);
            const int seq = in.field(), shape = in.field(), prev = in.field(), stride = in.field() & 3;
            // The output holds 1024 samples `stride` apart (stride 1 or 2 valid).
            zufsMDCTInv_AAC_32s16s(spectrum.p(), pcm.p(), overlap.p(), seq, shape, prev, stride);
            break;
        }
    }
}

void noiseless(Input& in) {
    AacIcsInfo ics[2];
    AacChanInfo ci;
    auto* f = reinterpret_cast<Zuf32s*>(&ci);
    for (size_t k = 0; k < offsetof(AacChanInfo, pIcsInfo) / 4; ++k) f[k] = in.field();
    for (auto& i : ics) {
        i.ics_reserved_bit = in.field();
        i.window_sequence = in.field();
        i.window_shape = in.field();
        i.max_sfb = in.field();
        i.scale_factor_grouping = in.field();
        i.predictor_data_present = in.field();
        i.predictor_reset = in.field();
        i.predictor_reset_group_number = in.field();
        in.fill(i.prediction_used, sizeof i.prediction_used);
        i.num_window_groups = in.field();
        for (auto& g : i.window_group_length) g = in.field();
    }
    ci.pIcsInfo = ics;
    ci.pReserved = nullptr;
    in.fill(ci.sect_cb, sizeof ci.sect_cb + sizeof ci.sect_end);
    for (auto* a : {ci.num_sec, ci.n_filt, ci.coef_res, ci.length, ci.order, ci.direction})
        for (int k = 0; k < 8; ++k) a[k] = in.field();
    const int common = in.field();
    Buf<Zuf16s> sf(120);
    Buf<Zuf32s> spectrum(1024);
    Buf<Zuf8u> cb(120);
    Buf<Zuf8s> tns(60);
    // The most one channel can read, whatever the bytes (see fuzz_aac_syntax.cpp).
    auto bits = in.rest(4200);
    Zuf8u* p = bits.data();
    int off = 0;
    zufsNoiselessDecoder_LC_AAC(&p, &off, common, &ci, sf.p(), spectrum.p(), cb.p(), tns.p());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Input in(data + 1, size - 1);
    const int which = data[0] % 17;
    if (which < 7)
        mp3(in, which);
    else if (which < 15)
        aac(in, which - 7);
    else
        noiseless(in);
    return 0;
}
