#include "../common/guiharness.h"

#include <QMenu>

// Keys as the window system delivers them: a press and a release, each to the
// widget that has the focus when it arrives.

namespace {

// Answers the next message box from the keyboard: the key goes down in the
// box, which closes; it comes up in whatever has the focus then.
void answerNextBox(Chestwrd &w, Qt::Key key, int *boxes, int wait = 200) {
    QTimer::singleShot(10, &w, [&w, key, boxes, wait] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box) {
            if (wait > 0)
                answerNextBox(w, key, boxes, wait - 1);
            return;
        }
        ++*boxes;
        answerNextBox(w, key, boxes);
        QTest::keyPress(box->windowHandle(), key);
        // A window that shows the box again at each release would never let go.
        if (*boxes < 3)
            QTest::keyRelease(w.windowHandle(), key);
    });
}

} // namespace

class TestKeys : public QObject {
    Q_OBJECT
private slots:
    void onlyTheWindowsKeysAct_data();
    void onlyTheWindowsKeysAct();
    void keyClosingABoxIsNotHandledAgain_data();
    void keyClosingABoxIsNotHandledAgain();
    void escapeClosingTheMenuKeepsTheProgram();
};

void TestKeys::onlyTheWindowsKeysAct_data() {
    QTest::addColumn<int>("key");
    const std::pair<const char *, Qt::Key> keys[] = {
        {"End", Qt::Key_End},        {"Home", Qt::Key_Home},
        {"Left", Qt::Key_Left},      {"Right", Qt::Key_Right},
        {"Up", Qt::Key_Up},          {"Down", Qt::Key_Down},
        {"Page Up", Qt::Key_PageUp}, {"Page Down", Qt::Key_PageDown},
        {"F1", Qt::Key_F1},          {"F12", Qt::Key_F12},
        {"Super", Qt::Key_Super_L},  {"Menu", Qt::Key_Menu},
        {"Insert", Qt::Key_Insert},  {"Delete", Qt::Key_Delete},
        {"Shift", Qt::Key_Shift},    {"Tab", Qt::Key_Tab},
        {"digit 1", Qt::Key_1},
    };
    for (const auto &[name, key] : keys)
        QTest::newRow(name) << int(key);
}

void TestKeys::onlyTheWindowsKeysAct() {
    QFETCH(int, key);
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"svc", "user", "pw", "note"});
    // Neither Ctrl (capture) nor Alt (the jumps), nor Escape or Enter.
    h.keyUp(w.Text1[3], Qt::Key(key));
    QVERIFY(!w.mnuCapture->isChecked());
    QVERIFY(!h.ended);
    QCOMPARE(w.List2->count(), 0);
    QWidget *focused = QApplication::focusWidget();
    h.keyUp(focused, Qt::Key_P);
    QCOMPARE(QApplication::focusWidget(), focused);
    // The same keys after a real Alt still leave the jump armed only by Alt.
    h.keyUp(w.Text1[3], Qt::Key_Alt);
    h.keyUp(w.Text1[3], Qt::Key_P);
    QVERIFY(w.Text1[2]->hasFocus());
}

void TestKeys::keyClosingABoxIsNotHandledAgain_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void TestKeys::keyClosingABoxIsNotHandledAgain() {
    QFETCH(int, key);
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"svc", "user", "pw"});
    w.mnuAdd_Click();
    h.fill({"svc", "user", "pw"});
    h.realMessages = true;
    int boxes = 0;
    answerNextBox(w, Qt::Key(key), &boxes);
    // Enter in Other Info adds: the duplicate's message comes up, is closed
    // with the key, and the key's release lands in Other Info again.
    h.keyUp(w.Text1[3], Qt::Key_Return);
    QCOMPARE(boxes, 1);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.ended, 0);
    QVERIFY(w.isVisible());
    QCOMPARE(w.Text1[0]->text(), QStringLiteral("svc")); // what was typed is still there
}

void TestKeys::escapeClosingTheMenuKeepsTheProgram() {
    Harness h;
    Chestwrd &w = h.start();
    h.fill({"svc", "user", "pw"});
    w.Text1[1]->setFocus();
    h.pressBar(w.mnuMenu->menuAction());
    QTRY_VERIFY(w.mnuMenu->isVisible());
    QTest::keyPress(w.mnuMenu->windowHandle(), Qt::Key_Escape);
    QTRY_VERIFY(!w.mnuMenu->isVisible());
    QTest::keyRelease(w.windowHandle(), Qt::Key_Escape);
    QCOMPARE(h.ended, 0);
    QVERIFY(w.isVisible());
    QCOMPARE(w.Text1[1]->text(), QStringLiteral("user"));
}

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
