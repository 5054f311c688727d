#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <string>

#include "recording/recording_options.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class Registry;
class WatchOptionsBox;

// The window of RecordingOptions: edits the recording settings in a working
// copy that only Accept applies, changes threshold, time window and mode at
// once, and shows the detector and the timer at work while it is open.
class OptionsDialog final : public QDialog, public RecordingOptionsView {
    Q_OBJECT

public:
    // Result flags of Run.
    static constexpr int kAccepted = RecordingOptions::kAccepted;
    static constexpr int kSpeedChanged = RecordingOptions::kSpeedChanged;
    static constexpr int kModeChanged = RecordingOptions::kModeChanged;

    OptionsDialog(Registry& registry, RecordingOptions& options, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    // Modal run: 0 when cancelled, else 1 + 2 (speeds changed) + 4 (mode changed).
    int Run();

    // Live updates from SetLevel and Tick while the dialog exists.
    void HoldChanged(int32_t hold) override;
    void LevelChanged(int32_t level) override;
    void TimeOfDayChanged(int32_t secondsOfDay) override;
    void IndicatorChanged(Indicator which, int32_t state) override;

private:
    struct LimitEdit {
        QLineEdit* edit;
        int field;
    };

    // The dialog's groups in their order of creation: intervals, file limits,
    // detector, timer; then the mode row, the buttons and the watch box.
    void BuildControls();
    QGroupBox* BuildIntervalBox();
    QGroupBox* BuildReopenBox();
    QGroupBox* BuildDetectorBox();
    QGroupBox* BuildTimerBox();
    void LoadValues();
    void ReadEdit(const LimitEdit& limit);
    void OnThreshold(int position);
    void EditWindow(bool start);
    void OnAccept();

    Registry& registry_;
    RecordingOptions& options_;
    // "OptionLabelHold", "OptionLabelDetector", "OptionLabelSensitivity" at opening.
    std::string holdText_;
    std::string detectorText_;
    std::string sensitivityText_;
    std::array<LimitEdit, 5> limits_{};
    std::array<QCheckBox*, 3> enables_{};
    std::array<QLabel*, 3> indicators_{};
    QLabel* levelLabel_ = nullptr;
    QProgressBar* levelBar_ = nullptr;
    QSlider* threshold_ = nullptr;
    QLabel* holdLabel_ = nullptr;
    QLabel* sensitivityLabel_ = nullptr;
    QLabel* clock_ = nullptr;
    QLabel* windowStart_ = nullptr;
    QLabel* windowStop_ = nullptr;
    QComboBox* mode_ = nullptr;
    WatchOptionsBox* watch_ = nullptr;
    QCheckBox* lightGuard_ = nullptr;
};
