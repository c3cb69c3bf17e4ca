#include "../common/guiharness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include <sys/stat.h>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void firstStart();
    void addingWritesTheFile();
    void restartKeepsRecordsAndOrder();
    void everyStoredLineIsListed();
    void selectingByMouse();
    void selectingByKeyboardClearsFields();
    void rightClickClearsHighlightOnly();
    void fieldRule();
    void altJumps();
    void duplicateAndNoChange();
    void replaceAndRemove();
    void reset();
    void passwordMaskAndTooltips();
    void escapeAndExitEndTheProgram();
    void longFieldSurvivesReplace();
    void charactersOutsideTheCodePageAreRefused();
    void layoutShowsWholeThings();
};

void TestMainWindow::firstStart() {
    Harness h;
    Chestwrd &w = h.start();
    QCOMPARE(w.windowTitle(), QStringLiteral("V.L."));
    QVERIFY(QFileInfo(h.paths().dataFolder()).isDir());
    QCOMPARE(modeOf(h.paths().dataFolder()), 0700);
    QCOMPARE(w.List2->count(), 0);
    QVERIFY(w.mnuImport->isEnabled());
    QVERIFY(!w.mnuAdd->isEnabled() && !w.mnuReplace->isEnabled() && !w.mnuRemove->isEnabled());
    QVERIFY(!Platform::exists(h.paths().database())); // nothing written until a record is
    QVERIFY(h.messages.isEmpty());

    // The menu as laid out: a drop-down and four commands on the bar, none
    // with a shortcut key.
    const QList<QAction *> bar = w.menuBar()->actions();
    QStringList barTexts;
    for (QAction *a : bar)
        barTexts << a->text();
    QCOMPARE(barTexts, (QStringList{"Menu", "&Add", "R&eplace", "Remo&ve", "&Reset"}));
    QStringList items;
    for (QAction *a : w.mnuMenu->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QVERIFY(a->shortcut().isEmpty());
    }
    QCOMPARE(items, (QStringList{"&Configure", "&Security", "&Capture", "-", "&Import", "-",
                                 "&Help", "A&bout", "E&xit"}));
}

void TestMainWindow::addingWritesTheFile() {
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"Mail, home", "bob", "s3cret", "note", "http://mail.example"});
    QVERIFY(w.mnuAdd->isEnabled());
    h.pressBar(w.mnuAdd);
    QCOMPARE(h.names(), QStringList{"Mail, home"});
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example"}));
    QCOMPARE(modeOf(h.paths().database()), 0600);
    for (QLineEdit *field : w.Text1)
        QVERIFY(field->text().isEmpty());
    QVERIFY(!w.mnuAdd->isEnabled());

    // Enter in Other Info adds once the three required fields are filled.
    h.fill({"bank", "ann", "pin"});
    h.type(4, QString()); // the path gets "http://" on focus
    QTest::keyClick(w.Text1[4], Qt::Key_Return);
    QCOMPARE(w.List2->count(), 1); // Enter in the path never adds
    w.Text1[4]->clear();
    w.Text1[3]->setFocus();
    QTest::keyClick(w.Text1[3], Qt::Key_Return);
    QCOMPARE(h.names(), (QStringList{"bank", "Mail, home"}));
    QCOMPARE(h.databaseFile(), storeBytes({"Mail, home:!bob:!s3cret:!note:!http://mail.example",
                                           "bank:!ann:!pin:!:!"}));

    // Without a password Enter does nothing.
    h.fill({"shop", "carl", ""});
    w.Text1[3]->setFocus();
    QTest::keyClick(w.Text1[3], Qt::Key_Return);
    QCOMPARE(w.List2->count(), 2);
    QVERIFY(h.messages.isEmpty());
}

