#include "../common/guiharness.h"

#include "database.h"
#include "settings.h"
#include "stringcipher.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>

namespace {

QColor textColour(const QLabel *label) {
    return label->palette().color(QPalette::WindowText);
}

void clickLabel(QLabel *label) {
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
}

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void labelsCopyAndTurnRed();
    void captureFollowsTheClipboard();
    void ctrlMarksCaptureWithoutPolling();
    void pathPrefill();
    void pathAndHelpGoToTheShell();
    void pathsOpenWhatTheyName_data();
    void pathsOpenWhatTheyName();
    void importOldDatabase();
    void importUnderProgramAndDBase();
    void importMissingFileDoesNothing();
};

void TestClipboard::labelsCopyAndTurnRed() {
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"svc", "bob", "secret pw", "", "/home/bob/notes.txt"});
    QVERIFY(w.Check1->isChecked());
    // Each caption copies its field (the password in clear, though masked)
    // and alone turns red.
    const std::pair<QLabel *, QString> copies[] = {
        {w.Label2, "secret pw"}, {w.Label1, "bob"}, {w.Label5, "/home/bob/notes.txt"}};
    for (const auto &[label, text] : copies) {
        clickLabel(label);
        QCOMPARE(clipboardText(), text);
        for (QLabel *other : {w.Label1, w.Label2, w.Label5})
            QCOMPARE(textColour(other), other == label ? QColor(255, 0, 0) : QColor(0, 0, 0));
    }
    // A spot of the window's own background, right of the "Service" field,
    // clears the clipboard and the mark.
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(295, 12));
    QVERIFY(clipboardText().isEmpty());
    QCOMPARE(textColour(w.Label5), QColor(0, 0, 0));

    // "Service" and "Other Info" copy nothing.
    QGuiApplication::clipboard()->setText("kept");
    clickLabel(w.Label4);
    clickLabel(w.Label3);
    QCOMPARE(clipboardText(), QStringLiteral("kept"));
}

void TestClipboard::captureFollowsTheClipboard() {
    Harness h;
    Chestwrd &w = h.start();
    QGuiApplication::clipboard()->setText("before");
    w.mnuCapture->trigger();
    QVERIFY(w.mnuCapture->isChecked());
    QVERIFY(w.Timer2->isActive());
    QVERIFY(clipboardText().isEmpty());

    // No field chosen yet: the service field takes what is copied.
    QGuiApplication::clipboard()->setText("example.org");
    QTRY_COMPARE(w.Text1[0]->text(), QStringLiteral("example.org"));

    // Focus on the user name: the clipboard is cleared and the field follows it.
    w.Text1[1]->setText("typed");
    w.Text1[1]->setFocus();
    QCOMPARE(w.CaptureField, 1);
    QTRY_VERIFY(w.Text1[1]->text().isEmpty());
    QGuiApplication::clipboard()->setText("bob");
    QTRY_COMPARE(w.Text1[1]->text(), QStringLiteral("bob"));
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("example.org"));
    // Typing is overwritten by the clipboard at the next tick.
    QTest::keyClicks(w.Text1[1], "x");
    QTRY_COMPARE(w.Text1[1]->text(), QStringLiteral("bob"));

    w.Text1[2]->setFocus();
    QGuiApplication::clipboard()->setText("pw1");
    QTRY_COMPARE(w.Text1[2]->text(), QStringLiteral("pw1"));
    QVERIFY(w.mnuAdd->isEnabled()); // captured text follows the field rule

    // Switching capture off stops the polling; the fields keep their text.
    w.mnuCapture->trigger();
    QVERIFY(!w.mnuCapture->isChecked());
    QVERIFY(!w.Timer2->isActive());
    QGuiApplication::clipboard()->setText("later");
    QTest::qWait(50);
    QCOMPARE(w.Text1[2]->text(), QStringLiteral("pw1"));
}

