#pragma once

#include "recordidentity.h"
#include "recordlist.h"

#include <QByteArray>
#include <QByteArrayView>

#include <span>
#include <utility>
#include <vector>

// Two copies of a store meet again (a sync tool's conflict copy, a copy from
// another computer): their records matched by id, the later change of a
// record kept and the other version put among its earlier ones, removals
// applied unless the record changed after the removal (the mark is kept
// either way, for the versions before it). The merge of A into
// B and of B into A give the same records, and no version of a record is
// lost: each is current, among the earlier versions of its record (the
// newest ten), or older than a removal that applies to it.

// What the merge changes in this copy, record by record.
struct MergeChange {
    enum class Kind {
        Added,            // a record only the other copy has
        Changed,          // changed in the other copy only: its version taken
        BothChanged,      // changed in both: the later kept, the other among its earlier versions
        Removed,          // removed in the other copy, and not changed here since
        KeptAfterRemoval, // removed in one copy, changed later in the other: it stays
    };
    Kind kind = Kind::Added;
    RecordId id;
    // The record's service and user name after the merge (Removed: as they
    // were); never its password.
    QByteArray service, userName;
    bool otherWon = false; // BothChanged: the other copy's version is the one kept
};

struct MergeResult {
    // The records in list order, as views into the lines of the two copies.
    std::vector<QByteArrayView> lines;
    std::vector<RecordMeta> meta;
    std::vector<Tombstone> tombstones; // by id
    std::vector<MergeChange> changes;  // by kind, then in list order
    // Alike records of two ids that became one: the id dropped, the id kept.
    std::vector<std::pair<RecordId, RecordId>> joined;
    // Anything at all differs from this copy (records, times, earlier
    // versions or removal marks): the store must be written.
    bool differs = false;

    qsizetype count(MergeChange::Kind kind) const;
};

// Merges other into mine. Records given without identities are identified
// by their content; records of two ids, each known to one copy only, that are
// alike line for line are one record.
MergeResult MergeStores(const StoreContents &mine, const StoreContents &other);

// A copy without ids (an older format) compared with the stored records by
// service and user name, for the user to choose: nothing is decided here.
struct CopyRecord {
    enum class Kind { New, Identical, Differs };
    Kind kind = Kind::New;
    QByteArray line;     // the copy's record
    qsizetype mine = -1; // Identical, Differs: the stored record it matches
};
std::vector<CopyRecord> CompareCopy(const RecordList &mine, std::span<const QByteArrayView> copy);
