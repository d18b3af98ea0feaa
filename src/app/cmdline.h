#pragma once
// The command line: a first start's own parameters and a second start's hand-over both arrive as
// one text in which every parameter is followed by "|||". The shell acts on the role, help, inbox
// and outbox options; the console of the current role interprets the rest.
#include "core/command_line.h"

#include <QString>
#include <QStringList>

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
// Joins the process's own parameters (without the program name) into the hand-over form and
// runs ProcessParams.
void ProcessCommandLine(TAppContext& ctx, TMainShell* shell, const QStringList& params);