void TestClipboard::ctrlMarksCaptureWithoutPolling() {
    Harness h;
    Chestwrd &w = h.start();
    w.Text1[3]->setFocus();
    h.keyUp(w.Text1[3], Qt::Key_Control);
    QVERIFY(w.mnuCapture->isChecked());
    QVERIFY(!w.Timer2->isActive());

    // Focus still chooses the field and clears the clipboard, and a click pastes.
    QGuiApplication::clipboard()->setText("old");
    w.Text1[1]->setFocus();
    QVERIFY(clipboardText().isEmpty());
    QGuiApplication::clipboard()->setText("pasted");
    QTest::mouseClick(w.Text1[1], Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(w.Text1[1]->text(), QStringLiteral("pasted"));
    QCOMPARE(w.Text1[1]->cursorPosition(), 6);
    QTest::qWait(30);
    QCOMPARE(w.Text1[1]->text(), QStringLiteral("pasted")); // no polling

    // Reset ends it and clears the clipboard.
    w.mnuReset_Click();
    QVERIFY(!w.mnuCapture->isChecked());
    QVERIFY(clipboardText().isEmpty());
    QGuiApplication::clipboard()->setText("free");
    QTest::mouseClick(w.Text1[1], Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(w.Text1[1]->text().isEmpty());
}

void TestClipboard::pathPrefill() {
    Harness h;
    Chestwrd &w = h.start();
    w.Text1[4]->setFocus();
    QCOMPARE(w.Text1[4]->text(), QStringLiteral("http://"));
    QCOMPARE(w.Text1[4]->cursorPosition(), 7);

    // A path that holds text keeps it.
    for (const QString &kept : {QStringLiteral("C:\\notes.txt"), QStringLiteral("https://x.org"),
                                QStringLiteral("http://x.org"), QStringLiteral("/srv/a")}) {
        w.Text1[0]->setFocus();
        w.Text1[4]->setText(kept);
        w.Text1[4]->setFocus();
        QCOMPARE(w.Text1[4]->text(), kept);
    }
}

void TestClipboard::pathAndHelpGoToTheShell() {
    Harness h;
    Chestwrd &w = h.start();
    w.Text1[4]->setText("https://mail.example.org/login");
    // A double click begins with a click.
    clickLabel(w.Label5);
    QTest::mouseDClick(w.Label5, Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(h.opened, QStringList{"https://mail.example.org/login"});
    QCOMPARE(clipboardText(), QStringLiteral("https://mail.example.org/login"));
    QCOMPARE(textColour(w.Label5), QColor(255, 0, 0));
    QVERIFY(h.messages.isEmpty());

    // No help page: nothing is asked of the shell.
    w.mnuHelp->trigger();
    QCOMPARE(h.opened.size(), 1);
    QVERIFY(QDir(h.paths().programFolder).mkpath("Help"));
    writeBytes(h.paths().helpPage(), "<html></html>");
    w.mnuHelp->trigger();
    QCOMPARE(h.opened.size(), 2);
    QCOMPARE(h.opened[1], h.paths().helpPage());
}

void TestClipboard::pathsOpenWhatTheyName_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("opened"); // empty: nothing to open, and the user is told
    QTest::newRow("address") << "https://mail.example.org/login"
                             << "https://mail.example.org/login";
    QTest::newRow("other scheme") << "mailto:ann@example.org"
                                  << "mailto:ann@example.org";
    QTest::newRow("host name") << "www.example.org"
                               << "https://www.example.org";
    QTest::newRow("host, port and path") << "example.org:8080/a?b=1"
                                         << "https://example.org:8080/a?b=1";
    QTest::newRow("home folder") << "~/notes.txt"
                                 << "file://<home>/notes.txt";
    QTest::newRow("home itself") << "~"
                                 << "file://<home>";
    QTest::newRow("existing file") << "<home>/notes.txt"
                                   << "file://<home>/notes.txt";
    QTest::newRow("missing file") << "<home>/gone.txt"
                                  << "";
    QTest::newRow("missing under home") << "~/gone.txt"
                                        << "";
    QTest::newRow("a drive path here") << "C:\\notes.txt"
                                       << "";
    QTest::newRow("one word") << "notes"
                              << "";
    QTest::newRow("blanks in a host") << "www.example .org"
                                      << "";
}

void TestClipboard::pathsOpenWhatTheyName() {
    QFETCH(QString, path);
    QFETCH(QString, opened);
    Harness h;
    const QString home = h.folders.root.path() + "/home";
    QVERIFY(QDir().mkpath(home));
    writeBytes(home + "/notes.txt", "notes");
    const QByteArray homeBefore = qgetenv("HOME");
    qputenv("HOME", home.toLocal8Bit());
    Chestwrd &w = h.start();
    w.Text1[4]->setText(QString(path).replace("<home>", home));
    QTest::mouseDClick(w.Label5, Qt::LeftButton, {}, QPoint(3, 3));
    qputenv("HOME", homeBefore);
    if (opened.isEmpty()) {
        QVERIFY(h.opened.isEmpty());
        QCOMPARE(h.messages.size(), 1);
        QVERIFY(h.messages[0].text.startsWith("There is nothing to open"));
    } else {
        QCOMPARE(h.opened, QStringList{QString(opened).replace("<home>", home)});
        QVERIFY(h.messages.isEmpty());
    }
}

void TestClipboard::importOldDatabase() {
    Harness h;
    writeBytes(h.paths().oldDatabase(),
               storeBytes({"mail:bob:pw1:/home/bob/mail", "bank:ann:pin:http://bank.example:8080/x",
                           "shop:carl:pw3:"}));
    Chestwrd &w = h.start();
    QVERIFY(w.mnuImport->isEnabled());
    w.mnuImport->trigger();
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Information);
    QCOMPARE(h.messages[0].title, QStringLiteral("Varnlock"));
    QCOMPARE(h.messages[0].text, QStringLiteral("Old Database Import Success"));
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));
    const QList<QByteArray> lines{"bank:!ann:!pin:!:!http://bank.example:8080/x",
                                  "mail:!bob:!pw1:!:!/home/bob/mail", "shop:!carl:!pw3:!"};
    QCOMPARE(w.List1().toList(), lines);
    QCOMPARE(h.databaseFile(), storeBytes(lines));
    QVERIFY(w.mnuImport->isEnabled());

    // The web address stays whole, colons and all, and lands in the path
    // like any other last field.
    h.clickRow(0);
    QCOMPARE(w.Text1[2]->text(), QStringLiteral("pin"));
    QVERIFY(w.Text1[3]->text().isEmpty());
    QCOMPARE(w.Text1[4]->text(), QStringLiteral("http://bank.example:8080/x"));

    // Importing again adds the old records a second time, as the command
    // always has.
    w.mnuImport->trigger();
    QCOMPARE(h.names(), (QStringList{"bank", "bank", "mail", "mail", "shop", "shop"}));

    h.start();
    QCOMPARE(h.names(), (QStringList{"bank", "bank", "mail", "mail", "shop", "shop"}));
    QVERIFY(!h.w().mnuImport->isEnabled());
    QCOMPARE(fileBytes(h.paths().oldDatabase()),
             storeBytes({"mail:bob:pw1:/home/bob/mail", "bank:ann:pin:http://bank.example:8080/x",
                         "shop:carl:pw3:"}));
}

void TestClipboard::importUnderProgramAndDBase() {
    Harness h(true);
    QCOMPARE(WriteSettingsFile(h.paths(), BuildSettingsLine(kNeverExpires, "key7", "11-01-2026",
                                                            Scope::ProgramAndDBase)),
             SettingsStatus::Ok);
    writeBytes(h.paths().oldDatabase(), storeBytes({"a:b:c:d"}));
    Chestwrd &w = h.start({"key7"});
    // With no copy yet, start-up says so; the import is still offered.
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].title, QStringLiteral("Error - i67"));
    QVERIFY(w.mnuImport->isEnabled());
    w.mnuImport->trigger();
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[1].text, QStringLiteral("Old Database Import Success"));
    QCOMPARE(h.copyFile(), xorInverted(EncodeLine("a:!b:!c:!:!d"), "key7") + "\r\n");
    QVERIFY(!Platform::exists(h.paths().database()));
    QVERIFY(!Platform::exists(h.paths().tempFile()));
}

void TestClipboard::importMissingFileDoesNothing() {
    Harness h;
    Chestwrd &w = h.start();
    w.mnuImport->trigger();
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(w.List2->count(), 0);
    QVERIFY(!Platform::exists(h.paths().database()));
}

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
