#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "video/frame_exchange.h"
#include "video/video_test_support.h"

namespace {

// The orientation, difference and level exactly as described, one pixel
// and one byte at a time; the fast paths must match it bit for bit.
struct PlainExchange {
    int width;
    int height;
    int reflect;
    int rotate;
    std::vector<uint8_t> previous = std::vector<uint8_t>(kFrameCapacityBytes, 0);
    std::vector<uint8_t> difference = std::vector<uint8_t>(kFrameCapacityBytes, 0);

    int Fetch(const std::vector<uint8_t>& pending, std::vector<uint8_t>& buffer) {
        const int W = width, H = height;
        const int outWidth = rotate % 2 == 1 ? H : W;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                int sx = x, sy = y;
                if (reflect == 1) sy = H - 1 - y;
                if (reflect == 2) sx = W - 1 - x;
                int dx = x, dy = y;
                if (rotate == 1) dx = H - 1 - y, dy = x;
                if (rotate == 2) dx = W - 1 - x, dy = H - 1 - y;
                if (rotate == 3) dx = y, dy = W - 1 - x;
                std::memcpy(&buffer[(dy * outWidth + dx) * 3], &pending[(sy * W + sx) * 3], 3);
            }
        }
        const int n = W * H * 3;
        uint64_t sum = 0;
        for (int i = 0; i < n; ++i) {
            int d = std::abs(buffer[i] - previous[i]);
            difference[i] = static_cast<uint8_t>(255 - d);
            if (d < 7) d = 0;
            sum += d;
        }
        std::memcpy(previous.data(), buffer.data(), n);
        const float m = static_cast<float>(static_cast<double>(sum) / n);
        const float a = static_cast<float>(m * 15.0);
        const int level = static_cast<int>(std::sqrt(static_cast<double>(a)) * 5.0 - 10.0);
        return level < 0 ? 0 : level > 100 ? 100 : level;
    }
};

struct Size {
    int width;
    int height;
};

// Each picture size at each level of vector code the machine offers.
class OrientationTest : public ::testing::TestWithParam<std::tuple<Size, int>> {
protected:
    void TearDown() override { LimitFrameVectorsForTest(2); }
};

TEST_P(OrientationTest, EveryTurnAndReflectionMatchesThePlainAlgorithm) {
    const Size size = std::get<0>(GetParam());
    LimitFrameVectorsForTest(std::get<1>(GetParam()));
    const std::size_t bytes = static_cast<std::size_t>(size.width) * size.height * 3;
    uint32_t seed = 100;
    for (int rotate = 0; rotate < 4; ++rotate) {
        for (int reflect = 0; reflect < 3; ++reflect) {
            SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height << " rotate " << rotate
                                              << " reflect " << reflect);
            Registry registry(true);
            CountingPoster poster;
            PrepareRegistry(registry, &poster, rotate, reflect);
            FrameExchange exchange(registry);
            exchange.SetSourceSize(size.width, size.height);
            PlainExchange plain{size.width, size.height, reflect, rotate};
            std::vector<uint8_t> fast(kFrameCapacityBytes, 0);
            std::vector<uint8_t> slow(kFrameCapacityBytes, 0);
            // Random pictures, then one close to the last so that noise and
            // counted differences mix.
            std::vector<uint8_t> picture = RandomPicture(bytes, seed++);
            for (int round = 0; round < 3; ++round) {
                if (round == 1) picture = RandomPicture(bytes, seed++);
                if (round == 2)
                    for (std::size_t i = 0; i < bytes; ++i) picture[i] = static_cast<uint8_t>(picture[i] + i % 19);
                exchange.PutSample(round, picture.data(), static_cast<int32_t>(bytes));
                double time = -1;
                int32_t length = 0;
                const int level = exchange.FetchFrame(time, fast.data(), length);
                ASSERT_EQ(length, static_cast<int32_t>(bytes));
                // Above 640 x 480 the level and the difference image come from the motion grid.
                const int32_t step = MotionGridStep(exchange.Width(), exchange.Height());
                EXPECT_NEAR(level, plain.Fetch(picture, slow), step > 1 ? 2 : 0);
                ASSERT_EQ(0, std::memcmp(fast.data(), slow.data(), bytes));
                if (step == 1) {
                    ASSERT_EQ(0, std::memcmp(exchange.Difference(), plain.difference.data(), bytes));
                } else {
                    // Every step-th line from the top, bottom-up.
                    const int32_t lines = exchange.Height() / step;
                    const std::size_t rowBytes = static_cast<std::size_t>(exchange.Width()) * 3;
                    ASSERT_EQ(exchange.DifferenceWidth(), exchange.Width());
                    ASSERT_EQ(exchange.DifferenceHeight(), lines);
                    std::vector<uint8_t> sampled;
                    for (int32_t y = lines - 1; y >= 0; --y) {
                        const auto line = plain.difference.begin() +
                                          static_cast<std::ptrdiff_t>((exchange.Height() - 1 - y * step) * rowBytes);
                        sampled.insert(sampled.end(), line, line + static_cast<std::ptrdiff_t>(rowBytes));
                    }
                    ASSERT_EQ(0, std::memcmp(exchange.Difference(), sampled.data(), sampled.size()));
                }
                ASSERT_EQ(0, std::memcmp(exchange.Previous(), plain.previous.data(), bytes));
                // Nothing is written past the oriented picture.
                ASSERT_TRUE(std::all_of(fast.begin() + static_cast<std::ptrdiff_t>(bytes), fast.end(),
                                        [](uint8_t b) { return b == 0; }));
            }
            EXPECT_EQ(exchange.Width(), rotate % 2 ? size.height : size.width);
            EXPECT_EQ(exchange.Height(), rotate % 2 ? size.width : size.height);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OrientationTest,
                         ::testing::Combine(::testing::Values(Size{640, 480}, Size{320, 240}, Size{160, 120},
                                                              Size{480, 640}, Size{33, 17}, Size{17, 33}, Size{1, 1},
                                                              Size{1, 7}, Size{7, 1}, Size{5, 16}, Size{6, 21},
                                                              Size{12, 44}, Size{1920, 1080}),
                                            ::testing::Values(0, 1, 2)),
                         [](const auto& info) {
                             const Size size = std::get<0>(info.param);
                             return std::to_string(size.width) + "x" + std::to_string(size.height) + "_level" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
