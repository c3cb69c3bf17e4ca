#include "../common/guiharness.h"

#include "generator.h"
#include "healthmarks.h"
#include "reencipher.h"
#include "securitywindow.h"
#include "settings.h"
#include "stringcipher.h"
#include "strongstore.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

namespace {

const QDate kToday(2026, 12, 5);

ParsedSettings storedSettings(const StorePaths &paths) {
    QByteArray line;
    ReadSettingsFile(paths, line);
    return ParseSettingsLine(line);
}

const QList<QByteArray> kRecords{"bank:!ann:!pin1:!:!", "mail:!bob:!x1:!note:!http://m"};

} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
private slots:
    void init() { Clock::setToday(kToday); }
    void cleanup() { Clock::setToday(QDate()); }

    void startUpPrompt_data();
    void startUpPrompt();
    void pureRules();
    void acceptStoresOrRefuses_data();
    void acceptStoresOrRefuses();
    void generatorOverManyPresses();
    void strongProtectionEndToEnd();
    void codesAndMarksGoWithEveryMove();
};

void TestSecurity::startUpPrompt_data() {
    // The answers typed at the start-up prompt ("<close>" closes it,
    // "<destroy>" destroys it from outside), the expiry stored, and what
    // follows: the message shown, if any, and whether the program ends.
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QByteArray>("expiry");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("ends");
    const QByteArray never(kNeverExpires);
    QTest::newRow("third try right") << QStringList{"wrong", "", "right1"} << never << "" << false;
    QTest::newRow("three wrong") << QStringList{"a", "b", "c", "right1"} << never
                                 << "Access Error: You are not allowed to use this application"
                                 << true;
    QTest::newRow("closed") << QStringList{"wrong", "<close>"} << never << "" << true;
    QTest::newRow("destroyed") << QStringList{"<destroy>"} << never << "" << true;
    QTest::newRow("expires today") << QStringList{"right1"} << QByteArray("12-05-2026")
                                   << "Varnlock Notification: The Password expires today" << false;
    QTest::newRow("expired") << QStringList{"right1"} << QByteArray("12-04-2026")
                             << "Varnlock Notification: The Password has expired" << false;
    QTest::newRow("expires tomorrow")
        << QStringList{"right1"} << QByteArray("12-06-2026") << "" << false;
}

void TestSecurity::startUpPrompt() {
    QFETCH(QStringList, answers);
    QFETCH(QByteArray, expiry);
    QFETCH(QString, message);
    QFETCH(bool, ends);
    Harness h(true);
    writeSettings(h.paths(), expiry, "right1", 1);
    writeBytes(h.paths().copy(), copyBytes(kRecords, "right1"));
    const auto before = snapshot(h.folders);
    // A message comes alone: the prompt that led to it has gone.
    bool promptUnderABox = false;
    h.whileMessageShows = [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            promptUnderABox |= qobject_cast<PasswordPrompt *>(top) && top->isVisible();
    };
    MainWindow &w = h.start(answers);
    QVERIFY(!promptUnderABox);
    QCOMPARE(h.promptsAnswered, std::min(int(answers.size()), 3));
    QCOMPARE(w.programEnded(), ends);
    QCOMPARE(h.ended, ends ? 1 : 0);
    QCOMPARE(w.isVisible(), !ends);
    QStringList shown;
    for (const Shown &m : h.messages) {
        shown << m.title + ": " + m.text;
        QVERIFY(m.icon == QMessageBox::NoIcon || !m.title.contains("Notification"));
    }
    QCOMPARE(shown, message.isEmpty() ? QStringList() : QStringList{message});
    if (!ends)
        QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
    // A reminder opens the settings window on the stored password.
    QCOMPARE(w.securityWindow() && w.securityWindow()->isVisible(),
             message.contains("Notification"));
    if (message.contains("Notification")) {
        QCOMPARE(part<QLineEdit>(w.securityWindow(), "passwordEdit")->text(),
                 QStringLiteral("right1"));
        // In front of the main window shown after it, and again when a
        // second start brings the program to the front; a box waiting on an
        // answer comes over both.
        QTRY_COMPARE(QApplication::activeWindow(), w.securityWindow());
        w.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        w.bringToFront();
        QTRY_COMPARE(QApplication::activeWindow(), w.securityWindow());
        QMessageBox box;
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        w.activateWindow();
        w.bringToFront();
        QTRY_COMPARE(QApplication::activeWindow(), &box);
        box.close();
    } else if (!ends) {
        QTRY_COMPARE(QApplication::activeWindow(), &w);
    }
    QCOMPARE(snapshot(h.folders), before);
    if (!message.contains("Notification"))
        return;
    // A new password accepted there starts a month on; the same one keeps
    // its date, and the reminder.
    const bool renewed = expiry == "12-04-2026";
    part<QLineEdit>(w.securityWindow(), "passwordEdit")->setText(renewed ? "new7" : "right1");
    part<QPushButton>(w.securityWindow(), "acceptButton")->click();
    QCOMPARE(storedSettings(h.paths()).password, QByteArray(renewed ? "new7" : "right1"));
    QCOMPARE(storedSettings(h.paths()).expiry, renewed ? QByteArray("01-05-2027") : expiry);
}

