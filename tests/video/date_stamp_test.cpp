#include "video/date_stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "video/video_test_support.h"

namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

struct Picture {
    int width;
    int height;
    std::vector<uint8_t> bytes;

    Picture(int w, int h, uint8_t value) : width(w), height(h), bytes(static_cast<std::size_t>(w) * h * 3, value) {}
    uint8_t* Pixel(int x, int y) { return &bytes[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

class DateStampTest : public ::testing::Test {
protected:
    DateStampTest() : clock(LocalTime(2026, 12, 31, 23, 59, 59)), stamp(clock) { stamp.LoadFont(); }

    ManualClock clock;
    DateStamp stamp;
};

TEST(StampFont, IsABitmapFileOfTwelveGlyphs) {
    const StampFontImage font = BuildStampFont();
    const uint8_t header[54] = {'B', 'M', 0x36, 0x09, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 96, 0, 0, 0, 8, 0,
                                0,   0,   1,    0,    24, 0, 0, 0, 0, 0, 0, 0x09, 0, 0};
    EXPECT_EQ(0, std::memcmp(font.data(), header, sizeof header));
    EXPECT_TRUE(std::all_of(font.begin() + 54, font.end(), [](uint8_t b) { return b == 0 || b == 255; }));
    // Glyph 4: bottom row 3E (first in memory), top row 0C (last).
    auto ink = [&](int row, int column) { return font[54 + row * 288 + (4 * 8 + column) * 3] == 0; };
    for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(ink(0, column), column >= 2 && column <= 6) << column;
        EXPECT_EQ(ink(7, column), column == 4 || column == 5) << column;
    }
}

TEST_F(DateStampTest, TextFollowsTheClockIntoTheNewYear) {
    Picture picture(640, 480, 255);
    stamp.DrawStamp(picture.bytes.data(), 640, 480);
    EXPECT_STREQ(stamp.Text(), "31.12.26 23:59:59");
    EXPECT_EQ(stamp.TextLength(), 17);
    clock.Advance(1);
    stamp.DrawStamp(picture.bytes.data(), 640, 480);
    EXPECT_STREQ(stamp.Text(), "01.01.27 00:00:00");
}

TEST_F(DateStampTest, InkIsGrayAgainstTheBackground) {
    struct Case {
        uint8_t blue, green, red;
        uint8_t ink;
    };
    for (const Case c : {Case{255, 255, 255, 128}, Case{0, 0, 0, 127}, Case{120, 126, 132, 253}}) {
        Picture picture(640, 480, 0);
        for (std::size_t i = 0; i < picture.bytes.size(); i += 3) {
            picture.bytes[i] = c.blue;
            picture.bytes[i + 1] = c.green;
            picture.bytes[i + 2] = c.red;
        }
        const Picture before = picture;
        stamp.DrawStamp(picture.bytes.data(), 640, 480);
        int inked = 0;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const uint8_t* p = picture.Pixel(x, y);
                if (std::memcmp(p, &before.bytes[(y * 640 + x) * 3], 3) == 0) continue;
                ++inked;
                EXPECT_TRUE(p[0] == c.ink && p[1] == c.ink && p[2] == c.ink) << x << "," << y;
            }
        }
        EXPECT_GT(inked, 100);
    }
}

TEST_F(DateStampTest, GlyphsStandUprightInTheirCells) {
    Picture picture(640, 480, 255);
    stamp.DrawStamp(picture.bytes.data(), 640, 480);  // "31.12.26 23:59:59"
    const int cell = 640 - 146 + 8;                   // The first "1".
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(picture.Pixel(cell + k, 17)[0] == 128, k == 3 || k == 4) << k;  // Top row 18.
        EXPECT_EQ(picture.Pixel(cell + k, 10)[0] == 128, k >= 1 && k <= 6) << k;  // Bottom row 7E.
    }
}

TEST_F(DateStampTest, StampStaysInsideItsBoxAndSkipsTheSpace) {
    Picture picture(160, 120, 0);
    for (std::size_t i = 0; i < picture.bytes.size(); ++i) picture.bytes[i] = static_cast<uint8_t>(i * 7 % 251);
    const Picture before = picture;
    stamp.DrawStamp(picture.bytes.data(), 160, 120);
    bool firstCell = false, lastCell = false;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            if (std::memcmp(picture.Pixel(x, y), &before.bytes[(y * 160 + x) * 3], 3) == 0) continue;
            EXPECT_TRUE(x >= 14 && x <= 149 && y >= 10 && y <= 17) << x << "," << y;
            EXPECT_FALSE(x >= 14 + 64 && x < 14 + 72) << "space cell changed at " << x << "," << y;
            firstCell |= x < 22;
            lastCell |= x >= 142;
        }
    }
    EXPECT_TRUE(firstCell);
    EXPECT_TRUE(lastCell);
}

