#include "../common/testfolders.h"
#include "ansi.h"

#include "database.h"
#include "fieldcipher.h"
#include "fold.h"
#include "recordfind.h"
#include "recordline.h"
#include "recordlist.h"
#include "settings.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtTest>

#include <unistd.h>

class TestRecordStore : public QObject {
    Q_OBJECT
private slots:
    void storesReadInOrderAsASortWould();
    void findAgreesWithAPlainSearch();
    void fieldViewsAndTextAgreeWithTheirCopies();
    void appendTouchesOnlyItsFile();
    void unsafeRecordsAreRefused();
    void storesHoldExactlyTheirLines();
};

void TestRecordStore::storesReadInOrderAsASortWould() {
    // A store read as a sorted run and a tail of appended records (a few
    // after a long run, or many), ties and duplicates included, comes out
    // exactly as a full sort would give it.
    const auto readAsASortWould = [](const QList<QByteArray> &lines) {
        QByteArray block = lines.join();
        std::vector<QByteArrayView> views;
        for (qsizetype at = 0; const QByteArray &line : lines) {
            views.emplace_back(block.constData() + at, line.size());
            at += line.size();
        }
        std::vector<QByteArrayView> expected = views;
        std::stable_sort(expected.begin(), expected.end(), RecordList::lessThan);
        RecordList read;
        read.adopt(block, views);
        return std::equal(read.lines().begin(), read.lines().end(), expected.begin(),
                          expected.end(), [](QByteArrayView x, QByteArrayView y) {
                              return x.data() == y.data(); // the same record, in the same place
                          });
    };
    QRandomGenerator random(27);
    for (int round = 0; round < 400; ++round) {
        QList<QByteArray> lines;
        for (int i = 0, n = int(random.bounded(round % 2 ? 40 : 1000)); i < n; ++i)
            lines << QByteArray(1, "aAbBc"[random.bounded(5)]) + ":!" +
                         QByteArray::number(random.bounded(4)) + ":!p:!:!";
        const qsizetype appended = random.bounded(round % 2 ? lines.size() + 1 : 8);
        std::sort(
            lines.begin(), lines.end() - std::min(appended, lines.size()),
            [](const QByteArray &x, const QByteArray &y) { return RecordList::lessThan(x, y); });
        QVERIFY(readAsASortWould(lines));
    }
    // A large store is checked a half on each core: a record out of order
    // before, at or after the middle is found as one pass would find it.
    for (const qsizetype at : {10, 49999, 50000, 50001, 99999}) {
        QList<QByteArray> lines;
        for (int i = 0; i < 100000; ++i)
            lines << "r" + QByteArray::number(100000 + i) + ":!u:!p:!:!";
        lines[at] = "a:!u:!p:!:!";
        QVERIFY2(readAsASortWould(lines), qPrintable(QString::number(at)));
    }
}

void TestRecordStore::appendTouchesOnlyItsFile() {
    // An append adds one stored line to its scope's file, after a last line
    // without an ending too, and leaves the other file alone; the copy is
    // deciphered in memory, with no temporary file at any step. The folder
    // and the files are the owner's alone, whatever the umask.
    const mode_t umaskBefore = ::umask(0);
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
    for (const Scope scope : {Scope::None, Scope::ProgramOnly, Scope::ProgramAndDBase}) {
        TestFolders f(false);
        QVERIFY(Platform::createHiddenFolder(f.paths.dataFolder()));
        QCOMPARE(modeOf(f.paths.dataFolder()), 0700);
        const bool inCopy = scope == Scope::ProgramAndDBase;
        const QString mine = StoreFile(f.paths, scope);
        const QString other = inCopy ? f.paths.database() : f.paths.copy();
        writeBytes(other, "untouched\r\n");
        QCOMPARE(RewriteDatabase(f.paths, scope, {"a:!b:!c:!:!"}, "Pass9"), StoreStatus::Ok);
        QByteArray expected = fileBytes(mine);
        expected.chop(2);
        writeBytes(mine, expected);
        for (const QByteArray line : {"d:!e:!f:!g:!h", "x:!:!:!:!"}) {
            QCOMPARE(AppendRecord(f.paths, scope, line, "Pass9"), StoreStatus::Ok);
            const QByteArray encoded = EncodeLine(line);
            expected += (expected.endsWith('\n') ? "" : "\r\n") +
                        (inCopy ? xorInverted(encoded, "Pass9") : encoded) + "\r\n";
        }
        QCOMPARE(fileBytes(mine), expected);
        QCOMPARE(modeOf(mine), 0600);
        QCOMPARE(fileBytes(other), QByteArray("untouched\r\n"));
        RecordList list;
        QCOMPARE(LoadDatabase(f.paths, scope, "Pass9", list), StoreStatus::Ok);
        QCOMPARE(list.toList(), (QList<QByteArray>{"a:!b:!c:!:!", "d:!e:!f:!g:!h", "x:!:!:!:!"}));
        QVERIFY(!QFileInfo::exists(f.paths.tempFile()));
    }
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

    // Past the first sixteen bytes too. Under this key '~' enciphers to LF
    // and 'l' (field-ciphered to 'y') to CR; the separators stay safe.
    const QByteArray longKey("\x8B", 1);
    const QByteArray filler(40, '-');
    for (const QByteArray &breaker : {QByteArray("~"), QByteArray("l")})
        QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase,
                                 {"ok:!u:!p:!:!", "s:!u:!p:!:!" + filler + breaker}, longKey),
                 StoreStatus::UnsafeRecord);
    QVERIFY(!QFileInfo::exists(f.paths.copy()));
    QCOMPARE(RewriteDatabase(f.paths, Scope::ProgramAndDBase, {"s:!u:!p:!:!" + filler}, longKey),
             StoreStatus::Ok);
    RecordList list;
    QCOMPARE(LoadDatabase(f.paths, Scope::ProgramAndDBase, longKey, list), StoreStatus::Ok);
    QCOMPARE(list.toList(), QList<QByteArray>{"s:!u:!p:!:!" + filler});
}

