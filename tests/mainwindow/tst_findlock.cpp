#include "../common/guiharness.h"

#include "csvimportwindow.h"
#include "idlewatch.h"
#include "recordfind.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>

// The find line under the list, and the lock after a while without input.

namespace {

const QList<QByteArray> kRecords{"Bank:!ann:!Secret1:!savings:!https://bank.example",
                                 "mail:!BOB:!hunter2:!:!", "shop:!carl:!pw:!note MAIL:!/srv/shop",
                                 "zeta:!z:!bank9:!:!"};

// Types into the find line as the keyboard does, replacing what it held.
void find(MainWindow &w, const QString &text) {
    part<QLineEdit>(w, "findLine")->selectAll();
    QTest::keyClick(part<QLineEdit>(w, "findLine"), Qt::Key_Delete);
    QTest::keyClicks(part<QLineEdit>(w, "findLine"), text);
}

} // namespace

class TestFindLock : public QObject {
    Q_OBJECT
private slots:
    void findKeepsUpWithTyping();
    void listFollowsEachCommandInPlace();
    void idleWindowLocks_data();
    void idleWindowLocks();
    void inputPutsTheLockOff();
};

void TestFindLock::findKeepsUpWithTyping() {
    // Many records: keys typed faster than a search are searched once, for
    // the last text, and Enter acts on the rows of that text.
    QList<QByteArray> many;
    for (int i = 0; i < 70000; ++i)
        many << "svc" + QByteArray::number(i) + ":!u:!p:!:!";
    Harness h(true);
    MainWindow &w = h.startWith(many);
    w.openFind();
    QTest::keyClicks(part<QLineEdit>(w, "findLine"), "SVC6999");
    QCOMPARE(part<ServiceList>(w, "recordView")->count(), 70000); // typing never waited
    QTest::keyClick(part<QLineEdit>(w, "findLine"), Qt::Key_Return);
    QCOMPARE(h.names().size(), 11);
    QCOMPARE(h.names().last(), QStringLiteral("svc6999")); // "svc69990:!" sorts before "svc6999:!"
    QCOMPARE(fieldEdit(w, Field::Service)->text(), QStringLiteral("svc69990"));
    QCOMPARE(h.commands(), QStringLiteral("add replace remove")); // as a click on it would
}

void TestFindLock::listFollowsEachCommandInPlace() {
    // Add, Replace and Remove move one row in or out, with the find line
    // empty or narrowing the list, and the rows always show what the records
    // and the text say. (An Add the text would hide empties the line.)
    for (const QString &text : {QString(), QStringLiteral("mail")}) {
        Harness h(true);
        MainWindow &w = h.startWith(kRecords);
        find(w, text);
        QSignalSpy resets(part<ServiceList>(w, "recordView")->model(),
                          &QAbstractItemModel::modelReset);
        const auto expected = [&] {
            QStringList names;
            const QByteArray shown = part<QLineEdit>(w, "findLine")->text().toLatin1();
            for (const qsizetype record : FindRecords(w.records(), shown))
                names << QString::fromLatin1(w.records().serviceName(record));
            return names;
        };
        // A row clicked first (-1 none, -2 the last), the fields typed, the command.
        const std::tuple<int, QStringList, QString> commands[] = {
            {-1, {"Amail", "a", "1"}, "add"}, // in, before the rest
            {0, {"yy", "a", "1"}, "replace"}, // out, in
            {-2, {}, "remove"},
            {-1, {"mail2", "MAIL", "2"}, "add"},
            {-1, {"nomatch", "n", "1"}, "add"}};
        for (const auto &[row, fields, command] : commands) {
            const QString before = part<QLineEdit>(w, "findLine")->text();
            const qsizetype resetsBefore = resets.count();
            if (row != -1)
                h.clickRow(row == -2 ? int(h.names().size()) - 1 : row);
            if (!fields.isEmpty())
                h.fill(fields);
            part<QAction>(w, command + "Action")->trigger();
            QVERIFY2(h.names() == expected(),
                     qPrintable(text + ": " + h.names().join(",") + " / " + expected().join(",") +
                                " / " + (h.messages.isEmpty() ? QString() : h.messages[0].text)));
            if (part<QLineEdit>(w, "findLine")->text() == before)
                QCOMPARE(resets.count(), resetsBefore);
        }
        // The last Add stored a record the text would hide: the line was emptied.
        QCOMPARE(part<QLineEdit>(w, "findLine")->text(), QString());
        QVERIFY(h.messages.isEmpty());
    }
    // The list narrows with each key, and widens again on Backspace and on a
    // text typed over the last one.
    Harness h(true);
    MainWindow &w = h.startWith(kRecords);
    w.openFind();
    const std::pair<const char *, QStringList> steps[] = {
        {"ba", {"Bank"}},
        {"<bs>", {"Bank", "mail"}},
        {"=sh", {"shop"}},
        {"o", {"shop"}},
        {"<bs>", {"shop"}},
        {"<bs>", {"Bank", "shop"}},
        {"<bs>", {"Bank", "mail", "shop", "zeta"}},
        {"=MAIL", {"mail", "shop"}}};
    for (const auto &[keys, names] : steps) {
        QLineEdit *line = part<QLineEdit>(w, "findLine");
        if (QByteArrayView(keys) == "<bs>")
            QTest::keyClick(line, Qt::Key_Backspace);
        else if (keys[0] == '=')
            find(w, QString::fromLatin1(keys + 1));
        else
            QTest::keyClicks(line, QString::fromLatin1(keys));
        QVERIFY2(h.names() == names, qPrintable(line->text() + ": " + h.names().join(',')));
    }
}

