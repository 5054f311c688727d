#include "ui/time_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>

#include "core/registry.h"
#include "ui/dialog_parts.h"
#include "ui/main_menu.h"

namespace {

QLineEdit* MakeField(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(2);
    edit->setFixedWidth(36);
    edit->setAlignment(Qt::AlignCenter);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    return edit;
}

}  // namespace

TimeDialog::TimeDialog(Registry& registry, QWidget* parent) : QDialog(parent), registry_(registry) {
    setObjectName("dlgtime");
    setWindowTitle(UiText(registry_, "TimerCaption"));

    prompt_ = new QLabel(this);
    prompt_->setObjectName("id103");
    QFont bold = prompt_->font();
    bold.setWeight(QFont::Bold);
    prompt_->setFont(bold);
    // The prompt stands out in the highlight colour on the button face.
    QPalette palette = prompt_->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    prompt_->setPalette(palette);
    prompt_->setAutoFillBackground(true);
    prompt_->setWordWrap(true);

    legend_ = new QLabel(UiText(registry_, "TimerFormat"), this);
    legend_->setObjectName("id104");
    legend_->setFont(bold);
    legend_->setAlignment(Qt::AlignCenter);

    hoursEdit_ = MakeField(this, "id112");
    minutesEdit_ = MakeField(this, "id113");
    secondsEdit_ = MakeField(this, "id114");
    connect(hoursEdit_, &QLineEdit::textChanged, this, [this] { hours_ = ClampField(hoursEdit_, 23); });
    connect(minutesEdit_, &QLineEdit::textChanged, this,
            [this] { minutes_ = ClampField(minutesEdit_, 59); });
    connect(secondsEdit_, &QLineEdit::textChanged, this,
            [this] { seconds_ = ClampField(secondsEdit_, 59); });

    const auto [accept, cancel] = AcceptAndCancel(this, registry_, [this] { OnAccept(); });

    auto* fields = new QHBoxLayout;
    fields->addStretch();
    fields->addWidget(hoursEdit_);
    fields->addWidget(new QLabel(":", this));
    fields->addWidget(minutesEdit_);
    fields->addWidget(new QLabel(":", this));
    fields->addWidget(secondsEdit_);
    fields->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(accept);
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addWidget(legend_);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setMinimumWidth(250);
}

int TimeDialog::ClampField(QLineEdit* edit, int max) {
    const int64_t value = ParseDecimal(edit->text().toUtf8().constData());
    if (value > max) {
        edit->setText(QString::number(max));
        return max;
    }
    return static_cast<int>(std::max<int64_t>(value, 0));
}

int TimeDialog::Run(int32_t& target, const QString& prompt) {
    target = std::clamp(target, 0, kLastSecondOfDay);
    target_ = &target;
    hours_ = target / 3600;
    minutes_ = (target % 3600) / 60;
    seconds_ = target % 60;
    prompt_->setText(prompt);
    hoursEdit_->setText(QString::asprintf("%02i", hours_));
    minutesEdit_->setText(QString::asprintf("%02i", minutes_));
    secondsEdit_->setText(QString::asprintf("%02i", seconds_));
    const int result = MainMenu::RunModal(*this);
    target_ = nullptr;
    return result == 1 ? 1 : 0;
}

void TimeDialog::OnAccept() {
    if (target_) *target_ = hours_ * 3600 + minutes_ * 60 + seconds_;
    done(1);
}
