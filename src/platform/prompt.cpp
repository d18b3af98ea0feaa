#include "platform/prompt.h"

#include <cstdio>


TBoxResult DefaultAnswer(TBoxButtons buttons) {
    switch (buttons) {
    case TBoxButtons::Ok: return TBoxResult::Ok;
    case TBoxButtons::OkCancel:
    case TBoxButtons::Cancel: return TBoxResult::Cancel;
    case TBoxButtons::YesNo: return TBoxResult::No;
    }
    return TBoxResult::Cancel;
}

THeadlessPrompt::THeadlessPrompt(std::function<void(const QString&)> writer)
    : mWriter(std::move(writer)) {}

TBoxResult THeadlessPrompt::MessageBox(const QString& text, const QString& caption, TBoxIcon,
                                       TBoxButtons buttons) {
    if (mWriter) mWriter(caption.isEmpty() ? text : caption + ": " + text);
    return DefaultAnswer(buttons);
}

TBoxResult TScriptedPrompt::MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                                       TBoxButtons buttons) {
    boxes.append({text, caption, icon, buttons});
    return answers.isEmpty() ? DefaultAnswer(buttons) : answers.takeFirst();
}

QString TScriptedPrompt::OpenFile(const QString&, const QString&, const QString&) {
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString TScriptedPrompt::SaveFile(const QString&, const QString&, const QString&,
                                  const QString&) {
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString TScriptedPrompt::PickFolder(const QString&) {
    return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

QStringList TScriptedPrompt::texts() const {
    QStringList out;
    for (const Box& box : boxes) out << box.text;
    return out;
}
