#include "../common/testfolders.h"

#include "outcometext.h"
#include "session.h"
#include "strongstore.h"

#include <QtTest>

#include <sodium.h>

// The strong store's file, byte by byte: the known files of every version
// opened, every byte of a small one flipped, every length cut, and what a
// start makes of a damaged one.

namespace {

using Strong::Status;

// The smallest derivation a file may ask for: every test pays for each one.
const Strong::KdfParams kSmall{3, Strong::kMinMemory};
const QList<QByteArray> kRecords{"mail:!bob:!pw1:!:!", "Bank:!ann:!S3cret:!n:!https://b.example"};
const QList<QByteArray> kAppended{"one:!a:!1:!:!", "two:!b:!2:!:!", "three:!c:!3:!:!"};
constexpr qsizetype kHeader = 152;
// A frame of one short record: length, its check, nonce, 64 bytes, tag.
constexpr qsizetype kFrame = 4 + 4 + 24 + 64 + 16;

std::vector<QByteArrayView> views(const QList<QByteArray> &records) {
    return {records.cbegin(), records.cend()};
}

// A store of the first record written whole, then the three others appended,
// a frame each: the shape a store has after a few days of use.
QByteArray appendedStore(const QString &path, Strong::Keys &keys) {
    bool written =
        Strong::Create(path, "pass word", kSmall, views({kRecords[0]}), keys) == Status::Ok;
    for (const QByteArray &record : kAppended)
        written = written && Strong::Append(path, keys, record) == Status::Ok;
    if (!written)
        qFatal("the test could not write its store");
    return fileBytes(path);
}

// The header's checksum made right again after a change to its fields, as a
// newer (or a malicious) writer would.
QByteArray resummed(QByteArray file) {
    crypto_generichash(reinterpret_cast<unsigned char *>(file.data() + 136), 16,
                       reinterpret_cast<const unsigned char *>(file.constData()), 136, nullptr, 0);
    return file;
}

// A store as a few weeks of use leave it: one record changed twice, one
// removed, written whole, then the three others appended.
RecordId idOf(char c) {
    RecordId id;
    id.bytes.fill(static_cast<unsigned char>(c));
    return id;
}
// From version 5 a record keeps its one-time code.
const std::vector<RecordMeta> kMeta{
    {idOf('m'),
     1000,
     3000,
     {{2000, "mail:!bob:!pw0:!:!", "otpauth://totp/mail:bob?secret=GEZDGNBV"},
      {1000, "mail:!bob:!old:!:!", {}}},
     "otpauth://totp/mail:bob?secret=GEZDGNBVGY3TQOJQ"},
    {idOf('b'), 1500, 1500, {}, {}}};
const std::vector<Tombstone> kTombstones{{idOf('x'), 2500}};

QByteArray historyStore(const QString &path, Strong::Keys &keys) {
    const std::vector<QByteArrayView> lines = views(kRecords);
    bool written = Strong::Create(path, "pass word", kSmall, {}, keys) == Status::Ok &&
                   Strong::Rewrite(path, keys, {lines, kMeta, kTombstones}) == Status::Ok;
    for (const QByteArray &record : kAppended)
        written = written && Strong::Append(path, keys, record) == Status::Ok;
    if (!written)
        qFatal("the test could not write its store");
    return fileBytes(path);
}

// Where each frame of a file of the newest version ends, read off its lengths.
QList<qsizetype> frameEnds(const QByteArray &file) {
    QList<qsizetype> ends;
    for (qsizetype at = kHeader; at + 4 <= file.size();) {
        at += 32 + qFromLittleEndian<quint32>(file.constData() + at);
        ends << at;
    }
    return ends;
}

QByteArray withParams(QByteArray file, quint32 passes, quint64 memory) {
    qToLittleEndian(passes, file.data() + 12);
    qToLittleEndian(memory, file.data() + 16);
    return file;
}

} // namespace

