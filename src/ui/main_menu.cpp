#include "ui/main_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QFileInfo>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

#include <cstdio>
#include <string>

#include "core/language_table.h"
#include "core/program_paths.h"
#include "core/registry.h"
#include "core/save_request.h"
#include "core/session_autostart.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "ui/about_dialog.h"
#include "ui/link_label.h"
#include "ui/options_dialog.h"
#include "ui/web_dialog.h"
#include "ui/web_start_failure.h"
#include "web/web_server.h"

namespace {

std::vector<QPointer<QDialog>> g_openDialogs;
MainMenu::FolderChooser g_folderChooser = nullptr;

QString FromText(const char* text) { return text ? QString::fromUtf8(text) : QString(); }

}  // namespace

QString UiText(Registry& registry, const char* key) {
    auto* table = registry.Find<LanguageTable>("_CL_Language");
    return table ? FromText(table->Text(key)) : QString();
}

QString UiMemo(Registry& registry, int number) {
    auto* table = registry.Find<LanguageTable>("_CL_Language");
    return table ? FromText(table->Memo(number)) : QString();
}

QString UiLink(Registry& registry, int number) {
    auto* table = registry.Find<LanguageTable>("_CL_Language");
    return table ? FromText(table->Link(number)) : QString();
}

const char* const MainMenu::kVideoFolderTitle = "FolderTitleVideo";
const char* const MainMenu::kPhotoFolderTitle = "FolderTitlePhoto";
const char* const MainMenu::kSearchingCaption = "CaptionSearching";

MainMenu::MainMenu(Registry& registry, MenuHost& host) : registry_(registry), host_(host) {}

MainMenu::~MainMenu() {
    for (const QPointer<QMenu>& menu : menus_) delete menu.data();
}

int MainMenu::RunModal(QDialog& dialog) {
    g_openDialogs.emplace_back(&dialog);
    const int result = dialog.exec();
    std::erase_if(g_openDialogs, [&dialog](const QPointer<QDialog>& open) {
        return open.isNull() || open.data() == &dialog;
    });
    return result;
}

void MainMenu::CancelOpenDialogs() {
    // Innermost first, so a time dialog ends before the options dialog under it.
    const std::vector<QPointer<QDialog>> open = g_openDialogs;
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (!it->isNull()) (*it)->done(0);
    }
}

bool MainMenu::DialogsOpen() { return !g_openDialogs.empty(); }

void MainMenu::SetFolderChooserForTest(FolderChooser chooser) { g_folderChooser = chooser; }

QString MainMenu::Text(const char* key) { return UiText(registry_, key); }

QMenu* MainMenu::AddPopup(QMenu* parent, const char* key) {
    auto* menu = new QMenu(Text(key), parent ? static_cast<QWidget*>(parent) : bar_);
    if (parent) {
        parent->addMenu(menu);
    } else {
        bar_->addMenu(menu);
        menus_.push_back(menu);
    }
    return menu;
}

QAction* MainMenu::AddItem(QMenu* menu, const QString& text, int id, QActionGroup* group) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QStringLiteral("menu%1").arg(id));
    action->setData(id);
    if (group) {
        action->setCheckable(true);
        group->addAction(action);
    }
    // Queued, as a posted command: the handler may rebuild the menu that sent it.
    connect(action, &QAction::triggered, this, [this, id] { Command(id); }, Qt::QueuedConnection);
    return action;
}

QAction* MainMenu::AddItem(QMenu* menu, const char* key, int id, QActionGroup* group) {
    return AddItem(menu, Text(key), id, group);
}

QAction* MainMenu::Action(int id) const {
    for (const QPointer<QMenu>& menu : menus_) {
        if (!menu) continue;
        if (auto* action = menu->findChild<QAction*>(QStringLiteral("menu%1").arg(id))) return action;
    }
    return nullptr;
}

void MainMenu::Check(int id) {
    if (QAction* action = Action(id)) action->setChecked(true);
}

void MainMenu::Rebuild() {
    if (bar_) BuildMenu(bar_);
}

