/*
 * libzufack9 AAC: bit-stream syntax of MPEG-2/MPEG-4 AAC (ISO/IEC 13818-7, ISO/IEC 14496-3).
 *
 * Bit streams are read most significant bit first through the caller's byte pointer
 * (ppBitStream) and, where the syntax element may start inside a byte, a bit offset 0..7
 * (pOffset). Readers fetch four bytes at a time: the caller's buffer must stay readable for
 * three bytes past the end of the coded data.
 *
 * Records store every field in a signed 32-bit slot whatever its coded width (byte arrays
 * excepted); field names are those of the standard's syntax.
 */
#ifndef ZUFACK9_ZUF_AAC_H
#define ZUFACK9_ZUF_AAC_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ stream headers */

/* adts_fixed_header() and adts_variable_header(), ISO/IEC 13818-7 6.2. */
typedef struct {
    Zuf32s id;                           /* 0: MPEG-4, 1: MPEG-2 */
    Zuf32s layer;
    Zuf32s protection_absent;
    Zuf32s profile;                      /* profile_ObjectType: 0 Main, 1 LC, 2 SSR, 3 LTP */
    Zuf32s sampling_frequency_index;
    Zuf32s private_bit;
    Zuf32s channel_configuration;
    Zuf32s original_copy;
    Zuf32s home;
    Zuf32s reserved;                     /* never written by the unpacker */
    Zuf32s copyright_identification_bit;
    Zuf32s copyright_identification_start;
    Zuf32s aac_frame_length;             /* whole frame in bytes, header included */
    Zuf32s adts_buffer_fullness;
    Zuf32s num_raw_data_blocks;          /* number_of_raw_data_blocks_in_frame + 1: 1..4 */
    Zuf32s crc_check;                    /* written only when protection_absent is 0 */
} AacAdtsFrameHeader;

/* program_config_element(), ISO/IEC 13818-7 8.5. Arrays are as long as their count field can
 * code; entries beyond the count are left unchanged. */
typedef struct {
    Zuf32s element_instance_tag;
    Zuf32s object_type;
    Zuf32s sampling_frequency_index;
    Zuf32s num_front_channel_elements;
    Zuf32s num_side_channel_elements;
    Zuf32s num_back_channel_elements;
    Zuf32s num_lfe_channel_elements;
    Zuf32s num_assoc_data_elements;
    Zuf32s num_valid_cc_elements;
    Zuf32s mono_mixdown_present;
    Zuf32s mono_mixdown_element_number;  /* 0 when not present */
    Zuf32s stereo_mixdown_present;
    Zuf32s stereo_mixdown_element_number;/* 0 when not present */
    Zuf32s matrix_mixdown_idx_present;
    Zuf32s matrix_mixdown_idx;           /* 0 when not present */
    Zuf32s pseudo_surround_enable;       /* 0 when the matrix mixdown index is not present */
    Zuf32s front_element_is_cpe[16];
    Zuf32s front_element_tag_select[16];
    Zuf32s side_element_is_cpe[16];
    Zuf32s side_element_tag_select[16];
    Zuf32s back_element_is_cpe[16];
    Zuf32s back_element_tag_select[16];
    Zuf32s lfe_element_tag_select[4];
    Zuf32s assoc_data_element_tag_select[8];
    Zuf32s cc_element_is_ind_sw[16];
    Zuf32s valid_cc_element_tag_select[16];
    Zuf32s comment_field_bytes;
    Zuf8u comment_field_data[256];
} AacPrgCfgElt;

/* adif_header(), ISO/IEC 13818-7 6.1. In the stream copyright_id follows copyright_id_present;
 * in the record it is the last field. */
typedef struct {
    Zuf32u adif_id;                      /* 'ADIF' = 0x41444946 in a well-formed stream */
    Zuf32s copyright_id_present;
    Zuf32s original_copy;
    Zuf32s home;
    Zuf32s bitstream_type;               /* 0 constant rate, 1 variable rate */
    Zuf32s bitrate;
    Zuf32s num_program_config_elements;  /* the actual count 1..16 (coded value + 1) */
    Zuf32s adif_buffer_fullness[16];     /* written only when bitstream_type is 0 */
    Zuf8u copyright_id[9];               /* written only when copyright_id_present is 1 */
} AacAdifHeader;

/* Unpacks one ADTS header starting on the byte *ppBitStream; leaves *ppBitStream on the first
 * byte after it (7 bytes on, or 9 with crc_check). Nothing read is validated. */
ZUF_API zufResult zufsUnpackADTSFrameHeader_AAC(Zuf8u **ppBitStream, AacAdtsFrameHeader *pFrameHeader);

/* Unpacks an ADIF header and its program configuration elements into pPrgCfgElt[0..count-1].
 * prgCfgEltMax (1..16) is how many records pPrgCfgElt holds; a stream with more elements gives
 * zufErrAacPrgNum with the position just after the count field. */
ZUF_API zufResult zufsUnpackADIFHeader_AAC(Zuf8u **ppBitStream, AacAdifHeader *pAdifHeader,
                                           AacPrgCfgElt *pPrgCfgElt, int prgCfgEltMax);

/* Decodes one program configuration element of a raw data block, starting after its 3-bit
 * element id at any bit offset. */
ZUF_API zufResult zufsDecodePrgCfgElt_AAC(Zuf8u **ppBitStream, int *pOffset, AacPrgCfgElt *pPrgCfgElt);

/* ------------------------------------------------------------------ channel side information,
 * noiseless decoding and syntax elements */

/* ------------------------------------------------------------------ spectral tools and
 * fixed-point filter bank */

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_AAC_H */