class TestStrongStore : public QObject {
    Q_OBJECT
private slots:
    void knownFilesOpen_data();
    void knownFilesOpen();
    void commandsKeepEveryRecord();
    void everyByteIsChecked_data();
    void everyByteIsChecked();
    void everyCutIsTornOrRefused_data();
    void everyCutIsTornOrRefused();
    void olderFilesAreNeverCut_data();
    void olderFilesAreNeverCut();
    void headersOutOfReachAreNamed();
    void aDamagedStoreIsNeverWritten();
    void everyWriteTakesFreshRandomness();
};

void TestStrongStore::knownFilesOpen_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("version");
    // Written once by this program (password "correct horse", 64 MiB, 3
    // passes) and kept: the format can not change under a user's file.
    for (int version = 1; version <= 5; ++version)
        QTest::addRow("version %d", version)
            << QString("data/strong-known-v%1.sdb").arg(version) << version;
}

void TestStrongStore::knownFilesOpen() {
    QFETCH(QString, file);
    QFETCH(int, version);
    const bool takesAppends = version == 5;
    const QString known = QFINDTESTDATA(file);
    Strong::Keys keys;
    Strong::Opened opened;
    QCOMPARE(Strong::Open(known, Strong::PassphraseBytes("correct horse"), keys, opened),
             Status::Ok);
    QCOMPARE(opened.records(), kRecords + QList<QByteArray>{"appended:!x:!y:!:!"});
    QVERIFY(!opened.torn);
    QCOMPARE(Strong::FileVersion(keys), quint16(version));
    if (version >= 4) {
        // The identities as written: ids, times, earlier versions, the removal mark.
        QCOMPARE(opened.meta.size(), size_t(3));
        QCOMPARE(opened.meta[0].id, kMeta[0].id);
        QCOMPARE(opened.meta[0].changed, 3000);
        // The earlier versions' lines, and from version 5 their codes.
        QCOMPARE(opened.meta[0].earlier.size(), kMeta[0].earlier.size());
        for (size_t v = 0; v < kMeta[0].earlier.size(); ++v) {
            QCOMPARE(opened.meta[0].earlier[v].line, kMeta[0].earlier[v].line);
            QCOMPARE(opened.meta[0].earlier[v].oneTimeCode,
                     version >= 5 ? kMeta[0].earlier[v].oneTimeCode : QByteArray());
        }
        QCOMPARE(opened.meta[1].created, 1500);
        QCOMPARE(opened.meta[2].earlier.size(), size_t(0));
        QVERIFY(opened.meta[2].created > 1700000000000);
        QCOMPARE(opened.tombstones, kTombstones);
        // And from version 5 the one-time code.
        QCOMPARE(opened.meta[0].oneTimeCode, version >= 5 ? kMeta[0].oneTimeCode : QByteArray());
        QVERIFY(opened.meta[1].oneTimeCode.isEmpty());
    } else {
        QVERIFY(opened.meta.empty() && opened.tombstones.empty());
    }
    // An older file is written whole, in the newest version, before it grows.
    QCOMPARE(Strong::NeedsWholeWrite(keys), !takesAppends);
    Strong::Keys wrong;
    QCOMPARE(Strong::Open(known, "correct horsE", wrong, opened), Status::WrongPassword);
    QVERIFY(opened.views.empty() && !wrong.valid());
}