void MainMenu::BuildMenu(QMenuBar* bar) {
    if (!bar) return;
    for (const QPointer<QMenu>& menu : menus_) delete menu.data();
    menus_.clear();
    bar_ = bar;
    bar->clear();

    auto group = [](QMenu* menu) {
        auto* g = new QActionGroup(menu);
        g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        return g;
    };

    QMenu* file = AddPopup(nullptr, "MenuFile");
    QMenu* language = AddPopup(file, "MenuLanguage");
    QActionGroup* languages = group(language);
    if (auto* table = registry_.Find<LanguageTable>("_CL_Language")) {
        const int count = std::min(table->LanguageCount(), menu_id::kLanguageCount);
        for (int i = 0; i < count; ++i) {
            QAction* item = AddItem(language, FromText(table->LanguageName(i)), menu_id::kLanguageFirst + i,
                                    languages);
            if (i == table->CurrentLanguage()) item->setChecked(true);
        }
    }
    file->addSeparator();
    QMenu* openFolder = AddPopup(file, "MenuOpenFolder");
    AddItem(openFolder, "FilesVideo", menu_id::kOpenVideoFolder);
    AddItem(openFolder, "FilesPhoto", menu_id::kOpenPhotoFolder);
    AddItem(file, "MenuSplitFileRecordig", menu_id::kNewFile);
    QMenu* setPath = AddPopup(file, "MenuSetPath");
    AddItem(setPath, "FilesVideo", menu_id::kSetVideoFolder);
    AddItem(setPath, "FilesPhoto", menu_id::kSetPhotoFolder);
    file->addSeparator();
    AddItem(file, host_.HotKeyMenuText(), menu_id::kHotKey);
    QAction* autostart = AddItem(file, "MenuAutostart", menu_id::kAutostart);
    autostart->setCheckable(true);
    autostart->setChecked(SessionAutostart::Enabled());
    file->addSeparator();
    AddItem(file, "MenuExit", menu_id::kExit);

    QMenu* cam = AddPopup(nullptr, "MenuCam");
    QMenu* view = AddPopup(cam, "MenuView");
    QActionGroup* views = group(view);
    AddItem(view, "MenuViewNo", menu_id::kViewNo, views);
    AddItem(view, "MenuViewNormal", menu_id::kViewNormal, views);
    AddItem(view, "MenuViewDetectotGo", menu_id::kViewDetector, views);
    SetViewMode(host_.CurrentViewMode());
    AddItem(cam, "MenuMaskClear", menu_id::kClearMask);
    cam->addSeparator();
    AddItem(cam, "MenuOptions", menu_id::kCameraOptions);

    QMenu* server = AddPopup(nullptr, "MenuServer");
    QActionGroup* serverStates = group(server);
    AddItem(server, "MenuWWWServerStop", menu_id::kServerStop, serverStates);
    AddItem(server, "MenuWWWServerStart", menu_id::kServerStart, serverStates);
    UpdateServerChecks(serverRunning_);
    server->addSeparator();
    AddItem(server, "MenuWWWServerOptions", menu_id::kServerOptions);

    QMenu* recorder = AddPopup(nullptr, "MenuRecorder");
    QActionGroup* modes = group(recorder);
    static const char* const kModeKeys[] = {"MenuRecStop",
                                            "MenuRecStart",
                                            "MenuRecActivationGo",
                                            "MenuRecActivationTimer",
                                            "MenuRecActivationTimerAndGo",
                                            "MenuRecActivationTimerOrGo"};
    for (int mode = 0; mode < 6; ++mode) AddItem(recorder, kModeKeys[mode], menu_id::kModeFirst + mode, modes);
    recorder->addSeparator();
    AddItem(recorder, "MenuOptions", menu_id::kRecordingOptions);
    recorder->addSeparator();
    AddItem(recorder, "MenuSplitFileRecordig", menu_id::kNewFile);
    AddItem(recorder, "MenuSetPathVideo", menu_id::kSetVideoFolder);
    AddItem(recorder, "MenuOpenFilesVideo", menu_id::kOpenVideoFolder);
    UpdateActivationChecks();

    QMenu* photo = AddPopup(nullptr, "MenuPhoto");
    AddItem(photo, "MenuPhotoShot", menu_id::kShot);
    photo->addSeparator();
    QMenu* photoType = AddPopup(photo, "MenuTypeFilesPhoto");
    QActionGroup* types = group(photoType);
    AddItem(photoType, "MenuTypePhotoBmp", menu_id::kPhotoBmp, types);
    AddItem(photoType, "MenuTypePhotoJpeg", menu_id::kPhotoJpeg, types);
    auto* shot = registry_.Find<ShotData>("_MYSHOTDATA");
    Check(shot && shot->photoType.load(std::memory_order_relaxed) != 0 ? menu_id::kPhotoJpeg : menu_id::kPhotoBmp);
    AddItem(photo, "MenuSetPathPhoto", menu_id::kSetPhotoFolder);
    AddItem(photo, "MenuOpenFilesPhoto", menu_id::kOpenPhotoFolder);

    QMenu* help = AddPopup(nullptr, "MenuHelp");
    AddItem(help, "LINK1", menu_id::kLink1);
    help->addSeparator();
    AddItem(help, "MenuHelpAbout", menu_id::kAbout);

    bar->update();
}

