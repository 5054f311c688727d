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

// The port and the start-after-launch flag.
struct ServerFields {
    ServerFields(Registry& registry, const WebServer::Options& options, QDialog& dialog) {
        startFlag = options.startAfterLaunch != 0 ? 1 : 0;
        label = new QLabel(UiText(registry, "WWWOptionsLabelPort"), &dialog);
        label->setObjectName("id103");
        port = new QLineEdit(QString::number(static_cast<uint32_t>(options.port)), &dialog);
        port->setObjectName("id112");
        port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), port));
        port->setFixedWidth(70);
        start = new QCheckBox(UiText(registry, "WWWOptionsStartAfterLaunch"), &dialog);
        start->setObjectName("id217");
        start->setChecked(startFlag != 0);
        QObject::connect(start, &QCheckBox::clicked, &dialog,
                         [this](bool checked) { startFlag = checked ? 1 : 0; });
    }
    void Apply(WebServer& server) {
        ValidateField(port);
        server.ApplyOptions(port->text().toUtf8().constData(), startFlag);
    }

    QLabel* label;
    QLineEdit* port;
    QCheckBox* start;
    int32_t startFlag;
};

// Who may look (user and password), where the server listens, and the live
// page's address, which follows the port and the bind address as they are typed.
struct AccessFields {
    AccessFields(Registry& registry, const WebServer::Access& access, QLineEdit* port, QDialog& dialog) {
        userLabel = new QLabel(UiText(registry, "WWWOptionsLabelUser"), &dialog);
        user = new QLineEdit(QString::fromStdString(access.user), &dialog);
        user->setObjectName("wwwUser");
        // Basic authentication ends the user name at the first colon.
        user->setValidator(new QRegularExpressionValidator(QRegularExpression("[^:]*"), user));
        passwordLabel = new QLabel(UiText(registry, "WWWOptionsLabelPassword"), &dialog);
        password = new QLineEdit(&dialog);
        password->setObjectName("wwwPassword");
        password->setEchoMode(QLineEdit::Password);
        if (access.hasPassword) password->setPlaceholderText(UiText(registry, "WWWOptionsPasswordKept"));
        bindLabel = new QLabel(UiText(registry, "WWWOptionsLabelBindAddress"), &dialog);
        bind = new QLineEdit(QString::fromStdString(access.bindAddress), &dialog);
        bind->setObjectName("wwwBindAddress");
        liveLabel = new QLabel(UiText(registry, "WWWOptionsLivePage"), &dialog);
        live = new LinkLabel(&dialog);
        live->setObjectName("wwwLivePage");
        auto showLive = [port, bind = bind, live = live] {
            live->setText(QString::fromStdString(
                WebServer::LivePageAddress(bind->text().trimmed().toStdString(),
                                           WebServer::ValidatePort(port->text().toUtf8().constData()))));
        };
        showLive();
        QObject::connect(live, &LinkLabel::clicked, &dialog,
                         [live = live] { LinkLabel::OpenUrl(QUrl(live->text())); });
        QObject::connect(bind, &QLineEdit::editingFinished, &dialog, showLive);
        QObject::connect(port, &QLineEdit::editingFinished, &dialog, [port, showLive] {
            ValidateField(port);
            showLive();
        });
    }
    // False when the password could not be stored.
    bool Apply(WebServer& server) {
        return server.ApplyAccess(user->text().trimmed().toUtf8().constData(),
                                  password->text().toUtf8().constData(),
                                  bind->text().trimmed().toUtf8().constData());
    }

    QLabel* userLabel;
    QLineEdit* user;
    QLabel* passwordLabel;
    QLineEdit* password;
    QLabel* bindLabel;
    QLineEdit* bind;
    QLabel* liveLabel;
    LinkLabel* live;
};

}  // namespace

WebDialog::WebDialog(Registry& registry, WebServer& server) : registry_(registry), server_(server) {}

int WebDialog::Run(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName("dlghttpserver");
    dialog.setWindowTitle(UiText(registry_, "WWWOptionsCaption"));
    auto* memo = new QLabel(UiMemo(registry_, 7), &dialog);
    memo->setObjectName("id104");
    memo->setWordWrap(true);
    memo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    memo->setMinimumHeight(60);
    ServerFields server(registry_, server_.CurrentOptions(), dialog);
    auto* ok = new QPushButton(UiText(registry_, "Accept"), &dialog);
    ok->setObjectName("id1");
    ok->setDefault(true);
    auto* cancel = new QPushButton(UiText(registry_, "Cancel"), &dialog);
    cancel->setObjectName("id2");
    AccessFields access(registry_, server_.CurrentAccess(), server.port, dialog);

    bool wasRunning = false;
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
        wasRunning = server_.Running();
        server.Apply(server_);
        if (!access.Apply(server_)) {
            QMessageBox::warning(&dialog, UiText(registry_, "WWWOptionsCaption"),
                                 UiText(registry_, "WWWOptionsPasswordFailed"));
        }
        dialog.done(1);
    });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });

    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(memo, 0, 0, 1, 4);
    layout->addWidget(server.label, 1, 0);
    layout->addWidget(server.port, 1, 1);
    layout->addWidget(server.start, 2, 0, 1, 4);
    layout->addWidget(access.userLabel, 3, 0);
    layout->addWidget(access.user, 3, 1, 1, 3);
    layout->addWidget(access.passwordLabel, 4, 0);
    layout->addWidget(access.password, 4, 1, 1, 3);
    layout->addWidget(access.bindLabel, 5, 0);
    layout->addWidget(access.bind, 5, 1, 1, 3);
    layout->addWidget(access.liveLabel, 6, 0);
    layout->addWidget(access.live, 6, 1, 1, 3);
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
