// AAC stream headers: ADTS frame header, ADIF header, program configuration element.
//
// Streams are built here with a bit writer of the tests' own (a vector<bool>), never with the
// library's reader or writer, from records filled with random field values; the expected
// record is a sentinel-filled copy with exactly the fields the syntax carries replaced, so
// every slot that must stay untouched (reserved, crc_check without protection, array entries
// beyond a count, comment bytes beyond the length) is checked by one memcmp.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "zufack9/zuf_aac.h"

namespace {

class BitWriter {
  public:
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(((v >> i) & 1u) != 0);
    }
    void align() {
        while (bits_.size() % 8) bits_.push_back(false);
    }
    std::size_t size() const { return bits_.size(); }
    // The bytes (a partial last byte zero-filled), then `pad` bytes of 0xEE: the readers fetch
    // four bytes at a time and the header's end must not depend on what follows it.
    std::vector<Zuf8u> bytes(std::size_t pad = 4) const {
        std::vector<Zuf8u> out((bits_.size() + 7) / 8 + pad, 0xEE);
        for (std::size_t i = 0; i < (bits_.size() + 7) / 8; ++i) out[i] = 0;
        for (std::size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] = static_cast<Zuf8u>(out[i / 8] | (0x80u >> (i % 8)));
        return out;
    }

  private:
    std::vector<bool> bits_;
};

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

// ------------------------------------------------------------------ ADTS

struct AdtsFields {
    uint32_t sync;
    AacAdtsFrameHeader h;  // coded values; num_raw_data_blocks holds the coded count (0..3)
};

AdtsFields random_adts(zuft::Rng& rng, int protection_absent) {
    AdtsFields f{};
    auto r = [&](int bits) { return static_cast<Zuf32s>(rng.u32() & ((1u << bits) - 1u)); };
    f.sync = static_cast<uint32_t>(r(12));
    f.h = {r(1), r(2), protection_absent, r(2), r(4), r(1), r(3), r(1), r(1), 0, r(1), r(1), r(13), r(11), r(2), r(16)};
    return f;
}

void write_adts(BitWriter& w, const AdtsFields& f) {
    const AacAdtsFrameHeader& h = f.h;
    w.put(f.sync, 12);
    const int widths[] = {1, 2, 1, 2, 4, 1, 3, 1, 1};
    const Zuf32s values[] = {h.id,
                             h.layer,
                             h.protection_absent,
                             h.profile,
                             h.sampling_frequency_index,
                             h.private_bit,
                             h.channel_configuration,
                             h.original_copy,
                             h.home};
    for (int i = 0; i < 9; ++i) w.put(static_cast<uint32_t>(values[i]), widths[i]);
    w.put(h.copyright_identification_bit, 1);
    w.put(h.copyright_identification_start, 1);
    w.put(h.aac_frame_length, 13);
    w.put(h.adts_buffer_fullness, 11);
    w.put(h.num_raw_data_blocks, 2);
    if (h.protection_absent == 0) w.put(h.crc_check, 16);
}

TEST(AacAdts, RandomRoundTrip) {
    zuft::Rng rng(101);
    for (int iter = 0; iter < 2000; ++iter) {
        const int pa = iter & 1;
        const AdtsFields f = random_adts(rng, pa);
        BitWriter w;
        write_adts(w, f);
        std::vector<Zuf8u> buf = w.bytes();
        ASSERT_EQ(w.size(), pa ? 56u : 72u);

        AacAdtsFrameHeader expected = sentinel<AacAdtsFrameHeader>();
        const Zuf32s keep_reserved = expected.reserved, keep_crc = expected.crc_check;
        expected = f.h;
        expected.reserved = keep_reserved;
        expected.num_raw_data_blocks = f.h.num_raw_data_blocks + 1;
        if (pa) expected.crc_check = keep_crc;

        AacAdtsFrameHeader got = sentinel<AacAdtsFrameHeader>();
        Zuf8u* p = buf.data();
        ASSERT_EQ(zufsUnpackADTSFrameHeader_AAC(&p, &got), zufOk);
        EXPECT_EQ(p - buf.data(), pa ? 7 : 9);
        ASSERT_EQ(first_difference(got, expected), -1) << "iteration " << iter;
    }
}

