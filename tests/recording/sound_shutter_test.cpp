#include "recording/shutter_sound.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
    return out;
}

TEST(ShutterSoundTest, WaveImageHasTheProgramsFormat) {
    const auto& image = ShutterWaveImage();
    ASSERT_EQ(image.size(), 9264u);
    const uint8_t header[44] = {'R', 'I', 'F', 'F', 0x28, 0x24, 0, 0, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                0xEF, 0x56, 0, 0, 0xEF, 0x56, 0, 0, 1, 0, 8, 0,
                                'd', 'a', 't', 'a', 0x04, 0x24, 0, 0};
    EXPECT_EQ(std::memcmp(image.data(), header, sizeof header), 0);
    // A loud click in the first 0.2 s, silence (128 in 8-bit PCM) by the end.
    int peak = 0;
    double early = 0.0;
    double late = 0.0;
    const size_t fifth = 22255 / 5;
    for (size_t i = 44; i < image.size(); ++i) {
        const int level = std::abs(image[i] - 128);
        peak = std::max(peak, level);
        if (i < 44 + fifth) early += level * level;
        if (i >= image.size() - fifth / 2) late += level * level;
    }
    EXPECT_GT(peak, 80);
    EXPECT_GT(std::sqrt(early / fifth), 8.0);
    EXPECT_LT(std::sqrt(late / (fifth / 2)), 1.0);
    EXPECT_NEAR(image[44], 128, 8);
    EXPECT_EQ(&ShutterWaveImage(), &image);
}

TEST(ShutterSoundTest, RealReaderSeesEightBitMonoAt22255) {
    const fs::path path = fs::path(testing::TempDir()) / ("shutter_" + std::to_string(getpid()) + ".wav");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(ShutterWaveImage().data()), ShutterWaveImage().size());
    }
    const std::string info = Output("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels "
                                    "-of default=noprint_wrappers=1 '" + path.string() + "'");
    fs::remove(path);
    EXPECT_NE(info.find("codec_name=pcm_u8"), std::string::npos) << info;
    EXPECT_NE(info.find("sample_rate=22255"), std::string::npos) << info;
    EXPECT_NE(info.find("channels=1"), std::string::npos) << info;
}

// Without a sound device the shutter is skipped at once and ALSA stays quiet;
// with one, the call returns once the 0.41 s sound has played.
TEST(ShutterSoundTest, PlaysOrSkipsQuietlyAndRejectsWhatIsNotWave) {
    ShutterSound sound;
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    sound.PlayShutter();
    const auto took = std::chrono::steady_clock::now() - start;
    const uint8_t junk[64] = {'R', 'I', 'F', 'X'};
    EXPECT_FALSE(sound.Play(junk, sizeof junk));
    std::array<uint8_t, kShutterWaveBytes> truncated = ShutterWaveImage();
    truncated[40] = 0xFF;  // data chunk claims more than the image holds
    EXPECT_FALSE(sound.Play(truncated.data(), truncated.size()));
    // ALSA's own "null" device takes the whole sound through open, parameters, writes and drain.
    ShutterSound null("null");
    EXPECT_TRUE(null.Play(ShutterWaveImage().data(), ShutterWaveImage().size()));
    ShutterSound missing("no-such-device-here");
    EXPECT_FALSE(missing.Play(ShutterWaveImage().data(), ShutterWaveImage().size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
