#include "ui/main_menu.h"

#include <QAction>
#include <QComboBox>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>

#include "menu_fixture.h"
#include <QMessageBox>

#include <fstream>

#include "core/session_autostart.h"
#include "ui/options_dialog.h"
#include "ui/time_dialog.h"
#include "ui/web_start_failure.h"

using namespace menu_test;

namespace {

// One line per item: indentation, text, [id] and * for a check mark; — for a separator.
void Dump(const QMenu* menu, int depth, std::string& out) {
    for (const QAction* action : menu->actions()) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ');
        if (action->isSeparator()) {
            out += "—\n";
        } else if (action->menu()) {
            out += action->text().toStdString() + " >\n";
            Dump(action->menu(), depth + 1, out);
        } else {
            out += action->text().toStdString() + " [" + action->objectName().mid(4).toStdString() + "]";
            if (action->isChecked()) out += " *";
            if (!action->isEnabled()) out += " (disabled)";
            out += "\n";
        }
    }
}

std::string Dump(const QMenuBar* bar) {
    std::string out;
    for (const QAction* top : bar->actions()) {
        out += top->text().toStdString() + " >\n";
        if (top->menu()) Dump(top->menu(), 1, out);
    }
    return out;
}

// The checked items' identifiers in tree order.
std::string Marks(const QMenuBar* bar) {
    std::string out;
    for (QAction* action : bar->findChildren<QAction*>()) {
        if (action->isChecked()) out += action->objectName().mid(4).toStdString() + " ";
    }
    return out;
}

const char* const kEnglishTree = R"(File >
  Language >
    English [32780] *
    Russian [32781]
  —
  To open a folder with files of >
    video [32823]
    photos [32824]
  To continue record in a new file. [32828]
  Set a path to files the >
    video [32811]
    photos [32812]
  —
  Show/Hide. HotKey:  F12 [32832]
  Start with the desktop session [32845]
  —
  Exit [32833]
Cam >
  View >
    No [32774]
    Normal [32775] *
    Detector Go [32776]
  Clear the ignored areas [32777]
  —
  Options [32771]
Server >
  Stop [32834] *
  Start [32835]
  —
  Options [32836]
Recorder >
  Stop [32813] *
  Start [32814]
  AutoStart: DetectotGo [32815]
  AutoStart: Timer [32816]
  AutoStart: Timer And DetectorGo [32817]
  AutoStart: Timer Or DetectorGo [32818]
  —
  Options [32778]
  —
  To continue record in a new file. [32828]
  Set a path to files the video [32811]
  To open a folder with files of video [32823]
Photo >
  Shot! [32827]
  —
  Set a type of photo file >
    BMP [32825] *
    JPEG [32826]
  Set a path to files the photos [32812]
  To open a folder with files of photos [32824]
? >
   [32837]
  —
  About [32838]
)";

QString g_chosenFolder;
QString g_lastTitle;
QString g_lastCurrent;
QString ChooseForTest(QWidget*, const QString& title, const QString& current) {
    g_lastTitle = title;
    g_lastCurrent = current;
    return g_chosenFolder;
}

}  // namespace

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The user's own autostart folder stays out of the tests.
        setenv("XDG_CONFIG_HOME", (folder.Path() + "config").c_str(), 1);
        folder.WriteFile("Lang/English.lng", "LINK1 https://example.org Home page\n");
        folder.WriteFile("Lang/Russian.lng",
                         "MenuFile Файл\nMenuExit Выход\nMenuRecStop Стоп\nMenuServer Сервер\n"
                         "MenuTypePhotoJpeg ДЖПЕГ\n");
        modules = std::make_unique<Modules>();
        menu = std::make_unique<MainMenu>(modules->Settings(), host);
        menu->BuildMenu(window.menuBar());
        OpenedUrls().clear();
        LinkLabel::SetOpenerForTest(&RecordUrl);
        MainMenu::SetFolderChooserForTest(&ChooseForTest);
    }
    void TearDown() override {
        LinkLabel::SetOpenerForTest(nullptr);
        MainMenu::SetFolderChooserForTest(nullptr);
        unsetenv("XDG_CONFIG_HOME");
    }
    QMenuBar* Bar() { return window.menuBar(); }

    ProgramFolder folder;
    std::unique_ptr<Modules> modules;
    FakeHost host;
    QMainWindow window;
    std::unique_ptr<MainMenu> menu;
};