void TestSecurity::pureRules() {
    // The filter: remove the first other character, caret one past it, scan
    // again from the start. One pass over a big text: the rescans took 7 s
    // for the 64 k characters the box holds.
    const auto letterOrDigit = [](QChar c) { return c.unicode() < 128 && c.isLetterOrNumber(); };
    const std::tuple<QString, QString, int> filtered[] = {
        {"x-yz", "xyz", 2}, {QString::fromUtf8("\u00e9!ab"), "ab", 1}, {"ok", "ok", -1}};
    for (const auto &[typed, kept, caret] : filtered) {
        QString text = typed;
        QCOMPARE(FilterToAllowed(text, letterOrDigit), caret);
        QCOMPARE(text, kept);
    }
    QString big = QString(1 << 21, u'-');
    big[1] = u'b';
    QCOMPARE(FilterToAllowed(big, [](QChar ch) { return ch != u'-'; }), 1);
    QCOMPARE(big, QStringLiteral("b"));

    // Proposals: a month on, in December the January after; past the next
    // month's end, its last day, in a common year and a leap year.
    const std::pair<QDate, const char *> proposals[] = {{{2026, 12, 5}, "01-05-2027"},
                                                        {{2027, 1, 31}, "02-28-2027"},
                                                        {{2028, 1, 31}, "02-29-2028"}};
    for (const auto &[today, proposal] : proposals)
        QCOMPARE(ExpiryProposal(today), QLatin1String(proposal));

    // The date check when the box is left: a day past the month's end is its
    // last day, month 00 January. Only MM-DD-YYYY is ever kept: the file
    // finds its fields by position.
    const int ok = ExpiryCheck::Corrected, never = ExpiryCheck::NeverExpires,
              bad = ExpiryCheck::Unusable;
    const std::tuple<QString, int, QString> dates[] = {
        {"1-5-2030", ok, "01-05-2030"},   {"02-29-2027", ok, "02-28-2027"},
        {"02-30-2028", ok, "02-29-2028"}, {"04-31-2030", ok, "04-30-2030"},
        {"00-15-2030", ok, "01-15-2030"}, {"13-10-2030", ok, "12-10-2030"},
        {"12-32-2030", ok, "12-01-2030"}, {"06/15/2030", ok, "06-15-2030"},
        {"12-20-2001", ok, "12-20-2026"}, {"1-5-30", never, ""},
        {"-1-05-2030", bad, ""},          {"1-------", bad, ""},
        {"01-011-2030", bad, ""}};
    for (const auto &[input, outcome, result] : dates) {
        const ExpiryCheck check = CorrectExpiry(input, kToday);
        QVERIFY2(int(check.outcome) == outcome, qPrintable(input));
        if (outcome == ok)
            QCOMPARE(check.text, result);
    }
}