void TestMainWindow::restartKeepsRecordsAndOrder() {
    Harness h;
    h.start();
    const QList<QStringList> records{{"zeta", "z", "1"},
                                     {"Alpha", "a", "2", "x,y \"quoted\""},
                                     {"mail!", "m", "3"},
                                     {"mail", "m", "4", "", "C:\\notes.txt"},
                                     {"beta", "b", "5"}};
    for (const QStringList &r : records) {
        h.fill(r);
        h.w().mnuAdd_Click();
    }
    const QStringList before = h.names();
    // Sorted by the whole record line: "mail!:!" comes before "mail:!".
    QCOMPARE(before, (QStringList{"Alpha", "beta", "mail!", "mail", "zeta"}));
    const QByteArray file = h.databaseFile();

    h.start();
    QCOMPARE(h.names(), before);
    QCOMPARE(h.databaseFile(), file); // reading writes nothing
    // Each name still opens its own record.
    for (int row = 0; row < h.names().size(); ++row) {
        h.clickRow(row);
        QCOMPARE(h.w().Text1[0]->text(), before[row]);
    }
    h.clickRow(0);
    QCOMPARE(h.w().Text1[3]->text(), QStringLiteral("x,y \"quoted\""));
}

void TestMainWindow::everyStoredLineIsListed() {
    Harness h(true);
    // A line without separators, an empty line and a last line without an
    // ending: all records but the empty line are shown.
    writeBytes(h.paths().database(), EncodeLine("solo") + "\r\n\r\n" + EncodeLine("b:!u:!p:!:!") +
                                         "\n" + EncodeLine("c:!u:!p:!:!"));
    Chestwrd &w = h.start();
    QCOMPARE(h.names(), (QStringList{"b", "c", "solo"}));
    // A store, or a copy alone, means the records have moved on: no import.
    QVERIFY(!w.mnuImport->isEnabled());
    Harness copyOnly(true);
    writeBytes(copyOnly.paths().copy(), "x\r\n");
    QVERIFY(!copyOnly.start().mnuImport->isEnabled());
}

void TestMainWindow::selectingByMouse() {
    Harness h(true);
    writeBytes(h.paths().database(),
               storeBytes({"mail:!bob:!x1:!:!", "news:!nn:!pp:!oi:!http://n", "half:!hu:!hp"}));
    Chestwrd &w = h.start();
    QCOMPARE(h.names(), (QStringList{"half", "mail", "news"}));

    h.clickRow(2);
    QCOMPARE(w.SelectedIndex, 2);
    QCOMPARE(w.Text1[3]->text(), QStringLiteral("oi"));
    QCOMPARE(w.Text1[4]->text(), QStringLiteral("http://n"));

    // The click empties all five fields, and the empty text after the last
    // separator leaves the path as the click left it.
    h.clickRow(1);
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("mail"));
    QCOMPARE(w.Text1[1]->text(), QStringLiteral("bob"));
    QCOMPARE(w.Text1[2]->text(), QStringLiteral("x1"));
    QVERIFY(w.Text1[3]->text().isEmpty());
    QVERIFY(w.Text1[4]->text().isEmpty());
    QVERIFY(w.mnuRemove->isEnabled());
    QVERIFY(w.mnuReplace->isEnabled());
    QVERIFY(w.mnuAdd->isEnabled());

    // A line that stops short fills what it reaches.
    h.clickRow(0);
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("half"));
    QCOMPARE(w.Text1[1]->text(), QStringLiteral("hu"));
    QVERIFY(w.Text1[2]->text().isEmpty());
}

void TestMainWindow::selectingByKeyboardClearsFields() {
    Harness h(true);
    Chestwrd &w = h.startWith({"a:!1:!1:!:!", "b:!2:!2:!:!", "c:!3:!3:!:!"});
    h.clickRow(0);
    w.mnuRemove->setEnabled(false);
    w.List2->setFocus();
    QTest::keyClick(w.List2, Qt::Key_Down);
    QCOMPARE(w.SelectedIndex, 1);
    for (QLineEdit *field : w.Text1)
        QVERIFY(field->text().isEmpty());
    QVERIFY(!w.mnuRemove->isEnabled());
    QVERIFY(!w.mnuAdd->isEnabled());
}

