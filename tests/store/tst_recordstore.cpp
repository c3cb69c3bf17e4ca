#include "../common/testfolders.h"

#include "database.h"
#include "fieldcipher.h"
#include "recordline.h"
#include "recordlist.h"
#include "reencipher.h"
#include "settings.h"
#include "stringcipher.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <unistd.h>

class TestRecordStore : public QObject {
    Q_OBJECT
private slots:
    void composeAndSplit();
    void splitStopsAtMissingSeparator();
    void serviceNames();
    void listOrderIgnoresCase();
    void listOperations();
    void scopeZeroFileBytes();
    void readerKeepsEveryLine();
    void appendAfterLastLineWithoutEnding();
    void scopeOneBytesWithoutTemporaryFile();
    void scopeOneLeavesDatabaseFileAlone();
    void dataFolderThatIsAFile();
    void storeThatIsAFolder();
    void plantedLinkIsNotFollowed();
    void filesAreOwnerOnly();
    void unsafeRecordsAreRefused();
    void missingCopyAtLoad();
    void storesHoldExactlyTheirLines();
};

void TestRecordStore::composeAndSplit() {
    const RecordFields fields{"mail", "bob", "x1", "note, with comma", "http://x.org"};
    const QByteArray line = ComposeRecordLine(fields);
    QCOMPARE(line, QByteArray("mail:!bob:!x1:!note, with comma:!http://x.org"));
    RecordFields back;
    QVERIFY(SplitRecordLine(line, back));
    QCOMPARE(back, fields);
    QCOMPARE(ComposeRecordLine({"a", "", "", "", ""}), QByteArray("a:!:!:!:!"));
}

void TestRecordStore::splitStopsAtMissingSeparator() {
    // Nothing after the last separator: the path keeps what it held.
    RecordFields fields{"", "", "", "", "old path"};
    QVERIFY(SplitRecordLine("mail:!bob:!x1:!:!", fields));
    QCOMPARE(fields, (RecordFields{"mail", "bob", "x1", "", "old path"}));
    // A missing separator stops at once; the later fields keep their text.
    RecordFields partial{"s", "u", "p", "o", "r"};
    QVERIFY(!SplitRecordLine("one:!two", partial));
    QCOMPARE(partial, (RecordFields{"one", "u", "p", "o", "r"}));
    // A field holding the separator shifts the rest into the path.
    RecordFields extra;
    QVERIFY(SplitRecordLine("a:!b:!c:!d:!e:!f", extra));
    QCOMPARE(extra[4], QByteArray("e:!f"));
}

void TestRecordStore::serviceNames() {
    QCOMPARE(ServiceName("mail:!bob:!:!:!"), QByteArray("mail"));
    QCOMPARE(ServiceName(":!bob:!:!:!"), QByteArray());
    QCOMPARE(ServiceName("no separator"), QByteArray("no separator"));
}

void TestRecordStore::listOrderIgnoresCase() {
    RecordList list(
        {"beta:!:!:!:!", "Alpha:!:!:!:!", "alpha:!:!:!:!", "mail!:!:!:!:!", "mail:!:!:!:!"});
    QStringList names;
    for (qsizetype i = 0; i < list.size(); ++i)
        names << QString::fromLatin1(list.serviceName(i));
    // "mail!" and "mail" would sort differently by name alone; the names
    // follow the records, so each name stays with its own line.
    QCOMPARE(names, QStringList({"Alpha", "alpha", "beta", "mail!", "mail"}));
    for (qsizetype i = 0; i < list.size(); ++i)
        QVERIFY(list.line(i).startsWith(list.serviceName(i) + ":!"));
}

void TestRecordStore::listOperations() {
    RecordList list;
    qsizetype at = -1;
    QCOMPARE(list.add("b:!u:!p:!:!", &at), RecordList::Change::Done);
    QCOMPARE(list.add("a:!u:!p:!:!", &at), RecordList::Change::Done);
    QCOMPARE(at, 0);
    QCOMPARE(list.add("a:!u:!p:!:!"), RecordList::Change::Duplicate);
    QCOMPARE(list.add("A:!u:!p:!:!"), RecordList::Change::Done); // case differs: not a duplicate
    QCOMPARE(list.size(), 3);
    // Unchanged, or equal to another record: no change.
    QCOMPARE(list.replace(0, list.line(0)), RecordList::Change::NoChange);
    QCOMPARE(list.replace(0, "b:!u:!p:!:!"), RecordList::Change::NoChange);
    qsizetype moved = -1;
    QCOMPARE(list.replace(0, "z:!u:!p:!:!", &moved), RecordList::Change::Done);
    QCOMPARE(list.line(moved), QByteArray("z:!u:!p:!:!"));
    QCOMPARE(moved, 2);
    QCOMPARE(list.remove(5), RecordList::Change::BadIndex);
    QCOMPARE(list.remove(0), RecordList::Change::Done);
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.indexOf("z:!u:!p:!:!"), 1);
}

