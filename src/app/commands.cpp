#include "commands.h"

#include "guilibrary.h"
#include "recordcommands.h"
#include "session.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

enum class Opens {
    Nothing,          // needs no records
    ToRead,           // reads them, beside a window if one runs
    ToWrite,          // holds the folder and may write
    ToWriteUnlessDry, // writes unless --dry-run is given
};

struct Command {
    const char *name;
    const char *usage; // what follows "varnlock "
    const char *summary;
    const char *help; // the options, as the command's help lists them
    QStringList valued;
    QStringList flags;
    int minWords;
    int maxWords;
    Opens opens;
    int (*run)(Session &, const CommandArguments &);
};

int RunGenerate(Session &, const CommandArguments &args) {
    return GenerateCommand(args);
}

const char kPickHelp[] =
    "  --user NAME       the record with this user name, where several share the\n"
    "                    service name\n"
    "  --number N        the Nth of the records named, as the list of them shows\n"
    "                    them (where several share service and user name too)\n";
const char kFieldsHelp[] =
    "  --service TEXT    the service\n"
    "  --username TEXT   the user name\n"
    "  --other TEXT      the other info\n"
    "  --path TEXT       the path or address\n"
    "  --totp URI        the one-time-code secret: an otpauth://totp/ URI, or a bare\n"
    "                    Base32 secret (SHA-1, 6 digits, 30 s); edit --totp \"\"\n"
    "                    takes it away\n"
    "  --generate [LEVEL] [LENGTH]\n"
    "                    a generated password instead of one typed: level 1 is 6\n"
    "                    characters of 1-9 and A-Z, level 2 is 8, level 3 (the\n"
    "                    default) LENGTH characters (20 unless given) of 1-9, A-Z\n"
    "                    and a-z\n";

const std::vector<Command> &Commands() {
    static const std::vector<Command> commands{
        {"ls",
         "ls [TEXT] [--json]",
         "list the service names, sorted",
         "Lists the service name of every record, one a line, in the list's order. With\n"
         "TEXT, only the records whose service, user name, other info or path contain\n"
         "it, letter case ignored, as the window's find line filters.\n\n"
         "  --json            a JSON array of the names\n",
         {},
         {"json"},
         0,
         1,
         Opens::ToRead,
         ListCommand},
        {"search",
         "search TEXT [--json]",
         "list service and user name of the records that match",
         "Like ls TEXT, but prints each record's service and user name, separated by a\n"
         "tab.\n\n"
         "  --json            a JSON array of {\"service\", \"username\"}\n",
         {},
         {"json"},
         1,
         1,
         Opens::ToRead,
         SearchCommand},
        {"show",
         "show NAME [--user NAME] [--number N] [--field FIELD] [--show-password] [--totp] [--json]",
         "show one record",
         "Shows the record whose service is NAME (letter case ignored where no name\n"
         "matches exactly). The password is shown only when asked for. When several\n"
         "records share the name, they are listed and the command ends with status 2.\n\n"
         "  --field FIELD     only this field, alone on its line: service, username,\n"
         "                    password, other or path\n"
         "  --show-password   the password too\n"
         "  --totp            only the current one-time code (--json: with its seconds left)\n"
         "  --json            a JSON object of the fields\n",
         {"user", "number", "field"},
         {"show-password", "totp", "json"},
         1,
         1,
         Opens::ToRead,
         ShowCommand},
        {"clip",
         "clip NAME [--user NAME] [--number N] [--field FIELD] [--timeout SECONDS]",
         "copy a field to the clipboard for a while",
         "Copies a field of the record (the password unless another is named) to the\n"
         "clipboard, marked as a secret that clipboard managers keep out of their\n"
         "history. After the timeout the clipboard is cleared, if it still holds that\n"
         "text, and what it held before is put back (unless that was a secret too).\n"
         "Needs a display.\n\n"
         "  --field FIELD     service, username, password, other or path\n"
         "  --timeout SECONDS how long it stays (20 unless given; 0: until another\n"
         "                    program takes the clipboard)\n",
         {"user", "number", "field", "timeout"},
         {},
         1,
         1,
         Opens::ToRead,
         nullptr}, // run by the window's library, which reaches the display
        {"add",
         "add --service TEXT --username TEXT [--other TEXT] [--path TEXT] [--totp URI] "
         "[--generate]",
         "store a new record",
         "Stores a new record. The password is typed twice without echo on a terminal,\n"
         "or read from one line of standard input (after the master password's line,\n"
         "where one is asked), or generated.\n\n",
         {"service", "username", "other", "path", "totp"},
         {},
         0,
         0,
         Opens::ToWrite,
         AddCommand},
        {"edit",
         "edit NAME [--user NAME] [--number N] [--service TEXT] [--username TEXT] [--password] ...",
         "change fields of a record",
         "Changes the fields given of the record whose service is NAME; the others stay.\n\n"
         "  --password        a new password, typed as for add\n",
         {"user", "number", "service", "username", "other", "path", "totp"},
         {"password"},
         1,
         1,
         Opens::ToWrite,
         EditCommand},
        {"rm",
         "rm NAME [--user NAME] [--number N]",
         "remove a record",
         "Removes the record.\n\n",
         {"user", "number"},
         {},
         1,
         1,
         Opens::ToWrite,
         RemoveCommand},
        {"generate",
         "generate [--level 1|2|3] [--length N]",
         "propose a password",
         "Prints a password from the generator: level 1 is 6 characters of 1-9 and\n"
         "A-Z, level 2 is 8, level 3 (the default) N characters (20 unless given) of\n"
         "1-9, A-Z and a-z.\n",
         {"level", "length"},
         {},
         0,
         0,
         Opens::Nothing,
         RunGenerate},
        {"merge",
         "merge FILE [--dry-run] [--take-passphrase] [--json]",
         "merge another copy of the store",
         "Merges another copy of the store (CW2DB.sdb, .edb or .pdb, or a program\n"
         "folder holding one) into this one and prints what changed. Under the strong\n"
         "protection, a copy that knows its records' ids is merged record by record:\n"
         "the later change of a record wins and the other goes among its earlier\n"
         "versions. Any other copy is compared by service and user name: its records\n"
         "that are not here are added, and those that differ are added beside the ones\n"
         "here (see them first with --dry-run). A copy under another password asks\n"
         "for it. A copy a sync tool left in Data is removed once merged; a file named\n"
         "anywhere else is left as it is.\n\n"
         "  --dry-run         print what would change, write nothing\n"
         "  --take-passphrase a strong copy under a passphrase of its own: the records\n"
         "                    here take it too (when it is the newer one)\n"
         "  --json            the change list as JSON\n",
         {},
         {"dry-run", "take-passphrase", "json"},
         1,
         1,
         Opens::ToWriteUnlessDry,
         MergeCommand},
        {"health",
         "health [--breached FILE] [--json]",
         "report weak, reused, short and old passwords",
         "Lists, worst first, every record whose password is weak (few guesses would\n"
         "find it, the record's own service and user name tried first), reused (another\n"
         "record has the same), short (under 12 characters) or old (unchanged for more\n"
         "than a year, under the strong protection), and says when the master password\n"
         "expires. Records marked \"not a concern\" in the window's report are left out.\n\n"
         "  --breached FILE   also mark passwords found in this breach list: a file of\n"
         "                    SHA-1 hashes, one a line (\"HASH\" or \"HASH:COUNT\"), read\n"
         "                    once from start to end\n"
         "  --json            the report as JSON\n",
         {"breached"},
         {"json"},
         0,
         0,
         Opens::ToRead,
         HealthCommand},
        {"import-csv",
         "import-csv FILE",
         "add the records of a CSV export (also --import-csv FILE)",
         "Adds the records of a CSV export of this or another password program, in one\n"
         "write, and tells what was read, left out and refused.\n",
         {},
         {},
         1,
         1,
         Opens::ToWrite,
         ImportCsvCommand},
        {"export-csv",
         "export-csv FILE",
         "write every record to a new CSV file (also --export-csv FILE)",
         "Writes every record, passwords in plain text, to a new file; an existing\n"
         "file is never written over.\n",
         {},
         {},
         1,
         1,
         Opens::ToRead,
         ExportCsvCommand},
    };
    return commands;
}

