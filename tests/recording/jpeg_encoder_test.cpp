#include "recording/jpeg_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "jpeg_test_pictures.h"
#include "recording/memory_sink.h"
#include "recording/shot_data.h"

namespace {

// The reference recipe, step by step: swap the picture to red-green-blue in
// place, encode as JCS_RGB, and hand the sink 4,096 bytes at a time.
class ReferenceEncoder {
public:
    ReferenceEncoder() {
        cinfo_.err = jpeg_std_error(&errors_);
        jpeg_create_compress(&cinfo_);
        destination_.pub.init_destination = Init;
        destination_.pub.empty_output_buffer = Empty;
        destination_.pub.term_destination = Term;
        destination_.sink = &sink_;
        cinfo_.dest = &destination_.pub;
        cinfo_.image_width = 640;
        cinfo_.image_height = 480;
        cinfo_.input_components = 3;
        cinfo_.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo_);
        jpeg_set_quality(&cinfo_, 50, TRUE);
    }
    ~ReferenceEncoder() { jpeg_destroy_compress(&cinfo_); }

    std::vector<uint8_t> Encode(std::vector<uint8_t> picture, int w, int h, int quality) {
        sink_.Clear();
        cinfo_.image_width = w;
        cinfo_.image_height = h;
        for (size_t i = 0; i + 2 < picture.size(); i += 3) std::swap(picture[i], picture[i + 2]);
        jpeg_set_quality(&cinfo_, quality, TRUE);
        jpeg_start_compress(&cinfo_, TRUE);
        while (cinfo_.next_scanline < cinfo_.image_height) {
            JSAMPROW row = &picture[static_cast<size_t>(h - cinfo_.next_scanline - 1) * w * 3];
            jpeg_write_scanlines(&cinfo_, &row, 1);
        }
        jpeg_finish_compress(&cinfo_);
        return {sink_.Data(), sink_.Data() + sink_.Length()};
    }

private:
    static constexpr size_t kChunk = 4096;
    struct Destination {
        jpeg_destination_mgr pub;
        MemorySink* sink;
        JOCTET* buffer;
    };
    static void Init(j_compress_ptr cinfo) {
        auto* d = reinterpret_cast<Destination*>(cinfo->dest);
        d->buffer = static_cast<JOCTET*>(
            (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kChunk));
        d->pub.next_output_byte = d->buffer;
        d->pub.free_in_buffer = kChunk;
    }
    static boolean Empty(j_compress_ptr cinfo) {
        auto* d = reinterpret_cast<Destination*>(cinfo->dest);
        d->sink->Append(d->buffer, kChunk);
        d->pub.next_output_byte = d->buffer;
        d->pub.free_in_buffer = kChunk;
        return TRUE;
    }
    static void Term(j_compress_ptr cinfo) {
        auto* d = reinterpret_cast<Destination*>(cinfo->dest);
        const size_t n = kChunk - d->pub.free_in_buffer;
        if (n > 0) d->sink->Append(d->buffer, n);
    }

    MemorySink sink_{4 * 1048576};
    jpeg_error_mgr errors_{};
    Destination destination_{};
    jpeg_compress_struct cinfo_{};
};

void Fill(ShotData& shot, const std::vector<uint8_t>& picture, int w, int h, int quality, double time = 1.5) {
    std::memcpy(shot.picture.get(), picture.data(), picture.size());
    shot.frameBytes = static_cast<int32_t>(picture.size());
    shot.frameWidth = w;
    shot.frameHeight = h;
    shot.quality = quality;
    shot.captureTime = time;
}

std::vector<uint8_t> JpegOf(const ShotData& shot) {
    return {shot.jpeg.get(), shot.jpeg.get() + shot.jpegBytes};
}

TEST(MemorySinkTest, AppendsOnlyWhatLeavesRoomAndAlwaysReportsTheCount) {
    MemorySink sink(10);
    const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(sink.Append(bytes, 4), 4u);
    EXPECT_EQ(sink.Append(bytes, 6), 6u);  // 6 is not less than the 6 left: dropped
    EXPECT_EQ(sink.Length(), 4u);
    EXPECT_TRUE(sink.Overflowed());
    EXPECT_EQ(sink.Append(bytes + 4, 5), 5u);
    EXPECT_EQ(sink.Length(), 9u);
    EXPECT_EQ(std::memcmp(sink.Data(), bytes, 9), 0);
    EXPECT_EQ(sink.Append(bytes, 0), 0u);
    sink.Clear();
    EXPECT_EQ(sink.Length(), 0u);
    EXPECT_FALSE(sink.Overflowed());
}

