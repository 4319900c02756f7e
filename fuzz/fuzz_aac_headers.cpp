// Fuzz harness for the AAC stream headers: the ADTS frame header, the ADIF header and the
// program configuration element, started at many positions of the input.
//
// None of the parsers knows where its buffer ends: a caller must provide the longest header the
// syntax allows plus the readers' three-byte read-ahead. The harness therefore copies the input
// into an exact-size heap block of input + longest ADIF header + read-ahead (zero filled), so a
// parse from any position inside the input may run its full length, ASan sees any read past
// that bound, and each parse is checked against its own maximum length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zufack9/zuf_aac.h"

namespace {

constexpr std::size_t bytes_for(std::size_t bits) { return (bits + 7) / 8; }

// The readers fetch four bytes for every field: up to three past the last byte of a header.
constexpr std::size_t kReadAhead = 3;

// ADTS: 56 header bits, 72 with crc_check.
constexpr std::size_t kAdtsMax = 9;

// program_config_element() up to its byte_alignment() with every count at its maximum (15 front,
// side, back and coupling elements of 5 bits, 3 LFE and 7 assoc tags of 4 bits) and every
// optional mixdown field present.
constexpr std::size_t kPceBitsMax = 31 + 14 + 3 * 15 * 5 + 3 * 4 + 7 * 4 + 15 * 5;
// From bit offset 7, then comment_field_bytes and 255 comment bytes.
constexpr std::size_t kPceMax = bytes_for(7 + kPceBitsMax) + 1 + 255;

// adif_header() with copyright_id, then 16 elements with adif_buffer_fullness: the first
// starts inside a byte after the header, the others on a byte boundary after the previous
// comment.
constexpr std::size_t kAdifHeaderBitsMax = 32 + 1 + 72 + 1 + 1 + 1 + 23 + 4;
constexpr std::size_t kAdifMax =
    bytes_for(kAdifHeaderBitsMax + 20 + kPceBitsMax) + 256 + 15 * (bytes_for(20 + kPceBitsMax) + 256);
static_assert(kPceMax == 305 && kAdifMax == 4929);

// Parse starts per input are capped so that the standalone driver's 200000 inputs stay quick
// under the sanitizers: ADTS at the first 512 bytes and at every 0xFF byte after them (where a
// syncword may start), the element parsers at the first few bytes, which libFuzzer's mutations
// reach as easily as any other.
constexpr std::size_t kAdtsStarts = 512;
constexpr std::size_t kPceStarts = 8;
constexpr std::size_t kAdifStarts = 2;

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::size_t total = size + kAdifMax + kReadAhead;
    auto* buf = static_cast<Zuf8u*>(std::malloc(total));
    if (!buf) return 0;
    if (size) std::memcpy(buf, data, size);
    std::memset(buf + size, 0, total - size);
    const std::size_t starts = size ? size : 1;  // an empty input still parses its zero padding

    for (std::size_t pos = 0; pos < starts; ++pos) {
        if (pos >= kAdtsStarts && buf[pos] != 0xFF) continue;
        AacAdtsFrameHeader h;
        Zuf8u* p = buf + pos;
        check(zufsUnpackADTSFrameHeader_AAC(&p, &h) == zufOk);
        check(p == buf + pos + (h.protection_absent ? 7 : kAdtsMax));
        check(h.num_raw_data_blocks >= 1 && h.num_raw_data_blocks <= 4);
    }

    for (std::size_t pos = 0; pos < starts && pos < kPceStarts; ++pos) {
        for (int offset = 0; offset < 8; ++offset) {
            AacPrgCfgElt e;
            Zuf8u* p = buf + pos;
            int off = offset;
            check(zufsDecodePrgCfgElt_AAC(&p, &off, &e) == zufOk);
            check(off == 0 && p > buf + pos && static_cast<std::size_t>(p - (buf + pos)) <= kPceMax);
            check(e.comment_field_bytes >= 0 && e.comment_field_bytes <= 255);
        }
    }

    static AacPrgCfgElt pce[16];
    for (std::size_t pos = 0; pos < starts && pos < kAdifStarts; ++pos) {
        // The full array, and a limit taken from the input so that the -167 path runs too.
        const int limits[2] = {16, 1 + (buf[pos] & 15)};
        for (int limit : limits) {
            AacAdifHeader h;
            Zuf8u* p = buf + pos;
            const zufResult st = zufsUnpackADIFHeader_AAC(&p, &h, pce, limit);
            check(h.num_program_config_elements >= 1 && h.num_program_config_elements <= 16);
            if (st == zufErrAacPrgNum) {
                check(h.num_program_config_elements > limit);
                check(p - (buf + pos) == (h.copyright_id_present ? 16 : 7));  // on the count's last bit
            } else {
                check(st == zufOk && static_cast<std::size_t>(p - (buf + pos)) <= kAdifMax);
            }
        }
    }

    std::free(buf);
    return 0;
}