TEST(AacAdts, RawBlockCountAndProtection) {
    zuft::Rng rng(7);
    AdtsFields f = random_adts(rng, 0);
    f.sync = 0xFFF;
    f.h.num_raw_data_blocks = 3;
    f.h.crc_check = 0xBEEF;
    BitWriter w;
    write_adts(w, f);
    std::vector<Zuf8u> buf = w.bytes();
    AacAdtsFrameHeader got = sentinel<AacAdtsFrameHeader>();
    Zuf8u* p = buf.data();
    ASSERT_EQ(zufsUnpackADTSFrameHeader_AAC(&p, &got), zufOk);
    EXPECT_EQ(got.num_raw_data_blocks, 4);
    EXPECT_EQ(got.crc_check, 0xBEEF);
    EXPECT_EQ(p, buf.data() + 9);
}

TEST(AacAdts, NullPointers) {
    Zuf8u bytes[16] = {0xFF, 0xF1};
    Zuf8u* p = bytes;
    Zuf8u* none = nullptr;
    AacAdtsFrameHeader h = sentinel<AacAdtsFrameHeader>();
    const AacAdtsFrameHeader before = h;
    EXPECT_EQ(zufsUnpackADTSFrameHeader_AAC(nullptr, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADTSFrameHeader_AAC(&p, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADTSFrameHeader_AAC(&none, &h), zufErrNullPtr);
    EXPECT_EQ(p, bytes);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(first_difference(h, before), -1);
}

// ------------------------------------------------------------------ program configuration element

AacPrgCfgElt random_pce(zuft::Rng& rng, int max_comment = 255) {
    AacPrgCfgElt e;
    std::memset(static_cast<void*>(&e), 0, sizeof e);
    auto r = [&](int bits) { return static_cast<Zuf32s>(rng.u32() & ((1u << bits) - 1u)); };
    // A quarter of the elements take every count at its maximum.
    const bool full = (rng.u32() & 3) == 0;
    e.element_instance_tag = r(4);
    e.object_type = r(2);
    e.sampling_frequency_index = r(4);
    e.num_front_channel_elements = full ? 15 : r(4);
    e.num_side_channel_elements = full ? 15 : r(4);
    e.num_back_channel_elements = full ? 15 : r(4);
    e.num_lfe_channel_elements = full ? 3 : r(2);
    e.num_assoc_data_elements = full ? 7 : r(3);
    e.num_valid_cc_elements = full ? 15 : r(4);
    e.mono_mixdown_present = r(1);
    if (e.mono_mixdown_present) e.mono_mixdown_element_number = r(4);
    e.stereo_mixdown_present = r(1);
    if (e.stereo_mixdown_present) e.stereo_mixdown_element_number = r(4);
    e.matrix_mixdown_idx_present = r(1);
    if (e.matrix_mixdown_idx_present) {
        e.matrix_mixdown_idx = r(2);
        e.pseudo_surround_enable = r(1);
    }
    for (int i = 0; i < 16; ++i) {
        e.front_element_is_cpe[i] = r(1);
        e.front_element_tag_select[i] = r(4);
        e.side_element_is_cpe[i] = r(1);
        e.side_element_tag_select[i] = r(4);
        e.back_element_is_cpe[i] = r(1);
        e.back_element_tag_select[i] = r(4);
        e.cc_element_is_ind_sw[i] = r(1);
        e.valid_cc_element_tag_select[i] = r(4);
    }
    for (auto& t : e.lfe_element_tag_select) t = r(4);
    for (auto& t : e.assoc_data_element_tag_select) t = r(4);
    e.comment_field_bytes = full ? max_comment : rng.range(0, max_comment);
    for (auto& c : e.comment_field_data) c = static_cast<Zuf8u>(r(8));
    return e;
}

// program_config_element() after its element id, as 13818-7 8.5 lays it out.
void write_pce(BitWriter& w, const AacPrgCfgElt& e) {
    w.put(e.element_instance_tag, 4);
    w.put(e.object_type, 2);
    w.put(e.sampling_frequency_index, 4);
    w.put(e.num_front_channel_elements, 4);
    w.put(e.num_side_channel_elements, 4);
    w.put(e.num_back_channel_elements, 4);
    w.put(e.num_lfe_channel_elements, 2);
    w.put(e.num_assoc_data_elements, 3);
    w.put(e.num_valid_cc_elements, 4);
    w.put(e.mono_mixdown_present, 1);
    if (e.mono_mixdown_present) w.put(e.mono_mixdown_element_number, 4);
    w.put(e.stereo_mixdown_present, 1);
    if (e.stereo_mixdown_present) w.put(e.stereo_mixdown_element_number, 4);
    w.put(e.matrix_mixdown_idx_present, 1);
    if (e.matrix_mixdown_idx_present) {
        w.put(e.matrix_mixdown_idx, 2);
        w.put(e.pseudo_surround_enable, 1);
    }
    for (int i = 0; i < e.num_front_channel_elements; ++i) {
        w.put(e.front_element_is_cpe[i], 1);
        w.put(e.front_element_tag_select[i], 4);
    }
    for (int i = 0; i < e.num_side_channel_elements; ++i) {
        w.put(e.side_element_is_cpe[i], 1);
        w.put(e.side_element_tag_select[i], 4);
    }
    for (int i = 0; i < e.num_back_channel_elements; ++i) {
        w.put(e.back_element_is_cpe[i], 1);
        w.put(e.back_element_tag_select[i], 4);
    }
    for (int i = 0; i < e.num_lfe_channel_elements; ++i) w.put(e.lfe_element_tag_select[i], 4);
    for (int i = 0; i < e.num_assoc_data_elements; ++i) w.put(e.assoc_data_element_tag_select[i], 4);
    for (int i = 0; i < e.num_valid_cc_elements; ++i) {
        w.put(e.cc_element_is_ind_sw[i], 1);
        w.put(e.valid_cc_element_tag_select[i], 4);
    }
    w.align();  // on the absolute position: the writer holds the whole stream
    w.put(e.comment_field_bytes, 8);
    for (int i = 0; i < e.comment_field_bytes; ++i) w.put(e.comment_field_data[i], 8);
}

// What a decoder leaves in a record prefilled with `before`: the model's fields, its array
// entries below their counts and its comment bytes below their length; everything else as it was.
AacPrgCfgElt expected_pce(const AacPrgCfgElt& model, const AacPrgCfgElt& before) {
    AacPrgCfgElt x = before;
    std::memcpy(&x, &model, offsetof(AacPrgCfgElt, front_element_is_cpe));  // the 16 scalars
    auto copy = [](Zuf32s* dst, const Zuf32s* src, int n) { std::memcpy(dst, src, sizeof(Zuf32s) * n); };
    copy(x.front_element_is_cpe, model.front_element_is_cpe, model.num_front_channel_elements);
    copy(x.front_element_tag_select, model.front_element_tag_select, model.num_front_channel_elements);
    copy(x.side_element_is_cpe, model.side_element_is_cpe, model.num_side_channel_elements);
    copy(x.side_element_tag_select, model.side_element_tag_select, model.num_side_channel_elements);
    copy(x.back_element_is_cpe, model.back_element_is_cpe, model.num_back_channel_elements);
    copy(x.back_element_tag_select, model.back_element_tag_select, model.num_back_channel_elements);
    copy(x.lfe_element_tag_select, model.lfe_element_tag_select, model.num_lfe_channel_elements);
    copy(x.assoc_data_element_tag_select, model.assoc_data_element_tag_select, model.num_assoc_data_elements);
    copy(x.cc_element_is_ind_sw, model.cc_element_is_ind_sw, model.num_valid_cc_elements);
    copy(x.valid_cc_element_tag_select, model.valid_cc_element_tag_select, model.num_valid_cc_elements);
    x.comment_field_bytes = model.comment_field_bytes;
    std::memcpy(x.comment_field_data, model.comment_field_data, static_cast<std::size_t>(model.comment_field_bytes));
    return x;
}

TEST(AacPce, RandomAtEveryBitOffset) {
    zuft::Rng rng(202);
    for (int iter = 0; iter < 800; ++iter) {
        const int offset = iter % 8;
        const int lead_bytes = rng.range(0, 2);
        const AacPrgCfgElt model = random_pce(rng);
        BitWriter w;
        w.put(rng.u32() & 0xFFFFFFu, 8 * lead_bytes + offset);  // bits before the element
        write_pce(w, model);
        std::vector<Zuf8u> buf = w.bytes();

        const AacPrgCfgElt before = sentinel<AacPrgCfgElt>();
        AacPrgCfgElt got = before;
        Zuf8u* p = buf.data() + lead_bytes;
        int off = offset;
        ASSERT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, &got), zufOk);
        ASSERT_EQ(first_difference(got, expected_pce(model, before)), -1) << "iteration " << iter;
        // The element ends on a byte boundary: the comment is byte-aligned.
        EXPECT_EQ(off, 0);
        EXPECT_EQ(static_cast<std::size_t>(p - buf.data()) * 8, w.size());
    }
}

