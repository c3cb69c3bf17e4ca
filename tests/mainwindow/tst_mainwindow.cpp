#include "../common/guiharness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

namespace {
const QStringList kNoFields(5, QString());
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void firstStart();
    void addingWritesTheFile();
    void restartKeepsRecordsAndOrder();
    void selection();
    void fieldRule();
    void altJumps();
    void duplicateAndNoChange();
    void replaceAndRemove();
    void resetAndMask();
    void escapeAndExitEndTheProgram();
    void charactersOutsideTheCodePageAreRefused();
    void layoutShowsWholeThings();
};

void TestMainWindow::firstStart() {
    Harness h;
    Chestwrd &w = h.start();
    QCOMPARE(w.windowTitle(), QStringLiteral("V.L."));
    QCOMPARE(modeOf(h.paths().dataFolder()), 0700);
    QVERIFY(w.mnuImport->isEnabled());
    QVERIFY(!w.mnuAdd->isEnabled() && !w.mnuReplace->isEnabled() && !w.mnuRemove->isEnabled());
    QVERIFY(!Platform::exists(h.paths().database())); // nothing written until a record is

    // A drop-down and four commands on the bar, none with a shortcut key.
    QStringList items;
    for (QAction *a : w.menuBar()->actions() + w.mnuMenu->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QVERIFY(a->shortcut().isEmpty());
    }
    QCOMPARE(items, (QStringList{"&Menu", "&Add", "R&eplace", "Remo&ve", "&Reset", "&Configure",
                                 "&Security", "&Capture", "-", "&Import", "-", "&Help", "A&bout",
                                 "E&xit"}));
}

void TestMainWindow::addingWritesTheFile() {
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"Mail, home", "bob", "s3cret", "note", "http://mail.example"});
    h.pressBar(w.mnuAdd);
    QCOMPARE(h.names(), QStringList{"Mail, home"});
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example"}));
    QCOMPARE(modeOf(h.paths().database()), 0600);
    QCOMPARE(h.fields(), kNoFields);
    QVERIFY(!w.mnuAdd->isEnabled());

    // Enter in Other Info adds once the three required fields are filled;
    // Enter in the path never does.
    h.fill({"bank", "ann", "pin"});
    h.type(4, QString()); // the path gets "http://" on focus
    QTest::keyClick(w.Text1[4], Qt::Key_Return);
    QCOMPARE(w.List2->count(), 1);
    w.Text1[4]->clear();
    h.type(3, QString());
    QTest::keyClick(w.Text1[3], Qt::Key_Return);
    QCOMPARE(h.names(), (QStringList{"bank", "Mail, home"}));
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example",
                                           "bank:!ann:!pin:!:!"}));
    h.fill({"shop", "carl", ""});
    h.type(3, QString());
    QTest::keyClick(w.Text1[3], Qt::Key_Return);
    QCOMPARE(w.List2->count(), 2);
    QVERIFY(h.messages.isEmpty());
}

void TestMainWindow::restartKeepsRecordsAndOrder() {
    Harness h;
    h.start();
    for (const QStringList &r : QList<QStringList>{{"zeta", "z", "1"},
                                                   {"Alpha", "a", "2", "x,y \"quoted\""},
                                                   {"mail!", "m", "3"},
                                                   {"mail", "m", "4", "", "C:\\notes.txt"}}) {
        h.fill(r);
        h.w().mnuAdd_Click();
    }
    // Sorted by the whole record line: "mail!:!" comes before "mail:!".
    const QStringList before{"Alpha", "mail!", "mail", "zeta"};
    QCOMPARE(h.names(), before);
    const QByteArray file = h.databaseFile();

    h.start();
    QCOMPARE(h.names(), before);
    QCOMPARE(h.databaseFile(), file);               // reading writes nothing
    for (int row = 0; row < before.size(); ++row) { // each name opens its own record
        h.clickRow(row);
        QCOMPARE(h.w().Text1[0]->text(), before[row]);
    }
    h.clickRow(0);
    QCOMPARE(h.w().Text1[3]->text(), QStringLiteral("x,y \"quoted\""));
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
    Chestwrd &w = h.start();
    QCOMPARE(h.names(), (QStringList{"half", "last", "mail", "news", "solo"}));
    QVERIFY(!w.mnuImport->isEnabled()); // the records have moved on: no import

    h.clickRow(3);
    QCOMPARE(h.fields(), (QStringList{"news", "nn", "pp", "oi", "http://n"}));
    h.clickRow(1);
    QCOMPARE(h.fields(), (QStringList{"last", "l, \"x\"", "l", "", ""}));
    // The click empties all five fields; nothing after the last separator
    // leaves the path as the click left it, and a short line fills what it
    // reaches.
    h.clickRow(2);
    QCOMPARE(h.fields(), (QStringList{"mail", "bob", "x1", "", ""}));
    QVERIFY(w.mnuRemove->isEnabled() && w.mnuReplace->isEnabled() && w.mnuAdd->isEnabled());
    h.clickRow(0);
    QCOMPARE(h.fields(), (QStringList{"half", "hu", "", "", ""}));

    // A right click takes the highlight, and with it Replace and Remove: no
    // command acts on a record that is not shown as selected.
    h.clickRow(2);
    h.clickRow(1, Qt::RightButton);
    QVERIFY(w.List2->selectedRow() < 0);
    QVERIFY(!w.mnuRemove->isEnabled() && !w.mnuReplace->isEnabled() && w.mnuAdd->isEnabled());
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("mail"));

    // Arrow keys move the highlight and empty the fields, and offer no Remove.
    h.clickRow(0);
    w.mnuRemove->setEnabled(false);
    w.List2->setFocus();
    QTest::keyClick(w.List2, Qt::Key_Down);
    QCOMPARE(w.SelectedIndex, 1);
    QCOMPARE(h.fields(), kNoFields);
    QVERIFY(!w.mnuRemove->isEnabled() && !w.mnuAdd->isEnabled());
}

