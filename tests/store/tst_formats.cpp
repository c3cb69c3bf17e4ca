#include "../common/testfolders.h"

#include "database.h"
#include "fieldcipher.h"
#include "oldimport.h"
#include "settings.h"
#include "stringcipher.h"

#include <QtTest>

// The bytes of every file the program keeps: the ciphers, the store and
// settings lines, the expiry date and the old database's records.

class TestFormats : public QObject {
    Q_OBJECT
private slots:
    void everyLengthAndPlace_data();
    void everyLengthAndPlace();
    void fileFormatsKnownAnswers();
    void settingsLineByPosition();
    void settingsFileRoundTrip();
    void expiry();
    void oldRecordConversion_data();
    void oldRecordConversion();
};

void TestFormats::everyLengthAndPlace_data() {
    // The ciphers work sixteen bytes at a time with the tail done apart: every
    // length up to three blocks, in place and into another buffer, against
    // the ciphers' definitions taken a byte at a time; 256 holds every byte.
    QTest::addColumn<int>("length");
    for (int length = 0; length <= 50; ++length)
        QTest::newRow(qPrintable(QString::number(length))) << length;
    QTest::newRow("256") << 256;
}

void TestFormats::everyLengthAndPlace() {
    QFETCH(int, length);
    QByteArray text(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        text[i] =
            static_cast<char>((i * 37 + length * 11) & 0xFF); // every byte value over the rows
    const QByteArray key("k\xE9y", 3);

    QByteArray encoded, keyed;
    for (int i = 0; i < length; ++i) {
        EncodeText(text[i], encoded);
        keyed.append(static_cast<char>(
            255 - (static_cast<unsigned char>(text[i]) ^ static_cast<unsigned char>(key[i % 3]))));
    }
    QCOMPARE(EncodeLine(text), encoded);
    QCOMPARE(DecodeLine(encoded), text);
    QByteArray inPlace = encoded;
    DecodeInPlace(inPlace);
    QCOMPARE(inPlace, text);
    QByteArray once, twice;
    QVERIFY(XorInvert(text, key, once) && XorInvert(once, key, twice));
    QCOMPARE(once, keyed);
    QCOMPARE(twice, text);
    QCOMPARE(XorInvert(text, QByteArray(), once), text.isEmpty()); // no key: nothing appended
    QCOMPARE(once, keyed);
    QByteArray span = text;
    const QByteArray stream = KeyStream(key, length);
    const bool oneLine = XorInvertSpan(span.constData(), span.data(), length, stream.constData());
    QCOMPARE(span, keyed);
    QCOMPARE(oneLine, !keyed.contains('\r') && !keyed.contains('\n'));

    // A line break at each place is seen, whatever the block it falls in.
    for (int at = 0; at < std::min(length, 50); ++at) {
        QByteArray line(length, 'a');
        line[at] = at % 2 ? '\r' : '\n';
        QByteArray image(length, Qt::Uninitialized);
        QVERIFY(!EncodeInto(line, image.data()));
        QCOMPARE(image, EncodeLine(line));
        QVERIFY(EncodeInto(QByteArray(length, 'a'), image.data()));
    }
}

void TestFormats::fileFormatsKnownAnswers() {
    // The bytes every stored file depends on, written out here: a change to
    // the cipher table, the settings key or a line's layout makes every
    // user's files unreadable, and fails here first.
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QCOMPARE(EncodeLine(all).toHex(),
             QByteArray("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
                        "202122232425262728292a2b2c2d2e2f6c513353636b35307a72783b3c3d3e3f"
                        "40587050664e71623865756e325a4359774d313a6a7655487357475b5c5d5e5f"
                        "6045394456686d4f52496964793741364b4c424a6134547467466f7b7c7d7e7f"
                        "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f"
                        "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
                        "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
                        "e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"));

    TestFolders f;
    const QList<QByteArray> records{"mail:!bob:!pw1:!:!",
                                    "Bank:!ann:!S3cret:!n:!https://b.example"};
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, records, ""), StoreStatus::Ok);
    QCOMPARE(fileBytes(f.paths.database()).toHex(),
             QByteArray("37454979782139363978214b7451782178210d0a70454164782145414178213a"
                        "534442686178214178215261614b4a782f2f392e686745374b79680d0a"));
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, records, "key7"), StoreStatus::Ok);
    QCOMPARE(fileBytes(f.paths.copy()).toHex(),
             QByteArray("a3dfcfb1ecbbbffeade2a783e0cbfee9ecbb0d0ae4dfc7acecbbc389d5e2a7f2"
                        "c7dec4a0f5e2a789ecbbd4a9f5d1ccb0bbb5bfe6fcfdc3ffdfe3ee0d0a"));
    QCOMPARE(WriteSettingsFile(f.paths, BuildSettingsLine("01-06-2027", "Secret42", "12-01-2026",
                                                          Scope::ProgramAndDBase)),
             SettingsStatus::Ok);
    QCOMPARE(fileBytes(f.paths.config()).toHex(),
             QByteArray("1c47356138991706312a224f73ba335b312900162abe2704053c1322eb0d0a"));
    QCOMPARE(ConvertOldDatabase(QByteArray::fromHex(
                 "4a49616878454141784b7472785261614b782f2f672e686745374b7968787a6c"
                 "7a6c2f450d0a")),
             QList<QByteArray>({"site:!ann:!pw9:!:!http://x.example:8080/a"}));
    // Older files end their lines with a lone CR too.
    QCOMPARE(ConvertOldDatabase(EncodeLine("s:u:p:path") + '\r' + EncodeLine("t:v:q:") + '\r'),
             QList<QByteArray>({"s:!u:!p:!:!path", "t:!v:!q:!"}));
}

void TestFormats::settingsLineByPosition() {
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

void TestFormats::settingsFileRoundTrip() {
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

void TestFormats::expiry() {
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

void TestFormats::oldRecordConversion_data() {
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("four fields") << QByteArray("mail:bob:x1:C:\\notes")
                                 << QByteArray("mail:!bob:!x1:!C:!:!\\notes");
    QTest::newRow("plain path") << QByteArray("s:u:p:path") << QByteArray("s:!u:!p:!:!path");
    QTest::newRow("web address") << QByteArray("site:me:pw:http://x.org")
                                 << QByteArray("site:!me:!pw:!:!http://x.org");
    QTest::newRow("ends with colon") << QByteArray("a:b:") << QByteArray("a:!b:!");
    QTest::newRow("no colon") << QByteArray("abc") << QByteArray(":!abc");
    QTest::newRow("address only") << QByteArray("https://x") << QByteArray(":!https://x");
    QTest::newRow("short http") << QByteArray("http") << QByteArray(":!http");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("address after a field")
        << QByteArray("s:http://x:y") << QByteArray("s:!:!http://x:y");
    // Converted in one pass: copying the rest at each colon took 47 s for a
    // megabyte, and would not end in the test's time for these.
    QTest::newRow("colons only") << QByteArray(1 << 22, ':') << QByteArray(":!").repeated(1 << 22);
    QTest::newRow("many fields") << QByteArray("ab:").repeated(1 << 20)
                                 << QByteArray("ab:!").repeated(1 << 20);
}

void TestFormats::oldRecordConversion() {
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, line);
    QCOMPARE(ConvertOldRecord(old), line);
}

QTEST_APPLESS_MAIN(TestFormats)
#include "tst_formats.moc"