QString CommandName(const QString &argument) {
    // The spellings of the first version stay.
    if (argument == QLatin1String("--import-csv"))
        return QStringLiteral("import-csv");
    if (argument == QLatin1String("--export-csv"))
        return QStringLiteral("export-csv");
    return argument;
}

const Command *FindCommand(const QString &argument) {
    const QString name = CommandName(argument);
    for (const Command &command : Commands())
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

QString CommandHelp(const Command &command) {
    QString text = QStringLiteral("Usage: varnlock %1\n\n%2")
                       .arg(QLatin1String(command.usage), QLatin1String(command.help));
    const QString name = QLatin1String(command.name);
    if (command.valued.contains(QLatin1String("number"))) // a command on one record
        text += QLatin1String(kPickHelp);
    if (name == QLatin1String("add") || name == QLatin1String("edit"))
        text += QLatin1String(kFieldsHelp);
    if (command.opens != Opens::Nothing)
        text += QStringLiteral(
            "\nWhere a master password is set, it is asked on the terminal without echo, or\n"
            "read from one line of standard input.");
    if (command.opens == Opens::ToWrite || command.opens == Opens::ToWriteUnlessDry)
        text += QStringLiteral(" While a Varnlock window has the records\nopen, nothing is "
                               "written: close it first.");
    text += QStringLiteral("\nExit status: 0 on success, 1 when the command failed, 2 when the "
                           "command\nline was wrong.\n");
    return text;
}

bool IsNumber(const QString &text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Reads the arguments after the command's name; what was wrong, or nothing.
std::optional<QString> ReadArguments(const Command &command, const QStringList &arguments,
                                     CommandArguments &out) {
    const bool takesFields = QLatin1String(command.name) == QLatin1String("add") ||
                             QLatin1String(command.name) == QLatin1String("edit");
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnd || !argument.startsWith(QLatin1String("--")) || argument.size() == 2) {
            if (argument == QLatin1String("--") && !optionsEnd) {
                optionsEnd = true;
                continue;
            }
            out.words << argument;
            continue;
        }
        const QString option = argument.mid(2).section(u'=', 0, 0);
        const bool inline_ = argument.contains(u'=');
        if (takesFields && option == QLatin1String("generate") && !inline_) {
            out.generate = true;
            if (i + 1 < arguments.size() && IsNumber(arguments.at(i + 1))) {
                out.level = arguments.at(++i).toInt();
                if (i + 1 < arguments.size() && IsNumber(arguments.at(i + 1)))
                    out.length = arguments.at(++i).toInt();
            }
            continue;
        }
        if (command.valued.contains(option)) {
            if (inline_) {
                out.values[option] = argument.section(u'=', 1);
            } else if (i + 1 < arguments.size()) {
                out.values[option] = arguments.at(++i);
            } else {
                return QStringLiteral("%1 needs a value").arg(argument);
            }
            continue;
        }
        if (command.flags.contains(option) && !inline_) {
            out.flags.insert(option);
            continue;
        }
        return QStringLiteral("%1 takes no option %2").arg(QLatin1String(command.name), argument);
    }
    if (out.words.size() < command.minWords)
        return QStringLiteral("%1 needs %2")
            .arg(QLatin1String(command.name),
                 QString::fromLatin1(command.usage).section(u' ', 1, 1));
    if (out.words.size() > command.maxWords)
        return QStringLiteral("%1 takes no argument %2")
            .arg(QLatin1String(command.name), out.words.at(command.maxWords));
    if (out.generate && (out.level < 1 || out.level > 3))
        return QStringLiteral("the level of --generate is 1, 2 or 3");
    return std::nullopt;
}

