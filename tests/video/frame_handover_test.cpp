#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "video/frame_exchange.h"
#include "video/video_test_support.h"

namespace {

TEST(FrameHandover, APictureIsNeverTornBetweenTheCaptureAndTheWindow) {
    constexpr int kWidth = 160, kHeight = 120, kBytes = kWidth * kHeight * 3;
    constexpr int kSamples = 3000;
    Registry registry(true);
    CountingPoster poster;
    PrepareRegistry(registry, &poster);
    FrameExchange exchange(registry);
    exchange.SetSourceSize(kWidth, kHeight);

    std::atomic<bool> producing{true};
    std::thread producer([&] {
        std::vector<uint8_t> sample(kBytes);
        for (int n = 1; n <= kSamples; ++n) {
            // Every byte of sample n carries n, so a mixed picture shows.
            std::fill(sample.begin(), sample.end(), static_cast<uint8_t>(n));
            exchange.PutSample(n, sample.data(), kBytes);
        }
        producing.store(false, std::memory_order_release);
    });

    std::vector<uint8_t> out(kFrameBytes);
    int fetched = 0;
    double lastTime = 0.0;
    bool torn = false;
    // The consumer polls rather than waiting for the messages, so that only
    // the pending flag orders the two threads' accesses to the slot. Every
    // other picture is lent, as to a window painting it: its bottom rows
    // copied out, the rest read where it lies until it is given back.
    constexpr int kBandRows = 18, kBandBytes = kBandRows * kWidth * 3;
    for (;;) {
        const bool more = producing.load(std::memory_order_acquire);
        double time = 0.0;
        int32_t length = 0;
        const bool lend = fetched % 2 == 1;
        const uint8_t* lent = nullptr;
        if (lend) {
            lent = exchange.LendFrame(time, out.data(), kBandRows, length, kWriteOut);
        } else {
            exchange.FetchFrame(time, out.data(), length);
        }
        if (length > 0) {
            ++fetched;
            EXPECT_EQ(length, kBytes);
            EXPECT_GT(time, lastTime);
            lastTime = time;
            const auto mark = static_cast<uint8_t>(static_cast<int>(time));
            const auto same = [mark](uint8_t b) { return b == mark; };
            if (lend) {
                ASSERT_NE(lent, nullptr);
                std::this_thread::yield();  // the capture thread runs on meanwhile
                torn |= !std::all_of(out.begin(), out.begin() + kBandBytes, same) ||
                        !std::all_of(lent + kBandBytes, lent + kBytes, same);
                exchange.ReturnLent();
            } else {
                torn |= !std::all_of(out.begin(), out.begin() + kBytes, same);
            }
        } else if (!more) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_FALSE(torn);
    EXPECT_GE(fetched, 1);
    EXPECT_EQ(poster.posts.load(), kSamples);
}

}  // namespace
