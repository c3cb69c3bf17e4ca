#include "../common/guiharness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QTextDocumentFragment>

// Keys as the window system delivers them: a press and a release, each to the
// widget that has the focus when it arrives.

namespace {

// Answers the next message box from the keyboard: the key goes down in the
// box, which closes; it comes up in whatever has the focus then.
void answerNextBox(MainWindow &w, Qt::Key key, int *boxes, int wait = 200) {
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

// Plays keys as the window system sends them, each press and release to the
// focused window, shortcuts included: "alt" is Alt pressed and released alone,
// "alt+e" and "ctrl+v" are chords, "esc", "down" and "f10"
// name those keys, any other letter is itself.
void play(QWidget *window, const QString &keys) {
    const auto keyOf = [](const QString &name) -> Qt::Key {
        static const QHash<QString, Qt::Key> named{
            {"alt", Qt::Key_Alt},       {"ctrl", Qt::Key_Control},  {"shift", Qt::Key_Shift},
            {"esc", Qt::Key_Escape},    {"down", Qt::Key_Down},     {"f10", Qt::Key_F10},
            {"enter", Qt::Key_Return},  {"f1", Qt::Key_F1},         {"f12", Qt::Key_F12},
            {"insert", Qt::Key_Insert}, {"super", Qt::Key_Super_L}, {"menu", Qt::Key_Menu},
            {"end", Qt::Key_End}};
        return named.value(name.toLower(),
                           Qt::Key(Qt::Key_A + (name.at(0).toUpper().unicode() - 'A')));
    };
    const auto modifierOf = [](Qt::Key key) {
        return key == Qt::Key_Alt       ? Qt::AltModifier
               : key == Qt::Key_Control ? Qt::ControlModifier
               : key == Qt::Key_Shift   ? Qt::ShiftModifier
                                        : Qt::NoModifier;
    };
    for (const QString &token : keys.split(u' ', Qt::SkipEmptyParts)) {
        QList<Qt::Key> chord;
        for (const QString &part : token.split(u'+'))
            chord.append(keyOf(part));
        Qt::KeyboardModifiers held;
        for (Qt::Key key : chord) {
            QTest::keyPress(QApplication::focusWindow() ? QApplication::focusWindow()
                                                        : window->windowHandle(),
                            key, held);
            held |= modifierOf(key);
        }
        for (auto key = chord.crbegin(); key != chord.crend(); ++key) {
            held &= ~modifierOf(*key);
            QTest::keyRelease(QApplication::focusWindow() ? QApplication::focusWindow()
                                                          : window->windowHandle(),
                              *key, held | modifierOf(*key));
        }
    }
}

int focusedField(MainWindow &w) {
    for (const Field field : kFields) {
        if (fieldEdit(w, field)->hasFocus())
            return int(field);
    }
    return -1;
}

} // namespace

class TestKeys : public QObject {
    Q_OBJECT
private slots:
    void keyClosingABoxIsNotHandledAgain_data();
    void keyClosingABoxIsNotHandledAgain();
    void keysInTheFields_data();
    void keysInTheFields();
    void replaceNeedsASelectedRecord();
    void escapeClosesTheFindLineFirst();
    void menuFromTheKeyboard();
};

void TestKeys::keyClosingABoxIsNotHandledAgain_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void TestKeys::keyClosingABoxIsNotHandledAgain() {
    QFETCH(int, key);
    Harness h;
    MainWindow &w = h.start();
    h.fill({"svc", "user", "pw"});
    w.add();
    h.fill({"svc", "user", "pw"});
    h.realMessages = true;
    int boxes = 0;
    answerNextBox(w, Qt::Key(key), &boxes);
    // Enter in Other Info adds: the duplicate's message comes up, is closed
    // with the key, and the key's release lands in Other Info again.
    h.keyUp(fieldEdit(w, Field::OtherInfo), Qt::Key_Return);
    QCOMPARE(boxes, 1);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.ended, 0);
    QVERIFY(w.isVisible());
    QCOMPARE(fieldEdit(w, Field::Service)->text(),
             QStringLiteral("svc")); // what was typed is still there
}

