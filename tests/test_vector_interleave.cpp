// Channel interleaving: every channel count 1..8, channels at any address (odd ones included),
// the status telling whether everything was 16-byte aligned, and the check order.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "frame/vec_kernels.h"
#include "support/checkasm.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::Rng;

// n elements of T starting `misalign` bytes past a 64-byte boundary, read and written by byte
// copies, so any misalignment is legal.
template <class T>
struct Bytes {
    zuft::Placed<uint8_t> buf;
    Bytes(std::size_t n, std::size_t misalign) : buf(n * sizeof(T), misalign) {}
    T* ptr() { return reinterpret_cast<T*>(buf.data()); }
    T get(std::size_t i) const {
        T v;
        std::memcpy(&v, buf.data() + i * sizeof(T), sizeof(T));
        return v;
    }
    void set(std::size_t i, T v) { std::memcpy(buf.data() + i * sizeof(T), &v, sizeof(T)); }
};

template <class T>
void check_both_ways(zufResult (*deint)(const T*, int, int, T**), zufResult (*inter)(const T* const*, int, int, T*),
                     void (*scalar_inter)(const T* const*, int, int, T*),
                     void (*sse2_inter)(const T* const*, int, int, T*)) {
    Rng rng(21);
    for (int n = 1; n <= 8; ++n) {
        for (int len : zuft::kLens) {
            // Byte offsets of each array (the frames last): all aligned, naturally aligned but off
            // 16, any address, and only the frame array at an odd one.
            for (int pattern = 0; pattern < 4; ++pattern) {
                std::vector<std::size_t> off(n + 1, 0);
                for (int i = 0; i <= n; ++i) {
                    if (pattern == 1) off[i] = sizeof(T) * static_cast<std::size_t>(rng.range(0, 7));
                    if (pattern == 2) off[i] = static_cast<std::size_t>(rng.range(0, 15));
                    if (pattern == 3 && i == n) off[i] = 1;
                }
                bool aligned = true;
                for (std::size_t o : off) aligned = aligned && o % 16 == 0;
                const std::size_t total = static_cast<std::size_t>(n) * len;
                Bytes<T> frames(total, off[n]), back(total, off[n]), v1(total, off[n]), v2(total, 0);
                std::vector<std::unique_ptr<Bytes<T>>> ch;
                std::vector<T*> ptr;
                for (int c = 0; c < n; ++c) {
                    ch.push_back(std::make_unique<Bytes<T>>(len, off[c]));
                    ptr.push_back(ch.back()->ptr());
                }
                for (std::size_t i = 0; i < total; ++i) frames.set(i, zuft::random_bits<T>(rng));
                ASSERT_EQ(deint(frames.ptr(), n, len, ptr.data()), aligned ? zufOk : zufWarnMisaligned);
                for (int c = 0; c < n; ++c) {
                    for (int k = 0; k < len; ++k)
                        ASSERT_TRUE(zuft::same_bits(ch[c]->get(k), frames.get(static_cast<std::size_t>(k) * n + c)))
                            << "n " << n << " len " << len << " c " << c << " k " << k;
                    ASSERT_TRUE(ch[c]->buf.guards_intact());
                }
                // Back again into a cleared frame buffer: the round trip restores every bit.
                ASSERT_EQ(inter(ptr.data(), n, len, back.ptr()), aligned ? zufOk : zufWarnMisaligned);
                ASSERT_EQ(std::memcmp(back.ptr(), frames.ptr(), total * sizeof(T)), 0);
                // The general interleaver (channels in pairs) against its scalar reference.
                sse2_inter(ptr.data(), n, len, v1.ptr());
                scalar_inter(ptr.data(), n, len, v2.ptr());
                ASSERT_EQ(std::memcmp(v1.ptr(), v2.ptr(), total * sizeof(T)), 0);
                ASSERT_TRUE(back.buf.guards_intact() && v1.buf.guards_intact());
            }
        }
    }
}

template <class T>
void check_statuses(zufResult (*deint)(const T*, int, int, T**), zufResult (*inter)(const T* const*, int, int, T*)) {
    alignas(16) T frames[6] = {1, 2, 3, 4, 5, 6};
    alignas(16) T a[3] = {9, 9, 9}, b[3] = {9, 9, 9};
    T* ch[2] = {a, b};
    T* half[2] = {a, nullptr};
    // ppDst/pSrc null first, then the channel count, then the length, then the channel pointers.
    zuft::expect_status(zufErrNullPtr,
                        {deint(frames, 2, 3, nullptr), deint(nullptr, 0, 0, ch), deint(frames, 2, 3, half),
                         inter(ch, 2, 3, nullptr), inter(nullptr, 0, 0, frames), inter(half, 2, 3, frames)});
    zuft::expect_status(zufErrNumChannels,
                        {deint(frames, 0, 0, half), deint(frames, -1, 3, ch), inter(ch, 0, 0, frames)});
    zuft::expect_status(zufErrSize, {deint(frames, 2, 0, half), inter(half, 2, 0, frames)});
    EXPECT_TRUE(frames[0] == 1 && a[0] == 9 && b[0] == 9);  // nothing written on a failed check
    EXPECT_EQ(deint(frames, 1, 3, half), zufOk);            // only the first nChannels pointers matter
    EXPECT_TRUE(a[0] == 1 && b[0] == 9);
}

TEST(VectorInterleave, RoundTripAndCheckOrder) {
    check_both_ways<Zuf16s>(zufsDeinterleave_16s, zufsInterleave_16s, zuf::ownsInterleave_16s_ref,
                            zuf::ownsInterleave_16s_sse2);
    check_both_ways<Zuf32f>(zufsDeinterleave_32f, zufsInterleave_32f, zuf::ownsInterleave_32f_ref,
                            zuf::ownsInterleave_32f_sse2);
    check_statuses<Zuf16s>(zufsDeinterleave_16s, zufsInterleave_16s);
    check_statuses<Zuf32f>(zufsDeinterleave_32f, zufsInterleave_32f);
}

}  // namespace