TEST_F(MenuTest, TreeInEnglishWithTextsIdentifiersAndMarks) {
    std::string expected = kEnglishTree;
    // LINK1 comes from the language file.
    expected.replace(expected.find("   [32837]"), 10, "  Home page [32837]");
    EXPECT_EQ(Dump(Bar()), expected);
    ASSERT_NE(window.findChild<QAction*>("menu32833"), nullptr);
}

TEST_F(MenuTest, SwitchingToRussianRebuildsTheTree) {
    QAction* english = menu->Action(32780);
    ASSERT_NE(english, nullptr);
    // Through the action, as a click sends it: the handler rebuilds the menu that sent it.
    menu->Action(32781)->trigger();
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(modules->settings->GetString("Language"), "Russian");
    // The Russian file sets only a few texts; the others fall back to the built-in ones.
    std::string expected = kEnglishTree;
    auto replace = [&expected](const std::string& from, const std::string& to) {
        const std::size_t at = expected.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        expected.replace(at, from.size(), to);
    };
    replace("File >", "Файл >");
    replace("English [32780] *", "English [32780]");
    replace("Russian [32781]", "Russian [32781] *");
    replace("Exit [32833]", "Выход [32833]");
    replace("Server >", "Сервер >");
    replace("  Stop [32813] *", "  Стоп [32813] *");
    replace("JPEG [32826]", "ДЖПЕГ [32826]");
    EXPECT_EQ(Dump(Bar()), expected);
    EXPECT_EQ(Bar()->findChildren<QAction*>("menu32833").size(), 1);
    // The file is saved at the switch.
    EXPECT_NE(folder.ReadFile("vistrel.ini").find("Language Russian"), std::string::npos);

    menu->Command(32780);
    EXPECT_EQ(Dump(Bar()).substr(0, 6), "File >");
}

TEST_F(MenuTest, MarksFollowEachCommand) {
    EXPECT_EQ(Marks(Bar()), "32780 32775 32834 32813 32825 ");

    menu->Command(menu_id::kViewDetector);
    EXPECT_EQ(host.viewMode, 2);
    menu->Command(menu_id::kPhotoJpeg);
    EXPECT_EQ(modules->settings->GetString("ShotFilesType"), "1");
    EXPECT_EQ(modules->shot.photoType.load(), 1);
    menu->Command(menu_id::kModeFirst + 5);
    EXPECT_EQ(modules->settings->GetString("ModeActivation"), "5");
    EXPECT_EQ(modules->options->Mode(), 5);
    EXPECT_EQ(Marks(Bar()), "32780 32776 32834 32818 32826 ");
    // A view change only lasts for the run.
    EXPECT_FALSE(modules->settings->Contains("ModeView"));

    menu->Command(menu_id::kViewNo);
    menu->Command(menu_id::kPhotoBmp);
    EXPECT_EQ(modules->shot.photoType.load(), 0);
    EXPECT_EQ(Marks(Bar()), "32780 32774 32834 32818 32825 ");
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(MenuTest, StopModeEndsTheRecordingAndOtherModesDoNot) {
    menu->Command(menu_id::kModeFirst + 1);
    modules->options->Tick();
    ASSERT_EQ(modules->options->RecordingActive(), 1);
    modules->shot.recording.store(1);
    EXPECT_TRUE(host.calls.empty());

    menu->Command(menu_id::kModeFirst);
    EXPECT_EQ(modules->options->RecordingActive(), 0);
    EXPECT_EQ(modules->shot.recording.load(), 0);
    EXPECT_EQ(host.calls, std::vector<std::string>{"split"});
    EXPECT_EQ(Marks(Bar()), "32780 32775 32834 32813 32825 ");
}

TEST_F(MenuTest, ServerMarksMoveOnlyWithTheNextPoll) {
    modules->settings->SetInt("WWWPortListener", FreePort());
    modules->web = std::make_unique<WebServer>(modules->Settings());
    menu->Command(menu_id::kServerStart);
    ASSERT_TRUE(modules->web->Running());
    EXPECT_EQ(Marks(Bar()), "32780 32775 32834 32813 32825 ");

    // The window's tick: poll, then move the marks.
    int shown = 0;
    ASSERT_EQ(modules->web->PollStateChange(shown), 1);
    menu->UpdateServerChecks(shown != 0);
    EXPECT_EQ(Marks(Bar()), "32780 32775 32835 32813 32825 ");
    menu->Rebuild();
    EXPECT_EQ(Marks(Bar()), "32780 32775 32835 32813 32825 ");

    // A click on the marked item leaves it marked.
    menu->Action(menu_id::kServerStart)->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(menu->Action(menu_id::kServerStart)->isChecked());

    menu->Command(menu_id::kServerStop);
    EXPECT_FALSE(modules->web->Running());
    EXPECT_TRUE(menu->Action(menu_id::kServerStart)->isChecked());
    ASSERT_EQ(modules->web->PollStateChange(shown), 1);
    menu->UpdateServerChecks(shown != 0);
    EXPECT_EQ(Marks(Bar()), "32780 32775 32834 32813 32825 ");
}

// Polls for a message box over whatever dialog may still be closing, then acts on it.
static void WhenMessageBoxOpens(std::function<void(QMessageBox*)> act) {
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, [timer, started, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box && started->elapsed() < 10000) return;
        timer->stop();
        timer->deleteLater();
        if (box) act(box);
    });
    timer->start(10);
}