TEST(AacPce, AlignmentIsOnTheAbsolutePosition) {
    // 34 bits of fixed fields and absent mixdowns, starting at bit 5: they end at bit 39, so the
    // comment length sits at bit 40 (byte 5). Aligning relative to the element's start would
    // put it at bit 45.
    AacPrgCfgElt model;
    std::memset(static_cast<void*>(&model), 0, sizeof model);
    model.element_instance_tag = 9;
    model.sampling_frequency_index = 4;
    model.comment_field_bytes = 1;
    model.comment_field_data[0] = 'X';
    BitWriter w;
    w.put(0x15, 5);
    write_pce(w, model);
    ASSERT_EQ(w.size(), 56u);
    std::vector<Zuf8u> buf = w.bytes();
    EXPECT_EQ(buf[5], 1);
    EXPECT_EQ(buf[6], 'X');

    AacPrgCfgElt got = sentinel<AacPrgCfgElt>();
    Zuf8u* p = buf.data();
    int off = 5;
    ASSERT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, &got), zufOk);
    EXPECT_EQ(got.element_instance_tag, 9);
    EXPECT_EQ(got.comment_field_bytes, 1);
    EXPECT_EQ(got.comment_field_data[0], 'X');
    EXPECT_EQ(got.comment_field_data[1], 0x5A);
    EXPECT_EQ(p, buf.data() + 7);
    EXPECT_EQ(off, 0);
}

