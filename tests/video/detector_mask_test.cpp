#include "video/detector_mask.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "video/frame_exchange.h"
#include "video/video_test_support.h"

namespace {

// The level over the unmasked bytes, one byte at a time: a byte counts unless
// its pixel lies in a rectangle of the oriented picture seen top down.
struct PlainMaskedLevel {
    int level = 0;
    int64_t counted = 0;
    int64_t changed = 0;
};
PlainMaskedLevel Measure(const std::vector<uint8_t>& picture, const std::vector<uint8_t>& previous, int width,
                         int height, const std::vector<MaskRect>& rects) {
    PlainMaskedLevel result;
    uint64_t sum = 0;
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) {
            bool masked = false;
            for (const MaskRect& r : rects) masked = masked || r.Contains(x, height - 1 - row);
            if (masked) continue;
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = (static_cast<std::size_t>(row) * width + x) * 3 + c;
                ++result.counted;
                const int d = std::abs(picture[i] - previous[i]);
                if (d < 7) continue;
                sum += d;
                ++result.changed;
            }
        }
    }
    if (result.counted == 0) return result;
    const float m = static_cast<float>(static_cast<double>(sum) / result.counted);
    const float a = static_cast<float>(m * 15.0);
    const int level = static_cast<int>(std::sqrt(static_cast<double>(a)) * 5.0 - 10.0);
    result.level = level < 0 ? 0 : level > 100 ? 100 : level;
    return result;
}

std::string TextOf(const std::vector<MaskRect>& rects) {
    std::string text;
    for (const MaskRect& r : rects) {
        if (!text.empty()) text += ';';
        text += std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
                std::to_string(r.height);
    }
    return text;
}

// Up to 16 random rectangles inside a picture, overlapping as they fall;
// one in three sets reaches the edges.
std::vector<MaskRect> RandomRects(std::mt19937& random, int width, int height) {
    std::vector<MaskRect> rects(1 + random() % DetectorMask::kMaxRects);
    for (MaskRect& r : rects) {
        r.x = static_cast<int32_t>(random() % width);
        r.y = static_cast<int32_t>(random() % height);
        r.width = 1 + static_cast<int32_t>(random() % (width - r.x));
        r.height = 1 + static_cast<int32_t>(random() % (height - r.y));
        if (random() % 3 == 0) r = {0, r.y, width, r.height};
    }
    return rects;
}

struct Size {
    int width;
    int height;
};

class MaskedLevelTest : public ::testing::TestWithParam<std::tuple<Size, int>> {
protected:
    void TearDown() override { LimitFrameVectorsForTest(2); }
};

