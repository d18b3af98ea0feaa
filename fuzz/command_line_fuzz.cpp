// The command line, as a first start's parameters or a second start's hand-over text: split,
// shown, applied (roles, folders, help) and handed to the console of the role, which queues
// jobs, imports users, clears or starts. Any text is handled without harm, and a job's password
// is never shown in the status trail. A "/PASSFILE:-" among the parameters is answered from the
// input too (its first line is the password), as a start does before it hands over; the password
// must then stand where the job's grammar has it.
//
// Folder switches create the folders they name, so this target runs only where everything but
// its own program folder is read-only (fuzz/run.sh arranges that).
#include "app/cmdline.h"
#include "consoles/client_console.h"
#include "consoles/server_console.h"
#include "core/command_line.h"
#include "fuzz_context.h"

#include <QDir>
#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fuzz::App();
    const int role = 1 + (data[0] & 1);
    TAppContext& ctx = fuzz::Context(role);
    static TfraClient* client = new TfraClient(ctx.ConsoleServices(nullptr));
    static TfraServer* server = new TfraServer(ctx.ConsoleServices(nullptr));
    const QString home = fuzz::Home();
    QDir(home).mkpath("OUTBOX");
    ctx.settings.PutStr(MRL_Inbox, home + "INBOX");
    ctx.settings.PutStr(MRL_Outbox, home + "OUTBOX");
    client->SessionText()->Clear();
    server->SessionText()->Clear();

    QString text = QString::fromUtf8(fuzz::Bytes(data + 1, size - 1));
    if (text.contains(QString::fromLatin1(PasswordFileSwitch), Qt::CaseInsensitive)) {
        QStringList params = text.split(QString::fromLatin1(ParamSeparator));
        params.removeLast(); // text after the last separator is no parameter
        static const QRegularExpression fromInput(QStringLiteral("^\\s*/PASSFILE:\\s*-\\s*$"),
                                                  QRegularExpression::CaseInsensitiveOption);
        const bool piped = params.filter(fromInput).size() == 1;
        const QByteArray line = text.section('\n', 0, 0).toUtf8();
        QString error;
        if (TakePasswordFile(
                params, [&] { return line; }, error)) {
            const qsizetype at = PasswordPosition(params, false);
            FUZZ_CHECK(!piped || at < 0 ||
                           params[at].trimmed() == QString::fromUtf8(line).trimmed(),
                       "password not in its place: " + params.join('|'));
            text = HandOverText(params);
        }
    }
    ProcessParams(ctx, nullptr, text);
    const int now = ctx.settings.GetInt(MRL_Function);
    if (now == 1) client->ProcessParams();
    if (now == 2) server->ProcessParams();
    fuzz::RunUntil([] { return false; }, 0);

    // The password the trail must not show: the one the parser masks, when it is a word of its
    // own (not also another parameter, and not a text every line holds anyway).
    QStringList tokens;
    const QString separator = QString::fromLatin1(ParamSeparator);
    for (qsizetype from = 0, at; (at = text.indexOf(separator, from)) >= 0;
         from = at + separator.size())
        tokens << text.mid(from, at - from).trimmed();
    const bool serverRole = role == 2 && !tokens.contains("/CLIENT", Qt::CaseInsensitive);
    const qsizetype at = PasswordPosition(tokens, serverRole);
    if (at >= 0 && tokens.count(tokens[at]) == 1 && tokens[at].size() >= 6) {
        const QString shown = QStringLiteral("CmdParam:> ");
        for (const QString& line : client->SessionText()->Lines() + server->SessionText()->Lines()) {
            const qsizetype from = line.indexOf(shown);
            FUZZ_CHECK(from < 0 || line.mid(from + shown.size()) != tokens[at],
                       "password shown: " + line);
        }
    }

    // Back to a known state for the next input.
    while (ctx.queue->Count() > 0)
        if (!ctx.queue->DeleteItem(0, true)) break;
    ctx.params.entries.clear();
    ctx.params.stopRequested = false;
    return 0;
}
