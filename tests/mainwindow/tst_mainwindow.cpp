#include "../common/guiharness.h"

#include <QCheckBox>
#include <QClipboard>

namespace {
const QStringList kNoFields(5, QString());
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void addingWritesTheFile();
    void selection();
    void fieldRule();
    void duplicateAndNoChange();
    void replaceAndRemove();
    void resetAndMask();
    void escapeAndExitEndTheProgram();
    void charactersOutsideTheCodePageAreRefused();
};

void TestMainWindow::addingWritesTheFile() {
    Harness h;
    MainWindow &w = h.start();
    QVERIFY(!Platform::exists(h.paths().database())); // nothing written until a record is
    QCOMPARE(modeOf(h.paths().dataFolder()), 0700);
    h.fill({"Mail, home", "bob", "s3cret", "note", "http://mail.example"});
    h.pressBar(part<QAction>(w, "addAction"));
    QCOMPARE(h.names(), QStringList{"Mail, home"});
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example"}));
    QCOMPARE(modeOf(h.paths().database()), 0600);
    QCOMPARE(h.fields(), kNoFields);
    QCOMPARE(h.commands(), QString());

    // Enter in Other Info adds once the three required fields are filled;
    // Enter in the path never does.
    h.fill({"bank", "ann", "pin"});
    h.type(4, QString()); // the path gets "http://" on focus
    QTest::keyClick(fieldEdit(w, 4), Qt::Key_Return);
    QCOMPARE(part<ServiceList>(w, "recordView")->count(), 1);
    fieldEdit(w, 4)->clear();
    h.type(3, QString());
    QTest::keyClick(fieldEdit(w, 3), Qt::Key_Return);
    QCOMPARE(h.names(), (QStringList{"bank", "Mail, home"}));
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example",
                                           "bank:!ann:!pin:!:!"}));
    h.fill({"shop", "carl", ""});
    h.type(3, QString());
    QTest::keyClick(fieldEdit(w, 3), Qt::Key_Return);
    QCOMPARE(part<ServiceList>(w, "recordView")->count(), 2);
    QVERIFY(h.messages.isEmpty());
}

void TestMainWindow::selection() {
    Harness h(true);
    // A line ended by LF alone, a line without separators, an empty line and
    // a last line without an ending: every record but the empty line is
    // listed, each whole.
    writeBytes(h.paths().database(),
               storeBytes({"mail:!bob:!x1:!:!", "news:!nn:!pp:!oi:!http://n"}) +
                   EncodeLine("half:!hu:!hp") + "\n" + storeBytes({"solo", ""}) +
                   EncodeLine("last:!l, \"x\":!l:!:!"));
    MainWindow &w = h.start();
    QCOMPARE(h.names(), (QStringList{"half", "last", "mail", "news", "solo"}));
    QVERIFY(!part<QAction>(w, "importAction")->isEnabled()); // the records have moved on: no import

    h.clickRow(3);
    QCOMPARE(h.fields(), (QStringList{"news", "nn", "pp", "oi", "http://n"}));
    h.clickRow(1);
    QCOMPARE(h.fields(), (QStringList{"last", "l, \"x\"", "l", "", ""}));
    // The click empties all five fields; nothing after the last separator
    // leaves the path as the click left it, and a short line fills what it
    // reaches.
    h.clickRow(2);
    QCOMPARE(h.fields(), (QStringList{"mail", "bob", "x1", "", ""}));
    QCOMPARE(h.commands(), QStringLiteral("add replace remove"));
    h.clickRow(0);
    QCOMPARE(h.fields(), (QStringList{"half", "hu", "", "", ""}));

    // A right click takes the highlight, and with it Replace and Remove: no
    // command acts on a record that is not shown as selected.
    h.clickRow(2);
    h.clickRow(1, Qt::RightButton);
    QVERIFY(part<ServiceList>(w, "recordView")->selectedRow() < 0);
    QCOMPARE(h.commands(), QStringLiteral("add"));
    QCOMPARE(fieldEdit(w, 0)->text(), QStringLiteral("mail"));

    // Arrow keys move the highlight and empty the fields, and offer no Remove.
    h.clickRow(0);
    part<QAction>(w, "removeAction")->setEnabled(false);
    part<ServiceList>(w, "recordView")->setFocus();
    QTest::keyClick(part<ServiceList>(w, "recordView"), Qt::Key_Down);
    QCOMPARE(w.selectedRecord(), 1);
    QCOMPARE(h.fields(), kNoFields);
    QCOMPARE(h.commands(), QString());
}

