#include "../common/guiharness.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>

// Runs on a real X server (see run-under-xvfb.sh): the clipboard is shared with
// other programs and paths go to the desktop's opener.

namespace {

struct ToolResult {
    int exitCode = -1;
    QByteArray output;
};

// Runs another program while this one keeps serving its events, as it must
// when that program asks for the clipboard this one owns.
ToolResult runTool(const QString &program, const QStringList &args,
                   const QByteArray &input = QByteArray()) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(5000))
        return {};
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < 10000)
        QTest::qWait(10);
    return {process.exitCode(), process.readAllStandardOutput()};
}

QByteArray clipboardSeenByOthers() {
    return runTool("xclip", {"-selection", "clipboard", "-o"}).output;
}

// Copies text in another program, done when this program hears of it: xclip
// returning does not say its copy holds the clipboard yet.
void copyElsewhere(const QByteArray &text) {
    QSignalSpy changed(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    runTool("xclip", {"-selection", "clipboard", "-i"}, text);
    QTRY_VERIFY(!changed.isEmpty());
}

QStringList openerLog() {
    QFile log(qEnvironmentVariable("VARNLOCK_OPENED"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void copiedPasswordReachesOtherPrograms();
    void copiedPasswordIsForgotten();
    void captureTakesTextCopiedElsewhere();
    void pathsReachTheDesktopOpener();
    void windowsDestroyedFromOutside();
};

void TestDesktop::initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(!qEnvironmentVariable("VARNLOCK_OPENED").isEmpty());
}

void TestDesktop::copiedPasswordReachesOtherPrograms() {
    Harness h;
    MainWindow &w = h.start();
    h.fill({"mail", "bob", "Tr0ub4dor&3", "", "/home/bob/notes.txt"});
    // Each caption copies its field (the password in clear, though masked)
    // and alone turns red; "Service" and "Other Info" copy nothing.
    const std::tuple<const char *, const char *, const char *> copies[] = {
        // The caption clicked, what the clipboard then holds, the caption in red.
        {"userNameCaption", "bob", "userNameCaption"},
        {"pathCaption", "/home/bob/notes.txt", "pathCaption"},
        {"serviceCaption", "/home/bob/notes.txt", "pathCaption"},
        {"otherInfoCaption", "/home/bob/notes.txt", "pathCaption"},
        {"passwordCaption", "Tr0ub4dor&3", "passwordCaption"}};
    for (const auto &[caption, text, red] : copies) {
        QTest::mouseClick(part<QLabel>(w, caption), Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(clipboardSeenByOthers(), QByteArray(text));
        for (const char *other : {"userNameCaption", "passwordCaption", "pathCaption"})
            QCOMPARE(part<QLabel>(w, other)->palette().color(QPalette::WindowText),
                     QColor(QByteArrayView(other) == red ? Qt::red : Qt::black));
    }

    // Offered as a secret, so clipboard managers leave it out of their history.
    const QByteArray targets =
        runTool("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"}).output;
    QVERIFY2(targets.contains("x-kde-passwordManagerHint"), targets.constData());
    QCOMPARE(runTool("xclip", {"-selection", "clipboard", "-t", "x-kde-passwordManagerHint", "-o"})
                 .output,
             QByteArray("secret"));

    // A spot of the window's own background, right of the "Service" field,
    // clears it for everyone, and the mark.
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(295, 12));
    QVERIFY(clipboardSeenByOthers().isEmpty());
    QCOMPARE(part<QLabel>(w, "passwordCaption")->palette().color(QPalette::WindowText), Qt::black);
}

void TestDesktop::copiedPasswordIsForgotten() {
    Harness h;
    MainWindow &w = h.start();
    // The delay the window promises, then shortened for the test.
    QCOMPARE(part<SecretClipboard>(w, "clipboard")->forgetTimer.interval(), 20 * 1000);
    part<SecretClipboard>(w, "clipboard")->forgetTimer.setInterval(300);
    h.fill({"mail", "bob", "Tr0ub4dor&3"});
    const auto red = [&] {
        return part<QLabel>(w, "passwordCaption")->palette().color(QPalette::WindowText) == Qt::red;
    };

    // Left alone, it goes after the delay, and the caption turns black.
    QTest::mouseClick(part<QLabel>(w, "passwordCaption"), Qt::LeftButton, {}, QPoint(3, 3));
    QVERIFY(red());
    QTest::qWait(100);
    QCOMPARE(clipboardSeenByOthers(), QByteArray("Tr0ub4dor&3"));
    QTRY_VERIFY(clipboardSeenByOthers().isEmpty());
    QVERIFY(!red());

    // What another program copied since is never wiped.
    QTest::mouseClick(part<QLabel>(w, "passwordCaption"), Qt::LeftButton, {}, QPoint(3, 3));
    copyElsewhere("mine");
    QTest::qWait(600);
    QCOMPARE(clipboardSeenByOthers(), QByteArray("mine"));

    // The end of the program takes it off too.
    QTest::mouseClick(part<QLabel>(w, "passwordCaption"), Qt::LeftButton, {}, QPoint(3, 3));
    part<SecretClipboard>(w, "clipboard")->forgetTimer.setInterval(60000);
    QCOMPARE(clipboardSeenByOthers(), QByteArray("Tr0ub4dor&3"));
    w.close();
    QVERIFY(clipboardSeenByOthers().isEmpty());
}

void TestDesktop::captureTakesTextCopiedElsewhere() {
    // The service field takes what is copied until a field is chosen; a
    // chosen field empties the clipboard, and typing in it is overwritten.
    Harness h;
    MainWindow &w = h.start();
    copyElsewhere("before");
    part<QAction>(w, "captureAction")->trigger();
    QVERIFY(clipboardSeenByOthers().isEmpty());
    copyElsewhere("example.org");
    QTRY_COMPARE(fieldEdit(w, Field::Service)->text(), QStringLiteral("example.org"));
    fieldEdit(w, Field::UserName)->setFocus();
    QVERIFY(clipboardSeenByOthers().isEmpty());
    copyElsewhere("alice@example.org");
    QTRY_COMPARE(fieldEdit(w, Field::UserName)->text(), QStringLiteral("alice@example.org"));
    QTest::keyClicks(fieldEdit(w, Field::UserName), "x");
    QTRY_COMPARE(fieldEdit(w, Field::UserName)->text(), QStringLiteral("alice@example.org"));
    fieldEdit(w, Field::Password)->setFocus();
    copyElsewhere("hunter2");
    QTRY_COMPARE(fieldEdit(w, Field::Password)->text(), QStringLiteral("hunter2"));
    QCOMPARE(h.fields().mid(0, 2), (QStringList{"example.org", "alice@example.org"}));
    QVERIFY(part<QAction>(w, "addAction")->isEnabled()); // captured text follows the field rule
    // The program's own copy is not captured: the password stays out of
    // Other Info, whose text stays as it was, and a click does not paste it.
    fieldEdit(w, Field::OtherInfo)->setFocus();
    fieldEdit(w, Field::OtherInfo)->setText("my notes");
    QTest::mouseClick(part<QLabel>(w, "passwordCaption"), Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(clipboardSeenByOthers(), QByteArray("hunter2"));
    QTest::mouseClick(fieldEdit(w, Field::OtherInfo), Qt::LeftButton);
    QTest::qWait(100);
    QCOMPARE(fieldEdit(w, Field::OtherInfo)->text(), QStringLiteral("my notes"));
    copyElsewhere("elsewhere");
    QTRY_COMPARE(fieldEdit(w, Field::OtherInfo)->text(), QStringLiteral("elsewhere"));

    // Reset ends capture and empties the clipboard for everyone.
    w.reset();
    QVERIFY(!part<QAction>(w, "captureAction")->isChecked());
    QVERIFY(clipboardSeenByOthers().isEmpty());
    copyElsewhere("ignored");
    QTest::qWait(100);
    QVERIFY(fieldEdit(w, Field::Password)->text().isEmpty());
}

void TestDesktop::pathsReachTheDesktopOpener() {
    // What each path becomes is tested without a desktop; here, that an
    // address and a file reach the desktop's real opener.
    Harness h;
    h.realOpener = true;
    MainWindow &w = h.start();
    const QString notes = h.paths().programFolder + "/notes.txt";
    writeBytes(notes, "notes");
    for (const QString &path : {QStringLiteral("https://mail.example.org/login"), notes}) {
        fieldEdit(w, Field::Path)->setText(path);
        QTest::mouseDClick(part<QLabel>(w, "pathCaption"), Qt::LeftButton, {}, QPoint(3, 3));
        QTRY_VERIFY(!openerLog().isEmpty() && openerLog().last().endsWith(path));
    }
    QCOMPARE(openerLog().size(), 2);
    QVERIFY(h.messages.isEmpty());
}

void TestDesktop::windowsDestroyedFromOutside() {
    // Another program destroys the settings window's X window: it counts as
    // closed, and Security shows a new one.
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "key7", 2);
    MainWindow &w = h.start({"key7"});
    QCOMPARE(h.ended, 0);
    SecurityWindow *first = openSettings(w);
    QPointer<SecurityWindow> watched(first);
    QCOMPARE(runTool("xdotool", {"windowclose", QString::number(first->winId())}).exitCode, 0);
    QTRY_VERIFY(watched.isNull());
    w.showSecurity();
    QTRY_VERIFY(w.securityWindow()->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(w.securityWindow()));

    // The start-up prompt destroyed the same way is a refusal: the program
    // ends instead of waiting for ever.
    h.start({"<xdestroy>"});
    QTRY_COMPARE(h.ended, 1);
    QVERIFY(h.w().programEnded());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
