#include "recording/photo_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes an image file with ffmpeg into top-down red-green-blue rows.
std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& image, const fs::path& raw) {
    const std::string command = "ffmpeg -v error -y -i '" + image.string() + "' -f rawvideo -pix_fmt rgb24 '" +
                                raw.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadFile(raw);
}

// Bottom-up blue-green-red rows where every pixel tells its own place.
std::vector<uint8_t> CodedPicture(int w, int h) {
    std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &picture[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(x);        // blue
            p[1] = static_cast<uint8_t>(y);        // green
            p[2] = static_cast<uint8_t>(200 - x);  // red
        }
    }
    return picture;
}

// Checks the decoded top-down RGB image shows the bottom-up BGR picture upright.
void ExpectSamePixels(const std::vector<uint8_t>& rgb, const std::vector<uint8_t>& bgr, int w, int h) {
    ASSERT_EQ(rgb.size(), bgr.size());
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* shown = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            const uint8_t* held = &bgr[(static_cast<size_t>(h - 1 - y) * w + x) * 3];
            if (shown[0] != held[2] || shown[1] != held[1] || shown[2] != held[0]) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

class PhotoFilesTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::path(testing::TempDir()) /
                  ("photo_files_" + std::to_string(getpid()) + "_" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

TEST_F(PhotoFilesTest, BmpHoldsTheBlueGreenRedRowsAndOpensInARealReader) {
    const int w = 320, h = 240;
    const std::vector<uint8_t> picture = CodedPicture(w, h);
    const fs::path path = folder_ / "00007.bmp";
    ASSERT_TRUE(WriteBmpFile(path.c_str(), picture.data(), static_cast<int32_t>(picture.size()), w, h));
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), 230454u);
    const std::vector<uint8_t> header = {
        'B', 'M', 0x36, 0x84, 0x03, 0x00, 0, 0, 0, 0, 54, 0, 0, 0,        // file header
        40, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 1, 0, 24, 0,       // size, 320, 240, planes, bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // the rest zero
    EXPECT_TRUE(std::vector<uint8_t>(file.begin(), file.begin() + 54) == header);
    EXPECT_TRUE(std::vector<uint8_t>(file.begin() + 54, file.end()) == picture);
    ExpectSamePixels(DecodeWithFfmpeg(path, folder_ / "out.rgb"), picture, w, h);
}

// Rows of 5 * 3 bytes get one pad byte each, or every reader shears the picture.
TEST_F(PhotoFilesTest, BmpRowsOfUnalignedWidthArePaddedForReaders) {
    const int w = 5, h = 3;
    const std::vector<uint8_t> picture = CodedPicture(w, h);
    const fs::path path = folder_ / "odd.bmp";
    ASSERT_TRUE(WriteBmpFile(path.c_str(), picture.data(), static_cast<int32_t>(picture.size()), w, h));
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), 54u + 16u * 3u);
    EXPECT_EQ(file[2], 54 + 48);
    EXPECT_EQ(file[54 + 15], 0);
    ExpectSamePixels(DecodeWithFfmpeg(path, folder_ / "odd.rgb"), picture, w, h);
}

TEST_F(PhotoFilesTest, JpegReplacesAnExistingLongerFile) {
    const fs::path path = folder_ / "00000.jpg";
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(100000, 'x');
    }
    const std::vector<uint8_t> bytes = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
    ASSERT_TRUE(WriteJpegFile(path.c_str(), bytes.data(), static_cast<int32_t>(bytes.size())));
    EXPECT_TRUE(ReadFile(path) == bytes);
    ASSERT_TRUE(WriteBmpFile(path.c_str(), bytes.data(), 6, 1, 2));
    EXPECT_EQ(ReadFile(path).size(), 54u + 8u);
}

TEST_F(PhotoFilesTest, MissingFolderWritesNothing) {
    const fs::path path = folder_ / "gone" / "00001.bmp";
    const uint8_t pixel[3] = {1, 2, 3};
    EXPECT_FALSE(WriteBmpFile(path.c_str(), pixel, 3, 1, 1));
    EXPECT_FALSE(WriteJpegFile(path.c_str(), pixel, 3));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
