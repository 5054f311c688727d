#include "ui/web_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QUrl>

#include "core/registry.h"
#include "ui/link_label.h"
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

    const WebServer::Access access = server_.CurrentAccess();
    auto* userLabel = new QLabel(UiText(registry_, "WWWOptionsLabelUser"), &dialog);
    auto* user = new QLineEdit(QString::fromStdString(access.user), &dialog);
    user->setObjectName("wwwUser");
    // Basic authentication ends the user name at the first colon.
    user->setValidator(new QRegularExpressionValidator(QRegularExpression("[^:]*"), user));
    auto* passwordLabel = new QLabel(UiText(registry_, "WWWOptionsLabelPassword"), &dialog);
    auto* password = new QLineEdit(&dialog);
    password->setObjectName("wwwPassword");
    password->setEchoMode(QLineEdit::Password);
    if (access.hasPassword && access.passwordUsable)
        password->setPlaceholderText(UiText(registry_, "WWWOptionsPasswordKept"));
    // A stored password that cannot be used keeps the server closed until it is set again.
    QLabel* unusable = nullptr;
    if (!access.passwordUsable) {
        unusable = new QLabel(UiText(registry_, "WWWStartFailedPassword"), &dialog);
        unusable->setObjectName("wwwPasswordUnusable");
        unusable->setWordWrap(true);
    }
    auto* bindLabel = new QLabel(UiText(registry_, "WWWOptionsLabelBindAddress"), &dialog);
    auto* bind = new QLineEdit(QString::fromStdString(access.bindAddress), &dialog);
    bind->setObjectName("wwwBindAddress");
    auto* liveLabel = new QLabel(UiText(registry_, "WWWOptionsLivePage"), &dialog);
    auto* live = new LinkLabel(&dialog);
    live->setObjectName("wwwLivePage");
    auto showLive = [port, bind, live] {
        live->setText(QString::fromStdString(
            WebServer::LivePageAddress(bind->text().trimmed().toStdString(),
                                       WebServer::ValidatePort(port->text().toUtf8().constData()))));
    };
    showLive();
    QObject::connect(live, &LinkLabel::clicked, &dialog, [live] { LinkLabel::OpenUrl(QUrl(live->text())); });
    QObject::connect(bind, &QLineEdit::editingFinished, &dialog, showLive);

    QObject::connect(port, &QLineEdit::editingFinished, &dialog, [port, showLive] {
        ValidateField(port);
        showLive();
    });
    QObject::connect(start, &QCheckBox::clicked, &dialog,
                     [&startFlag](bool checked) { startFlag = checked ? 1 : 0; });
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
        const QByteArray userBytes = user->text().trimmed().toUtf8();
        const QByteArray passwordBytes = password->text().toUtf8();
        const char* refusal = nullptr;
        if (userBytes.size() >= static_cast<qsizetype>(WebAuth::kFieldSize) ||
            passwordBytes.size() >= static_cast<qsizetype>(WebAuth::kFieldSize))
            refusal = "WWWOptionsTooLong";
        else if (!userBytes.isEmpty() && passwordBytes.isEmpty() && !(access.hasPassword && access.passwordUsable))
            refusal = "WWWOptionsNoPassword";
        if (refusal) {
            QMessageBox box(QMessageBox::Warning, UiText(registry_, "WWWOptionsCaption"), UiText(registry_, refusal),
                            QMessageBox::Ok, &dialog);
            box.setObjectName(QStringLiteral("wwwAccessRefused"));
            MainMenu::RunModal(box);
            return;
        }
        ValidateField(port);
        wasRunning = server_.Running();
        server_.ApplyOptions(port->text().toUtf8().constData(), startFlag);
        if (!server_.ApplyAccess(user->text().trimmed().toUtf8().constData(),
                                 password->text().toUtf8().constData(),
                                 bind->text().trimmed().toUtf8().constData())) {
            QMessageBox::warning(&dialog, UiText(registry_, "WWWOptionsCaption"),
                                 UiText(registry_, "WWWOptionsPasswordFailed"));
        }
        dialog.done(1);
    });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });

    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(memo, 0, 0, 1, 4);
    layout->addWidget(portLabel, 1, 0);
    layout->addWidget(port, 1, 1);
    layout->addWidget(start, 2, 0, 1, 4);
    layout->addWidget(userLabel, 3, 0);
    layout->addWidget(user, 3, 1, 1, 3);
    layout->addWidget(passwordLabel, 4, 0);
    layout->addWidget(password, 4, 1, 1, 3);
    layout->addWidget(bindLabel, 5, 0);
    layout->addWidget(bind, 5, 1, 1, 3);
    layout->addWidget(liveLabel, 6, 0);
    layout->addWidget(live, 6, 1, 1, 3);
    if (unusable) layout->addWidget(unusable, 7, 0, 1, 4);
    layout->setRowMinimumHeight(7, 12);
    layout->addWidget(ok, 8, 0, 1, 2, Qt::AlignLeft);
    layout->addWidget(cancel, 8, 3, Qt::AlignRight);
    layout->setColumnStretch(2, 1);
    dialog.setMinimumWidth(340);

    const int result = MainMenu::RunModal(dialog) == 1 ? 1 : 0;
    // A running server that could not move to the new port says why once the dialog is gone.
    if (result == 1 && wasRunning) web_start_failure::ShowIfFailed(registry_, server_, parent);
    return result;
}