void TestKeys::keysInTheFields_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("click"); // a field clicked after the keys, or -1
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("focus"); // -1: the program ended
    QTest::addColumn<bool>("capture");
    // Each row starts on the fields svc, bob, kbpass, note and empty, with
    // "pasted" on the clipboard.
    const QStringList kept{"svc", "bob", "kbpass", "note", ""};
    const auto with = [&](int field, const QString &text) {
        QStringList fields = kept;
        fields[field] = text;
        return fields;
    };
    QTest::newRow("lone Alt, O jumps and is not typed") << 2 << "alt o" << -1 << kept << 3 << false;
    QTest::newRow("jumps go on until another key")
        << 3 << "alt p u s x" << -1 << with(0, "svcx") << 0 << false;
    QTest::newRow("R jumps to the path, offered http://")
        << 3 << "alt r" << -1 << with(4, "http://") << 4 << false;
    // Any key that is not the window's disarms the jumps and does nothing else.
    for (const char *other : {"f1", "f12", "insert", "shift", "super", "menu", "end", "x"})
        QTest::addRow("%s disarms", other)
            << 3 << QStringLiteral("alt %1 p").arg(other) << -1
            << with(3, other == QByteArray("x") ? "notexp" : "notep") << 3 << false;
    QTest::newRow("Alt+E does not arm the jumps")
        << 3 << "alt+e s z" << -1 << with(3, "notesz") << 3 << false;
    // The menu's Escape goes down in the menu and comes up in the window,
    // which must not take it for its own and end the program.
    QTest::newRow("Alt+M does not arm the jumps, Escape keeps the program")
        << 3 << "alt+m esc s" << -1 << with(3, "notes") << 3 << false;
    QTest::newRow("Ctrl keeps the jumps armed") << 3 << "alt ctrl p" << -1 << kept << 2 << true;
    QTest::newRow("lone Ctrl ticks Capture") << 0 << "ctrl" << -1 << kept << 0 << true;
    QTest::newRow("Ctrl+A leaves Capture") << 0 << "ctrl+a" << 1 << kept << 1 << false;
    QTest::newRow("Ctrl+V leaves Capture")
        << 3 << "ctrl+v" << 1 << with(3, "notepasted") << 1 << false;
    // Capture by a lone Ctrl: a click in the chosen field pastes; choosing
    // another field empties the clipboard, which then never wipes it.
    QTest::newRow("lone Ctrl, a click pastes")
        << 1 << "ctrl" << 1 << with(1, "pasted") << 1 << true;
    QTest::newRow("lone Ctrl, then a click") << 0 << "ctrl" << 1 << kept << 1 << true;
    QTest::newRow("Escape ends the program") << 1 << "esc" << -1 << kept << -1 << false;
    // The menu opens from the keyboard three ways; its Exit ends the program.
    for (const char *menu : {"f10", "shift+f10", "alt+m"})
        QTest::addRow("%s, Exit", menu)
            << 3 << QStringLiteral("%1 x").arg(menu) << -1 << kept << -1 << false;
}

void TestKeys::keysInTheFields() {
    QFETCH(int, start);
    QFETCH(QString, keys);
    QFETCH(int, click);
    QFETCH(QStringList, fields);
    QFETCH(int, focus);
    QFETCH(bool, capture);
    Harness h(true);
    MainWindow &w = h.startWith({"svc:!bob:!kbpass:!note:!"});
    h.clickRow(0);
    QGuiApplication::clipboard()->setText("pasted");
    fieldEdit(w, kFields[size_t(start)])->setFocus();
    play(&w, keys);
    if (click >= 0)
        QTest::mouseClick(fieldEdit(w, kFields[size_t(click)]), Qt::LeftButton, {}, QPoint(4, 4));
    QTRY_VERIFY(!part<QMenu>(w, "menu")->isVisible());
    QCOMPARE(h.fields(), fields);
    QCOMPARE(focusedField(w), focus);
    QCOMPARE(part<QAction>(w, "captureAction")->isChecked(), capture);
    QVERIFY(!part<QTimer>(w, "captureTimer")->isActive()); // Ctrl polls nothing
    QCOMPARE(h.ended, focus < 0 ? 1 : 0);
}

