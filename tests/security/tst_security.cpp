#include "../common/guiharness.h"

#include "generator.h"
#include "reencipher.h"
#include "securitywindow.h"
#include "settings.h"
#include "stringcipher.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
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
    void scopeTransitions();
    void passwordFilterAndLength();
    void pureRules();
    void expiryBoxInTheWindow();
    void acceptRefusesBadPasswords_data();
    void acceptRefusesBadPasswords();
    void windowShowsWhatIsStored();
    void loweringTheProtectionAsksFirst_data();
    void loweringTheProtectionAsksFirst();
    void generatorOverManyPresses();
    void strongProtectionEndToEnd();
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
    MainWindow &w = h.start(answers);
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
    if (message.contains("Notification"))
        QCOMPARE(part<QLineEdit>(w.securityWindow(), "passwordEdit")->text(),
                 QStringLiteral("right1"));
    QCOMPARE(snapshot(h.folders), before);
}

void TestSecurity::scopeTransitions() {
    Harness h(true);
    MainWindow &w = h.startWith(kRecords);
    // Every file written is the owner's alone whatever the umask, and no
    // step leaves anything staged.
    const mode_t umaskBefore = ::umask(0);
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
    auto stored = [&] { return storedSettings(h.paths()); };
    const auto settled = [&] {
        for (const QString &file : {h.paths().copy(), h.paths().database(), h.paths().config()}) {
            QVERIFY(!QFileInfo::exists(StagedPath(file)));
            QVERIFY(!QFileInfo::exists(file) || modeOf(file) == 0600);
        }
    };

    // 0 to 1: the records move into the copy, enciphered with the password,
    // and a record added then lands there under the same key.
    accept(w, "key1", "scopeProgramAndDBase");
    QVERIFY(h.messages.isEmpty() && !w.securityWindow()->isVisible());
    QCOMPARE(h.copyFile(), copyBytes(kRecords, "key1"));
    QVERIFY(!Platform::exists(h.paths().database()));
    QCOMPARE(stored().password, QByteArray("key1"));
    settled();
    h.fill({"shop", "carl", "pw"});
    w.add();
    const QList<QByteArray> three{kRecords[0], kRecords[1], "shop:!carl:!pw:!:!"};
    QCOMPARE(h.copyFile(), copyBytes(three, "key1"));
    h.start({"key1"});
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));
    QVERIFY(!Platform::exists(h.paths().tempFile()));

    // 1 to 2 with another password: back to the plain store.
    accept(h.w(), "key2", "scopeProgramOnly");
    QCOMPARE(h.databaseFile(), storeBytes(three));
    QVERIFY(!Platform::exists(h.paths().copy()));
    QCOMPARE(int(stored().scope), 2);
    settled();

    // 2 to 0: the store stays as it is, no prompt any more.
    accept(h.w(), QString(), "scopeNone");
    QCOMPARE(int(stored().scope), 0);
    QCOMPARE(stored().password, QByteArray(kUnsetPassword));
    QCOMPARE(h.databaseFile(), storeBytes(three));
    settled();
    h.start();
    QCOMPARE(h.promptsAnswered, 1);
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));
    QVERIFY(h.messages.isEmpty());
}

void TestSecurity::passwordFilterAndLength() {
    Harness h;
    SecurityWindow *c = openSettings(h.start());
    part<QLineEdit>(c, "passwordEdit")->setFocus();
    QTest::keyClicks(part<QLineEdit>(c, "passwordEdit"), "ab c!");
    QCOMPARE(part<QLineEdit>(c, "passwordEdit")->text(), QStringLiteral("abc"));
    QCOMPARE(part<QLabel>(c, "lengthLabel")->text(), QStringLiteral("Length: "));
    QVERIFY(part<QRadioButton>(c, "scopeProgramOnly")->isChecked() &&
            part<QRadioButton>(c, "scopeProgramAndDBase")->isEnabled() &&
            part<QCheckBox>(c, "neverExpires")->isEnabled());
    QVERIFY(!part<QLineEdit>(c, "expiryEdit")->isEnabled());

    // A proposal keeps its remark and shows its length.
    part<QCheckBox>(c, "suggest")->click();
    part<QLineEdit>(c, "passwordEdit")->setText(QStringLiteral("AB12         (  ab12  )"));
    QCOMPARE(part<QLabel>(c, "lengthLabel")->text(), QStringLiteral("Length:  4"));
    part<QPushButton>(c, "acceptButton")->click();
    QCOMPARE(storedSettings(h.paths()).password, QByteArray("AB12"));
    QCOMPARE(int(storedSettings(h.paths()).scope), 2);
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray(kNeverExpires));

    // Reset, then an emptied box: "None", never expires, the no-password mark.
    c = openSettings(h.w());
    part<QPushButton>(c, "resetButton")->click();
    part<QLineEdit>(c, "passwordEdit")->setText("abc");
    part<QLineEdit>(c, "passwordEdit")->clear();
    QVERIFY(part<QRadioButton>(c, "scopeNone")->isChecked());
    QVERIFY(!part<QRadioButton>(c, "scopeProgramAndDBase")->isEnabled() &&
            !part<QCheckBox>(c, "neverExpires")->isEnabled());
    part<QPushButton>(c, "acceptButton")->click();
    QCOMPARE(storedSettings(h.paths()).password, QByteArray(kUnsetPassword));
    QCOMPARE(int(storedSettings(h.paths()).scope), 0);
    QVERIFY(h.messages.isEmpty());
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