// Above 640 x 480 the stamp grows to about 3 % of the height in whole pixels,
// at the same corner: each square of a large stamp is one pixel of the small one.
TEST_F(DateStampTest, StampGrowsWithThePictureInWholePixels) {
    Picture small(640, 480, 255);
    stamp.DrawStamp(small.bytes.data(), 640, 480);
    const auto inked = [](const Picture& p) { return std::count(p.bytes.begin(), p.bytes.end(), uint8_t{128}); };
    struct Case {
        int width, height, scale;
    };
    for (const Case c : {Case{1280, 720, 2}, Case{1920, 1080, 4}}) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
        Picture large(c.width, c.height, 255);
        stamp.DrawStamp(large.bytes.data(), c.width, c.height);
        for (int y = 0; y < 18 * c.scale; ++y)
            for (int x = 0; x < 146 * c.scale; ++x)
                ASSERT_EQ(large.Pixel(c.width - 146 * c.scale + x, y)[0],
                          small.Pixel(640 - 146 + x / c.scale, y / c.scale)[0])
                    << x << "," << y;
        EXPECT_EQ(inked(large), inked(small) * c.scale * c.scale) << "nothing is drawn outside the box";
        EXPECT_EQ(stamp.Rows(c.width, c.height), 18 * c.scale) << "the box's rows, which a window copies out";
    }
}

TEST_F(DateStampTest, PicturesBelow146x18AreLeftAlone) {
    struct Case {
        int width, height;
        bool stamped;
    };
    for (const Case c : {Case{145, 120, false}, Case{146, 120, true}, Case{640, 17, false}, Case{640, 18, true}}) {
        Picture picture(c.width, c.height, 255);
        stamp.DrawStamp(picture.bytes.data(), c.width, c.height);
        const bool changed = std::any_of(picture.bytes.begin(), picture.bytes.end(), [](uint8_t b) { return b != 255; });
        EXPECT_EQ(changed, c.stamped) << c.width << "x" << c.height;
        EXPECT_EQ(stamp.Rows(c.width, c.height), c.stamped ? 18 : 0) << c.width << "x" << c.height;
    }
}

TEST_F(DateStampTest, ASecondDrawInTheSameSecondTurnsInkBackToGray) {
    Picture picture(320, 240, 0);
    for (std::size_t i = 0; i < picture.bytes.size(); ++i) picture.bytes[i] = static_cast<uint8_t>(i * 13 % 256);
    const Picture original = picture;
    stamp.DrawStamp(picture.bytes.data(), 320, 240);
    const Picture once = picture;
    stamp.DrawStamp(picture.bytes.data(), 320, 240);
    EXPECT_NE(picture.bytes, once.bytes);
    int inked = 0;
    for (std::size_t i = 0; i < picture.bytes.size(); i += 3) {
        if (std::memcmp(&once.bytes[i], &original.bytes[i], 3) == 0) continue;
        const int a = (original.bytes[i] + original.bytes[i + 1] + original.bytes[i + 2]) / 3;
        if (a >= 254) continue;
        ++inked;
        ASSERT_EQ(picture.bytes[i], a);
        ASSERT_EQ(picture.bytes[i + 1], a);
        ASSERT_EQ(picture.bytes[i + 2], a);
    }
    EXPECT_GT(inked, 100);
}

TEST_F(DateStampTest, FontsThatFailTheCheckLeaveTheStampOff) {
    auto expectOff = [&](StampFontImage font, const char* what) {
        stamp.LoadFont(font);
        EXPECT_EQ(stamp.Ready(), 0) << what;
        Picture picture(640, 480, 255);
        stamp.DrawStamp(picture.bytes.data(), 640, 480);
        EXPECT_TRUE(std::all_of(picture.bytes.begin(), picture.bytes.end(), [](uint8_t b) { return b == 255; }))
            << what;
    };
    StampFontImage font = BuildStampFont();
    font[1] = 'X';
    expectOff(font, "signature");
    font = BuildStampFont();
    font[26] = 2;
    expectOff(font, "planes");
    font = BuildStampFont();
    font[28] = 32;
    expectOff(font, "bits per pixel");
    font = BuildStampFont();
    font[22] = 0;
    expectOff(font, "zero height");
    font = BuildStampFont();
    font[18] = 0xF0;  // 240 wide: glyphs too wide for the picture corner.
    expectOff(font, "wide glyphs");
    font = BuildStampFont();
    font[3] = 0x10;  // File size beyond the image.
    expectOff(font, "file size");

    DateStamp fresh(clock);
    EXPECT_EQ(fresh.Ready(), 0);
    Picture picture(640, 480, 255);
    fresh.DrawStamp(picture.bytes.data(), 640, 480);
    EXPECT_TRUE(std::all_of(picture.bytes.begin(), picture.bytes.end(), [](uint8_t b) { return b == 255; }));
}

TEST_F(DateStampTest, LoadingTheFontAgainKeepsItIntact) {
    Picture once(640, 480, 255);
    stamp.DrawStamp(once.bytes.data(), 640, 480);
    stamp.LoadFont();
    stamp.LoadFont();
    EXPECT_EQ(stamp.Ready(), 1);
    Picture again(640, 480, 255);
    stamp.DrawStamp(again.bytes.data(), 640, 480);
    EXPECT_EQ(again.bytes, once.bytes);
}

}  // namespace
