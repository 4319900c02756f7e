// AAC transport and configuration headers: ADTS frame header, ADIF header and the program
// configuration element (ISO/IEC 13818-7 6.1, 6.2 and 8.5; ISO/IEC 14496-3 1.A.2/1.A.3).
//
// The parsers are plain field-by-field reads in syntax order. They validate nothing they read:
// a wrong syncword or a reserved sampling index is handed back as read, and the caller judges.
// Fields are at most 23 bits wide here. Every read fetches four bytes, so the caller's buffer
// needs three readable bytes past the end of the header.
#include "aac/aac_headers.h"

#include <cstddef>

#include "common/bitstream.h"
#include "common/checks.h"

// The records are part of the ABI: every slot is a 32-bit integer or a byte array, so the
// layout is the same on every target we build for, and it must match the 32-bit x86 one exactly.
static_assert(sizeof(AacAdtsFrameHeader) == 64 && offsetof(AacAdtsFrameHeader, reserved) == 36 &&
                  offsetof(AacAdtsFrameHeader, crc_check) == 60,
              "AacAdtsFrameHeader layout");
static_assert(offsetof(AacAdifHeader, adif_id) == 0 && offsetof(AacAdifHeader, num_program_config_elements) == 24 &&
                  offsetof(AacAdifHeader, adif_buffer_fullness) == 28 && offsetof(AacAdifHeader, copyright_id) == 92 &&
                  sizeof(AacAdifHeader) == 104,
              "AacAdifHeader layout");
static_assert(offsetof(AacPrgCfgElt, front_element_is_cpe) == 64 &&
                  offsetof(AacPrgCfgElt, lfe_element_tag_select) == 448 &&
                  offsetof(AacPrgCfgElt, assoc_data_element_tag_select) == 464 &&
                  offsetof(AacPrgCfgElt, cc_element_is_ind_sw) == 496 &&
                  offsetof(AacPrgCfgElt, valid_cc_element_tag_select) == 560 &&
                  offsetof(AacPrgCfgElt, comment_field_bytes) == 624 &&
                  offsetof(AacPrgCfgElt, comment_field_data) == 628 && sizeof(AacPrgCfgElt) == 884,
              "AacPrgCfgElt layout");

namespace zuf {

namespace {

// A run of (is_cpe, tag_select) pairs: front, side and back channel elements, and the coupling
// channel elements (cc_element_is_ind_sw, valid_cc_element_tag_select) share this layout.
void read_flag_tag_pairs(const FieldReader& r, Zuf32s count, Zuf32s* flags, Zuf32s* tags) {
    for (Zuf32s i = 0; i < count; ++i) {
        flags[i] = r.get(1);
        tags[i] = r.get(4);
    }
}

void read_tags(const FieldReader& r, Zuf32s count, Zuf32s* tags) {
    for (Zuf32s i = 0; i < count; ++i) tags[i] = r.get(4);
}

}  // namespace

void ownsUnpackADTSFrameHeader_AAC(Zuf8u** ppBitStream, AacAdtsFrameHeader* h) {
    int offset = 0;
    FieldReader r{ppBitStream, &offset};
    (void)r.get(12);  // syncword: finding the frame is the caller's business
    h->id = r.get(1);
    h->layer = r.get(2);
    h->protection_absent = r.get(1);
    h->profile = r.get(2);
    h->sampling_frequency_index = r.get(4);
    h->private_bit = r.get(1);
    h->channel_configuration = r.get(3);
    h->original_copy = r.get(1);
    h->home = r.get(1);
    // adts_variable_header(); the record's reserved slot has no counterpart in the stream.
    h->copyright_identification_bit = r.get(1);
    h->copyright_identification_start = r.get(1);
    h->aac_frame_length = r.get(13);
    h->adts_buffer_fullness = r.get(11);
    h->num_raw_data_blocks = r.get(2) + 1;  // number_of_raw_data_blocks_in_frame is coded minus one
    // adts_error_check(): present only in protected streams.
    if (h->protection_absent == 0) h->crc_check = r.get(16);
}

zufResult ownsDecodePrgCfgElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacPrgCfgElt* e) {
    FieldReader r{ppBitStream, pOffset};
    e->element_instance_tag = r.get(4);
    e->object_type = r.get(2);
    e->sampling_frequency_index = r.get(4);
    e->num_front_channel_elements = r.get(4);
    e->num_side_channel_elements = r.get(4);
    e->num_back_channel_elements = r.get(4);
    e->num_lfe_channel_elements = r.get(2);
    e->num_assoc_data_elements = r.get(3);
    e->num_valid_cc_elements = r.get(4);

    // Absent optional fields read as 0, so a record never carries a previous element's values.
    e->mono_mixdown_element_number = 0;
    e->stereo_mixdown_element_number = 0;
    e->matrix_mixdown_idx = 0;
    e->pseudo_surround_enable = 0;
    e->mono_mixdown_present = r.get(1);
    if (e->mono_mixdown_present == 1) e->mono_mixdown_element_number = r.get(4);
    e->stereo_mixdown_present = r.get(1);
    if (e->stereo_mixdown_present == 1) e->stereo_mixdown_element_number = r.get(4);
    e->matrix_mixdown_idx_present = r.get(1);
    if (e->matrix_mixdown_idx_present == 1) {
        e->matrix_mixdown_idx = r.get(2);
        e->pseudo_surround_enable = r.get(1);
    }

    // The counts are at most 15, 3, 7 and 15 by their widths, and the arrays are that long, so
    // no count needs a check; entries beyond a count keep whatever the caller left there.
    read_flag_tag_pairs(r, e->num_front_channel_elements, e->front_element_is_cpe, e->front_element_tag_select);
    read_flag_tag_pairs(r, e->num_side_channel_elements, e->side_element_is_cpe, e->side_element_tag_select);
    read_flag_tag_pairs(r, e->num_back_channel_elements, e->back_element_is_cpe, e->back_element_tag_select);
    read_tags(r, e->num_lfe_channel_elements, e->lfe_element_tag_select);
    read_tags(r, e->num_assoc_data_elements, e->assoc_data_element_tag_select);
    read_flag_tag_pairs(r, e->num_valid_cc_elements, e->cc_element_is_ind_sw, e->valid_cc_element_tag_select);

    // byte_alignment() is relative to the stream, not to the element's first bit.
    r.align();
    e->comment_field_bytes = r.get(8);
    for (Zuf32s i = 0; i < e->comment_field_bytes; ++i) e->comment_field_data[i] = static_cast<Zuf8u>(r.get(8));
    return zufOk;
}

