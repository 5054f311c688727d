// The main window with every module behind it: frames, painting, the
// watchdog, the state icon and the visibility toggle.
#include "ui/main_window.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/settings_file.h"
#include "recording/picture_demand.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "ui/camera_dialog.h"
#include "ui/hot_key.h"
#include "ui/status_line.h"
#include "ui/ui_test_support.h"
#include "video/frame_exchange.h"
#include "video/video_capture.h"

namespace fs = std::filesystem;

namespace {

const QString kNoCamera = QString::fromUtf8("Подключите видеокамеру!");

// A loopback port that nothing listens on right now.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class MainWindowTest : public ::testing::Test {
protected:
    void Start(std::map<std::string, std::string> settings = {}) {
        if (!settings.count("WWWPortListener")) settings["WWWPortListener"] = "64999";
        folder_.WriteSettings(settings);
        window_ = std::make_unique<MainWindow>();
        window_->StopTimerForTest();
        window_->show();
        // A window told to start hidden may be gone again before it is seen.
        if (settings["HideStart"] != "1") {
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        }
    }
    void TearDown() override { window_.reset(); }

    // A picture of width x height whose lower half (the first rows in memory)
    // has the colour bottom and whose upper half has top, both as B, G, R.
    std::vector<uint8_t> Picture(int width, int height, QRgb bottom, QRgb top) {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(width) * height * 3);
        for (int row = 0; row < height; ++row) {
            const QRgb colour = row < height / 2 ? bottom : top;
            for (int x = 0; x < width; ++x) {
                uint8_t* pixel = &bytes[(static_cast<std::size_t>(row) * width + x) * 3];
                pixel[0] = static_cast<uint8_t>(qBlue(colour));
                pixel[1] = static_cast<uint8_t>(qGreen(colour));
                pixel[2] = static_cast<uint8_t>(qRed(colour));
            }
        }
        return bytes;
    }
    // Hands a sample over as the capture thread does and waits until it is painted.
    void Feed(const std::vector<uint8_t>& sample) {
        const int64_t painted = window_->FramesPainted();
        window_->Frames()->PutSample(++sampleTime_, sample.data(), static_cast<int32_t>(sample.size()));
        ASSERT_TRUE(WaitFor([&] { return window_->FramesPainted() > painted; }, 5000));
    }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) window_->TickForTest();
    }
    // The picture as the user sees it.
    QImage Shown() { return window_->PictureArea()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    static bool AllBlack(const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) != 0) return false;
        return true;
    }
    bool DisplayIsBlack() {
        const uint8_t* display = window_->Frames()->Display();
        for (int i = 0; i < kFrameBytes; ++i)
            if (display[i] != 0) return false;
        return true;
    }

    TestProgramFolder folder_;
    std::unique_ptr<MainWindow> window_;
    double sampleTime_ = 0.0;
};