void MainMenu::UpdateServerChecks(bool running) {
    serverRunning_ = running;
    Check(running ? menu_id::kServerStart : menu_id::kServerStop);
}

void MainMenu::UpdateActivationChecks() {
    const auto mode = static_cast<int>(registry_.GetHandle("ModeActivation"));
    if (auto* options = registry_.Find<RecordingOptions>("_CL_Options")) options->SetMode(mode);
    if (mode >= 0 && mode <= menu_id::kModeLast - menu_id::kModeFirst) Check(menu_id::kModeFirst + mode);
}

void MainMenu::SetViewMode(ViewMode mode) {
    host_.SetViewMode(mode);
    const int index = static_cast<int>(mode);
    if (index >= 0 && index <= 2) Check(menu_id::kViewNo + index);
}

void MainMenu::Command(int id) {
    using namespace menu_id;
    if (id >= kLanguageFirst && id < kLanguageFirst + kLanguageCount) {
        if (auto* table = registry_.Find<LanguageTable>("_CL_Language")) {
            if (id - kLanguageFirst < table->LanguageCount()) table->SelectLanguage(id - kLanguageFirst);
        }
        Rebuild();
        return;
    }
    if (id >= kModeFirst && id <= kModeLast) {
        ActivationMode(id - kModeFirst);
        return;
    }
    switch (id) {
        case kCameraOptions: CameraOptions(); break;
        case kViewNo:
        case kViewNormal:
        case kViewDetector: SetViewMode(static_cast<ViewMode>(id - kViewNo)); break;
        case kClearMask: host_.ClearDetectorMask(); break;
        case kRecordingOptions: RecordingOptionsCommand(); break;
        case kSetVideoFolder: ChooseFolder("MoveFilesPath", kVideoFolderTitle); break;
        case kSetPhotoFolder: ChooseFolder("ShotFilesPath", kPhotoFolderTitle); break;
        case kOpenVideoFolder: OpenFolder("MoveFilesPath"); break;
        case kOpenPhotoFolder: OpenFolder("ShotFilesPath"); break;
        case kPhotoBmp: PhotoType(0); break;
        case kPhotoJpeg: PhotoType(1); break;
        case kShot:
            if (auto* shot = registry_.Find<ShotData>("_MYSHOTDATA")) shot->photoRequest.store(1);
            break;
        case kNewFile: host_.RequestSplit(); break;
        case kHotKey:
            if (host_.RunHotKeyDialog() & hot_key_result::kKeyChanged) Rebuild();
            break;
        case kExit: host_.Exit(); break;
        case kServerStop:
        case kServerStart:
            if (auto* web = registry_.Find<WebServer>("_CL_WWWServer")) {
                if (id == kServerStart) {
                    if (!web->Start()) web_start_failure::ShowIfFailed(registry_, *web, host_.DialogParent());
                } else {
                    web->Stop();
                }
            }
            // The marks follow the server on the next tick, not the click.
            UpdateServerChecks(serverRunning_);
            break;
        case kServerOptions: WebOptions(); break;
        case kAbout: About(); break;
        case kAutostart: ToggleAutostart(); break;
        case kLink1: OpenReadme(); break;
        default: break;  // unknown identifiers
    }
}