TEST_F(MenuTest, AWebStartTheUserAskedForSaysWhyItFailed) {
    // Another program holds the port.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const int taken = ntohs(address.sin_port);
    const QString inUse = QString("The web server cannot start: port %1 is in use by another program. Choose "
                                  "another port in the web server settings.")
                              .arg(taken);

    modules->settings->SetInt("WWWPortListener", taken);
    modules->web = std::make_unique<WebServer>(modules->Settings());
    QString shown;
    WhenMessageBoxOpens([&](QMessageBox* box) {
        shown = box->text();
        box->done(0);
    });
    menu->Command(menu_id::kServerStart);
    EXPECT_FALSE(modules->web->Running());
    EXPECT_EQ(shown, inUse);

    // Moving a running server to that port in the options dialog says the same once the dialog is gone.
    modules->settings->SetInt("WWWPortListener", FreePort());
    modules->web = std::make_unique<WebServer>(modules->Settings());
    ASSERT_TRUE(modules->web->Start());
    shown.clear();
    WhenModal([&](QDialog* web) {
        TypeAndLeave(Edit(web, "id112"), QString::number(taken));
        WhenMessageBoxOpens([&](QMessageBox* box) {
            shown = box->text();
            box->done(0);
        });
        Click(web, "id1");
    });
    menu->Command(menu_id::kServerOptions);
    EXPECT_FALSE(modules->web->Running());
    EXPECT_EQ(shown, inUse);
    close(holder);

    // The other reasons, as the user reads them.
    EXPECT_EQ(web_start_failure::Text(modules->Settings(), 80, EACCES),
              "The web server cannot start: port 80 needs administrator rights. Choose a port of 1024 or above "
              "in the web server settings.");
    EXPECT_EQ(web_start_failure::Text(modules->Settings(), 8080, EADDRNOTAVAIL),
              "The web server cannot start on port 8080: Cannot assign requested address");
}

