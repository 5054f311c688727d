#pragma once

#include <QGroupBox>
#include <array>

class QComboBox;
class QLineEdit;
class RecordingOptions;
class Registry;

// The recording options dialog's group for what a watcher uses: the file
// format (with the H.264 encoder found), the seconds before motion, the disk space and age limits of old recordings, and the
// commands run on events. Shows the stored values; Apply stores the edits.
class WatchOptionsBox final : public QGroupBox {
public:
    // The command settings, in the order the box shows them.
    static constexpr std::array<const char*, 7> kCommandKeys = {
        "OnEventStart", "OnEventEnd",   "OnFileClosed", "OnFileDeleted",
        "OnPhotoSaved", "OnCameraLost", "OnCameraFound"};

    WatchOptionsBox(Registry& registry, RecordingOptions& options, QWidget* parent);

    // Stores the file format, the three numbers (each clamped into its range) and the command lines.
    void Apply();

private:
    // The number in an edit, clamped: 0 stays 0 when zeroMeansOff, else into min..max.
    static int ReadNumber(QLineEdit* edit, int min, int max, bool zeroMeansOff);

    Registry& registry_;
    RecordingOptions& options_;
    QComboBox* format_ = nullptr;
    QLineEdit* preRecord_ = nullptr;
    QLineEdit* keepFree_ = nullptr;
    QLineEdit* keepDays_ = nullptr;
    std::array<QLineEdit*, kCommandKeys.size()> commands_{};
};
