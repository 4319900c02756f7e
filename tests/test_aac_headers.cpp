// AAC stream headers: ADTS frame header, ADIF header, program configuration element.
//
// Streams are built here with the tests' own bit writer, never with the library's reader or
// writer, from records filled with random field values; the expected record is a
// sentinel-filled copy with exactly the fields the syntax carries replaced, so every slot that
// must stay untouched (reserved, crc_check without protection, array entries beyond a count,
// comment bytes beyond the length) is checked by one memcmp.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/aac_bitwriter.h"
#include "zufack9/zuf_aac.h"

namespace {

using zuft::aac::BitWriter;

template <class T>
T sentinel() {
    T t;
    std::memset(static_cast<void*>(&t), 0x5A, sizeof t);
    return t;
}

// Byte offset of the first difference, or -1: a readable failure for a whole-record compare.
template <class T>
long first_difference(const T& a, const T& b) {
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        if (pa[i] != pb[i]) return static_cast<long>(i);
    return -1;
}

// The records are arrays of 32-bit words (the PCE's comment bytes aside).
template <class T>
Zuf32s* words(T& t) {
    return reinterpret_cast<Zuf32s*>(&t);
}
constexpr std::size_t word(std::size_t byte_offset) { return byte_offset / 4; }

// The bytes (a partial last byte zero-filled), then 0xEE bytes: the readers fetch four bytes at a
// time and a header's end must not depend on what follows it.
std::vector<Zuf8u> bytes_of(const BitWriter& w) {
    std::vector<Zuf8u> b = w.bytes;
    b.resize(b.size() + 4, 0xEE);
    return b;
}

// ------------------------------------------------------------------ ADTS

// adts_fixed_header() and adts_variable_header() after the sync word, field by field of the
// record (reserved is not in the stream), then crc_check when protected.
constexpr int kAdtsWidths[16] = {1, 2, 1, 2, 4, 1, 3, 1, 1, 0, 1, 1, 13, 11, 2, 16};

TEST(AacAdts, RandomRoundTrip) {
    zuft::Rng rng(101);
    for (int iter = 0; iter < 2000; ++iter) {
        const int pa = iter & 1;
        AacAdtsFrameHeader model{};
        for (int i = 0; i < 16; ++i) words(model)[i] = static_cast<Zuf32s>(rng.u32() & ((1u << kAdtsWidths[i]) - 1u));
        model.protection_absent = pa;
        BitWriter w;
        w.put(rng.u32() & 0xFFF, 12);  // syncword: not checked
        for (int i = 0; i < 16 - pa; ++i) w.put(static_cast<uint32_t>(words(model)[i]), kAdtsWidths[i]);
        ASSERT_EQ(w.nbits, pa ? 56u : 72u);
        std::vector<Zuf8u> buf = bytes_of(w);

        AacAdtsFrameHeader expected = model, got = sentinel<AacAdtsFrameHeader>();
        expected.reserved = got.reserved;
        expected.num_raw_data_blocks += 1;
        if (pa) expected.crc_check = got.crc_check;
        Zuf8u* p = buf.data();
        ASSERT_EQ(zufsUnpackADTSFrameHeader_AAC(&p, &got), zufOk);
        EXPECT_EQ(p - buf.data(), pa ? 7 : 9);
        ASSERT_EQ(first_difference(got, expected), -1) << "iteration " << iter;
    }
    Zuf8u bytes[16] = {0xFF, 0xF1};
    Zuf8u *p = bytes, *none = nullptr;
    AacAdtsFrameHeader h = sentinel<AacAdtsFrameHeader>();
    for (auto [pp, ph] : {std::pair{static_cast<Zuf8u**>(nullptr), &h}, {&p, nullptr}, {&none, &h}})
        EXPECT_EQ(zufsUnpackADTSFrameHeader_AAC(pp, ph), zufErrNullPtr);
    EXPECT_TRUE(p == bytes && first_difference(h, sentinel<AacAdtsFrameHeader>()) == -1);
}

// ------------------------------------------------------------------ program configuration element

// The element lists of program_config_element(): count field, then per entry the words of up
// to two arrays (is_cpe / ind_sw flag of 1 bit, tag of 4 bits).
struct PceList {
    int count;
    std::size_t flag, tag;  // word offsets; flag 0 for lists without one
};
const PceList kPceLists[6] = {
    {3, word(offsetof(AacPrgCfgElt, front_element_is_cpe)), word(offsetof(AacPrgCfgElt, front_element_tag_select))},
    {4, word(offsetof(AacPrgCfgElt, side_element_is_cpe)), word(offsetof(AacPrgCfgElt, side_element_tag_select))},
    {5, word(offsetof(AacPrgCfgElt, back_element_is_cpe)), word(offsetof(AacPrgCfgElt, back_element_tag_select))},
    {6, 0, word(offsetof(AacPrgCfgElt, lfe_element_tag_select))},
    {7, 0, word(offsetof(AacPrgCfgElt, assoc_data_element_tag_select))},
    {8, word(offsetof(AacPrgCfgElt, cc_element_is_ind_sw)), word(offsetof(AacPrgCfgElt, valid_cc_element_tag_select))},
};
// Widths of the nine leading fields (tag .. num_valid_cc_elements).
constexpr int kPceWidths[9] = {4, 2, 4, 4, 4, 4, 2, 3, 4};

AacPrgCfgElt random_pce(zuft::Rng& rng, int max_comment = 255) {
    AacPrgCfgElt e;
    std::memset(static_cast<void*>(&e), 0, sizeof e);
    auto r = [&](int bits) { return static_cast<Zuf32s>(rng.u32() & ((1u << bits) - 1u)); };
    const bool full = (rng.u32() & 3) == 0;  // a quarter of the elements take every count at its maximum
    for (int i = 0; i < 9; ++i) words(e)[i] = full && i >= 3 ? (1 << kPceWidths[i]) - 1 : r(kPceWidths[i]);
    if ((e.mono_mixdown_present = r(1))) e.mono_mixdown_element_number = r(4);
    if ((e.stereo_mixdown_present = r(1))) e.stereo_mixdown_element_number = r(4);
    if ((e.matrix_mixdown_idx_present = r(1))) e.matrix_mixdown_idx = r(2), e.pseudo_surround_enable = r(1);
    // Every array entry random, those beyond the counts included: they must stay untouched.
    for (std::size_t i = word(offsetof(AacPrgCfgElt, front_element_is_cpe));
         i < word(offsetof(AacPrgCfgElt, comment_field_bytes)); ++i)
        words(e)[i] = r(4);
    e.comment_field_bytes = full ? max_comment : rng.range(0, max_comment);
    for (auto& c : e.comment_field_data) c = static_cast<Zuf8u>(r(8));
    return e;
}

// program_config_element() after its element id, as 13818-7 8.5 lays it out.
void write_pce(BitWriter& w, AacPrgCfgElt e) {
    for (int i = 0; i < 9; ++i) w.put(static_cast<uint32_t>(words(e)[i]), kPceWidths[i]);
    w.put(e.mono_mixdown_present, 1);
    if (e.mono_mixdown_present) w.put(e.mono_mixdown_element_number, 4);
    w.put(e.stereo_mixdown_present, 1);
    if (e.stereo_mixdown_present) w.put(e.stereo_mixdown_element_number, 4);
    w.put(e.matrix_mixdown_idx_present, 1);
    if (e.matrix_mixdown_idx_present) w.put(e.matrix_mixdown_idx, 2), w.put(e.pseudo_surround_enable, 1);
    for (const PceList& l : kPceLists)
        for (int i = 0; i < words(e)[l.count]; ++i) {
            if (l.flag) w.put(words(e)[l.flag + i] & 1, 1);
            w.put(words(e)[l.tag + i] & 15, 4);
        }
    w.align();  // on the absolute position: the writer holds the whole stream
    w.put(e.comment_field_bytes, 8);
    for (int i = 0; i < e.comment_field_bytes; ++i) w.put(e.comment_field_data[i], 8);
}

// What a decoder leaves in a record prefilled with `before`: the model's fields, its array
// entries below their counts (as coded) and its comment bytes below their length.
AacPrgCfgElt expected_pce(AacPrgCfgElt model, const AacPrgCfgElt& before) {
    AacPrgCfgElt x = before;
    std::memcpy(&x, &model, offsetof(AacPrgCfgElt, front_element_is_cpe));  // the 16 scalars
    for (const PceList& l : kPceLists)
        for (int i = 0; i < words(model)[l.count]; ++i) {
            if (l.flag) words(x)[l.flag + i] = words(model)[l.flag + i] & 1;
            words(x)[l.tag + i] = words(model)[l.tag + i] & 15;
        }
    x.comment_field_bytes = model.comment_field_bytes;
    std::memcpy(x.comment_field_data, model.comment_field_data, static_cast<std::size_t>(model.comment_field_bytes));
    return x;
}

// At every bit offset; the element ends on a byte boundary (the comment is byte-aligned on the
// absolute position, which differs from the element's start whenever the offset is not 0).
TEST(AacPce, RandomAtEveryBitOffset) {
    zuft::Rng rng(202);
    for (int iter = 0; iter < 800; ++iter) {
        const int offset = iter % 8, lead_bytes = rng.range(0, 2);
        const AacPrgCfgElt model = random_pce(rng);
        BitWriter w;
        w.put(rng.u32() & 0xFFFFFFu, 8 * lead_bytes + offset);  // bits before the element
        write_pce(w, model);
        std::vector<Zuf8u> buf = bytes_of(w);
        AacPrgCfgElt got = sentinel<AacPrgCfgElt>();
        Zuf8u* p = buf.data() + lead_bytes;
        int off = offset;
        ASSERT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, &got), zufOk);
        ASSERT_EQ(first_difference(got, expected_pce(model, sentinel<AacPrgCfgElt>())), -1) << "iteration " << iter;
        EXPECT_EQ(off, 0);
        EXPECT_EQ(static_cast<std::size_t>(p - buf.data()) * 8, w.nbits);
    }
    Zuf8u bytes[320] = {};
    Zuf8u *p = bytes, *none = nullptr;
    int off = 0, bad_high = 8, bad_low = -1;
    AacPrgCfgElt e = sentinel<AacPrgCfgElt>();
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(nullptr, &bad_high, &e), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, nullptr, &e), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&none, &bad_high, &e), zufErrNullPtr);  // null before offset
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &bad_high, &e), zufErrAacBitOffset);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &bad_low, &e), zufErrAacBitOffset);
    EXPECT_TRUE(p == bytes && bad_high == 8 && bad_low == -1);
    EXPECT_EQ(first_difference(e, sentinel<AacPrgCfgElt>()), -1);
}

