#include "../common/testfolders.h"

#include "merge.h"
#include "session.h"
#include "strongstore.h"

#include <QRandomGenerator>
#include <QtTest>

#include <map>

// Two copies of a store changed apart and merged: the rules one by one, a
// reference model of random changes on both sides, and the session that
// writes what a merge gives.

namespace {

// A copy of a store held in memory, changed the way the session changes a
// store: a new record gets a fresh identity, a change keeps the old version
// first among the earlier ones, a removal leaves its mark.
struct Copy {
    QList<QByteArray> lines;
    std::vector<RecordMeta> meta;
    std::vector<Tombstone> tombstones;
    std::vector<QByteArrayView> views;

    StoreContents contents() {
        views.assign(lines.cbegin(), lines.cend());
        return {views, meta, tombstones};
    }
    RecordId add(const QByteArray &line, qint64 now) {
        lines << line;
        meta.push_back(NewRecordMeta(now));
        return meta.back().id;
    }
    void replace(qsizetype i, const QByteArray &line, qint64 now) {
        meta[size_t(i)] = ChangedMeta(meta[size_t(i)], lines[i], now);
        lines[i] = line;
    }
    void remove(qsizetype i, qint64 now) {
        std::erase_if(tombstones, [&](const Tombstone &t) { return t.id == meta[size_t(i)].id; });
        tombstones.push_back({meta[size_t(i)].id, std::max(now, meta[size_t(i)].changed + 1)});
        meta.erase(meta.begin() + i);
        lines.removeAt(i);
    }
    qsizetype find(const RecordId &id) const {
        for (size_t i = 0; i < meta.size(); ++i)
            if (meta[i].id == id)
                return qsizetype(i);
        return -1;
    }
    // Becomes what a merge gave.
    static Copy of(const MergeResult &merged) {
        Copy copy;
        for (const QByteArrayView line : merged.lines)
            copy.lines << line.toByteArray();
        copy.meta = merged.meta;
        copy.tombstones = merged.tombstones;
        return copy;
    }
};

bool sameRecords(const MergeResult &a, const MergeResult &b) {
    if (a.lines != b.lines || a.tombstones != b.tombstones || a.meta.size() != b.meta.size())
        return false;
    for (size_t i = 0; i < a.meta.size(); ++i)
        if (a.meta[i].id != b.meta[i].id || a.meta[i].changed != b.meta[i].changed ||
            a.meta[i].created != b.meta[i].created || a.meta[i].earlier != b.meta[i].earlier ||
            a.meta[i].oneTimeCode != b.meta[i].oneTimeCode)
            return false;
    return true;
}

using Kind = MergeChange::Kind;

QList<Kind> kinds(const MergeResult &merged) {
    QList<Kind> out;
    for (const MergeChange &change : merged.changes)
        out << change.kind;
    return out;
}

QByteArray line(const char *service, const char *password) {
    return QByteArray(service) + ":!user:!" + password + ":!:!";
}

// The smallest derivation a file may ask for.
const Strong::KdfParams kSmall{3, Strong::kMinMemory};

} // namespace

class TestMerge : public QObject {
    Q_OBJECT
private slots:
    void eachRuleReportsItsChange();
    void randomChangesApartLoseNoVersion();
    void recordsWithoutIdsMeetByContent();
    void olderCopiesAreComparedByName();
    void sessionKeepsIdentitiesOnDisk();
};

void TestMerge::eachRuleReportsItsChange() {
    // From one store, each copy goes its own way at given times; the merge
    // into the first says what it changed there, and the lines it ends with.
    Copy base;
    const RecordId kept = base.add(line("kept", "k"), 100);
    base.add(line("theirs", "t0"), 100);
    base.add(line("both", "b0"), 100);
    base.add(line("gone", "g"), 100);
    base.add(line("revived", "r0"), 100);
    Copy mine = base, other = base;
    other.add(line("new", "n"), 200);
    other.replace(other.find(base.meta[1].id), line("theirs", "t1"), 300);
    mine.replace(mine.find(base.meta[2].id), line("both", "mine"), 400);
    other.replace(other.find(base.meta[2].id), line("both", "other"), 500);
    other.remove(other.find(base.meta[3].id), 600);
    mine.remove(mine.find(base.meta[4].id), 700);
    other.replace(other.find(base.meta[4].id), line("revived", "r1"), 800);

    const MergeResult merged = MergeStores(mine.contents(), other.contents());
    QVERIFY(merged.differs);
    QCOMPARE(kinds(merged), (QList<Kind>{Kind::Added, Kind::Changed, Kind::BothChanged,
                                         Kind::Removed, Kind::KeptAfterRemoval}));
    // In list order, not the order of the ids.
    QList<QByteArray> lines;
    for (const QByteArrayView l : merged.lines)
        lines << l.toByteArray();
    QCOMPARE(lines, (QList<QByteArray>{line("both", "other"), line("kept", "k"), line("new", "n"),
                                       line("revived", "r1"), line("theirs", "t1")}));
    // The change that lost is the newest of the earlier versions, the
    // removal's mark stays, and no password is in the report.
    QCOMPARE(merged.meta[0].earlier.front(), (EarlierVersion{400, line("both", "mine"), {}}));
    QVERIFY(merged.changes[2].otherWon);
    QCOMPARE(merged.changes[2].service, QByteArray("both"));
    QCOMPARE(merged.changes[2].userName, QByteArray("user"));
    QCOMPARE(merged.tombstones.size(), size_t(2));
    QCOMPARE(merged.meta[1].id, kept);

    // Once merged, merging either copy again changes nothing.
    Copy after = Copy::of(merged);
    for (Copy *again : {&mine, &other}) {
        const MergeResult twice = MergeStores(after.contents(), again->contents());
        QVERIFY(!twice.differs);
        QVERIFY(twice.changes.empty());
    }
    // A copy that only fell behind brings nothing back.
    const MergeResult behind = MergeStores(after.contents(), base.contents());
    QVERIFY(!behind.differs);
}

