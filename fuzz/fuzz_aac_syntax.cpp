// Fuzz harness of the AAC channel syntax: the noiseless drivers, the channel pair, data stream
// and fill elements, the scalable layer headers, and a raw_data_block() walk over them, all on
// arbitrary bytes. The first bytes choose the entry point and its arguments; the rest is the
// stream, followed by exactly the read-ahead that one decoder call may need, so that ASan sees
// any read past it. Outputs go to exact-size heap arrays, so any write past them is caught too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/bitstream.h"
#include "zufack9/zuf_aac.h"

namespace {

// The most one decoder call can read from where it starts, whatever the bytes: an
// individual_channel_stream of short windows with 120 sections (1920 bits), 120 scale factors
// of 19 bits, TNS (312 bits), and 1024 values of codebook 11 with two 21-bit escapes per pair
// (28672 bits), about 4170 bytes, plus the three bytes every read fetches ahead.
constexpr size_t kReadAhead = 4200;

struct Outputs {
    std::vector<Zuf16s> sf = std::vector<Zuf16s>(120);
    std::vector<Zuf32s> quant = std::vector<Zuf32s>(1024);
    std::vector<Zuf8u> sfb_cb = std::vector<Zuf8u>(120);
    std::vector<Zuf8s> tns = std::vector<Zuf8s>(60);
    std::vector<Zuf8u> ms_used = std::vector<Zuf8u>(8 * 60);
    std::vector<Zuf8u> bytes = std::vector<Zuf8u>(510);
};

struct Stream {
    Zuf8u* p;
    int off;
    const Zuf8u* end;  // first byte past the fuzz data
    bool inside() const { return p < end; }
};

// One channel through the driver the selector picks.
zufResult channel(Stream& s, Outputs& o, AacIcsInfo* ics, AacMainHeader* mh, int sfi, int common, int mpeg4, int aot,
                  int pred) {
    AacChanInfo ci;
    std::memset(&ci, 0, sizeof ci);
    ci.sampling_frequency_index = sfi;
    ci.pIcsInfo = ics;
    if (!mpeg4)
        return zufsNoiselessDecoder_LC_AAC(&s.p, &s.off, common, &ci, o.sf.data(), o.quant.data(), o.sfb_cb.data(),
                                           o.tns.data());
    ci.pred_sfb_max = pred;
    return zufsNoiselessDecode_AAC(&s.p, &s.off, mh, o.sf.data(), o.quant.data(), o.sfb_cb.data(), o.tns.data(), &ci, 0,
                                   0, common, 0, aot);
}

// raw_data_block(): elements until END, an error, or the end of the fuzz data.
void walk(Stream& s, Outputs& o, int sfi, int mpeg4, int aot, int pred) {
    AacIcsInfo ics[2];
    AacMainHeader mh;
    std::memset(ics, 0, sizeof ics);
    std::memset(&mh, 0, sizeof mh);
    mh.ms_used = o.ms_used.data();
    for (int elements = 0; elements < 64 && s.inside(); ++elements) {
        const uint32_t id = zuf::FieldReader{&s.p, &s.off}.get(3);
        zufResult r = zufOk;
        if (id == 0 || id == 3) {
            zuf::FieldReader{&s.p, &s.off}.get(4);
            r = channel(s, o, &ics[0], &mh, sfi, 0, mpeg4, aot, pred);
        } else if (id == 1) {
            zuf::FieldReader{&s.p, &s.off}.get(4);
            AacChanPairElt cpe;
            std::memset(&cpe, 0, sizeof cpe);
            r = mpeg4 ? zufsDecodeChanPairElt_MP4_AAC(&s.p, &s.off, &ics[0], &cpe, &mh, std::min(pred, 51), aot)
                      : zufsDecodeChanPairElt_AAC(&s.p, &s.off, &ics[0], &cpe, 0);
            for (int ch = 0; ch < 2 && r == zufOk && s.inside(); ++ch)
                r = channel(s, o, cpe.common_window ? &ics[0] : &ics[ch], &mh, sfi, cpe.common_window, mpeg4, aot,
                            pred);
        } else if (id == 4) {
            int tag, cnt;
            r = zufsDecodeDatStrElt_AAC(&s.p, &s.off, &tag, &cnt, o.bytes.data());
        } else if (id == 6) {
            int cnt;
            r = zufsDecodeFillElt_AAC(&s.p, &s.off, &cnt, o.bytes.data());
        } else {
            return;  // END, and the elements this harness leaves to others
        }
        if (r != zufOk) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 7 && data[0] == 0xFF && (data[1] & 0xF0) == 0xF0) {
        // An ADTS stream (the committed vectors and their mutations): walk its frames with the
        // sampling rate and object type of each header, alternating the two drivers.
        std::vector<Zuf8u> buf(size + kReadAhead, 0);
        std::memcpy(buf.data(), data, size);
        Outputs o;
        size_t pos = 0;
        for (int frame = 0; pos + 7 <= size; ++frame) {
            Zuf8u* p = buf.data() + pos;
            AacAdtsFrameHeader h;
            zufsUnpackADTSFrameHeader_AAC(&p, &h);
            if (h.aac_frame_length < 7) break;
            Stream s{p, 0, buf.data() + std::min(size, pos + static_cast<size_t>(h.aac_frame_length))};
            const int aot = h.profile + 1;
            walk(s, o, h.sampling_frequency_index % 12, frame & 1 || aot != 2, aot, aot == 1 ? 40 : 0);
            pos += static_cast<size_t>(h.aac_frame_length);
        }
        return 0;
    }
    if (size < 4) return 0;
    const int sel = data[0] % 6;
    const int a = data[1], b = data[2], c = data[3];
    const size_t n = size - 4;
    std::vector<Zuf8u> buf(n + kReadAhead, 0);
    std::memcpy(buf.data(), data + 4, n);
    Stream s{buf.data(), a & 7, buf.data() + n};
    Outputs o;
    const int sfi = (a >> 3) % 12;
    const int aot = b % 17;
    const int mpeg4 = (a >> 7) & 1;

    switch (sel) {
        case 0:  // raw_data_block() with the LC or the MPEG-4 drivers
            walk(s, o, sfi, mpeg4, aot, mpeg4 ? c % 52 : 0);
            break;
        case 1: {  // scalable layer: main header, then its channels in scalable mode
            AacMainHeader mh;
            std::memset(&mh, 0, sizeof mh);
            mh.ms_used = o.ms_used.data();
            const int channels = 1 + (c & 1);
            const zufResult r = zufsDecodeMainHeader_AAC(&s.p, &s.off, &mh, channels, (c >> 1) & 1);
            if (r != zufOk && r != zufErrNotSupported) break;
            for (int ch = 0; ch < channels && s.inside(); ++ch) {
                AacChanInfo ci;
                std::memset(&ci, 0, sizeof ci);
                ci.sampling_frequency_index = sfi;
                if (zufsNoiselessDecode_AAC(&s.p, &s.off, &mh, o.sf.data(), o.quant.data(), o.sfb_cb.data(),
                                            o.tns.data(), &ci, mh.window_sequence, std::min(mh.max_sfb, 51), 0, 1,
                                            aot) != zufOk)
                    break;
            }
            break;
        }
        case 2: {  // extension header with any flags
            AacExtensionHeader eh;
            std::memset(&eh, 0, sizeof eh);
            eh.ms_used = o.ms_used.data();
            zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, c & 1, (c >> 1) & 1, (c >> 2) & 1, b % 52,
                                          (b * 7 + c) % 52, (c >> 3) & 3);
            break;
        }
        case 3: {  // one MPEG-4 channel whose ics_info is a pair's common record
            AacIcsInfo ics;
            AacChanPairElt cpe;
            AacMainHeader mh;
            std::memset(&ics, 0, sizeof ics);
            std::memset(&mh, 0, sizeof mh);
            if (zufsDecodeChanPairElt_MP4_AAC(&s.p, &s.off, &ics, &cpe, &mh, c % 52, aot) == zufOk && s.inside())
                channel(s, o, &ics, &mh, sfi, cpe.common_window, 1, aot, c % 64 - 6);
            break;
        }
        case 4: {  // one LC channel
            AacIcsInfo ics;
            AacMainHeader mh;
            std::memset(&ics, 0, sizeof ics);
            std::memset(&mh, 0, sizeof mh);
            channel(s, o, &ics, &mh, sfi, 0, 0, 2, 0);
            break;
        }
        default: {  // the byte elements
            int tag, cnt;
            if (c & 1)
                zufsDecodeDatStrElt_AAC(&s.p, &s.off, &tag, &cnt, o.bytes.data());
            else
                zufsDecodeFillElt_AAC(&s.p, &s.off, &cnt, o.bytes.data());
            break;
        }
    }
    return 0;
}
