#include "commandline.h"

#include "commands.h"

#include <algorithm>
#include <cstdio>

namespace {

// Qt's own options, which any Qt program takes (the window's look, the
// display); those of the first list take a value after them.
const QStringList kQtOptionsWithValue{
    "platform",        "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
    "style",           "stylesheet",         "session",       "name",   "title",   "visual",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle"};
const QStringList kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

CommandLine ReadCommandLine(const QStringList &arguments) {
    CommandLine request;
    if (arguments.size() > 1 && IsCommandName(arguments.at(1)))
        return {CommandLine::Kind::Command, {}};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == "-h" || argument == "--help")
            return {CommandLine::Kind::Help, {}};
        if (argument == "-V" || argument == "--version")
            return {CommandLine::Kind::Version, {}};
        if (argument == "--time-startup")
            continue;
        const QString option = argument.startsWith("--") ? argument.mid(2) : argument.mid(1);
        const QString name = option.section(u'=', 0, 0);
        if (argument.startsWith(u'-') && kQtOptionsWithValue.contains(name)) {
            if (!option.contains(u'='))
                ++i;
            continue;
        }
        if (argument.startsWith(u'-') && kQtFlags.contains(option))
            continue;
        const auto command =
            std::find_if(arguments.begin() + i + 1, arguments.end(), IsCommandName);
        if (argument.startsWith(u'-') && command != arguments.end())
            return {CommandLine::Kind::Refused,
                    QStringLiteral("%1 goes after the command: varnlock %2 ... %1")
                        .arg(argument, *command)};
        return {CommandLine::Kind::Refused,
                argument.startsWith(u'-')
                    ? QStringLiteral("unknown option %1").arg(argument)
                    : QStringLiteral("no command is called %1, and the window takes no file or "
                                     "other argument")
                          .arg(argument)};
    }
    return request;
}

QString UsageText() {
    return QStringLiteral("Usage: varnlock [COMMAND [ARGUMENT...]]\n"
                          "Keeps your passwords in one small window; with no command, the window "
                          "opens.\n"
                          "\n"
                          "Commands, which need no window (clip needs a display):\n") +
           CommandsHelpText() +
           QStringLiteral(
               "\n"
               "  -h, --help         show this help and end\n"
               "  -V, --version      show the version and end\n"
               "\n"
               "varnlock COMMAND --help tells more of each. Where a master password is set,\n"
               "the commands ask for it on the terminal (or read it from one line of standard\n"
               "input). Exit status: 0 on success, 1 when the command failed, 2 when the\n"
               "command line was wrong.\n");
}

QString VersionText() {
    return QStringLiteral("varnlock %1\n").arg(QStringLiteral(VARNLOCK_VERSION));
}

int AnswerCommandLine(const CommandLine &request) {
    switch (request.kind) {
    case CommandLine::Kind::Help:
        std::fputs(qPrintable(UsageText()), stdout);
        return 0;
    case CommandLine::Kind::Version:
        std::fputs(qPrintable(VersionText()), stdout);
        return 0;
    case CommandLine::Kind::Refused:
        std::fprintf(stderr, "varnlock: %s\n%s", qPrintable(request.problem),
                     qPrintable(UsageText()));
        return 2;
    case CommandLine::Kind::Window:
    case CommandLine::Kind::Command:
        break;
    }
    return 0;
}
