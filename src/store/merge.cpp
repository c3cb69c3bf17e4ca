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

// A copy's records and marks, each found by id.
struct Side {
    std::vector<RecordMeta> contentMeta; // for records given without identities
    std::vector<Version> records;        // by id
    std::vector<Tombstone> tombstones;   // by id, one per id, the latest
};

Side index(const StoreContents &contents) {
    Side side;
    const bool own = !contents.meta.empty();
    if (!own) {
        side.contentMeta.reserve(contents.lines.size());
        for (const QByteArrayView line : contents.lines)
            side.contentMeta.push_back(ContentMeta(line));
    }
    const std::span<const RecordMeta> meta = own ? contents.meta : side.contentMeta;
    side.records.reserve(contents.lines.size());
    for (size_t i = 0; i < contents.lines.size(); ++i)
        side.records.push_back({contents.lines[i], &meta[i]});
    // A stable order, so of two records with one id (only a hand-made file
    // has them) the same one is taken every time.
    std::stable_sort(side.records.begin(), side.records.end(),
                     [](const Version &a, const Version &b) { return a.meta->id < b.meta->id; });
    side.records.erase(
        std::unique(side.records.begin(), side.records.end(),
                    [](const Version &a, const Version &b) { return a.meta->id == b.meta->id; }),
        side.records.end());
    side.tombstones.assign(contents.tombstones.begin(), contents.tombstones.end());
    std::sort(side.tombstones.begin(), side.tombstones.end(),
              [](const Tombstone &a, const Tombstone &b) {
                  return a.id != b.id ? a.id < b.id : a.removed > b.removed;
              });
    side.tombstones.erase(
        std::unique(side.tombstones.begin(), side.tombstones.end(),
                    [](const Tombstone &a, const Tombstone &b) { return a.id == b.id; }),
        side.tombstones.end());
    return side;
}

template <typename T> const T *findId(const std::vector<T> &sorted, const RecordId &id) {
    const auto at =
        std::lower_bound(sorted.begin(), sorted.end(), id, [](const T &item, const RecordId &key) {
            if constexpr (std::is_same_v<T, Version>)
                return item.meta->id < key;
            else
                return item.id < key;
        });
    if (at == sorted.end())
        return nullptr;
    if constexpr (std::is_same_v<T, Version>)
        return at->meta->id == id ? &*at : nullptr;
    else
        return at->id == id ? &*at : nullptr;
}

// The order versions are kept in: newest first, ties by the bytes, so both
// sides of a merge keep the same ones.
bool newerFirst(const EarlierVersion &a, const EarlierVersion &b) {
    if (a.changed != b.changed)
        return a.changed > b.changed;
    return QByteArrayView(a.line).compare(QByteArrayView(b.line)) > 0;
}

bool later(const Version &a, const Version &b) {
    if (a.meta->changed != b.meta->changed)
        return a.meta->changed > b.meta->changed;
    return a.line.compare(b.line) > 0;
}

bool holds(const std::vector<EarlierVersion> &earlier, const Version &version) {
    return std::any_of(earlier.begin(), earlier.end(), [&](const EarlierVersion &e) {
        return e.changed == version.meta->changed && QByteArrayView(e.line) == version.line;
    });
}

MergeChange change(MergeChange::Kind kind, const RecordId &id, QByteArrayView line,
                   bool otherWon = false) {
    RecordFields fields;
    SplitRecordLine(line, fields);
    return {kind, id, fields[Field::Service], fields[Field::UserName], otherWon};
}

struct Merged {
    Version kept;
    RecordMeta meta;
    bool conflict = false; // both changed: the other version went among the earlier ones
};

// One record as two copies hold it.
Merged mergeRecord(const Version &a, const Version &b) {
    const bool aWins = later(a, b) || (a.meta->changed == b.meta->changed && a.line == b.line);
    const Version &winner = aWins ? a : b;
    const Version &loser = aWins ? b : a;
    Merged merged{winner, {}, false};
    merged.meta.id = winner.meta->id;
    const qint64 ca = a.meta->created, cb = b.meta->created;
    merged.meta.created = ca == 0 ? cb : cb == 0 ? ca : std::min(ca, cb);
    merged.meta.changed = winner.meta->changed;
    std::vector<EarlierVersion> earlier = winner.meta->earlier;
    earlier.insert(earlier.end(), loser.meta->earlier.begin(), loser.meta->earlier.end());
    if (loser.line != winner.line) {
        merged.conflict = !holds(winner.meta->earlier, loser);
        earlier.push_back({loser.meta->changed, loser.line.toByteArray()});
    }
    std::sort(earlier.begin(), earlier.end(), newerFirst);
    earlier.erase(std::unique(earlier.begin(), earlier.end()), earlier.end());
    std::erase_if(earlier, [&](const EarlierVersion &e) {
        return e.changed == winner.meta->changed && QByteArrayView(e.line) == winner.line;
    });
    if (earlier.size() > kEarlierVersionsKept)
        earlier.resize(kEarlierVersionsKept);
    merged.meta.earlier = std::move(earlier);
    return merged;
}