void TestMainWindow::fieldRule() {
    Harness h(true);
    MainWindow &w = h.startWith({"svc:!:!:!:!"});
    h.clickRow(0); // Replace needs a record shown as selected, and the fields
    h.type(2, "pw");
    QCOMPARE(h.commands(), QStringLiteral("remove"));
    h.type(1, "u");
    for (int field : {0, 1, 2}) {
        // Deleting the last character of each required field disables both.
        const QString kept = fieldEdit(w, field)->text();
        fieldEdit(w, field)->setFocus();
        fieldEdit(w, field)->end(false);
        for (qsizetype i = kept.size(); i > 1; --i)
            QTest::keyClick(fieldEdit(w, field), Qt::Key_Backspace);
        QCOMPARE(h.commands(), QStringLiteral("add replace remove"));
        QTest::keyClick(fieldEdit(w, field), Qt::Key_Backspace);
        QVERIFY(fieldEdit(w, field)->text().isEmpty());
        QCOMPARE(h.commands(), QStringLiteral("remove"));
        fieldEdit(w, field)->setText(kept); // a change made by the program follows the rule too
        QCOMPARE(h.commands(), QStringLiteral("add replace remove"));
    }
    // Other info and path are optional.
    fieldEdit(w, 3)->setText("x");
    fieldEdit(w, 3)->clear();
    QCOMPARE(h.commands(), QStringLiteral("add replace remove"));
}

void TestMainWindow::duplicateAndNoChange() {
    Harness h;
    MainWindow &w = h.start();
    for (int i = 0; i < 2; ++i) {
        h.fill({"mail", "bob", "pw"});
        w.add();
    }
    const QByteArray file = h.databaseFile();
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].title, QStringLiteral("Varnlock"));
    QCOMPARE(h.messages[0].text, QStringLiteral("There is an identical record already filed"));
    QCOMPARE(part<ServiceList>(w, "recordView")->count(), 1);
    QCOMPARE(fieldEdit(w, 0)->text(), QStringLiteral("mail")); // kept for the user to change

    h.clickRow(0);
    w.replaceSelected();
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[1].text, QStringLiteral("There were no changes"));
    QCOMPARE(h.databaseFile(), file);

    // Records that differ in letter case alone are different records: both
    // are stored, listed in a fixed order, and each is replaced on its own.
    h.fill({"MAIL", "bob", "pw"});
    w.add();
    h.fill({"mail", "Bob", "pw"});
    w.add();
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.names(), (QStringList{"MAIL", "mail", "mail"}));
    h.clickRow(2);
    QCOMPARE(h.fields()[1], QStringLiteral("bob"));
    fieldEdit(w, 2)->setText("pw2");
    w.replaceSelected();
    // The whole line orders them, letter case ignored: "pw2" before "pw:".
    const QByteArray expected =
        storeBytes({"mail:!bob:!pw2:!:!", "MAIL:!bob:!pw:!:!", "mail:!Bob:!pw:!:!"});
    QCOMPARE(h.databaseFile(), expected);
    QCOMPARE(w.selectedRecord(), 0);
    // Replaced by the text of another record: no change, never a duplicate.
    fieldEdit(w, 0)->setText("MAIL");
    fieldEdit(w, 2)->setText("pw");
    w.replaceSelected();
    QCOMPARE(h.messages.size(), 3);
    QCOMPARE(h.databaseFile(), expected);
    h.start();
    QCOMPARE(h.names(), (QStringList{"mail", "MAIL", "mail"}));
    QCOMPARE(h.w().records().line(0), QByteArrayView("mail:!bob:!pw2:!:!"));
}

