// Channel side-information parsers and the syntax-element decoders on hand-built streams:
// fields, what stays stored and where the position stands after each failure.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aac/aac_huffman_tables.h"
#include "aac/aac_syntax.h"
#include "support/aac_bitwriter.h"
#include "zufack9/zuf_aac.h"

namespace {

using V = std::vector<long>;  // rows of results compared as one

using namespace zuft::aac;

TEST(AacIcsInfo, LongWindowWithPredictor) {
    // lead; reserved, LONG_START, KBD; max_sfb, predictor_data_present, reset; group number,
    // prediction_used 0..7
    Stream s({{3, 3}, {1, 1}, {2, 1}, {1, 1}, {6, 8}, {1, 1}, {1, 1}, {5, 17}, {8, 0b10110011}}, 3);
    AacIcsInfo ics;
    std::memset(&ics, 0x77, sizeof ics);
    ASSERT_EQ(zuf::ownsUnpackIcsInfo_AAC(&s.p, &s.off, &ics, 10), zufOk);
    EXPECT_EQ(s.pos(), s.end);
    // (The other fields are covered by the channel round trips.)
    EXPECT_EQ(ics.ics_reserved_bit, 1);
    EXPECT_EQ(ics.predictor_reset_group_number, 17);
    const Zuf8u used[11] = {1, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0x77};  // zeros up to pred_sfb_max - 1
    EXPECT_EQ(std::memcmp(ics.prediction_used, used, 11), 0);

    // max_sfb 52 fails at once, right after the field.
    Stream s3({{4, 0}, {6, 52}, {10, 0x3FF}});
    EXPECT_EQ((V{zuf::ownsUnpackIcsInfo_AAC(&s3.p, &s3.off, &ics, 0), s3.pos(), ics.max_sfb}),
              (V{zufErrAacMaxSfb, 10, 52}));
}

TEST(AacIcsInfo, Mpeg4LongTermPredictionAndWidePredictorBands) {
    // LTP object type, pair with common window: both channels' ltp_data, 40 ltp_long_used bits
    // for max_sfb 45.
    BitWriter w = bits({{4, 0}, {6, 45}, {1, 1}});
    for (int ch = 0; ch < 2; ++ch) {
        w.put(1, 1), w.put(1000 + ch, 11), w.put(5 + ch, 3);
        for (int b = 0; b < 40; ++b) w.put((b + ch) % 3 == 0, 1);
    }
    Stream s(w);
    AacIcsInfo ics{};
    AacMainHeader mh{};
    ASSERT_EQ(zuf::ownsUnpackIcsInfo_MP4_AAC(&s.p, &s.off, &mh, &ics, 51, 4, 1), zufOk);
    EXPECT_EQ((V{s.pos(), mh.max_sfb, mh.window_sequence}), (V{s.end, 45, 0}));
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ((V{mh.ltp[ch].ltp_data_present, mh.ltp[ch].ltp_long_present, mh.ltp[ch].ltp_lag}),
                  (V{1, 1, 1000 + ch}));
        EXPECT_EQ(mh.ltp[ch].ltp_coef, ch ? 19572 : 17496);
        for (int b = 0; b < 40; ++b) EXPECT_EQ(mh.ltp[ch].ltp_long_used[b], (b + ch) % 3 == 0);
    }
    // Without predictor data both LTP flags are cleared; a single channel reads one ltp_data.
    Stream s1({{4, 0}, {6, 3}, {1, 0}});
    ASSERT_EQ(zuf::ownsUnpackIcsInfo_MP4_AAC(&s1.p, &s1.off, &mh, &ics, 51, 4, 1), zufOk);
    EXPECT_EQ(mh.ltp[0].ltp_data_present + mh.ltp[1].ltp_data_present, 0);