// The encoder reads blue-green-red directly through a large destination; the
// bytes must still be those of the swap-to-RGB recipe for every size and quality.
TEST(JpegEncoderTest, BytesEqualTheSwapToRgbRecipe) {
    struct Case {
        int w, h, quality;
    };
    const Case cases[] = {{640, 480, 50}, {640, 480, 1}, {640, 480, 100}, {320, 240, 75},
                          {176, 144, 30}, {17, 9, 90},   {1, 1, 50},     {641 / 2, 479, 60}};
    JpegEncoder encoder;
    ReferenceEncoder reference;
    auto shot = std::make_unique<ShotData>();
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " q" << c.quality);
        const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(c.w, c.h, seed++);
        Fill(*shot, picture, c.w, c.h, c.quality);
        ASSERT_EQ(encoder.Encode(*shot), 0);
        EXPECT_EQ(shot->encodeStatus, 0);
        const std::vector<uint8_t> expected = reference.Encode(picture, c.w, c.h, c.quality);
        ASSERT_GT(expected.size(), 100u);
        EXPECT_TRUE(JpegOf(*shot) == expected) << shot->jpegBytes << " vs " << expected.size();
        // The picture stays blue-green-red for the BMP photo.
        EXPECT_EQ(std::memcmp(shot->picture.get(), picture.data(), picture.size()), 0);
    }
    // A picture larger than one destination buffer still comes out whole.
    const std::vector<uint8_t> noise = jpegtest::NoisePicture(320, 240);
    Fill(*shot, noise, 320, 240, 95);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    ASSERT_GT(static_cast<size_t>(shot->jpegBytes), JpegEncoder::kDestinationBytes);
    EXPECT_TRUE(JpegOf(*shot) == reference.Encode(noise, 320, 240, 95));
}

TEST(JpegEncoderTest, PictureComesOutUprightWithItsColoursAndFields) {
    // Memory holds the bottom row first: bottom half blue, top half red.
    const int w = 64, h = 32;
    std::vector<uint8_t> picture(w * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &picture[(y * w + x) * 3];
            const bool bottom = y < h / 2;
            p[0] = bottom ? 255 : 0;  // blue
            p[1] = 0;
            p[2] = bottom ? 0 : 255;  // red
        }
    }
    JpegEncoder encoder;
    auto shot = std::make_unique<ShotData>();
    Fill(*shot, picture, w, h, 90, 42.25);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    EXPECT_EQ(shot->jpegWidth, w);
    EXPECT_EQ(shot->jpegHeight, h);
    EXPECT_EQ(shot->encodedTime, 42.25);
    const jpegtest::Decoded decoded = jpegtest::DecodeJpeg(shot->jpeg.get(), shot->jpegBytes);
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.width, w);
    ASSERT_EQ(decoded.height, h);
    const uint8_t* top = &decoded.rgb[(4 * w + 10) * 3];
    const uint8_t* bottom = &decoded.rgb[((h - 4) * w + 10) * 3];
    EXPECT_GT(top[0], 200);  // red on top
    EXPECT_LT(top[2], 60);
    EXPECT_GT(bottom[2], 200);  // blue below
    EXPECT_LT(bottom[0], 60);
}

TEST(JpegEncoderTest, InvalidFrameSizesKeepThePreviousPicture) {
    JpegEncoder encoder;
    auto shot = std::make_unique<ShotData>();
    Fill(*shot, jpegtest::PhotoLikePicture(32, 16), 32, 16, 50, 3.0);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    const std::vector<uint8_t> previous = JpegOf(*shot);
    struct Case {
        int32_t n, w, h;
    };
    const Case cases[] = {
        {0, 0, 0},
        {-3, -1, 1},
        {ShotData::kBufferBytes + 3, 1, ShotData::kBufferBytes / 3 + 1},
        {32 * 16 * 3 - 1, 32, 16},
        {921600, -1, -307200},           // the product alone would pass
        {3 * 65536 * 2, 65536, 65538},  // wraps to the byte count in 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " " << c.w << "x" << c.h);
        shot->frameBytes = c.n;
        shot->frameWidth = c.w;
        shot->frameHeight = c.h;
        shot->captureTime = 9.0;
        EXPECT_EQ(encoder.Encode(*shot), 1);
        EXPECT_EQ(shot->encodeStatus, 2);
        EXPECT_TRUE(JpegOf(*shot) == previous);
        EXPECT_EQ(shot->jpegWidth, 32);
        EXPECT_EQ(shot->encodedTime, 3.0);
    }
}

