#include "video/frame_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "video/video_test_support.h"

namespace {

class FrameExchangeTest : public ::testing::Test {
protected:
    FrameExchangeTest() { PrepareRegistry(registry, &poster); }

    // Offers one sample and fetches it into out; returns the level.
    int PutAndFetch(FrameExchange& exchange, const std::vector<uint8_t>& sample, int32_t* length = nullptr) {
        exchange.PutSample(1.0, sample.data(), static_cast<int32_t>(sample.size()));
        double time = 0.0;
        int32_t fetched = -1;
        const int level = exchange.FetchFrame(time, out.data(), fetched);
        if (length) *length = fetched;
        return level;
    }

    Registry registry{true};
    CountingPoster poster;
    std::vector<uint8_t> out = std::vector<uint8_t>(kFrameBytes, 0xAB);
};

TEST_F(FrameExchangeTest, StartsAsA640x480CameraAndRegistersItself) {
    FrameExchange exchange(registry);
    EXPECT_EQ(registry.Find<FrameExchange>("_VideoDataCls"), &exchange);
    const BitmapInfoHeader& h = exchange.Header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 640);
    EXPECT_EQ(h.biHeight, 480);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 0u);
    EXPECT_TRUE(std::all_of(exchange.Blank(), exchange.Blank() + kFrameBytes, [](uint8_t b) { return b == 0; }));
}