    // Main object type with pred_sfb_max 51: all 51 flags are read, the first 41 kept.
    BitWriter wm = bits({{4, 0}, {6, 51}, {1, 1}, {1, 0}});
    for (int b = 0; b < 51; ++b) wm.put(b & 1, 1);
    Stream sm(wm);
    ASSERT_EQ(zuf::ownsUnpackIcsInfo_MP4_AAC(&sm.p, &sm.off, &mh, &ics, 51, 1, 0), zufOk);
    EXPECT_EQ(sm.pos(), sm.end);
    for (int b = 0; b < 41; ++b) EXPECT_EQ(ics.prediction_used[b], b & 1);
}

struct SectOut {
    Zuf8u cb[120], end[120], sfb_cb[128];
    Zuf32s num[8];
    SectOut() { std::memset(this, 0x77, sizeof *this); }
};

TEST(AacSectionData, Refusals) {
    // max_sfb 51, lengths 31, 31: the second field takes the section past 51, so no third field
    // is read; codebooks stop at band 51 and the section ends at 62.
    const BitWriter w2 = bits({{4, 3}, {5, 31}, {5, 31}, {5, 31}});
    Stream s2(w2);
    SectOut o2;
    // (Sections, escapes and codebooks per band are checked by the channel round trips.)
    EXPECT_EQ(zuf::ownsDecodeSectData_AAC(&s2.p, &s2.off, 51, 0, 1, o2.cb, o2.end, o2.num, o2.sfb_cb),
              zufErrAacSectData);
    EXPECT_EQ((V{s2.pos(), o2.sfb_cb[50], o2.sfb_cb[51], o2.end[0], o2.num[0]}), (V{14, 3, 0x77, 62, 0x77777777}));

    // max_sfb 0 reads nothing; zero-length sections cannot outnumber max_sfb.
    Stream s3(w2);
    ASSERT_EQ(zuf::ownsDecodeSectData_AAC(&s3.p, &s3.off, 0, 2, 8, o2.cb, o2.end, o2.num, o2.sfb_cb), zufOk);
    EXPECT_EQ(s3.pos(), 0);
    EXPECT_EQ(o2.num[7], 0);
    Stream s4(Fields{{27, 0}});
    EXPECT_EQ(zuf::ownsDecodeSectData_AAC(&s4.p, &s4.off, 2, 0, 1, o2.cb, o2.end, o2.num, o2.sfb_cb),
              zufErrAacSectData);
    EXPECT_EQ(s4.pos(), 18);
}

// Scale factors of one group from hand-written sections.
struct SfCase {
    Zuf8u cb[120] = {}, end[120] = {};
    Zuf32s num[8] = {};
    Zuf16s out[120];
    SfCase(std::initializer_list<std::pair<int, int>> s) {
        std::memset(out, 0x55, sizeof out);
        for (auto [c, e] : s) cb[num[0]] = static_cast<Zuf8u>(c), end[num[0]++] = static_cast<Zuf8u>(e);
    }
    zufResult run(Stream& s, bool mpeg4, int gain) {
        return mpeg4 ? zuf::ownsDecodeScalefactor_AAC_MPEG4_1u16s(&s.p, &s.off, out, gain, 1, num, cb, end)
                     : zuf::ownsDecodeScalefactor_AAC_1u16s(&s.p, &s.off, out, gain, 1, num, cb, end);
    }
};

