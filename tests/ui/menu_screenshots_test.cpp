// Pictures of every dialog and of each open menu, for review. Runs only when
// VISTREL_SCREENSHOT_DIR names the folder to write the PNG files into.

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>

#include <array>

#include "menu_fixture.h"
#include "ui/about_dialog.h"
#include "ui/options_dialog.h"
#include "ui/time_dialog.h"
#include "ui/web_dialog.h"

using namespace menu_test;

namespace {

QString g_folder;

void Save(QWidget* widget, const QString& name) {
    widget->adjustSize();
    const QPixmap picture = widget->grab();
    EXPECT_TRUE(picture.save(g_folder + "/" + name + ".png")) << name.toStdString();
}

// Grabs the dialog as it runs, then ends it.
std::function<void(QDialog*)> SaveAndClose(const QString& name) {
    return [name](QDialog* dialog) {
        Save(dialog, name);
        dialog->done(0);
    };
}

}  // namespace

TEST(MenuScreenshots, EveryDialogAndMenu) {
    const char* folderEnv = std::getenv("VISTREL_SCREENSHOT_DIR");
    if (!folderEnv || !*folderEnv) GTEST_SKIP() << "VISTREL_SCREENSHOT_DIR is not set";
    g_folder = QString::fromUtf8(folderEnv);

    ProgramFolder folder;
    folder.WriteFile("Lang/English.lng",
                     "LINK1 https://example.org Home page\n"
                     "LINK2 https://example.org/maker example.org\n"
                     "LINK3 https://example.org/vistrel Vistrel on the web\n"
                     "CprData (c) 2026\n"
                     "MEMO3\nA recorder for one camera: motion detector, daily timer, \n"
                     "Motion-JPEG AVI files, photos and a small web server.\n\n"
                     "MEMO4\nEverything keeps running while the window is hidden.\n\n"
                     "MEMO7\nThe built-in web server shows the latest picture to any browser on the network.\n\n");
    folder.WriteFile("Lang/Russian.lng", "MenuFile Файл\n");
    ManualClock clock(1700000000);
    Modules modules(clock);
    std::array<QPixmap, 3> images;
    const QColor colours[3] = {QColor(40, 40, 40), QColor(255, 40, 40), QColor(120, 0, 0)};
    for (int i = 0; i < 3; ++i) {
        images[i] = QPixmap(12, 12);
        images[i].fill(colours[i]);
    }
    modules.settings->SetHandle("_HBITMAPIMAGESTATE", images.data());
    modules.options->SetMode(5);
    modules.options->SetWindowStart(8 * 3600);
    modules.options->SetWindowStop(17 * 3600);

    {
        WhenModal([&](QDialog* dialog) {
            modules.options->SetLevel(42);
            clock.Advance(1);
            modules.options->Tick();
            Save(dialog, "dialog-recording-options");
            dialog->done(0);
        });
        OptionsDialog options(modules.Settings(), *modules.options);
        options.Run();
    }
    {
        WhenModal(SaveAndClose("dialog-time"));
        TimeDialog time(modules.Settings());
        int32_t start = 8 * 3600 + 30 * 60;
        time.Run(start, UiText(modules.Settings(), "TimerCaptionStart"));
    }
    {
        WhenModal(SaveAndClose("dialog-web-server"));
        WebDialog web(modules.Settings(), *modules.web);
        web.Run(nullptr);
    }
    {
        WhenModal(SaveAndClose("dialog-about"));
        AboutDialog about(modules.Settings());
        about.Run(nullptr);
    }

    FakeHost host;
    QMainWindow window;
    MainMenu menu(modules.Settings(), host);
    menu.BuildMenu(window.menuBar());
    window.resize(640, 300);
    Save(window.menuBar(), "menu-bar");
    int index = 0;
    for (QAction* top : window.menuBar()->actions()) {
        QMenu* popup = top->menu();
        if (!popup) continue;
        const QString name = QStringLiteral("menu-%1").arg(++index);
        Save(popup, name);
        int subIndex = 0;
        for (QAction* item : popup->actions()) {
            if (QMenu* sub = item->menu()) Save(sub, name + QStringLiteral("-%1").arg(++subIndex));
        }
    }
}
