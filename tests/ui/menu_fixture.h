#pragma once

// Shared set-up of the menu and dialog tests: a private program folder with
// its settings file and language files, and the modules the dialogs edit.

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/clock.h"
#include "core/language_table.h"
#include "core/program_paths.h"
#include "core/settings_file.h"
#include "recording/mjpeg_params.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "ui/link_label.h"
#include "ui/main_menu.h"
#include "web/web_server.h"

namespace menu_test {

// A fresh program folder per test; the settings file is "<folder>vistrel.ini".
class ProgramFolder {
public:
    ProgramFolder() {
        char pattern[] = "/tmp/vistrel-dialogs-XXXXXX";
        folder_ = std::string(mkdtemp(pattern)) + "/";
        SetProgramFileForTest(folder_ + "vistrel");
    }
    ~ProgramFolder() {
        SetProgramFileForTest("");
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    const std::string& Path() const { return folder_; }
    std::string SettingsPath() const { return folder_ + "vistrel.ini"; }
    void WriteFile(const std::string& relative, const std::string& content) const {
        std::system(("mkdir -p \"$(dirname '" + folder_ + relative + "')\"").c_str());
        std::ofstream(folder_ + relative, std::ios::binary) << content;
    }
    std::string ReadFile(const std::string& relative) const {
        std::ifstream in(folder_ + relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& relative) const { return access((folder_ + relative).c_str(), F_OK) == 0; }

private:
    std::string folder_;
};

// Records what the menu asks of the window.
class FakeHost final : public MenuHost {
public:
    QWidget* DialogParent() override { return nullptr; }
    void ConnectCamera() override { calls.push_back("connect"); }
    void DisconnectCamera() override { calls.push_back("disconnect"); }
    void SetCaption(const QString& caption) override { calls.push_back("caption " + caption.toStdString()); }
    void ResizeToPicture() override { calls.push_back("resize"); }
    void ApplyOrientation() override { calls.push_back("orientation"); }
    void RequestSplit() override {
        calls.push_back("split");
        if (onSplit) onSplit();
    }
    void WakeWorker() override { calls.push_back("wake"); }
    void SetViewMode(ViewMode mode) override { viewMode = static_cast<int>(mode); }
    ViewMode CurrentViewMode() const override { return static_cast<ViewMode>(viewMode); }
    int RunCameraDialog() override {
        calls.push_back("camera dialog");
        return cameraResult;
    }
    int RunHotKeyDialog() override {
        calls.push_back("hot key dialog");
        if (hotKeyResult & 2) hotKeyName = "Ctrl+F9";
        return hotKeyResult;
    }
    QString HotKeyMenuText() override { return QString::fromStdString("Show/Hide. HotKey:  " + hotKeyName); }
    void Exit() override { calls.push_back("exit"); }

    std::vector<std::string> calls;
    std::function<void()> onSplit;
    int viewMode = 1;
    int cameraResult = 0;
    int hotKeyResult = 0;
    std::string hotKeyName = "F12";
};

// The settings registry and the modules, created in the window's order.
struct Modules {
    explicit Modules(Clock& clock = SystemClock::Instance()) {
        settings = std::make_unique<SettingsFile>();
        settings->SetText("Language", "English");
        language = std::make_unique<LanguageTable>(*settings);
        settings->SetHandle("_MJPEG_PARAMS", &params);
        settings->SetHandle("_MYSHOTDATA", &shot);
        options = std::make_unique<RecordingOptions>(*settings, clock);
        web = std::make_unique<WebServer>(*settings);
    }
    ~Modules() {
        if (web) web->Stop();
    }
    Registry& Settings() { return *settings; }

    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<LanguageTable> language;
    MjpegParams params;
    ShotData shot;
    std::unique_ptr<RecordingOptions> options;
    std::unique_ptr<WebServer> web;
};

// Runs step on the next modal dialog once its loop runs; a watchdog tied to
// that dialog ends it after 60 s, so a failing step cannot hang the test.
inline void WhenModal(std::function<void(QDialog*)> step) {
    QTimer::singleShot(0, [step] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no modal dialog is open";
            return;
        }
        QTimer::singleShot(60000, dialog, [dialog] {
            ADD_FAILURE() << "dialog left open";
            dialog->done(0);
        });
        step(dialog);
    });
}

inline QLineEdit* Edit(QDialog* dialog, const char* name) {
    auto* edit = dialog->findChild<QLineEdit*>(name);
    EXPECT_NE(edit, nullptr) << name;
    return edit;
}

inline void Click(QDialog* dialog, const char* name) {
    auto* button = dialog->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// Types text into an edit and leaves it, as tabbing out does.
inline void TypeAndLeave(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    emit edit->editingFinished();
}

// A port that nothing listens on right now (the system's ephemeral range lies within 80..65000).
inline int FreePort() {
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

// Opened links and folders, recorded instead of starting a program.
inline std::vector<QUrl>& OpenedUrls() {
    static std::vector<QUrl> urls;
    return urls;
}
inline void RecordUrl(const QUrl& url) { OpenedUrls().push_back(url); }

}  // namespace menu_test
