#pragma once
// The command line: a first start's own parameters and a second start's hand-over both arrive as
// one text in which every parameter is followed by "|||". The shell acts on the role, help, inbox
// and outbox options; the console of the current role interprets the rest.
#include "core/command_line.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class IPrompt;
class TAppContext;
class TMainShell;

// Splits the text into the context's pending parameters (`shell`, the main window, may be null), writes "CmdParam:> " + token for each, applies /CLIENT,
// /SERVER, /HELP, /INBOX: and /OUTBOX:, and hands the list to the console of the current role
// when its page is shown (or empties it when no role is chosen).
void ProcessParams(TAppContext& ctx, TMainShell* shell, const QString& text);
// The help box ("Marrowline 1.00 Command Line Arguments").
void ShowCommandLineHelp(IPrompt& prompt);
// The lines of the help box.
QStringList CommandLineHelpLines();
// "/PASSFILE:file" gives a client job's password without it ever being among any process's
// arguments (where every local user sees it with ps): the started program reads the first line of
// the file, which only its owner may read, or of standard input for "/PASSFILE:-" (`readInput`
// reads it), and puts the password where the job's grammar has it, as the third of the
// parameters. The switch may stand in the password's place or anywhere after the file and user
// names. Parameters without the switch are left as they are. False with `error` set when the
// password cannot be had; the parameters are then unchanged.
inline constexpr const char* PasswordFileSwitch = "/PASSFILE:";
bool TakePasswordFile(QStringList& params, const std::function<QByteArray()>& readInput,
                      QString& error);

// Joins the process's own parameters (without the program name) into the hand-over form and
// runs ProcessParams.
void ProcessCommandLine(TAppContext& ctx, TMainShell* shell, const QStringList& params);