void TestStrongStore::commandsKeepEveryRecord() {
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    Strong::Opened opened;
    QByteArray bytes = appendedStore(path, keys);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
    QCOMPARE(opened.records(), QList<QByteArray>{kRecords[0]} + kAppended);
    QCOMPARE(modeOf(path), 0600);
    // Lengths leak little: records of 13 and 18 bytes both take 64.
    QCOMPARE(bytes.size(), kHeader + 4 * kFrame);
    // Every frame has a nonce of its own.
    QSet<QByteArray> nonces;
    for (int frame = 0; frame < 4; ++frame)
        nonces.insert(bytes.mid(kHeader + frame * kFrame + 8, 24));
    QCOMPARE(nonces.size(), 4);

    // A whole write gives the file a new id: a frame appended before it
    // never fits after it.
    const QByteArray lastAppend = bytes.right(kFrame);
    const QList<QByteArray> changed{"only:!one:!left:!:!"};
    QCOMPARE(Strong::Rewrite(path, keys, views(changed)), Status::Ok);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
    QCOMPARE(opened.records(), changed);
    QVERIFY(fileBytes(path).mid(40, 16) != bytes.mid(40, 16));
    writeBytes(path, fileBytes(path) + lastAppend);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Damaged);
    QCOMPARE(opened.records(), changed);
    QCOMPARE(Strong::Rewrite(path, keys, views(changed)), Status::Ok);

    // A new password wraps the key again and leaves the frames as they are.
    bytes = fileBytes(path);
    Strong::Keys rewrapped;
    QCOMPARE(Strong::ChangePassword(path, keys, Strong::PassphraseBytes("n\u00e9w p\u00e4ss"),
                                    kSmall, rewrapped),
             Status::Ok);
    QCOMPARE(fileBytes(path).mid(kHeader), bytes.mid(kHeader));
    QCOMPARE(Strong::Reopen(path, rewrapped, opened), Status::Ok);
    // Another store in its place (another computer's, synced in meanwhile)
    // is never given this one's key: its records would be lost to both.
    const QString theirs = f.paths.dataFolder() + "/theirs.sdb";
    Strong::Keys theirKeys, notMade;
    QCOMPARE(Strong::Create(theirs, "pass word", kSmall, views(kAppended), theirKeys), Status::Ok);
    const QByteArray theirBytes = fileBytes(theirs);
    QCOMPARE(Strong::ChangePassword(theirs, rewrapped, "mine", kSmall, notMade),
             Status::ReadFailed);
    QCOMPARE(fileBytes(theirs), theirBytes);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::NeedsPassword);
    Strong::Keys fresh;
    QCOMPARE(Strong::Open(path, "pass word", fresh, opened), Status::WrongPassword);
    // The same passphrase typed in another normal form opens it.
    QCOMPARE(Strong::Open(path, Strong::PassphraseBytes(QString::fromUtf8("ne\u0301w pa\u0308ss")),
                          fresh, opened),
             Status::Ok);
    QCOMPARE(opened.records(), changed);

    // A whole write groups records in frames of about 64 KiB, written a few
    // megabytes at a time; an append after it takes the next frame's place.
    QList<QByteArray> many;
    for (int i = 0; i < 3000; ++i)
        many << QByteArray::number(100000 + i) + ":!user:!password:!" + QByteArray(800, 'o') + ":!";
    QCOMPARE(Strong::Rewrite(path, fresh, views(many)), Status::Ok);
    QVERIFY(fileBytes(path).size() < kHeader + 3000 * 900); // not a frame for each record
    QCOMPARE(Strong::Append(path, fresh, "zz:!u:!p:!:!"), Status::Ok);
    QCOMPARE(Strong::Reopen(path, fresh, opened), Status::Ok);
    QCOMPARE(opened.records(), many + QList<QByteArray>{"zz:!u:!p:!:!"});
}

void TestStrongStore::everyByteIsChecked_data() {
    QTest::addColumn<bool>("withHistory");
    QTest::newRow("appended") << false;
    QTest::newRow("earlier versions and a removal") << true;
}

