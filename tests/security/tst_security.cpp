#include "../common/guiharness.h"

#include "config.h"
#include "generator.h"
#include "reencipher.h"
#include "settings.h"
#include "stringcipher.h"

#include <QCheckBox>
#include <QGroupBox>
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

    void promptGivesThreeTries();
    void promptClosedEndsTheProgram();
    void expiryWarnings_data();
    void expiryWarnings();
    void scopeTransitions();
    void passwordFilterAndLength();
    void filterKeepsTheRepeatedScansResult();
    void expiryCorrections_data();
    void expiryCorrections();
    void expiryBoxInTheWindow();
    void acceptStoresOnlyWholeDates_data();
    void acceptStoresOnlyWholeDates();
    void acceptRefusesBadPasswords_data();
    void acceptRefusesBadPasswords();
    void windowShowsWhatIsStored();
    void loweringTheProtectionAsksFirst_data();
    void loweringTheProtectionAsksFirst();
    void generatorOverManyPresses();
};

void TestSecurity::promptGivesThreeTries() {
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "right1", 2);
    writeBytes(h.paths().database(), storeBytes(kRecords));
    const QByteArray config = fileBytes(h.paths().config());

    Chestwrd &w = h.start({"wrong", "", "right1"});
    QCOMPARE(h.promptsAnswered, 3);
    QVERIFY(!w.programEnded());
    QVERIFY(w.isVisible());
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
    QVERIFY(h.messages.isEmpty());

    h.start({"a", "b", "c", "right1"});
    QCOMPARE(h.promptsAnswered, 6);
    QVERIFY(h.w().programEnded());
    QCOMPARE(h.ended, 1);
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].title, QStringLiteral("Access Error"));
    QCOMPARE(h.messages[0].text, QStringLiteral("You are not allowed to use this application"));
    QVERIFY(!h.w().isVisible());
    QCOMPARE(fileBytes(h.paths().config()), config);
    QCOMPARE(h.databaseFile(), storeBytes(kRecords));
}

void TestSecurity::promptClosedEndsTheProgram() {
    Harness h(true);
    writeSettings(h.paths(), kNeverExpires, "right1", 1);
    writeBytes(h.paths().copy(), copyBytes(kRecords, "right1"));
    for (const char *how : {"<close>", "<destroy>"}) {
        h.ended = 0;
        h.start({"wrong", how});
        QVERIFY(h.w().programEnded());
        QCOMPARE(h.ended, 1);
        QVERIFY(h.messages.isEmpty());
        QCOMPARE(h.copyFile(), copyBytes(kRecords, "right1"));
    }

    // A settings window destroyed from outside opens again afresh.
    writeSettings(h.paths(), kNeverExpires, kUnsetPassword, 0);
    Chestwrd &w = h.start();
    w.mnuSecurity_Click();
    delete w.config();
    w.mnuSecurity_Click();
    QVERIFY(QTest::qWaitForWindowExposed(w.config()));
}

void TestSecurity::expiryWarnings_data() {
    QTest::addColumn<QByteArray>("expiry");
    QTest::addColumn<QString>("message");
    QTest::newRow("today") << QByteArray("12-05-2026") << "The Password expires today";
    QTest::newRow("yesterday") << QByteArray("12-04-2026") << "The Password has expired";
    QTest::newRow("tomorrow") << QByteArray("12-06-2026") << QString();
    QTest::newRow("never") << QByteArray(kNeverExpires) << QString();
}

void TestSecurity::expiryWarnings() {
    QFETCH(QByteArray, expiry);
    QFETCH(QString, message);
    Harness h(true);
    writeSettings(h.paths(), expiry, "pass9", 2);
    Chestwrd &w = h.start({"pass9"});
    QVERIFY(!w.programEnded());
    if (message.isEmpty()) {
        QVERIFY(h.messages.isEmpty());
        return;
    }
    QCOMPARE(h.messages.size(), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::NoIcon);
    QCOMPARE(h.messages[0].title, QStringLiteral("Varnlock Notification"));
    QCOMPARE(h.messages[0].text, message);
    QVERIFY(w.config()->isVisible());
    QCOMPARE(w.config()->Text1->text(), QStringLiteral("pass9"));
}