TEST(AacPce, EmptyCommentLeavesDataAndClearsAbsentMixdowns) {
    zuft::Rng rng(3);
    AacPrgCfgElt model = random_pce(rng);
    model.comment_field_bytes = 0;
    model.mono_mixdown_present = model.stereo_mixdown_present = model.matrix_mixdown_idx_present = 0;
    model.mono_mixdown_element_number = model.stereo_mixdown_element_number = 0;
    model.matrix_mixdown_idx = model.pseudo_surround_enable = 0;
    BitWriter w;
    write_pce(w, model);
    std::vector<Zuf8u> buf = w.bytes();
    AacPrgCfgElt got = sentinel<AacPrgCfgElt>();
    Zuf8u* p = buf.data();
    int off = 0;
    ASSERT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, &got), zufOk);
    for (Zuf8u c : got.comment_field_data) ASSERT_EQ(c, 0x5A);
    EXPECT_EQ(got.mono_mixdown_element_number, 0);
    EXPECT_EQ(got.stereo_mixdown_element_number, 0);
    EXPECT_EQ(got.matrix_mixdown_idx, 0);
    EXPECT_EQ(got.pseudo_surround_enable, 0);
}

TEST(AacPce, ArgumentChecksInOrder) {
    Zuf8u bytes[320] = {};
    Zuf8u* p = bytes;
    Zuf8u* none = nullptr;
    int off = 0, bad_high = 8, bad_low = -1;
    AacPrgCfgElt e = sentinel<AacPrgCfgElt>();
    const AacPrgCfgElt before = e;
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(nullptr, &bad_high, &e), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, nullptr, &e), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &off, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&none, &bad_high, &e), zufErrNullPtr);  // null before offset
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &bad_high, &e), zufErrAacBitOffset);
    EXPECT_EQ(zufsDecodePrgCfgElt_AAC(&p, &bad_low, &e), zufErrAacBitOffset);
    EXPECT_EQ(p, bytes);
    EXPECT_EQ(bad_high, 8);
    EXPECT_EQ(bad_low, -1);
    EXPECT_EQ(first_difference(e, before), -1);
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
    m.h.adif_id = (rng.u32() & 1) ? 0x41444946u : rng.u32();
    m.h.copyright_id_present = r(1);
    for (auto& c : m.h.copyright_id) c = static_cast<Zuf8u>(r(8));
    m.h.original_copy = r(1);
    m.h.home = r(1);
    m.h.bitstream_type = r(1);
    m.h.bitrate = r(23);
    m.h.num_program_config_elements = count;
    for (auto& b : m.h.adif_buffer_fullness) b = r(20);
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

