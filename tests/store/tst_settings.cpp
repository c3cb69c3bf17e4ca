#include "../common/testfolders.h"

#include "settings.h"
#include "stringcipher.h"

#include <QFileInfo>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void keyNeverMakesLineBreaks();
    void lineRoundTrip_data();
    void lineRoundTrip();
    void parsingByPosition();
    void fileBytesAndRoundTrip();
    void unwritableConfigKeepsOldFile();
    void expiry_data();
    void expiry();
};

void TestSettings::keyNeverMakesLineBreaks() {
    QByteArray allowed("-x");
    for (char c = '0'; c <= '9'; ++c)
        allowed.append(c);
    for (char c = 'a'; c <= 'z'; ++c)
        allowed.append(c);
    for (char c = 'A'; c <= 'Z'; ++c)
        allowed.append(c);
    for (const char k : SettingsKey) {
        for (const char t : allowed) {
            char out = 0;
            QVERIFY(XorInvertSpan(&t, &out, 1, &k));
        }
    }
}

void TestSettings::lineRoundTrip_data() {
    QTest::addColumn<QByteArray>("expiry");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("scope");
    QTest::newRow("dated") << QByteArray("01-15-2027") << QByteArray("Abc123") << 1;
    QTest::newRow("never") << QByteArray("xx-xx-xxxx") << QByteArray("UNSETMARK") << 0;
    QTest::newRow("empty password") << QByteArray("xx-xx-xxxx") << QByteArray() << 2;
    QTest::newRow("long") << QByteArray("12-31-2099") << QByteArray(200, 'Z') << 2;
}

void TestSettings::lineRoundTrip() {
    QFETCH(QByteArray, expiry);
    QFETCH(QByteArray, password);
    QFETCH(int, scope);
    const QByteArray line =
        BuildSettingsLine(expiry, password, "12-05-2026", ScopeFromDigit(char('0' + scope)));
    QCOMPARE(line.size(), password.size() + 21);
    const ParsedSettings parsed = ParseSettingsLine(line);
    QCOMPARE(int(parsed.scope), scope);
    QVERIFY(parsed.hasPassword);
    QCOMPARE(parsed.password, password);
    QCOMPARE(parsed.expiry, expiry);
}

void TestSettings::parsingByPosition() {
    // Too short for a password, but the scope still counts.
    ParsedSettings shortLine = ParseSettingsLine("xx-xx-xxxx1");
    QCOMPARE(int(shortLine.scope), 1);
    QVERIFY(!shortLine.hasPassword);
    // A last character that is not a scope digit counts as scope 0.
    QCOMPARE(int(ParseSettingsLine("xx-xx-xxxxpw12-05-2026x").scope), 0);
    QCOMPARE(int(ParseSettingsLine("xx-xx-xxxxpw12-05-20267").scope), 0);
    QCOMPARE(int(ParseSettingsLine(QByteArray()).scope), 0);
    for (int length = 0; length <= 40; ++length) {
        const ParsedSettings p = ParseSettingsLine(QByteArray(length, '2'));
        QCOMPARE(p.hasPassword, length >= 21);
        if (p.hasPassword)
            QCOMPARE(p.password.size(), length - 21);
    }
}

void TestSettings::fileBytesAndRoundTrip() {
    TestFolders f;
    const QByteArray line =
        BuildSettingsLine("06-01-2027", "Secret9", "12-05-2026", Scope::ProgramOnly);
    QCOMPARE(WriteSettingsFile(f.paths, line), SettingsStatus::Ok);
    QCOMPARE(fileBytes(f.paths.config()), xorInverted(line, SettingsKey) + "\r\n");
    QCOMPARE(modeOf(f.paths.config()), 0600);
    QByteArray back;
    QCOMPARE(ReadSettingsFile(f.paths, back), SettingsStatus::Ok);
    QCOMPARE(back, line);
    QCOMPARE(ReadSettingsFile(TestFolders().paths, back), SettingsStatus::Missing);

    // Bytes that encipher to CR, LF, commas and quotes still come back whole.
    QByteArray any;
    for (int i = 0; i < 256; ++i)
        any.append(static_cast<char>(i));
    QCOMPARE(WriteSettingsFile(f.paths, any), SettingsStatus::Ok);
    QCOMPARE(ReadSettingsFile(f.paths, back), SettingsStatus::Ok);
    QCOMPARE(back, any);
}

void TestSettings::unwritableConfigKeepsOldFile() {
    TestFolders f;
    const QByteArray line = BuildSettingsLine("xx-xx-xxxx", "A", "12-05-2026", Scope::ProgramOnly);
    QCOMPARE(WriteSettingsFile(f.paths, line), SettingsStatus::Ok);
    QFile::remove(f.paths.config());
    QDir().mkdir(f.paths.config());
    QCOMPARE(WriteSettingsFile(f.paths, line), SettingsStatus::WriteFailed);
    QVERIFY(QFileInfo(f.paths.config()).isDir());
}

void TestSettings::expiry_data() {
    QTest::addColumn<QByteArray>("expiry");
    QTest::addColumn<QByteArray>("today");
    QTest::addColumn<int>("expected");
    const int no = int(Expiry::NotExpired), today = int(Expiry::ExpiresToday),
              past = int(Expiry::Expired);
    QTest::newRow("today") << QByteArray("12-05-2026") << QByteArray("12-05-2026") << today;
    QTest::newRow("next year") << QByteArray("01-15-2027") << QByteArray("12-05-2026") << no;
    QTest::newRow("last year") << QByteArray("12-31-2025") << QByteArray("01-02-2026") << past;
    QTest::newRow("yesterday") << QByteArray("12-04-2026") << QByteArray("12-05-2026") << past;
    QTest::newRow("last month") << QByteArray("11-30-2026") << QByteArray("12-05-2026") << past;
    QTest::newRow("tomorrow") << QByteArray("12-06-2026") << QByteArray("12-05-2026") << no;
    QTest::newRow("never") << QByteArray("xx-xx-xxxx") << QByteArray("12-05-2026") << no;
}

void TestSettings::expiry() {
    QFETCH(QByteArray, expiry);
    QFETCH(QByteArray, today);
    QFETCH(int, expected);
    QCOMPARE(int(CheckExpiry(expiry, today)), expected);
}

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