TEST_F(MenuTest, FoldersAreChosenWithTheirTitlesAndOpened) {
    modules->settings->SetText("MoveFilesPath", "/srv/video/");
    g_chosenFolder = "/srv/new-video";
    menu->Command(menu_id::kSetVideoFolder);
    EXPECT_EQ(g_lastTitle, QString::fromUtf8("Укажите путь к файлам видеозаписей:"));
    EXPECT_EQ(g_lastCurrent, "/srv/video/");
    EXPECT_EQ(modules->settings->GetString("MoveFilesPath"), "/srv/new-video/");

    g_chosenFolder = "/";
    menu->Command(menu_id::kSetPhotoFolder);
    EXPECT_EQ(g_lastTitle, QString::fromUtf8("Укажите путь к файлам фотоснимков:"));
    EXPECT_EQ(modules->settings->GetString("ShotFilesPath"), "/");

    g_chosenFolder.clear();
    menu->Command(menu_id::kSetVideoFolder);
    EXPECT_EQ(modules->settings->GetString("MoveFilesPath"), "/srv/new-video/");

    menu->Command(menu_id::kOpenVideoFolder);
    menu->Command(menu_id::kOpenPhotoFolder);
    ASSERT_EQ(OpenedUrls().size(), 2u);
    EXPECT_EQ(OpenedUrls()[0], QUrl::fromLocalFile("/srv/new-video/"));
    EXPECT_EQ(OpenedUrls()[1], QUrl::fromLocalFile("/"));
}

TEST_F(MenuTest, CameraOptionsActOnItsFlagsInOrder) {
    host.cameraResult = camera_result::kDeviceChanged | camera_result::kOrientationChanged |
                        camera_result::kQualityChanged | camera_result::kStampChanged;
    menu->Command(menu_id::kCameraOptions);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"camera dialog", "split", "orientation", "resize",
                                                    "disconnect", "caption Поиск ...", "connect"}));
    host.calls.clear();
    host.cameraResult = camera_result::kStampChanged;
    menu->Command(menu_id::kCameraOptions);
    EXPECT_EQ(host.calls, std::vector<std::string>{"camera dialog"});
}

TEST_F(MenuTest, SimpleCommands) {
    menu->Command(menu_id::kShot);
    EXPECT_EQ(modules->shot.photoRequest.load(), 1);
    menu->Command(menu_id::kNewFile);
    menu->Command(menu_id::kLink1);
    menu->Command(12345);
    menu->Command(menu_id::kExit);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"split", "exit"}));

    // The hot key item shows a changed key only after the dialog says so.
    host.calls.clear();
    host.hotKeyResult = 2;
    menu->Command(menu_id::kHotKey);
    EXPECT_EQ(menu->Action(menu_id::kHotKey)->text(), "Show/Hide. HotKey:  Ctrl+F9");
}

TEST_F(MenuTest, HelpsReadmeEntryOpensTheReadmeBesideTheProgram) {
    folder.WriteFile("README.md", "# Vistrel\n");
    menu->Action(menu_id::kLink1)->trigger();  // Queued, as the menu posts its commands.
    ASSERT_TRUE(QTest::qWaitFor([] { return !OpenedUrls().empty(); }, 5000));
    ASSERT_EQ(OpenedUrls().size(), 1u);
    EXPECT_EQ(OpenedUrls()[0], QUrl::fromLocalFile(QString::fromStdString(folder.Path() + "README.md")));
}

TEST_F(MenuTest, RecordingOptionsResultDrivesSplitRebuildAndWake) {
    WhenModal([](QDialog* d) { Click(d, "id2"); });
    menu->Command(menu_id::kRecordingOptions);
    EXPECT_EQ(host.calls, std::vector<std::string>{"wake"});

    host.calls.clear();
    WhenModal([](QDialog* d) {
        d->findChild<QComboBox*>("id215")->setCurrentIndex(3);
        Click(d, "id1");
    });
    menu->Command(menu_id::kRecordingOptions);
    EXPECT_EQ(host.calls, std::vector<std::string>{"wake"});
    EXPECT_EQ(Marks(Bar()), "32780 32775 32834 32816 32825 ");
}

TEST_F(MenuTest, CancelOpenDialogsEndsNestedDialogsAsCancelled) {
    modules->options->SetWindowStart(100);
    WhenModal([](QDialog* options) {
        Edit(options, "id411")->setText("9");
        WhenModal([](QDialog* time) {
            Edit(time, "id112")->setText("5");
            // The hot key hides the window while both dialogs are open.
            MainMenu::CancelOpenDialogs();
        });
        Click(options, "id202");
    });
    menu->Command(menu_id::kRecordingOptions);
    EXPECT_EQ(host.calls, std::vector<std::string>{"wake"});
    EXPECT_EQ(modules->options->WindowStart(), 100);
    EXPECT_EQ(modules->params.Get(kMjpegSpeedPlay), 2);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    WhenModal([](QDialog*) { MainMenu::CancelOpenDialogs(); });
    menu->Command(menu_id::kAbout);
    WhenModal([](QDialog* web) {
        TypeAndLeave(Edit(web, "id112"), "8088");
        MainMenu::CancelOpenDialogs();
    });
    menu->Command(menu_id::kServerOptions);
    EXPECT_EQ(modules->web->Port(), 8080);
    // Nothing open: nothing to end.
    MainMenu::CancelOpenDialogs();
}