void TestSecurity::acceptStoresOrRefuses_data() {
    // From settings of this protection (password "key5"; under 1 expiring
    // 03-01-2027; -1: no settings file, the records under None), the steps taken in the window:
    // "pw=" sets the box, "keys=" types it, "im=" sends text as an input method does, "scope=",
    // "expiry=", "leave=" types a date and leaves its box, "no" answers the next question No, any
    // other step is a button's name. "?focus=" checks which part has the focus, "?part=" what a
    // part shows: its text, "on", "off" or "disabled".
    QTest::addColumn<int>("from");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("stored"); // password, protection, expiry; empty: nothing written
    QTest::addColumn<QString>("says");   // a part of the message or question shown
    const auto row = [](const QByteArray &name, int from, const QStringList &steps,
                        const char *stored, const QString &says) {
        QTest::newRow(name.constData())
            << from << steps + QStringList{"acceptButton"} << QString::fromLatin1(stored) << says;
    };
    // What the files can not hold is refused by name, typed or pasted.
    row("outside the code page, typed", 2, {"pw=", "im=z\u01421"}, "",
        QString::fromUtf8("\"\u0142\""));
    row("outside, astral, pasted", 2, {"pw=a\U0001F511"}, "", QString::fromUtf8("\"\U0001F511\""));
    row("the no-password mark", 2, {"pw=UNSETMARK"}, "", "UNSETMARK");
    // A password offers the protections that need one; typed keys pass the
    // letters-and-digits filter.
    row("typed and filtered", 0,
        {"pw=", "?neverExpires=disabled", "keys=ab c!", "?passwordEdit=abc", "?scopeProgramOnly=on",
         "?neverExpires=on"},
        "abc 2 xx-xx-xxxx", "");
    // Unticking "never" proposes a date; a date left in the box is corrected,
    // an unusable one gives the proposal again, a short one never expires.
    row("the date box left", 2,
        {"pw=pw1", "neverExpires", "?focus=expiryEdit", "?expiryEdit=01-05-2027",
         "leave=13-10-2030", "?expiryEdit=12-10-2030", "leave=x-05-2030", "?expiryEdit=01-05-2027",
         "leave=1-5-30", "?neverExpires=on", "?expiryEdit=disabled"},
        "pw1 2 xx-xx-xxxx", "");
    row("empty before a blank", 2, {"suggest", "pw= abc", "scope=1"}, "", "needs a password");
    row("empty before a blank, Program Only", 2, {"suggest", "pw= abc", "scope=2"}, "",
        "so here it is empty");
    // A passphrase left in the box when a weaker choice is ticked follows
    // that choice's rules before Accept: what is stored is what is shown.
    row("passphrase, then Program Only", 2,
        {"keys=a", "scope=3", "pw= ab, c!", "scope=2", "?passwordEdit=abc"}, "abc 2 xx-xx-xxxx",
        "");
    row("passphrase, then the copy", 1,
        {"no", "scope=3", "pw=k ey5!", "scope=1", "?passwordEdit=key5"}, "key5 1 03-01-2027", "");
    // A password in the box does not keep None from removing it: asked first.
    row("None with a password in the box, no", 2, {"no", "pw=key5", "scope=0"}, "",
        "remove the master password");
    // Ticking a protection after setting a date leaves the date open to change.
    row("a date, then a protection", 2,
        {"pw=pw1", "neverExpires", "expiry=03-07-2030", "scope=1", "?expiryEdit=03-07-2030",
         "?neverExpires=off"},
        "pw1 1 03-07-2030", "");
    row("blank in the date", 2, {"pw=pw1", "neverExpires", "expiry=12-3 -2030"}, "",
        "There can not be spaces on a password");
    // Accepted at once, the box never left: the date is still checked.
    row("date corrected", 2, {"pw=abc1", "neverExpires", "expiry=3-07-2030"}, "abc1 2 03-07-2030",
        "");
    row("unusable date", 2, {"pw=abc1", "neverExpires", "expiry=ab-cd-efgh"}, "abc1 2 01-05-2027",
        "");
    row("a proposal without its remark", 2,
        {"suggest", "pw=AB12         (  ab12  )", "?lengthLabel=Length:  4"}, "AB12 2 xx-xx-xxxx",
        "");
    row("Reset, then emptied", 2, {"resetButton", "pw=abc", "pw="}, "UNSETMARK 0 xx-xx-xxxx",
        "remove the master password");
    // Typed over the stored password (the expiry reminder's way): the
    // protection and the date stay, the copy goes under the new key.
    row("new password typed over", 1, {"keys=new7"}, "new7 1 03-01-2027", "");
    // A date set with a new password is kept, today's too.
    row("a new password, a date of today", 2, {"pw=new7", "neverExpires", "expiry=12-05-2026"},
        "new7 2 12-05-2026", "");
    // Lowering the protection asks first; No keeps everything.
    for (const bool yes : {false, true}) {
        const QStringList answer = yes ? QStringList() : QStringList{"no"};
        const QByteArray said = yes ? ", yes" : ", no";
        row("out of the copy" + said, 1, answer + QStringList{"pw=key5", "scope=2"},
            yes ? "key5 2 03-01-2027" : "", "out of the enciphered copy");
        row("password removed" + said, 2, answer + QStringList{"pw=", "?scopeNone=on"},
            yes ? "UNSETMARK 0 xx-xx-xxxx" : "", "remove the master password");
        row("both" + said, 1, answer + QStringList{"pw=", "scope=0"},
            yes ? "UNSETMARK 0 xx-xx-xxxx" : "", "asking for it, and move the records");
    }
    row("raised: no question", 2, {"pw=key5", "scope=1"}, "key5 1 xx-xx-xxxx", "");
    // A passphrase shows its length in characters (a proposal without its remark).
    row("strong without a passphrase", 2,
        {"pw=abc", "scope=3", "pw=ab c!\u00e9\U0001F511", "?lengthLabel=Length:  7", "suggest",
         "pw=AB12 (ab12)", "?lengthLabel=Length:  4", "pw=", "?lengthLabel=Length: "},
        "", "needs a passphrase");
    row("a first password", 0, {"pw=key1", "scope=1"}, "key1 1 xx-xx-xxxx", "");
    // Before any settings file: "Do Not Expire", as ticked, is kept.
    row("the very first password", -1, {"pw=key1", "?neverExpires=on"}, "key1 2 xx-xx-xxxx", "");
}

