// clip: a field on the clipboard for a while, then what was there before.
#include "clipboard.h"
#include "clipboardhandover.h"
#include "recordcommands.h"

#include "ansi.h"
#include "recordline.h"
#include "session.h"
#include "terminal.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void Interrupted(int) {
    g_interrupted = 1;
}

} // namespace

int ClipCommand(Session &session, const CommandArguments &args) {
    if (const std::optional<QString> problem = ClipUsageProblem(args)) {
        Say(*problem);
        return kExitUsage;
    }
    Field field = Field::Password;
    if (args.given("field"))
        FieldByOptionName(args.value("field"), field);
    const int seconds = args.given("timeout") ? args.value("timeout").toInt() : 20;
    const RecordList &records = session.records();
    int code = kExitOk;
    const std::optional<qsizetype> index = PickRecord(records, args, code);
    if (!index)
        return code;
    RecordFields fields;
    SplitRecordLine(records.line(*index), fields);
    QString secret = Ansi::toUnicode(fields[field]);
    const QString what =
        QStringLiteral("The %1 of %2")
            .arg(FieldCaption(field).toString().toLower(), Ansi::toUnicode(fields[Field::Service]));
    session.forgetRecords(); // only the one field is needed from here on

    QClipboard *clipboard = QGuiApplication::clipboard();
    // A secret copied before (by an earlier clip, the window, another password
    // program) is not put back: unmarked and held by a process of ours, it
    // would outlive the clearing its owner meant for it.
    const bool beforeWasSecret = MarkedSecret(clipboard->mimeData());
    const QString before = beforeWasSecret ? QString() : clipboard->text();
    SecretClipboard secrets;
    secrets.copySecret(secret);
    secrets.forgetTimer.stop();
    if (seconds == 0) {
        // Kept until another program takes the clipboard: a process of its
        // own holds it, so the terminal is free.
        const bool held = HandOverClipboard(secret, true);
        if (!held)
            secrets.leave(); // where the clipboard outlives the program, it stays there
        secret.fill(u'\0');
        Print(held ? what + QStringLiteral(" is on the clipboard until something else is copied.\n")
                   : what + QStringLiteral(" is on the clipboard.\n"));
        return kExitOk;
    }
    // Ctrl+C, a kill or the terminal closed: the clipboard is still cleared.
    std::signal(SIGINT, Interrupted);
    std::signal(SIGTERM, Interrupted);
#ifdef SIGHUP
    std::signal(SIGHUP, Interrupted);
#endif
    const bool terminal = ErrorIsTerminal();
    if (!terminal)
        Print(what + QStringLiteral(" is on the clipboard for %1 s.\n").arg(seconds));
    QElapsedTimer clock;
    clock.start();
    enum class Ending { TimeUp, Replaced, Interrupted } ending = Ending::TimeUp;
    QTimer tick;
    int shown = -1;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int left = seconds - int(clock.elapsed() / 1000);
        if (g_interrupted)
            ending = Ending::Interrupted;
        else if (!secrets.holdsOurs())
            ending = Ending::Replaced;
        else if (left > 0) {
            if (terminal && left != shown) {
                shown = left;
                std::fprintf(stderr, "\r%s is on the clipboard: cleared in %d s ",
                             ShownOnTerminal(what.toLocal8Bit()).constData(), left);
                std::fflush(stderr);
            }
            return;
        }
        QCoreApplication::quit();
    });
    tick.start(100);
    QCoreApplication::exec();
    tick.stop();
    if (terminal)
        std::fprintf(stderr, "\n");
    secret.fill(u'\0');
    if (ending == Ending::Replaced) {
        Print(QStringLiteral("The clipboard holds something copied since: it is left as it is.\n"));
        return kExitOk;
    }
    // Still ours: the text of before comes back, held by a process of its
    // own so that it outlives this one, or the clipboard is emptied.
    bool restored = false;
    if (!before.isEmpty() && secrets.holdsOurs()) {
        restored = HandOverClipboard(before, false);
        if (!restored) {
            clipboard->setText(before);
            restored = true;
        }
    } else {
        secrets.forgetOurs();
    }
    Print(restored          ? QStringLiteral("The clipboard is cleared, and holds again what it "
                                                      "held before.\n")
          : beforeWasSecret ? QStringLiteral("The clipboard is cleared. What it held before was "
                                             "a secret, so it is not put back.\n")
                            : QStringLiteral("The clipboard is cleared.\n"));
    return ending == Ending::Interrupted ? kExitFailed : kExitOk;
}
