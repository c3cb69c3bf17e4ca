#include "merge.h"

#include "recordline.h"

#include <QHash>

#include <algorithm>
#include <optional>

qsizetype MergeResult::count(MergeChange::Kind kind) const {
    return qsizetype(std::count_if(changes.begin(), changes.end(),
                                   [kind](const MergeChange &c) { return c.kind == kind; }));
}

namespace {

// One version of a record: its line and its identity.
struct Version {
    QByteArrayView line;
    const RecordMeta *meta = nullptr;
};

// Where a copy's records are, found by id.
struct Keyed {
    RecordId id;
    quint32 index = 0;
};

// A copy's records and marks, each found by id.
struct Side {
    std::vector<RecordMeta> contentMeta; // for records given without identities
    std::span<const QByteArrayView> lines;
    std::span<const RecordMeta> meta;
    std::vector<Keyed> byId;           // the first record of each id
    std::vector<Tombstone> tombstones; // by id, one per id, the latest
    std::vector<bool> taken;           // a record of the other copy's matched it

    Version at(quint32 i) const { return {lines[i], &meta[i]}; }
    const Tombstone *mark(const RecordId &id) const {
        const auto it =
            std::lower_bound(tombstones.begin(), tombstones.end(), id,
                             [](const Tombstone &t, const RecordId &key) { return t.id < key; });
        return it != tombstones.end() && it->id == id ? &*it : nullptr;
    }
};

Side index(const StoreContents &contents) {
    Side side;
    side.lines = contents.lines;
    if (contents.meta.empty()) {
        side.contentMeta.reserve(contents.lines.size());
        for (const QByteArrayView line : contents.lines)
            side.contentMeta.push_back(ContentMeta(line));
        side.meta = side.contentMeta;
    } else {
        side.meta = contents.meta;
    }
    side.byId.reserve(side.lines.size());
    for (size_t i = 0; i < side.lines.size(); ++i)
        side.byId.push_back({side.meta[i].id, quint32(i)});
    std::sort(side.byId.begin(), side.byId.end(), [](const Keyed &a, const Keyed &b) {
        return a.id != b.id ? a.id < b.id : a.index < b.index;
    });
    side.byId.erase(std::unique(side.byId.begin(), side.byId.end(),
                                [](const Keyed &a, const Keyed &b) { return a.id == b.id; }),
                    side.byId.end());
    side.tombstones.assign(contents.tombstones.begin(), contents.tombstones.end());
    std::sort(side.tombstones.begin(), side.tombstones.end(),
              [](const Tombstone &a, const Tombstone &b) {
                  return a.id != b.id ? a.id < b.id : a.removed > b.removed;
              });
    side.tombstones.erase(
        std::unique(side.tombstones.begin(), side.tombstones.end(),
                    [](const Tombstone &a, const Tombstone &b) { return a.id == b.id; }),
        side.tombstones.end());
    side.taken.assign(side.lines.size(), false);
    return side;
}

// The order versions are kept in: newest first, ties by the bytes, so both
// sides of a merge keep the same ones.
bool newerFirst(const EarlierVersion &a, const EarlierVersion &b) {
    if (a.changed != b.changed)
        return a.changed > b.changed;
    if (const int byLine = QByteArrayView(a.line).compare(QByteArrayView(b.line)); byLine != 0)
        return byLine > 0;
    return QByteArrayView(a.oneTimeCode).compare(QByteArrayView(b.oneTimeCode)) > 0;
}

bool later(const Version &a, const Version &b) {
    if (a.meta->changed != b.meta->changed)
        return a.meta->changed > b.meta->changed;
    if (const int byLine = a.line.compare(b.line); byLine != 0)
        return byLine > 0;
    return QByteArrayView(a.meta->oneTimeCode).compare(QByteArrayView(b.meta->oneTimeCode)) > 0;
}

bool holds(const std::vector<EarlierVersion> &earlier, const Version &version) {
    return std::any_of(earlier.begin(), earlier.end(), [&](const EarlierVersion &e) {
        return e.changed == version.meta->changed && QByteArrayView(e.line) == version.line &&
               e.oneTimeCode == version.meta->oneTimeCode;
    });
}

MergeChange change(MergeChange::Kind kind, const RecordId &id, QByteArrayView line,
                   bool otherWon = false) {
    RecordFields fields;
    SplitRecordLine(line, fields);
    return {kind, id, fields[Field::Service], fields[Field::UserName], otherWon};
}

bool sameMeta(const RecordMeta &a, const RecordMeta &b) {
    return a.id == b.id && a.created == b.created && a.changed == b.changed &&
           a.earlier == b.earlier && a.oneTimeCode == b.oneTimeCode;
}

struct Merged {
    Version kept;
    RecordMeta meta;
    bool conflict = false; // both changed: the other version went among the earlier ones
};

// One record as two copies hold it.
Merged mergeRecord(const Version &a, const Version &b) {
    if (a.line == b.line && sameMeta(*a.meta, *b.meta))
        return {a, *a.meta, false}; // the same version on both sides
    const bool aWins = later(a, b) || (a.meta->changed == b.meta->changed && a.line == b.line &&
                                       a.meta->oneTimeCode == b.meta->oneTimeCode);
    const Version &winner = aWins ? a : b;
    const Version &loser = aWins ? b : a;
    Merged merged{winner, {}, false};
    merged.meta.id = winner.meta->id;
    const qint64 ca = a.meta->created, cb = b.meta->created;
    merged.meta.created = ca == 0 ? cb : cb == 0 ? ca : std::min(ca, cb);
    merged.meta.changed = winner.meta->changed;
    merged.meta.oneTimeCode = winner.meta->oneTimeCode; // it goes with the version kept
    std::vector<EarlierVersion> earlier = winner.meta->earlier;
    earlier.insert(earlier.end(), loser.meta->earlier.begin(), loser.meta->earlier.end());
    if (loser.line != winner.line || loser.meta->oneTimeCode != winner.meta->oneTimeCode) {
        merged.conflict = !holds(winner.meta->earlier, loser);
        earlier.push_back({loser.meta->changed, loser.line.toByteArray(), loser.meta->oneTimeCode});
    }
    std::sort(earlier.begin(), earlier.end(), newerFirst);
    earlier.erase(std::unique(earlier.begin(), earlier.end()), earlier.end());
    std::erase_if(earlier, [&](const EarlierVersion &e) {
        return e.changed == winner.meta->changed && QByteArrayView(e.line) == winner.line &&
               e.oneTimeCode == winner.meta->oneTimeCode;
    });
    if (earlier.size() > kEarlierVersionsKept)
        earlier.resize(kEarlierVersionsKept);
    merged.meta.earlier = std::move(earlier);
    return merged;
}

} // namespace