void TestFindLock::idleWindowLocks_data() {
    QTest::addColumn<int>("scope");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<QString>("locker"); // a screen locker's D-Bus interface, or the idle wait
    // What is open when the lock is due: a real message box, the settings
    // window showing the stored password, the CSV preview, a stored record
    // shown in the fields, or only text typed into them.
    QTest::addColumn<QString>("open");
    QTest::newRow("program only, right password") << 2 << QStringList{"key7"} << false << ""
                                                  << "typed";
    // The password is compared whole: one that only begins or ends like it
    // is another password.
    QTest::newRow("program and records, near misses then right")
        << 1 << QStringList{"key7x", "key", "key7"} << false << ""
        << "typed";
    QTest::newRow("three wrong tries") << 2 << QStringList{"a", "b", "c"} << true << ""
                                       << "typed";
    QTest::newRow("no password: never locks") << 0 << QStringList{} << false << ""
                                              << "typed";
    QTest::newRow("a message box up") << 2 << QStringList{"key7"} << false << ""
                                      << "message";
    QTest::newRow("the settings window up") << 2 << QStringList{"key7"} << false << ""
                                            << "settings";
    QTest::newRow("the CSV preview up") << 1 << QStringList{"key7"} << false << ""
                                        << "preview";
    QTest::newRow("a record shown") << 1 << QStringList{"key7"} << false << ""
                                    << "shown";
    QTest::newRow("the password health report up") << 2 << QStringList{"key7"} << false << ""
                                                   << "health";
    // Capture on: what is copied while locked must not land in a field unseen.
    QTest::newRow("capture on") << 2 << QStringList{"key7"} << false << ""
                                << "capture";
    QTest::newRow("freedesktop screen locker")
        << 2 << QStringList{"key7"} << false << "org.freedesktop.ScreenSaver"
        << "message";
    QTest::newRow("GNOME screen locker")
        << 1 << QStringList{"key7"} << false << "org.gnome.ScreenSaver"
        << "typed";
}

