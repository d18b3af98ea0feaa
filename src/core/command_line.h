#pragma once
// The words of the command line: a first start's own parameters and a second start's hand-over
// both arrive as one text in which every parameter is followed by "|||"; these helpers tell
// switches from positional parameters and keep what the consoles have not taken yet.
#include <QString>
#include <QStringList>

// The parameter separator of the hand-over text.
inline constexpr const char* ParamSeparator = "|||";

// True when the entry is a switch: it begins with '/' and no further '/' comes before its first
// ':'. Absolute Linux paths ("/home/me/OUTBOX/a.txt") begin with '/' too; they are positional
// parameters. Consoles use this wherever the grammar asks whether an entry "begins with /".
bool IsSwitch(const QString& entry);
// A switch as stored: the name up to and including its first ':' upper-cased, the rest (a path
// or file name) as given.
QString SwitchCase(const QString& entry);

// Every parameter followed by "|||".
QString HandOverText(const QStringList& params);

// The position in `params` of a client job's password (the third of the entries that are not
// empty, when there are at least four and the first is no switch), or -1. A server's job has no
// password.
qsizetype PasswordPosition(const QStringList& params, bool server);
// What the transcript shows for a password.
inline constexpr const char* MaskedPassword = "**********";

// The parameters not yet taken by a console: each trimmed; switches upper-cased (a switch's path
// after its ':' keeps its case, since Linux paths are case-sensitive). Refilled by every
// command line, emptied by the consoles when they are done with it.
struct TPendingParams {
    QStringList entries;
    // Set by a console on "/STOP"; while set, no console starts communications by itself.
    bool stopRequested = false;
    // True when any pending entry begins with the prefix.
    bool StartsWith(const QString& prefix) const;
};
