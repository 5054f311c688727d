// Drawing the areas the detector ignores on the real window: mouse drags and
// clicks on the picture, the menu entry, the shading and the detector.
#include "ui/mask_editor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QScreen>
#include <QToolTip>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/settings_file.h"
#include "recording/picture_demand.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/picture_view.h"
#include "ui/ui_test_support.h"
#include "video/frame_exchange.h"

namespace {

constexpr QRgb kWhite = 0xFFFFFF;

class MaskEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.WriteSettings({{"WWWPortListener", "64996"}, {"GoDetector", "1"}, {"VideoDateTime", "0"}});
        window_ = std::make_unique<MainWindow>();
        window_->StopTimerForTest();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        window_->Frames()->SetSourceSize(320, 240);
        window_->ResizeToPicture();
        ASSERT_TRUE(WaitFor([&] { return Area()->size() == QSize(320, 240); }, 5000));
    }
    void TearDown() override { window_.reset(); }

    QWidget* Area() { return window_->PictureArea(); }
    // A grey picture, brighter in the given rectangle of the upright picture.
    std::vector<uint8_t> Picture(QRect bright = QRect()) {
        std::vector<uint8_t> bytes(320 * 240 * 3, 90);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                if (bright.contains(x, y)) std::memset(&bytes[((239 - y) * 320 + x) * 3], 200, 3);
        return bytes;
    }
    void Feed(const std::vector<uint8_t>& sample) {
        const int64_t painted = window_->FramesPainted();
        window_->Frames()->PutSample(++time_, sample.data(), static_cast<int32_t>(sample.size()));
        ASSERT_TRUE(WaitFor([&] { return window_->FramesPainted() > painted; }, 5000));
    }
    void Drag(QPoint from, QPoint to) {
        QTest::mousePress(Area(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(Area(), (from + to) / 2);
        QTest::mouseRelease(Area(), Qt::LeftButton, Qt::NoModifier, to);
    }
    std::string Stored() { return window_->Settings()->GetString("DetectorMask"); }
    QRgb Shown(int x, int y) {
        return Area()->grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(x, y) & 0xFFFFFF;
    }

    TestProgramFolder folder_;
    std::unique_ptr<MainWindow> window_;
    double time_ = 0;
};

TEST_F(MaskEditorTest, DragsAddAreasOnlyInTheMotionViewAndRightClicksRemoveThem) {
    Drag({10, 20}, {110, 120});
    EXPECT_EQ(Stored(), "") << "the camera view draws nothing";

    window_->Menu()->Command(menu_id::kViewDetector);
    Drag({10, 20}, {110, 120});
    Drag({300, 230}, {200, 150});                                           // Dragged up and to the left.
    QTest::mouseClick(Area(), Qt::LeftButton, Qt::NoModifier, {150, 150});  // A click is no area.
    EXPECT_EQ(Stored(), "10,20,100,100;200,150,100,80");
    EXPECT_EQ(window_->Frames()->Mask().Count(), 2);

    QTest::mouseClick(Area(), Qt::RightButton, Qt::NoModifier, {50, 50});
    EXPECT_EQ(Stored(), "200,150,100,80");
    QTest::mouseClick(Area(), Qt::RightButton, Qt::NoModifier, {50, 50});
    EXPECT_EQ(Stored(), "200,150,100,80") << "nothing left there to remove";

    QAction* clear = window_->Menu()->Action(menu_id::kClearMask);
    ASSERT_NE(clear, nullptr);
    clear->trigger();
    ASSERT_TRUE(WaitFor([&] { return window_->Frames()->Mask().Empty(); }, 5000));
    EXPECT_EQ(Stored(), "");
}

TEST_F(MaskEditorTest, AnEditedAreaReachesTheSettingsFileOnTheNextTick) {
    window_->Menu()->Command(menu_id::kViewDetector);
    Drag({10, 20}, {110, 120});
    EXPECT_NE(folder_.ReadSettings()["DetectorMask"], "10,20,100,100") << "not before the tick";
    window_->TickForTest();
    EXPECT_EQ(folder_.ReadSettings()["DetectorMask"], "10,20,100,100");
    QTest::mouseClick(Area(), Qt::RightButton, Qt::NoModifier, {50, 50});
    window_->TickForTest();
    EXPECT_EQ(folder_.ReadSettings()["DetectorMask"], "");
}

TEST_F(MaskEditorTest, ASeventeenthAreaIsRefusedInWords) {
    window_->Menu()->Command(menu_id::kViewDetector);
    for (int i = 0; i < DetectorMask::kMaxRects; ++i) Drag({i * 20, 10}, {i * 20 + 10, 20});
    const std::string sixteen = Stored();
    testing::internal::CaptureStderr();
    Drag({10, 100}, {100, 200});
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr(
                    "ui: the detector ignores at most 16 areas; one must go before another is added\n"));
    EXPECT_EQ(QToolTip::text(), "At most 16 areas can be ignored; remove one first (right click).");
    EXPECT_EQ(Stored(), sixteen);
    EXPECT_EQ(window_->Frames()->Mask().Count(), DetectorMask::kMaxRects);
}

