// Channel interleaving: every channel count 1..8, channels at any address (odd ones included),
// the status telling whether everything was 16-byte aligned, and the check order.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "frame/vec_kernels.h"
#include "test_vector_helpers.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::Rng;

// Byte offsets from a 64-byte boundary for each array of a case: all aligned, all naturally
// aligned but off 16, and (for 16-bit data) odd addresses.
std::vector<std::size_t> offsets_for(int pattern, int count, std::size_t elem, Rng& rng) {
    std::vector<std::size_t> o(count, 0);
    for (int i = 0; i < count; ++i) {
        if (pattern == 1) o[i] = elem * static_cast<std::size_t>(rng.range(0, 7));
        if (pattern == 2) o[i] = static_cast<std::size_t>(rng.range(0, 15));
        if (pattern == 3 && i == count - 1) o[i] = 1;  // only the last array is off
    }
    return o;
}

template <class T>
T random_value(Rng& rng) {
    if constexpr (sizeof(T) == 2)
        return static_cast<T>(rng.s32());
    else
        return rng.uniform(-1e6f, 1e6f);
}

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
void check_both_ways(zufResult (*deint)(const T*, int, int, T**), zufResult (*inter)(const T* const*, int, int, T*),
                     void (*scalar_inter)(const T* const*, int, int, T*),
                     void (*sse2_inter)(const T* const*, int, int, T*)) {
    Rng rng(21);
    for (int n = 1; n <= 8; ++n) {
        for (int len : vt::kLens) {
            for (int pattern = 0; pattern < 4; ++pattern) {
                const std::vector<std::size_t> off = offsets_for(pattern, n + 1, sizeof(T), rng);
                vt::Bytes<T> frames(static_cast<std::size_t>(n) * len, off[n]);
                std::vector<std::unique_ptr<vt::Bytes<T>>> ch;
                std::vector<T*> ptr;
                for (int c = 0; c < n; ++c) {
                    ch.push_back(std::make_unique<vt::Bytes<T>>(len, off[c]));
                    ptr.push_back(ch.back()->ptr());
                }
                bool aligned = true;
                for (std::size_t o : off) aligned = aligned && o % 16 == 0;
                const zufResult want_status = aligned ? zufOk : zufWarnMisaligned;

                for (int i = 0; i < n * len; ++i) frames.set(i, random_value<T>(rng));
                ASSERT_EQ(deint(frames.ptr(), n, len, ptr.data()), want_status) << "n " << n << " len " << len;
                for (int c = 0; c < n; ++c) {
                    for (int k = 0; k < len; ++k)
                        ASSERT_TRUE(same_bits(ch[c]->get(k), frames.get(static_cast<std::size_t>(k) * n + c)))
                            << "n " << n << " len " << len << " c " << c << " k " << k;
                    ASSERT_TRUE(ch[c]->intact());
                }
                // Back again into a cleared frame buffer: the round trip restores every bit.
                vt::Bytes<T> back(static_cast<std::size_t>(n) * len, off[n]);
                ASSERT_EQ(inter(ptr.data(), n, len, back.ptr()), want_status);
                ASSERT_EQ(std::memcmp(back.ptr(), frames.ptr(), n * len * sizeof(T)), 0);
                ASSERT_TRUE(back.intact());
                // The general interleaver (channels in pairs) against its scalar reference.
                vt::Bytes<T> v1(static_cast<std::size_t>(n) * len, off[n]), v2(static_cast<std::size_t>(n) * len, 0);
                sse2_inter(ptr.data(), n, len, v1.ptr());
                scalar_inter(ptr.data(), n, len, v2.ptr());
                ASSERT_EQ(std::memcmp(v1.ptr(), v2.ptr(), n * len * sizeof(T)), 0);
                ASSERT_TRUE(v1.intact());
            }
        }
    }
}