void TestRecordStore::storesHoldExactlyTheirLines() {
    // Five megabytes go to the disk a piece at a time: the file is the same
    // bytes as the lines encoded at once, they load back as the same records
    // (read in two halves at once),
    // and a line that cannot be stored after the first pieces are out leaves
    // the old store whole. An empty list leaves an empty store.
    TestFolders f;
    QList<QByteArray> lines{"Bank, savings:!me:!\"quoted\":!,,:!C:\\x", "z:!\xE9t\xE9:!p:!:!"};
    for (int i = 0; i < 45000; ++i)
        lines.append("service" + QByteArray::number(i) + ":!user:!pw" + QByteArray(70, 'x') +
                     ":!:!https://example.org");
    const RecordList list(lines);
    for (const Scope scope : {Scope::None, Scope::ProgramAndDBase}) {
        QCOMPARE(RewriteDatabase(f.paths, scope, list.lines(), "Key1"), StoreStatus::Ok);
        const QByteArray expected =
            scope == Scope::None ? storeBytes(list.toList()) : copyBytes(list.toList(), "Key1");
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

    // Its two halves are read apart, each finding where its own order ends:
    // records out of order in the first half, across the middle, in the
    // second half or appended at the end come out as a full sort gives them.
    QList<QByteArray> ordered;
    for (int i = 0; i < 60000; ++i)
        ordered << "r" + QByteArray::number(100000 + i) + ":!u:!p:!" + QByteArray(70, 'x') + ":!";
    const QByteArray whole = storeBytes(ordered);
    // The first record of the second half: the halves part after the line
    // ending at or after the middle byte (all records are of one length).
    const qsizetype middle =
        QByteArrayView(whole).first(whole.indexOf('\n', whole.size() / 2)).count('\n') + 1;
    for (const qsizetype swapped : {qsizetype(10), middle - 1, middle + 100, qsizetype(-1)}) {
        QList<QByteArray> stored = ordered;
        if (swapped < 0)
            stored.append("a:!u:!p:!:!");
        else
            stored.swapItemsAt(swapped, swapped + 1);
        writeBytes(f.paths.database(), storeBytes(stored));
        RecordList loaded;
        QCOMPARE(LoadDatabase(f.paths, Scope::None, "", loaded), StoreStatus::Ok);
        QVERIFY2(loaded == RecordList(stored), qPrintable(QString::number(swapped)));
    }
}

void TestRecordStore::findAgreesWithAPlainSearch() {
    // Random records of letters in both cases (Windows-1252's too), texts of
    // one to four characters taken from them with their case changed, and a
    // plain fold-and-search as the reference; narrowing from each text's
    // first character gives the same.
    QRandomGenerator random(20261207);
    const QByteArray letters = "abcXYZ:!\xE9\xC9\x9A\x8A\xFF\x9F 0";
    const auto word = [&](int length) {
        QByteArray out;
        for (int i = 0; i < length; ++i)
            out += letters[random.bounded(int(letters.size()))];
        return out;
    };
    QList<QByteArray> lines;
    for (int i = 0; i < 3000; ++i)
        lines << word(random.bounded(1, 40)) + ":!" + word(5) + ":!" + word(6) + ":!" +
                     word(random.bounded(0, 30)) + ":!" + word(random.bounded(0, 20));
    const RecordList records(lines);
    const auto fold = [](QByteArrayView text) {
        QByteArray out = text.toByteArray();
        for (char &c : out)
            c = char(kFold[static_cast<unsigned char>(c)]);
        return out;
    };
    for (int turn = 0; turn < 300; ++turn) {
        QByteArray text = word(random.bounded(1, 5));
        text.replace(":!", "x");
        QList<qsizetype> expected;
        for (qsizetype i = 0; i < records.size(); ++i) {
            RecordFields fields;
            SplitRecordLine(records.line(i), fields);
            const QByteArray searched =
                fold(fields[Field::Service] + ":!" + fields[Field::UserName]) + '\n' +
                fold(fields[Field::OtherInfo] + ":!" + fields[Field::Path]);
            if (searched.contains(fold(text)))
                expected << i;
        }
        QCOMPARE(FindRecords(records, text), expected);
        const QList<qsizetype> first = FindRecords(records, text.left(1));
        QCOMPARE(FindRecords(records, text, &first), expected);
    }
}

void TestRecordStore::fieldViewsAndTextAgreeWithTheirCopies() {
    // The views the command line looks through many records with give what
    // the split copies (the service name as the list shows it), on lines cut
    // short anywhere and on a path that holds the separator itself.
    const QByteArray whole = "svc:!user:!pass:!other:!path:!more";
    QList<QByteArray> lines{"", ":!", ":!:!:!:!", "no separator"};
    for (qsizetype cut = 0; cut <= whole.size(); ++cut)
        lines << whole.left(cut);
    for (const QByteArray &line : lines) {
        RecordFields fields;
        SplitRecordLine(line, fields);
        fields[Field::Service] = ServiceName(line);
        for (const Field field : kFields)
            QVERIFY2(FieldView(line, field) == fields[field],
                     qPrintable(line + " / " + FieldCaption(field)));
    }
    // The UTF-8 printed straight from the bytes is the text's own.
    QByteArray every(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        every[b] = char(b);
    QByteArray printed = "kept ";
    Ansi::appendUtf8(printed, every);
    QCOMPARE(printed, "kept " + Ansi::toUnicode(every).toUtf8());
}

QTEST_APPLESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"