TEST(AacScaleFactors, Refusals) {
    // (The three DPCM chains are covered by the channel round trips.) The MPEG-2 variant refuses
    // a noise band with -166 at its first noise band; the position stays at the start, the values
    // before it are stored.
    BitWriter w;
    w.put(1, 5);  // lead
    w.put(codebook(0)[110]), w.put(codebook(0)[53]), w.put(codebook(0)[120]);
    SfCase c2({{1, 1}, {15, 3}, {13, 5}});
    Stream s2(w, 5);
    EXPECT_EQ(c2.run(s2, false, 200), zufErrAacCodebook);
    EXPECT_EQ(s2.pos(), 5);
    EXPECT_EQ(std::vector<Zuf16s>(c2.out, c2.out + 4), (std::vector<Zuf16s>{250, -7, 53, 0x5555}));

    // 250 + 6 = 256 fails with -164; the same difference on an intensity band is accepted.
    for (int cb : {15, 4}) {
        SfCase c3({{1, 1}, {cb, 2}});
        Stream s3({{codebook(0)[110].len, codebook(0)[110].code}, {codebook(0)[66].len, codebook(0)[66].code}});
        EXPECT_EQ(c3.run(s3, cb == 15, 200), cb == 15 ? zufOk : zufErrAacSfValue);
        EXPECT_EQ(c3.out[0], 250);
        EXPECT_EQ(s3.pos(), cb == 15 ? s3.end : 0);
    }
    // A later noise energy outside 0..255 fails; the first, from the raw value, is not checked.
    BitWriter w4;
    w4.put(0, 9), w4.put(codebook(0)[59]);
    SfCase c4({{13, 2}});
    Stream s4(w4);
    EXPECT_EQ(c4.run(s4, true, 100), zufErrAacSfValue);
    EXPECT_EQ(c4.out[0], 100 - 346);
    // Codebook 12 is reserved in both variants.
    SfCase c5({{12, 1}});
    for (bool mpeg4 : {false, true}) {
        Stream s5(w4);
        EXPECT_EQ(c5.run(s5, mpeg4, 100), zufErrAacCodebook);
    }
}

TEST(AacPulseTnsLtp, FieldParsers) {
    // pulse_data: start band 52 fails after its field.
    Stream sp({{2, 3}, {6, 52}, {16, 0}});
    Zuf32s np, start, offs[4], amps[4];
    EXPECT_EQ((V{zuf::ownsDecodePulseData_AAC(&sp.p, &sp.off, &np, &start, offs, amps), np, sp.pos()}),
              (V{zufErrAacPulse, 4, 8}));

    // tns_data (its fields are covered by the channel round trips): a filter of order 13 fails
    // right after its order field.
    Stream st({{2, 1}, {1, 1}, {6, 7}, {5, 13}, {8, 0}});
    AacChanInfo ci;
    Zuf8s coef[8];
    EXPECT_EQ(
        zuf::ownsDecodeTnsData_AAC(&st.p, &st.off, 0, ci.n_filt, ci.coef_res, ci.length, ci.order, ci.direction, coef),
        zufErrAacTnsOrder);
    EXPECT_EQ(st.pos(), 14);

    // Short-window ltp_data: windows 3 and 5 used; window 3 takes ltp_lag without lag bits,
    // window 5 a coded difference: (lag - 20) + 16.
    AacMainHeader mh{};
    mh.window_sequence = 2;
    BitWriter wl;
    wl.put(700, 11), wl.put(0, 3);
    for (int win = 0; win < 8; ++win) {
        wl.put(win == 3 || win == 5, 1);
        if (win == 5) wl.put(1, 1), wl.put(20, 5);
    }
    Stream sl(wl);
    AacLtpInfo ltp;
    std::memset(&ltp, 0x77, sizeof ltp);
    zuf::ownsDecodeLtpData_AAC(&sl.p, &sl.off, &mh, &ltp);
    EXPECT_EQ((V{sl.pos(), ltp.ltp_coef, ltp.ltp_short_lag[3], ltp.ltp_short_lag_present[3], ltp.ltp_short_lag[5],
                 ltp.ltp_short_used[4], ltp.ltp_short_lag[4], ltp.ltp_long_present}),
              (V{sl.end, 9352, 700, 0, 696, 0, 0x77777777, 0x77777777}));
    for (auto r : ltp.reserved) EXPECT_EQ(r, 0x77777777);
}

