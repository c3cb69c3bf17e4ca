#include "../common/testfolders.h"

#include "database.h"
#include "fieldcipher.h"
#include "reencipher.h"
#include "settings.h"
#include "stringcipher.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

namespace {

const QList<QByteArray> kRecords{"alpha:!al:!pw1:!:!", "beta:!be:!pw2:!note:!http://b"};

QByteArray settings(const QByteArray &password, int scope) {
    return BuildSettingsLine("xx-xx-xxxx", password, "12-05-2026",
                             ScopeFromDigit(char('0' + scope)));
}

QList<QByteArray> loadAsStartUpWould(const StorePaths &paths) {
    QByteArray line;
    ReadSettingsFile(paths, line);
    const ParsedSettings parsed = ParseSettingsLine(line);
    RecordList list;
    LoadDatabase(paths, parsed.scope, parsed.password, list);
    return list.toList();
}

} // namespace

class TestReencipher : public QObject {
    Q_OBJECT
private slots:
    void refusedChangesNothing();
    void interruptedChangeIsSettled_data();
    void interruptedChangeIsSettled();
};

void TestReencipher::refusedChangesNothing() {
    // Settings that cannot be staged, and a record that would encipher to a
    // line break under the new key ("K").
    const QList<QByteArray> unsafe{QByteArray(1, char(245 ^ 'K')) + ":!u:!p:!:!"};
    for (const bool unwritable : {true, false}) {
        TestFolders f;
        const QList<QByteArray> records = unwritable ? kRecords : unsafe;
        QCOMPARE(RewriteDatabase(f.paths, Scope::None, records, ""), StoreStatus::Ok);
        if (unwritable)
            QDir().mkdir(StagedPath(f.paths.config()));
        QCOMPARE(ApplySettings(f.paths, settings("K", 1)),
                 unwritable ? AcceptStatus::ConfigWriteFailed : AcceptStatus::UnsafeRecord);
        QCOMPARE(fileBytes(f.paths.database()), storeBytes(records));
        for (const QString &file : {f.paths.copy(), StagedPath(f.paths.copy()), f.paths.config()})
            QVERIFY(!QFileInfo::exists(file));
    }
}

void TestReencipher::interruptedChangeIsSettled_data() {
    QTest::addColumn<int>("stepsDone");
    QTest::newRow("copy staged, settings not") << -1;
    QTest::newRow("settings staged, nothing moved") << 0;
    QTest::newRow("copy in place") << 1;
    QTest::newRow("old store deleted") << 2;
}

void TestReencipher::interruptedChangeIsSettled() {
    // Before the settings are staged the change rolls back; after, forward.
    QFETCH(int, stepsDone);
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    writeBytes(StagedPath(f.paths.copy()), copyBytes(kRecords, "Pw"));
    if (stepsDone >= 0)
        QVERIFY(Platform::writeFileAtomically(StagedPath(f.paths.config()),
                                              SettingsFileContent(settings("Pw", 1))));
    if (stepsDone >= 1)
        QVERIFY(Platform::replaceFile(StagedPath(f.paths.copy()), f.paths.copy()));
    if (stepsDone >= 2)
        QVERIFY(Platform::removeFile(f.paths.database()));
    RecoverPendingSettings(f.paths);
    const bool forward = stepsDone >= 0;
    QCOMPARE(fileBytes(f.paths.copy()),
             forward ? copyBytes(kRecords, "Pw") : QByteArray("<missing>"));
    QCOMPARE(QFileInfo::exists(f.paths.database()), !forward);
    for (const QString &file : {f.paths.copy(), f.paths.config()})
        QVERIFY(!QFileInfo::exists(StagedPath(file)));
    QCOMPARE(loadAsStartUpWould(f.paths), kRecords);
}

QTEST_APPLESS_MAIN(TestReencipher)
#include "tst_reencipher.moc"
