// Nothing lost around damage: one frame of a committed stream damaged (bits flipped in its
// payload, or its header destroyed) changes the decode only near that frame. The frames that can
// differ are derived from the stream itself, independently of the decoder: the damaged frame; in
// an MP3 the frames whose main_data_begin reaches back into its bytes (ISO/IEC 11172-3 2.4.3.4,
// the bit reservoir); then the filter bank's memory after the last of them (AAC: the next frame's
// overlap-add; MP3: one frame of the hybrid and polyphase filter banks in MPEG-1, whose frames
// hold two granules, two frames in MPEG-2). Every other frame is bit-identical to the clean
// decode and the output keeps its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "example/stream.h"
#include "support/pcm_compare.h"
#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

// One frame of a stream: where, how long, its header (and CRC) bytes; MP3: the main-data bytes it
// carries and its main_data_begin.
struct Frame {
    size_t at, len, head, main, mdb;
};

// The frame grid of a clean stream, read from its headers; *granules: 2 MPEG-1, 1 MPEG-2.
std::vector<Frame> frames_of(const Input& in, bool mp3, int* granules) {
    std::vector<Frame> v;
    MpegHeader h;
    for (size_t at = in.begin; at + 8 <= in.end; at += v.back().len) {
        const uint8_t* p = in.data + at;
        Frame f{at, adts_frame_len(p), (p[1] & 1) ? 7u : 9u, 0, 0};
        if (mp3 && mpeg_header_parse(p, &h)) {
            *granules = h.version == 10 ? 2 : 1;
            f = {at, mpeg_frame_len(&in, at, &h), h.protection ? 6u : 4u, 0, 0};
            f.main = f.len - f.head - (h.channels == 1 ? 17 : 32) / (3 - *granules);  // side info: 17/32, 9/17
            f.mdb = *granules == 2 ? (p[f.head] << 1 | p[f.head + 1] >> 7) : p[f.head];
        }
        if (f.len < 8 || at + f.len > in.end) break;
        v.push_back(f);
    }
    return v;
}

TEST(StreamDamage, OnlyFramesNearTheDamageDiffer) {
    for (const char* name : {"mp3/l3-si.bit", "mp3/lame_44100_js_128.mp3", "mp3/lame_16000_ms_vbr.mp3",
                             "mp3/lame_48000_ms_crc.mp3", "mp3/lame_44100_free_format.mp3",
                             "aac/dec_44100_stereo_transients.aac", "aac/dec_44100_stereo_transients_crc.aac",
                             "aac/dec_22050_mono_pns.aac", "aac/dec_32000_5.1.aac", "aac/dec_mpeg2_16000_stereo.aac"}) {
        const bool mp3 = name[1] == 'p';
        const auto clean = zuft::read_file(std::string(ZUF_SOURCE_DIR) + "/tests/vectors/" + name);
        Input in;
        ASSERT_EQ(input_copy(clean.data(), clean.size(), &in), 0);
        in.begin = id3v2_tag_len(in.data, in.size);
        int granules = 0;
        const auto grid = frames_of(in, mp3, &granules);
        input_free(&in);
        ASSERT_GT(grid.size(), 10u) << name;
        const auto good = zuft::decode_memory(clean, nullptr, false);
        const size_t per = good.pcm.size() / good.st.frames, f = grid.size() * 2 / 5;
        // The last frame whose main data lies partly in frame f's bytes, then the filter bank's memory.
        size_t last = f;
        for (size_t g = f + 1, back = 0; mp3 && g < grid.size(); back += grid[g++].main)
            last = grid[g].mdb > back ? g : last;
        last += mp3 ? 3 - granules : 1;
        for (int kind = 0; kind < 2; ++kind) {
            auto bytes = clean;
            const Frame& d = grid[f];
            for (size_t i = 0; i < 8; ++i) {
                if (kind)  // the header destroyed
                    bytes[d.at + i % (mp3 ? 4 : 7)] = 0;
                else  // eight bits flipped across the payload
                    bytes[d.at + d.head + (d.len - d.head) * i / 8] ^= uint8_t(1u << i);
            }
            const auto out = zuft::decode_memory(bytes, nullptr, false);
            SCOPED_TRACE(std::string(name) + (kind ? ": header destroyed" : ": payload bits flipped"));
            ASSERT_EQ(out.pcm.size(), good.pcm.size());
            int differ = 0;
            for (size_t k = 0, at = 0; at < good.pcm.size(); ++k, at += per) {  // k: the stream's frame, less tags
                const bool same = std::equal(good.pcm.begin() + long(at), good.pcm.begin() + long(at + per),
                                             out.pcm.begin() + long(at));
                differ += !same;
                EXPECT_TRUE(same || (k + good.st.tag_frames >= f && k + good.st.tag_frames <= last)) << "frame " << k;
            }
            std::printf("    %-40s %-6s: %d of %zu frames may differ and do\n", name, kind ? "header" : "bits", differ,
                        last - f + 1);
        }
    }
}

}  // namespace
