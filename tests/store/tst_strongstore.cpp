#include "../common/testfolders.h"

#include "strongstore.h"

#include <QtTest>

// The strong store's file, byte by byte: a known file opened, every byte of
// a small one flipped, every length cut.

namespace {

using Strong::Status;

// The smallest derivation a file may ask for: every test pays for each one.
const Strong::KdfParams kSmall{3, Strong::kMinMemory};
const QList<QByteArray> kRecords{"mail:!bob:!pw1:!:!", "Bank:!ann:!S3cret:!n:!https://b.example"};

std::vector<QByteArrayView> views(const QList<QByteArray> &records) {
    return {records.cbegin(), records.cend()};
}

// A store of the first record, with the second appended after it.
QByteArray smallStore(const QString &path, Strong::Keys &keys) {
    const auto first = views({kRecords[0]});
    if (Strong::Create(path, "pass word", kSmall, first, keys) != Status::Ok ||
        Strong::Append(path, keys, kRecords[1]) != Status::Ok)
        qFatal("the test could not write its store");
    return fileBytes(path);
}

} // namespace

class TestStrongStore : public QObject {
    Q_OBJECT
private slots:
    void knownFileOpens();
    void commandsKeepEveryRecord();
    void everyByteIsChecked();
    void everyCutIsTornOrRefused();
    void parametersOutOfRangeAreRefused();
};

void TestStrongStore::knownFileOpens() {
    // Written once by this program (password "correct horse", 64 MiB, 3
    // passes) and kept: the format can not change under a user's file.
    const QString known = QFINDTESTDATA("data/strong-known.sdb");
    Strong::Keys keys;
    Strong::Opened opened;
    QCOMPARE(Strong::Open(known, Strong::PassphraseBytes("correct horse"), keys, opened),
             Status::Ok);
    QCOMPARE(opened.records(), kRecords + QList<QByteArray>{"appended:!x:!y:!:!"});
    QVERIFY(!opened.torn);
    Strong::Keys wrong;
    QCOMPARE(Strong::Open(known, "correct horsE", wrong, opened), Status::WrongPassword);
    QVERIFY(opened.views.empty() && !wrong.valid());
}

void TestStrongStore::commandsKeepEveryRecord() {
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    Strong::Opened opened;
    QByteArray bytes = smallStore(path, keys);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
    QCOMPARE(opened.records(), kRecords);
    QCOMPARE(modeOf(path), 0600);
    // Lengths leak little: a record of 18 bytes and one of 39 both take 64.
    QCOMPARE(bytes.size(), 136 + 2 * (4 + 24 + 64 + 16));

    const QList<QByteArray> changed{"only:!one:!left:!:!"};
    QCOMPARE(Strong::Rewrite(path, keys, views(changed)), Status::Ok);
    QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
    QCOMPARE(opened.records(), changed);

    // A new password wraps the key again and leaves the frames as they are.
    bytes = fileBytes(path);
    Strong::Keys rewrapped;
    QCOMPARE(Strong::ChangePassword(path, keys, Strong::PassphraseBytes("n\u00e9w p\u00e4ss"),
                                    kSmall, rewrapped),
             Status::Ok);
    QCOMPARE(fileBytes(path).mid(136), bytes.mid(136));
    QCOMPARE(Strong::Reopen(path, rewrapped, opened), Status::Ok);
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
    QVERIFY(fileBytes(path).size() < 136 + 3000 * 900); // not a frame for each record
    QCOMPARE(Strong::Append(path, fresh, "zz:!u:!p:!:!"), Status::Ok);
    QCOMPARE(Strong::Reopen(path, fresh, opened), Status::Ok);
    QCOMPARE(opened.records(), many + QList<QByteArray>{"zz:!u:!p:!:!"});
}