void TestMainWindow::rightClickClearsHighlightOnly() {
    Harness h(true);
    Chestwrd &w = h.startWith({"a:!1:!1:!:!", "b:!2:!2:!:!"});
    h.clickRow(1);
    QVERIFY(w.mnuRemove->isEnabled());
    h.clickRow(0, Qt::RightButton);
    QVERIFY(w.List2->selectedRow() < 0);
    QVERIFY(!w.mnuRemove->isEnabled());
    QVERIFY(w.mnuReplace->isEnabled());
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("b"));
    QCOMPARE(w.SelectedIndex, 1);
}

void TestMainWindow::fieldRule() {
    Harness h;
    Chestwrd &w = h.start();
    h.type(0, "svc");
    h.type(2, "pw");
    QVERIFY(!w.mnuAdd->isEnabled());
    QVERIFY(!w.mnuReplace->isEnabled());
    h.type(1, "u");
    QVERIFY(w.mnuAdd->isEnabled());
    QVERIFY(w.mnuReplace->isEnabled());
    for (int field : {0, 1, 2}) {
        // Deleting the last character of each required field disables both.
        const QString kept = w.Text1[field]->text();
        w.Text1[field]->setFocus();
        w.Text1[field]->end(false);
        for (qsizetype i = kept.size(); i > 1; --i)
            QTest::keyClick(w.Text1[field], Qt::Key_Backspace);
        QVERIFY(w.mnuAdd->isEnabled());
        QTest::keyClick(w.Text1[field], Qt::Key_Backspace);
        QVERIFY(w.Text1[field]->text().isEmpty());
        QVERIFY(!w.mnuAdd->isEnabled());
        QVERIFY(!w.mnuReplace->isEnabled());
        w.Text1[field]->setText(kept); // a change made by the program follows the rule too
        QVERIFY(w.mnuAdd->isEnabled());
        QVERIFY(w.mnuReplace->isEnabled());
    }
    // Other info and path are optional.
    w.Text1[3]->setText("x");
    w.Text1[3]->clear();
    QVERIFY(w.mnuAdd->isEnabled());
}

void TestMainWindow::altJumps() {
    Harness h;
    Chestwrd &w = h.start();
    QLineEdit *start = w.Text1[3];
    start->setFocus();
    h.keyUp(start, Qt::Key_Alt);
    h.keyUp(start, Qt::Key_P);
    QVERIFY(w.Text1[2]->hasFocus());
    h.keyUp(w.Text1[2], Qt::Key_U); // still armed
    QVERIFY(w.Text1[1]->hasFocus());
    h.keyUp(w.Text1[1], Qt::Key_R);
    QVERIFY(w.Text1[4]->hasFocus());
    h.keyUp(w.Text1[4], Qt::Key_O);
    QVERIFY(w.Text1[3]->hasFocus());
    h.keyUp(w.Text1[3], Qt::Key_S);
    QVERIFY(w.Text1[0]->hasFocus());
    h.keyUp(w.Text1[0], Qt::Key_X); // disarms
    h.keyUp(w.Text1[0], Qt::Key_U);
    QVERIFY(w.Text1[0]->hasFocus());

    // Ctrl neither arms nor disarms, and only marks capture.
    h.keyUp(w.Text1[0], Qt::Key_Alt);
    h.keyUp(w.Text1[0], Qt::Key_Control);
    QVERIFY(w.mnuCapture->isChecked());
    QVERIFY(!w.Timer2->isActive());
    h.keyUp(w.Text1[0], Qt::Key_P);
    QVERIFY(w.Text1[2]->hasFocus());

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
    h.fill({"mail", "bob", "pw"});
    w.mnuAdd_Click();
    const QByteArray file = h.databaseFile();
    h.fill({"mail", "bob", "pw"});
    w.mnuAdd_Click();
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
    Chestwrd &w = h.startWith({"alpha:!a:!1:!:!", "beta:!b:!2:!:!"});
    h.clickRow(0);
    w.Text1[0]->setText("zulu");
    h.pressBar(w.mnuReplace);
    QCOMPARE(h.names(), (QStringList{"beta", "zulu"}));
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!1:!:!"}));
    // The selection follows the record, so a second replace changes it again.
    QCOMPARE(w.SelectedIndex, 1);
    w.Text1[2]->setText("11");
    w.mnuReplace_Click();
    QCOMPARE(h.databaseFile(), storeBytes({"beta:!b:!2:!:!", "zulu:!a:!11:!:!"}));

    h.clickRow(0);
    h.pressBar(w.mnuRemove);
    QCOMPARE(h.names(), QStringList{"zulu"});
    QCOMPARE(h.databaseFile(), storeBytes({"zulu:!a:!11:!:!"}));
    QVERIFY(!w.mnuRemove->isEnabled());
    QCOMPARE(w.SelectedIndex, -1);
    w.mnuRemove_Click(); // nothing selected: nothing happens
    QCOMPARE(h.names(), QStringList{"zulu"});
    QVERIFY(h.messages.isEmpty());

    h.start();
    QCOMPARE(h.names(), QStringList{"zulu"});
}

