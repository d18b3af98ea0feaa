#include "gui/notification.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmNotif::TfrmNotif(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmNotif"));
    setWindowTitle(QStringLiteral("Arrived"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* label = new QLabel(QStringLiteral("New file(s) have arrived!"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOk"));
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::hide);
    // 122 x 73, or larger where a large font needs it.
    setFixedSize(QSize(122, 73).expandedTo(sizeHint()));
}

void TfrmNotif::notify() {
    show();
    raise();
    // The default beep, then the exclamation beep: a desktop has one bell.
    QApplication::beep();
    QApplication::beep();
    mBeeps += 2;
}