void TestSecurity::expiryBoxInTheWindow() {
    Harness h(true);
    SecurityWindow *c = openSettings(h.startWith(kRecords));
    QLineEdit *password = part<QLineEdit>(c, "passwordEdit"),
              *expiry = part<QLineEdit>(c, "expiryEdit");
    QCheckBox *never = part<QCheckBox>(c, "neverExpires");
    password->setText("pw1");
    never->click(); // unchecked: a proposal, focused
    QVERIFY(expiry->isEnabled() && expiry->hasFocus());
    QCOMPARE(expiry->text(), QStringLiteral("01-05-2027"));
    auto leaveWith = [&](const QString &text) {
        expiry->setFocus();
        expiry->setText(text);
        password->setFocus();
    };
    leaveWith("13-10-2030");
    QCOMPARE(expiry->text(), QStringLiteral("12-10-2030"));
    leaveWith("x-05-2030"); // unusable: the proposal again
    QCOMPARE(expiry->text(), QStringLiteral("01-05-2027"));
    leaveWith("1-5-30"); // too short: never expires
    QVERIFY(never->isChecked() && expiry->text().isEmpty() && !expiry->isEnabled());

    // "Accept" pressed at once, the box never left: the date is still
    // checked before it is stored.
    for (const auto &[typed, stored] :
         {std::pair{"3-07-2030", "03-07-2030"}, std::pair{"ab-cd-efgh", "01-05-2027"}}) {
        c = openSettings(h.w());
        part<QLineEdit>(c, "passwordEdit")->setText("abc1");
        if (part<QCheckBox>(c, "neverExpires")->isChecked())
            part<QCheckBox>(c, "neverExpires")->click();
        part<QLineEdit>(c, "expiryEdit")->setText(QString::fromLatin1(typed));
        part<QPushButton>(c, "acceptButton")->click();
        QCOMPARE(storedSettings(h.paths()).expiry, QByteArray(stored));
        QCOMPARE(storedSettings(h.paths()).password, QByteArray("abc1"));
    }
    QVERIFY(h.messages.isEmpty());
}

void TestSecurity::acceptRefusesBadPasswords_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("suggesting");
    QTest::addColumn<int>("scope");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("says");
    // The letters-and-digits filter keeps what the files can not hold, so it
    // is refused by name instead of vanishing: typed, or pasted.
    QTest::newRow("outside, typed")
        << QString::fromUtf8("z\u01421") << false << 2 << "" << QString::fromUtf8("\"\u0142\"");
    QTest::newRow("outside, astral, pasted") << QString::fromUtf8("a\U0001F511") << false << 2 << ""
                                             << QString::fromUtf8("\"\U0001F511\"");
    QTest::newRow("the no-password mark") << "UNSETMARK" << false << 2 << ""
                                          << "UNSETMARK";
    QTest::newRow("empty before a blank") << " abc" << true << 1 << ""
                                          << "needs a password";
    QTest::newRow("blank in the date") << "pw1" << false << 2 << "12-3 -2030"
                                       << "There can not be spaces on a password";
}

void TestSecurity::acceptRefusesBadPasswords() {
    QFETCH(QString, box);
    QFETCH(bool, suggesting);
    QFETCH(int, scope);
    QFETCH(QString, date);
    QFETCH(QString, says);
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "old1", 2);
    writeBytes(h.paths().database(), storeBytes(kRecords));
    MainWindow &w = h.start({"old1"});
    const auto before = snapshot(h.folders);
    SecurityWindow *c = openSettings(w);
    if (suggesting)
        part<QCheckBox>(c, "suggest")
            ->click(); // the filter is off while a proposal may stand in the box
    part<QLineEdit>(c, "passwordEdit")->clear();
    if (QTest::currentDataTag() == QLatin1String("outside, typed"))
        for (const QChar ch : box) // as an input method sends it: no key code, the text
            QTest::sendKeyEvent(QTest::Click, part<QLineEdit>(c, "passwordEdit"), Qt::Key_unknown,
                                QString(ch), {});
    else
        part<QLineEdit>(c, "passwordEdit")->setText(box);
    (scope == 1 ? part<QRadioButton>(c, "scopeProgramAndDBase")
                : part<QRadioButton>(c, "scopeProgramOnly"))
        ->click();
    if (!date.isEmpty()) {
        part<QCheckBox>(c, "neverExpires")->click();
        part<QLineEdit>(c, "expiryEdit")->setText(date);
    }
    part<QPushButton>(c, "acceptButton")->click();
    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.contains(says), qPrintable(h.messages[0].text));
    QVERIFY(c->isVisible());
    QCOMPARE(part<QLineEdit>(c, "passwordEdit")->text(), box);
    QCOMPARE(snapshot(h.folders), before);
}