TEST(AacChanPairElt, CommonWindowAndMsMask) {
    AacIcsInfo ics{};
    AacChanPairElt cpe;
    std::memset(&cpe, 0x77, sizeof cpe);
    Stream s0({{1, 0}, {16, 0xFFFF}});
    ASSERT_EQ(zufsDecodeChanPairElt_AAC(&s0.p, &s0.off, &ics, &cpe, 0), zufOk);
    EXPECT_EQ((V{s0.pos(), cpe.common_window, cpe.ms_mask_present}), (V{1, 0, 0x77777777}));

    // Short windows in groups 3 + 5, max_sfb 4, ms_mask_present 1: 8 flags at group x 60 + band.
    Stream s({{1, 1}, {1, 0}, {2, 2}, {1, 0}, {4, 4}, {7, 0b1101111}, {2, 1}, {4, 0b1001}, {4, 0b0110}});
    ASSERT_EQ(zufsDecodeChanPairElt_AAC(&s.p, &s.off, &ics, &cpe, 41), zufOk);
    EXPECT_EQ(s.pos(), s.end);
    EXPECT_EQ(ics.num_window_groups, 2);
    EXPECT_EQ(std::vector<int>(cpe.ms_used, cpe.ms_used + 5), (std::vector<int>{1, 0, 0, 1, 0x77}));
    EXPECT_EQ(std::vector<int>(cpe.ms_used + 60, cpe.ms_used + 65), (std::vector<int>{0, 1, 1, 0, 0x77}));

    // ms_mask_present 2 reads no flags and leaves them as they were.
    Stream s2({{1, 1}, {4, 0}, {6, 30}, {1, 0}, {2, 2}});
    ASSERT_EQ(zufsDecodeChanPairElt_AAC(&s2.p, &s2.off, &ics, &cpe, 41), zufOk);
    EXPECT_EQ((V{s2.pos(), cpe.ms_mask_present, cpe.ms_used[0]}), (V{s2.end, 2, 1}));

    // The MPEG-4 variant with LTP: both channels' ltp_data_present are read.
    Stream s4({{1, 1}, {4, 0}, {6, 2}, {1, 1}, {1, 1}, {11, 5}, {3, 0}, {2, 3}, {1, 0}, {2, 0}});
    AacMainHeader mh{};
    ASSERT_EQ(zufsDecodeChanPairElt_MP4_AAC(&s4.p, &s4.off, &ics, &cpe, &mh, 51, 4), zufOk);
    EXPECT_EQ((V{s4.pos(), mh.ltp[0].ltp_lag, mh.ltp[0].ltp_long_used[1], mh.ltp[1].ltp_data_present}),
              (V{s4.end, 5, 1, 0}));

    // Checks, and an ics_info failure passed through.
    Zuf8u* null_p = nullptr;
    int bad_off = 8;
    EXPECT_EQ((V{zufsDecodeChanPairElt_AAC(&null_p, &s.off, &ics, &cpe, 0),
                 zufsDecodeChanPairElt_AAC(&s.p, &bad_off, nullptr, &cpe, 0),
                 zufsDecodeChanPairElt_AAC(&s.p, &bad_off, &ics, &cpe, 99),
                 zufsDecodeChanPairElt_AAC(&s.p, &s.off, &ics, &cpe, 42),
                 zufsDecodeChanPairElt_MP4_AAC(&s.p, &s.off, &ics, &cpe, &mh, 52, 2),
                 zufsDecodeChanPairElt_MP4_AAC(&s.p, &s.off, &ics, &cpe, nullptr, 51, 2)}),
              (V{zufErrNullPtr, zufErrNullPtr, zufErrAacBitOffset, zufErrAacPred, zufErrAacMaxSfb, zufErrNullPtr}));
    Stream sb({{1, 1}, {4, 0}, {6, 63}});
    EXPECT_EQ(zufsDecodeChanPairElt_AAC(&sb.p, &sb.off, &ics, &cpe, 0), zufErrAacMaxSfb);
    EXPECT_EQ(sb.pos(), 11);
}