void TestSecurity::scopeTransitions() {
    Harness h(true);
    Chestwrd &w = h.startWith(kRecords);

    // 0 to 1: the records move into the copy, enciphered with the password.
    accept(w, "key1", &Config::Option4);
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(int(w.scope()), 1);
    QVERIFY(!w.config()->isVisible());
    QCOMPARE(h.copyFile(), copyBytes(kRecords, "key1"));
    QVERIFY(!Platform::exists(h.paths().database()));
    QCOMPARE(int(storedSettings(h.paths()).scope), 1);
    QCOMPARE(storedSettings(h.paths()).password, QByteArray("key1"));
    QCOMPARE(modeOf(h.paths().copy()), 0600);
    QCOMPARE(modeOf(h.paths().config()), 0600);

    // A record added now lands in the copy under the same key.
    h.fill({"shop", "carl", "pw"});
    w.mnuAdd_Click();
    const QList<QByteArray> three{kRecords[0], kRecords[1], "shop:!carl:!pw:!:!"};
    QCOMPARE(h.copyFile(), copyBytes(three, "key1"));
    QVERIFY(!Platform::exists(h.paths().tempFile()));

    h.start({"key1"});
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));
    QVERIFY(!Platform::exists(h.paths().tempFile()));

    // 1 to 1 with a new password: the copy is enciphered again, and a record
    // replaced after it reads back.
    accept(h.w(), "new2", &Config::Option4);
    QCOMPARE(h.copyFile(), copyBytes(three, "new2"));
    h.start({"new2"});
    h.clickRow(0);
    h.w().Text1[2]->setText("pin2");
    h.w().mnuReplace_Click();
    const QList<QByteArray> replaced{"bank:!ann:!pin2:!:!", kRecords[1], three[2]};
    QCOMPARE(h.copyFile(), copyBytes(replaced, "new2"));

    // 1 to 2 with another password: back to the plain store.
    accept(h.w(), "key2", &Config::Option6);
    QCOMPARE(h.databaseFile(), storeBytes(replaced));
    QVERIFY(!Platform::exists(h.paths().copy()));
    QCOMPARE(int(storedSettings(h.paths()).scope), 2);
    h.start({"key2"});
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));

    // 2 to 0: the store stays as it is, no prompt any more.
    accept(h.w(), QString(), &Config::Option5);
    QCOMPARE(int(storedSettings(h.paths()).scope), 0);
    QCOMPARE(storedSettings(h.paths()).password, QByteArray(kUnsetPassword));
    QCOMPARE(h.databaseFile(), storeBytes(replaced));
    h.start();
    QCOMPARE(h.promptsAnswered, 3);
    QCOMPARE(h.names(), (QStringList{"bank", "mail", "shop"}));
    QVERIFY(h.messages.isEmpty());
}

void TestSecurity::passwordFilterAndLength() {
    Harness h;
    Config *c = openSettings(h.start());
    c->Text1->setFocus();
    QTest::keyClicks(c->Text1, "ab c!");
    QCOMPARE(c->Text1->text(), QStringLiteral("abc"));
    QCOMPARE(c->Label2->text(), QStringLiteral("Length: "));
    QVERIFY(c->Option6->isChecked());
    QVERIFY(c->Option4->isEnabled());
    QVERIFY(c->Check2->isEnabled());
    QVERIFY(!c->Text2->isEnabled());

    c->Text1->setText(QStringLiteral("x-yz"));
    QCOMPARE(c->Text1->text(), QStringLiteral("xyz"));
    QCOMPARE(c->Text1->cursorPosition(), 2); // one past the removed character

    // A proposal keeps its remark and shows its length.
    c->Check1->click();
    c->Text1->setText(QStringLiteral("AB12         (  ab12  )"));
    QCOMPARE(c->Label2->text(), QStringLiteral("Length:  4"));
    c->Command2->click();
    QCOMPARE(storedSettings(h.paths()).password, QByteArray("AB12"));
    QCOMPARE(int(storedSettings(h.paths()).scope), 2);
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray(kNeverExpires));

    // Reset, then an emptied box: "None", never expires, the no-password mark.
    c = openSettings(h.w());
    c->Command3->click();
    c->Text1->setText("abc");
    c->Text1->clear();
    QVERIFY(c->Option5->isChecked());
    QVERIFY(!c->Option4->isEnabled() && !c->Check2->isEnabled());
    c->Command2->click();
    QCOMPARE(storedSettings(h.paths()).password, QByteArray(kUnsetPassword));
    QCOMPARE(int(storedSettings(h.paths()).scope), 0);
    QVERIFY(h.messages.isEmpty());
}

