#include "ui/web_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "core/registry.h"
#include "ui/main_menu.h"
#include "ui/web_start_failure.h"
#include "web/web_server.h"

namespace {

// Writes the held port back when the typed text differs from it.
void ValidateField(QLineEdit* edit) {
    const int32_t port = WebServer::ValidatePort(edit->text().toUtf8().constData());
    const QString shown = QString::number(port);
    if (edit->text() != shown) edit->setText(shown);
}

}  // namespace

WebDialog::WebDialog(Registry& registry, WebServer& server) : registry_(registry), server_(server) {}

int WebDialog::Run(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName("dlghttpserver");
    dialog.setWindowTitle(UiText(registry_, "WWWOptionsCaption"));

    const WebServer::Options options = server_.CurrentOptions();
    int32_t startFlag = options.startAfterLaunch != 0 ? 1 : 0;
    bool wasRunning = false;

    auto* memo = new QLabel(UiMemo(registry_, 7), &dialog);
    memo->setObjectName("id104");
    memo->setWordWrap(true);
    memo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    memo->setMinimumHeight(60);
    auto* portLabel = new QLabel(UiText(registry_, "WWWOptionsLabelPort"), &dialog);
    portLabel->setObjectName("id103");
    auto* port = new QLineEdit(QString::number(static_cast<uint32_t>(options.port)), &dialog);
    port->setObjectName("id112");
    port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), port));
    port->setFixedWidth(70);
    auto* start = new QCheckBox(UiText(registry_, "WWWOptionsStartAfterLaunch"), &dialog);
    start->setObjectName("id217");
    start->setChecked(startFlag != 0);
    auto* ok = new QPushButton(UiText(registry_, "Accept"), &dialog);
    ok->setObjectName("id1");
    ok->setDefault(true);
    auto* cancel = new QPushButton(UiText(registry_, "Cancel"), &dialog);
    cancel->setObjectName("id2");

    QObject::connect(port, &QLineEdit::editingFinished, &dialog, [port] { ValidateField(port); });
    QObject::connect(start, &QCheckBox::clicked, &dialog,
                     [&startFlag](bool checked) { startFlag = checked ? 1 : 0; });
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
        ValidateField(port);
        wasRunning = server_.Running();
        server_.ApplyOptions(port->text().toUtf8().constData(), startFlag);
        dialog.done(1);
    });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });

    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(memo, 0, 0, 1, 4);
    layout->addWidget(portLabel, 1, 0);
    layout->addWidget(port, 1, 1);
    layout->addWidget(start, 2, 0, 1, 4);
    layout->setRowMinimumHeight(3, 12);
    layout->addWidget(ok, 4, 0, 1, 2, Qt::AlignLeft);
    layout->addWidget(cancel, 4, 3, Qt::AlignRight);
    layout->setColumnStretch(2, 1);
    dialog.setMinimumWidth(340);

    const int result = MainMenu::RunModal(dialog) == 1 ? 1 : 0;
    // A running server that could not move to the new port says why once the dialog is gone.
    if (result == 1 && wasRunning) web_start_failure::ShowIfFailed(registry_, server_, parent);
    return result;
}
