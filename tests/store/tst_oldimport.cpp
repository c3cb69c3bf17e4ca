#include "oldimport.h"

#include <QtTest>

class TestOldImport : public QObject {
    Q_OBJECT
private slots:
    void conversion_data();
    void conversion();
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

QTEST_APPLESS_MAIN(TestOldImport)
#include "tst_oldimport.moc"
