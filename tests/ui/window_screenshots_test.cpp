// Pictures of the main window with a live picture and of the camera and hot
// key dialogs, for review. Runs only when VISTREL_SCREENSHOT_DIR names the
// folder to write the PNG files into (tools/screenshots.sh sets it).
#include <gtest/gtest.h>

#include <QPixmap>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ui/camera_dialog.h"
#include "ui/hot_key.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/ui_test_support.h"

namespace fs = std::filesystem;

namespace {

QString g_folder;

void Save(QWidget& widget, const char* name) {
    const QPixmap picture = widget.grab();
    EXPECT_TRUE(picture.save(g_folder + "/" + name + ".png")) << name;
}

TEST(WindowScreenshots, MainWindowCameraAndHotKeyDialogs) {
    const char* folderEnv = std::getenv("VISTREL_SCREENSHOT_DIR");
    if (!folderEnv || !*folderEnv) GTEST_SKIP() << "VISTREL_SCREENSHOT_DIR is not set";
    g_folder = QString::fromUtf8(folderEnv);

    TestProgramFolder folder;
    std::map<std::string, std::string> settings = {
        {"VideoDeviceId", "TestPattern"}, {"VideoResolution", "2"}, {"WWWPortListener", "64997"}};
    // The program's own language files, when the build has them.
    const fs::path languages = fs::path(VISTREL_BUILD_DIR) / "Lang";
    if (fs::exists(languages / "English.lng")) {
        fs::copy(languages, folder.Path() / "Lang", fs::copy_options::recursive);
        settings["Language"] = "English";
    }
    folder.WriteSettings(settings);

    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(WaitFor([&] { return window.FramesPainted() > 10; }, 20000)) << "no live picture";
    QTest::qWait(2500);  // past the icon delay, with the clock of the pattern running
    Save(window, "main_window");

    // The motion view with two areas the detector ignores, drawn with the mouse.
    window.Menu()->Command(menu_id::kViewDetector);
    QWidget* area = window.PictureArea();
    const QSize size = area->size();
    const auto at = [&](double x, double y) {
        return QPoint(qRound(size.width() * x), qRound(size.height() * y));
    };
    for (const auto& [from, to] :
         {std::pair{at(0.06, 0.1), at(0.42, 0.48)}, std::pair{at(0.55, 0.55), at(0.94, 0.9)}}) {
        QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, to);
    }
    QTest::qWait(500);
    Save(window, "motion_view_areas");
    window.Menu()->Command(menu_id::kViewNormal);

    WhenDialogOpens([](QDialog& dialog) {
        QTest::qWait(200);
        Save(dialog, "camera_dialog");
        dialog.done(0);
    });
    window.RunCameraDialog();
    WhenDialogOpens([](QDialog& dialog) {
        QTest::qWait(200);
        Save(dialog, "hot_key_dialog");
        dialog.done(0);
    });
    window.RunHotKeyDialog();
}

TEST(WindowScreenshots, FirstStartWithoutACameraAndAFailedWebStart) {
    const char* folderEnv = std::getenv("VISTREL_SCREENSHOT_DIR");
    if (!folderEnv || !*folderEnv) GTEST_SKIP() << "VISTREL_SCREENSHOT_DIR is not set";
    g_folder = QString::fromUtf8(folderEnv);

    // A port another program holds, for the web server to fail on.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    listen(holder, 1);
    socklen_t length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);

    for (const char* language : {"English", "Russian"}) {
        TestProgramFolder folder;
        fs::copy(fs::path(VISTREL_SOURCE_DIR) / "resources/Lang", folder.Path() / "Lang",
                 fs::copy_options::recursive);
        folder.WriteSettings({{"Language", language},
                              {"VideoDeviceId", "0123456789abcdef0123456789abcdef"},
                              {"WWWPortListener", std::to_string(ntohs(address.sin_port))}});
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(3500);  // past the first disconnection, which sets the caption
        Save(window, (std::string("first_start_") + language).c_str());
        WhenDialogOpens([language](QDialog& dialog) {
            QTest::qWait(200);
            Save(dialog, (std::string("web_start_failed_") + language).c_str());
            dialog.done(0);
        });
        window.Menu()->Command(menu_id::kServerStart);
        std::printf("%s caption: %s\n", language, window.windowTitle().toUtf8().constData());
    }
    close(holder);
}

}  // namespace