TEST_F(MainWindowTest, ADuplicateDataMessageOnlyRefreshesTheCountdowns) {
    Start();
    window_->Frames()->SetSourceSize(320, 240);
    Ticks(3);
    EXPECT_EQ(window_->ReconnectCountdown(), 9);
    window_->Shot()->demand.NoteWebRequest();  // Something wants the picture.
    Feed(Picture(320, 240, qRgb(0, 0, 255), qRgb(255, 0, 0)));
    EXPECT_EQ(window_->FramesPainted(), 1);
    EXPECT_EQ(window_->PicturesHandedOver(), 1);

    Ticks(2);
    window_->Post(kVideoDataMessage, 0, 1);
    window_->Post(kVideoDataMessage, 0, 1);
    ASSERT_TRUE(WaitFor([&] { return window_->ReconnectCountdown() == MainWindow::kCountdownTicks; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(window_->DeviceCheckCountdown(), MainWindow::kCountdownTicks);
    EXPECT_EQ(window_->FramesPainted(), 1);
    EXPECT_EQ(window_->PicturesHandedOver(), 1);
}

TEST_F(MainWindowTest, PaintsTheBottomUpPictureUprightFillingTheClientArea) {
    Start();
    window_->Frames()->SetSourceSize(320, 240);
    window_->ResizeToPicture();
    ASSERT_TRUE(WaitFor([&] { return window_->PictureArea()->size() == QSize(320, 240); }, 5000))
        << window_->PictureArea()->width() << " x " << window_->PictureArea()->height();
    EXPECT_LE(window_->menuBar()->geometry().bottom(), window_->PictureArea()->geometry().top())
        << "the menu bar lies outside the picture";

    Feed(Picture(320, 240, qRgb(0, 0, 255), qRgb(255, 0, 0)));
    QImage shown = Shown();
    ASSERT_EQ(shown.size(), QSize(320, 240));
    EXPECT_EQ(shown.pixel(160, 10) & 0xFFFFFF, 0xFF0000u) << "the top half is red";
    EXPECT_EQ(shown.pixel(160, 230) & 0xFFFFFF, 0x0000FFu) << "the bottom half is blue";
    // What the window system is given: the backing store itself, written
    // directly at the picture's own size.
    const int64_t direct = window_->DirectPaints();
    Feed(Picture(320, 240, qRgb(0, 0, 255), qRgb(255, 0, 0)));
    EXPECT_GT(window_->DirectPaints(), direct);
    const QPoint origin = window_->PictureArea()->mapTo(window_.get(), QPoint(0, 0));
    const QImage stored =
        window_->screen()->grabWindow(window_->winId(), origin.x(), origin.y(), 320, 240).toImage();
    ASSERT_EQ(stored.size(), QSize(320, 240));
    EXPECT_EQ(stored.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(stored.pixel(319, 119) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(stored.pixel(0, 120) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(stored.pixel(319, 239) & 0xFFFFFF, 0x0000FFu);

    // A larger window scales the picture to its client area.
    window_->resize(window_->size() + QSize(320, 240));
    ASSERT_TRUE(WaitFor([&] { return window_->PictureArea()->width() == 640; }, 5000));
    shown = Shown();
    EXPECT_EQ(shown.pixel(320, 20) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(320, shown.height() - 20) & 0xFFFFFF, 0x0000FFu);

    // Data message 0: the picture is cleared.
    window_->Post(kVideoDataMessage, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return DisplayIsBlack(); }, 5000));
    EXPECT_TRUE(AllBlack(Shown()));
}

TEST_F(MainWindowTest, CaptionAndIconWithoutACamera) {
    Start({{"VideoDeviceId", "0123456789abcdef0123456789abcdef"}});
    EXPECT_EQ(window_->windowTitle(), "Vistrel. v1.1");
    Ticks(MainWindow::kIconDelayTicks);
    EXPECT_EQ(window_->StateIconIndex(), -1) << "the program icon stays for the first 7 ticks";
    Ticks(1);
    EXPECT_EQ(window_->StateIconIndex(), 0);
    Ticks(MainWindow::kCountdownTicks - 9);
    EXPECT_EQ(window_->windowTitle(), "Vistrel. v1.1");
    Ticks(1);
    EXPECT_EQ(window_->windowTitle(), kNoCamera) << "the first disconnection comes 3 s after start";
}

TEST_F(MainWindowTest, TheWebStatusSaysWhatTheWindowKnows) {
    const int port = FreePort();
    Start({{"VideoDeviceId", "0123456789abcdef0123456789abcdef"},
           {"WWWPortListener", std::to_string(port)},
           {"WWWStartAfterLaunch", "1"},
           {"GoDetector", "35"},
           {"ModeActivation", "2"}});
    Ticks(1);  // Starts the server, then hands it the status.
    FILE* curl = popen(
        ("curl -sS --max-time 20 http://127.0.0.1:" + std::to_string(port) + "/status.json").c_str(), "r");
    ASSERT_NE(curl, nullptr);
    char buffer[4096] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, curl);
    pclose(curl);
    const std::string status(buffer, got);
    EXPECT_EQ(
        status.rfind("{\"recording\":false,\"reason\":\"no motion\",\"mode\":\"detector\",\"motion_level\":0,"
                     "\"threshold\":35,\"file\":null,\"frames\":null,\"free_bytes\":",
                     0),
        0u)
        << status;
    EXPECT_EQ(status.find("\"free_bytes\":null"), std::string::npos) << status;
    EXPECT_NE(status.find("\"camera_connected\":false,\"camera\":\"Vistrel. v1.1\"}"), std::string::npos)
        << status;
}

TEST_F(MainWindowTest, TheStatusLineElidesALongLineInTheMiddleAndShowsItWholeAsTip) {
    Start({{"WWWPortListener", std::to_string(FreePort())}, {"WWWStartAfterLaunch", "1"}});
    Ticks(1);  // Starts the server: its address joins the line.
    auto* label = window_->Status()->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    const QString whole = window_->Status()->Line();
    ASSERT_TRUE(whole.contains("http://")) << whole.toStdString();
    window_->setMinimumWidth(0);
    window_->resize(2000, window_->height());
    QTest::qWait(50);
    EXPECT_EQ(label->text(), whole);
    EXPECT_EQ(label->toolTip(), "");

    window_->resize(200, window_->height());
    QTest::qWait(50);
    ASSERT_GT(label->fontMetrics().horizontalAdvance(whole), label->contentsRect().width());
    const QString shown = label->text();
    ASSERT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(whole.startsWith(shown.section(QChar(0x2026), 0, 0))) << "the start is kept";
    EXPECT_TRUE(whole.endsWith(shown.section(QChar(0x2026), 1))) << "and the end";
    EXPECT_EQ(label->toolTip(), whole);
    EXPECT_EQ(window_->Status()->Line(), whole);
}

TEST_F(MainWindowTest, TheWatchdogDisconnectsASilentCameraAndConnectsItAgain) {
    Start({{"VideoDeviceId", "TestPattern"}, {"VideoResolution", "2"}});
    QStringList captions;
    QObject::connect(window_.get(), &QWidget::windowTitleChanged, [&](const QString& title) { captions << title; });
    Ticks(1);
    ASSERT_TRUE(window_->Capture()->Connected());
    EXPECT_EQ(window_->windowTitle(), "Test pattern: 320 x 240");
    ASSERT_TRUE(WaitFor([&] { return window_->FramesPainted() >= 3; }, 10000)) << "no frames from the test pattern";
    EXPECT_EQ(window_->PictureArea()->size(), QSize(320, 240));

    // The camera goes silent (unplugged) and is no longer listed.
    window_->Capture()->StopGraph();
    window_->Settings()->SetText("VideoDeviceId", "0123456789abcdef0123456789abcdef");
    QTest::qWait(100);
    Ticks(MainWindow::kCountdownTicks - 1);
    EXPECT_FALSE(DisplayIsBlack());
    Ticks(1);
    EXPECT_EQ(window_->windowTitle(), kNoCamera);
    EXPECT_TRUE(DisplayIsBlack());
    EXPECT_TRUE(AllBlack(Shown()));
    Ticks(1);
    EXPECT_EQ(window_->StateIconIndex(), 0);

    // Plugged in again: found at the next device check.
    window_->Settings()->SetText("VideoDeviceId", "TestPattern");
    Ticks(MainWindow::kCountdownTicks);
    EXPECT_TRUE(window_->Capture()->Connected());
    EXPECT_EQ(window_->windowTitle(), "Test pattern: 320 x 240");
    const int64_t painted = window_->FramesPainted();
    EXPECT_TRUE(WaitFor([&] { return window_->FramesPainted() > painted + 2; }, 10000));
    Ticks(1);
    EXPECT_EQ(window_->StateIconIndex(), 1);
    EXPECT_EQ(captions, QStringList({"Test pattern: 320 x 240", kNoCamera, "Test pattern: 320 x 240"}));
}

TEST_F(MainWindowTest, ViewModeNonePaintsBlackWhileCaptureAndRecordingGoOn) {
    Start({{"VideoDeviceId", "TestPattern"}, {"VideoResolution", "3"}, {"ModeView", "0"},
           {"ModeActivation", "1"}, {"SpeedRec", "0"}});
    const fs::path move = folder_.Path() / "move";
    auto recorded = [&] {
        for (const auto& entry : fs::directory_iterator(move))
            if (entry.path().extension() == ".tmp" && fs::file_size(entry.path()) > 10000) return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            window_->TickForTest();
            return window_->PicturesHandedOver() > 5 && recorded();
        },
        20000))
        << "nothing recorded";
    EXPECT_EQ(window_->Options()->RecordingActive(), 1);
    EXPECT_TRUE(AllBlack(Shown()));
    EXPECT_EQ(window_->StateIconIndex() >= 1, true) << "connected and recording";

    window_->SetViewMode(ViewMode::kPicture);
    EXPECT_FALSE(AllBlack(Shown())) << "the normal view shows the test pattern";
}

TEST_F(MainWindowTest, StampOffLeavesTheNextPictureUnstamped) {
    Start();
    window_->Frames()->SetSourceSize(160, 120);
    const std::vector<uint8_t> white = Picture(160, 120, qRgb(255, 255, 255), qRgb(255, 255, 255));
    auto stamped = [&] {  // gray ink on the white picture, beside black bars
        const QImage shown = Shown();
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (const QRgb p = shown.pixel(x, y) & 0xFFFFFF; p != 0xFFFFFF && p != 0) return true;
        return false;
    };
    Feed(white);
    EXPECT_TRUE(stamped());

    WhenDialogOpens([](QDialog& dialog) {
        Control<QCheckBox>(dialog, "id217")->click();
        Control<QPushButton>(dialog, "id1")->click();
    });
    EXPECT_EQ(window_->RunCameraDialog(), CameraDialog::kStampChanged);
    Feed(white);
    EXPECT_FALSE(stamped());
}

TEST_F(MainWindowTest, HideStartHidesRightAfterTheFirstPaintAndTheHotKeyShowsAgain) {
    Start({{"HideStart", "1"}});
    ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }, 5000)) << "still shown";
    window_->Post(hot_key::kHotKeyMessage, hot_key::kHotKeyId, 0);
    ASSERT_TRUE(WaitFor([&] { return window_->isVisible(); }, 5000));
    QTest::qWait(100);
    EXPECT_TRUE(window_->isVisible()) << "only the first paint hides";
}

