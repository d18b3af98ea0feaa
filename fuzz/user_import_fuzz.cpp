// The server's user import ("/USERS:file", with or without "/EXCLUSIVE"): any file is read
// without harm; every account it names is kept, saved, and read back from disk exactly as it
// was imported (no two names may share a file); nothing outside the accounts folder changes.
#include "consoles/server_console.h"
#include "core/helpers.h"
#include "jobs/users.h"
#include "fuzz_context.h"

#include <QFile>
#include <QMap>

namespace {
QMap<QString, QStringList> accounts(TUsersList& list) {
    QMap<QString, QStringList> out;
    for (int i = 0; i < list.Count(); ++i) {
        const TMRLUser& u = *list.GetItem(i);
        const QString name = u[ukUser].StrValue;
        if (name.trimmed().isEmpty()) continue;
        FUZZ_CHECK(!out.contains(name), "two accounts named " + name);
        out[name] = {u[ukPassw].StrValue, u[ukInbox].StrValue, u[ukOutbox].StrValue,
                     QString::number(u[ukUseGlobalInbox].BoolValue),
                     QString::number(u[ukUseGlobalOutbox].BoolValue)};
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fuzz::App();
    TAppContext& ctx = fuzz::Context(2);
    static TfraServer* console = new TfraServer(ctx.ConsoleServices(nullptr));
    const QString home = fuzz::Home();
    fuzz::Reset(home + "USERS");
    ctx.Users().Clear();
    // An account from before: an exclusive import that does not name it removes it.
    TMRLUser old;
    ctx.Users().EmptyItem(old);
    old[ukUser].SetStr("OLDUSER");
    old[ukPassw].SetStr(ScramblePassword("old"));
    ctx.Users().AddItem();
    ctx.Users().SetItem(0, &old);
    FUZZ_CHECK(ctx.Users().Save(), "not saved");

    const QString file = home + "import.txt";
    {
        QFile out(file);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate), "not written");
        out.write(fuzz::Bytes(data + 1, size - 1));
    }
    const QStringList outside = fuzz::Snapshot(home, {"USERS", "marrowline.ini", ".xdg", "sessions.log"});

    const bool exclusive = data[0] & 1;
    ctx.params.entries = {"/USERS:" + file};
    if (exclusive) ctx.params.entries << "/EXCLUSIVE";
    console->ProcessParams();

    const QMap<QString, QStringList> imported = accounts(ctx.Users());
    if (!exclusive) FUZZ_CHECK(imported.contains("OLDUSER"), "an old account was dropped");
    TUsersList fresh(ctx.settings, ctx.status);
    fresh.Load();
    const QMap<QString, QStringList> stored = accounts(fresh);
    QString differs;
    for (auto it = imported.begin(); it != imported.end(); ++it)
        if (stored.value(it.key()) != it.value())
            differs += "\n  " + it.key().toUtf8().toPercentEncoding() + ": " +
                       it.value().join('|').toUtf8().toPercentEncoding() + " read back as " +
                       stored.value(it.key()).join('|').toUtf8().toPercentEncoding();
    FUZZ_CHECK(stored == imported, QString("%1 accounts imported, %2 read back")
                                           .arg(imported.size())
                                           .arg(stored.size()) +
                                       differs);
    const QStringList after = fuzz::Snapshot(home, {"USERS", "marrowline.ini", ".xdg", "sessions.log"});
    FUZZ_CHECK(after == outside, "files outside the accounts folder changed:\n  " +
                                     fuzz::Difference(outside, after));
    return 0;
}
