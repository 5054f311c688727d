#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "core/program_paths.h"

// A private program folder for one test: the settings file, storage folders
// and language files of the code under test live there.
class TestProgramFolder {
public:
    TestProgramFolder() {
        char pattern[] = "/tmp/vistrel-ui-XXXXXX";
        folder_ = mkdtemp(pattern);
        SetProgramFileForTest((folder_ / "vistrel").string());
    }
    ~TestProgramFolder() {
        SetProgramFileForTest("");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::filesystem::path& Path() const { return folder_; }
    std::filesystem::path SettingsPath() const { return folder_ / "vistrel.ini"; }
    void WriteSettings(const std::map<std::string, std::string>& settings) const {
        std::ofstream out(SettingsPath());
        for (const auto& [key, value] : settings) out << key << ' ' << value << '\n';
    }
    std::map<std::string, std::string> ReadSettings() const {
        std::map<std::string, std::string> settings;
        std::ifstream in(SettingsPath());
        std::string line;
        while (std::getline(in, line)) {
            const auto blank = line.find(' ');
            if (blank != std::string::npos) settings[line.substr(0, blank)] = line.substr(blank + 1);
        }
        return settings;
    }

private:
    std::filesystem::path folder_;
};

// Runs act on the modal dialog as soon as it is open (from inside its loop).
inline void WhenDialogOpens(const std::function<void(QDialog&)>& act) {
    auto* timer = new QTimer;
    auto* elapsed = new QElapsedTimer;
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog && elapsed->elapsed() < 10000) return;
        timer->stop();
        timer->deleteLater();
        delete elapsed;
        if (dialog) act(*dialog);
    });
    timer->start(10);
}

// Polls while processing events until condition holds or timeoutMs passes.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs) return false;
        QTest::qWait(20);
    }
    return true;
}

template <class T>
T* Control(QWidget& parent, const char* id) {
    return parent.findChild<T*>(QString::fromLatin1(id));
}
