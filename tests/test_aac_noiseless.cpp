// Noiseless decoding: the decode trees against the standard's codeword tables, the tuple and
// escape decoder, spectral data and pulses, and both channel drivers against a test-side model
// that writes individual_channel_stream() from the syntax.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "aac/aac_huffman_tables.h"
#include "aac/aac_syntax.h"
#include "support/aac_bitwriter.h"
#include "zufack9/zuf_aac.h"

namespace {

using V = std::vector<long>;  // rows of results compared as one

using namespace zuft::aac;

// Values of codeword index idx of a book, by the index formula of ISO/IEC 13818-7 8.3.2.
std::vector<int> tuple_of(int cb, int idx) {
    const Book b = book_of(cb);
    const int mod = b.is_unsigned ? b.lav + 1 : 2 * b.lav + 1, off = b.is_unsigned ? 0 : b.lav;
    std::vector<int> v(static_cast<size_t>(b.dim));
    for (int k = b.dim - 1; k >= 0; --k, idx /= mod) v[static_cast<size_t>(k)] = idx % mod - off;
    return v;
}

// Every codeword of every book (the decoder's trees against the standard's codeword tables),
// shuffled, with random signs, then random values (book 11 escapes up to 8191), at every lead.
TEST(AacSpectralHuffman, EveryCodewordAndRandomTuplesRoundTrip) {
    zuft::Rng rng(7);
    for (int cb = 1; cb <= 11; ++cb)
        for (int lead = 0; lead < 8; ++lead) {
            const int dim = book_of(cb).dim;
            std::vector<int32_t> v;
            std::vector<int> order(static_cast<size_t>(codebook(cb).size()));
            for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
            std::shuffle(order.begin(), order.end(), rng.gen);
            for (int idx : lead == 0 ? order : std::vector<int>{})
                for (int x : tuple_of(cb, idx)) v.push_back(book_of(cb).is_unsigned && rng.range(0, 1) ? -x : x);
            for (int i = dim * rng.range(1, 128); i > 0; --i) v.push_back(random_value(rng, cb));
            BitWriter w;
            w.put(0x5A, lead);
            for (size_t i = 0; i < v.size(); i += static_cast<size_t>(dim)) put_tuple(w, cb, &v[i]);
            Stream s(w, lead);
            zuft::Placed<Zuf32s> out(v.size(), 4);
            ASSERT_EQ(zuf::ownsDecodeSpecHuf_AAC(&s.p, &s.off, out.data(), static_cast<int>(v.size()), cb), zufOk);
            ASSERT_EQ(out.vec(), v) << "codebook " << cb;
            ASSERT_EQ(s.pos(), s.end);
            ASSERT_TRUE(out.guards_intact());
        }
}

TEST(AacSpectralHuffman, EscapeSequences) {
    const auto cw = [](int idx) { return std::pair<int, uint32_t>(codebook(11)[idx].len, codebook(11)[idx].code); };
    // Pair (16, 3) with signs + and -, then prefix 10 and word 00101: 2^5 + 5 = 37; (16, 16) both
    // negative: eight 1 bits, a 0, twelve 1 bits is 8191; then prefix 0, word 0000.
    Stream s({cw(16 * 17 + 3),
              {1, 0},
              {1, 1},
              {2, 0b10},
              {5, 0b00101},
              cw(16 * 17 + 16),
              {2, 3},
              {8, 0xFF},
              {1, 0},
              {12, 0xFFF},
              {1, 0},
              {4, 0}});
    Zuf32s out[4] = {7, 7, 7, 7};
    ASSERT_EQ(zuf::ownsDecodeSpecHuf_AAC(&s.p, &s.off, out, 4, 11), zufOk);
    EXPECT_EQ((V{out[0], out[1], out[2], out[3], s.pos()}), (V{37, -3, -8191, -16, s.end}));
    // Nine leading 1 bits: -163, the earlier pair stored, the position back at the start (inside a byte).
    Stream bad({{3, 3}, cw(2 * 17 + 1), {1, 0}, {1, 1}, cw(16), {1, 0}, {9, 0x1FF}, {1, 0}, {13, 0}}, 3);
    std::fill(out, out + 4, 7);
    EXPECT_EQ(zuf::ownsDecodeSpecHuf_AAC(&bad.p, &bad.off, out, 4, 11), zufErrAacCoef);
    EXPECT_EQ((V{out[0], out[1], out[2], out[3], bad.pos()}), (V{2, -1, 7, 7, 3}));
}

// Section info of one long-window group at 44.1 kHz (49 bands) for the spectral data parser.
struct Sections {
    Zuf8u cb[120] = {}, end[120] = {};
    Zuf32s num[8] = {};
    Zuf32s group_len[8] = {1};
    Sections(std::initializer_list<std::pair<int, int>> s) {
        for (auto [c, e] : s) cb[num[0]] = static_cast<Zuf8u>(c), end[num[0]++] = static_cast<Zuf8u>(e);
    }
};

// (Sections of every kind, and the clearing above max_sfb, are covered by the channel round trips.)
// A reserved book and a band past num_swb stop at the failing section's start.
TEST(AacSpectralData, Refusals) {
    zuft::Rng rng(3);
    std::vector<int32_t> v(static_cast<size_t>(zuf::_pAACSwbOffsetTableLong[4][3]));
    for (auto& x : v) x = random_value(rng, 7);
    BitWriter w;
    for (size_t i = 0; i < v.size(); i += 2) put_tuple(w, 7, &v[i]);
    std::vector<Zuf32s> quant(1024);
    for (auto [bad, status] : {std::pair{12, zufErrAacCodebook}, std::pair{-1, zufErrRange}}) {
        Sections f = bad == 12 ? Sections{{7, 3}, {12, 5}} : Sections{{7, 3}, {1, 50}};
        Stream s(w);
        EXPECT_EQ(zuf::ownsDecodeSpectralData_AAC_1u32s(&s.p, &s.off, quant.data(), 1, f.group_len, f.num, f.cb, f.end,
                                                        4, 1024),
                  status);
        EXPECT_EQ(s.pos(), s.end);
    }
}

// (Pulses inside the window, a zero value counting as negative, are covered by the channel round
// trips.) k reaching 1024 fails; the pulses before it stay added.
TEST(AacPulse, StopsPastTheWindow) {
    const Zuf32s far[4] = {31, 31, 31, 31}, a1[4] = {1, 1, 1, 1};
    std::vector<Zuf32s> top(1024, 0);
    EXPECT_EQ(zuf::ownsAddPulseData_AAC(top.data(), 4, 48, far, a1, zuf::_pAACSwbOffsetTableLong[4], 1024),
              zufErrAacPulse);
    EXPECT_EQ(top[928 + 93], -1);
}

// A channel decoded by one of the drivers into guarded arrays.
struct Decoder {
    AacIcsInfo ics{};
    AacChanInfo ci{};
    AacMainHeader mh{};
    zuft::Placed<Zuf16s> sf{120, 2};
    zuft::Placed<Zuf32s> quant{1024, 4};
    zuft::Placed<Zuf8u> cb{120, 1};
    zuft::Placed<Zuf8s> tns{60, 3};
    std::vector<uint8_t> buf;
    Zuf8u* p = nullptr;
    int off = 0;
    long end = 0;  // the loaded stream's length in bits