void TestMainWindow::fieldRule() {
    Harness h(true);
    Chestwrd &w = h.startWith({"svc:!:!:!:!"});
    h.clickRow(0); // Replace needs a record shown as selected, and the fields
    h.type(2, "pw");
    QVERIFY(!w.mnuAdd->isEnabled() && !w.mnuReplace->isEnabled());
    h.type(1, "u");
    for (int field : {0, 1, 2}) {
        // Deleting the last character of each required field disables both.
        const QString kept = w.Text1[field]->text();
        w.Text1[field]->setFocus();
        w.Text1[field]->end(false);
        for (qsizetype i = kept.size(); i > 1; --i)
            QTest::keyClick(w.Text1[field], Qt::Key_Backspace);
        QVERIFY(w.mnuAdd->isEnabled() && w.mnuReplace->isEnabled());
        QTest::keyClick(w.Text1[field], Qt::Key_Backspace);
        QVERIFY(w.Text1[field]->text().isEmpty());
        QVERIFY(!w.mnuAdd->isEnabled() && !w.mnuReplace->isEnabled());
        w.Text1[field]->setText(kept); // a change made by the program follows the rule too
        QVERIFY(w.mnuAdd->isEnabled() && w.mnuReplace->isEnabled());
    }
    // Other info and path are optional.
    w.Text1[3]->setText("x");
    w.Text1[3]->clear();
    QVERIFY(w.mnuAdd->isEnabled());
}

void TestMainWindow::altJumps() {
    Harness h;
    Chestwrd &w = h.start();
    // Alt arms the jumps until another key disarms them; Ctrl neither arms
    // nor disarms, and only marks capture. Each step: the key, then the field
    // that has the focus.
    const std::pair<Qt::Key, int> steps[] = {{Qt::Key_Alt, 3},     {Qt::Key_P, 2}, {Qt::Key_U, 1},
                                             {Qt::Key_R, 4},       {Qt::Key_O, 3}, {Qt::Key_S, 0},
                                             {Qt::Key_X, 0},       {Qt::Key_U, 0}, {Qt::Key_Alt, 0},
                                             {Qt::Key_Control, 0}, {Qt::Key_P, 2}};
    w.Text1[3]->setFocus();
    for (const auto &[key, field] : steps) {
        h.keyUp(QApplication::focusWidget(), key);
        QVERIFY(w.Text1[field]->hasFocus());
    }
    QVERIFY(w.mnuCapture->isChecked());
    QVERIFY(!w.Timer2->isActive());

    // Alt reaches the field: the menu bar does not take the focus.
    w.Text1[1]->setFocus();
    QTest::keyClick(w.Text1[1], Qt::Key_Alt);
    QVERIFY(w.Text1[1]->hasFocus());
    QTest::keyClick(w.Text1[1], Qt::Key_S);
    QVERIFY(w.Text1[0]->hasFocus());
}

void TestMainWindow::duplicateAndNoChange() {
    Harness h;
    Chestwrd &w = h.start();
    for (int i = 0; i < 2; ++i) {
        h.fill({"mail", "bob", "pw"});
        w.mnuAdd_Click();
    }
    const QByteArray file = h.databaseFile();
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Information);
    QCOMPARE(h.messages[0].title, QStringLiteral("Varnlock"));
    QCOMPARE(h.messages[0].text, QStringLiteral("There is an identical record already filed"));
    QCOMPARE(w.List2->count(), 1);
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("mail")); // kept for the user to change

    h.clickRow(0);
    w.mnuReplace_Click();
    QCOMPARE(h.messages.size(), 2);
    QCOMPARE(h.messages[1].text, QStringLiteral("There were no changes"));
    QCOMPARE(h.messages[1].icon, QMessageBox::Information);
    QCOMPARE(h.databaseFile(), file);
}

