#include "terminal.h"

#include "outcometext.h"
#include "settings.h"
#include "settingscopies.h"
#include "storecopies.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <string>

#ifdef Q_OS_UNIX
#include <csignal>
#include <iterator>
#include <termios.h>
#include <unistd.h>
#endif

QByteArray ShownOnTerminal(QByteArrayView bytes) {
    QByteArray shown;
    shown.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool c0 = (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
        // U+0080 to U+009F, which some terminals take as commands too.
        const bool c1 = c == 0xC2 && i + 1 < bytes.size() &&
                        static_cast<unsigned char>(bytes[i + 1]) <= 0x9F &&
                        static_cast<unsigned char>(bytes[i + 1]) >= 0x80;
        if (c0 || c1) {
            shown += "\xEF\xBF\xBD";
            i += c1 ? 1 : 0;
            continue;
        }
        shown += char(c);
    }
    return shown;
}

void Write(std::FILE *stream, QByteArrayView bytes) {
#ifdef Q_OS_UNIX
    const bool terminal = ::isatty(::fileno(stream));
#else
    const bool terminal = false;
#endif
    const QByteArray shown = terminal ? ShownOnTerminal(bytes) : bytes.toByteArray();
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stream);
}

void Say(const QString &text) {
    Write(stderr, "varnlock: " + text.toLocal8Bit() + '\n');
}

void Print(const QString &text) {
    Write(stdout, text.toLocal8Bit());
}

bool ErrorIsTerminal() {
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO);
#else
    return false;
#endif
}

bool InputIsTerminal() {
#ifdef Q_OS_UNIX
    return ::isatty(STDIN_FILENO);
#else
    return false;
#endif
}

#ifdef Q_OS_UNIX
namespace {

// The terminal as it was before echo was turned off, for the signal
// handlers: a Ctrl+C at the prompt must not leave the user's terminal mute.
termios g_echoing{};
termios g_quiet{};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction g_before[std::size(kEndingSignals)];

void EchoAgainAndPassOn(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_echoing);
    struct sigaction ours {};
    ::sigaction(signal, nullptr, &ours);
    ::signal(signal, SIG_DFL);
    // Blocked while its handler runs: let through, it acts at once.
    sigset_t just{};
    ::sigemptyset(&just);
    ::sigaddset(&just, signal);
    ::sigprocmask(SIG_UNBLOCK, &just, nullptr);
    ::raise(signal); // ends the process, or stops it for Ctrl+Z
    // Back from Ctrl+Z: the prompt goes on, without echo again.
    ::sigaction(signal, &ours, nullptr);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet);
}

// Turns echo off with the handlers in place; EchoAgain undoes both.
void EchoOff(const termios &echoing) {
    g_echoing = echoing;
    g_quiet = echoing;
    g_quiet.c_lflag &= ~tcflag_t(ECHO);
    struct sigaction handler {};
    handler.sa_handler = EchoAgainAndPassOn;
    handler.sa_flags = SA_RESTART;
    ::sigemptyset(&handler.sa_mask);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
        ::sigaction(kEndingSignals[i], &handler, &g_before[i]);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quiet);
}

void EchoAgain() {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoing);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
        ::sigaction(kEndingSignals[i], &g_before[i], nullptr);
}

} // namespace
#endif

bool ReadSecretLine(const char *prompt, QString &line) {
    bool terminal = false;
#ifdef Q_OS_UNIX
    termios echoing{};
    terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &echoing) == 0;
    if (terminal) {
        // Quiet before the prompt shows: a key typed the moment it appears is
        // neither shown nor thrown away with the type-ahead.
        EchoOff(echoing);
        std::fprintf(stderr, "%s", prompt);
    }
#endif
    std::string bytes;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        bytes.push_back(char(c));
#ifdef Q_OS_UNIX
    if (terminal) {
        EchoAgain();
        std::fprintf(stderr, "\n");
    }
#endif
    if (c == EOF && bytes.empty())
        return false;
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();
    line = QString::fromLocal8Bit(bytes.data(), qsizetype(bytes.size()));
    std::fill(bytes.begin(), bytes.end(), '\0');
    return true;
}