TEST_F(MenuTest, MoreThanTwentyLanguagesOfferTheFirstTwenty) {
    for (char c = 'A'; c <= 'Y'; ++c) folder.WriteFile(std::string("Lang/") + c + "lang.lng", "");
    menu.reset();
    modules.reset();
    modules = std::make_unique<Modules>();
    menu = std::make_unique<MainMenu>(modules->Settings(), host);
    menu->BuildMenu(Bar());
    std::vector<std::string> names;
    for (int id = menu_id::kLanguageFirst; id < menu_id::kLanguageFirst + 25; ++id) {
        if (QAction* item = menu->Action(id)) names.push_back(item->text().toStdString());
    }
    ASSERT_EQ(names.size(), 20u);
    // Byte order: "Elang" < "English" < "Flang", "Rlang" < "Russian" < "Slang".
    EXPECT_EQ(names.front(), "Alang");
    EXPECT_EQ(names[5], "English");
    EXPECT_EQ(names.back(), "Russian");
    EXPECT_EQ(Marks(Bar()), "32785 32775 32834 32813 32825 ");
    menu->Command(menu_id::kLanguageFirst + 18);
    EXPECT_EQ(modules->settings->GetString("Language"), "Rlang");
    EXPECT_EQ(Marks(Bar()), "32798 32775 32834 32813 32825 ");
}

TEST_F(MenuTest, AutostartItemWritesAndRemovesTheSessionEntry) {
    const std::string entry = folder.Path() + "config/autostart/vistrel.desktop";
    QAction* item = menu->Action(menu_id::kAutostart);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());

    // A click as the user makes it: the handler rebuilds the menu that sent it.
    item->trigger();
    QCoreApplication::processEvents();
    ASSERT_TRUE(folder.Exists("config/autostart/vistrel.desktop"));
    EXPECT_NE(folder.ReadFile("config/autostart/vistrel.desktop").find("\nExec=" + folder.Path() + "vistrel\n"),
              std::string::npos);
    ASSERT_NE(menu->Action(menu_id::kAutostart), nullptr);
    EXPECT_TRUE(menu->Action(menu_id::kAutostart)->isChecked());

    menu->Action(menu_id::kAutostart)->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(folder.Exists("config/autostart/vistrel.desktop"));
    EXPECT_FALSE(menu->Action(menu_id::kAutostart)->isChecked());

    // An entry made outside the program (an earlier run, the desktop's own tool) shows as set.
    folder.WriteFile("config/autostart/vistrel.desktop", "[Desktop Entry]\nType=Application\nExec=vistrel\n");
    menu->Command(32780);
    EXPECT_TRUE(menu->Action(menu_id::kAutostart)->isChecked());
}

TEST_F(MenuTest, AutostartThatCannotBeWrittenIsSaidInTheWindow) {
    // A file where the autostart folder belongs: the folder cannot be made.
    folder.WriteFile("config/autostart", "not a folder");
    menu->Command(menu_id::kAutostart);
    EXPECT_FALSE(menu->Action(menu_id::kAutostart)->isChecked());
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "autostartFailed" && widget->isVisible()) box = qobject_cast<QMessageBox*>(widget);
    }
    ASSERT_NE(box, nullptr) << "no message in the window";
    EXPECT_TRUE(box->text().startsWith("The start with the desktop session could not be changed:\n")) << box->text().toStdString();
    EXPECT_TRUE(box->text().contains(QString::fromStdString(folder.Path() + "config/autostart/"))) << box->text().toStdString();
    box->close();
    QCoreApplication::processEvents();
}