TEST(VectorInterleave, RoundTrip16s) {
    check_both_ways<Zuf16s>(zufsDeinterleave_16s, zufsInterleave_16s, zuf::ownsInterleave_16s_ref,
                            zuf::ownsInterleave_16s_sse2);
}

TEST(VectorInterleave, RoundTrip32f) {
    check_both_ways<Zuf32f>(zufsDeinterleave_32f, zufsInterleave_32f, zuf::ownsInterleave_32f_ref,
                            zuf::ownsInterleave_32f_sse2);
}

// Two channels, one of them at an odd address: the data is right and the status is 2.
TEST(VectorInterleave, StereoOddAddress) {
    alignas(16) Zuf16s frames[2 * 19];
    for (int i = 0; i < 2 * 19; ++i) frames[i] = static_cast<Zuf16s>(i * 1000 - 17000);
    vt::Bytes<Zuf16s> left(19, 0), right(19, 1);
    Zuf16s* ch[2] = {left.ptr(), right.ptr()};
    ASSERT_EQ(zufsDeinterleave_16s(frames, 2, 19, ch), zufWarnMisaligned);
    for (int k = 0; k < 19; ++k) {
        EXPECT_EQ(left.get(k), frames[2 * k]);
        EXPECT_EQ(right.get(k), frames[2 * k + 1]);
    }
    vt::Bytes<Zuf16s> right_aligned(19, 32);
    for (int k = 0; k < 19; ++k) right_aligned.set(k, right.get(k));
    ch[1] = right_aligned.ptr();
    alignas(16) Zuf16s back[2 * 19] = {};
    ASSERT_EQ(zufsInterleave_16s(ch, 2, 19, back), zufOk);
    EXPECT_EQ(std::memcmp(back, frames, sizeof back), 0);
}

template <class T>
void check_statuses(zufResult (*deint)(const T*, int, int, T**), zufResult (*inter)(const T* const*, int, int, T*)) {
    alignas(16) T frames[6] = {1, 2, 3, 4, 5, 6};
    alignas(16) T a[3] = {9, 9, 9}, b[3] = {9, 9, 9};
    T* ch[2] = {a, b};
    T* half[2] = {a, nullptr};
    // ppDst/pSrc null first, then the channel count, then the length, then the channel pointers.
    EXPECT_EQ(deint(frames, 2, 3, nullptr), zufErrNullPtr);
    EXPECT_EQ(deint(nullptr, 0, 0, ch), zufErrNullPtr);
    EXPECT_EQ(deint(frames, 0, 0, half), zufErrNumChannels);
    EXPECT_EQ(deint(frames, -1, 3, ch), zufErrNumChannels);
    EXPECT_EQ(deint(frames, 2, 0, half), zufErrSize);
    EXPECT_EQ(deint(frames, 2, 3, half), zufErrNullPtr);
    EXPECT_EQ(deint(frames, 1, 3, half), zufOk);  // only the first nChannels pointers matter
    EXPECT_EQ(a[0], 1);
    a[0] = 9;
    EXPECT_EQ(b[0], 9);
    EXPECT_EQ(inter(ch, 2, 3, nullptr), zufErrNullPtr);
    EXPECT_EQ(inter(nullptr, 0, 0, frames), zufErrNullPtr);
    EXPECT_EQ(inter(ch, 0, 0, frames), zufErrNumChannels);
    EXPECT_EQ(inter(half, 2, 0, frames), zufErrSize);
    EXPECT_EQ(inter(half, 2, 3, frames), zufErrNullPtr);
    EXPECT_EQ(frames[0], 1);  // nothing written on a failed check
    EXPECT_EQ(a[0], 9);
}

TEST(VectorInterleave, CheckOrder) {
    check_statuses<Zuf16s>(zufsDeinterleave_16s, zufsInterleave_16s);
    check_statuses<Zuf32f>(zufsDeinterleave_32f, zufsInterleave_32f);
}

}  // namespace
