#include "app/cmdline.h"

#include "app/settings.h"
#include "app/shell.h"
#include "jobs/status.h"
#include "platform/paths.h"
#include "platform/prompt.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

QStringList gPendingParams;
bool gStopRequested = false;

bool IsSwitch(const QString& entry) {
    if (!entry.startsWith('/')) return false;
    const qsizetype colon = entry.indexOf(':');
    const qsizetype slash = entry.indexOf('/', 1);
    return slash < 0 || (colon >= 0 && colon < slash);
}

QString SwitchCase(const QString& entry) {
    const qsizetype colon = entry.indexOf(':');
    if (colon < 0) return entry.toUpper();
    return entry.left(colon + 1).toUpper() + PathCase(entry.mid(colon + 1));
}

QString HandOverText(const QStringList& params) {
    QString text;
    for (const QString& param : params)
        text += param + ParamSeparator;
    return text;
}

qsizetype PasswordPosition(const QStringList& params, bool server) {
    if (server) return -1;
    QList<qsizetype> entries;
    for (qsizetype i = 0; i < params.size(); ++i)
        if (!params[i].trimmed().isEmpty()) entries << i;
    if (entries.size() < 4 || IsSwitch(params[entries[0]].trimmed())) return -1;
    return entries[2];
}

namespace {
// "/INBOX:" and "/OUTBOX:": the folder must be absolute (a relative one would depend on the
// working folder of whichever process gave it), fit the 255-byte setting without being cut, and
// exist or be creatable.
bool applyFolderSwitch(const QString& entry, const QString& prefix, TSettingKey key,
                       const QString& changed) {
    if (!entry.startsWith(prefix)) return false;
    const QString path = PathCase(entry.mid(prefix.size())).trimmed();
    const bool usable =
        !path.isEmpty() && QDir::isAbsolutePath(path) && Cut255(path) == path &&
        (QFileInfo(path).isDir() || (QDir().mkpath(path) && QFileInfo(path).isDir()));
    if (usable) {
        PutStr(key, path);
        SaveSettings();
        AddStatus(changed);
    } else {
        AddStatus("Error - specified path cannot be created: " + path);
    }
    return true;
}

// /CLIENT or /SERVER: an installation that already has the role just drops the switch; one that
// had the other role ends, and comes up in the new role next time (it is saved at shutdown).
void applyRoleSwitch(const QString& entry, int role) {
    if (GetInt(MRL_Function) == role) {
        gPendingParams.removeAll(entry);
        return;
    }
    const bool hadOtherRole = GetInt(MRL_Function) == (role == 1 ? 2 : 1);
    PutInt(MRL_Function, role);
    if (hadOtherRole && gMainShell) gMainShell->CloseApplication(false);
}
} // namespace

void ProcessParams(const QString& text) {
    try {
        // 1. and 2.: one entry per terminated parameter; text after the last "|||" is dropped.
        gPendingParams.clear();
        const QString separator = QString::fromLatin1(ParamSeparator);
        QStringList tokens;
        qsizetype from = 0;
        for (qsizetype at; (at = text.indexOf(separator, from)) >= 0;
             from = at + separator.size())
            tokens << text.mid(from, at - from).trimmed();
        // A job's password is shown masked, as the server shows a log-on.
        const bool server = IsServer() && !tokens.contains("/CLIENT", Qt::CaseInsensitive);
        const qsizetype password = PasswordPosition(tokens, server);
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString& token = tokens[i];
            if (IsSwitch(token))
                gPendingParams << SwitchCase(token);
            else if (!token.isEmpty())
                gPendingParams << token;
            AddStatus("CmdParam:> " +
                      (i == password ? QString::fromLatin1(MaskedPassword) : token));
        }

        // 3. Role and help: only the first rule that applies.
        if (gPendingParams.contains("/CLIENT")) {
            applyRoleSwitch("/CLIENT", 1);
        } else if (gPendingParams.contains("/SERVER")) {
            applyRoleSwitch("/SERVER", 2);
        } else if (gPendingParams.contains("/HELP")) {
            gPendingParams.removeAll("/HELP");
            ShowCommandLineHelp();
        }

        // 4. Folders; the entries stay for the console (the server acts on them again).
        const QStringList entries = gPendingParams;
        for (const QString& entry : entries) {
            if (!applyFolderSwitch(entry, "/INBOX:", MRL_Inbox, "Inbox changed."))
                applyFolderSwitch(entry, "/OUTBOX:", MRL_Outbox, "Outbox changed.");
        }

        // 5. Hand the list to the console whose page is shown. At a first start the page is not
        // selected yet; the console then takes the list during its own initialisation.
        const int page = gMainShell ? gMainShell->Page() : -1;
        if (IsClient() && page == 1) {
            if (IConsole* console = gMainShell->Console(1)) console->ProcessParams();
        } else if (IsServer() && page == 2) {
            if (IConsole* console = gMainShell->Console(2)) console->ProcessParams();
        }
        if (!IsClient() && !IsServer()) gPendingParams.clear();
    } catch (const std::exception& e) {
        AddStatus(QStringLiteral("!ProcessParams(): ") + QString::fromLocal8Bit(e.what()));
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
    };
}

void ShowCommandLineHelp() {
    const QString caption = QString::fromLatin1(ApplicationTitle) + ' ' +
                            QString::fromLatin1(ProgramVersion) + " Command Line Arguments";
    Prompt().MessageBox(CommandLineHelpLines().join('\n'), caption, TBoxIcon::Information,
                        TBoxButtons::Ok);
}

bool ParamStartsWith(const QString& prefix) {
    for (const QString& entry : gPendingParams)
        if (entry.startsWith(prefix)) return true;
    return false;
}

void ProcessCommandLine(const QStringList& params) {
    ProcessParams(HandOverText(params));
}