void TestSecurity::acceptStoresOrRefuses() {
    QFETCH(int, from);
    QFETCH(QStringList, steps);
    QFETCH(QString, stored);
    QFETCH(QString, says);
    // Every file written is the owner's alone whatever the umask.
    const mode_t umaskBefore = ::umask(0);
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
    Harness h(true);
    if (from >= 0)
        writeSettings(h.paths(), from == 1 ? "03-01-2027" : kNeverExpires, "key5", from);
    QCOMPARE(
        RewriteDatabase(h.paths(), ScopeFromDigit(char('0' + std::max(from, 0))), kRecords, "key5"),
        StoreStatus::Ok);
    MainWindow &w = h.start(from >= 0 ? QStringList{"key5"} : QStringList{});
    const auto before = snapshot(h.folders);
    SecurityWindow *c = openSettings(w);
    QLineEdit *box = part<QLineEdit>(c, "passwordEdit");
    for (const QString &step : steps) {
        const QString name = step.section(u'=', 0, 0), value = step.section(u'=', 1);
        if (name == "pw") {
            box->setText(value);
        } else if (name == "keys") {
            box->setFocus();
            QTest::keyClicks(box, value);
        } else if (name == "im") {
            for (const QChar ch : value)
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), {});
        } else if (name == "scope") {
            part<QRadioButton>(c, kScopeOption[value.toInt()])->click();
        } else if (name == "expiry") {
            part<QLineEdit>(c, "expiryEdit")->setText(value);
        } else if (name == "leave") {
            part<QLineEdit>(c, "expiryEdit")->setFocus();
            part<QLineEdit>(c, "expiryEdit")->setText(value);
            box->setFocus();
        } else if (name == "no") {
            h.confirmAnswers = {false};
        } else if (name == "?focus") {
            QVERIFY2(part<QWidget>(c, value)->hasFocus(), qPrintable(value));
        } else if (name.startsWith(u'?')) {
            const QWidget *shown = part<QWidget>(c, name.mid(1));
            const auto *edit = qobject_cast<const QLineEdit *>(shown);
            const auto *label = qobject_cast<const QLabel *>(shown);
            QCOMPARE(!shown->isEnabled()                                         ? "disabled"
                     : edit                                                      ? edit->text()
                     : label                                                     ? label->text()
                     : qobject_cast<const QAbstractButton *>(shown)->isChecked() ? "on"
                                                                                 : "off",
                     value);
        } else {
            part<QAbstractButton>(c, name)->click();
        }
    }
    const QList<Shown> shown = h.messages + h.questions;
    QCOMPARE(shown.size(), says.isEmpty() ? 0 : 1);
    if (!says.isEmpty())
        QVERIFY2(shown[0].text.contains(says), qPrintable(shown[0].text));
    if (stored.isEmpty()) {
        QCOMPARE(snapshot(h.folders), before);
        QVERIFY(c->isVisible());
        return;
    }
    for (const QString &file : {h.paths().copy(), h.paths().database(), h.paths().config()}) {
        QVERIFY(!QFileInfo::exists(StagedPath(file)));
        QVERIFY(!QFileInfo::exists(file) || modeOf(file) == 0600);
    }
    const ParsedSettings now = storedSettings(h.paths());
    const bool inCopy = now.scope == Scope::ProgramAndDBase;
    QCOMPARE(QFileInfo::exists(h.paths().copy()), inCopy);
    QCOMPARE(QFileInfo::exists(h.paths().database()), !inCopy);
    QCOMPARE(QStringList({QString::fromLatin1(now.password), QString::number(int(now.scope)),
                          QString::fromLatin1(now.expiry)})
                 .join(u' '),
             stored);
    // The window goes on under the new settings, and a restart reads them.
    h.fill({"zed", "z", "9"});
    w.add();
    h.start({QString::fromLatin1(now.password)});
    QCOMPARE(h.w().records().toList(), kRecords + QList<QByteArray>{"zed:!z:!9:!:!"});
}