TEST_F(MaskEditorTest, AreasAreShadedOnTheMotionViewButNeverInThePicture) {
    window_->Menu()->Command(menu_id::kViewDetector);
    Drag({10, 20}, {110, 120});
    const std::vector<uint8_t> grey = Picture();
    Feed(grey);
    // Something wants the picture, so the window copies it out to hand it on.
    window_->Shot()->demand.NoteWebRequest();
    Feed(grey);  // No change: the difference picture is white.
    EXPECT_EQ(Shown(200, 200), kWhite);
    EXPECT_NE(Shown(60, 70), kWhite) << "shaded inside the area";
    EXPECT_EQ(std::memcmp(window_->Frames()->Display(), grey.data(), grey.size()), 0)
        << "the picture handed on for recording is untouched";

    window_->Menu()->Command(menu_id::kViewNormal);
    EXPECT_EQ(Shown(60, 70), Shown(200, 200)) << "the camera view shows no areas";
}

TEST_F(MaskEditorTest, TheDetectorIgnoresWhatHappensInsideAnArea) {
    window_->Menu()->Command(menu_id::kViewDetector);
    Drag({10, 20}, {110, 120});
    Feed(Picture());
    Feed(Picture());
    Feed(Picture(QRect(30, 40, 50, 50)));
    EXPECT_EQ(window_->Options()->Level(), 0);
    Feed(Picture(QRect(180, 40, 50, 50)));
    EXPECT_GT(window_->Options()->Level(), 10);
}

// A 1920 x 1080 picture on a small screen: the window takes at most 90 % of
// the screen's free area with the picture's proportions, the motion view
// shows a change where it happened, and an area drawn on the scaled view
// lands where it was drawn, before and after the user makes the window taller.
TEST_F(MaskEditorTest, AFullHdPictureFitsASmallScreenAndAreasLandInPlace) {
    const QRect room = window_->screen()->availableGeometry();
    ASSERT_LT(room.width(), 1920);
    window_->Frames()->SetSourceSize(1920, 1080);
    window_->ResizeToPicture();
    ASSERT_TRUE(WaitFor([&] { return Area()->width() > 320; }, 5000));
    EXPECT_LE(window_->frameGeometry().width(), room.width() * 9 / 10 + 1);
    EXPECT_LE(window_->frameGeometry().height(), room.height() * 9 / 10 + 1);
    EXPECT_NEAR(Area()->width() * 1080.0 / 1920.0, Area()->height(), 1.0) << "the picture's proportions";

    // Picture coordinates to the view's, through where the view shows the picture.
    const auto at = [&](int x, int y) {
        const QRect shown = FittedRect(QSize(1920, 1080), Area()->rect());
        return QPoint(shown.x() + x * shown.width() / 1920, shown.y() + y * shown.height() / 1080);
    };
    window_->Menu()->Command(menu_id::kViewDetector);
    std::vector<uint8_t> dark(std::size_t{1920} * 1080 * 3, 40);
    std::vector<uint8_t> lit = dark;
    for (int y = 540; y < 810; ++y) std::memset(&lit[(static_cast<std::size_t>(1079 - y) * 1920 + 960) * 3], 220, 480 * 3);
    Feed(dark);
    Feed(lit);
    EXPECT_NE(Shown(at(1200, 675).x(), at(1200, 675).y()), kWhite) << "the change shows where it happened";
    EXPECT_EQ(Shown(at(400, 300).x(), at(400, 300).y()), kWhite);

    // In the 640 x 480 frame of reference the areas are saved in.
    const auto expectAreas = [&](const std::vector<std::array<int, 4>>& expected) {
        const std::string text = Stored();
        std::vector<int> numbers;
        for (const char* p = text.c_str(); *p; ++p)
            if (std::isdigit(static_cast<unsigned char>(*p)) && (p == text.c_str() || !std::isdigit(p[-1])))
                numbers.push_back(std::atoi(p));
        ASSERT_EQ(numbers.size(), expected.size() * 4) << text;
        for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_NEAR(numbers[i], expected[i / 4][i % 4], 2) << text;
    };
    Drag(at(192, 108), at(768, 540));
    expectAreas({{64, 48, 192, 192}});

    window_->resize(window_->width(), window_->height() + 150);
    ASSERT_TRUE(WaitFor([&] { return FittedRect(QSize(1920, 1080), Area()->rect()).y() > 50; }, 5000));
    Feed(lit);
    EXPECT_EQ(Shown(Area()->width() / 2, 10), 0u) << "black above the picture";
    Drag(at(1440, 810), at(1824, 1026));
    expectAreas({{64, 48, 192, 192}, {480, 360, 128, 96}});
}

}  // namespace