TEST_F(FrameExchangeTest, FetchWithNothingPendingChangesNothing) {
    FrameExchange exchange(registry);
    double time = 7.0;
    int32_t length = -1;
    EXPECT_EQ(exchange.FetchFrame(time, out.data(), length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(time, 7.0);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
}

TEST_F(FrameExchangeTest, OnlySamplesOfTheCamerasSizeAreTakenOrAnnounced) {
    FrameExchange exchange(registry);
    std::vector<uint8_t> big(kFrameBytes + 1, 200);
    exchange.PutSample(1.0, big.data(), kFrameBytes + 1);
    exchange.SetSourceSize(320, 240);
    exchange.PutSample(1.0, big.data(), kFrameBytes);         // Fits the buffer, not the camera.
    exchange.PutSample(1.0, big.data(), 320 * 240 * 3 + 1);   // One byte too many.
    exchange.PutSample(1.0, big.data(), 320 * 240 * 3 - 1);
    exchange.PutSample(1.0, big.data(), 0);
    exchange.PutSample(1.0, big.data(), -5);
    exchange.PutSample(1.0, nullptr, 320 * 240 * 3);
    EXPECT_EQ(poster.posts.load(), 0);
    double time = 0.0;
    int32_t length = -1;
    EXPECT_EQ(exchange.FetchFrame(time, out.data(), length), 0);
    EXPECT_EQ(length, 0);

    // The slot is still free for the next valid sample.
    std::vector<uint8_t> good(320 * 240 * 3, 90);
    exchange.PutSample(2.5, good.data(), static_cast<int32_t>(good.size()));
    EXPECT_EQ(poster.posts.load(), 1);
    exchange.FetchFrame(time, out.data(), length);
    EXPECT_EQ(length, 320 * 240 * 3);
    EXPECT_EQ(time, 2.5);
}

// The capture side hands over top-down rows with padding by walking them up
// from the last row; what arrives must be the packed bottom-up picture, and a
// picture of another width or height, or with overlapping rows, is neither
// taken nor announced.
TEST_F(FrameExchangeTest, PaddedTopDownRowsArriveAsThePackedBottomUpPicture) {
    FrameExchange exchange(registry);
    exchange.SetSourceSize(175, 3);
    const std::ptrdiff_t stride = 528;  // 175 * 3 rounded up to 4 bytes, plus a little.
    std::vector<uint8_t> topDown(stride * 3, 0xEE);
    std::vector<uint8_t> bottomUp;
    for (int row = 2; row >= 0; --row)
        for (int i = 0; i < 175 * 3; ++i) {
            topDown[row * stride + i] = static_cast<uint8_t>(row * 50 + i % 7);
            bottomUp.push_back(static_cast<uint8_t>(row * 50 + i % 7));
        }
    exchange.PutSampleRows(1.0, topDown.data() + 2 * stride, -stride, 175, 4);
    exchange.PutSampleRows(1.0, topDown.data() + 2 * stride, -stride, 176, 3);
    exchange.PutSampleRows(1.0, topDown.data() + 2 * stride, -174 * 3, 175, 3);
    exchange.PutSampleRows(1.0, nullptr, -stride, 175, 3);
    EXPECT_EQ(poster.posts.load(), 0);
    exchange.PutSampleRows(3.5, topDown.data() + 2 * stride, -stride, 175, 3);
    EXPECT_EQ(poster.posts.load(), 1);
    double time = 0.0;
    int32_t length = 0;
    exchange.FetchFrame(time, out.data(), length);
    EXPECT_EQ(time, 3.5);
    ASSERT_EQ(length, 175 * 3 * 3);
    EXPECT_TRUE(std::equal(bottomUp.begin(), bottomUp.end(), out.begin()));
}

TEST_F(FrameExchangeTest, SamplesArrivingWhileFullAreDroppedButAnnounced) {
    FrameExchange exchange(registry);
    const std::vector<uint8_t> first = RandomPicture(kFrameBytes, 1);
    const std::vector<uint8_t> second = RandomPicture(kFrameBytes, 2);
    exchange.PutSample(10.0, first.data(), kFrameBytes);
    exchange.PutSample(11.0, second.data(), kFrameBytes);
    exchange.PutSample(12.0, second.data(), kFrameBytes);
    EXPECT_EQ(poster.posts.load(), 3);
    EXPECT_EQ(poster.lastMessage.load(), kVideoDataMessage);
    EXPECT_EQ(poster.lastWParam.load(), 0u);
    EXPECT_EQ(poster.lastLParam.load(), 1);

    double time = 0.0;
    int32_t length = 0;
    exchange.FetchFrame(time, out.data(), length);
    EXPECT_EQ(time, 10.0);
    EXPECT_EQ(length, kFrameBytes);
    EXPECT_EQ(out, first);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(exchange.FetchFrame(time, out.data(), length), 0);
        EXPECT_EQ(length, 0);
        EXPECT_EQ(time, 10.0);
    }
    EXPECT_EQ(out, first);
}

TEST_F(FrameExchangeTest, WithoutAWindowSamplesAreStillTaken) {
    registry.SetHandle("_MainHwnd", intptr_t{0});
    FrameExchange exchange(registry);
    const std::vector<uint8_t> picture(kFrameBytes, 255);
    int32_t length = 0;
    EXPECT_EQ(PutAndFetch(exchange, picture, &length), 100);
    EXPECT_EQ(length, kFrameBytes);
    EXPECT_EQ(poster.posts.load(), 0);
}

TEST_F(FrameExchangeTest, IdenticalPicturesGiveNoMotionAndAWhiteDifference) {
    FrameExchange exchange(registry);
    const std::vector<uint8_t> picture = RandomPicture(kFrameBytes, 3);
    EXPECT_GT(PutAndFetch(exchange, picture), 90);  // Compared with the black start.
    EXPECT_EQ(PutAndFetch(exchange, picture), 0);
    EXPECT_TRUE(std::all_of(exchange.Difference(), exchange.Difference() + kFrameBytes,
                            [](uint8_t b) { return b == 255; }));
}

TEST_F(FrameExchangeTest, DifferencesBelowSevenAreNoise) {
    FrameExchange exchange(registry);
    const std::vector<uint8_t> base = RandomPicture(kFrameBytes, 4);
    std::vector<uint8_t> noisy = base;
    for (std::size_t i = 0; i < noisy.size(); ++i) {
        const int delta = static_cast<int>(i % 13) - 6;  // -6..6, both directions.
        noisy[i] = static_cast<uint8_t>(std::clamp(base[i] + delta, 0, 255));
    }
    PutAndFetch(exchange, base);
    EXPECT_EQ(PutAndFetch(exchange, noisy), 0);
    const auto [low, high] = std::minmax_element(exchange.Difference(), exchange.Difference() + kFrameBytes);
    EXPECT_EQ(*low, 249);
    EXPECT_EQ(*high, 255);

    // A difference of exactly 7 everywhere counts in full: 5 * sqrt(105) - 10.
    std::vector<uint8_t> shifted(kFrameBytes);
    for (std::size_t i = 0; i < shifted.size(); ++i)
        shifted[i] = static_cast<uint8_t>(noisy[i] >= 7 ? noisy[i] - 7 : noisy[i] + 7);
    EXPECT_EQ(PutAndFetch(exchange, shifted), 41);
    EXPECT_EQ(exchange.Difference()[0], 248);
}

TEST_F(FrameExchangeTest, FirstPictureIsComparedWithBlack) {
    FrameExchange bright(registry);
    EXPECT_EQ(PutAndFetch(bright, std::vector<uint8_t>(kFrameBytes, 255)), 100);
    FrameExchange black(registry);
    EXPECT_EQ(PutAndFetch(black, std::vector<uint8_t>(kFrameBytes, 0)), 0);
}

// A first picture whose bytes add up to sum with every byte 0 or at least 7.
std::vector<uint8_t> PictureWithSum(uint64_t sum, std::size_t bytes) {
    std::vector<uint8_t> picture(bytes, 0);
    std::size_t i = 0;
    while (sum > 0) {
        uint64_t value = sum >= 262 ? 255 : sum > 255 ? sum - 7 : sum;
        picture[i++] = static_cast<uint8_t>(value);
        sum -= value;
    }
    return picture;
}

TEST_F(FrameExchangeTest, MotionLevelMatchesTheWorkedValues) {
    struct Case {
        double mean;
        int level;
    };
    const Case cases[] = {{0, 0},     {0.3226, 0}, {0.3227, 1}, {0.5, 3},    {1, 9},     {2, 17},
                          {5, 33},    {10, 51},    {20, 76},    {32.26, 99}, {32.27, 100}, {255, 100}};
    for (const Case& c : cases) {
        FrameExchange exchange(registry);
        const auto sum = static_cast<uint64_t>(std::llround(c.mean * kFrameBytes));
        EXPECT_EQ(PutAndFetch(exchange, PictureWithSum(sum, kFrameBytes)), c.level) << "mean " << c.mean;
    }
}

TEST_F(FrameExchangeTest, ASmallCameraIsMeasuredOverItsOwnBytes) {
    FrameExchange exchange(registry);
    exchange.SetSourceSize(160, 120);
    EXPECT_EQ(exchange.Width(), 160);
    EXPECT_EQ(exchange.Height(), 120);
    int32_t length = 0;
    // Over 921600 bytes the same sum would be a mean of 15.9 and level 67.
    EXPECT_EQ(PutAndFetch(exchange, std::vector<uint8_t>(57600, 255), &length), 100);
    EXPECT_EQ(length, 57600);
    EXPECT_EQ(exchange.Difference()[57599], 0);
    EXPECT_EQ(exchange.Difference()[57600], 0);  // Beyond the picture: untouched.
    EXPECT_EQ(exchange.Previous()[57599], 255);
    EXPECT_EQ(exchange.Previous()[57600], 0);
}

TEST_F(FrameExchangeTest, ASampleLeftFromAnotherCameraSizeIsDropped) {
    FrameExchange exchange(registry);
    const std::vector<uint8_t> large(kFrameBytes, 100);
    exchange.PutSample(1.0, large.data(), kFrameBytes);
    exchange.SetSourceSize(320, 240);
    double time = 0.0;
    int32_t length = -1;
    EXPECT_EQ(exchange.FetchFrame(time, out.data(), length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(exchange.Previous()[0], 0);
    // The slot was freed for the new size.
    const std::vector<uint8_t> small(320 * 240 * 3, 100);
    EXPECT_EQ(PutAndFetch(exchange, small, &length), 100);
    EXPECT_EQ(length, 320 * 240 * 3);
}

TEST_F(FrameExchangeTest, AQuarterTurnSwapsTheSizeAndMovesTheCorners) {
    registry.SetInt("VideoRotate", 1);
    FrameExchange exchange(registry);
    EXPECT_EQ(exchange.Width(), 480);
    EXPECT_EQ(exchange.Height(), 640);
    std::vector<uint8_t> sample(kFrameBytes, 0);
    const uint8_t first[3] = {1, 2, 3};
    const uint8_t last[3] = {4, 5, 6};
    std::memcpy(&sample[0], first, 3);
    std::memcpy(&sample[(479 * 640 + 639) * 3], last, 3);
    PutAndFetch(exchange, sample);
    EXPECT_EQ(std::memcmp(&out[(0 * 480 + 479) * 3], first, 3), 0);
    EXPECT_EQ(std::memcmp(&out[(639 * 480 + 0) * 3], last, 3), 0);
}

TEST_F(FrameExchangeTest, OrientationChoicesOutsideTheRangeMeanNone) {
    registry.SetInt("VideoRotate", 5);
    registry.SetInt("VideoReflect", 9);
    FrameExchange exchange(registry);
    EXPECT_EQ(exchange.Rotate(), Rotate::kNone);
    EXPECT_EQ(exchange.Reflect(), Reflect::kNone);
    EXPECT_EQ(exchange.Width(), 640);
    const std::vector<uint8_t> picture = RandomPicture(kFrameBytes, 5);
    PutAndFetch(exchange, picture);
    EXPECT_EQ(out, picture);

    registry.SetInt("VideoRotate", 3);
    exchange.ApplyOrientation();
    EXPECT_EQ(exchange.Width(), 480);
    EXPECT_EQ(exchange.Height(), 640);
}

// The capture side may reuse its memory once the put returns, and a window
// nobody looks at gets its level without any picture copied out.
TEST_F(FrameExchangeTest, ASampleIsMeasuredAtThePutAndOnlyWhatIsAskedForIsCopiedOut) {
    for (const int rotate : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << "rotate " << rotate);
        registry.SetInt("VideoRotate", rotate);
        FrameExchange exchange(registry);
        std::vector<uint8_t> capture(kFrameBytes, 0);
        EXPECT_EQ(PutAndFetch(exchange, capture), 0);

        exchange.SetDifferenceWanted(false);
        std::fill(capture.begin(), capture.end(), 100);
        exchange.PutSample(2.0, capture.data(), kFrameBytes);
        std::fill(capture.begin(), capture.end(), 7);  // The capture side's next picture.
        FrameExchange::Measured measured;
        ASSERT_TRUE(exchange.PeekMeasured(measured));
        EXPECT_EQ(measured.level, 100);
        EXPECT_EQ(measured.sampleTime, 2.0);
        EXPECT_EQ(measured.changedBytes, kFrameBytes);
        std::fill(out.begin(), out.end(), 0xAB);
        double time = 0.0;
        int32_t length = 0;
        EXPECT_EQ(exchange.FetchFrame(time, out.data(), length, 0), 100);
        EXPECT_EQ(length, kFrameBytes);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; })) << "nothing copied";
        EXPECT_EQ(exchange.Difference()[0], 255) << "the difference image of the first picture stays";
        EXPECT_FALSE(exchange.PeekMeasured(measured));

        exchange.SetDifferenceWanted(true);
        std::fill(capture.begin(), capture.end(), 100);
        EXPECT_EQ(PutAndFetch(exchange, capture), 0);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 100; }))
            << "the picture measured, not what the capture side wrote after";
        EXPECT_TRUE(std::all_of(exchange.Difference(), exchange.Difference() + kFrameBytes,
                                [](uint8_t b) { return b == 255; }));
    }
}

}  // namespace