// The header record a parser leaves in a record prefilled with `before`; with `count_only`
// the fields up to and including the element count.
AacAdifHeader expected_adif(const AdifModel& m, const AacAdifHeader& before, bool count_only = false) {
    AacAdifHeader x = before;
    x.adif_id = m.h.adif_id;
    x.copyright_id_present = m.h.copyright_id_present;
    x.original_copy = m.h.original_copy;
    x.home = m.h.home;
    x.bitstream_type = m.h.bitstream_type;
    x.bitrate = m.h.bitrate;
    x.num_program_config_elements = m.h.num_program_config_elements;
    if (m.h.copyright_id_present) std::memcpy(x.copyright_id, m.h.copyright_id, 9);
    if (!count_only && m.h.bitstream_type == 0)
        for (int i = 0; i < m.h.num_program_config_elements; ++i)
            x.adif_buffer_fullness[i] = m.h.adif_buffer_fullness[i];
    return x;
}

TEST(AacAdif, RandomRoundTrip) {
    zuft::Rng rng(303);
    for (int iter = 0; iter < 300; ++iter) {
        const int count = rng.range(1, 16);
        const int limit = rng.range(count, 16);
        const AdifModel m = random_adif(rng, count);
        BitWriter w;
        write_adif(w, m);
        std::vector<Zuf8u> buf = w.bytes();

        AacAdifHeader h = sentinel<AacAdifHeader>();
        const AacAdifHeader h_before = h;
        std::vector<AacPrgCfgElt> pce(16, sentinel<AacPrgCfgElt>());
        Zuf8u* p = buf.data();
        ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, pce.data(), limit), zufOk);
        EXPECT_EQ(static_cast<std::size_t>(p - buf.data()) * 8, w.size());
        ASSERT_EQ(first_difference(h, expected_adif(m, h_before)), -1) << "iteration " << iter;
        for (int i = 0; i < 16; ++i) {
            const AacPrgCfgElt x =
                i < count ? expected_pce(m.pce[i], sentinel<AacPrgCfgElt>()) : sentinel<AacPrgCfgElt>();
            ASSERT_EQ(first_difference(pce[i], x), -1) << "iteration " << iter << ", element " << i;
        }
    }
}

TEST(AacAdif, VariableRateHasNoBufferFullness) {
    zuft::Rng rng(4);
    AdifModel m = random_adif(rng, 3);
    m.h.bitstream_type = 1;
    m.h.copyright_id_present = 0;
    BitWriter w;
    write_adif(w, m);
    BitWriter header_only;
    write_adif(header_only, m, true);
    std::vector<Zuf8u> buf = w.bytes();
    AacAdifHeader h = sentinel<AacAdifHeader>();
    std::vector<AacPrgCfgElt> pce(3, sentinel<AacPrgCfgElt>());
    Zuf8u* p = buf.data();
    ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, pce.data(), 3), zufOk);
    for (Zuf32s b : h.adif_buffer_fullness) EXPECT_EQ(b, 0x5A5A5A5A);
    for (Zuf8u c : h.copyright_id) EXPECT_EQ(c, 0x5A);
    // The first element starts right after the count field (bit 63).
    EXPECT_EQ(header_only.size(), 63u);
    EXPECT_EQ(first_difference(pce[0], expected_pce(m.pce[0], sentinel<AacPrgCfgElt>())), -1);
}

TEST(AacAdif, IdHalvesAndCopyrightOrder) {
    AdifModel m;
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    m.h.adif_id = 0x41444946u;  // "ADIF"
    m.h.copyright_id_present = 1;
    for (int i = 0; i < 9; ++i) m.h.copyright_id[i] = static_cast<Zuf8u>(0x11 * (i + 1));
    m.h.bitstream_type = 1;
    m.h.bitrate = 0x7FFFFF;
    m.h.num_program_config_elements = 1;
    BitWriter w;
    write_adif(w, m);
    std::vector<Zuf8u> buf = w.bytes();
    ASSERT_EQ(std::memcmp(buf.data(), "ADIF", 4), 0);
    AacAdifHeader h = sentinel<AacAdifHeader>();
    AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
    Zuf8u* p = buf.data();
    ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, &pce, 1), zufOk);
    EXPECT_EQ(h.adif_id, 0x41444946u);
    EXPECT_EQ(h.bitrate, 0x7FFFFF);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(h.copyright_id[i], 0x11 * (i + 1)) << i;
}