// libjpeg refuses a 1 x 307200 picture (over its 65500 limit) although the
// byte count is valid: the program must live on and the encoder stay usable.
TEST(JpegEncoderTest, LibjpegErrorFailsTheEncodeAndLeavesTheEncoderUsable) {
    JpegEncoder encoder;
    auto shot = std::make_unique<ShotData>();
    const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(80, 60);
    Fill(*shot, picture, 80, 60, 50, 1.0);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    const std::vector<uint8_t> previous = JpegOf(*shot);

    testing::internal::CaptureStderr();
    for (int attempt = 0; attempt < 3; ++attempt) {
        shot->frameBytes = ShotData::kBufferBytes;
        shot->frameWidth = 1;
        shot->frameHeight = ShotData::kBufferBytes / 3;
        shot->captureTime = 2.0;
        EXPECT_EQ(encoder.Encode(*shot), 1);
        EXPECT_EQ(shot->encodeStatus, 1);
        EXPECT_TRUE(JpegOf(*shot) == previous);
        EXPECT_EQ(shot->jpegWidth, 80);
        EXPECT_EQ(shot->encodedTime, 1.0);
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("recording: ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << "a repeated error is reported once";

    Fill(*shot, picture, 80, 60, 50, 4.0);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    EXPECT_TRUE(JpegOf(*shot) == previous);
    EXPECT_EQ(shot->encodedTime, 4.0);
}

// Narrow binary noise at quality 100 encodes to more than the 921,600-byte
// JPEG buffer (12 wide), or even more than the sink has room for (5 wide).
TEST(JpegEncoderTest, PictureLargerThanTheJpegBufferIsAFailureNotATruncation) {
    JpegEncoder encoder;
    // A block of 640 x 480 pictures: a JPEG of the largest pictures cannot be made larger than it.
    constexpr int32_t kCapacity = kFrameBytes;
    encoder.SetCapacity(kCapacity);
    ReferenceEncoder reference;
    auto shot = std::make_unique<ShotData>();
    Fill(*shot, jpegtest::PhotoLikePicture(640, 480), 640, 480, 50, 1.0);
    ASSERT_EQ(encoder.Encode(*shot), 0);
    const std::vector<uint8_t> previous = JpegOf(*shot);
    for (int width : {12, 5}) {
        const int height = kCapacity / 3 / width;
        SCOPED_TRACE(width);
        const std::vector<uint8_t> noise = jpegtest::BinaryNoisePicture(width, height);
        const size_t whole = reference.Encode(noise, width, height, 100).size();
        ASSERT_GT(whole, static_cast<size_t>(kCapacity)) << "the picture must really be too large";
        testing::internal::CaptureStderr();
        Fill(*shot, noise, width, height, 100, 2.0);
        EXPECT_EQ(encoder.Encode(*shot), 1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("recording: "), std::string::npos);
        EXPECT_EQ(shot->encodeStatus, 1);
        EXPECT_TRUE(JpegOf(*shot) == previous);
        EXPECT_EQ(shot->encodedTime, 1.0);
        // The same noise at a normal quality fits and encodes.
        shot->quality = 50;
        EXPECT_EQ(encoder.Encode(*shot), 0);
        EXPECT_EQ(shot->encodedTime, 2.0);
        EXPECT_TRUE(JpegOf(*shot) == reference.Encode(noise, width, height, 50));
        Fill(*shot, jpegtest::PhotoLikePicture(640, 480), 640, 480, 50, 1.0);
        ASSERT_EQ(encoder.Encode(*shot), 0);
    }
}

}  // namespace
