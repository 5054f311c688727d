#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "core/registry.h"
#include "core/save_request.h"
#include "recording/mjpeg_params.h"
#include "recording/recording_options.h"
#include "ui/dialog_parts.h"
#include "ui/main_menu.h"
#include "ui/time_dialog.h"
#include "ui/watch_options_box.h"

namespace {

// Width of the number fields.
constexpr int kNumberWidth = 64;

QString TimeText(int seconds) {
    return QString::asprintf("%02i:%02i:%02i", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
}

QString CountText(const std::string& label, int value) {
    return QString::asprintf("%s: %i", label.c_str(), value);
}

QLabel* NamedLabel(QWidget* parent, const char* name, const QString& text = QString()) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

}  // namespace

OptionsDialog::OptionsDialog(Registry& registry, RecordingOptions& options, QWidget* parent)
    : QDialog(parent), registry_(registry), options_(options) {
    setObjectName("dlgoptions");
    BuildControls();
    LoadValues();
    options_.SetView(this);
}

OptionsDialog::~OptionsDialog() { options_.SetView(nullptr); }

void OptionsDialog::BuildControls() {
    setWindowTitle(UiText(registry_, "CaptionOptionsRec"));
    QGroupBox* interval = BuildIntervalBox();
    QGroupBox* reopen = BuildReopenBox();
    for (const LimitEdit& limit : limits_) {
        connect(limit.edit, &QLineEdit::editingFinished, this, [this, limit] { ReadEdit(limit); });
    }
    QGroupBox* detector = BuildDetectorBox();
    QGroupBox* timer = BuildTimerBox();

    auto* modeTitle = NamedLabel(this, "id300", UiText(registry_, "ModeActivationTitle"));
    indicators_[2] = NamedLabel(this, "id127");
    mode_ = new QComboBox(this);
    mode_->setObjectName("id215");
    for (QLabel* indicator : indicators_) indicator->setFixedSize(12, 12);

    const auto [accept, cancel] = AcceptAndCancel(this, registry_, [this] { OnAccept(); });

    auto* left = new QVBoxLayout;
    left->addWidget(interval);
    left->addWidget(reopen);
    auto* right = new QVBoxLayout;
    right->addWidget(detector);
    right->addWidget(timer);
    auto* groups = new QHBoxLayout;
    groups->addLayout(left);
    groups->addLayout(right);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(indicators_[2]);
    modeRow->addWidget(mode_, 1);
    modeRow->addWidget(accept);
    modeRow->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    watch_ = new WatchOptionsBox(registry_, options_, this);
    layout->addWidget(watch_);
    layout->addWidget(modeTitle);
    layout->addLayout(modeRow);
}

QGroupBox* OptionsDialog::BuildIntervalBox() {
    auto* interval = new QGroupBox(UiText(registry_, "IntervalSetting"), this);
    interval->setObjectName("id412");
    auto* intervalGrid = new QGridLayout(interval);
    limits_[0] = {NumberEdit(interval, "id410", kNumberWidth), kMjpegSpeedRec};
    limits_[1] = {NumberEdit(interval, "id411", kNumberWidth), kMjpegSpeedPlay};
    intervalGrid->addWidget(NamedLabel(interval, "id419", UiText(registry_, "Label1SpeedRec")), 0, 0);
    intervalGrid->addWidget(limits_[0].edit, 0, 1);
    intervalGrid->addWidget(NamedLabel(interval, "id420", UiText(registry_, "Label2SpeedRec")), 0, 2);
    intervalGrid->addWidget(NamedLabel(interval, "id421", UiText(registry_, "Label1SpeedPlay")), 1, 0);
    intervalGrid->addWidget(limits_[1].edit, 1, 1);
    intervalGrid->addWidget(NamedLabel(interval, "id422", UiText(registry_, "Label2SpeedPlay")), 1, 2);
    return interval;
}

QGroupBox* OptionsDialog::BuildReopenBox() {
    auto* reopen = new QGroupBox(UiText(registry_, "ReopenFileIf"), this);
    reopen->setObjectName("id413");
    auto* reopenGrid = new QGridLayout(reopen);
    static const struct {
        const char* check;
        const char* edit;
        const char* unit;
        const char* checkKey;
        const char* unitKey;
        int field;
        int enableField;
    } kLimits[] = {
        {"id403", "id406", "id414", "Label1MaxSize", "Label2MaxSize", kMjpegFileMaxSize, kMjpegEnableFileMaxSize},
        {"id404", "id407", "id415", "Label1MaxFrame", "Label2MaxFrame", kMjpegFileMaxPages,
         kMjpegEnableFileMaxPages},
        {"id405", "id408", "id416", "Label1MaxTime", "Label2MaxTime", kMjpegFileMaxTime, kMjpegEnableFileMaxTime},
    };
    for (int i = 0; i < 3; ++i) {
        auto* check = new QCheckBox(UiText(registry_, kLimits[i].checkKey), reopen);
        check->setObjectName(kLimits[i].check);
        enables_[i] = check;
        const int enableField = kLimits[i].enableField;
        connect(check, &QCheckBox::clicked, this,
                [this, enableField](bool checked) { options_.SetWorking(enableField, checked ? 1 : 0); });
        limits_[2 + i] = {NumberEdit(reopen, kLimits[i].edit, kNumberWidth), kLimits[i].field};
        reopenGrid->addWidget(check, i, 0);
        reopenGrid->addWidget(limits_[2 + i].edit, i, 1);
        reopenGrid->addWidget(NamedLabel(reopen, kLimits[i].unit, UiText(registry_, kLimits[i].unitKey)), i, 2);
    }
    return reopen;
}

QGroupBox* OptionsDialog::BuildDetectorBox() {
    auto* detector = new QGroupBox(UiText(registry_, "Detector"), this);
    detector->setObjectName("id302");
    auto* detectorGrid = new QGridLayout(detector);
    indicators_[0] = NamedLabel(detector, "id125");
    levelLabel_ = NamedLabel(detector, "id401");
    levelBar_ = new QProgressBar(detector);
    levelBar_->setObjectName("id216");
    levelBar_->setRange(0, 100);
    levelBar_->setTextVisible(false);
    threshold_ = new QSlider(Qt::Horizontal, detector);
    threshold_->setObjectName("id214");
    threshold_->setRange(0, 100);
    threshold_->setPageStep(10);
    holdLabel_ = NamedLabel(detector, "id400");
    sensitivityLabel_ = NamedLabel(detector, "id402");
    detectorGrid->addWidget(indicators_[0], 0, 0);
    detectorGrid->addWidget(levelLabel_, 0, 1);
    detectorGrid->addWidget(holdLabel_, 0, 2);
    detectorGrid->addWidget(levelBar_, 1, 0, 1, 3);
    detectorGrid->addWidget(threshold_, 2, 0, 1, 3);
    detectorGrid->addWidget(sensitivityLabel_, 3, 0, 1, 3);
    connect(threshold_, &QSlider::valueChanged, this, &OptionsDialog::OnThreshold);
    // Takes effect at once, as the threshold does.
    lightGuard_ = new QCheckBox(UiText(registry_, "OptionLightGuard"), detector);
    lightGuard_->setObjectName("lightGuard");
    detectorGrid->addWidget(lightGuard_, 4, 0, 1, 3);
    connect(lightGuard_, &QCheckBox::clicked, this,
            [this](bool checked) { options_.Guard().SetEnabled(checked); });
    return detector;
}

QGroupBox* OptionsDialog::BuildTimerBox() {
    auto* timer = new QGroupBox(UiText(registry_, "Timer"), this);
    timer->setObjectName("id301");
    auto* timerGrid = new QGridLayout(timer);
    indicators_[1] = NamedLabel(timer, "id126");
    clock_ = NamedLabel(timer, "id118");
    windowStart_ = NamedLabel(timer, "id119");
    windowStop_ = NamedLabel(timer, "id120");
    auto* editStart = new QPushButton("...", timer);
    editStart->setObjectName("id202");
    auto* editStop = new QPushButton("...", timer);
    editStop->setObjectName("id203");
    editStart->setFixedWidth(32);
    editStop->setFixedWidth(32);
    timerGrid->addWidget(indicators_[1], 0, 0);
    timerGrid->addWidget(clock_, 0, 1, 1, 2);
    timerGrid->addWidget(NamedLabel(timer, "id121", UiText(registry_, "Start")), 1, 0);
    timerGrid->addWidget(windowStart_, 1, 1);
    timerGrid->addWidget(editStart, 1, 2);
    timerGrid->addWidget(NamedLabel(timer, "id122", UiText(registry_, "Stop")), 2, 0);
    timerGrid->addWidget(windowStop_, 2, 1);
    timerGrid->addWidget(editStop, 2, 2);
    connect(editStart, &QPushButton::clicked, this, [this] { EditWindow(true); });
    connect(editStop, &QPushButton::clicked, this, [this] { EditWindow(false); });
    return timer;
}

void OptionsDialog::LoadValues() {
    options_.OpenDialog();
    for (const LimitEdit& limit : limits_) {
        limit.edit->setText(QString::number(static_cast<uint32_t>(options_.Working(limit.field))));
    }
    enables_[0]->setChecked(options_.Working(kMjpegEnableFileMaxSize) != 0);
    enables_[1]->setChecked(options_.Working(kMjpegEnableFileMaxPages) != 0);
    enables_[2]->setChecked(options_.Working(kMjpegEnableFileMaxTime) != 0);

    {
        const QSignalBlocker quiet(threshold_);
        threshold_->setValue(options_.Threshold());
    }
    lightGuard_->setChecked(options_.Guard().Enabled());
    holdText_ = UiText(registry_, "OptionLabelHold").toStdString();
    detectorText_ = UiText(registry_, "OptionLabelDetector").toStdString();
    sensitivityText_ = UiText(registry_, "OptionLabelSensitivity").toStdString();
    sensitivityLabel_->setText(CountText(sensitivityText_, options_.Threshold()));
    holdLabel_->setText(CountText(holdText_, options_.Hold()));
    levelLabel_->setText(CountText(detectorText_, options_.Level()));
    levelBar_->setValue(std::clamp(options_.Level(), 0, 100));
    clock_->setText(TimeText(options_.TimeOfDay()));
    windowStart_->setText(TimeText(options_.WindowStart()));
    windowStop_->setText(TimeText(options_.WindowStop()));

    static const char* const kModeNames[] = {"ModeActivationNo",         "ModeActivationYes",
                                             "ModeActivationGo",         "ModeActivationTimer",
                                             "ModeActivationTimerAndGo", "ModeActivationTimerOrGo"};
    {
        const QSignalBlocker quiet(mode_);
        mode_->clear();
        for (const char* key : kModeNames) mode_->addItem(UiText(registry_, key));
        const int mode = options_.Mode();
        mode_->setCurrentIndex(mode >= 0 && mode < 6 ? mode : -1);
    }
    connect(mode_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) options_.SetMode(index);
    });

    for (int i = 0; i < 3; ++i) {
        const auto which = static_cast<Indicator>(i);
        IndicatorChanged(which, options_.IndicatorState(which));
    }
}

