// The main window's life at its edges: the first window without a camera, a
// source that never sends a picture, and a shutdown signal while a dialog is open.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "core/settings_file.h"
#include "core/shutdown_signals.h"
#include "ui/main_window.h"
#include "ui/ui_test_support.h"
#include "video/video_capture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNeverSends = "videotestsrc is-live=true ! valve drop=true";

class WindowStartStop : public ::testing::Test {
protected:
    void Start(std::map<std::string, std::string> settings) {
        if (!settings.count("WWWPortListener")) settings["WWWPortListener"] = "64998";
        folder_.WriteSettings(settings);
        window_ = std::make_unique<MainWindow>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void CopyLanguageFiles() {
        fs::create_directories(folder_.Path() / "Lang");
        for (const char* name : {"English.lng", "Russian.lng"})
            fs::copy_file(fs::path(VISTREL_SOURCE_DIR) / "resources/Lang" / name,
                          folder_.Path() / "Lang" / name);
    }
    static bool HasWhite(const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) > 128) return true;
        return false;
    }
    void TearDown() override { window_.reset(); }

    TestProgramFolder folder_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(WindowStartStop, ASourceThatNeverSendsAPictureNeverHoldsUpTheTicks) {
    char identifier[33];
    VideoCapture::DeviceIdentifier(kNeverSends, identifier);
    Start({{"VideoSource1", std::string("Silent|") + kNeverSends}, {"VideoDeviceId", identifier}});
    // Long enough for ten connect attempts, each of which used to hold the window for 4 s.
    bool connecting = false;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 30000) {
        QTest::qWait(50);
        connecting = connecting || window_->Capture()->Connecting();
    }
    EXPECT_TRUE(connecting) << "no connect attempt was made";
    EXPECT_FALSE(window_->Capture()->Connected());
    EXPECT_GE(window_->TimerTicks(), 110);
    EXPECT_LE(window_->LongestTickGapMs(), 300);
    std::printf("ticks: %lld in 30 s, longest gap %lld ms\n", static_cast<long long>(window_->TimerTicks()),
                static_cast<long long>(window_->LongestTickGapMs()));

    // A real source at the default size still connects, through the same posted outcome.
    window_->Settings()->SetText("VideoDeviceId", VideoCapture::kTestPatternId);
    ASSERT_TRUE(WaitFor([&] { return window_->Capture()->Connected(); }, 10000));
    EXPECT_EQ(window_->windowTitle(), "Test pattern: 640 x 480");
    const int64_t painted = window_->FramesPainted();
    EXPECT_TRUE(WaitFor([&] { return window_->FramesPainted() > painted + 2; }, 10000));
}

TEST_F(WindowStartStop, TheFirstWindowShowsItsWholeMenuAndSaysWhatToDo) {
    CopyLanguageFiles();
    Start({{"Language", "English"}, {"VideoDeviceId", "0123456789abcdef0123456789abcdef"}});
    QMenuBar* bar = window_->menuBar();
    const auto wholeMenuShown = [&] {
        auto* overflow = bar->findChild<QToolButton*>("qt_menubar_ext_button");
        return window_->width() >= bar->sizeHint().width() &&
               window_->minimumWidth() >= bar->sizeHint().width() && (!overflow || !overflow->isVisible());
    };
    EXPECT_TRUE(wholeMenuShown()) << window_->width() << " < " << bar->sizeHint().width();
    EXPECT_GE(window_->PictureArea()->height(), 200);
    EXPECT_TRUE(HasWhite(window_->PictureArea()->grab().toImage())) << "no hint in the picture area";
    window_->DisconnectCamera();
    EXPECT_EQ(window_->windowTitle(), "Connect a video camera!");

    // Russian names its menus at greater length: the window widens with its menu bar.
    window_->Menu()->Command(menu_id::kLanguageFirst + 1);
    ASSERT_EQ(window_->Settings()->GetString("Language"), "Russian");
    EXPECT_TRUE(WaitFor(wholeMenuShown, 5000)) << window_->width() << " < " << bar->sizeHint().width();
    window_->DisconnectCamera();
    EXPECT_EQ(window_->windowTitle(), QString::fromUtf8("Подключите видеокамеру!"));
}

TEST_F(WindowStartStop, TermWithEachDialogOpenEndsTheDialogsFirstThenSaves) {
    static const int readEnd = InstallShutdownSignals();
    ASSERT_GE(readEnd, 0);
    struct Case {
        const char* name;
        int command;
        bool timeDialog;
    };
    const Case cases[] = {
        {"camera", menu_id::kCameraOptions, false}, {"recording options", menu_id::kRecordingOptions, false},
        {"time", menu_id::kRecordingOptions, true}, {"web", menu_id::kServerOptions, false},
        {"hot key", menu_id::kHotKey, false},       {"about", menu_id::kAbout, false}};
    int marker = 60;
    for (const Case& c : cases) {
        fs::remove(folder_.SettingsPath());
        Start({});
        window_->WatchShutdownSignals(readEnd);
        window_->Settings()->SetInt("ShotCounterFiles", ++marker);
        const auto terminate = [](QDialog& dialog) {
            kill(getpid(), SIGTERM);
            // The program's quit would end a forgotten loop; here it fails the test, then goes on.
            QTimer::singleShot(3000, &dialog, [] {
                ADD_FAILURE() << "a dialog was left open";
                MainMenu::CancelOpenDialogs();
            });
        };
        if (c.timeDialog) {
            WhenDialogOpens([&](QDialog& options) {
                WhenDialogOpens(terminate);
                Control<QPushButton>(options, "id202")->click();
            });
        } else {
            WhenDialogOpens(terminate);
        }
        window_->Menu()->Command(c.command);
        ASSERT_TRUE(WaitFor([&] { return window_->Closed(); }, 5000)) << c.name;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << c.name;
        EXPECT_EQ(window_->Capture(), nullptr) << c.name;
        EXPECT_EQ(folder_.ReadSettings()["ShotCounterFiles"], std::to_string(marker)) << c.name;
        window_.reset();
    }
    signal(SIGTERM, SIG_DFL);
}

}  // namespace