zufResult ownsUnpackADIFHeader_AAC(Zuf8u** ppBitStream, AacAdifHeader* h, AacPrgCfgElt* pPrgCfgElt, int prgCfgEltMax) {
    int offset = 0;
    FieldReader r{ppBitStream, &offset};
    // adif_id is 32 bits, beyond what one read may fetch: take it as two halves.
    const uint32_t idHigh = static_cast<uint32_t>(r.get(16));
    const uint32_t idLow = static_cast<uint32_t>(r.get(16));
    h->adif_id = (idHigh << 16) | idLow;
    h->copyright_id_present = r.get(1);
    if (h->copyright_id_present == 1) {
        for (int i = 0; i < 9; ++i) h->copyright_id[i] = static_cast<Zuf8u>(r.get(8));
    }
    h->original_copy = r.get(1);
    h->home = r.get(1);
    h->bitstream_type = r.get(1);
    h->bitrate = r.get(23);
    h->num_program_config_elements = r.get(4) + 1;
    // The count is stored before it is judged, so a caller can size its array from the error.
    if (h->num_program_config_elements > prgCfgEltMax) return zufErrAacPrgNum;

    for (Zuf32s i = 0; i < h->num_program_config_elements; ++i) {
        // adif_buffer_fullness exists only in constant-rate streams (bitstream_type 0).
        if (h->bitstream_type == 0) h->adif_buffer_fullness[i] = r.get(20);
        (void)ownsDecodePrgCfgElt_AAC(ppBitStream, &offset, &pPrgCfgElt[i]);
    }
    return zufOk;
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsUnpackADTSFrameHeader_AAC(Zuf8u** ppBitStream, AacAdtsFrameHeader* pFrameHeader) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pFrameHeader), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    zuf::ownsUnpackADTSFrameHeader_AAC(ppBitStream, pFrameHeader);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsUnpackADIFHeader_AAC(Zuf8u** ppBitStream, AacAdifHeader* pAdifHeader,
                                                      AacPrgCfgElt* pPrgCfgElt, int prgCfgEltMax) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pAdifHeader, pPrgCfgElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::in_range(prgCfgEltMax, 1, 16), zufErrAacPrgNum);
    return zuf::ownsUnpackADIFHeader_AAC(ppBitStream, pAdifHeader, pPrgCfgElt, prgCfgEltMax);
}

extern "C" ZUF_API zufResult zufsDecodePrgCfgElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacPrgCfgElt* pPrgCfgElt) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pOffset, pPrgCfgElt), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pOffset), zufErrAacBitOffset);
    return zuf::ownsDecodePrgCfgElt_AAC(ppBitStream, pOffset, pPrgCfgElt);
}