void TestStrongStore::everyByteIsChecked() {
    // One byte changed anywhere: the file is refused, never read as other
    // records, never taken for a torn append, and never written. The header
    // says it is damaged rather than that the password is wrong.
    QFETCH(bool, withHistory);
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = withHistory ? historyStore(path, keys) : appendedStore(path, keys);
    const QList<QByteArray> stored =
        (withHistory ? kRecords : QList<QByteArray>{kRecords[0]}) + kAppended;
    const QList<qsizetype> ends = frameEnds(good);
    QCOMPARE(ends.size(), 4);
    QCOMPARE(ends.last(), good.size());
    // The records of the frames that end at or before a byte.
    const auto readBefore = [&](qsizetype at) {
        const qsizetype frames = std::upper_bound(ends.begin(), ends.end(), at) - ends.begin();
        return stored.mid(0, frames == 0 ? 0 : frames - 1 + (withHistory ? 2 : 1));
    };
    for (qsizetype at = 0; at < good.size(); ++at) {
        for (const char flip : {char(0x01), char(0x80)}) {
            QByteArray bad = good;
            bad[at] = char(bad[at] ^ flip);
            writeBytes(path, bad);
            Strong::Opened opened;
            const Status status = Strong::Reopen(path, keys, opened);
            const QByteArray where = QByteArray::number(at);
            if (at < 8) {
                QCOMPARE(status, Status::NotAStore);
            } else if (at < kHeader) {
                QVERIFY2(status == Status::HeaderDamaged, where);
            } else {
                QVERIFY2(status == Status::Damaged && !opened.torn, where);
                QCOMPARE(opened.records(), readBefore(at));
                if (withHistory && at >= ends[0])
                    QCOMPARE(opened.tombstones, kTombstones);
            }
            QCOMPARE(fileBytes(path), bad);
        }
    }
    if (withHistory)
        return;
    // Two whole frames swapped: each is bound to its place.
    writeBytes(path, good.left(kHeader) + good.mid(kHeader + kFrame, kFrame) +
                         good.mid(kHeader, kFrame) + good.mid(kHeader + 2 * kFrame));
    Strong::Opened swapped;
    QCOMPARE(Strong::Reopen(path, keys, swapped), Status::Damaged);
    // The wrapped key changed and the checksum made to match: what only a
    // wrong password (or a deliberate change) looks like.
    QByteArray rewrapped = good;
    rewrapped[100] = char(rewrapped[100] ^ 0x01);
    writeBytes(path, resummed(rewrapped));
    Strong::Keys fresh;
    QCOMPARE(Strong::Open(path, "pass word", fresh, swapped), Status::WrongPassword);
}

void TestStrongStore::everyCutIsTornOrRefused_data() {
    everyByteIsChecked_data();
}

void TestStrongStore::everyCutIsTornOrRefused() {
    // A cut after the frames of the last whole write is an append cut short
    // by a crash: the store reads to the last whole frame and start-up cuts
    // it back. Before them, or a tail of zeros where frames of the last whole
    // write belong, is damage.
    QFETCH(bool, withHistory);
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = withHistory ? historyStore(path, keys) : appendedStore(path, keys);
    const QList<QByteArray> stored =
        (withHistory ? kRecords : QList<QByteArray>{kRecords[0]}) + kAppended;
    const QList<qsizetype> ends = frameEnds(good);
    const qsizetype firstEnd = ends[0];
    const qsizetype firstRecords = withHistory ? 2 : 1;
    for (qsizetype size = 0; size < good.size(); ++size) {
        writeBytes(path, good.left(size));
        Strong::Opened opened;
        const Status status = Strong::Reopen(path, keys, opened);
        const QByteArray where = QByteArray::number(size);
        if (size < 8) {
            QCOMPARE(status, Status::NotAStore);
        } else if (size < kHeader) {
            QVERIFY2(status == Status::HeaderDamaged, where);
        } else if (size < firstEnd) {
            QVERIFY2(status == Status::Damaged, where); // below the count of the last rewrite
        } else {
            const qsizetype frames =
                std::upper_bound(ends.begin(), ends.end(), size) - ends.begin();
            const qsizetype whole = ends[frames - 1];
            QVERIFY2(status == Status::Ok, where);
            QCOMPARE(opened.torn, size != whole);
            QCOMPARE(opened.wholeSize, whole);
            QCOMPARE(opened.records(), stored.mid(0, firstRecords + frames - 1));
            if (withHistory)
                QCOMPARE(opened.meta[0].earlier, kMeta[0].earlier);
        }
    }
    // The space an append took before its bytes reached the disk.
    writeBytes(path, good.left(good.size() - kFrame) + QByteArray(kFrame, '\0'));
    Strong::Opened opened;
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
    QVERIFY(opened.torn);
    QVERIFY(Strong::CutBack(path, opened.wholeSize));
    QCOMPARE(fileBytes(path), good.left(good.size() - kFrame));
    // Zeros where the whole write's frame belongs are damage, not a crash.
    writeBytes(path, good.left(kHeader) + QByteArray(firstEnd - kHeader, '\0'));
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Damaged);
}