bool sameMeta(const RecordMeta &a, const RecordMeta &b) {
    return a.id == b.id && a.created == b.created && a.changed == b.changed &&
           a.earlier == b.earlier;
}

} // namespace

MergeResult MergeStores(const StoreContents &mine, const StoreContents &other) {
    const Side a = index(mine);
    const Side b = index(other);
    std::vector<RecordId> ids;
    ids.reserve(a.records.size() + b.records.size() + a.tombstones.size() + b.tombstones.size());
    for (const Side *side : {&a, &b}) {
        for (const Version &version : side->records)
            ids.push_back(version.meta->id);
        for (const Tombstone &mark : side->tombstones)
            ids.push_back(mark.id);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

    MergeResult result;
    struct Kept {
        QByteArrayView line;
        RecordMeta meta;
    };
    std::vector<Kept> kept;
    kept.reserve(ids.size());
    for (const RecordId &id : ids) {
        const Version *own = findId(a.records, id);
        const Version *theirs = findId(b.records, id);
        const Tombstone *ownMark = findId(a.tombstones, id);
        const Tombstone *theirMark = findId(b.tombstones, id);
        std::optional<Tombstone> mark;
        if (ownMark || theirMark)
            mark = !theirMark ? *ownMark
                   : !ownMark ? *theirMark
                              : (ownMark->removed >= theirMark->removed ? *ownMark : *theirMark);
        std::optional<Merged> merged;
        if (own && theirs)
            merged = mergeRecord(*own, *theirs);
        else if (own || theirs)
            merged = Merged{own ? *own : *theirs, *(own ? own : theirs)->meta, false};
        bool keptAfterTheirRemoval = false;
        if (merged && mark) {
            if (merged->meta.changed > mark->removed) {
                // Changed after it was removed: the change stands. The mark
                // stays, before the versions it removed.
                keptAfterTheirRemoval =
                    own && theirMark && !(ownMark && ownMark->removed >= theirMark->removed);
            } else {
                if (own)
                    result.changes.push_back(change(MergeChange::Kind::Removed, id, own->line));
                merged.reset();
            }
        }
        if (merged) {
            if (!own) {
                result.changes.push_back(
                    change(ownMark ? MergeChange::Kind::KeptAfterRemoval : MergeChange::Kind::Added,
                           id, merged->kept.line));
            } else if (merged->conflict) {
                result.changes.push_back(change(MergeChange::Kind::BothChanged, id,
                                                merged->kept.line, merged->kept.line != own->line));
            } else if (merged->kept.line != own->line) {
                result.changes.push_back(change(MergeChange::Kind::Changed, id, merged->kept.line));
            } else if (keptAfterTheirRemoval) {
                result.changes.push_back(
                    change(MergeChange::Kind::KeptAfterRemoval, id, merged->kept.line));
            }
            if (!own || merged->kept.line != own->line || !sameMeta(merged->meta, *own->meta))
                result.differs = true;
            kept.push_back({merged->kept.line, std::move(merged->meta)});
        } else if (own) {
            result.differs = true;
        }
        if (mark) {
            if (!ownMark || ownMark->removed != mark->removed)
                result.differs = true;
            result.tombstones.push_back(*mark);
        }
    }
    // A copy given without identities is written with its own from now on.
    if (mine.meta.empty() && !mine.lines.empty())
        result.differs = true;
    std::sort(kept.begin(), kept.end(), [](const Kept &x, const Kept &y) {
        if (RecordList::lessThan(x.line, y.line))
            return true;
        if (RecordList::lessThan(y.line, x.line))
            return false;
        return x.meta.id < y.meta.id;
    });
    // Told by kind, then in list order.
    std::sort(result.changes.begin(), result.changes.end(),
              [](const MergeChange &x, const MergeChange &y) {
                  if (x.kind != y.kind)
                      return x.kind < y.kind;
                  if (x.service != y.service)
                      return RecordList::lessThan(x.service, y.service);
                  return RecordList::lessThan(x.userName, y.userName);
              });
    result.lines.reserve(kept.size());
    result.meta.reserve(kept.size());
    for (Kept &k : kept) {
        result.lines.push_back(k.line);
        result.meta.push_back(std::move(k.meta));
    }
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
