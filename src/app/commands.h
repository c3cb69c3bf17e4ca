#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

class Session;

// The exit codes every command keeps, for scripts.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // with a message on standard error
inline constexpr int kExitUsage = 2;  // the command line was wrong

// A command's arguments once read.
struct CommandArguments {
    QStringList words;             // the arguments that are not options, in order
    QMap<QString, QString> values; // options with a value, by name ("field")
    QSet<QString> flags;           // options without one ("json")
    // --generate [LEVEL] [LENGTH]: a password from the generator instead of
    // one typed.
    bool generate = false;
    int level = 3;
    int length = 20;

    bool has(const char *flag) const { return flags.contains(QLatin1String(flag)); }
    bool given(const char *name) const { return values.contains(QLatin1String(name)); }
    QString value(const char *name) const { return values.value(QLatin1String(name)); }
};

// Whether the first argument names a command (or an old spelling of one),
// so the program runs it instead of opening the window.
bool IsCommandName(const QString &argument);

// The list of commands, as the program's help shows it.
QString CommandsHelpText();

// Runs the command named by argv[1] with the rest of the arguments: reads
// them, opens the records as the command needs, and does it. Its exit code.
int RunCommand(int argc, char *argv[]);