void TestSecurity::filterKeepsTheRepeatedScansResult() {
    // The filter as the settings window describes it: remove the first other
    // character, caret one past it, scan again from the start.
    auto byRescans = [](QString text) {
        int caret = -1;
        for (qsizetype bad = 0; bad < text.size();) {
            if (text.at(bad).isLetterOrNumber() && text.at(bad).unicode() < 128) {
                ++bad;
                continue;
            }
            text.remove(bad, 1);
            caret = int(std::min<qsizetype>(bad + 1, text.size()));
            bad = 0;
        }
        return std::make_pair(text, caret);
    };
    QRandomGenerator random(7);
    const QString alphabet = QStringLiteral("aZ9 -!\u00e9.");
    for (int round = 0; round < 500; ++round) {
        QString text;
        for (int i = int(random.bounded(12)); i > 0; --i)
            text += alphabet.at(random.bounded(int(alphabet.size())));
        const auto [expected, caret] = byRescans(text);
        QString filtered = text;
        const int got = FilterToAllowed(
            filtered, [](QChar c) { return c.unicode() < 128 && c.isLetterOrNumber(); });
        QCOMPARE(filtered, expected);
        QCOMPARE(got, caret);
    }
    // One pass over a big text: the rescans took 7 s for the 64 k characters
    // the box holds, and would not end in the test's time for these.
    QString big = QString(1 << 21, u'-');
    big[1] = u'b';
    QCOMPARE(FilterToAllowed(big, [](QChar ch) { return ch != u'-'; }), 1);
    QCOMPARE(big, QStringLiteral("b"));
}

void TestSecurity::expiryCorrections_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("result");
    const int ok = ExpiryCheck::Corrected, never = ExpiryCheck::NeverExpires,
              bad = ExpiryCheck::Unusable;
    QTest::newRow("one-digit month and day") << "1-5-2030" << ok << "01-05-2030";
    QTest::newRow("month past 12") << "13-10-2030" << ok << "12-10-2030";
    QTest::newRow("day past 31") << "12-32-2030" << ok << "12-01-2030";
    QTest::newRow("day zero") << "12-00-2030" << ok << "12-01-2030";
    QTest::newRow("slashes") << "06/15/2030" << ok << "06-15-2030";
    QTest::newRow("past year") << "12-20-2001" << ok << "12-20-2026";
    QTest::newRow("too short") << "1-5-30" << never << "";
    QTest::newRow("dash first") << "-1-05-2030" << bad << "";
    QTest::newRow("letter month") << "x-05-2030" << bad << "";
    QTest::newRow("letter day") << "05-x-2030" << bad << "";
    QTest::newRow("many dashes") << "1-------" << bad << "";
    QTest::newRow("good date") << "07-04-2031" << ok << "07-04-2031";
    // Only MM-DD-YYYY is ever kept: the file finds its fields by position.
    QTest::newRow("letters") << "ab-cd-efgh" << bad << "";
    QTest::newRow("letter year") << "12-05-abcd" << bad << "";
    QTest::newRow("three-digit day") << "01-011-2030" << bad << "";
}

void TestSecurity::expiryCorrections() {
    QFETCH(QString, input);
    QFETCH(int, outcome);
    QFETCH(QString, result);
    const ExpiryCheck check = CorrectExpiry(input, kToday);
    QCOMPARE(int(check.outcome), outcome);
    if (outcome == ExpiryCheck::Corrected)
        QCOMPARE(check.text, result);
}