void TestMerge::randomChangesApartLoseNoVersion() {
    // A reference model: two copies of one store are changed apart (adds,
    // changes, removals, now and then a sync one way), then merged both
    // ways. Every version either side ever made must be current, among its
    // record's earlier versions (unless ten newer ones are), or older than a
    // removal mark that applies to it; a record whose last change came
    // before its removal stays removed; both ways give the same store.
    QRandomGenerator random(20261209);
    struct Made {
        RecordId id;
        qint64 changed;
        QByteArray line;
        QByteArray code = {};
        bool twinAdded = false; // the same record added on the other side too
    };
    for (int round = 0; round < 1500; ++round) {
        std::vector<Made> made;
        std::map<RecordId, RecordId> twinOf;
        qint64 clock = 1000;
        Copy sides[2];
        const int common = int(random.bounded(6));
        for (int i = 0; i < common; ++i) {
            const QByteArray l =
                "r" + QByteArray::number(round) + "-" + QByteArray::number(i) + ":!u:!p:!:!";
            made.push_back({sides[0].add(l, clock), clock, l});
        }
        sides[1] = sides[0];
        const int steps = 1 + int(random.bounded(25));
        for (int step = 0; step < steps; ++step) {
            Copy &side = sides[random.bounded(2)];
            // Two machines' clocks: sometimes the same millisecond on both.
            clock += random.bounded(3);
            const int what = int(random.bounded(12));
            const QByteArray l = "s" + QByteArray::number(random.bounded(8)) + ":!u:!" +
                                 QByteArray::number(step) + ":!:!";
            if (what < 3 || side.lines.isEmpty()) {
                made.push_back({side.add(l, clock), side.meta.back().changed, l});
            } else if (what < 7) {
                const qsizetype i = random.bounded(side.lines.size());
                side.replace(i, l, clock);
                made.push_back({side.meta[size_t(i)].id, side.meta[size_t(i)].changed, l,
                                side.meta[size_t(i)].oneTimeCode});
            } else if (what < 9) {
                side.remove(random.bounded(side.lines.size()), clock);
            } else if (what == 11) {
                // The same record added on both computers, each under its own id.
                const RecordId mine = sides[0].add(l, clock);
                const RecordId theirs = sides[1].add(l, clock + random.bounded(3));
                made.push_back({mine, sides[0].meta.back().changed, l, {}, true});
                made.push_back({theirs, sides[1].meta.back().changed, l, {}, true});
                twinOf[mine] = theirs;
                twinOf[theirs] = mine;
            } else if (what == 10) {
                // A one-time code set or changed: a change of the record, not of its line.
                const qsizetype i = random.bounded(side.lines.size());
                RecordMeta &meta = side.meta[size_t(i)];
                meta = ChangedMeta(meta, side.lines[i], clock);
                meta.oneTimeCode = "otpauth://totp/x?secret=" + QByteArray::number(step);
                made.push_back({meta.id, meta.changed, side.lines[i], meta.oneTimeCode});
            } else {
                const int to = random.bounded(2);
                sides[to] = Copy::of(MergeStores(sides[to].contents(), sides[1 - to].contents()));
            }
        }
        const MergeResult ab = MergeStores(sides[0].contents(), sides[1].contents());
        const MergeResult ba = MergeStores(sides[1].contents(), sides[0].contents());
        const QByteArray where = "round " + QByteArray::number(round);
        QVERIFY2(sameRecords(ab, ba), where);
        std::map<RecordId, qint64> removed;
        for (const Tombstone &t : ab.tombstones)
            removed[t.id] = t.removed;
        for (const Made &version : made) {
            const auto find = [&](const RecordId &id) {
                for (size_t i = 0; i < ab.meta.size(); ++i)
                    if (ab.meta[i].id == id)
                        return qsizetype(i);
                return qsizetype(-1);
            };
            // A record met its twin is kept under one of the two ids.
            const auto twin = twinOf.find(version.id);
            qsizetype at = find(version.id);
            if (at < 0 && twin != twinOf.end())
                at = find(twin->second);
            const RecordId kept = at >= 0 ? ab.meta[size_t(at)].id : version.id;
            const auto behind = [&](const RecordId &id) {
                return removed.count(id) && removed[id] >= version.changed;
            };
            const bool behindMark =
                behind(version.id) || (twin != twinOf.end() && behind(twin->second));
            if (at < 0) {
                QVERIFY2(behindMark, where + " lost " + version.line);
                continue;
            }
            const RecordMeta &meta = ab.meta[size_t(at)];
            const bool current = meta.changed == version.changed &&
                                 ab.lines[size_t(at)] == version.line &&
                                 meta.oneTimeCode == version.code;
            const bool earlier =
                std::count(meta.earlier.begin(), meta.earlier.end(),
                           EarlierVersion{version.changed, version.line, version.code}) == 1;
            const bool crowdedOut = meta.earlier.size() == kEarlierVersionsKept &&
                                    meta.earlier.back().changed >= version.changed;
            // Twins alike in all but their time are one version.
            const bool alike =
                version.twinAdded &&
                ((ab.lines[size_t(at)] == version.line && meta.oneTimeCode.isEmpty()) ||
                 std::any_of(meta.earlier.begin(), meta.earlier.end(),
                             [&](const EarlierVersion &e) {
                                 return e.line == version.line && e.oneTimeCode.isEmpty();
                             }));
            QVERIFY2(current || earlier || behindMark || crowdedOut || alike,
                     where + " lost " + version.line);
            QVERIFY2(!removed.count(kept) || meta.changed > removed[kept],
                     where + " came back: " + version.line);
        }
        // As a store never holds the same line twice, nor does a merge.
        QList<QByteArrayView> sorted(ab.lines.cbegin(), ab.lines.cend());
        std::sort(sorted.begin(), sorted.end());
        QVERIFY2(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(),
                 where + " holds a line twice");
        // A record's code is the one its kept version had on the side that
        // made it (under its id, or its twin's).
        for (size_t i = 0; i < ab.meta.size(); ++i) {
            bool found = false;
            for (Copy &side : sides)
                if (qsizetype at = side.find(ab.meta[i].id);
                    (at >= 0 || (at = side.lines.indexOf(ab.lines[i].toByteArray())) >= 0) &&
                    side.meta[size_t(at)].changed == ab.meta[i].changed &&
                    side.lines[at] == ab.lines[i])
                    found = found || side.meta[size_t(at)].oneTimeCode == ab.meta[i].oneTimeCode;
            QVERIFY2(found, where + " gave a code no side had: " + ab.lines[i].toByteArray());
        }
        // The merged store is where both copies end: merging again changes nothing.
        Copy merged = Copy::of(ab);
        for (Copy &side : sides)
            QVERIFY2(!MergeStores(merged.contents(), side.contents()).differs, where);
    }
}