void TestMainWindow::replaceAndRemove() {
    Harness h(true);
    // Longer than an edit box holds by default.
    const QByteArray note(40000, 'n');
    Chestwrd &w = h.startWith({"alpha:!a:!1:!" + note + ":!", "beta:!b:!2:!:!"});
    h.clickRow(0);
    w.Text1[0]->setText("zulu");
    h.pressBar(w.mnuReplace);
    QCOMPARE(h.names(), (QStringList{"beta", "zulu"}));
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!1:!" + note + ":!"}));
    // The selection follows the record, so a second replace changes it again.
    QCOMPARE(w.SelectedIndex, 1);
    w.Text1[2]->setText("11");
    w.mnuReplace_Click();
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!11:!" + note + ":!"}));

    h.clickRow(0);
    h.pressBar(w.mnuRemove);
    QCOMPARE(h.names(), QStringList{"zulu"});
    QCOMPARE(h.databaseFile(), storeBytes({"zulu:!a:!11:!" + note + ":!"}));
    QVERIFY(!w.mnuRemove->isEnabled());
    w.mnuRemove_Click(); // nothing selected: nothing happens, and it says so
    QCOMPARE(h.names(), QStringList{"zulu"});
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.startsWith("Nothing was removed: no record is selected."));
}

void TestMainWindow::resetAndMask() {
    Harness h(true);
    Chestwrd &w = h.startWith({"a:!1:!abc:!a rather long note that does not fit the box at all:!"});
    h.clickRow(0);
    QCOMPARE(w.Text1[2]->displayText(), QStringLiteral("***"));
    w.Check1->setChecked(false);
    QCOMPARE(w.Text1[2]->displayText(), QStringLiteral("abc"));
    // A field too narrow for its text shows it whole as a tip; others none.
    for (int field : {3, 2}) {
        QTest::mouseMove(w.Text1[field], QPoint(5, 5));
        QTest::mouseMove(w.Text1[field], QPoint(8, 6));
        QCOMPARE(w.Text1[field]->toolTip(), field == 3 ? w.Text1[3]->text() : QString());
    }

    w.mnuCapture_Click();
    QGuiApplication::clipboard()->setText("held");
    h.pressBar(w.mnuReset);
    QCOMPARE(h.fields(), kNoFields);
    QVERIFY(w.Check1->isChecked());
    QVERIFY(w.List2->selectedRow() < 0);
    QVERIFY(!w.mnuRemove->isEnabled() && !w.mnuAdd->isEnabled());
    QVERIFY(!w.mnuCapture->isChecked() && !w.Timer2->isActive());
    QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
}

void TestMainWindow::escapeAndExitEndTheProgram() {
    // Escape in a field or the list, Exit, and closing the window.
    const std::function<void(Harness &, Chestwrd &)> ways[] = {
        [](Harness &h, Chestwrd &w) { h.keyUp(w.Text1[1], Qt::Key_Escape); },
        [](Harness &h, Chestwrd &w) { h.keyUp(w.List2, Qt::Key_Escape); },
        [](Harness &, Chestwrd &w) { w.mnuExit->trigger(); },
        [](Harness &, Chestwrd &w) { w.close(); }};
    for (const auto &end : ways) {
        Harness h;
        Chestwrd &w = h.start();
        end(h, w);
        QCOMPARE(h.ended, 1);
        QVERIFY(!w.isVisible());
        QVERIFY(h.messages.isEmpty());
    }
}

void TestMainWindow::charactersOutsideTheCodePageAreRefused() {
    Harness h(true);
    Chestwrd &w = h.startWith({"alpha:!a:!1:!:!"});
    // Windows-1252 holds these: they are stored as typed.
    h.fill({"cafe", "u", "p"});
    w.Text1[0]->setText(QString::fromUtf8("caf\u00e9 \u20ac"));
    w.mnuAdd_Click();
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(h.databaseFile(), storeBytes({"alpha:!a:!1:!:!", "caf\xE9 \x80:!u:!p:!:!"}));
    const QByteArray withCafe = h.databaseFile();

    h.fill({"shop", "bob", "pw"});
    w.Text1[3]->setText(QString::fromUtf8("\u65e5\u672c"));
    w.mnuAdd_Click();
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.contains(QString::fromUtf8("Other Info field holds \"\u65e5\"")));
    QCOMPARE(w.Text1[3]->text(), QString::fromUtf8("\u65e5\u672c"));
    h.clickRow(0);
    w.Text1[2]->setText(QString::fromUtf8("z\u01421"));
    w.mnuReplace_Click();
    QCOMPARE(h.messages.size(), 2);
    QVERIFY(h.messages[1].text.contains(QString::fromUtf8("Password field holds \"\u0142\"")));
    QCOMPARE(h.databaseFile(), withCafe);
}

void TestMainWindow::layoutShowsWholeThings() {
    Harness h(true);
    Chestwrd &w = h.startWith({"alpha:!a:!1:!:!", "beta:!b:!2:!:!"});
    // The controls have fixed places, so the window has a fixed size.
    QCOMPARE(w.minimumSize(), w.maximumSize());
    // The list's last visible row is whole.
    const int row = w.List2->sizeHintForRow(0);
    QVERIFY(row > 0);
    QCOMPARE(w.List2->viewport()->height() % row, 0);
    QVERIFY(w.List2->geometry().bottom() < w.centralWidget()->height());
    // The settings window's count box holds the largest count.
    Config *c = openSettings(w);
    QVERIFY(c->Text3->width() > c->Text3->fontMetrics().horizontalAdvance("32766") + 4);
    QVERIFY(c->Label3->geometry().right() < c->Frame1->width());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
