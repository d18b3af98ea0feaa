#pragma once
// Small helpers the windows share when they build their controls.
#include <QPushButton>
#include <QString>

// A push button with the designed control name, which Enter in a field of its window does not
// press (only the window's default button takes Enter).
inline QPushButton* NamedButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}