void MainMenu::OpenReadme() {
    // The package installs it beside the program, and the build copies it there.
    const QString path = QString::fromStdString(GetProgramFolder()) + QStringLiteral("README.md");
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "ui: cannot open the README: %s is missing\n", path.toUtf8().constData());
        return;
    }
    LinkLabel::OpenUrl(QUrl::fromLocalFile(path));
}

void MainMenu::CameraOptions() {
    const int result = host_.RunCameraDialog();
    if (result & camera_result::kQualityChanged) host_.RequestSplit();
    if (result & camera_result::kOrientationChanged) {
        host_.ApplyOrientation();
        host_.ResizeToPicture();
    }
    if (result & camera_result::kDeviceChanged) {
        host_.DisconnectCamera();
        host_.SetCaption(Text(kSearchingCaption));
        host_.ConnectCamera();
    }
}

void MainMenu::RecordingOptionsCommand() {
    auto* options = registry_.Find<RecordingOptions>("_CL_Options");
    if (!options) return;
    int result = 0;
    {
        OptionsDialog dialog(registry_, *options, host_.DialogParent());
        result = dialog.Run();
    }
    if (result & RecordingOptions::kSpeedChanged) host_.RequestSplit();
    if (result & RecordingOptions::kModeChanged) Rebuild();
    host_.WakeWorker();
}

void MainMenu::ActivationMode(int mode) {
    registry_.SetInt("ModeActivation", mode);
    auto* options = registry_.Find<RecordingOptions>("_CL_Options");
    if (options) options->SetMode(mode);
    if (mode == 0) {
        // Stop closes the open file at once instead of pausing into it.
        if (options) options->ClearRecordingActive();
        if (auto* shot = registry_.Find<ShotData>("_MYSHOTDATA")) shot->recording.store(0);
        host_.RequestSplit();
    }
    // Menu changes reach the file now, not at the next save point.
    SaveRequest::SaveNowFor(registry_);
    Rebuild();
}

void MainMenu::PhotoType(int type) {
    if (auto* shot = registry_.Find<ShotData>("_MYSHOTDATA")) shot->photoType.store(type);
    registry_.SetInt("ShotFilesType", type);
    SaveRequest::SaveNowFor(registry_);
    Rebuild();
}

void MainMenu::ChooseFolder(const char* key, const char* title) {
    const QString current = QString::fromUtf8(registry_.GetString(key).c_str());
    const QString titleText = Text(title);
    QWidget* parent = host_.DialogParent();
    QString chosen;
    if (g_folderChooser) {
        chosen = g_folderChooser(parent, titleText, current);
    } else {
        QFileDialog dialog(parent, titleText, current);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        // Through RunModal, so a shutdown ends it like any other dialog.
        if (RunModal(dialog) != 0 && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first();
    }
    if (chosen.isEmpty()) return;
    std::string path = chosen.toUtf8().toStdString();
    AddTrailingBackslash(path);
    registry_.SetText(key, path.c_str());
    SaveRequest::SaveNowFor(registry_);
}

void MainMenu::OpenFolder(const char* key) {
    const std::string path = registry_.GetString(key);
    if (path.empty()) return;
    LinkLabel::OpenUrl(QUrl::fromLocalFile(QString::fromUtf8(path.c_str())));
}

void MainMenu::WebOptions() {
    auto* web = registry_.Find<WebServer>("_CL_WWWServer");
    if (!web) return;
    WebDialog dialog(registry_, *web);
    dialog.Run(host_.DialogParent());
}

void MainMenu::About() {
    AboutDialog about(registry_);
    about.Run(host_.DialogParent());
}

void MainMenu::ToggleAutostart() {
    std::string error;
    const bool done = SessionAutostart::Enabled() ? SessionAutostart::Disable(error)
                                                  : SessionAutostart::Enable(ProgramFile(), error);
    if (!done) {
        std::fprintf(stderr, "autostart: %s\n", error.c_str());
        auto* box = new QMessageBox(QMessageBox::Warning, UiText(registry_, "ProgrammName"),
                                    Text("AutostartFailed") + "\n" + QString::fromUtf8(error.c_str()), QMessageBox::Ok,
                                    host_.DialogParent());
        box->setObjectName(QStringLiteral("autostartFailed"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    // The mark shows the file as it now is, whatever the click made of it.
    Rebuild();
}
