#pragma once
// Every message box, file prompt and folder picker of the program goes through one interface:
// the desktop shows Qt dialogs, headless runs write the box as a status line and take the
// default answer, tests script the answers and read back every box that was shown.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

enum class TBoxIcon { None, Information, Warning, Error, Question };
enum class TBoxButtons { Ok, OkCancel, YesNo, Cancel };
enum class TBoxResult { Ok, Cancel, Yes, No };

class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual TBoxResult MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                                  TBoxButtons buttons) = 0;
    // An existing file to open; empty when cancelled.
    virtual QString OpenFile(const QString& title, const QString& filter,
                             const QString& initialFolder) = 0;
    // A file to write; empty when cancelled.
    virtual QString SaveFile(const QString& title, const QString& filter,
                             const QString& defaultExtension, const QString& initialFolder) = 0;
    // A folder; empty when cancelled.
    virtual QString PickFolder(const QString& initialFolder) = 0;
};

// The answer a box gets when nobody is there to answer it: OK, Cancel or No.
TBoxResult DefaultAnswer(TBoxButtons buttons);

// Writes each box as a line ("caption: text") through the given writer, takes the default answer,
// and cancels every file or folder prompt.
class THeadlessPrompt : public IPrompt {
public:
    explicit THeadlessPrompt(std::function<void(const QString&)> writer = {});
    TBoxResult MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                          TBoxButtons buttons) override;
    QString OpenFile(const QString&, const QString&, const QString&) override { return {}; }
    QString SaveFile(const QString&, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString PickFolder(const QString&) override { return {}; }

private:
    std::function<void(const QString&)> mWriter;
};

// Records every box and answers from queues filled by the test; an empty queue gives the default
// answer (boxes) or an empty text (file and folder prompts).
class TScriptedPrompt : public IPrompt {
public:
    struct Box {
        QString text;
        QString caption;
        TBoxIcon icon;
        TBoxButtons buttons;
    };
    QList<Box> boxes;
    QList<TBoxResult> answers;
    QStringList fileAnswers;
    QStringList folderAnswers;

    TBoxResult MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                          TBoxButtons buttons) override;
    QString OpenFile(const QString&, const QString&, const QString&) override;
    QString SaveFile(const QString&, const QString&, const QString&, const QString&) override;
    QString PickFolder(const QString&) override;
    // The texts of all boxes shown so far.
    QStringList texts() const;
};