void TestRecordStore::scopeZeroFileBytes() {
    TestFolders f;
    QCOMPARE(AppendRecord(f.paths, Scope::None, "a:!:!:!:!", ""), StoreStatus::Ok);
    const QByteArray colon = EncodeLine(":");
    const QByteArray expected = EncodeLine("a") + (colon + "!").repeated(4) + "\r\n";
    QCOMPARE(fileBytes(f.paths.database()), expected);
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramOnly, "b:!u:!p:!o:!r", ""), StoreStatus::Ok);
    QCOMPARE(fileBytes(f.paths.database()), expected + EncodeLine("b:!u:!p:!o:!r") + "\r\n");
    QVERIFY(!QFileInfo::exists(f.paths.copy()));
}

void TestRecordStore::readerKeepsEveryLine() {
    TestFolders f;
    // LF-only endings, an empty line, a line without ":!" in the middle and a
    // last line without an ending.
    const QByteArray content = EncodeLine("b:!1:!2:!:!") + "\n\r\n" + EncodeLine("damaged") +
                               "\r\n" + EncodeLine("a:!x,y:!2:!:!");
    writeBytes(f.paths.database(), content);
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::None, "", list), StoreStatus::Ok);
    QCOMPARE(list.toList(), (QList<QByteArray>{"a:!x,y:!2:!:!", "b:!1:!2:!:!", "damaged"}));
    QCOMPARE(list.serviceName(2), QByteArray("damaged"));
    RecordList none;
    QCOMPARE(LoadDatabase(TestFolders().paths, Scope::None, "", none), StoreStatus::Missing);
    QVERIFY(none.isEmpty());
}

void TestRecordStore::appendAfterLastLineWithoutEnding() {
    TestFolders f;
    writeBytes(f.paths.database(), EncodeLine("a:!:!:!:!"));
    QCOMPARE(AppendRecord(f.paths, Scope::None, "b:!:!:!:!", ""), StoreStatus::Ok);
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::None, "", list), StoreStatus::Ok);
    QCOMPARE(list.size(), 2);
}

void TestRecordStore::scopeOneBytesWithoutTemporaryFile() {
    TestFolders f;
    const QByteArray key("Pass9");
    const QList<QByteArray> lines{"a:!b:!c:!:!", "d:!e:!f:!g:!h"};
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, lines, key), StoreStatus::Ok);
    QByteArray expected = fileBytes(f.paths.copy());
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramAndDBase, "x:!y:!z:!:!", key), StoreStatus::Ok);
    expected += XorInverted(EncodeLine("x:!y:!z:!:!"), key) + "\r\n";
    QCOMPARE(fileBytes(f.paths.copy()), expected);
    // Start-up deciphers the copy in memory: no temporary file at any step.
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::ProgramAndDBase, key, list), StoreStatus::Ok);
    QCOMPARE(list.toList(), (QList<QByteArray>{"a:!b:!c:!:!", "d:!e:!f:!g:!h", "x:!y:!z:!:!"}));
    QVERIFY(!QFileInfo::exists(f.paths.tempFile()));
}

void TestRecordStore::scopeOneLeavesDatabaseFileAlone() {
    TestFolders f;
    writeBytes(f.paths.database(), "untouched\r\n");
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramAndDBase, "a:!b:!c:!:!", "k"), StoreStatus::Ok);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"q:!w:!e:!:!"}, "k"),
             StoreStatus::Ok);
    QCOMPARE(fileBytes(f.paths.database()), QByteArray("untouched\r\n"));
    writeBytes(f.paths.copy(), "copy\r\n");
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, {"q:!w:!e:!:!"}, ""), StoreStatus::Ok);
    QCOMPARE(fileBytes(f.paths.copy()), QByteArray("copy\r\n"));
}

