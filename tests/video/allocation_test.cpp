#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "video/video_test_support.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};

// Kept out of line so the compiler does not pair malloc and free with new
// and delete across the replacement.
[[gnu::noinline]] void Release(void* p) noexcept { std::free(p); }
}  // namespace

// Every allocation of this test program passes here and is counted while
// the per-frame calls run.
void* operator new(std::size_t size) {
    if (counting.load()) allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

TEST(PerFrameCalls, AllocateNothing) {
    Registry registry(true);
    CountingPoster poster;
    PrepareRegistry(registry, &poster);
    // Fetches measure around two ignored areas, as the mixed bands of the mask need.
    registry.SetText("DetectorMask", "10,10,100,100;200,50,60,300");
    FrameExchange exchange(registry);
    ManualClock clock(1'800'000'000);
    DateStamp stamp(clock);
    stamp.LoadFont();
    const std::vector<uint8_t> picture = RandomPicture(kFrameBytes, 9);
    double time = 0.0;
    int32_t length = 0;
    // One warm-up turn loads anything the C library keeps for later.
    stamp.DrawStamp(exchange.Display(), 640, 480);

    counting.store(true);
    for (int rotate = 0; rotate < 4; ++rotate) {
        for (int reflect = 0; reflect < 3; ++reflect) {
            counting.store(false);
            registry.SetInt("VideoRotate", rotate);
            registry.SetInt("VideoReflect", reflect);
            exchange.ApplyOrientation();
            counting.store(true);
            exchange.PutSample(1.0, picture.data(), kFrameBytes);
            exchange.PutSample(2.0, picture.data(), kFrameBytes);
            exchange.FetchFrame(time, exchange.Display(), length);
            clock.Advance(1);
            stamp.DrawStamp(exchange.Display(), exchange.Width(), exchange.Height());
            stamp.DrawStamp(exchange.Display(), exchange.Width(), exchange.Height());
        }
    }
    counting.store(false);
    EXPECT_EQ(length, kFrameBytes);
    EXPECT_EQ(allocations.load(), 0);
}

}  // namespace