void TestStrongStore::olderFilesAreNeverCut_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<qsizetype>("headerSize");
    QTest::addColumn<QList<qsizetype>>("frameEnds"); // the first is the last whole write's
    QTest::newRow("version 1") << "data/strong-known-v1.sdb" << qsizetype(136)
                               << QList<qsizetype>{136 + 2 * 108, 136 + 3 * 108};
    QTest::newRow("version 2") << "data/strong-known-v2.sdb" << qsizetype(136)
                               << QList<qsizetype>{136 + 172, 136 + 172 + 108};
}

void TestStrongStore::olderFilesAreNeverCut() {
    // Without the checked length a cut can not be told from a damaged length
    // byte: an older file that does not end on a frame is damaged, lists the
    // frames before, and is never cut back.
    QFETCH(QString, file);
    QFETCH(qsizetype, headerSize);
    QFETCH(QList<qsizetype>, frameEnds);
    const QByteArray good = fileBytes(QFINDTESTDATA(file));
    QCOMPARE(good.size(), frameEnds.last());
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    Strong::Opened opened;
    writeBytes(path, good);
    QCOMPARE(Strong::Open(path, Strong::PassphraseBytes("correct horse"), keys, opened),
             Status::Ok);
    for (qsizetype size = headerSize; size < good.size(); ++size) {
        writeBytes(path, good.left(size));
        const Status status = Strong::Reopen(path, keys, opened);
        const QByteArray where = QByteArray::number(size);
        QVERIFY2(!opened.torn, where);
        QVERIFY2(status == (size == frameEnds.first() ? Status::Ok : Status::Damaged), where);
    }
    // The length of the appended frame one too large: damaged, never cut.
    QByteArray longer = good;
    longer[frameEnds.first()] = char(longer[frameEnds.first()] + 64);
    writeBytes(path, longer);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Damaged);
    QCOMPARE(opened.records().size(), 2);
    QVERIFY(!opened.torn);
    // Parameters out of range (the documented 3 to 20 passes, 64 MiB to
    // 1 GiB) are refused before the derivation asks for any memory.
    const std::pair<quint32, quint64> rows[] = {{2, quint64(64) << 20},
                                                {21, quint64(64) << 20},
                                                {3, (quint64(64) << 20) - 1024},
                                                {3, (quint64(1) << 30) + 1024},
                                                {3, ~quint64(0)}};
    for (const auto &[passes, memory] : rows) {
        writeBytes(path, withParams(good, passes, memory));
        Strong::Keys fresh;
        QCOMPARE(Strong::Open(path, "pass word", fresh, opened), Status::Refused);
    }
}

void TestStrongStore::headersOutOfReachAreNamed() {
    // Each reason no password can open a store is told apart, and only a
    // whole header that does not open reads as a wrong password.
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = appendedStore(path, keys);
    QByteArray newer = good;
    newer[8] = 6;
    QByteArray otherKdf = good;
    otherKdf[10] = 3;
    const struct {
        const char *name;
        QByteArray bytes;
        Status status;
    } rows[] = {
        {"no store", "a text file\r\n", Status::NotAStore},
        {"magic only", "VLSTRONG", Status::HeaderDamaged},
        {"version flipped", QByteArray(good).replace(8, 1, "\x02"), Status::HeaderDamaged},
        {"newer version", resummed(newer), Status::NewerVersion},
        {"newer derivation", resummed(otherKdf), Status::NewerVersion},
        {"passes too few", resummed(withParams(good, 2, Strong::kMinMemory)), Status::Refused},
        {"memory too much", resummed(withParams(good, 3, ~quint64(0))), Status::Refused},
        {"short header", good.left(140), Status::HeaderDamaged},
    };
    for (const auto &row : rows) {
        writeBytes(path, row.bytes);
        Strong::Keys fresh;
        Strong::Opened opened;
        QVERIFY2(Strong::Open(path, "pass word", fresh, opened) == row.status, row.name);
        const QString text = StrongStoreText(row.status, path);
        QVERIFY2(text.contains(path), row.name);
    }
    QCOMPARE(Strong::Create(path, "x", {2, Strong::kMinMemory}, {}, keys), Status::Refused);
}

