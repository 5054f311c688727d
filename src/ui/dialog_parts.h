#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "ui/main_menu.h"

// A field that takes whole numbers only.
inline QLineEdit* NumberEdit(QWidget* parent, const char* name, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    edit->setFixedWidth(width);
    return edit;
}

struct DialogButtons {
    QPushButton* accept;
    QPushButton* cancel;
};

// The accept button (the default) calls onAccept; cancel ends the dialog with 0.
template <typename Accept>
DialogButtons AcceptAndCancel(QDialog* dialog, Registry& registry, Accept onAccept) {
    auto* accept = new QPushButton(UiText(registry, "Accept"), dialog);
    accept->setObjectName("id1");
    accept->setDefault(true);
    auto* cancel = new QPushButton(UiText(registry, "Cancel"), dialog);
    cancel->setObjectName("id2");
    QObject::connect(accept, &QPushButton::clicked, dialog, onAccept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, [dialog] { dialog->done(0); });
    return {accept, cancel};
}
