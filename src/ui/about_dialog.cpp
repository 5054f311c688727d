#include "ui/about_dialog.h"

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "core/registry.h"
#include "ui/link_label.h"
#include "ui/main_menu.h"
#include "web/web_server.h"

namespace {

QLabel* AddText(QDialog* dialog, const char* name, const QString& text, bool wrap) {
    auto* label = new QLabel(text, dialog);
    label->setObjectName(name);
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(Registry& registry) : registry_(registry) {}

int AboutDialog::Run(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName("dlgabout");
    dialog.setWindowTitle(UiText(registry_, "ProgrammName"));

    QLabel* features = AddText(&dialog, "id103", UiText(registry_, "AboutFeatures"), false);
    QLabel* memo3 = AddText(&dialog, "id104", UiMemo(registry_, 3), true);
    QLabel* memo4 = AddText(&dialog, "id107", UiMemo(registry_, 4), true);
    auto* link3 = new LinkLabel(&dialog);
    link3->setObjectName("id132");
    link3->setText(UiText(registry_, "LINK3"));
    QLabel* maker = AddText(&dialog, "id423", UiText(registry_, "CprData"), false);
    // The web page's link names the running server's own address and port
    // in place of the language file's example, and is left out while the
    // server does not run.
    auto* link2 = new LinkLabel(&dialog);
    link2->setObjectName("id424");
    const auto* web = registry_.Find<WebServer>("_CL_WWWServer");
    const bool webRunning = web && web->Running();
    const QString webPage =
        webRunning ? QString::fromStdString(WebServer::PageAddress(web->BindAddress(), web->Port())) : QString();
    QString link2Text = UiText(registry_, "LINK2");
    const QString example = UiLink(registry_, 2);
    if (!example.isEmpty()) link2Text.replace(example, webPage);
    link2->setText(link2Text);
    link2->setVisible(webRunning);
    auto* close = new QPushButton(UiText(registry_, "Close"), &dialog);
    close->setObjectName("id2");

    // Targets are read at the click, so they always match the loaded language.
    QObject::connect(link3, &LinkLabel::clicked, &dialog,
                     [this] { LinkLabel::OpenLink(UiLink(registry_, 3)); });
    QObject::connect(link2, &LinkLabel::clicked, &dialog, [webPage] { LinkLabel::OpenLink(webPage); });
    QObject::connect(close, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });

    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(features, 0, 0, 1, 3);
    layout->addWidget(memo3, 1, 0, 1, 3);
    layout->addWidget(memo4, 2, 0, 1, 3);
    layout->addWidget(link3, 3, 0, 1, 3);
    layout->addWidget(maker, 4, 0);
    layout->addWidget(link2, 4, 1);
    layout->addWidget(close, 4, 2, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    dialog.setMinimumWidth(460);

    MainMenu::RunModal(dialog);
    return 0;
}