void TestFindLock::idleWindowLocks() {
    QFETCH(int, scope);
    QFETCH(QStringList, answers);
    QFETCH(bool, ends);
    QFETCH(QString, locker);
    QFETCH(QString, open);
    if (!locker.isEmpty() && qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("no session bus (run under dbus-run-session)");
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, scope ? "key7" : kUnsetPassword, scope);
    QCOMPARE(RewriteDatabase(h.paths(), ScopeFromDigit(char('0' + scope)), kRecords, "key7"),
             StoreStatus::Ok);
    MainWindow &w = h.start(scope ? QStringList{"key7"} : QStringList{});
    h.fill({"typed", "not", "stored"});
    QString copied; // a record shown has its password copied too
    if (open == "shown") {
        h.clickRow(0);
        QTest::mouseClick(part<QLabel>(w, "passwordCaption"), Qt::LeftButton, {}, QPoint(3, 3));
        copied = QGuiApplication::clipboard()->text();
        QVERIFY(!copied.isEmpty());
    }
    if (open == "capture") {
        part<QAction>(w, "captureAction")->trigger();
        fieldEdit(w, Field::OtherInfo)->setFocus();
        QVERIFY(part<QAction>(w, "captureAction")->isChecked());
    }
    const QStringList fieldsBefore = h.fields();
    QLineEdit *settingsBox = nullptr;
    if (open == "settings")
        settingsBox = part<QLineEdit>(openSettings(w), "passwordEdit");
    if (open == "preview") {
        const QString csv = h.folders.paths.programFolder + "/in.csv";
        writeBytes(csv, "name,login_username,login_password\r\nnew,u,p\r\n");
        h.chosenFiles = {csv};
        w.importCsv();
        QTRY_VERIFY(w.csvImportWindow() && w.csvImportWindow()->isVisible());
    }
    const auto before = snapshot(h.folders);
    // The prompt runs its own loop: what the locked window looks like is
    // seen from a timer, which then lets the answers go.
    bool sawLocked = false, wroteNothing = false, heldNothing = false, onlyThePrompt = false;
    bool boxReturned = false, boxUpAtTheLock = false, lockedInTime = false;
    QElapsedTimer sinceDue;
    QTimer look;
    look.setInterval(0);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!w.passwordPrompt() || !w.passwordPrompt()->isVisible() || !h.promptEntries.isEmpty() ||
            sawLocked)
            return;
        sawLocked = w.locked() && !w.isVisible();
        boxUpAtTheLock = !boxReturned; // the box's command is still waiting on it
        lockedInTime = sinceDue.isValid() && sinceDue.elapsed() < 3000;
        wroteNothing = snapshot(h.folders) == before;
        // No record, no password and no stored text left to read, nor a
        // password on the clipboard.
        heldNothing = w.records().isEmpty() && w.session().key().isEmpty() &&
                      w.session().settings().password.isEmpty() &&
                      (!settingsBox || settingsBox->text().isEmpty()) &&
                      (open != "shown" || h.fields().join("").isEmpty()) &&
                      (copied.isEmpty() || QGuiApplication::clipboard()->text() != copied);
        if (open == "capture")
            QGuiApplication::clipboard()->setText(QStringLiteral("copied while locked"));
        onlyThePrompt = QApplication::activeModalWidget() == w.passwordPrompt() &&
                        !(w.csvImportWindow() && w.csvImportWindow()->isVisible()) &&
                        !(w.securityWindow() && w.securityWindow()->isVisible());
        // Copied while locked: the answer waits for capture to have had its turns.
        QTimer::singleShot(open == "capture" ? 200 : 0, &w, [&] { h.promptEntries = answers; });
    });
    look.start();
    // A box that waits on the user until it is answered, as a real one does;
    // the lock comes while it is up (the test waits inside the box's loop).
    if (open == "message") {
        h.realMessages = true;
        QTimer::singleShot(0, &w, [&] {
            w.replaceSelected(); // "Nothing was replaced: no record is selected."
            boxReturned = true;
        });
    }
    if (open == "health") {
        h.onDialog = [](QDialog &dialog) { return dialog.exec(); };
        QTimer::singleShot(0, &w, [&] {
            w.showHealth();
            boxReturned = true;
        });
    }
    // A lock that never comes must fail the test, not leave the box up for ever.
    QTimer::singleShot(8000, &w, [&] {
        if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            box && box != w.passwordPrompt())
            box->reject();
    });
    QTimer::singleShot(150, &w, [&] {
        QVERIFY(open != "message" || QApplication::activeModalWidget());
        sinceDue.start();
        if (locker.isEmpty()) {
            // The five minutes, shortened.
            w.idleWatch()->timer.setInterval(100);
            w.idleWatch()->timer.start();
        } else {
            // The desktop's locker says the screen is locked.
            QString path = '/' + locker;
            path.replace('.', '/');
            QProcess::startDetached("dbus-send", {"--session", "--type=signal", path,
                                                  locker + ".ActiveChanged", "boolean:true"});
        }
    });
    QTest::qWait(200);
    if (scope == 0) {
        QTest::qWait(400);
        QVERIFY(!w.locked());
        QVERIFY(w.isVisible());
        return;
    }
    QTRY_VERIFY(sawLocked);
    QVERIFY(wroteNothing);
    QVERIFY(heldNothing);
    QVERIFY(onlyThePrompt);
    QVERIFY((open != "message" && open != "health") || boxUpAtTheLock);
    QVERIFY(lockedInTime);
    if (ends) {
        QTRY_COMPARE(h.ended, 1);
        return;
    }
    QTRY_VERIFY(!w.locked());
    QCOMPARE(h.promptsAnswered, 1 + int(answers.size()));
    QVERIFY(w.isVisible());
    // What was typed is back, a stored record shown is not; the records are
    // read again, and with none selected only Add is offered.
    const QStringList emptied{"", "", "", "", ""};
    if (open == "capture")
        QTest::qWait(50); // capture's turns after the unlock, within the shortened idle wait
    QCOMPARE(h.fields(), open == "shown" ? emptied : fieldsBefore);
    QVERIFY(!part<QAction>(w, "captureAction")->isChecked()); // the lock ended it
    QCOMPARE(h.names().size(), 4);
    QCOMPARE(h.commands(), open == "shown" ? QString() : QStringLiteral("add"));
    if (open == "message" || open == "health")
        QTRY_VERIFY(boxReturned); // answered as OK (the report closed): nothing more happened
    if (open == "settings") {
        QVERIFY(w.securityWindow()->isVisible());
        QCOMPARE(settingsBox->text(), QStringLiteral("key7"));
    }
    QVERIFY(!w.csvImportWindow() || !w.csvImportWindow()->isVisible());
    QCOMPARE(snapshot(h.folders), before);
}