TEST_F(MainWindowTest, HidingCancelsAnOpenCameraDialog) {
    Start();
    WhenDialogOpens([this](QDialog& dialog) {
        Control<QListWidget>(dialog, "id131")->setCurrentRow(1);
        window_->Post(hot_key::kHotKeyMessage, hot_key::kHotKeyId, 0);
    });
    EXPECT_EQ(window_->RunCameraDialog(), 0);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->Settings()->GetString("VideoRotate"), "0");
    window_->Post(hot_key::kHotKeyMessage, hot_key::kHotKeyId, 0);
    EXPECT_TRUE(WaitFor([&] { return window_->isVisible(); }, 5000));
}

TEST_F(MainWindowTest, CloseBoxEscapeAndExitRunTheSameShutdown) {
    const std::vector<std::function<void(MainWindow&)>> ways = {
        [](MainWindow& window) { window.close(); },
        [](MainWindow& window) { QTest::keyClick(&window, Qt::Key_Escape); },
        [](MainWindow& window) { window.Menu()->Command(menu_id::kExit); },
    };
    for (std::size_t way = 0; way < ways.size(); ++way) {
        std::filesystem::remove(folder_.SettingsPath());
        Start();
        window_->Settings()->SetInt("ShotCounterFiles", 41 + static_cast<int32_t>(way));
        ways[way](*window_);
        EXPECT_TRUE(window_->Closed()) << way;
        EXPECT_FALSE(window_->isVisible()) << way;
        EXPECT_EQ(window_->Capture(), nullptr) << way;
        EXPECT_EQ(folder_.ReadSettings()["ShotCounterFiles"], std::to_string(41 + way)) << way;
        window_.reset();
    }
}