    Decoder(int sfi, const BitWriter& w, int lead = 0) {
        ci.sampling_frequency_index = sfi;
        ci.pIcsInfo = &ics;
        load(w, lead);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    void load(const BitWriter& w, int lead) {
        buf = w.buffer();
        p = buf.data() + lead / 8;
        off = lead % 8;
        end = static_cast<long>(w.nbits);
    }
    zufResult lc(int common = 0) {
        return zufsNoiselessDecoder_LC_AAC(&p, &off, common, &ci, sf.data(), quant.data(), cb.data(), tns.data());
    }
    zufResult mp4(int common = 0, int scalable = 0, int ws = 0, int max_sfb = 0, int aot = 2) {
        return zufsNoiselessDecode_AAC(&p, &off, &mh, sf.data(), quant.data(), cb.data(), tns.data(), &ci, ws, max_sfb,
                                       common, scalable, aot);
    }
    static BitWriter written(const IcsModel& m, bool common = false, bool side_flags = true) {
        BitWriter w;
        m.write(w, common, side_flags);
        return w;
    }
    long pos() const { return 8 * (p - buf.data()) + off; }
};

void set_ics(AacIcsInfo& ics, const IcsModel& m) {
    ics.window_sequence = m.window_sequence;
    ics.max_sfb = m.max_sfb;
    ics.num_window_groups = static_cast<Zuf32s>(m.group_len.size());
    for (size_t g = 0; g < m.group_len.size(); ++g) ics.window_group_length[g] = m.group_len[g];
}

// The decoded record against a copy with the fields the model determines replaced; the caller
// arrays against the model.
void expect_decoded(const IcsModel& m, Decoder& d, bool side_flags = true) {
    AacChanInfo x = d.ci;
    x.global_gain = m.global_gain, x.win_len = m.win_len(), x.num_windows = m.is_short() ? 8 : 1;
    x.num_swb = m.num_swb();
    for (size_t g = 0, i = 0; g < m.sections.size(); ++g) {
        x.num_sec[g] = static_cast<Zuf32s>(m.sections[g].size());
        for (int end = 0; const auto& s : m.sections[g])
            x.sect_cb[i] = static_cast<Zuf8u>(s.cb), x.sect_end[i++] = static_cast<Zuf8u>(end += s.len);
    }
    if (side_flags) x.pulse_data_present = m.pulse, x.tns_data_present = m.tns, x.gain_control_data_present = 0;
    std::vector<int> coef;
    for (size_t w = 0; m.tns && w < m.n_filt.size(); ++w)
        x.n_filt[w] = m.n_filt[w], x.coef_res[w] = m.n_filt[w] ? m.coef_res[w] : x.coef_res[w];
    for (size_t f = 0, dir = 0; m.tns && f < m.filters.size(); ++f) {
        const TnsFilter& t = m.filters[f];
        x.length[f] = t.length, x.order[f] = t.order;
        if (t.order) x.direction[dir++] = t.direction;
        coef.insert(coef.end(), t.coef.begin(), t.coef.end());
    }
    ASSERT_EQ(std::memcmp(&x, &d.ci, sizeof x), 0);
    const auto cbs = m.sfb_cb();
    ASSERT_EQ(std::vector<int>(d.cb.data(), d.cb.data() + cbs.size()), cbs);
    ASSERT_EQ(std::vector<int>(d.sf.data(), d.sf.data() + cbs.size()), m.sf);
    ASSERT_EQ(std::vector<int>(d.tns.data(), d.tns.data() + coef.size()), coef);
    ASSERT_EQ(d.quant.vec(), m.expected_spectrum());
    ASSERT_TRUE(d.sf.guards_intact() && d.quant.guards_intact() && d.cb.guards_intact() && d.tns.guards_intact());
}

TEST(AacNoiselessDriver, RandomChannelsRoundTripThroughBothDrivers) {
    zuft::Rng rng(11);
    for (int it = 0; it < 400; ++it) {
        const int sfi = rng.range(0, 11), ws = rng.range(0, 3), lead = rng.range(0, 23);
        const bool mpeg4 = it % 2 == 1, common = rng.range(0, 3) == 0;
        const IcsModel m = random_ics(rng, sfi, ws, mpeg4, true);
        BitWriter w;
        w.put(0, lead);
        m.write(w, common);
        Decoder d(sfi, w, lead);
        if (common) set_ics(d.ics, m);
        ASSERT_EQ(mpeg4 ? d.mp4(common) : d.lc(common), zufOk) << "iteration " << it;
        ASSERT_EQ(d.pos(), static_cast<long>(w.nbits)) << "iteration " << it;
        if (!common) {  // braces: the assertion macro is an if/else of its own
            ASSERT_EQ((V{d.ics.window_sequence, d.ics.window_shape, d.ics.max_sfb, d.ics.num_window_groups}),
                      (V{ws, m.window_shape, m.max_sfb, static_cast<long>(m.group_len.size())}));
        }
        expect_decoded(m, d);
    }
}

TEST(AacNoiselessDriver, ScalableChannelReadsGainSectionsScaleFactorsAndSpectrumOnly) {
    zuft::Rng rng(12);
    for (int ws : {0, 2}) {
        IcsModel m = random_ics(rng, 3, ws, true, true);
        Decoder d(3, Decoder::written(m, true, false));
        d.mh.num_window_groups = static_cast<Zuf32s>(m.group_len.size());
        for (size_t g = 0; g < m.group_len.size(); ++g) d.mh.window_group_length[g] = m.group_len[g];
        d.ci.pulse_data_present = d.ci.tns_data_present = 7;
        d.ics.window_sequence = 1 - ws / 2;  // ignored in scalable mode
        ASSERT_EQ(d.mp4(0, 1, ws, m.max_sfb), zufOk);
        EXPECT_EQ(d.pos(), d.end);
        m.pulse = m.tns = false;
        expect_decoded(m, d, false);
        EXPECT_EQ(d.ci.pulse_data_present, 7);
    }
}

TEST(AacNoiselessDriver, ArgumentChecksInOrder) {
    Decoder d(4, bits({{32, 0}}));
    auto lc = [&](Zuf8u** pp, int* po, int common, AacChanInfo* ci, Zuf16s* sf) {
        return zufsNoiselessDecoder_LC_AAC(pp, po, common, ci, sf, d.quant.data(), d.cb.data(), d.tns.data());
    };
    Zuf8u* null_p = nullptr;
    EXPECT_EQ((V{lc(nullptr, &d.off, 5, &d.ci, d.sf.data()), lc(&d.p, &d.off, 0, &d.ci, nullptr),
                 lc(&null_p, &d.off, 0, &d.ci, d.sf.data())}),
              (V{zufErrNullPtr, zufErrNullPtr, zufErrNullPtr}));
    d.ci.pIcsInfo = nullptr;
    d.off = 9;
    EXPECT_EQ(lc(&d.p, &d.off, 0, &d.ci, d.sf.data()), zufErrNullPtr);  // before the offset
    d.ci.pIcsInfo = &d.ics;
    EXPECT_EQ(lc(&d.p, &d.off, 2, &d.ci, d.sf.data()), zufErrAacBitOffset);
    d.off = 0;
    d.ci.sampling_frequency_index = 12;
    EXPECT_EQ(lc(&d.p, &d.off, 2, &d.ci, d.sf.data()), zufErrAacCommonWin);
    d.ci.pred_sfb_max = 40;
    EXPECT_EQ(lc(&d.p, &d.off, 0, &d.ci, d.sf.data()), zufErrAacSmplRateIdx);
    d.ci.sampling_frequency_index = 4;
    EXPECT_EQ(lc(&d.p, &d.off, 0, &d.ci, d.sf.data()), zufErrAacPred);
    EXPECT_EQ(d.pos(), 0);

    // MPEG-4 driver: pMainHeader after the byte pointer, then the value checks in their order.
    auto mp4 = [&](AacMainHeader* mh, int ws, int max_sfb, int common, int scalable, int aot) {
        return zufsNoiselessDecode_AAC(&d.p, &d.off, mh, d.sf.data(), d.quant.data(), d.cb.data(), d.tns.data(), &d.ci,
                                       ws, max_sfb, common, scalable, aot);
    };
    d.ci.sampling_frequency_index = 12;
    EXPECT_EQ((V{mp4(nullptr, 9, 99, 9, 9, 99), mp4(&d.mh, 9, 99, 9, 9, 99), mp4(&d.mh, 4, 99, 1, 9, 99),
                 mp4(&d.mh, 3, 99, 1, 2, 99), mp4(&d.mh, 3, 99, 1, 1, 17), mp4(&d.mh, 3, 52, 1, 1, 16),
                 mp4(&d.mh, 3, 51, 1, 1, 16)}),
              (V{zufErrNullPtr, zufErrAacCommonWin, zufErrAacWinSeq, zufErrAacScalableFlag, zufErrAacObjType,
                 zufErrAacMaxSfb, zufErrAacSmplRateIdx}));
    d.ci.sampling_frequency_index = 4;
    d.ci.pIcsInfo = nullptr;  // only a scalable channel may go without ics_info
    EXPECT_EQ(mp4(&d.mh, 3, 51, 1, 0, 16), zufErrNullPtr);
    EXPECT_EQ(d.pos(), 0);
}

TEST(AacNoiselessDriver, FailuresKeepWhatWasDecodedAndStopWhereDecodingStopped) {
    zuft::Rng rng(13);
    // A noise band refused by the LC driver in scale_factor_data: -166 with the position at
    // the start of scale_factor_data, the sections stored.
    IcsModel m = random_ics(rng, 4, 0, false, false);
    m.global_gain = 100, m.max_sfb = 3, m.sections = {{{1, 1}, {13, 2}}}, m.sf = {100, 90, 91};
    m.pulse = m.tns = false;
    m.quant.assign(1024, 0), m.quant[0] = 1, m.quant[2] = -1;
    const BitWriter w = Decoder::written(m);
    const long sf_start = 8 + 11 + 2 * 9;
    Decoder d(4, w);
    EXPECT_EQ((V{d.lc(), d.pos(), d.ci.num_sec[0], d.cb[2]}), (V{zufErrAacCodebook, sf_start, 2, 13}));
    d.load(w, 0);  // the MPEG-4 driver takes it
    EXPECT_EQ(d.mp4(), zufOk);
    expect_decoded(m, d);

    {  // max_sfb above the band count: -162 after num_swb is stored, before win_len.
        Decoder d2(0, bits({{8, 100}, {4, 0}, {6, 42}, {1, 0}}));
        EXPECT_EQ((V{d2.lc(), d2.ci.num_swb, d2.ci.win_len}), (V{zufErrAacMaxSfb, 41, 0}));
    }
    {  // Short-window pulse flag: -160 right after the flag, pulse_data_present not stored.
        m = random_ics(rng, 4, 2, false, false);
        m.pulse = true, m.pulse_start = 0, m.pulse_offset = {0}, m.pulse_amp = {1};
        Decoder d2(4, Decoder::written(m));
        d2.ci.pulse_data_present = 7;
        EXPECT_EQ((V{d2.lc(), d2.pos(), d2.ci.pulse_data_present}),
                  (V{zufErrAacPulse, static_cast<long>(m.pulse_flag_at + 1), 7}));
    }
    // pulse_start_sfb not below num_swb (but <= 51): -160 after pulse_data; gain control: -159
    // with the flag stored.
    for (int gain : {0, 1}) {
        m = random_ics(rng, 0, 0, false, false);  // 41 bands
        m.pulse = gain == 0, m.pulse_start = 45, m.pulse_offset = {1}, m.pulse_amp = {1};
        m.tns = false, m.gain_control = gain == 1;
        Decoder d2(0, Decoder::written(m));
        EXPECT_EQ((V{d2.lc(), d2.pos(), gain ? d2.ci.gain_control_data_present : d2.ci.pulse_data_present}),
                  (V{gain ? zufErrAacGainCtrl : zufErrAacPulse,
                     static_cast<long>(m.pulse_flag_at + (gain ? 3 : 1 + 2 + 6 + 9)), 1}));
    }
}

TEST(AacNoiselessDriver, RecordsNoStreamCanProduceAreRefused) {
    // A common-window record with an impossible grouping or band count is refused before any
    // section is read, so nothing is written past the 120 / 1024 slots.
    BitWriter w;
    w.put(0xFFFFFFFF, 32), w.put(0xFFFFFFFF, 32);
    struct Case {
        int ws, max_sfb, groups, len0;
        zufResult status;  // of both drivers
    } cases[] = {{2, 14, 9, 1, zufErrAacWinGrp},
                 {2, 14, 8, 2, zufErrAacWinGrp},
                 {0, 40, 3, 1, zufErrAacWinGrp},
                 {0, 55, 1, 1, zufErrAacMaxSfb},
                 {0, -1, 1, 1, zufErrAacMaxSfb}};
    for (const auto& c : cases) {
        Decoder d(4, w);
        d.ics.window_sequence = c.ws, d.ics.max_sfb = c.max_sfb, d.ics.num_window_groups = c.groups;
        for (auto& l : d.ics.window_group_length) l = 1;
        d.ics.window_group_length[0] = c.len0;
        EXPECT_EQ(d.lc(1), c.status);
        d.load(w, 0);
        EXPECT_EQ((V{d.mp4(1), d.pos()}), (V{c.status, 8}));
    }
    // Scalable mode: short windows cannot have more than 15 bands.
    Decoder d(4, w);
    d.mh.num_window_groups = 1, d.mh.window_group_length[0] = 8;
    EXPECT_EQ(d.mp4(0, 1, 2, 16), zufErrAacMaxSfb);
}

}  // namespace