void TestSecurity::generatorOverManyPresses() {
    Harness h;
    SecurityWindow *c = openSettings(h.start());
    part<QCheckBox>(c, "suggest")->click();
    // Level 1 gives six characters, 2 eight and 3 what the count box says
    // (digits only, up to the longest proposal); the remark after a proposal
    // is its lower-case form.
    const std::tuple<const char *, QString, int, const char *> cases[] = {
        {"level1", "", 6, "^[1-9A-Z]+$"},
        {"level2", "", 8, "^[1-9A-Z]+$"},
        {"level3", "0003", 3, "^[1-9A-Za-z]+$"},
        {"level3", "9a9-b999", kMaxProposalLength, "^[1-9A-Za-z]+$"},
        {"level3", "", 0, "^$"}};
    for (const auto &[level, count, length, chars] : cases) {
        part<QRadioButton>(c, level)->click();
        if (QByteArrayView(level) == "level3") {
            part<QLineEdit>(c, "lengthEdit")->setText(count);
            QCOMPARE(part<QLineEdit>(c, "lengthEdit")->text().toInt(), length);
        }
        for (int press = 0; press < (length > 100 ? 1 : 100); ++press) { // the longest once
            part<QPushButton>(c, "goButton")->click();
            const QString proposal = part<QLineEdit>(c, "passwordEdit")->text().left(length);
            QCOMPARE(part<QLineEdit>(c, "passwordEdit")->text(),
                     proposal + "         (  " + proposal.toLower() + "  )");
            QVERIFY2(QRegularExpression(chars).match(proposal).hasMatch(), qPrintable(proposal));
        }
    }
}