// ------------------------------------------------------------------ ADIF

struct AdifModel {
    AacAdifHeader h;
    AacPrgCfgElt pce[16];
};

AdifModel random_adif(zuft::Rng& rng, int count) {
    AdifModel m;
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    auto r = [&](int bits) { return static_cast<Zuf32s>(rng.u32() & ((1u << bits) - 1u)); };
    m.h = {(rng.u32() & 1) ? 0x41444946u : rng.u32(), r(1), r(1), r(1), r(1), r(23), count, {}, {}};
    for (auto& b : m.h.adif_buffer_fullness) b = r(20);
    for (auto& c : m.h.copyright_id) c = static_cast<Zuf8u>(r(8));
    for (int i = 0; i < count; ++i) m.pce[i] = random_pce(rng, 40);
    return m;
}

// adif_header(), 13818-7 6.1; with `count_only` it stops after the element count.
void write_adif(BitWriter& w, const AdifModel& m, bool count_only = false) {
    w.put(m.h.adif_id >> 16, 16);
    w.put(m.h.adif_id & 0xFFFFu, 16);
    w.put(m.h.copyright_id_present, 1);
    if (m.h.copyright_id_present)
        for (Zuf8u c : m.h.copyright_id) w.put(c, 8);
    w.put(m.h.original_copy, 1);
    w.put(m.h.home, 1);
    w.put(m.h.bitstream_type, 1);
    w.put(m.h.bitrate, 23);
    w.put(m.h.num_program_config_elements - 1, 4);
    if (count_only) return;
    for (int i = 0; i < m.h.num_program_config_elements; ++i) {
        if (m.h.bitstream_type == 0) w.put(m.h.adif_buffer_fullness[i], 20);
        write_pce(w, m.pce[i]);
    }
}

