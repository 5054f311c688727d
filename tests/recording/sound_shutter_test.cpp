#include "recording/shutter_sound.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
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
    // Audible, starting and ending at rest (128 is silence in 8-bit PCM).
    int loud = 0;
    for (size_t i = 44; i < image.size(); ++i) loud += (image[i] < 64 || image[i] > 192) ? 1 : 0;
    EXPECT_GT(loud, 20);
    EXPECT_NEAR(image[44], 128, 8);
    EXPECT_NEAR(image.back(), 128, 2);
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
    ShutterSound missing("no-such-device-here");
    EXPECT_FALSE(missing.Play(ShutterWaveImage().data(), ShutterWaveImage().size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