namespace {

// How long a writing command waits for another command's hold to end.
constexpr int kCommandWaitMs = 30000;

// The master password from the terminal (or standard input), three tries,
// as the window's prompt gives them.
bool AskOnTheTerminal(Session &session) {
    // No store to try a passphrase on: said before one is asked for.
    if (session.scope() == Scope::Strong && !QFileInfo::exists(session.paths().strongStore())) {
        Say(StrongStoreText(Strong::Status::Missing, session.paths().strongStore()));
        return false;
    }
    if (session.tookSettingsFromCopy())
        Say(kSettingsTakenFromCopyText);
    QString typed;
    for (int tries = 0; tries < 3; ++tries) {
        if (!ReadSecretLine("Master password: ", typed))
            break;
        const Session::Unlock unlocked = session.unlock(typed);
        typed.fill(u'\0');
        if (unlocked == Session::Unlock::Opened) {
            // The window's reminder, for those who only ever use the terminal;
            // on standard error, so a script's output stays the same.
            const Expiry expiry = CheckExpiry(session.settings().expiry, TodayText());
            if (expiry != Expiry::NotExpired)
                Say(QStringLiteral("%1; set a new one in the window's Menu, Security.")
                        .arg(expiry == Expiry::ExpiresToday
                                 ? QStringLiteral("The Password expires today")
                                 : QStringLiteral("The Password has expired")));
            return true;
        }
        if (unlocked == Session::Unlock::Unopenable) {
            Say(UnopenableText(session));
            return false;
        }
        Say(QStringLiteral("that is not the master password."));
    }
    Say(QStringLiteral("Access Error: You are not allowed to use this application"));
    return false;
}

} // namespace

bool OpenRecords(Session &session, Access access) {
    OpenStatus opened = access == Access::Read ? session.openToRead(AskOnTheTerminal)
                                               : session.open(AskOnTheTerminal);
    // Another command's hold ends once it has written, so it is waited for;
    // a window's lasts, so it is refused at once.
    QDeadlineTimer deadline(kCommandWaitMs);
    bool waitSaid = false;
    while (opened == OpenStatus::HeldElsewhere &&
           !Platform::windowMarks(session.paths().programFolder)) {
        if (deadline.hasExpired()) {
            Say(QStringLiteral("another varnlock command still has the records of this program "
                               "folder open (waiting for a password, perhaps); let it end and "
                               "try again. Nothing was changed."));
            return false;
        }
        if (!waitSaid)
            Say(QStringLiteral("another varnlock command is at work on these records; waiting "
                               "up to %1 seconds for it to end...")
                    .arg(kCommandWaitMs / 1000));
        waitSaid = true;
        QThread::msleep(20);
        opened = session.open(AskOnTheTerminal);
    }
    switch (opened) {
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
    if (access == Access::Write && !session.locked()) {
        Say(QStringLiteral("the folder %1 could not be opened. Nothing was changed.")
                .arg(QDir::toNativeSeparators(session.paths().dataFolder())));
        return false;
    }
    if (session.scope() == Scope::Strong && session.strongStatus() != Strong::Status::Ok &&
        session.strongStatus() != Strong::Status::Missing) {
        const QString problem =
            StrongStoreText(session.strongStatus(), session.paths().strongStore());
        Say(problem.isEmpty()
                ? QStringLiteral("the records could not be read. Nothing was changed.")
                : problem);
        return false;
    }
    switch (session.loaded()) {
    case StoreStatus::OtherKey: {
        Say(kOtherKeyText);
        // A reading command leaves the settings as they are; the next writer settles them.
        std::vector<SettingsCopy> copies = FindSettingsCopies(session.paths());
        for (const SettingsCopy &copy : copies)
            Say(QStringLiteral("%1 lies beside them, settings a sync tool set aside: a command "
                               "that writes, or the window, takes them if they are the ones that "
                               "open the records.")
                    .arg(QFileInfo(copy.path).fileName()));
        if (copies.empty())
            Say(QStringLiteral("If they are under the master password from before it was changed "
                               "on another computer, start the window: it asks for that password "
                               "and keeps them under the one in force."));
        WipeSettingsCopies(copies);
        return false;
    }
    case StoreStatus::Ok:
    case StoreStatus::Missing:
        return true;
    default:
        Say(QStringLiteral("the records could not be read. Nothing was changed."));
        return false;
    }
}

void SayCopiesLeft(const Session &session) {
    for (const StoreCopy &copy : FindStoreCopies(session.paths(), session.scope())) {
        QString quoted = QDir::toNativeSeparators(copy.path);
        quoted = u'\'' + quoted.replace(u'\'', QLatin1String("'\\''")) + u'\'';
        const QString name = QFileInfo(copy.path).fileName();
        Say(QStringLiteral("%1 lies beside the records: what only it holds is missing here until "
                           "it is merged (varnlock merge %2, or start the window, which merges "
                           "it).")
                .arg(copy.otherProtection
                         ? QStringLiteral("a store of another protection, %1").arg(name)
                         : QStringLiteral("a copy a sync tool left, %1").arg(name),
                     quoted));
    }
}
