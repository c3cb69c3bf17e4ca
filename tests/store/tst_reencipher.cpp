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
    void everyChangeKeepsEveryRecord();
    void emptyDatabaseGivesEmptyCopy();
    void unwritableConfigChangesNothing();
    void unsafeRecordChangesNothing();
    void interruptedBeforeCommitRollsBack();
    void interruptedAfterCommitRollsForward_data();
    void interruptedAfterCommitRollsForward();
    void unfinishedWritesAreClearedAndOldFilesKept();
};

void TestReencipher::everyChangeKeepsEveryRecord() {
    // Into the copy, a new password there, out with yet another password
    // (deciphered with the old key), and to None: at each step the records
    // are in the one file the scope names, as start-up reads them, and
    // nothing staged is left.
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    const struct {
        QByteArray password;
        int scope;
    } steps[] = {{"Old1", 1}, {"New2", 1}, {"Third3", 2}, {"UNSETMARK", 0}, {"Pw5", 2}};
    for (const auto &step : steps) {
        QCOMPARE(ApplySettings(f.paths, settings(step.password, step.scope)), AcceptStatus::Ok);
        const bool inCopy = step.scope == 1;
        QCOMPARE(fileBytes(inCopy ? f.paths.copy() : f.paths.database()),
                 inCopy ? copyBytes(kRecords, step.password) : storeBytes(kRecords));
        QVERIFY(!QFileInfo::exists(inCopy ? f.paths.database() : f.paths.copy()));
        QCOMPARE(loadAsStartUpWould(f.paths), kRecords);
        for (const QString &file : {f.paths.copy(), f.paths.database(), f.paths.config()})
            QVERIFY(!QFileInfo::exists(StagedPath(file)));
    }
}

void TestReencipher::emptyDatabaseGivesEmptyCopy() {
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, QList<QByteArray>(), ""), StoreStatus::Ok);
    QCOMPARE(ApplySettings(f.paths, settings("P", 1)), AcceptStatus::Ok);
    QCOMPARE(fileBytes(f.paths.copy()), QByteArray());
    QVERIFY(!QFileInfo::exists(f.paths.database()));
    // With no store at all the copy is made empty as well.
    TestFolders fresh;
    QCOMPARE(ApplySettings(fresh.paths, settings("P", 1)), AcceptStatus::Ok);
    QCOMPARE(fileBytes(fresh.paths.copy()), QByteArray());
}

void TestReencipher::unwritableConfigChangesNothing() {
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    QDir().mkdir(StagedPath(f.paths.config())); // the settings cannot be staged
    QCOMPARE(ApplySettings(f.paths, settings("Pw", 1)), AcceptStatus::ConfigWriteFailed);
    QCOMPARE(fileBytes(f.paths.database()), storeBytes(kRecords));
    QVERIFY(!QFileInfo::exists(f.paths.copy()));
    QVERIFY(!QFileInfo::exists(StagedPath(f.paths.copy())));
    QVERIFY(!QFileInfo::exists(f.paths.config()));
}

void TestReencipher::unsafeRecordChangesNothing() {
    TestFolders f;
    const char bad = static_cast<char>(245 ^ 'K'); // enciphers to LF under "K"
    const QList<QByteArray> records{QByteArray(1, bad) + ":!u:!p:!:!"};
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, records, ""), StoreStatus::Ok);
    QCOMPARE(ApplySettings(f.paths, settings("K", 1)), AcceptStatus::UnsafeRecord);
    QCOMPARE(fileBytes(f.paths.database()), storeBytes(records));
    QVERIFY(!QFileInfo::exists(f.paths.config()));
}

void TestReencipher::interruptedBeforeCommitRollsBack() {
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    // Cut short after the store was staged, before the settings were.
    writeBytes(StagedPath(f.paths.copy()), copyBytes({"x"}, "Pw"));
    RecoverPendingSettings(f.paths);
    QVERIFY(!QFileInfo::exists(StagedPath(f.paths.copy())));
    QCOMPARE(loadAsStartUpWould(f.paths), kRecords);
}

void TestReencipher::interruptedAfterCommitRollsForward_data() {
    QTest::addColumn<int>("stepsDone");
    QTest::newRow("nothing moved") << 0;
    QTest::newRow("copy in place") << 1;
    QTest::newRow("old store deleted") << 2;
}

void TestReencipher::interruptedAfterCommitRollsForward() {
    QFETCH(int, stepsDone);
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    writeBytes(StagedPath(f.paths.copy()), copyBytes(kRecords, "Pw"));
    QVERIFY(Platform::writeFileAtomically(StagedPath(f.paths.config()),
                                          SettingsFileContent(settings("Pw", 1))));
    if (stepsDone >= 1)
        QVERIFY(Platform::replaceFile(StagedPath(f.paths.copy()), f.paths.copy()));
    if (stepsDone >= 2)
        QVERIFY(Platform::removeFile(f.paths.database()));
    RecoverPendingSettings(f.paths);
    QCOMPARE(fileBytes(f.paths.copy()), copyBytes(kRecords, "Pw"));
    QVERIFY(!QFileInfo::exists(f.paths.database()));
    QVERIFY(!QFileInfo::exists(StagedPath(f.paths.config())));
    QCOMPARE(loadAsStartUpWould(f.paths), kRecords);
}

void TestReencipher::unfinishedWritesAreClearedAndOldFilesKept() {
    TestFolders f;
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, kRecords, ""), StoreStatus::Ok);
    QVERIFY(Platform::writeFileAtomically(f.paths.config(), SettingsFileContent(settings("", 0))));
    const QByteArray database = fileBytes(f.paths.database());
    // What writes cut short leave behind: half a store, half a copy, half a
    // staged settings file. None of it may be taken for the real thing.
    const QStringList leftovers{Platform::unfinishedPath(f.paths.database()),
                                Platform::unfinishedPath(f.paths.copy()),
                                Platform::unfinishedPath(StagedPath(f.paths.config()))};
    for (const QString &part : leftovers)
        writeBytes(part, "half a li");
    RecoverPendingSettings(f.paths);
    for (const QString &part : leftovers)
        QVERIFY2(!QFileInfo::exists(part), qPrintable(part));
    QCOMPARE(QDir(f.paths.dataFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    QCOMPARE(fileBytes(f.paths.database()), database);
    QCOMPARE(loadAsStartUpWould(f.paths), kRecords);
}

QTEST_APPLESS_MAIN(TestReencipher)
#include "tst_reencipher.moc"