void TestRecordStore::dataFolderThatIsAFile() {
    TestFolders f(false);
    writeBytes(f.paths.dataFolder(), "not a folder");
    QCOMPARE(AppendRecord(f.paths, Scope::None, "a:!b:!c:!:!", ""), StoreStatus::WriteFailed);
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, {"a:!b:!c:!:!"}, ""), StoreStatus::WriteFailed);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"a:!b:!c:!:!"}, "k"),
             StoreStatus::WriteFailed);
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramAndDBase, "a:!b:!c:!:!", "k"),
             StoreStatus::WriteFailed);
    QCOMPARE(fileBytes(f.paths.dataFolder()), QByteArray("not a folder"));
    QVERIFY(!QFileInfo::exists(f.paths.tempFile()));
}

void TestRecordStore::storeThatIsAFolder() {
    TestFolders f;
    QDir().mkdir(f.paths.database());
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, {"a:!b:!c:!:!"}, ""), StoreStatus::WriteFailed);
    QCOMPARE(AppendRecord(f.paths, Scope::None, "a:!b:!c:!:!", ""), StoreStatus::WriteFailed);
    RecordList list;
    QVERIFY(LoadDatabase(f.paths, Scope::None, "", list) != StoreStatus::Ok);
    QVERIFY(QFileInfo(f.paths.database()).isDir());
}

void TestRecordStore::plantedLinkIsNotFollowed() {
    TestFolders f;
    const QString victim = f.root.path() + "/victim";
    writeBytes(victim, "precious");
    QVERIFY(::symlink(victim.toLocal8Bit().constData(),
                      f.paths.tempFile().toLocal8Bit().constData()) == 0);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"b:!b:!c:!:!"}, "k"),
             StoreStatus::Ok);
    RemoveStaleTempFile(f.paths);
    QCOMPARE(fileBytes(victim), QByteArray("precious"));
    QVERIFY(QFileInfo(f.paths.tempFile()).isSymLink()); // not ours to judge: left alone
}

void TestRecordStore::filesAreOwnerOnly() {
    // The modes are set by the program, not left to a permissive umask.
    const mode_t umaskBefore = ::umask(0);
    TestFolders f(false);
    QVERIFY(Platform::createHiddenFolder(f.paths.dataFolder()));
    QCOMPARE(modeOf(f.paths.dataFolder()), 0700);
    QCOMPARE(AppendRecord(f.paths, Scope::None, "a:!b:!c:!:!", ""), StoreStatus::Ok);
    QCOMPARE(modeOf(f.paths.database()), 0600);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"a:!b:!c:!:!"}, "k"),
             StoreStatus::Ok);
    QCOMPARE(modeOf(f.paths.copy()), 0600);
    QCOMPARE(RewriteDatabase(f.paths, Scope::None, {"b:!b:!c:!:!"}, ""), StoreStatus::Ok);
    QCOMPARE(modeOf(f.paths.database()), 0600);
    QCOMPARE(WriteSettingsFile(f.paths, BuildSettingsLine(kNeverExpires, "k", "12-01-2026",
                                                          Scope::ProgramAndDBase)),
             SettingsStatus::Ok);
    QCOMPARE(ApplySettings(f.paths, BuildSettingsLine(kNeverExpires, "k2", "12-01-2026",
                                                      Scope::ProgramAndDBase)),
             AcceptStatus::Ok);
    ::umask(umaskBefore);
    const QFileInfoList files =
        QDir(f.paths.dataFolder())
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(files.size(), 3); // the store, the copy and the settings
    for (const QFileInfo &file : files)
        QVERIFY2(modeOf(file.filePath()) == 0600, qPrintable(file.fileName()));
}