namespace {

// The order of the merged records: list order, then id, so both ways of a
// merge list them alike.
struct KeptRecord {
    QByteArrayView line;
    RecordMeta meta;
};
bool keptBefore(const KeptRecord &x, const KeptRecord &y) {
    if (RecordList::lessThan(x.line, y.line))
        return true;
    if (RecordList::lessThan(y.line, x.line))
        return false;
    return x.meta.id < y.meta.id;
}

} // namespace

MergeResult MergeStores(const StoreContents &mine, const StoreContents &other) {
    Side a = index(mine);
    Side b = index(other);
    MergeResult result;
    // The records this copy keeps as they were stay in its order; the rest
    // are sorted apart and merged in, so a merge of few changes sorts few.
    std::vector<KeptRecord> same, moved;
    same.reserve(a.lines.size());
    const auto settle = [&](const RecordId &id, const Version *own, const Version *theirs) {
        const Tombstone *ownMark = a.mark(id);
        const Tombstone *theirMark = b.mark(id);
        std::optional<Tombstone> mark;
        if (ownMark || theirMark)
            mark = !theirMark ? *ownMark
                   : !ownMark ? *theirMark
                              : (ownMark->removed >= theirMark->removed ? *ownMark : *theirMark);
        std::optional<Merged> merged;
        if (own && theirs) {
            merged = mergeRecord(*own, *theirs);
            // Alike records of two ids (paired below) keep the lesser: both ways agree.
            merged->meta.id = std::min(own->meta->id, theirs->meta->id);
            if (own->meta->id != theirs->meta->id)
                result.joined.emplace_back(std::max(own->meta->id, theirs->meta->id),
                                           merged->meta.id);
        } else
            merged = Merged{own ? *own : *theirs, *(own ? own : theirs)->meta, false};
        bool keptAfterTheirRemoval = false;
        if (mark) {
            if (merged->meta.changed > mark->removed) {
                // Changed after it was removed: the change stands. The mark
                // stays, before the versions it removed.
                keptAfterTheirRemoval =
                    own && theirMark && !(ownMark && ownMark->removed >= theirMark->removed);
            } else {
                if (own) {
                    result.changes.push_back(change(MergeChange::Kind::Removed, id, own->line));
                    result.differs = true;
                }
                return;
            }
        }
        if (!own) {
            result.changes.push_back(
                change(ownMark ? MergeChange::Kind::KeptAfterRemoval : MergeChange::Kind::Added, id,
                       merged->kept.line));
        } else if (merged->conflict) {
            result.changes.push_back(change(MergeChange::Kind::BothChanged, id, merged->kept.line,
                                            merged->kept.meta != own->meta));
        } else if (merged->kept.line != own->line ||
                   merged->meta.oneTimeCode != own->meta->oneTimeCode) {
            result.changes.push_back(change(MergeChange::Kind::Changed, id, merged->kept.line));
        } else if (keptAfterTheirRemoval) {
            result.changes.push_back(
                change(MergeChange::Kind::KeptAfterRemoval, id, merged->kept.line));
        }
        const bool unchanged = own && merged->kept.line == own->line;
        if (!unchanged || !sameMeta(merged->meta, *own->meta))
            result.differs = true;
        (unchanged ? same : moved).push_back({merged->kept.line, std::move(merged->meta)});
    };
    // The records of one id on both sides, paired in one walk of the two
    // lists by id (a search per record would wait on memory for each).
    std::vector<qint64> partner(a.lines.size(), -2); // -2: not the first of its id
    for (auto x = a.byId.begin(), y = b.byId.begin(); x != a.byId.end(); ++x) {
        while (y != b.byId.end() && y->id < x->id)
            ++y;
        partner[x->index] = y != b.byId.end() && y->id == x->id ? qint64(y->index) : -1;
        if (partner[x->index] >= 0)
            b.taken[y->index] = true;
    }
    // A record each copy holds under an id the other does not know, alike
    // line for line (one taken from an older copy on both computers, or typed
    // on both), is one record: a store never holds the same line twice.
    // Records a removal mark applies to are left to the marks.
    QHash<QByteArrayView, quint32> unknownToOther;
    for (quint32 i = 0; i < a.lines.size(); ++i)
        if (partner[i] == -1 && !a.mark(a.meta[i].id) && !b.mark(a.meta[i].id))
            unknownToOther.insert(a.lines[i], i);
    for (const Keyed &k : b.byId) {
        if (unknownToOther.isEmpty())
            break;
        if (b.taken[k.index] || a.mark(k.id) || b.mark(k.id))
            continue;
        const auto alike = unknownToOther.constFind(b.lines[k.index]);
        if (alike == unknownToOther.cend())
            continue;
        partner[*alike] = k.index;
        b.taken[k.index] = true;
        unknownToOther.erase(alike);
    }
    for (quint32 i = 0; i < a.lines.size(); ++i) {
        if (partner[i] == -2)
            continue;
        const Version own = a.at(i);
        if (partner[i] >= 0) {
            const Version theirs = b.at(quint32(partner[i]));
            settle(own.meta->id, &own, &theirs);
        } else {
            settle(own.meta->id, &own, nullptr);
        }
    }
    for (const Keyed &k : b.byId) {
        if (b.taken[k.index])
            continue;
        const Version theirs = b.at(k.index);
        settle(k.id, nullptr, &theirs);
    }
    // The marks of both, the later of two for one id.
    result.tombstones.reserve(a.tombstones.size() + b.tombstones.size());
    std::merge(a.tombstones.begin(), a.tombstones.end(), b.tombstones.begin(), b.tombstones.end(),
               std::back_inserter(result.tombstones), [](const Tombstone &x, const Tombstone &y) {
                   return x.id != y.id ? x.id < y.id : x.removed > y.removed;
               });
    result.tombstones.erase(
        std::unique(result.tombstones.begin(), result.tombstones.end(),
                    [](const Tombstone &x, const Tombstone &y) { return x.id == y.id; }),
        result.tombstones.end());
    if (result.tombstones != a.tombstones)
        result.differs = true;
    // A copy given without identities is written with its own from now on.
    if (mine.meta.empty() && !mine.lines.empty())
        result.differs = true;
    if (!std::is_sorted(same.begin(), same.end(), keptBefore))
        std::sort(same.begin(), same.end(), keptBefore);
    std::sort(moved.begin(), moved.end(), keptBefore);
    result.lines.reserve(same.size() + moved.size());
    result.meta.reserve(same.size() + moved.size());
    auto x = same.begin(), y = moved.begin();
    while (x != same.end() || y != moved.end()) {
        KeptRecord &next =
            y == moved.end() || (x != same.end() && !keptBefore(*y, *x)) ? *x++ : *y++;
        result.lines.push_back(next.line);
        result.meta.push_back(std::move(next.meta));
    }
    // Told by kind, then in list order.
    std::sort(result.changes.begin(), result.changes.end(),
              [](const MergeChange &p, const MergeChange &q) {
                  if (p.kind != q.kind)
                      return p.kind < q.kind;
                  if (p.service != q.service)
                      return RecordList::lessThan(p.service, q.service);
                  return RecordList::lessThan(p.userName, q.userName);
              });
    return result;
}

std::vector<CopyRecord> CompareCopy(const RecordList &mine, std::span<const QByteArrayView> copy) {
    // Service and user name: the fields a person tells two records apart by.
    const auto key = [](QByteArrayView line) {
        RecordFields fields;
        SplitRecordLine(line, fields);
        return fields[Field::Service] + QByteArray(kSeparator) + fields[Field::UserName];
    };
    QHash<QByteArray, qsizetype> byName;
    for (qsizetype i = 0; i < mine.size(); ++i)
        byName.insert(key(mine.line(i)), i); // the last of the same name wins; any will do
    std::vector<CopyRecord> rows;
    rows.reserve(copy.size());
    for (const QByteArrayView line : copy) {
        CopyRecord row;
        row.line = line.toByteArray();
        if (const qsizetype same = mine.indexOf(line); same >= 0) {
            row.kind = CopyRecord::Kind::Identical;
            row.mine = same;
        } else if (const auto named = byName.constFind(key(line)); named != byName.cend()) {
            row.kind = CopyRecord::Kind::Differs;
            row.mine = *named;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}
