#include "csvcommand.h"

#include "csv.h"
#include "outcometext.h"
#include "session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <string>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

namespace {

void Say(const QString &text) {
    std::fprintf(stderr, "varnlock: %s\n", qPrintable(text));
}

// One line from standard input; on a terminal it is not echoed. False at the
// end of the input.
bool ReadSecretLine(const char *prompt, QString &line) {
    bool terminal = false;
#ifdef Q_OS_UNIX
    termios saved{};
    terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "%s", prompt);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
#endif
    std::string bytes;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        bytes.push_back(char(c));
#ifdef Q_OS_UNIX
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
    }
#endif
    if (c == EOF && bytes.empty())
        return false;
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();
    line = QString::fromStdString(bytes);
    std::fill(bytes.begin(), bytes.end(), '\0');
    return true;
}

// The master password from the terminal (or standard input), three tries,
// as the window's prompt gives them.
bool AskOnTheTerminal(Session &session) {
    QString typed;
    for (int tries = 0; tries < 3; ++tries) {
        if (!ReadSecretLine("Master password: ", typed))
            break;
        const Session::Unlock unlocked = session.unlock(typed);
        typed.fill(u'\0');
        if (unlocked == Session::Unlock::Opened)
            return true;
        if (unlocked == Session::Unlock::Unopenable) {
            Say(UnopenableText(session));
            return false;
        }
        Say(QStringLiteral("that is not the master password."));
    }
    Say(QStringLiteral("Access Error: You are not allowed to use this application"));
    return false;
}

// Opens the records as a start of the window does, asking for the master
// password where the settings need it.
bool OpenRecords(Session &session) {
    switch (session.open(AskOnTheTerminal)) {
    case OpenStatus::HeldElsewhere:
        Say(QStringLiteral("the records of this program folder are open in a Varnlock window; "
                           "close it and try again. Nothing was changed."));
        return false;
    case OpenStatus::Untrusted:
        Say(UntrustedFolderText(session.untrusted()));
        return false;
    case OpenStatus::SettingsUnreadable:
        Say(UnreadableSettingsText(session.paths().config()));
        return false;
    case OpenStatus::NotGiven: // said already
        return false;
    case OpenStatus::Opened:
        break;
    }
    if (!session.locked()) {
        Say(QStringLiteral("the folder %1 could not be opened. Nothing was changed.")
                .arg(QDir::toNativeSeparators(session.paths().dataFolder())));
        return false;
    }
    if (session.scope() == Scope::Strong && session.strongStatus() != Strong::Status::Ok) {
        const QString problem =
            StrongStoreText(session.strongStatus(), session.paths().strongStore());
        Say(problem.isEmpty()
                ? QStringLiteral("the records could not be read. Nothing was changed.")
                : problem);
        return false;
    }
    switch (session.loaded()) {
    case StoreStatus::OtherKey:
        Say(kOtherKeyText);
        return false;
    case StoreStatus::Ok:
    case StoreStatus::Missing:
        return true;
    default:
        Say(QStringLiteral("the records could not be read. Nothing was changed."));
        return false;
    }
}

int ImportCsv(Session &session, const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Say(QStringLiteral("%1 could not be read: %2. Nothing was changed.")
                .arg(QDir::toNativeSeparators(path), file.errorString()));
        return 1;
    }
    CsvImportPlanner planner(file, session.records(),
                             [&session](QByteArrayView line) { return session.storable(line); });
    planner.dropTextOfAcceptedRows();
    const qint64 size = std::max<qint64>(file.size(), 1);
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    while (planner.step(8192)) {
        // A read that takes longer than half a second tells how far it is.
        if (clock.elapsed() > 500) {
            std::fprintf(stderr, "\rvarnlock: reading %s: %lld %%", qPrintable(path),
                         static_cast<long long>(planner.bytesRead() * 100 / size));
            told = true;
        }
    }
    if (told)
        std::fprintf(stderr, "\n");
    const CsvImportPlan plan = planner.takePlan();
    if (!plan.error.isEmpty()) {
        Say(QStringLiteral("%1 can not be imported: %2. Nothing was changed.")
                .arg(QDir::toNativeSeparators(path), plan.error));
        return 1;
    }
    std::printf("Read %s as a %s export: %s\n", qPrintable(QDir::toNativeSeparators(path)),
                qPrintable(plan.layout.format), qPrintable(plan.layout.describe()));
    if (const QStringList leftOut = plan.layout.leftOut(); !leftOut.isEmpty())
        std::printf("Not carried into the records: %s\n",
                    qPrintable(leftOut.join(QStringLiteral(", "))));
    for (const CsvImportRow &row : plan.rows)
        if (row.outcome != CsvImportRow::Outcome::New)
            std::printf("line %lld: %s\n", static_cast<long long>(row.line),
                        qPrintable(row.describe()));
    const QList<QByteArray> records = plan.newRecords();
    const qsizetype identical = plan.count(CsvImportRow::Outcome::Identical);
    const qsizetype refused = plan.count(CsvImportRow::Outcome::Refused);
    if (!records.isEmpty()) {
        const SessionStatus status = session.importRecords(records);
        if (status != SessionStatus::Ok) {
            Say(status == SessionStatus::ChangedOnDisk
                    ? QStringLiteral("the records changed on disk while the file was read. "
                                     "Nothing was changed: run the command again.")
                    : QStringLiteral("the records could not be written. Nothing was changed."));
            return 1;
        }
    }
    std::printf("Added %lld, skipped %lld already stored or repeated, refused %lld.\n",
                static_cast<long long>(records.size()), static_cast<long long>(identical),
                static_cast<long long>(refused));
    return records.isEmpty() && (refused > 0 || identical == 0) ? 1 : 0;
}

int ExportCsv(const Session &session, const QString &path) {
    const RecordList &records = session.records();
    const Platform::NewFileStatus written = Platform::writeNewFile(path, CsvExport(records));
    const QString shown = QDir::toNativeSeparators(path);
    if (written == Platform::NewFileStatus::Exists) {
        Say(QStringLiteral("%1 exists already, and Varnlock never writes over a file here. "
                           "Nothing was written: name a new file.")
                .arg(shown));
        return 1;
    }
    if (written != Platform::NewFileStatus::Written) {
        Say(QStringLiteral("%1 could not be written. Nothing was exported.").arg(shown));
        return 1;
    }
    std::printf("Wrote %lld records to %s. It holds every password in plain text: delete it "
                "when you no longer need it.\n",
                static_cast<long long>(records.size()), qPrintable(shown));
    return 0;
}

} // namespace

std::optional<int> RunCsvCommand(const QStringList &arguments, const StorePaths &paths) {
    const qsizetype import = arguments.indexOf(QStringLiteral("--import-csv"));
    const qsizetype exportAt = arguments.indexOf(QStringLiteral("--export-csv"));
    if (import < 0 && exportAt < 0)
        return std::nullopt;
    const qsizetype at = import >= 0 ? import : exportAt;
    if ((import >= 0 && exportAt >= 0) || at + 1 >= arguments.size()) {
        Say(QStringLiteral("use: varnlock --import-csv FILE, or varnlock --export-csv FILE"));
        return 2;
    }
    const QString file = arguments.at(at + 1);
    Session session(paths);
    if (!OpenRecords(session))
        return 1;
    return import >= 0 ? ImportCsv(session, file) : ExportCsv(session, file);
}