void TestKeys::replaceNeedsASelectedRecord() {
    // Reset clears the fields, the highlight, Capture and the unmasked
    // password: Replace then has nothing to act on, even by its key, and
    // says so; the record stays as stored.
    Harness h(true);
    const QByteArray note = "a <b>rather</b> long note that does not fit the box at all";
    MainWindow &w = h.startWith({"bank:!ann:!old:!" + note + ":!"});
    const QByteArray stored = h.databaseFile();
    h.clickRow(0);
    QCOMPARE(fieldEdit(w, Field::Password)->displayText(), QStringLiteral("***"));
    part<QCheckBox>(w, "hidePassword")->setChecked(false);
    QCOMPARE(fieldEdit(w, Field::Password)->displayText(), QStringLiteral("old"));
    // A field too narrow for its text shows it whole as a tip, as text: what
    // looks like markup in it is not taken for markup.
    QTest::mouseMove(fieldEdit(w, Field::OtherInfo), QPoint(5, 5));
    QTest::mouseMove(fieldEdit(w, Field::OtherInfo), QPoint(8, 6));
    const QString tip = fieldEdit(w, Field::OtherInfo)->toolTip();
    QCOMPARE(Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip,
             QString::fromLatin1(note));
    w.toggleCapture();
    h.pressBar(part<QAction>(w, "resetAction"));
    QCOMPARE(h.fields(), QStringList(5, QString()));
    QVERIFY(part<QCheckBox>(w, "hidePassword")->isChecked());
    QVERIFY(!part<QAction>(w, "captureAction")->isChecked());
    h.fill({"mail", "bob", "new"});
    QCOMPARE(h.commands(), QStringLiteral("add"));
    fieldEdit(w, Field::Password)->setFocus();
    play(&w, "alt+e");
    QTRY_COMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].text.startsWith("Nothing was replaced: no record is selected."));
    QCOMPARE(h.databaseFile(), stored);
    // Selected again, the same key replaces it.
    h.clickRow(0);
    fieldEdit(w, Field::Password)->setText("new");
    fieldEdit(w, Field::Password)->setFocus();
    play(&w, "alt+e");
    QCOMPARE(h.databaseFile(), storeBytes({"bank:!ann:!new:!" + note + ":!"}));
    QCOMPARE(h.messages.size(), 1);
}

void TestKeys::escapeClosesTheFindLineFirst() {
    Harness h(true);
    MainWindow &w = h.startWith({"alpha:!a:!1:!:!", "beta:!b:!2:!:!"});
    const int height = w.height();
    fieldEdit(w, Field::Service)->setFocus();
    play(&w, "ctrl+f esc"); // from the line itself
    QVERIFY(!part<QLineEdit>(w, "findLine")->isVisible());
    QCOMPARE(h.ended, 0);
    // Ctrl+F opens the line below the list (Ctrl ticks no Capture there),
    // the fields keep their places.
    const QRect service = fieldEdit(w, Field::Service)->geometry();
    fieldEdit(w, Field::Service)->setFocus();
    play(&w, "ctrl+f b down");
    QVERIFY(part<ServiceList>(w, "recordView")->hasFocus() &&
            part<QLineEdit>(w, "findLine")->isVisible());
    QTRY_COMPARE(w.height(), height + part<QLineEdit>(w, "findLine")->height() + 4);
    QCOMPARE(fieldEdit(w, Field::Service)->geometry(), service);
    QVERIFY(!part<QAction>(w, "captureAction")->isChecked());
    QCOMPARE(h.names(), QStringList{"beta"});
    play(&w, "esc");
    QVERIFY(!part<QLineEdit>(w, "findLine")->isVisible());
    QCOMPARE(h.names(), (QStringList{"alpha", "beta"}));
    QTRY_COMPARE(w.height(), height); // the room it took is given back
    QCOMPARE(h.ended, 0);
    play(&w, "esc"); // with the line closed, Escape in the list ends the program
    QCOMPARE(h.ended, 1);
}

void TestKeys::menuFromTheKeyboard() {
    Harness h;
    MainWindow &w = h.start();
    // Security by its letter: the settings window, without a mouse.
    fieldEdit(w, Field::OtherInfo)->setFocus();
    play(&w, "f10");
    QTRY_VERIFY(part<QMenu>(w, "menu")->isVisible());
    QTest::keyClick(part<QMenu>(w, "menu"), Qt::Key_S);
    QTRY_VERIFY(w.securityWindow()->isVisible());
    w.securityWindow()->close();
    // Every item answers to a letter of its own, or a key would only move
    // between the items that share it; Configure and Capture always shared C.
    QStringList letters;
    for (const QAction *item : part<QMenu>(w, "menu")->actions())
        if (const qsizetype at = item->text().indexOf(u'&'); at >= 0)
            letters << item->text().mid(at + 1, 1).toLower();
    QVERIFY(letters.size() > 12);
    letters.removeOne("c");
    QCOMPARE(QSet<QString>(letters.begin(), letters.end()).size(), letters.size());
    // A lone Alt is still the fields' jump key.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    fieldEdit(w, Field::OtherInfo)->setFocus();
    play(&w, "alt p");
    QCOMPARE(focusedField(w), 2);
}

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
