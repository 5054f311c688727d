// The H.264 file encoder on real pictures: a still scene's sensor noise is
// settled away, while what moves is stored as it was.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recording/mp4_encoder_gst.h"
#include "recording/rec_test_support.h"

TEST(Mp4Encoder, StillNoiseSettlesWhileAMovingSquarePassesUnchanged) {
    gst_init(nullptr, nullptr);
    auto encoder = CreateGstH264Encoder();
    if (!encoder) GTEST_SKIP() << "no H.264 encoder installed";
    constexpr int kW = 320, kH = 240, kPictures = 30, kSide = 32;
    TempFolder folder;
    const std::string path = folder.Path() + "noise.mp4";
    std::FILE* touched = std::fopen(path.c_str(), "w");
    std::fclose(touched);
    std::string error;
    ASSERT_TRUE(encoder->Open(path, kW, kH, 200, error)) << error;
    // A still grey ramp with noise of up to 3 levels either way; a white square
    // crosses its middle band 8 pixels a picture. Rows are stored bottom-up.
    std::vector<uint8_t> picture(kW * kH * 3);
    uint32_t seed = 1;
    auto squareX = [](int n) { return 8 * n; };
    for (int n = 0; n < kPictures; ++n) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool square = y >= 104 && y < 104 + kSide && x >= squareX(n) && x < squareX(n) + kSide;
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    const int noisy = 60 + x * 120 / kW + static_cast<int>((seed >> 24) % 7) - 3;
                    picture[((kH - 1 - y) * kW + x) * 3 + c] = static_cast<uint8_t>(square ? 250 : noisy);
                }
            }
        ASSERT_TRUE(encoder->Push(picture.data(), kW, kH, n * 0.2, true));
    }
    ASSERT_TRUE(encoder->Close());

    std::FILE* pipe = popen(("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt gray -").c_str(), "r");
    std::vector<uint8_t> frames(static_cast<std::size_t>(kW) * kH * kPictures);
    const std::size_t got = std::fread(frames.data(), 1, frames.size(), pipe);
    pclose(pipe);
    ASSERT_EQ(got, frames.size());
    auto at = [&](int n, int x, int y) { return static_cast<int>(frames[(static_cast<std::size_t>(n) * kH + y) * kW + x]); };
    auto meanOf = [&](int n, int x0, int y0) {
        int sum = 0;
        for (int y = y0 + 4; y < y0 + kSide - 4; ++y)
            for (int x = x0 + 4; x < x0 + kSide - 4; ++x) sum += at(n, x, y);
        return sum / ((kSide - 8) * (kSide - 8));
    };
    // Away from the square's band the stored pictures stand still.
    long changed = 0, counted = 0;
    for (int n = 11; n < kPictures; ++n)
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < kW; ++x, ++counted) changed += std::abs(at(n, x, y) - at(n - 1, x, y));
    EXPECT_LT(static_cast<double>(changed) / static_cast<double>(counted), 0.3);
    // The square is where it is in every picture, and the ramp is back where it was.
    for (int n = 4; n < kPictures; ++n) {
        EXPECT_GT(meanOf(n, squareX(n), 104), 200) << "picture " << n;
        EXPECT_NEAR(meanOf(n, squareX(n - 4), 104), meanOf(kPictures - 1, squareX(n - 4), 104), 6) << "picture " << n;
    }
}