TEST(AacAdif, LimitOutOfRangeReadsNothing) {
    zuft::Rng rng(5);
    const AdifModel m = random_adif(rng, 1);
    BitWriter w;
    write_adif(w, m);
    std::vector<Zuf8u> buf = w.bytes();
    for (int limit : {17, 0, -1, 1000}) {
        AacAdifHeader h = sentinel<AacAdifHeader>();
        AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
        Zuf8u* p = buf.data();
        EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, &pce, limit), zufErrAacPrgNum) << limit;
        EXPECT_EQ(p, buf.data());
        EXPECT_EQ(first_difference(h, sentinel<AacAdifHeader>()), -1);
        EXPECT_EQ(first_difference(pce, sentinel<AacPrgCfgElt>()), -1);
    }
}

TEST(AacAdif, TooManyElementsStopsAfterTheCount) {
    zuft::Rng rng(6);
    for (int copyright = 0; copyright < 2; ++copyright) {
        AdifModel m = random_adif(rng, 2);
        m.h.copyright_id_present = copyright;
        m.h.bitstream_type = 0;
        BitWriter w;
        write_adif(w, m);
        BitWriter header_only;
        write_adif(header_only, m, true);
        ASSERT_EQ(header_only.size(), copyright ? 135u : 63u);
        std::vector<Zuf8u> buf = w.bytes();

        AacAdifHeader h = sentinel<AacAdifHeader>();
        AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
        Zuf8u* p = buf.data();
        EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, &pce, 1), zufErrAacPrgNum);
        EXPECT_EQ(h.num_program_config_elements, 2);
        // The byte that holds the count field's last bit: there is no offset to return.
        EXPECT_EQ(p, buf.data() + header_only.size() / 8);
        EXPECT_EQ(first_difference(h, expected_adif(m, sentinel<AacAdifHeader>(), true)), -1);
        EXPECT_EQ(first_difference(pce, sentinel<AacPrgCfgElt>()), -1);
    }
}

TEST(AacAdif, ArgumentChecksInOrder) {
    Zuf8u bytes[64] = {'A', 'D', 'I', 'F'};
    Zuf8u* p = bytes;
    Zuf8u* none = nullptr;
    AacAdifHeader h = sentinel<AacAdifHeader>();
    AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(nullptr, &h, &pce, 17), zufErrNullPtr);  // null before limit
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, nullptr, &pce, 1), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, nullptr, 1), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackADIFHeader_AAC(&none, &h, &pce, 0), zufErrNullPtr);
    EXPECT_EQ(p, bytes);
    EXPECT_EQ(first_difference(h, sentinel<AacAdifHeader>()), -1);
    EXPECT_EQ(first_difference(pce, sentinel<AacPrgCfgElt>()), -1);
}

// ------------------------------------------------------------------ committed vectors

