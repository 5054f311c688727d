#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QLineEdit;
class Registry;

// Edits one time of day as hours, minutes and seconds. Made for one Run.
class TimeDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr int32_t kLastSecondOfDay = 86399;

    explicit TimeDialog(Registry& registry, QWidget* parent = nullptr);

    // Clamps target into 0..86399 (stored back), shows it and runs modally.
    // Returns 1 when accepted (target then holds the new time), 0 when cancelled.
    int Run(int32_t& target, const QString& prompt);

    int Hours() const { return hours_; }
    int Minutes() const { return minutes_; }
    int Seconds() const { return seconds_; }

private:
    // Reads a field (empty is 0), writes max back when it is above max.
    static int ClampField(QLineEdit* edit, int max);
    void OnAccept();

    Registry& registry_;
    QLabel* prompt_ = nullptr;
    QLabel* legend_ = nullptr;
    QLineEdit* hoursEdit_ = nullptr;
    QLineEdit* minutesEdit_ = nullptr;
    QLineEdit* secondsEdit_ = nullptr;
    int hours_ = 0;
    int minutes_ = 0;
    int seconds_ = 0;
    int32_t* target_ = nullptr;
};