// The header record a parser leaves in a sentinel record; with `count_only` the fields up to
// and including the element count.
AacAdifHeader expected_adif(const AdifModel& m, bool count_only = false) {
    AacAdifHeader x = sentinel<AacAdifHeader>();
    std::memcpy(&x, &m.h, offsetof(AacAdifHeader, adif_buffer_fullness));
    if (m.h.copyright_id_present) std::memcpy(x.copyright_id, m.h.copyright_id, 9);
    if (!count_only && m.h.bitstream_type == 0)
        std::memcpy(x.adif_buffer_fullness, m.h.adif_buffer_fullness, 4 * m.h.num_program_config_elements);
    return x;
}

// Parses `buf` into sentinel records and compares them with the model.
void expect_adif(std::vector<Zuf8u> buf, const AdifModel& m, int limit, std::size_t end_bits) {
    AacAdifHeader h = sentinel<AacAdifHeader>();
    std::vector<AacPrgCfgElt> pce(16, sentinel<AacPrgCfgElt>());
    Zuf8u* p = buf.data();
    ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, pce.data(), limit), zufOk);
    EXPECT_EQ(static_cast<std::size_t>(p - buf.data()) * 8, end_bits);
    ASSERT_EQ(first_difference(h, expected_adif(m)), -1);
    for (int i = 0; i < 16; ++i) {
        const AacPrgCfgElt x = i < m.h.num_program_config_elements ? expected_pce(m.pce[i], sentinel<AacPrgCfgElt>())
                                                                   : sentinel<AacPrgCfgElt>();
        ASSERT_EQ(first_difference(pce[i], x), -1) << "element " << i;
    }
}