std::vector<Zuf8u> read_vector(const std::string& name) {
    std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tests/vectors/" + name, std::ios::binary);
    std::vector<Zuf8u> v((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return v;
}

// What tools/gen/make-vectors.sh asked ffmpeg for. ffmpeg writes MPEG-4 ids unless told
// -write_mpeg2, never protects, and puts one block in a frame (the 4-block file is re-packed).
struct AdtsVector {
    const char* file;
    int id, profile, sampling_frequency_index, channel_configuration, blocks;
    int rate;
    double seconds;
};

const AdtsVector kAdtsVectors[] = {
    {"adts_lc_8000_mono.aac", 0, 1, 11, 1, 1, 8000, 3.0},
    {"adts_lc_22050_mono.aac", 0, 1, 7, 1, 1, 22050, 2.0},
    {"adts_lc_44100_stereo.aac", 0, 1, 4, 2, 1, 44100, 2.0},
    {"adts_lc_48000_stereo.aac", 0, 1, 3, 2, 1, 48000, 2.0},
    {"adts_mpeg2_lc_32000_stereo.aac", 1, 1, 5, 2, 1, 32000, 2.0},
    {"adts_main_44100_mono.aac", 0, 0, 4, 1, 1, 44100, 1.0},
    {"adts_lc_48000_5.1.aac", 0, 1, 3, 6, 1, 48000, 1.0},
    {"adts_lc_16000_mono_4blk.aac", 0, 1, 8, 1, 4, 16000, 2.0},
};

TEST(AacAdtsVectors, EveryFrameHasTheEncodedFieldsAndTheChainEndsAtTheFileEnd) {
    for (const AdtsVector& v : kAdtsVectors) {
        SCOPED_TRACE(v.file);
        std::vector<Zuf8u> data = read_vector(v.file);
        ASSERT_GT(data.size(), 100u);
        const std::size_t size = data.size();
        data.resize(size + 3, 0);  // the readers' read-ahead
        std::size_t pos = 0, frames = 0, blocks = 0;
        while (pos < size) {
            ASSERT_EQ(data[pos], 0xFF) << "frame " << frames;
            ASSERT_EQ(data[pos + 1] & 0xF0, 0xF0) << "frame " << frames;
            AacAdtsFrameHeader h = sentinel<AacAdtsFrameHeader>();
            Zuf8u* p = data.data() + pos;
            ASSERT_EQ(zufsUnpackADTSFrameHeader_AAC(&p, &h), zufOk);
            ASSERT_EQ(p, data.data() + pos + 7);
            EXPECT_EQ(h.id, v.id);
            EXPECT_EQ(h.layer, 0);
            EXPECT_EQ(h.protection_absent, 1);
            EXPECT_EQ(h.profile, v.profile);
            EXPECT_EQ(h.sampling_frequency_index, v.sampling_frequency_index);
            EXPECT_EQ(h.channel_configuration, v.channel_configuration);
            EXPECT_EQ(h.reserved, 0x5A5A5A5A);
            EXPECT_EQ(h.crc_check, 0x5A5A5A5A);
            ASSERT_GT(h.aac_frame_length, 7);
            if (pos + static_cast<std::size_t>(h.aac_frame_length) < size)
                EXPECT_EQ(h.num_raw_data_blocks, v.blocks);
            else
                EXPECT_TRUE(h.num_raw_data_blocks >= 1 && h.num_raw_data_blocks <= v.blocks);  // last frame
            pos += static_cast<std::size_t>(h.aac_frame_length);
            blocks += static_cast<std::size_t>(h.num_raw_data_blocks);
            ++frames;
        }
        EXPECT_EQ(pos, size);
        // The encoder covers the whole signal, with its priming delay and a final partial block.
        EXPECT_GE(blocks * 1024.0, v.seconds * v.rate);
        EXPECT_LE(blocks * 1024.0, v.seconds * v.rate + 3 * 1024);
    }
}

TEST(AacAdifVectors, TwoProgramConfigElements) {
    std::vector<Zuf8u> data = read_vector("adif_two_pce.adif");
    ASSERT_EQ(data.size(), 112u);
    data.resize(data.size() + 3, 0);
    AacAdifHeader h = sentinel<AacAdifHeader>();
    std::vector<AacPrgCfgElt> pce(3, sentinel<AacPrgCfgElt>());
    Zuf8u* p = data.data();
    ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, pce.data(), 2), zufOk);
    EXPECT_EQ(p, data.data() + 112);
    EXPECT_EQ(h.adif_id, 0x41444946u);
    EXPECT_EQ(h.copyright_id_present, 1);
    EXPECT_EQ(std::memcmp(h.copyright_id, "ZUFACK9TV", 9), 0);
    EXPECT_EQ(h.bitstream_type, 0);
    EXPECT_EQ(h.bitrate, 384000);
    EXPECT_EQ(h.num_program_config_elements, 2);
    EXPECT_EQ(h.adif_buffer_fullness[0], 0x12345);
    EXPECT_EQ(h.adif_buffer_fullness[1], 0xABCDE);
    EXPECT_EQ(h.adif_buffer_fullness[2], 0x5A5A5A5A);

    const AacPrgCfgElt& a = pce[0];
    EXPECT_EQ(a.element_instance_tag, 1);
    EXPECT_EQ(a.object_type, 1);
    EXPECT_EQ(a.sampling_frequency_index, 3);
    EXPECT_EQ(a.num_front_channel_elements, 2);
    EXPECT_EQ(a.front_element_is_cpe[0], 0);
    EXPECT_EQ(a.front_element_tag_select[0], 0);
    EXPECT_EQ(a.front_element_is_cpe[1], 1);
    EXPECT_EQ(a.front_element_tag_select[1], 0);
    EXPECT_EQ(a.num_side_channel_elements, 1);
    EXPECT_EQ(a.side_element_is_cpe[0], 1);
    EXPECT_EQ(a.side_element_tag_select[0], 1);
    EXPECT_EQ(a.num_back_channel_elements, 1);
    EXPECT_EQ(a.back_element_is_cpe[0], 0);
    EXPECT_EQ(a.back_element_tag_select[0], 2);
    EXPECT_EQ(a.num_lfe_channel_elements, 1);
    EXPECT_EQ(a.lfe_element_tag_select[0], 0);
    EXPECT_EQ(a.num_assoc_data_elements, 1);
    EXPECT_EQ(a.assoc_data_element_tag_select[0], 3);
    EXPECT_EQ(a.num_valid_cc_elements, 1);
    EXPECT_EQ(a.cc_element_is_ind_sw[0], 1);
    EXPECT_EQ(a.valid_cc_element_tag_select[0], 5);
    EXPECT_EQ(a.mono_mixdown_present, 1);
    EXPECT_EQ(a.mono_mixdown_element_number, 2);
    EXPECT_EQ(a.stereo_mixdown_present, 0);
    EXPECT_EQ(a.stereo_mixdown_element_number, 0);
    EXPECT_EQ(a.matrix_mixdown_idx_present, 1);
    EXPECT_EQ(a.matrix_mixdown_idx, 2);
    EXPECT_EQ(a.pseudo_surround_enable, 1);
    const std::string c0 = "6.1 programme: front C+L/R, side Ls/Rs, back Cs, LFE";
    ASSERT_EQ(a.comment_field_bytes, static_cast<Zuf32s>(c0.size()));
    EXPECT_EQ(std::memcmp(a.comment_field_data, c0.data(), c0.size()), 0);

    const AacPrgCfgElt& b = pce[1];
    EXPECT_EQ(b.element_instance_tag, 2);
    EXPECT_EQ(b.num_front_channel_elements, 1);
    EXPECT_EQ(b.front_element_is_cpe[0], 1);
    EXPECT_EQ(b.front_element_tag_select[0], 3);
    EXPECT_EQ(b.front_element_is_cpe[1], 0x5A5A5A5A);
    EXPECT_EQ(b.num_side_channel_elements + b.num_back_channel_elements + b.num_lfe_channel_elements +
                  b.num_assoc_data_elements + b.num_valid_cc_elements,
              0);
    EXPECT_EQ(b.mono_mixdown_present, 0);
    EXPECT_EQ(b.stereo_mixdown_present, 1);
    EXPECT_EQ(b.stereo_mixdown_element_number, 3);
    EXPECT_EQ(b.matrix_mixdown_idx_present, 0);
    const std::string c1 = "stereo \"commentary\"\n\x01";
    ASSERT_EQ(b.comment_field_bytes, static_cast<Zuf32s>(c1.size()));
    EXPECT_EQ(std::memcmp(b.comment_field_data, c1.data(), c1.size()), 0);
    EXPECT_EQ(first_difference(pce[2], sentinel<AacPrgCfgElt>()), -1);
}

