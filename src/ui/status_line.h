#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <cstdint>

#include "recording/recording_status.h"

class Registry;
class WebServer;

// A one-line label that never cuts its text: what does not fit is elided in
// the middle, and the whole text is its tool tip.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent) : QLabel(parent) {}
    void SetWholeText(const QString& text);
    const QString& WholeText() const { return whole_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString whole_;
};

// The line under the picture: what is recorded now (file and frames) or why
// nothing is, why pictures cannot be stored, the free space of the recording
// folder's disk and the web server's address. It reads the modules' state on
// every window tick; a change of the failure cause also goes to stderr once.
class StatusLine final : public QStatusBar {
public:
    // Finds the recorder ("_CL_AviRecorder") and the web server ("_CL_WWWServer").
    StatusLine(Registry& registry, QWidget* parent);

    // photoFailures: the worker's count of photos asked for and not written.
    void Refresh(int32_t photoFailures);
    // The failure text now shown, "" when recording can store its pictures.
    const QString& FailureText() const { return failureText_; }
    QString Line() const { return label_->WholeText(); }

private:
    QString ActivityText(const RecordingStatus::Snapshot& status);
    QString Text(const char* key) const;
    void ReportFailureChange(const RecordingStatus::Snapshot& status);

    Registry& registry_;
    ElidedLabel* label_;
    RecordingStatus* status_ = nullptr;
    WebServer* web_ = nullptr;
    QString failureText_;
    int32_t photoFailuresSeen_ = 0;
    int photoNoticeTicks_ = 0;  // ticks the photo failure stays on the line
};