void TestSecurity::strongProtectionEndToEnd() {
    // Chosen in the window with a passphrase of any script and blanks; asked
    // for at the next start; dropped from memory while locked; left only
    // after a question.
    Harness h(true);
    writeBytes(h.paths().database(), storeBytes(kRecords));
    MainWindow &w = h.start();
    SecurityWindow *c = openSettings(w);
    auto *box = part<QLineEdit>(c, "passwordEdit");
    QTest::keyClicks(box, "a");
    part<QRadioButton>(c, "scopeStrong")->click();
    box->clear();
    const QString passphrase = QString::fromUtf8("z\u0142oty ko\u0144, 1!");
    for (const QChar ch : passphrase) // as an input method sends them
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), {});
    QCOMPARE(box->text(), passphrase);
    part<QPushButton>(c, "acceptButton")->click();
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(w.scope(), Scope::Strong);
    QVERIFY(QFileInfo::exists(h.paths().strongStore()));
    QVERIFY(!QFileInfo::exists(h.paths().database()));
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray(kNeverExpires)); // as ticked

    MainWindow &again = h.start({"zloty kon, 1!", passphrase});
    QCOMPARE(h.promptsAnswered, 2);
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
    // Locked, the records leave memory, and so does one shown in the fields.
    h.clickRow(0);
    QCOMPARE(fieldEdit(again, Field::Password)->text(), QStringLiteral("pin1"));
    int listedWhileLocked = -1;
    h.whilePromptShows = [&] {
        listedWhileLocked = int(again.records().size()) + int(h.fields().join("").size()) +
                            int(again.session().strongKeys().valid());
    };
    h.promptEntries = {passphrase};
    again.lockNow();
    QCOMPARE(listedWhileLocked, 0);
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
    // Accepted with the box empty: the passphrase and the store stay as they are.
    const QByteArray kept = fileBytes(h.paths().strongStore());
    part<QPushButton>(openSettings(again), "acceptButton")->click();
    QCOMPARE(fileBytes(h.paths().strongStore()), kept);
    QCOMPARE(again.scope(), Scope::Strong);
    QVERIFY(h.messages.isEmpty());

    // Another program appends to the store while the window is idle, once
    // the settings' write has settled: the list follows at once, not at the
    // next command.
    Strong::Keys theirs;
    Strong::Opened opened;
    QCOMPARE(
        Strong::Open(h.paths().strongStore(), Strong::PassphraseBytes(passphrase), theirs, opened),
        Strong::Status::Ok);
    QTest::qWait(600);
    QCOMPARE(Strong::Append(h.paths().strongStore(), theirs, "aaa:!first:!pw:!:!"),
             Strong::Status::Ok);
    QTRY_COMPARE(h.names(), (QStringList{"aaa", "bank", "mail"}));

    // A line break in a field (an earlier version let one be pasted in)
    // would split its record in two in the others' files, a line a record.
    QCOMPARE(Strong::Append(h.paths().strongStore(), theirs, "bbb:!b:!two\nlines:!:!"),
             Strong::Status::Ok);
    QTRY_COMPARE(h.names(), (QStringList{"aaa", "bank", "bbb", "mail"}));

    h.confirmAnswers = {false, true, true};
    ::accept(again, "key9", "scopeProgramOnly");
    QCOMPARE(h.questions.size(), 1);
    QVERIFY(h.questions[0].text.contains("out of the strong store") &&
            h.questions[0].text.contains("earlier versions are not kept there"));
    QCOMPARE(again.scope(), Scope::Strong);
    const auto before = snapshot(h.folders);
    part<QPushButton>(again.securityWindow(), "acceptButton")->click();
    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.startsWith("The record bbb (b) holds a line break"),
             qPrintable(h.messages[0].text));
    QCOMPARE(again.scope(), Scope::Strong);
    QCOMPARE(snapshot(h.folders), before);
    h.clickRow(2);
    again.removeSelected();
    // Left for good, the records go in list order, as any rewrite writes
    // them, though the append stood last in the strong file.
    part<QPushButton>(again.securityWindow(), "acceptButton")->click();
    QCOMPARE(again.scope(), Scope::ProgramOnly);
    QCOMPARE(h.databaseFile(), storeBytes(QList<QByteArray>{"aaa:!first:!pw:!:!"} + kRecords));

    // Expired, and back into the strong store from the reminder's window: the
    // new passphrase starts a month on.
    writeSettings(h.paths(), "12-04-2026", "key9", 2);
    h.whilePromptShows = nullptr; // it looked at the window that goes now
    MainWindow &expired = h.start({"key9"});
    QVERIFY(expired.securityWindow() && expired.securityWindow()->isVisible());
    ::accept(expired, "new phrase", "scopeStrong");
    QCOMPARE(expired.scope(), Scope::Strong);
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray("01-05-2027"));
}