// Whether a display the clipboard lives on can be reached: Qt ends the
// process when it can not connect to one, so it is looked for first.
bool DisplayReachable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        return false;
    // A local X display is a socket of its number.
    if (display.startsWith(u':')) {
        const QString number = display.mid(1).section(u'.', 0, 0);
        return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + number);
    }
    return true;
#else
    return true;
#endif
}

} // namespace

bool IsCommandName(const QString &argument) {
    return FindCommand(argument) != nullptr;
}

QString CommandsHelpText() {
    QString text;
    for (const Command &command : Commands())
        text += QStringLiteral("  %1%2\n")
                    .arg(QLatin1String(command.name), -12)
                    .arg(QLatin1String(command.summary));
    return text;
}

int RunCommand(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Command &command = *FindCommand(QString::fromLocal8Bit(argv[1]));
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        Print(CommandHelp(command));
        return kExitOk;
    }
    CommandArguments args;
    if (const std::optional<QString> problem = ReadArguments(command, arguments, args)) {
        Say(*problem);
        std::fprintf(stderr, "Use: varnlock %s\n(varnlock %s --help tells more)\n", command.usage,
                     command.name);
        return kExitUsage;
    }
    const bool clip = QLatin1String(command.name) == QLatin1String("clip");
    if (const std::optional<QString> problem = clip ? ClipUsageProblem(args) : std::nullopt) {
        Say(*problem);
        return kExitUsage;
    }
    if (clip && !DisplayReachable()) {
        Say(QStringLiteral("clip needs a display, for the clipboard lives there, and none was "
                           "found (DISPLAY and WAYLAND_DISPLAY are not set, or name no running "
                           "display). Nothing was copied: show NAME --field password prints "
                           "the password instead."));
        return kExitFailed;
    }
    if (clip) {
        QString why;
        const GuiEntry *gui = LoadGui(&why);
        if (!gui) {
            Say(QStringLiteral("clip can not reach the clipboard: %1").arg(why));
            return kExitFailed;
        }
        return gui->runClip(argc, argv, args);
    }
    // Every other command runs without a display.
    QCoreApplication app(argc, argv);
    Session session(StorePaths::forExecutableFolder(QCoreApplication::applicationDirPath()));
    switch (command.opens) {
    case Opens::Nothing:
        break;
    case Opens::ToRead:
        if (!OpenRecords(session, Access::Read))
            return kExitFailed;
        break;
    case Opens::ToWriteUnlessDry:
    case Opens::ToWrite: {
        const bool dry = command.opens == Opens::ToWriteUnlessDry && args.has("dry-run");
        if (!OpenRecords(session, dry ? Access::Read : Access::Write))
            return kExitFailed;
        break;
    }
    }
    if (command.opens != Opens::Nothing && QLatin1String(command.name) != QLatin1String("merge"))
        SayCopiesLeft(session);
    const int code = command.run(session, args);
    // What a script reads (a list, a password, a report) that did not all
    // reach its file or pipe is a failure, whatever the command did.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const bool wrote = command.opens == Opens::ToWrite ||
                           (command.opens == Opens::ToWriteUnlessDry && !args.has("dry-run"));
        Say(QStringLiteral("the output could not be written in full%1.%2")
                .arg(errno != 0
                         ? QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)))
                         : QString(),
                     wrote && code == kExitOk ? QStringLiteral(" The change itself was made.")
                                              : QString()));
        return code == kExitOk ? kExitFailed : code;
    }
    return code;
}
