#pragma once
// An application context in the fuzz target's own program folder, made once per process, with a
// scripted prompt that answers every box with its default.
#include "app/context.h"
#include "core/settings.h"
#include "platform/prompt.h"
#include "fuzz_support.h"

#include <QFileInfo>

namespace fuzz {

inline TScriptedPrompt& Prompt() {
    static TScriptedPrompt prompt;
    return prompt;
}

inline TAppContext& Context(int role) {
    static TAppContext* ctx = [] {
        const QString home = Home();
        auto* c = new TAppContext(home, home + "marrowline", Prompt());
        return c;
    }();
    ctx->settings.PutInt(MRL_Function, role);
    Prompt().boxes.clear();
    return *ctx;
}

// Files under a folder (recursively, hidden ones too), with their sizes: what a step may not
// touch outside the folders it owns.
inline QStringList Snapshot(const QString& folder, const QStringList& skip = {}) {
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        bool skipped = false;
        for (const QString& s : skip)
            if (path.startsWith(folder + s)) skipped = true;
        if (!skipped) out << path + ":" + QString::number(QFileInfo(path).size());
    }
    out.sort();
    return out;
}

// What one snapshot has that the other has not, for a failure message.
inline QString Difference(const QStringList& before, const QStringList& after) {
    QStringList out;
    for (const QString& s : before)
        if (!after.contains(s)) out << "- " + s;
    for (const QString& s : after)
        if (!before.contains(s)) out << "+ " + s;
    return out.join("\n  ");
}

} // namespace fuzz
