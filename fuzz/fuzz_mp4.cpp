// Fuzz harness for the MP4 box reader of the example decoders (tools/example/mp4.h) and the
// decoding of what it finds: the reader on the exact input (it is given the size and must stay
// inside it), every sample of the track walked, then the whole path of zufdec (format detection,
// the reader, each sample through the AAC frame decoder) when the input is an MP4 file, and for
// an ADIF file too (its PCE layout and raw data blocks, up to 8 channels). A refusal must say why;
// a sample table must not yield more samples than it counts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "example/mp4.h"
#include "example/stream_decoder.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Mp4Track t;
    char why[200] = "";
    if (mp4_open(data, size, &t, why, sizeof why) == 0) {
        Mp4Cursor c;
        unsigned long long offset;
        unsigned long len, n = 0;
        mp4_cursor_init(&c);
        while (mp4_next_sample(&t, data, &c, &offset, &len) && offset <= size && len <= size - offset) ++n;
        require(n <= t.samples);
    } else {
        require(why[0] != '\0');
    }
    if (mp4_is_file(data, size) || (size >= 4 && std::memcmp(data, "ADIF", 4) == 0)) {
        Zuf16s* pcm = nullptr;
        DecodeStats st;
        stream_decode_memory(data, size, nullptr, 1, &pcm, &st, nullptr);
        std::free(pcm);
    }
    return 0;
}
