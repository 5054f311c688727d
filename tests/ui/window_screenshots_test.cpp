// Pictures of the main window with a live picture and of the camera and hot
// key dialogs, for review. Runs only when VISTREL_SCREENSHOT_DIR names the
// folder to write the PNG files into (tools/screenshots.sh sets it).
#include <gtest/gtest.h>

#include <QPixmap>

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

}  // namespace