void OptionsDialog::ReadEdit(const LimitEdit& limit) {
    const int64_t typed = ParseDecimal(limit.edit->text().toUtf8().constData());
    const int32_t kept = options_.SetWorking(limit.field, typed);
    if (kept != typed || limit.edit->text().isEmpty()) limit.edit->setText(QString::number(kept));
}

void OptionsDialog::OnThreshold(int position) {
    options_.SetThreshold(position);
    sensitivityLabel_->setText(CountText(sensitivityText_, options_.Threshold()));
}

void OptionsDialog::EditWindow(bool start) {
    int32_t value = start ? options_.WindowStart() : options_.WindowStop();
    TimeDialog time(registry_, this);
    const QString prompt = UiText(registry_, start ? "TimerCaptionStart" : "TimerCaptionStop");
    if (time.Run(value, prompt) != 1) return;
    if (start) {
        options_.SetWindowStart(value);
        windowStart_->setText(TimeText(options_.WindowStart()));
    } else {
        options_.SetWindowStop(value);
        windowStop_->setText(TimeText(options_.WindowStop()));
    }
}

void OptionsDialog::OnAccept() {
    // An edit still holding the focus has not been read yet.
    for (const LimitEdit& limit : limits_) ReadEdit(limit);
    const int result = options_.AcceptWorkingCopy();
    watch_->Apply();
    SaveRequest::SaveNowFor(registry_);
    done(result);
}

int OptionsDialog::Run() { return MainMenu::RunModal(*this); }

void OptionsDialog::HoldChanged(int32_t hold) { holdLabel_->setText(CountText(holdText_, hold)); }

void OptionsDialog::LevelChanged(int32_t level) {
    // Level display only while shown, as it changes with every picture.
    if (!isVisible()) return;
    levelBar_->setValue(std::clamp(level, 0, 100));
    levelLabel_->setText(CountText(detectorText_, level));
}

void OptionsDialog::TimeOfDayChanged(int32_t secondsOfDay) { clock_->setText(TimeText(secondsOfDay)); }

void OptionsDialog::IndicatorChanged(Indicator which, int32_t state) {
    if (which < 0 || which > 2) return;
    QLabel* indicator = indicators_[which];
    // The window registers its three status pictures as an array of QPixmap.
    const auto* images = registry_.Find<const QPixmap>("_HBITMAPIMAGESTATE");
    if (!images || state < 0 || state > 2) {
        indicator->clear();
        return;
    }
    indicator->setPixmap(images[state]);
}