TEST(AacAdif, RandomRoundTrip) {
    zuft::Rng rng(303);
    for (int iter = 0; iter < 300; ++iter) {
        const int count = rng.range(1, 16), limit = rng.range(count, 16);
        const AdifModel m = random_adif(rng, count);
        BitWriter w;
        write_adif(w, m);
        SCOPED_TRACE(iter);
        expect_adif(bytes_of(w), m, limit, w.nbits);
    }
}

TEST(AacAdif, CountAndArgumentChecks) {
    zuft::Rng rng(5);
    for (int copyright = 0; copyright < 2; ++copyright) {
        AdifModel m = random_adif(rng, 2);
        m.h.copyright_id_present = copyright;
        BitWriter w, header_only;
        write_adif(w, m);
        write_adif(header_only, m, true);
        ASSERT_EQ(header_only.nbits, copyright ? 135u : 63u);
        std::vector<Zuf8u> buf = bytes_of(w);
        // A limit outside 1..16 reads nothing; more elements than the limit stop after the count,
        // on the byte that holds its last bit (there is no offset to return).
        for (int limit : {17, 0, -1, 1}) {
            AacAdifHeader h = sentinel<AacAdifHeader>();
            AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
            Zuf8u* p = buf.data();
            EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, &pce, limit), zufErrAacPrgNum) << limit;
            EXPECT_EQ(p, buf.data() + (limit == 1 ? header_only.nbits / 8 : 0));
            EXPECT_EQ(first_difference(h, limit == 1 ? expected_adif(m, true) : sentinel<AacAdifHeader>()), -1);
            EXPECT_EQ(first_difference(pce, sentinel<AacPrgCfgElt>()), -1);
        }
    }
    Zuf8u bytes[64] = {'A', 'D', 'I', 'F'};
    Zuf8u *p = bytes, *none = nullptr;
    AacAdifHeader h = sentinel<AacAdifHeader>();
    AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(nullptr, &h, &pce, 17), zufErrNullPtr);  // null before limit
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, nullptr, &pce, 1), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, nullptr, 1), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&none, &h, &pce, 0), zufErrNullPtr);
    EXPECT_EQ(p, bytes);
    EXPECT_EQ(first_difference(h, sentinel<AacAdifHeader>()), -1);
}

// ------------------------------------------------------------------ committed vectors

std::vector<Zuf8u> read_vector(const std::string& name) {
    std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tests/vectors/" + name, std::ios::binary);
    std::vector<Zuf8u> v((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    v.resize(v.size() + 3, 0);  // the readers' read-ahead
    return v;
}

// Written by tools/gen/aacpack.py, a second writer independent of this file's.
TEST(AacAdifVectors, TwoProgramConfigElements) {
    AdifModel m;
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    m.h = {0x41444946u, 1, 0, 0, 0, 384000, 2, {0x12345, 0xABCDE}, {'Z', 'U', 'F', 'A', 'C', 'K', '9', 'T', 'V'}};
    AacPrgCfgElt& a = m.pce[0];
    a.element_instance_tag = 1, a.object_type = 1, a.sampling_frequency_index = 3;
    a.num_front_channel_elements = 2, a.front_element_is_cpe[1] = 1;  // C, L/R
    a.num_side_channel_elements = 1, a.side_element_is_cpe[0] = 1, a.side_element_tag_select[0] = 1;
    a.num_back_channel_elements = 1, a.back_element_tag_select[0] = 2;
    a.num_lfe_channel_elements = 1, a.num_assoc_data_elements = 1, a.assoc_data_element_tag_select[0] = 3;
    a.num_valid_cc_elements = 1, a.cc_element_is_ind_sw[0] = 1, a.valid_cc_element_tag_select[0] = 5;
    a.mono_mixdown_present = 1, a.mono_mixdown_element_number = 2;
    a.matrix_mixdown_idx_present = 1, a.matrix_mixdown_idx = 2, a.pseudo_surround_enable = 1;
    const std::string c0 = "6.1 programme: front C+L/R, side Ls/Rs, back Cs, LFE", c1 = "stereo \"commentary\"\n\x01";
    a.comment_field_bytes = static_cast<Zuf32s>(c0.size());
    std::memcpy(a.comment_field_data, c0.data(), c0.size());
    AacPrgCfgElt& b = m.pce[1];
    b.element_instance_tag = 2, b.object_type = 1, b.sampling_frequency_index = 3;
    b.num_front_channel_elements = 1, b.front_element_is_cpe[0] = 1, b.front_element_tag_select[0] = 3;
    b.stereo_mixdown_present = 1, b.stereo_mixdown_element_number = 3;
    b.comment_field_bytes = static_cast<Zuf32s>(c1.size());
    std::memcpy(b.comment_field_data, c1.data(), c1.size());
    expect_adif(read_vector("adif_two_pce.adif"), m, 3, 112 * 8);
}

}  // namespace
