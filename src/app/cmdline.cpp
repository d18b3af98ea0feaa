#include "app/cmdline.h"

#include "app/shell.h"
#include "core/settings.h"
#include "core/status.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>

#include <sys/stat.h>

namespace {
// "/INBOX:" and "/OUTBOX:": the folder must be absolute (a relative one would depend on the
// working folder of whichever process gave it), fit the 255-byte setting without being cut, and
// exist or be creatable.
bool applyFolderSwitch(TAppContext& ctx, const QString& entry, const QString& prefix,
                       TSettingKey key, const QString& changed) {
    if (!entry.startsWith(prefix)) return false;
    const QString path = PathCase(entry.mid(prefix.size())).trimmed();
    const bool usable =
        !path.isEmpty() && QDir::isAbsolutePath(path) && Cut255(path) == path &&
        (QFileInfo(path).isDir() || (QDir().mkpath(path) && QFileInfo(path).isDir()));
    if (usable) {
        ctx.settings.PutStr(key, path);
        ctx.settings.Save(ctx.prompt, ctx.status);
        ctx.status.Add(changed);
    } else {
        ctx.status.Add("Error - specified path cannot be created: " + path);
    }
    return true;
}

// /CLIENT or /SERVER: an installation that already has the role just drops the switch; one that
// had the other role ends, and comes up in the new role next time (it is saved at shutdown).
void applyRoleSwitch(TAppContext& ctx, TMainShell* shell, const QString& entry, TRole role) {
    if (ctx.settings.GetInt(MRL_Function) == role) {
        ctx.params.entries.removeAll(entry);
        return;
    }
    const TRole other = role == RoleClient ? RoleServer : RoleClient;
    const bool hadOtherRole = ctx.settings.GetInt(MRL_Function) == other;
    ctx.settings.PutInt(MRL_Function, role);
    if (hadOtherRole && shell) shell->CloseApplication(false);
}
} // namespace

void ProcessParams(TAppContext& ctx, TMainShell* shell, const QString& text) {
    try {
        // 1. and 2.: one entry per terminated parameter; text after the last "|||" is dropped.
        ctx.params.entries.clear();
        const QString separator = QString::fromLatin1(ParamSeparator);
        QStringList tokens;
        qsizetype from = 0;
        for (qsizetype at; (at = text.indexOf(separator, from)) >= 0;
             from = at + separator.size())
            tokens << text.mid(from, at - from).trimmed();
        // A job's password is shown masked, as the server shows a log-on.
        const bool server = ctx.settings.IsServer() && !tokens.contains("/CLIENT", Qt::CaseInsensitive);
        const qsizetype password = PasswordPosition(tokens, server);
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString& token = tokens[i];
            if (IsSwitch(token))
                ctx.params.entries << SwitchCase(token);
            else if (!token.isEmpty())
                ctx.params.entries << token;
            ctx.status.Add("CmdParam:> " +
                      (i == password ? QString::fromLatin1(MaskedPassword) : token));
        }

        // 3. Role and help: only the first rule that applies.
        if (ctx.params.entries.contains("/CLIENT")) {
            applyRoleSwitch(ctx, shell, "/CLIENT", RoleClient);
        } else if (ctx.params.entries.contains("/SERVER")) {
            applyRoleSwitch(ctx, shell, "/SERVER", RoleServer);
        } else if (ctx.params.entries.contains("/HELP")) {
            ctx.params.entries.removeAll("/HELP");
            ShowCommandLineHelp(ctx.prompt);
        }

        // 4. Folders; the entries stay for the console (the server acts on them again).
        const QStringList entries = ctx.params.entries;
        for (const QString& entry : entries) {
            if (!applyFolderSwitch(ctx, entry, "/INBOX:", MRL_Inbox, "Inbox changed."))
                applyFolderSwitch(ctx, entry, "/OUTBOX:", MRL_Outbox, "Outbox changed.");
        }

        // 5. Hand the list to the console whose page is shown. At a first start the page is not
        // selected yet; the console then takes the list during its own initialisation.
        const TRole role = ctx.settings.Role();
        if (shell && role != RoleNone && shell->Page() == PageOf(role)) {
            if (IConsole* console = shell->Console(role)) console->ProcessParams();
        }
        if (!ctx.settings.IsClient() && !ctx.settings.IsServer()) ctx.params.entries.clear();
    } catch (const std::exception& e) {
        ctx.status.Add(QStringLiteral("!ProcessParams(): ") + QString::fromLocal8Bit(e.what()));
    }
}