void TestSecurity::windowShowsWhatIsStored() {
    Harness h(true);
    writeSettings(h.paths(), "03-01-2027", "key5", 1);
    writeBytes(h.paths().copy(), copyBytes(kRecords, "key5"));
    MainWindow &w = h.start({"key5"});
    // "Security" alone shows the stored settings; a new password typed over
    // the stored one (the expiry reminder's way) keeps the protection and the
    // date, and asks nothing.
    w.showSecurity();
    SecurityWindow *c = w.securityWindow();
    QCOMPARE(part<QLineEdit>(c, "expiryEdit")->text(), QStringLiteral("03-01-2027"));
    part<QLineEdit>(c, "passwordEdit")->setFocus();
    QTest::keyClicks(part<QLineEdit>(c, "passwordEdit"), "new7"); // over the selected password
    QCOMPARE(part<QLineEdit>(c, "passwordEdit")->text(), QStringLiteral("new7"));
    part<QPushButton>(c, "acceptButton")->click();
    QVERIFY(h.questions.isEmpty());
    QCOMPARE(h.copyFile(), copyBytes(kRecords, "new7"));
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray("03-01-2027"));
    QCOMPARE(int(storedSettings(h.paths()).scope), 1);
    // The window goes on under the new key.
    h.clickRow(0);
    fieldEdit(w, 2)->setText("pin2");
    w.replaceSelected();
    QCOMPARE(h.copyFile(), copyBytes({"bank:!ann:!pin2:!:!", kRecords[1]}, "new7"));
}

void TestSecurity::loweringTheProtectionAsksFirst_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("names");
    QTest::newRow("out of the copy") << 1 << "key5" << 2 << "out of the enciphered copy";
    QTest::newRow("password removed") << 2 << "" << 0 << "remove the master password";
    QTest::newRow("both") << 1 << "" << 0 << "asking for it, and move the records";
    QTest::newRow("raised: no question") << 2 << "key5" << 1 << "";
}

void TestSecurity::loweringTheProtectionAsksFirst() {
    QFETCH(int, from);
    QFETCH(QString, password);
    QFETCH(int, to);
    QFETCH(QString, names);
    for (const bool yes : {false, true}) {
        Harness h(true);
        writeSettings(h.paths(), kNeverExpires, "key5", from);
        QCOMPARE(RewriteDatabase(h.paths(), ScopeFromDigit(char('0' + from)), kRecords, "key5"),
                 StoreStatus::Ok);
        MainWindow &w = h.start({"key5"});
        const auto before = snapshot(h.folders);
        h.confirmAnswers = {yes};
        ::accept(w, password, kScopeOption[to]);
        QCOMPARE(h.questions.size(), names.isEmpty() ? 0 : 1);
        if (names.isEmpty())
            break;
        QVERIFY2(h.questions[0].text.contains(names), qPrintable(h.questions[0].text));
        QCOMPARE(int(w.scope()), yes ? to : from);
        if (!yes) {
            QCOMPARE(snapshot(h.folders), before); // "No" keeps everything
            QVERIFY(w.securityWindow()->isVisible());
        }
    }
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

    // Codes outside the level are drawn again: 1, "0" and "\\" before "B",
    // and "b" only at level 3.
    QList<double> draws{0.0, 47.5 / 255, 65.5 / 255, 91.5 / 255, 97.5 / 255};
    auto scripted = [&draws] { return draws.takeFirst(); };
    QCOMPARE(GenerateProposal(3, 2, scripted), QByteArray("Bb"));
    draws = {97.5 / 255, 254.9 / 255, 56.5 / 255};
    for (int i = 0; i < 5; ++i)
        draws.append(65.5 / 255);
    QCOMPARE(GenerateProposal(1, 99, scripted), QByteArray("9BBBBB"));
    QVERIFY(draws.isEmpty());
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

    MainWindow &again = h.start({"zloty kon, 1!", passphrase});
    QCOMPARE(h.promptsAnswered, 2);
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
    // Locked, the records leave memory, and so does one shown in the fields.
    h.clickRow(0);
    QCOMPARE(fieldEdit(again, 2)->text(), QStringLiteral("pin1"));
    int listedWhileLocked = -1;
    h.whilePromptShows = [&] {
        listedWhileLocked = int(again.records().size()) + int(h.fields().join("").size());
    };
    h.promptEntries = {passphrase};
    again.lockNow();
    QCOMPARE(listedWhileLocked, 0);
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));

    h.confirmAnswers = {false};
    ::accept(again, "key9", "scopeProgramOnly");
    QCOMPARE(h.questions.size(), 1);
    QVERIFY(h.questions[0].text.contains("out of the strong store"));
    QCOMPARE(again.scope(), Scope::Strong);
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