void TestMerge::recordsWithoutIdsMeetByContent() {
    // Two computers that met the same store of an older version give its
    // records the same ids: an identical record is one record after a merge.
    const QList<QByteArray> a{line("one", "1"), line("two", "2")};
    const QList<QByteArray> b{line("two", "2"), line("three", "3")};
    const std::vector<QByteArrayView> av(a.cbegin(), a.cend()), bv(b.cbegin(), b.cend());
    const MergeResult merged = MergeStores(StoreContents(av), StoreContents(bv));
    QCOMPARE(merged.lines.size(), size_t(3));
    QCOMPARE(kinds(merged), QList<Kind>{Kind::Added});
    QCOMPARE(merged.changes[0].service, QByteArray("three"));
    QCOMPARE(ContentMeta(line("two", "2")).id, ContentMeta(line("two", "2")).id);
    QVERIFY(ContentMeta(line("two", "2")).id != ContentMeta(line("two", "3")).id);
}

void TestMerge::olderCopiesAreComparedByName() {
    const RecordList mine(QList<QByteArray>{line("mail", "a"), line("bank", "b")});
    const QList<QByteArray> copy{line("bank", "b"), line("mail", "changed"), line("shop", "c"),
                                 "mail:!other user:!x:!:!"};
    const std::vector<QByteArrayView> views(copy.cbegin(), copy.cend());
    const std::vector<CopyRecord> rows = CompareCopy(mine, views);
    using K = CopyRecord::Kind;
    const K expected[] = {K::Identical, K::Differs, K::New, K::New};
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].kind, expected[i]);
        QCOMPARE(rows[i].line, copy[qsizetype(i)]);
    }
    QCOMPARE(mine.line(rows[1].mine), QByteArrayView(line("mail", "a")));
}

