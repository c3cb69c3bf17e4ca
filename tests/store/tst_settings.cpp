#include "../common/testfolders.h"

#include "settings.h"
#include "stringcipher.h"

#include <QFileInfo>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void lineByPosition();
    void fileBytesAndRoundTrip();
    void expiry();
};

void TestSettings::lineByPosition() {
    // Found by position from both ends: the scope is the last character, a
    // digit or else 0; the password needs the whole line around it.
    const QByteArray line =
        BuildSettingsLine("01-15-2027", "Abc123", "12-05-2026", Scope::ProgramAndDBase);
    QCOMPARE(line, QByteArray("01-15-2027Abc12312-05-20261"));
    QCOMPARE(ParseSettingsLine(line).password, QByteArray("Abc123"));
    QCOMPARE(int(ParseSettingsLine("xx-xx-xxxx1").scope), 1);
    QVERIFY(!ParseSettingsLine("xx-xx-xxxx1").hasPassword);
    QCOMPARE(int(ParseSettingsLine("xx-xx-xxxxpw12-05-2026x").scope), 0);
    QCOMPARE(int(ParseSettingsLine("xx-xx-xxxxpw12-05-20267").scope), 0);
    QCOMPARE(ParseSettingsLine("xx-xx-xxxx12-05-20262").password, QByteArray());
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

void TestSettings::expiry() {
    const int no = int(Expiry::NotExpired), today = int(Expiry::ExpiresToday),
              past = int(Expiry::Expired);
    const std::tuple<QByteArray, QByteArray, int> rows[] = {
        {"12-05-2026", "12-05-2026", today},
        {"01-15-2027", "12-05-2026", no},
        {"12-31-2025", "01-02-2026", past},
        {"12-04-2026", "12-05-2026", past},
        {"11-30-2026", "12-05-2026", past},
        {"12-06-2026", "12-05-2026", no},
        {"xx-xx-xxxx", "12-05-2026", no},
        // A day past its month's end, as older versions stored it, reminds on the last day.
        {"02-31-2027", "02-28-2027", today},
        {"02-31-2027", "02-27-2027", no},
        {"02-30-2028", "02-29-2028", today},
        {"04-31-2027", "04-30-2027", today},
        {"04-31-2027", "05-01-2027", past}};
    for (const auto &[expiry, on, expected] : rows)
        QVERIFY2(int(CheckExpiry(expiry, on)) == expected, expiry + " on " + on);
}

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
