#include "ui/watch_options_box.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <string>

#include "core/registry.h"
#include "recording/h264_file_encoder.h"
#include "recording/pre_record_ring.h"
#include "recording/recording_options.h"
#include "recording/recording_retention.h"
#include "ui/dialog_parts.h"
#include "ui/main_menu.h"

WatchOptionsBox::WatchOptionsBox(Registry& registry, RecordingOptions& options, QWidget* parent)
    : QGroupBox(UiText(registry, "WatchOptions"), parent), registry_(registry), options_(options) {
    setObjectName("WatchOptions");
    auto* grid = new QGridLayout(this);
    struct Row {
        QLineEdit** edit;
        const char* key;
        const char* label;
        const char* unit;
        int value;
        int min;
        int max;
        bool zeroMeansOff;
    };
    const Row rows[] = {
        {&preRecord_, "PreRecordSeconds", "Label1PreRecord", "Label2PreRecord", options_.PreRecordSetting(),
         0, PreRecordRing::kMaxSeconds, false},
        {&keepFree_, "KeepFreeMB", "Label1KeepFree", "Label2KeepFree",
         RecordingRetention::KeepFreeMB(registry_), RecordingRetention::kMinKeepFreeMB,
         RecordingRetention::kMaxKeepFreeMB, true},
        {&keepDays_, "KeepDays", "Label1KeepDays", "Label2KeepDays", RecordingRetention::KeepDays(registry_),
         1, RecordingRetention::kMaxKeepDays, true},
    };
    int line = 0;
    // The file format, and what the MP4 is made with (without an encoder, AVI is what gets recorded).
    format_ = new QComboBox(this);
    format_->setObjectName("RecordingFormat");
    format_->addItem(UiText(registry_, "RecordingFormatAvi"));
    format_->addItem(UiText(registry_, "RecordingFormatMp4"));
    format_->setCurrentIndex(options_.RecordingFormat());
    const auto* encoder = registry_.Find<H264FileEncoder>("_CL_H264Encoder");
    auto* encoderNote = new QLabel(encoder ? UiText(registry_, "RecordingFormatEncoder").arg(encoder->Name())
                                           : UiText(registry_, "RecordingFormatNoEncoder"),
                                   this);
    encoderNote->setObjectName("RecordingEncoder");
    encoderNote->setWordWrap(true);
    grid->addWidget(new QLabel(UiText(registry_, "LabelRecordingFormat"), this), line, 0);
    grid->addWidget(format_, line++, 1, 1, 2);
    grid->addWidget(encoderNote, line++, 0, 1, 3);
    for (const Row& row : rows) {
        QLineEdit* edit = NumberEdit(this, row.key, 72);
        *row.edit = edit;
        edit->setText(QString::number(row.value));
        connect(edit, &QLineEdit::editingFinished, this, [edit, row] {
            edit->setText(QString::number(ReadNumber(edit, row.min, row.max, row.zeroMeansOff)));
        });
        grid->addWidget(new QLabel(UiText(registry_, row.label), this), line, 0);
        grid->addWidget(edit, line, 1);
        grid->addWidget(new QLabel(UiText(registry_, row.unit), this), line, 2);
        ++line;
    }
    for (std::size_t i = 0; i < kCommandKeys.size(); ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(kCommandKeys[i]);
        edit->setMaxLength(static_cast<int>(Registry::kMaxValue));
        edit->setText(QString::fromUtf8(registry_.GetString(kCommandKeys[i]).c_str()));
        commands_[i] = edit;
        const std::string label = std::string("Label") + kCommandKeys[i];
        grid->addWidget(new QLabel(UiText(registry_, label.c_str()), this), line, 0);
        grid->addWidget(edit, line, 1, 1, 2);
        ++line;
    }
    grid->setColumnStretch(2, 1);
}

int WatchOptionsBox::ReadNumber(QLineEdit* edit, int min, int max, bool zeroMeansOff) {
    const int64_t typed = ParseDecimal(edit->text().toUtf8().constData());
    if (zeroMeansOff && typed == 0) return 0;
    if (typed < min) return min;
    if (typed > max) return max;
    return static_cast<int>(typed);
}

void WatchOptionsBox::Apply() {
    options_.SetRecordingFormat(format_->currentIndex());
    options_.SetPreRecordSeconds(ReadNumber(preRecord_, 0, PreRecordRing::kMaxSeconds, false));
    registry_.SetInt("KeepFreeMB", ReadNumber(keepFree_, RecordingRetention::kMinKeepFreeMB,
                                              RecordingRetention::kMaxKeepFreeMB, true));
    registry_.SetInt("KeepDays", ReadNumber(keepDays_, 1, RecordingRetention::kMaxKeepDays, true));
    for (std::size_t i = 0; i < kCommandKeys.size(); ++i)
        registry_.SetText(kCommandKeys[i], commands_[i]->text().trimmed().toUtf8().constData());
}