TEST_F(MainWindowTest, OnlyAWantedPictureIsHandedOverAndOnlyASeenOneConverted) {
    Start();
    window_->Frames()->SetSourceSize(320, 240);
    const std::vector<uint8_t> sample = Picture(320, 240, qRgb(0, 0, 255), qRgb(255, 0, 0));
    const int64_t before = window_->ScreenConversions();
    Feed(sample);
    Feed(sample);
    EXPECT_EQ(window_->PicturesHandedOver(), 0) << "not recording, no photo, no web client";
    EXPECT_GE(window_->ScreenConversions(), before + 2) << "each picture shown is converted";
    window_->Shot()->demand.NoteWebRequest();
    Feed(sample);
    EXPECT_EQ(window_->PicturesHandedOver(), 1) << "a web client asked";

    window_->showMinimized();
    const int64_t shown = window_->ScreenConversions();
    Feed(sample);
    Feed(sample);
    EXPECT_EQ(window_->ScreenConversions(), shown) << "minimised";
    window_->hide();
    Feed(sample);
    EXPECT_EQ(window_->ScreenConversions(), shown) << "hidden";
    // Hidden, the picture a client asks for reaches the worker whole and stamped.
    const std::vector<uint8_t> other = Picture(320, 240, qRgb(0, 255, 0), qRgb(255, 255, 255));
    window_->Shot()->demand.NoteWebRequest();
    Feed(other);
    EXPECT_EQ(window_->PicturesHandedOver(), 2);
    const uint8_t* given = window_->Shot()->picture.get();
    const std::size_t half = other.size() / 2;
    EXPECT_NE(0, std::memcmp(given, other.data(), half)) << "the date stamped at the bottom";
    EXPECT_EQ(0, std::memcmp(given + half, other.data() + half, half)) << "the upper half as it came";

    window_->showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    window_->SetViewMode(ViewMode::kNone);
    const int64_t none = window_->ScreenConversions();
    Feed(sample);
    Feed(sample);
    EXPECT_EQ(window_->ScreenConversions(), none) << "the view mode none shows nothing to convert";
    EXPECT_TRUE(AllBlack(Shown()));
    window_->SetViewMode(ViewMode::kPicture);
    Feed(sample);
    EXPECT_GT(window_->ScreenConversions(), none);
    EXPECT_FALSE(AllBlack(Shown()));
}

}  // namespace