void TestRecordStore::unsafeRecordsAreRefused() {
    TestFolders f;
    // A byte that enciphers to LF under this key: 255 - (t ^ k) == 10.
    const QByteArray key("\xD4", 1);
    const char bad = '!';
    const QByteArray line = QByteArray(1, bad) + ":!u:!p:!:!";
    QVERIFY(EncodeLine(QByteArray(1, bad)) == QByteArray(1, bad)); // outside the field cipher set
    QCOMPARE(CheckStorable(line, Scope::ProgramAndDBase, key), StoreStatus::UnsafeRecord);
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramAndDBase, line, key), StoreStatus::UnsafeRecord);
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {line}, key),
             StoreStatus::UnsafeRecord);
    QVERIFY(!QFileInfo::exists(f.paths.copy()));
    QCOMPARE(CheckStorable(line, Scope::None, key), StoreStatus::Ok);
    QCOMPARE(CheckStorable("a\nb:!:!:!:!", Scope::None, ""), StoreStatus::UnsafeRecord);
    QCOMPARE(AppendRecord(f.paths, Scope::ProgramAndDBase, "a:!b:!c:!:!", ""), StoreStatus::NoKey);

    // The same at every place of a long line. Under this key '~' enciphers to
    // LF and 'l' (field-ciphered to 'y') to CR; the separators stay safe.
    const QByteArray longKey("\x8B", 1);
    const QByteArray filler(40, '-');
    for (char breaker : {'~', 'l'}) {
        for (int at = 0; at < filler.size(); ++at) {
            QByteArray unsafe = "s:!u:!p:!:!" + filler;
            unsafe[11 + at] = breaker;
            QCOMPARE(
                RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"ok:!u:!p:!:!", unsafe}, longKey),
                StoreStatus::UnsafeRecord);
        }
    }
    for (int at = 0; at < filler.size(); ++at) {
        QByteArray broken = "s:!u:!p:!:!" + filler;
        broken[11 + at] = at % 2 ? '\r' : '\n';
        QCOMPARE(RewriteDatabase(f.paths, Scope::None, {broken}, ""), StoreStatus::UnsafeRecord);
    }
    QVERIFY(!QFileInfo::exists(f.paths.copy()));
    QVERIFY(!QFileInfo::exists(f.paths.database()));
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"s:!u:!p:!:!" + filler}, longKey),
             StoreStatus::Ok);
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::ProgramAndDBase, longKey, list), StoreStatus::Ok);
    QCOMPARE(list.toList(), QList<QByteArray>{"s:!u:!p:!:!" + filler});
}

void TestRecordStore::missingCopyAtLoad() {
    TestFolders f;
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::ProgramAndDBase, "k", list), StoreStatus::Missing);
    QVERIFY(list.isEmpty());
    QVERIFY(!QFileInfo::exists(f.paths.tempFile()));
}

QTEST_APPLESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"

void TestRecordStore::storesHoldExactlyTheirLines() {
    // Three megabytes go to the disk a piece at a time: the file is the same
    // bytes as the lines encoded at once, they load back as the same records,
    // and a line that cannot be stored after the first pieces are out leaves
    // the old store whole. An empty list leaves an empty store.
    TestFolders f;
    QList<QByteArray> lines{"Bank, savings:!me:!\"quoted\":!,,:!C:\\x", "z:!\xE9t\xE9:!p:!:!"};
    for (int i = 0; i < 30000; ++i)
        lines.append("service" + QByteArray::number(i) + ":!user:!pw" + QByteArray(70, 'x') +
                     ":!:!https://example.org");
    const RecordList list(lines);
    for (const Scope scope : {Scope::None, Scope::ProgramAndDBase}) {
        QCOMPARE(RewriteDatabase(f.paths, scope, list.lines(), "Key1"), StoreStatus::Ok);
        QByteArray expected;
        for (const QByteArrayView line : list.lines()) {
            const QByteArray encoded = EncodeLine(line.toByteArray());
            expected += scope == Scope::None ? encoded : XorInverted(encoded, "Key1");
            expected += "\r\n";
        }
        const QString file = StoreFile(f.paths, scope);
        QCOMPARE(fileBytes(file), expected);

        QList<QByteArray> broken = list.toList();
        broken.append("zzz:!u:!p:!a\nb:!");
        QCOMPARE(RewriteDatabase(f.paths, scope, broken, "Key1"), StoreStatus::UnsafeRecord);
        QCOMPARE(fileBytes(file), expected);
        QVERIFY(!QFileInfo::exists(Platform::unfinishedPath(file)));
        RecordList loaded;
        QCOMPARE(LoadDatabase(f.paths, scope, "Key1", loaded), StoreStatus::Ok);
        QVERIFY(loaded == list);
        QCOMPARE(RewriteDatabase(f.paths, scope, QList<QByteArray>(), "Key1"), StoreStatus::Ok);
        QCOMPARE(fileBytes(file), QByteArray());
    }
}