void TestFindLock::inputPutsTheLockOff() {
    // The while without input starts again at each key and click: someone
    // at work in the window is never locked out mid-word; the lock comes
    // once they stop.
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "key7", 2);
    QCOMPARE(RewriteDatabase(h.paths(), Scope::ProgramOnly, kRecords, "key7"), StoreStatus::Ok);
    MainWindow &w = h.start({"key7"});
    h.promptEntries = {"key7"}; // for the lock, when it comes
    // The wait the window promises, running from the start; then shortened.
    QCOMPARE(w.idleWatch()->timer.interval(), 5 * 60 * 1000);
    QVERIFY(w.idleWatch()->timer.isActive());
    w.idleWatch()->timer.setInterval(300);
    w.idleWatch()->timer.start();
    QWidget *list = part<ServiceList>(w, "recordView")->viewport();
    for (int i = 0; i < 16; ++i) { // keys for 0.8 s, then clicks, one each 100 ms
        if (i >= 8)
            QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(5, 5));
        else
            QTest::keyClick(fieldEdit(w, Field::OtherInfo), Qt::Key_A);
        QTest::qWait(100);
        QCOMPARE(h.promptsAnswered, 1);
    }
    QTRY_COMPARE(h.promptsAnswered, 2);
    QTRY_VERIFY(!w.locked());
}

QTEST_MAIN(TestFindLock)
#include "tst_findlock.moc"
