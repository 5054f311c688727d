#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "video/frame.h"
#include "video/frame_exchange.h"
#include "video/screen_picture.h"

namespace {

// A frame of random bytes, and another of the same size for the bottom rows
// read apart (see FrameRows).
struct BandedFrame {
    BandedFrame(std::mt19937& random, int width, int height, int bandRows)
        : frame(static_cast<size_t>(width) * height * 3), band(frame.size()), rowBytes(width * 3) {
        for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
        for (uint8_t& b : band) b = static_cast<uint8_t>(random());
        rows = {frame.data(), band.data(), bandRows};
    }
    const uint8_t* Row(int y) const { return rows.Row(y, rowBytes); }
    std::vector<uint8_t> frame, band;
    std::ptrdiff_t rowBytes;
    FrameRows rows;
};

// Every width the fast paths treat differently: narrower than one step, at
// and around the points where the 32-byte steps hand over to the 16-byte ones
// and those to the portable tail, odd widths and the largest picture, with
// each vector width the processor has, whole and with the bottom rows read
// apart. Padding after each destination row must stay as it was.
TEST(ScreenPictureTest, EveryPixelUprightOpaqueAndNothingBeyondTheRow) {
    std::mt19937 random(7);
    for (const int vectors : {0, 1, 2}) {
        LimitFrameVectorsForTest(vectors);
        for (const int width : {1, 2, 5, 6, 7, 9, 10, 11, 13, 14, 17, 18, 175, 639, 640}) {
            for (const int height : {1, 3, 480}) {
                const BandedFrame frame(random, width, height, vectors == 2 ? height / 2 : 0);
                const std::ptrdiff_t stride = width * 4 + 8;
                std::vector<uint8_t> screen(static_cast<size_t>(stride) * height, 0xAB);
                if (frame.rows.bandRows == 0) {
                    FrameToScreenPixels(frame.frame.data(), width, height, screen.data(), stride);
                } else {
                    FrameToScreenPixels(frame.rows, width, height, screen.data(), stride);
                }
                for (int y = 0; y < height; ++y) {
                    const uint8_t* from = frame.Row(height - 1 - y);
                    const uint8_t* row = &screen[static_cast<size_t>(y) * stride];
                    for (int x = 0; x < width; ++x) {
                        uint32_t pixel;
                        std::memcpy(&pixel, row + 4 * x, 4);
                        const uint32_t expected = 0xff000000u | uint32_t{from[3 * x + 2]} << 16 |
                                                  uint32_t{from[3 * x + 1]} << 8 | from[3 * x];
                        ASSERT_EQ(pixel, expected)
                            << width << "x" << height << " at " << x << "," << y << ", vectors " << vectors;
                    }
                    for (std::ptrdiff_t pad = width * 4; pad < stride; ++pad)
                        ASSERT_EQ(row[pad], 0xAB) << width << "x" << height << " row " << y;
                }
            }
        }
    }
    LimitFrameVectorsForTest(2);
}

// Scaled: each shown pixel is the frame's pixel nearest its centre, with every
// vector width, down by whole and broken ratios, past the ratio the shuffles
// take, up, and to one column, whole and with the bottom rows read apart; the
// frame is allocated to its last byte so a load past it is caught by the
// address sanitizer.
TEST(ScreenPictureTest, ScaledPixelsAreTheNearestFramePixels) {
    std::mt19937 random(11);
    const struct {
        int width, height, targetWidth, targetHeight;
    } cases[] = {{1920, 1080, 640, 360}, {1920, 1080, 1728, 972}, {1280, 720, 641, 359}, {1920, 1080, 300, 170},
                 {640, 480, 1000, 751},  {17, 5, 9, 3},            {1080, 1920, 1, 7}};
    for (const int vectors : {0, 1, 2}) {
        LimitFrameVectorsForTest(vectors);
        for (const auto& c : cases) {
            const BandedFrame frame(random, c.width, c.height, vectors == 2 ? c.height / 4 : 0);
            const std::ptrdiff_t stride = c.targetWidth * 4 + 4;
            std::vector<uint8_t> screen(static_cast<size_t>(stride) * c.targetHeight, 0xAB);
            ScreenScaler scaler;
            scaler.Prepare(c.width, c.height, c.targetWidth, c.targetHeight);
            if (frame.rows.bandRows == 0) {
                scaler.Scale(frame.frame.data(), screen.data(), stride);
            } else {
                scaler.Scale(frame.rows, screen.data(), stride);
            }
            for (int y = 0; y < c.targetHeight; ++y) {
                const int fromY = c.height - 1 - (2 * y + 1) * c.height / (2 * c.targetHeight);
                for (int x = 0; x < c.targetWidth; ++x) {
                    const uint8_t* from =
                        frame.Row(fromY) + static_cast<size_t>((2 * x + 1) * c.width / (2 * c.targetWidth)) * 3;
                    uint32_t pixel;
                    std::memcpy(&pixel, &screen[static_cast<size_t>(y) * stride + 4 * x], 4);
                    ASSERT_EQ(pixel, 0xff000000u | uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0])
                        << c.width << "x" << c.height << " to " << c.targetWidth << "x" << c.targetHeight << " at "
                        << x << "," << y << ", vectors " << vectors;
                }
                ASSERT_EQ(screen[static_cast<size_t>(y) * stride + c.targetWidth * 4], 0xAB);
            }
        }
    }
    LimitFrameVectorsForTest(2);
}

TEST(ScreenPictureTest, EmptySizesTouchNothing) {
    std::vector<uint8_t> frame(12, 1);
    std::vector<uint8_t> screen(16, 0xAB);
    FrameToScreenPixels(frame.data(), 0, 1, screen.data(), 16);
    FrameToScreenPixels(frame.data(), 1, 0, screen.data(), 16);
    FrameToScreenPixels(frame.data(), -4, 1, screen.data(), 16);
    for (uint8_t b : screen) EXPECT_EQ(b, 0xAB);
}

}  // namespace