void TestSecurity::codesAndMarksGoWithEveryMove() {
    // The strong store keeps a code apart from the five fields, the others in
    // Other Info: each change of protection carries it to where the new one
    // keeps it, in the window and after a restart. A text that only looks
    // like a code, or two codes (which is the record's is not clear), stay in
    // Other Info as typed. A record marked "not a
    // concern" stays marked, named by its id in the strong store and by its
    // service and user name in the others.
    const QByteArray uri = "otpauth://totp/mail:bob?secret=JBSWY3DPEHPK3PXP&issuer=mail";
    const QByteArray lookalike = "see otpauth://totp/club";
    const QByteArray two = "otpauth://totp/a?secret=GEZDGNBV or otpauth://totp/b?secret=GEZDGNBW";
    const auto records = [&](bool strong) {
        return QList<QByteArray>{"bank:!ann:!pin1:!:!", "club:!cy:!c1:!" + lookalike + ":!",
                                 "mail:!bob:!x1:!note" + (strong ? "" : " " + uri) + ":!http://m",
                                 "team:!t:!t1:!" + two + ":!"};
    };
    Harness h(true);
    writeBytes(h.paths().database(), storeBytes(records(false)));
    h.start();
    HealthMarks marks;
    marks.setMarked(h.w().session().recordIdentity(0), true);
    QVERIFY(marks.write(h.paths().healthMarks()));
    const std::pair<int, QString> moves[] = {
        {3, "phrase1"}, {1, "key5"}, {3, "phrase2"}, {2, "key6"}, {0, ""}, {3, "phrase3"}, {0, ""}};
    for (const auto &[scope, password] : moves) {
        ::accept(h.w(), password, kScopeOption[scope]);
        for (const bool restarted : {false, true}) {
            if (restarted)
                h.start(password.isEmpty() ? QStringList() : QStringList{password});
            const QByteArray where =
                kScopeOption[scope] + QByteArray(restarted ? ", restarted" : "");
            QCOMPARE(h.w().scope(), Scope(scope));
            QVERIFY2(h.w().records().toList() == records(scope == 3), where);
            QVERIFY2(h.w().session().oneTimeCode(2) == uri, where);
            QVERIFY2(h.w().session().oneTimeCode(1).isEmpty() == (scope == 3), where);
            QVERIFY2(h.w().session().oneTimeCode(3).isEmpty() == (scope == 3), where);
            const HealthMarks now = HealthMarks::read(h.paths().healthMarks());
            QVERIFY2(now.marked(h.w().session().recordIdentity(0)) &&
                         !now.marked(h.w().session().recordIdentity(1)),
                     where);
        }
    }
    // A code given in the strong store to a record whose Other Info only
    // looks like one: leaving, the code goes in front, and the text stays.
    ::accept(h.w(), "phrase4", kScopeOption[3]);
    const QByteArray clubCode = "otpauth://totp/club?secret=GEZDGNBW";
    QCOMPARE(h.w().session().setOneTimeCode(1, clubCode), SessionStatus::Ok);
    ::accept(h.w(), "key7", kScopeOption[2]);
    QCOMPARE(h.w().records().line(1), "club:!cy:!c1:!" + clubCode + ' ' + lookalike + ":!");
    QCOMPARE(h.w().session().oneTimeCode(1), clubCode);
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
