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
