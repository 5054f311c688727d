#pragma once

#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <vector>

#include "ui/dialog_results.h"
#include "ui/view_mode.h"

class QAction;
class QActionGroup;
class QDialog;
class QWidget;
class Registry;

// Window texts of the language table found under "_CL_Language", as UTF-8;
// "" when the key or the table is absent.
QString UiText(Registry& registry, const char* key);
QString UiMemo(Registry& registry, int number);
QString UiLink(Registry& registry, int number);

// Command identifiers of the menu items; every QAction is named "menu<id>".
namespace menu_id {
inline constexpr int kCameraOptions = 32771;
inline constexpr int kViewNo = 32774;
inline constexpr int kViewNormal = 32775;
inline constexpr int kViewDetector = 32776;
inline constexpr int kClearMask = 32777;
inline constexpr int kRecordingOptions = 32778;
inline constexpr int kLanguageFirst = 32780;
inline constexpr int kLanguageCount = 20;
inline constexpr int kSetVideoFolder = 32811;
inline constexpr int kSetPhotoFolder = 32812;
inline constexpr int kModeFirst = 32813;  // Stop; 32813 + mode up to 32818
inline constexpr int kModeLast = 32818;
inline constexpr int kOpenVideoFolder = 32823;
inline constexpr int kOpenPhotoFolder = 32824;
inline constexpr int kPhotoBmp = 32825;
inline constexpr int kPhotoJpeg = 32826;
inline constexpr int kShot = 32827;
inline constexpr int kNewFile = 32828;
inline constexpr int kHotKey = 32832;
inline constexpr int kExit = 32833;
inline constexpr int kServerStop = 32834;
inline constexpr int kServerStart = 32835;
inline constexpr int kServerOptions = 32836;
inline constexpr int kLink1 = 32837;
inline constexpr int kAbout = 32838;
inline constexpr int kAutostart = 32845;
}  // namespace menu_id


// What only the main window can do; the MainWindow implements it.
class MenuHost {
public:
    virtual ~MenuHost() = default;
    // Owner of the modal dialogs: the active window.
    virtual QWidget* DialogParent() = 0;
    virtual void ConnectCamera() = 0;
    virtual void DisconnectCamera() = 0;
    virtual void SetCaption(const QString& caption) = 0;
    virtual void ResizeToPicture() = 0;
    // The frame exchange's ApplyOrientation (the window owns the frame pipeline).
    virtual void ApplyOrientation() = 0;
    // The ShotWorker's RequestSplit and Wake (the window keeps the worker).
    virtual void RequestSplit() = 0;
    virtual void WakeWorker() = 0;
    // Sets the painted picture.
    virtual void SetViewMode(ViewMode mode) = 0;
    virtual ViewMode CurrentViewMode() const = 0;
    // Runs the camera settings dialog (through MainMenu::RunModal); returns its camera_result flags.
    virtual int RunCameraDialog() = 0;
    // Runs the hot key dialog (through MainMenu::RunModal); returns its hot_key_result flags.
    virtual int RunHotKeyDialog() = 0;
    // "MenuHotKey", two blanks and the current key's name.
    virtual QString HotKeyMenuText() = 0;
    // The destruction sequence, as the close box.
    virtual void Exit() = 0;
    // Forgets every area the motion detector ignores.
    virtual void ClearDetectorMask() {}
};

// The menu bar and its commands. Modules are found in the Registry by their
// keys ("_CL_Language", "_CL_Options", "_CL_WWWServer", "_MYSHOTDATA"); a
// missing module makes its commands do nothing.
//
// Creation step 26: menu = std::make_unique<MainMenu>(registry, host);
// menu->BuildMenu(window->menuBar()). On each timer tick, when the web server's
// PollStateChange(flag) reports a change, call UpdateServerChecks(flag).
// QAction::triggered reaches Command(id); the window may also call it directly.
//
// Modal dialogs: every dialog (the window's camera and hot key dialogs too)
// runs through MainMenu::RunModal; ToggleVisibility calls
// MainMenu::CancelOpenDialogs() before it hides the window, which ends each
// open dialog, innermost first, as if cancelled (result 0).
class MainMenu final : public QObject {
    Q_OBJECT

public:
    MainMenu(Registry& registry, MenuHost& host);
    ~MainMenu() override;

    // Rebuilds the whole tree from the language texts and sets every check mark.
    void BuildMenu(QMenuBar* bar);
    // Rebuilds into the bar given at the last BuildMenu.
    void Rebuild();
    // Runs one command of the menu table; unknown identifiers do nothing.
    void Command(int id);

    // Check mark on Start while running, else on Stop; the state is remembered.
    void UpdateServerChecks(bool running);
    // Reads "ModeActivation", gives it to the recording control, marks 32813 + mode.
    void UpdateActivationChecks();
    // Sets the window's view mode and marks 32774 + mode.
    void SetViewMode(ViewMode mode);

    // The action of a command identifier in the current tree, or nullptr.
    QAction* Action(int id) const;

    // exec() of a dialog that CancelOpenDialogs can end; returns its result.
    static int RunModal(QDialog& dialog);
    // Ends every dialog run through RunModal with result 0, innermost first.
    static void CancelOpenDialogs();
    // True while any dialog run through RunModal has not returned yet.
    static bool DialogsOpen();

    // Language keys of the folder browser's titles (built-in texts Russian).
    static const char* const kVideoFolderTitle;
    static const char* const kPhotoFolderTitle;
    // Language key of the caption while the camera is searched for after a device change.
    static const char* const kSearchingCaption;

    // Tests replace the folder browser: (parent, title, current) → chosen folder or "".
    using FolderChooser = QString (*)(QWidget* parent, const QString& title, const QString& current);
    static void SetFolderChooserForTest(FolderChooser chooser);

private:
    QMenu* AddPopup(QMenu* parent, const char* key);
    QAction* AddItem(QMenu* menu, const QString& text, int id, QActionGroup* group = nullptr);
    QAction* AddItem(QMenu* menu, const char* key, int id, QActionGroup* group = nullptr);
    QString Text(const char* key);
    void Check(int id);
    void ChooseFolder(const char* key, const char* title);
    void OpenFolder(const char* key);
    void CameraOptions();
    void RecordingOptionsCommand();
    void ActivationMode(int mode);
    void PhotoType(int type);
    void WebOptions();
    void About();
    // Help's README entry: the copy beside the program, with the desktop's opener.
    void OpenReadme();
    void ToggleAutostart();

    Registry& registry_;
    MenuHost& host_;
    QPointer<QMenuBar> bar_;
    // Top-level popups; guarded, since the window may destroy the bar first.
    std::vector<QPointer<QMenu>> menus_;
    bool serverRunning_ = false;
};
