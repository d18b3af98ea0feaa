#pragma once
// Small helpers the windows share when they build their controls.
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QString>
#include <limits>

// A push button with its control's name (btOk, btStart) as object name. Enter presses it while it
// has the focus (as Space does), also outside a dialog; Enter in any other control of a dialog
// presses the dialog's default button (OK).
inline QPushButton* NamedButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(true);
    return button;
}

// Makes `edit` a password field: it hides what is typed and takes a typed or pasted password
// whole, however long (a line edit cuts at 32767 characters unless told otherwise). The dialog's
// checks say when a password is too long; a field never cuts one without a word.
inline void MakePasswordField(QLineEdit* edit) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(std::numeric_limits<int>::max());
}

// Puts the controls of `container`, in their order, right after `after` in the Tab order. A
// control joins the Tab order when it joins its window: a page made after the controls below
// it would otherwise be reached last.
inline void TabThroughAfter(QWidget* after, QWidget* container) {
    QList<QWidget*> controls;
    QWidget* window = container->window();
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if (container->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            controls << w;
    for (QWidget* w : controls) {
        QWidget::setTabOrder(after, w);
        after = w;
    }
}