TEST(AacAdifVectors, HeaderIsFollowedByTheFirstRawDataBlock) {
    std::vector<Zuf8u> data = read_vector("adif_lc_44100_stereo.adif");
    ASSERT_GT(data.size(), 1000u);
    data.resize(data.size() + 3, 0);
    AacAdifHeader h = sentinel<AacAdifHeader>();
    AacPrgCfgElt pce = sentinel<AacPrgCfgElt>();
    Zuf8u* p = data.data();
    ASSERT_EQ(zufsUnpackADIFHeader_AAC(&p, &h, &pce, 1), zufOk);
    EXPECT_EQ(h.copyright_id_present, 0);
    EXPECT_EQ(h.bitstream_type, 1);
    EXPECT_EQ(h.num_program_config_elements, 1);
    EXPECT_EQ(pce.object_type, 1);
    EXPECT_EQ(pce.sampling_frequency_index, 4);
    EXPECT_EQ(pce.num_front_channel_elements, 1);
    EXPECT_EQ(pce.front_element_is_cpe[0], 1);
    EXPECT_EQ(pce.front_element_tag_select[0], 0);
    EXPECT_EQ(pce.comment_field_bytes, 0);
    // 63 header bits + 39 PCE bits, aligned, + the empty comment's length byte: 14 bytes. The
    // block that follows opens with id_syn_ele ID_CPE (1) and element_instance_tag 0.
    ASSERT_EQ(p, data.data() + 14);
    EXPECT_EQ(p[0] >> 5, 1);
    EXPECT_EQ((p[0] >> 1) & 15, 0);
}

}  // namespace