TEST(AacDataAndFillElements, CountsEscapesAndAlignment) {
    BitWriter w = bits({{2, 0}, {4, 9}, {1, 1}, {8, 255}, {8, 255}});
    w.align();
    for (int i = 0; i < 510; ++i) w.put(static_cast<uint32_t>(i * 7) & 0xFF, 8);
    Stream s(w, 2);
    int tag = -1, cnt = -1;
    std::vector<Zuf8u> data(512, 0);
    ASSERT_EQ(zufsDecodeDatStrElt_AAC(&s.p, &s.off, &tag, &cnt, data.data()), zufOk);
    EXPECT_EQ((V{tag, cnt, data[509], data[510], s.pos()}), (V{9, 510, (509 * 7) & 0xFF, 0, s.end}));

    for (int esc : {0, 255}) {
        BitWriter wf = bits({{2, 1}, {4, 15}, {8, static_cast<uint32_t>(esc)}});
        for (int i = 0; i < 14 + esc; ++i) wf.put(0xA5, 8);
        Stream sf(wf, 2);
        ASSERT_EQ(zufsDecodeFillElt_AAC(&sf.p, &sf.off, &cnt, data.data()), zufOk);
        EXPECT_EQ((V{cnt, sf.pos()}), (V{14 + esc, sf.end}));
    }
    int bad = -1;
    EXPECT_EQ(
        (V{zufsDecodeDatStrElt_AAC(&s.p, &s.off, &tag, nullptr, data.data()),
           zufsDecodeDatStrElt_AAC(&s.p, &bad, &tag, &cnt, data.data()),
           zufsDecodeFillElt_AAC(&s.p, &s.off, &cnt, nullptr), zufsDecodeFillElt_AAC(&s.p, &bad, &cnt, data.data())}),
        (V{zufErrNullPtr, zufErrAacBitOffset, zufErrNullPtr, zufErrAacBitOffset}));
}

TEST(AacScalableHeaders, MainHeader) {
    std::vector<Zuf8u> ms(480, 0x77);
    AacMainHeader mh;
    std::memset(&mh, 0x55, sizeof mh);
    mh.ms_used = ms.data();
    // Short windows, grouping 0000000 (eight groups), max_sfb 3, ms_mask_present 2; channel 0
    // with TNS (window 0: one filter of order 1) and no LTP, channel 1 with LTP.
    Stream s({{2, 2}, {1, 1}, {4, 3},  {7, 0}, {2, 2},                                          // ics_info
              {1, 1}, {1, 1}, {1, 0},  {4, 9}, {3, 1}, {1, 0}, {1, 0}, {3, 5}, {7, 0}, {1, 0},  // ch 0
              {1, 0}, {1, 1}, {11, 1}, {3, 7}, {8, 0}});                                        // ch 1
    ASSERT_EQ(zufsDecodeMainHeader_AAC(&s.p, &s.off, &mh, 2, 1), zufErrNotSupported);
    EXPECT_EQ(s.pos(), s.end);
    EXPECT_EQ(mh.num_window_groups, 8);
    for (int g = 0; g < 8; ++g) {
        EXPECT_EQ(
            (V{mh.window_group_length[g], ms[static_cast<size_t>(g * 60 + 2)], ms[static_cast<size_t>(g * 60 + 3)]}),
            (V{1, 1, 0x77}));
    }
    EXPECT_EQ((V{mh.tns[0].tns_data_present, mh.tns[0].coef_res[0], mh.tns[0].coef[0]}), (V{1, 3, -3}));
    EXPECT_EQ(mh.tns[0].coef[1], 0);  // cleared before reading
    EXPECT_EQ((V{mh.ltp[0].ltp_data_present, mh.ltp[0].ltp_lag, mh.ltp[1].ltp_coef, mh.ltp[1].reserved[0]}),
              (V{0, 0, 22438, 0x55555555}));

    // Long window: one group, lengths 1..7 cleared, ms_mask_present 0 clears the coded flags.
    Stream sl({{2, 0}, {1, 0}, {6, 40}, {2, 0}, {4, 0}});
    ASSERT_EQ(zufsDecodeMainHeader_AAC(&sl.p, &sl.off, &mh, 2, 0), zufOk);
    EXPECT_EQ((V{sl.pos(), mh.window_group_length[7], ms[39], ms[40]}), (V{sl.end, 0, 0, 0x77}));

    int bad = 8;
    EXPECT_EQ((V{zufsDecodeMainHeader_AAC(&s.p, &s.off, nullptr, 9, 9), zufsDecodeMainHeader_AAC(&s.p, &bad, &mh, 9, 9),
                 zufsDecodeMainHeader_AAC(&s.p, &s.off, &mh, 3, 9), zufsDecodeMainHeader_AAC(&s.p, &s.off, &mh, 1, 2)}),
              (V{zufErrNullPtr, zufErrAacBitOffset, zufErrAacChanNum, zufErrAacLayerFlag}));
}