void TestStrongStore::everyWriteTakesFreshRandomness() {
    // A nonce used twice under one key gives away what two plaintexts differ
    // by; a salt shared by two files lets one guessing table serve both. So
    // no nonce comes back in any version of a store (all under one data key)
    // but with the very frame it was made for, and no two stores share a salt.
    TestFolders f;
    QList<QByteArray> many; // frames of several records in a whole write
    for (int i = 0; i < 3000; ++i)
        many << "service" + QByteArray::number(i) + ":!user:!" + QByteArray(40, 'p') + ":!:!";
    const QString paths[] = {f.paths.strongStore(), f.paths.dataFolder() + "/second.sdb"};
    Strong::Keys keys, other;
    QCOMPARE(Strong::Create(paths[1], "pass word", kSmall, views(many), other), Status::Ok);
    QCOMPARE(Strong::Create(paths[0], "pass word", kSmall, views(many), keys), Status::Ok);
    QList<QByteArray> versions{fileBytes(paths[1]), fileBytes(paths[0])};
    for (int write = 0; write < 4; ++write) {
        QCOMPARE(write % 2 ? Strong::Rewrite(paths[0], keys, {views(many), {}, {}})
                           : Strong::Append(paths[0], keys, "one:!a:!1:!:!"),
                 Status::Ok);
        versions << fileBytes(paths[0]);
    }
    QVERIFY(versions[0].mid(24, 16) != versions[1].mid(24, 16));
    QHash<QByteArray, QByteArray> madeFor; // each nonce, and the frame or header it was made for
    const auto take = [&](const QByteArray &nonce, const QByteArray &made) {
        QVERIFY2(madeFor.value(nonce, made) == made, "a nonce was used twice");
        madeFor.insert(nonce, made);
    };
    for (const QByteArray &file : versions) {
        take(file.mid(64, 24), file.left(kHeader));
        qsizetype at = kHeader;
        for (const qsizetype end : frameEnds(file)) {
            take(file.mid(at + 8, 24), file.mid(at, end - at));
            at = end;
        }
    }
    // Two stores and two rewrites, a header and several frames each, and the appended frames.
    QVERIFY2(madeFor.size() >= 4 * 4 + 2, qPrintable(QString::number(madeFor.size())));
}

void TestStrongStore::aDamagedStoreIsNeverWritten() {
    // A start on a store with a damaged length byte in its first appended
    // frame: the records before it are listed, nothing is cut or written,
    // and a command says the store is damaged. A damaged header stops the
    // unlock instead of asking for the password again.
    TestFolders f;
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    Strong::Keys keys;
    const QByteArray good = appendedStore(f.paths.strongStore(), keys);
    for (const qsizetype at : {kHeader + kFrame, kHeader + kFrame + 3, qsizetype(100)}) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ 0x01);
        writeBytes(f.paths.strongStore(), bad);
        Session session(f.paths);
        QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
        QCOMPARE(session.readSettings(), SettingsStatus::Ok);
        if (at < kHeader) {
            QCOMPARE(session.unlock("pass word"), Session::Unlock::Unopenable);
            QCOMPARE(session.strongStatus(), Status::HeaderDamaged);
        } else {
            const Session::Unlock unlocked = session.unlock("pass word");
            QCOMPARE(session.strongStatus(), Status::Damaged);
            QCOMPARE(unlocked, Session::Unlock::Opened);
            QCOMPARE(session.loadRecords(), StoreStatus::Damaged);
            QCOMPARE(session.records().toList(), QList<QByteArray>{kRecords[0]});
            const SessionStatus added = session.add("new:!u:!p:!:!");
            QCOMPARE(added, SessionStatus::Damaged);
            const QString told = SessionOutcomeText(added, session).text;
            QVERIFY2(told.contains("Nothing was written") && told.contains("damaged"),
                     qPrintable(told));
        }
        QCOMPARE(fileBytes(f.paths.strongStore()), bad);
    }
}

QTEST_APPLESS_MAIN(TestStrongStore)
#include "tst_strongstore.moc"