void TestMainWindow::replaceAndRemove() {
    Harness h(true);
    // Longer than an edit box holds by default.
    const QByteArray note(40000, 'n');
    MainWindow &w = h.startWith({"alpha:!a:!1:!" + note + ":!", "beta:!b:!2:!:!"});
    h.clickRow(0);
    fieldEdit(w, 0)->setText("zulu");
    h.pressBar(part<QAction>(w, "replaceAction"));
    QCOMPARE(h.names(), (QStringList{"beta", "zulu"}));
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!1:!" + note + ":!"}));
    // The selection follows the record, so a second replace changes it again.
    QCOMPARE(w.selectedRecord(), 1);
    fieldEdit(w, 2)->setText("11");
    w.replaceSelected();
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!11:!" + note + ":!"}));

    h.clickRow(0);
    h.pressBar(part<QAction>(w, "removeAction"));
    QCOMPARE(h.names(), QStringList{"zulu"});
    QCOMPARE(h.databaseFile(), storeBytes({"zulu:!a:!11:!" + note + ":!"}));
    QCOMPARE(h.commands(), QString());
    w.removeSelected(); // nothing selected: nothing happens, and it says so
    QCOMPARE(h.names(), QStringList{"zulu"});
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.startsWith("Nothing was removed: no record is selected."));
}

void TestMainWindow::resetAndMask() {
    Harness h(true);
    MainWindow &w =
        h.startWith({"a:!1:!abc:!a rather long note that does not fit the box at all:!"});
    h.clickRow(0);
    QCOMPARE(fieldEdit(w, 2)->displayText(), QStringLiteral("***"));
    part<QCheckBox>(w, "hidePassword")->setChecked(false);
    QCOMPARE(fieldEdit(w, 2)->displayText(), QStringLiteral("abc"));
    // A field too narrow for its text shows it whole as a tip.
    QTest::mouseMove(fieldEdit(w, 3), QPoint(5, 5));
    QTest::mouseMove(fieldEdit(w, 3), QPoint(8, 6));
    QCOMPARE(fieldEdit(w, 3)->toolTip(), fieldEdit(w, 3)->text());

    w.toggleCapture();
    QGuiApplication::clipboard()->setText("held");
    h.pressBar(part<QAction>(w, "resetAction"));
    QCOMPARE(h.fields(), kNoFields);
    QVERIFY(part<QCheckBox>(w, "hidePassword")->isChecked());
    QVERIFY(part<ServiceList>(w, "recordView")->selectedRow() < 0);
    QCOMPARE(h.commands(), QString());
    QVERIFY(!part<QAction>(w, "captureAction")->isChecked());
    QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
}

void TestMainWindow::escapeAndExitEndTheProgram() {
    // Escape in a field or the list, Exit, and closing the window.
    const std::function<void(Harness &, MainWindow &)> ways[] = {
        [](Harness &h, MainWindow &w) { h.keyUp(fieldEdit(w, 1), Qt::Key_Escape); },
        [](Harness &h, MainWindow &w) {
            h.keyUp(part<ServiceList>(w, "recordView"), Qt::Key_Escape);
        },
        [](Harness &, MainWindow &w) { part<QAction>(w, "exitAction")->trigger(); },
        [](Harness &, MainWindow &w) { w.close(); }};
    for (const auto &end : ways) {
        Harness h;
        MainWindow &w = h.start();
        end(h, w);
        QCOMPARE(h.ended, 1);
        QVERIFY(!w.isVisible());
        QVERIFY(h.messages.isEmpty());
    }
}

void TestMainWindow::charactersOutsideTheCodePageAreRefused() {
    Harness h(true);
    MainWindow &w = h.startWith({"alpha:!a:!1:!:!"});
    // Windows-1252 holds these: they are stored as typed.
    h.fill({"cafe", "u", "p"});
    fieldEdit(w, 0)->setText(QString::fromUtf8("caf\u00e9 \u20ac"));
    w.add();
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(h.databaseFile(), storeBytes({"alpha:!a:!1:!:!", "caf\xE9 \x80:!u:!p:!:!"}));
    const QByteArray withCafe = h.databaseFile();

    h.fill({"shop", "bob", "pw"});
    fieldEdit(w, 3)->setText(QString::fromUtf8("\u65e5\u672c"));
    w.add();
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.contains(QString::fromUtf8("Other Info field holds \"\u65e5\"")));
    QCOMPARE(fieldEdit(w, 3)->text(), QString::fromUtf8("\u65e5\u672c"));
    h.clickRow(0);
    fieldEdit(w, 2)->setText(QString::fromUtf8("z\u01421"));
    w.replaceSelected();
    QCOMPARE(h.messages.size(), 2);
    QVERIFY(h.messages[1].text.contains(QString::fromUtf8("Password field holds \"\u0142\"")));
    QCOMPARE(h.databaseFile(), withCafe);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