void TestSecurity::expiryBoxInTheWindow() {
    // Proposals: a month on, in December the January after.
    QCOMPARE(ExpiryProposal(QDate(2026, 3, 15)), QStringLiteral("04-15-2026"));
    QCOMPARE(ExpiryProposal(QDate(2026, 12, 5)), QStringLiteral("01-05-2027"));

    Harness h;
    Config *c = openSettings(h.start());
    c->Text1->setText("pw1");
    c->Check2->click(); // unchecked: a proposal, focused
    QVERIFY(c->Text2->isEnabled());
    QCOMPARE(c->Text2->text(), QStringLiteral("01-05-2027"));
    QVERIFY(c->Text2->hasFocus());

    auto leaveWith = [&](const QString &text) {
        c->Text2->setFocus();
        c->Text2->setText(text);
        c->Text1->setFocus();
    };
    leaveWith("13-10-2030");
    QCOMPARE(c->Text2->text(), QStringLiteral("12-10-2030"));
    leaveWith("x-05-2030"); // unusable: the proposal again
    QCOMPARE(c->Text2->text(), QStringLiteral("01-05-2027"));
    leaveWith("06-30-2027");
    c->Command2->click();
    QCOMPARE(storedSettings(h.paths()).expiry, QByteArray("06-30-2027"));

    c = openSettings(h.w());
    QCOMPARE(c->Text2->text(), QStringLiteral("06-30-2027")); // as stored
    leaveWith("1-5-30");                                      // too short: never expires
    QVERIFY(c->Check2->isChecked());
    QVERIFY(c->Text2->text().isEmpty());
    QVERIFY(!c->Text2->isEnabled());
}

void TestSecurity::acceptStoresOnlyWholeDates_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("letters") << "ab-cd-efgh"
                             << "01-05-2027";
    QTest::newRow("letter day") << "1-x-2030"
                                << "01-05-2027";
    QTest::newRow("three-digit day") << "01-011-2030"
                                     << "01-05-2027";
    QTest::newRow("one-digit month") << "3-07-2030"
                                     << "03-07-2030";
}

void TestSecurity::acceptStoresOnlyWholeDates() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    Harness h(true);
    Config *c = openSettings(h.startWith(kRecords));
    c->Text1->setText("abc1");
    c->Check2->click();
    c->Text2->setText(typed); // and "Accept" pressed at once, the box never left
    c->Command2->click();
    QVERIFY(h.messages.isEmpty());
    QByteArray line;
    QCOMPARE(ReadSettingsFile(h.paths(), line), SettingsStatus::Ok);
    QCOMPARE(ParseSettingsLine(line).expiry, stored.toLatin1());
    QCOMPARE(ParseSettingsLine(line).password, QByteArray("abc1"));
    // After a restart the password typed is the one asked for.
    h.start({"abc1"});
    QCOMPARE(h.promptsAnswered, 1);
    QVERIFY(!h.w().programEnded());
    QCOMPARE(h.names(), (QStringList{"bank", "mail"}));
}

void TestSecurity::acceptRefusesBadPasswords_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("suggesting");
    QTest::addColumn<int>("scope");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("says");
    QTest::newRow("outside the code page")
        << QString::fromUtf8("z\u01421") << true << 2 << "" << QString::fromUtf8("\"\u0142\"");
    QTest::newRow("outside, astral") << QString::fromUtf8("a\U0001F511") << true << 2 << ""
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
    Chestwrd &w = h.start({"old1"});
    const auto before = snapshot(h.folders);
    Config *c = openSettings(w);
    if (suggesting)
        c->Check1->click(); // the filter is off while a proposal may stand in the box
    c->Text1->setText(box);
    (scope == 1 ? c->Option4 : c->Option6)->click();
    if (!date.isEmpty()) {
        c->Check2->click();
        c->Text2->setText(date);
    }
    c->Command2->click();
    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].text.contains(says), qPrintable(h.messages[0].text));
    QVERIFY(c->isVisible());
    QCOMPARE(c->Text1->text(), box);
    QCOMPARE(snapshot(h.folders), before);
}