QStringList CommandLineHelpLines() {
    const QString app = QString::fromLatin1(ApplicationTitle);
    return {
        "To display help:",
        app + " /HELP",
        "",
        "Optional flags (server and client):",
        "/CLIENT - Use " + app + " as client",
        "/SERVER - Use " + app + " as server",
        "",
        "To queue a job in " + app + " client:",
        app + " file_name user_name password server [results_file] [/AUTODEL]",
        "",
        "To queue a job in " + app + " server:",
        app + " file_name user_name [/AUTODEL]",
        "",
        "/CLEAR - Clear the log file",
        "",
        "/START - Auto start communications",
        "/STOP - Auto stop communications",
        "",
        "/USERS:filename - Import user information",
        "/EXCLUSIVE - Delete users not found in import file",
        // A password out of every process list.
        "",
        "/PASSFILE:file - Instead of the password: read it from a file only you can read",
        "/PASSFILE:- - Instead of the password: read it from standard input",
    };
}

void ShowCommandLineHelp(IPrompt& prompt) {
    const QString caption = QString::fromLatin1(ApplicationTitle) + ' ' +
                            QString::fromLatin1(ProgramVersion) + " Command Line Arguments";
    prompt.MessageBox(CommandLineHelpLines().join('\n'), caption, TBoxIcon::Information,
                      TBoxButtons::Ok);
}


void ProcessCommandLine(TAppContext& ctx, TMainShell* shell, const QStringList& params) {
    ProcessParams(ctx, shell, HandOverText(params));
}

bool TakePasswordFile(QStringList& params, const std::function<QByteArray()>& readInput,
                      QString& error) {
    const QString prefix = QString::fromLatin1(PasswordFileSwitch);
    qsizetype at = -1;
    for (qsizetype i = 0; i < params.size(); ++i) {
        if (!params[i].trimmed().startsWith(prefix, Qt::CaseInsensitive)) continue;
        if (at >= 0) {
            error = prefix + QStringLiteral(" is given twice.");
            return false;
        }
        at = i;
    }
    if (at < 0) return true;
    const QString source = params[at].trimmed().mid(prefix.size()).trimmed();
    QStringList rest = params;
    rest.removeAt(at);
    // The password goes third, after the file and the user names.
    qsizetype insertAt = -1;
    for (qsizetype i = 0, named = 0; i < rest.size(); ++i) {
        if (rest[i].trimmed().isEmpty()) continue;
        if (named == 0 && IsSwitch(rest[i].trimmed())) break;
        if (++named == 2) {
            insertAt = i + 1;
            break;
        }
    }
    if (insertAt < 0) {
        error = prefix + QStringLiteral(" belongs to a client job: file_name user_name ") + prefix +
                QStringLiteral("file server [results_file] [/AUTODEL]");
        return false;
    }

    QByteArray text;
    if (source == QLatin1String("-")) {
        text = readInput ? readInput() : QByteArray();
    } else {
        // Only its owner may read it, or the password is no safer than on the command line.
        struct stat st {};
        const QByteArray native = QFile::encodeName(source);
        if (source.isEmpty() || ::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            error = QStringLiteral("Password file not found: ") + source;
            return false;
        }
        if ((st.st_mode & 077) != 0) {
            error = QStringLiteral("Password file %1 can be read by other users (mode %2): "
                                   "chmod 600 %1")
                        .arg(source)
                        .arg(QString::number(st.st_mode & 0777, 8).rightJustified(4, '0'));
            return false;
        }
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Password file %1: %2").arg(source, file.errorString());
            return false;
        }
        text = file.read(4096);
    }
    const qsizetype end = text.indexOf('\n');
    if (end >= 0) text.truncate(end);
    if (text.endsWith('\r')) text.chop(1);
    const QString password = QString::fromLocal8Bit(text).trimmed();
    if (password.isEmpty()) {
        error = QStringLiteral("No password in ") +
                (source == QLatin1String("-") ? QStringLiteral("standard input") : source);
        return false;
    }
    rest.insert(insertAt, password);
    params = rest;
    return true;
}
