#pragma once
// The prompt of the desktop program: boxes and file choosers as Qt dialogs over the main window.
// A box that only tells (a single OK or Cancel button) is shown window-modally and returns at
// once, without a nested event loop: a box raised from an engine's event must not hold that
// event while the operator reads it. A question waits for its answer.
#include "platform/prompt.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>

class TDesktopPrompt : public IPrompt {
public:
    // `parent` gives the window that boxes belong to (may be null).
    explicit TDesktopPrompt(std::function<QWidget*()> parent = {});

    TBoxResult MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                          TBoxButtons buttons) override;
    QString OpenFile(const QString& title, const QString& filter,
                     const QString& initialFolder) override;
    QString SaveFile(const QString& title, const QString& filter,
                     const QString& defaultExtension, const QString& initialFolder) override;
    QString PickFolder(const QString& initialFolder) override;

    // A filter as the program writes it ("Name|patterns|Name|patterns", patterns separated by
    // ";") in Qt's form: each name followed by the patterns Qt is to match, in parentheses
    // ("Text files (*.txt) (*.txt)"). The file dialogs show the name alone. "*.*" stands for
    // every file, as it does where the filters come from; to Qt it would be only names with a
    // dot, so it matches as "*" ("All files (*.*) (*)").
    static QString QtFilter(const QString& filter);

private:
    // The window a box belongs to: the dialog open at the time, else the main window when shown.
    QWidget* parentWidget() const;
    // The main window when it is shown, else none.
    QWidget* behindDialogs() const;
    std::function<QWidget*()> mParent;
};