void TestMainWindow::reset() {
    Harness h(true);
    Chestwrd &w = h.startWith({"a:!1:!1:!:!"});
    h.clickRow(0);
    w.Check1->setChecked(false);
    w.mnuCapture_Click();
    QVERIFY(w.Timer2->isActive());
    QGuiApplication::clipboard()->setText("held");
    h.pressBar(w.mnuReset);
    for (QLineEdit *field : w.Text1)
        QVERIFY(field->text().isEmpty());
    QVERIFY(w.Check1->isChecked());
    QVERIFY(w.List2->selectedRow() < 0);
    QVERIFY(!w.mnuRemove->isEnabled());
    QVERIFY(!w.mnuAdd->isEnabled());
    QVERIFY(!w.mnuCapture->isChecked());
    QVERIFY(!w.Timer2->isActive());
    QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
    QCOMPARE(w.SelectedIndex, 0); // kept
}

void TestMainWindow::passwordMaskAndTooltips() {
    Harness h;
    Chestwrd &w = h.start();
    w.Text1[2]->setText("abc");
    w.Check1->click();
    QCOMPARE(w.Text1[2]->displayText(), QStringLiteral("abc"));
    w.Check1->click();
    QCOMPARE(w.Text1[2]->displayText(), QStringLiteral("***"));

    const QString long_ = QStringLiteral("a rather long note that does not fit the box at all");
    w.Text1[3]->setText(long_);
    QTest::mouseMove(w.Text1[3], QPoint(5, 5));
    QTest::mouseMove(w.Text1[3], QPoint(8, 6));
    QCOMPARE(w.Text1[3]->toolTip(), long_);
    QTest::mouseMove(w.Text1[2], QPoint(5, 5));
    QTest::mouseMove(w.Text1[2], QPoint(8, 6));
    QVERIFY(w.Text1[2]->toolTip().isEmpty());
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

void TestMainWindow::longFieldSurvivesReplace() {
    Harness h(true);
    // Longer than an edit box holds by default.
    const QByteArray note(40000, 'n');
    Chestwrd &w = h.startWith({"long:!a:!1:!" + note + ":!"});
    h.clickRow(0);
    w.Text1[1]->setText("b");
    w.mnuReplace_Click();
    QCOMPARE(h.databaseFile(), storeBytes({"long:!b:!1:!" + note + ":!"}));
}

void TestMainWindow::charactersOutsideTheCodePageAreRefused() {
    Harness h(true);
    const QByteArray stored = storeBytes({"alpha:!a:!1:!:!"});
    writeBytes(h.paths().database(), stored);
    Chestwrd &w = h.start();
    // Windows-1252 holds these: they are stored as typed.
    h.fill({"cafe", "u", "p"});
    w.Text1[0]->setText(QString::fromUtf8("caf\u00e9 \u20ac"));
    w.mnuAdd_Click();
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(h.names().size(), 2);
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
