#include "../common/testfolders.h"

#include "fieldcipher.h"
#include "oldimport.h"

#include <QtTest>

class TestOldImport : public QObject {
    Q_OBJECT
private slots:
    void conversion_data();
    void conversion();
    void readingTheOldFile();
};

void TestOldImport::conversion_data() {
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

void TestOldImport::conversion() {
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, line);
    QCOMPARE(ConvertOldRecord(old), line);
}

void TestOldImport::readingTheOldFile() {
    TestFolders f;
    QList<QByteArray> lines;
    QCOMPARE(ReadOldDatabase(f.paths.oldDatabase(), lines), StoreStatus::Missing);
    const QByteArray content = EncodeLine("a:b:c:http://a.org") + "\r\n\r\n" +
                               EncodeLine("x, y:u:p:d") + "\r\n" + EncodeLine("q:w:e:r");
    writeBytes(f.paths.oldDatabase(), content);
    QCOMPARE(ReadOldDatabase(f.paths.oldDatabase(), lines), StoreStatus::Ok);
    QCOMPARE(lines,
             (QList<QByteArray>{"a:!b:!c:!:!http://a.org", "x, y:!u:!p:!:!d", "q:!w:!e:!:!r"}));
    QCOMPARE(fileBytes(f.paths.oldDatabase()), content); // only read
}

QTEST_APPLESS_MAIN(TestOldImport)
#include "tst_oldimport.moc"