void TestSecurity::windowShowsWhatIsStored() {
    Harness h(true);
    writeSettings(h.paths(), "03-01-2027", "key5", 1);
    writeBytes(h.paths().copy(), copyBytes(kRecords, "key5"));
    Chestwrd &w = h.start({"key5"});
    // "Security" alone shows the stored settings, as "Configure" does.
    w.mnuSecurity_Click();
    Config *c = w.config();
    QCOMPARE(c->Text1->text(), QStringLiteral("key5"));
    QVERIFY(c->Option4->isChecked());
    QVERIFY(!c->Option6->isChecked());
    QVERIFY(!c->Check2->isChecked());
    QCOMPARE(c->Text2->text(), QStringLiteral("03-01-2027"));
    // Accepted as shown, nothing is lowered and nothing is asked.
    c->Command2->click();
    QVERIFY(h.questions.isEmpty());
    QByteArray line;
    QCOMPARE(ReadSettingsFile(h.paths(), line), SettingsStatus::Ok);
    QCOMPARE(int(ParseSettingsLine(line).scope), 1);
    QCOMPARE(ParseSettingsLine(line).expiry, QByteArray("03-01-2027"));
    QCOMPARE(h.copyFile(), copyBytes(kRecords, "key5"));

    // A new password typed over the stored one (the expiry reminder's way)
    // keeps the protection and the date.
    c = openSettings(w);
    c->Text1->setFocus();
    QTest::keyClicks(c->Text1, "new7"); // over the selected stored password
    QCOMPARE(c->Text1->text(), QStringLiteral("new7"));
    QVERIFY(c->Option4->isChecked());
    c->Command2->click();
    QVERIFY(h.questions.isEmpty());
    QCOMPARE(h.copyFile(), copyBytes(kRecords, "new7"));
    QCOMPARE(ReadSettingsFile(h.paths(), line), SettingsStatus::Ok);
    QCOMPARE(ParseSettingsLine(line).expiry, QByteArray("03-01-2027"));

    // Typing into an emptied box still chooses "Program Only".
    c = openSettings(w);
    c->Text1->clear();
    c->Text1->setText("n");
    QVERIFY(c->Option6->isChecked());
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
    static QRadioButton *Config::*const option[] = {&Config::Option5, &Config::Option4,
                                                    &Config::Option6};
    for (const bool yes : {false, true}) {
        Harness h(true);
        writeSettings(h.paths(), kNeverExpires, "key5", from);
        QCOMPARE(RewriteDatabase(h.paths(), ScopeFromDigit(char('0' + from)), kRecords, "key5"),
                 StoreStatus::Ok);
        Chestwrd &w = h.start({"key5"});
        const auto before = snapshot(h.folders);
        h.confirmAnswers = {yes};
        ::accept(w, password, option[to]);
        QCOMPARE(h.questions.size(), names.isEmpty() ? 0 : 1);
        if (names.isEmpty())
            break;
        QVERIFY2(h.questions[0].text.contains(names), qPrintable(h.questions[0].text));
        QCOMPARE(int(w.scope()), yes ? to : from);
        if (!yes) {
            QCOMPARE(snapshot(h.folders), before); // "No" keeps everything
            QVERIFY(w.config()->isVisible());
        }
    }
}

void TestSecurity::generatorOverManyPresses() {
    Harness h;
    Config *c = openSettings(h.start());
    c->Check1->click();
    const QRegularExpression upper("^[1-9A-Z]+$"), mixed("^[1-9A-Za-z]+$");
    struct Case {
        QRadioButton *option;
        QString count;
        int length;
        const QRegularExpression *chars;
    };
    const Case cases[] = {{c->Option1, "40", 6, &upper},
                          {c->Option2, "", 8, &upper},
                          {c->Option3, "12", 12, &mixed},
                          {c->Option3, "0003", 3, &mixed}};
    QString seen;
    for (const Case &k : cases) {
        k.option->click();
        if (k.option == c->Option3)
            c->Text3->setText(k.count);
        for (int press = 0; press < 100; ++press) {
            c->Command1->click();
            const QString text = c->Text1->text();
            const QString proposal = text.left(k.length);
            QCOMPARE(text, proposal + "         (  " + proposal.toLower() + "  )");
            QVERIFY2(k.chars->match(proposal).hasMatch(), qPrintable(proposal));
            seen += proposal;
            QCOMPARE(c->Label2->text(), QStringLiteral("Length:  %1").arg(k.length));
        }
    }
    QVERIFY(seen.contains(QRegularExpression("[a-z]")) &&
            seen.contains(QRegularExpression("[A-Z]")) &&
            seen.contains(QRegularExpression("[1-9]")));

    // The count box keeps digits only and stops at the longest proposal; an
    // empty count gives an empty proposal.
    c->Text3->setText("9a9-b999");
    QCOMPARE(c->Text3->text(), QString::number(kMaxProposalLength));
    c->Command1->click();
    QCOMPARE(c->Text1->text().indexOf(u' '), kMaxProposalLength);
    c->Text3->clear();
    c->Command1->click();
    QCOMPARE(c->Text1->text(), QStringLiteral("         (    )"));

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

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