TEST(AacScalableHeaders, ExtensionHeader) {
    std::vector<Zuf8u> ms(480, 0x77);
    AacExtensionHeader eh;
    std::memset(&eh, 0x55, sizeof eh);
    eh.ms_used = ms.data();
    // Long window, max_sfb 6, bands 2..5 M/S flags 1 0 1 0; no TNS for either channel; diff
    // control for bands 2..4 (sfbLimit 5) whose flag is 0: band 3 only, per channel.
    Stream s({{6, 6}, {2, 1}, {4, 0b1010}, {1, 0}, {1, 0}, {1, 1}, {1, 0}});
    ASSERT_EQ(zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 1, 1, 1, 2, 5, 0), zufOk);
    EXPECT_EQ(s.pos(), s.end);
    EXPECT_EQ(std::vector<int>(ms.begin(), ms.begin() + 7), (std::vector<int>{0x77, 0x77, 1, 0, 1, 0, 0x77}));
    EXPECT_EQ((V{eh.diff_control_lr[0][0], eh.diff_control_lr[1][0], eh.diff_control_lr[0][1]}), (V{1, 0, 0x55555555}));

    // Short windows: four groups of flags from sfbStart 0, eight diff-control bits per channel.
    Stream ss({{4, 2}, {2, 1}, {8, 0b11100100}, {8, 0xAB}, {8, 0xCD}});
    ASSERT_EQ(zufsDecodeExtensionHeader_AAC(&ss.p, &ss.off, &eh, 0, 1, 1, 0, 51, 2), zufOk);
    EXPECT_EQ((V{ss.pos(), ms[180], ms[181], ms[121], eh.diff_control_lr[1][7]}), (V{ss.end, 0, 0, 1, 1}));

    // max_sfb above 60 fails after its field; then the checks in their order.
    Stream sb(Fields{{6, 61}});
    EXPECT_EQ((V{zufsDecodeExtensionHeader_AAC(&sb.p, &sb.off, &eh, 0, 0, 0, 0, 0, 3), sb.pos(), eh.max_sfb}),
              (V{zufErrAacMaxSfb, 6, 61}));
    int bad = -1;
    EXPECT_EQ((V{zufsDecodeExtensionHeader_AAC(&s.p, &bad, nullptr, 2, 2, 2, 99, 99, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &bad, &eh, 2, 2, 2, 99, 99, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 2, 2, 2, 99, 99, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 1, 2, 2, 99, 99, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 1, 1, 2, 99, 99, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 1, 1, 1, 0, 52, 9),
                 zufsDecodeExtensionHeader_AAC(&s.p, &s.off, &eh, 1, 1, 1, 0, 51, 4)}),
              (V{zufErrNullPtr, zufErrAacBitOffset, zufErrAacLayerFlag, zufErrAacStereoFlag, zufErrAacDiffCtrlFlag,
                 zufErrAacMaxSfb, zufErrAacWinSeq}));
}

}  // namespace
