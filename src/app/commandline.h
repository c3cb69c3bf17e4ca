#pragma once

#include <QString>
#include <QStringList>

// What the program was asked on its command line, read before anything
// needs a display: the window, a command (see commands.h), or an answer
// printed at once.
struct CommandLine {
    enum class Kind { Window, Command, Help, Version, Refused };
    Kind kind = Kind::Window;
    QString problem; // Refused: what was wrong
};

CommandLine ReadCommandLine(const QStringList &arguments);

// The usage, and the version line, as printed.
QString UsageText();
QString VersionText();

// Prints what a Help, Version or Refused request answers; its exit code.
int AnswerCommandLine(const CommandLine &request);