TEST_P(MaskedLevelTest, EveryOrientationMatchesThePlainArithmeticOverTheOpenBytes) {
    const Size size = std::get<0>(GetParam());
    LimitFrameVectorsForTest(std::get<1>(GetParam()));
    const std::size_t bytes = static_cast<std::size_t>(size.width) * size.height * 3;
    std::mt19937 random(7);
    for (int rotate = 0; rotate < 4; ++rotate) {
        for (int reflect = 0; reflect < 3; ++reflect) {
            Registry registry(true);
            CountingPoster poster;
            PrepareRegistry(registry, &poster, rotate, reflect);
            FrameExchange exchange(registry);
            exchange.SetSourceSize(size.width, size.height);
            const int w = exchange.Width();
            const int h = exchange.Height();
            std::vector<uint8_t> unmaskedPrevious(kFrameBytes, 0);
            std::vector<uint8_t> picture = RandomPicture(bytes, random());
            for (int round = 0; round < 4; ++round) {
                const std::vector<MaskRect> rects = RandomRects(random, w, h);
                SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height << " rotate " << rotate
                                                  << " reflect " << reflect << " mask " << TextOf(rects));
                registry.SetText("DetectorMask", TextOf(rects).c_str());
                exchange.ApplyOrientation();
                ASSERT_EQ(exchange.Mask().Count(), static_cast<int>(rects.size()));
                // Noise and counted differences mixed, as in a real scene.
                for (std::size_t i = 0; i < bytes; ++i)
                    picture[i] = static_cast<uint8_t>(picture[i] + (round % 2 ? i % 23 : random() % 4));
                const std::vector<uint8_t> previous(exchange.Previous(), exchange.Previous() + kFrameBytes);
                exchange.PutSample(round, picture.data(), static_cast<int32_t>(bytes));
                std::vector<uint8_t> fetched(kFrameBytes, 0);
                double time = 0;
                int32_t length = 0;
                const int level = exchange.FetchFrame(time, fetched.data(), length);
                ASSERT_EQ(length, static_cast<int32_t>(bytes));
                const PlainMaskedLevel expected = Measure(fetched, previous, w, h, rects);
                EXPECT_EQ(level, expected.level);
                EXPECT_EQ(exchange.CountedBytes(), expected.counted);
                EXPECT_EQ(exchange.ChangedBytes(), expected.changed);
                // The mask changes what counts, never the pictures.
                for (std::size_t i = 0; i < bytes; ++i) {
                    ASSERT_EQ(exchange.Difference()[i], 255 - std::abs(fetched[i] - previous[i])) << i;
                    ASSERT_EQ(exchange.Previous()[i], fetched[i]) << i;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MaskedLevelTest,
                         ::testing::Combine(::testing::Values(Size{640, 480}, Size{160, 120}, Size{33, 17},
                                                              Size{5, 16}, Size{1, 7}),
                                            ::testing::Values(0, 1, 2)),
                         [](const auto& info) {
                             const Size size = std::get<0>(info.param);
                             return std::to_string(size.width) + "x" + std::to_string(size.height) +
                                    "_level" + std::to_string(std::get<1>(info.param));
                         });

class DetectorMaskTest : public ::testing::Test {
protected:
    DetectorMaskTest() { PrepareRegistry(registry, &poster); }
    int Fetch(FrameExchange& exchange, const std::vector<uint8_t>& picture) {
        exchange.PutSample(1.0, picture.data(), static_cast<int32_t>(picture.size()));
        double time = 0;
        int32_t length = 0;
        return exchange.FetchFrame(time, out.data(), length);
    }
    Registry registry{true};
    CountingPoster poster;
    std::vector<uint8_t> out = std::vector<uint8_t>(kFrameBytes);
};

TEST_F(DetectorMaskTest, MalformedAndOutsideEntriesAreDroppedWithOneLine) {
    DetectorMask mask;
    testing::internal::CaptureStderr();
    mask.Load(" 10,20,30,40;;1,2,3;5,5,0,9;600,0,41,10;a,1,1,1;0,0,640,480;7,8,9,10,11;-1,0,5,5", 640, 480);
    EXPECT_EQ(mask.Text(), "10,20,30,40;0,0,640,480");
    EXPECT_EQ(mask.MaskedBytes(), int64_t{640} * 480 * 3);
    mask.Load(" 10,20,30,40;;1,2,3;5,5,0,9;600,0,41,10;a,1,1,1;0,0,640,480;7,8,9,10,11;-1,0,5,5", 640, 480);
    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += std::to_string(i) + ",0,1,1;";
    mask.Load(seventeen.c_str(), 640, 480);
    EXPECT_EQ(mask.Count(), DetectorMask::kMaxRects);
    mask.Load("", 640, 480);
    EXPECT_TRUE(mask.Empty());
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "video: \"DetectorMask\": 6 of 8 areas dropped (malformed, not inside the 640 x 480 picture, or more "
        "than 16)\n"
        "video: \"DetectorMask\": 1 of 17 areas dropped (malformed, not inside the 640 x 480 picture, or "
        "more "
        "than 16)\n");
}

TEST_F(DetectorMaskTest, EditsKeepTheNewestOnTopAndTheTextInStep) {
    DetectorMask mask;
    mask.Load("", 320, 240);
    EXPECT_FALSE(mask.Add({300, 0, 21, 10})) << "reaches past the right edge";
    EXPECT_FALSE(mask.Add({0, 0, 0, 10}));
    ASSERT_TRUE(mask.Add({0, 0, 100, 100}));
    ASSERT_TRUE(mask.Add({50, 50, 100, 100}));
    EXPECT_EQ(mask.MaskedBytes(), (100 * 100 * 2 - 50 * 50) * 3) << "the overlap counts once";
    EXPECT_TRUE(mask.RemoveAt(60, 60));
    EXPECT_EQ(mask.Text(), "0,0,100,100") << "the newer of two overlapping areas goes first";
    EXPECT_FALSE(mask.RemoveAt(200, 200));
    mask.Clear();
    EXPECT_TRUE(mask.Empty());
    EXPECT_EQ(mask.MaskedBytes(), 0);
}

TEST_F(DetectorMaskTest, AMaskedChangeIsNotMotionAndAllMaskedIsLevelZero) {
    FrameExchange exchange(registry);
    exchange.SetSourceSize(320, 240);
    const std::vector<uint8_t> dark(320 * 240 * 3, 40);
    // Bright where the upper left quarter of the picture is: the last rows in memory.
    std::vector<uint8_t> lit = dark;
    for (int row = 120; row < 240; ++row) std::memset(&lit[(row * 320) * 3], 220, 160 * 3);
    Fetch(exchange, dark);
    const int unmasked = Fetch(exchange, lit);
    EXPECT_GT(unmasked, 50);
    registry.SetText("DetectorMask", "0,0,160,120");
    exchange.ApplyOrientation();
    Fetch(exchange, dark);
    EXPECT_EQ(Fetch(exchange, lit), 0);
    EXPECT_EQ(exchange.ChangedBytes(), 0);
    EXPECT_EQ(exchange.CountedBytes(), 320 * 240 * 3 - 160 * 120 * 3);

    registry.SetText("DetectorMask", "0,0,320,240");
    exchange.ApplyOrientation();
    EXPECT_EQ(Fetch(exchange, dark), 0);
    EXPECT_EQ(exchange.CountedBytes(), 0);
    EXPECT_EQ(exchange.Difference()[120 * 320 * 3], 255 - 180)
        << "the difference picture still shows the change";
}

// Above 640 x 480 the areas are read in that frame of reference and scaled:
// they cover the same part of the picture at every size, a change there is
// no motion, and the text is saved as it was read.
TEST_F(DetectorMaskTest, AnAreaKeepsItsPlaceAtEverySize) {
    registry.SetText("DetectorMask", "160,120,320,240");
    FrameExchange exchange(registry);
    out.assign(kFrameCapacityBytes, 0);
    for (const Size size : {Size{640, 480}, Size{1280, 720}, Size{1920, 1080}}) {
        SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height);
        exchange.SetSourceSize(size.width, size.height);
        const MaskRect area = exchange.Mask().Rect(0);
        EXPECT_EQ(area.x * 4, size.width);
        EXPECT_EQ(area.y * 4, size.height);
        EXPECT_EQ(area.width * 2, size.width);
        EXPECT_EQ(area.height * 2, size.height);
        EXPECT_EQ(exchange.Mask().Text(), "160,120,320,240");
        const std::size_t bytes = static_cast<std::size_t>(size.width) * size.height * 3;
        const std::vector<uint8_t> dark(bytes, 40);
        std::vector<uint8_t> lit = dark;
        for (int row = size.height / 4; row < size.height * 3 / 4; ++row)
            std::memset(&lit[(static_cast<std::size_t>(row) * size.width + size.width / 4) * 3], 220,
                        static_cast<std::size_t>(size.width) / 2 * 3);
        Fetch(exchange, dark);
        EXPECT_EQ(Fetch(exchange, lit), 0);
        EXPECT_EQ(exchange.ChangedBytes(), 0);
        EXPECT_EQ(exchange.CountedBytes(), static_cast<int64_t>(bytes) * 3 / 4);
    }
    // Upright, the text is read in the 480 x 640 frame.
    registry.SetText("DetectorMask", "120,160,240,320");
    registry.SetInt("VideoRotate", 1);
    exchange.ApplyOrientation();
    const MaskRect upright = exchange.Mask().Rect(0);
    EXPECT_EQ(upright.x, 270);
    EXPECT_EQ(upright.y, 480);
    EXPECT_EQ(upright.width, 540);
    EXPECT_EQ(upright.height, 960);
}

TEST_F(DetectorMaskTest, TheMaskFollowsTheOrientedPicture) {
    registry.SetText("DetectorMask", "500,10,100,50;10,500,50,100");
    testing::internal::CaptureStderr();
    FrameExchange exchange(registry);
    EXPECT_EQ(exchange.Mask().Text(), "500,10,100,50");
    registry.SetInt("VideoRotate", 1);
    exchange.ApplyOrientation();
    EXPECT_EQ(exchange.Mask().Text(), "10,500,50,100");
    EXPECT_EQ(exchange.Mask().Width(), 480);
    testing::internal::GetCapturedStderr();
}

}  // namespace