void TestStrongStore::everyByteIsChecked() {
    // One byte changed anywhere: the file is refused, never read as other
    // records, and never written. Only the last (appended) frame's length can
    // make it look torn, which start-up cuts back like a crash's.
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = smallStore(path, keys);
    const qsizetype lastFrame = good.size() - (4 + 24 + 64 + 16);
    for (qsizetype at = 0; at < good.size(); ++at) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ 0x01);
        writeBytes(path, bad);
        Strong::Opened opened;
        // The key held from the last open serves for every byte but the salt
        // and the parameters, which ask for the password again.
        const Status status = Strong::Reopen(path, keys, opened);
        const bool salted = at >= 12 && at < 40;
        QVERIFY2(status != Status::Ok || (opened.torn && at >= lastFrame && at < lastFrame + 4),
                 qPrintable(QString::number(at)));
        QVERIFY(status != Status::Ok || opened.records() == QList<QByteArray>{kRecords[0]});
        QVERIFY(!salted || status == Status::NeedsPassword || status == Status::Refused);
        QCOMPARE(fileBytes(path), bad);
    }
    // Two whole frames swapped: each is bound to its place.
    const qsizetype frame = 4 + 24 + 64 + 16;
    writeBytes(path, good.left(136) + good.mid(136 + frame) + good.mid(136, frame));
    Strong::Opened swapped;
    QCOMPARE(Strong::Reopen(path, keys, swapped), Status::Damaged);
    // The salt and the parameters with the password: another key, refused.
    for (qsizetype at : {12, 16, 24, 39}) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ 0x01);
        writeBytes(path, bad);
        Strong::Keys fresh;
        Strong::Opened opened;
        const Status status = Strong::Open(path, "pass word", fresh, opened);
        QVERIFY2(status == Status::WrongPassword || status == Status::Refused,
                 qPrintable(QString::number(at)));
    }
}

void TestStrongStore::everyCutIsTornOrRefused() {
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = smallStore(path, keys);
    const qsizetype firstEnd = 136 + 4 + 24 + 64 + 16;
    for (qsizetype size = 0; size < good.size(); ++size) {
        writeBytes(path, good.left(size));
        Strong::Opened opened;
        const Status status = Strong::Reopen(path, keys, opened);
        if (size < 136) {
            QCOMPARE(status, Status::NotAStore);
        } else if (size < firstEnd) {
            QCOMPARE(status, Status::Damaged); // below the count of the last rewrite
        } else {
            QCOMPARE(status, Status::Ok);
            QCOMPARE(opened.torn, size > firstEnd);
            QCOMPARE(opened.wholeSize, firstEnd);
            QVERIFY(Strong::CutBack(path, opened.wholeSize));
            QCOMPARE(Strong::Reopen(path, keys, opened), Status::Ok);
            QVERIFY(!opened.torn);
            QCOMPARE(opened.records(), QList<QByteArray>{kRecords[0]});
        }
    }
}

void TestStrongStore::parametersOutOfRangeAreRefused() {
    // Refused before the derivation asks for any memory.
    TestFolders f;
    const QString path = f.paths.dataFolder() + "/CW2DB.sdb";
    Strong::Keys keys;
    const QByteArray good = smallStore(path, keys);
    const auto withParams = [&](quint32 passes, quint64 memory) {
        QByteArray bad = good;
        for (int i = 0; i < 4; ++i)
            bad[12 + i] = char((passes >> (8 * i)) & 0xff);
        for (int i = 0; i < 8; ++i)
            bad[16 + i] = char((memory >> (8 * i)) & 0xff);
        return bad;
    };
    const std::pair<quint32, quint64> rows[] = {{2, Strong::kMinMemory},
                                                {21, Strong::kMinMemory},
                                                {3, Strong::kMinMemory - 1024},
                                                {3, Strong::kMaxMemory + 1024},
                                                {3, ~quint64(0)}};
    for (const auto &[passes, memory] : rows) {
        writeBytes(path, withParams(passes, memory));
        Strong::Keys fresh;
        Strong::Opened opened;
        QCOMPARE(Strong::Open(path, "pass word", fresh, opened), Status::Refused);
    }
    QCOMPARE(Strong::Create(path, "x", {2, Strong::kMinMemory}, {}, keys), Status::Refused);
}

QTEST_APPLESS_MAIN(TestStrongStore)
#include "tst_strongstore.moc"