void TestMerge::sessionKeepsIdentitiesOnDisk() {
    // The session under the strong protection: a change keeps the record's
    // id and its old version, a removal leaves its mark, all read back from
    // the file; a copy changed elsewhere is merged in and written whole.
    TestFolders f;
    QCOMPARE(WriteSettingsFile(f.paths, settingsLine(Scope::Strong, {})), SettingsStatus::Ok);
    Strong::Keys made;
    QCOMPARE(Strong::Create(f.paths.strongStore(), "pass word", kSmall, {}, made),
             Strong::Status::Ok);
    Session session(f.paths);
    QCOMPARE(session.lock(), Platform::FolderLock::Result::Locked);
    QCOMPARE(session.readSettings(), SettingsStatus::Ok);
    QCOMPARE(session.unlock("pass word"), Session::Unlock::Opened);
    QCOMPARE(session.add(line("mail", "1")), SessionStatus::Ok);
    QCOMPARE(session.add(line("bank", "2")), SessionStatus::Ok);
    QCOMPARE(session.add(line("shop", "3")), SessionStatus::Ok);
    const RecordId mailId = session.contents().meta[1].id;
    qsizetype at = -1;
    QCOMPARE(session.replace(1, line("mail", "changed"), &at), SessionStatus::Ok);
    QCOMPARE(session.remove(2), SessionStatus::Ok);
    QCOMPARE(session.earlierVersions(at).size(), size_t(1));
    QCOMPARE(session.earlierVersions(at)[0].line, line("mail", "1"));

    // Another computer's copy: the same file, changed there.
    TestFolders elsewhere;
    QVERIFY(QFile::copy(f.paths.strongStore(), elsewhere.paths.strongStore()));
    QCOMPARE(WriteSettingsFile(elsewhere.paths, settingsLine(Scope::Strong, {})),
             SettingsStatus::Ok);
    {
        Session there(elsewhere.paths);
        QCOMPARE(there.lock(), Platform::FolderLock::Result::Locked);
        QCOMPARE(there.readSettings(), SettingsStatus::Ok);
        QCOMPARE(there.unlock("pass word"), Session::Unlock::Opened);
        QCOMPARE(there.add(line("there", "4")), SessionStatus::Ok);
        QCOMPARE(there.replace(0, line("bank", "there"), nullptr), SessionStatus::Ok);
    }
    QCOMPARE(session.add(line("here", "5")), SessionStatus::Ok);

    Strong::Opened copy;
    QCOMPARE(Strong::OpenCopy(elsewhere.paths.strongStore(), session.strongKeys(), copy),
             Strong::Status::Ok);
    MergeResult report;
    QCOMPARE(session.mergeCopy({copy.views, copy.meta, copy.tombstones}, &report),
             SessionStatus::Ok);
    QCOMPARE(kinds(report), (QList<Kind>{Kind::Added, Kind::Changed}));
    const QList<QByteArray> expected{line("bank", "there"), line("here", "5"),
                                     line("mail", "changed"), line("there", "4")};
    QCOMPARE(session.records().toList(), expected);
    QVERIFY(!session.changedOnDisk());

    // What a restart reads: the same records, ids, versions and marks.
    Strong::Keys keys;
    Strong::Opened opened;
    QCOMPARE(Strong::Open(f.paths.strongStore(), "pass word", keys, opened), Strong::Status::Ok);
    QCOMPARE(opened.records(), expected);
    QCOMPARE(opened.meta[2].id, mailId);
    QCOMPARE(opened.meta[2].earlier[0].line, line("mail", "1"));
    QCOMPARE(opened.tombstones.size(), size_t(1));
    QCOMPARE(opened.meta[0].earlier[0].line, line("bank", "2"));
    // The copy merged again brings nothing and writes nothing.
    const QByteArray before = fileBytes(f.paths.strongStore());
    QCOMPARE(session.mergeCopy({copy.views, copy.meta, copy.tombstones}, &report),
             SessionStatus::Ok);
    QVERIFY(report.changes.empty());
    QCOMPARE(fileBytes(f.paths.strongStore()), before);
}

QTEST_APPLESS_MAIN(TestMerge)
#include "tst_merge.moc"
