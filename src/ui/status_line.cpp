#include "ui/status_line.h"

#include <unistd.h>

#include <QSizePolicy>
#include <cstdio>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "ui/main_menu.h"
#include "ui/web_start_failure.h"
#include "web/web_server.h"

namespace {

constexpr int kPhotoNoticeTicks = 20;  // 5 s of 250 ms ticks
const QString kSeparator = QStringLiteral("  \u00B7  ");

QString SpaceText(int64_t bytes) {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    if (bytes >= static_cast<int64_t>(kGiB)) return QStringLiteral("%1 GiB").arg(bytes / kGiB, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
}

QString HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return QStringLiteral("127.0.0.1");
    return QString::fromUtf8(name);
}

}  // namespace

void ElidedLabel::SetWholeText(const QString& text) {
    if (text == whole_) return;
    whole_ = text;
    Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    const QString shown = fontMetrics().elidedText(whole_, Qt::ElideMiddle, contentsRect().width());
    if (shown != text()) setText(shown);
    const QString tip = shown == whole_ ? QString() : whole_;
    if (tip != toolTip()) setToolTip(tip);
}

StatusLine::StatusLine(Registry& registry, QWidget* parent)
    : QStatusBar(parent),
      registry_(registry),
      label_(new ElidedLabel(this)),
      web_(registry.Find<WebServer>("_CL_WWWServer")) {
    if (auto* recorder = registry.Find<AviRecorder>("_CL_AviRecorder")) status_ = &recorder->Status();
    setObjectName(QStringLiteral("statusLine"));
    setSizeGripEnabled(false);
    // Long texts never widen the window beyond the picture.
    label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(label_, 1);
}

QString StatusLine::Text(const char* key) const { return UiText(registry_, key); }

void StatusLine::Refresh(int32_t photoFailures) {
    QStringList parts;
    if (photoFailures != photoFailuresSeen_) {
        photoFailuresSeen_ = photoFailures;
        photoNoticeTicks_ = kPhotoNoticeTicks;
    }
    if (photoNoticeTicks_ > 0) {
        --photoNoticeTicks_;
        parts << Text("StatusPhotoNotTaken");
    }
    if (status_) {
        const RecordingStatus::Snapshot status = status_->Read();
        ReportFailureChange(status);
        parts << (failureText_.isEmpty() ? ActivityText(status) : failureText_);
        if (status.freeBytes >= 0) parts << Text("StatusFreeSpace").arg(SpaceText(status.freeBytes));
    }
    if (web_ && web_->Running())
        parts
            << Text("StatusWebServer").arg(QStringLiteral("http://%1:%2/").arg(HostName()).arg(web_->Port()));
    else if (web_ && web_->StartError() != 0)
        // A start at launch that failed is said here, where nobody asked for a message box.
        parts << web_start_failure::Text(registry_, web_->Port(), web_->StartError());
    const QString line = parts.join(kSeparator);
    label_->SetWholeText(line);
}

QString StatusLine::ActivityText(const RecordingStatus::Snapshot& status) {
    switch (status.idle) {
        case RecordingIdle::kModeOff:
            return Text("StatusRecordingOff");
        case RecordingIdle::kOutsideWindow:
            return Text("StatusOutsideWindow");
        case RecordingIdle::kWaitingForMotion:
            return Text("StatusWaitingForMotion");
        case RecordingIdle::kRecording:
            break;
    }
    if (status.fileName.empty()) return Text("StatusRecordingWaits");
    return Text("StatusRecording").arg(QString::fromUtf8(status.fileName.c_str())).arg(status.frames);
}

void StatusLine::ReportFailureChange(const RecordingStatus::Snapshot& status) {
    QString failure;
    if (status.active) {
        const QString folder = QString::fromUtf8(status.failureFolder.c_str());
        switch (status.failure) {
            case RecordingFailure::kNoSpace:
                failure = Text("StatusNoSpace").arg(folder);
                break;
            case RecordingFailure::kNotWritable:
                failure = Text("StatusNotWritable").arg(folder);
                break;
            case RecordingFailure::kWriteFailed:
                failure = Text("StatusWriteFailed").arg(folder);
                break;
            case RecordingFailure::kEncoderFailed:
                failure = Text("StatusEncoderFailed").arg(folder);
                break;
            case RecordingFailure::kNone:
                break;
        }
    }
    if (failure == failureText_) return;
    const bool cleared = failure.isEmpty();
    failureText_ = failure;
    if (!cleared)
        std::fprintf(stderr, "recording: %s\n", failure.toUtf8().constData());
    else
        std::fprintf(stderr, "recording: pictures are stored again\n");
}
