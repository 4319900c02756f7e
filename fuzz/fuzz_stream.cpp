// Fuzz harness of the example decoders' frame loops: any bytes through the whole in-memory path
// of zufdec (tag stripping, format detection, then the MP3, ADTS, ADIF or MP4 frame loop with
// every AAC profile and channel layout the example decoder takes, up to 8 channels). The output
// must hold exactly the samples the statistics count, and no input may give more sample frames
// per byte than a valid stream can carry.
#include <cstdint>
#include <cstdlib>

#include "example/stream_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Zuf16s* pcm = nullptr;
    DecodeStats st;
    stream_decode_memory(data, size, nullptr, 1, &pcm, &st, nullptr);
    // Every sample the statistics count is read: the output must be that long.
    long sum = 0;
    for (unsigned long i = 0; pcm && i < st.samples * static_cast<unsigned long>(st.channels); ++i) sum += pcm[i];
    std::free(pcm);
    // An ADTS frame of 8 bytes may carry 4 raw data blocks of silence: 4096 sample frames.
    if (st.samples > 4096 * (size / 8 + 1)) std::abort();
    return sum == 0x7FFFFFFF;
}