// A scene drawn at any size from coordinates 0..1 across and down, at time t:
// the same picture content, only with more pixels.
using Scene = uint8_t (*)(double across, double down, int channel, int t);

uint8_t Waves(double across, double down, int channel, int t) {
    const double wave = std::sin(6.2832 * (5 * across + 0.3 * channel + 0.04 * t)) * std::cos(6.2832 * 3 * down);
    return static_cast<uint8_t>(128 + 90 * wave);
}

// A bright square moving over a still gradient.
uint8_t MovingSquare(double across, double down, int channel, int t) {
    const double left = 0.2 + 0.06 * t;
    if (across >= left && across < left + 0.25 && down >= 0.3 && down < 0.6) return 230;
    return static_cast<uint8_t>(60 + 100 * across + 10 * channel);
}

// The scene as a camera sample of width x height (bottom-up).
std::vector<uint8_t> Draw(Scene scene, int32_t width, int32_t height, int t) {
    std::vector<uint8_t> sample(static_cast<std::size_t>(width) * height * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                sample[(static_cast<std::size_t>(height - 1 - y) * width + x) * 3 + c] =
                    scene((x + 0.5) / width, (y + 0.5) / height, c, t);
    return sample;
}

// Above 640 x 480 the level is measured on a grid of lines: the same scene
// gives the same level at every size and turn, whether the picture is kept
// whole or only its level is wanted; the difference image has the grid's
// size. A picture not wanted is never copied out, and the next put after it
// is wanted again arrives whole.
TEST_F(FrameExchangeTest, TheSameSceneGivesTheSameLevelAtEverySize) {
    struct Case {
        int32_t width, height, rotate, gridWidth, gridHeight;
    };
    const Case cases[] = {{640, 480, 0, 640, 480},
                          {1280, 720, 0, 1280, 240},
                          {1920, 1080, 0, 1920, 154},
                          {1920, 1080, 1, 1080, 274}};
    for (const Scene scene : {Waves, MovingSquare}) {
        int reference = -1;
        for (const Case& c : cases) {
            int levelKept = -1;
            for (const bool kept : {true, false}) {
                SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " turned " << c.rotate
                                                  << (kept ? " kept whole" : " level only"));
                registry.SetInt("VideoRotate", c.rotate);
                FrameExchange exchange(registry);
                exchange.SetSourceSize(c.width, c.height);
                exchange.SetPictureWanted(kept);
                const std::vector<uint8_t> before = Draw(scene, c.width, c.height, 0);
                const std::vector<uint8_t> after = Draw(scene, c.width, c.height, 1);
                out.assign(kFrameCapacityBytes, 0xAB);
                PutAndFetch(exchange, before);
                out.assign(kFrameCapacityBytes, 0xAB);
                int32_t length = 0;
                const int level = PutAndFetch(exchange, after, &length);
                ASSERT_EQ(length, static_cast<int32_t>(after.size()));
                const bool copied = kept || c.width == 640;  // At 640 x 480 every line is measured.
                if (c.rotate == 0 && copied) {
                    EXPECT_EQ(0, std::memcmp(out.data(), after.data(), after.size()));
                }
                if (!copied) {
                    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
                    exchange.SetPictureWanted(true);
                    EXPECT_EQ(PutAndFetch(exchange, after), 0);
                    if (c.rotate == 0) {
                        EXPECT_EQ(0, std::memcmp(out.data(), after.data(), after.size()));
                    }
                }
                EXPECT_EQ(exchange.DifferenceWidth(), c.gridWidth);
                EXPECT_EQ(exchange.DifferenceHeight(), c.gridHeight);
                if (kept) levelKept = level;
                EXPECT_EQ(level, levelKept);
                if (reference < 0) {
                    reference = level;
                    EXPECT_GT(level, 10);
                }
                EXPECT_NEAR(level, reference, 2);
            }
        }
    }
    registry.SetInt("VideoRotate", 0);
}
