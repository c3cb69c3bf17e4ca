#pragma once

#include "platform.h"
#include "recordidentity.h"
#include "recordlist.h"
#include "settings.h"
#include "storepaths.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace Strong {
class Keys;
}

// Copies of the store that records could be hidden in: what a sync tool
// leaves beside a file two computers changed apart (Syncthing's
// "CW2DB.sync-conflict-20261209-101500-ABCDEFG.sdb", Nextcloud's and
// ownCloud's "CW2DB (conflicted copy 2026-12-09 101500).sdb", Dropbox's
// "CW2DB (ann's conflicted copy 2026-12-09).sdb", and any other name of a
// store file with "conflict" in it), and a store of another protection
// than the one in force, which a change of protection never leaves behind.
struct StoreCopy {
    QString path;
    Scope format = Scope::Strong; // by its extension: .sdb strong, .edb enciphered, .pdb plain
    bool otherProtection = false; // a store file of its own name, not a sync tool's copy
    Platform::FileStamp stamp;
};

// Whether a file name in Data is a sync tool's copy of a store file, and of which.
bool IsStoreCopyName(const QString &name, Scope *format = nullptr);

// The copies in Data, under the protection in force, in name order.
std::vector<StoreCopy> FindStoreCopies(const StorePaths &paths, Scope current);

// Removes a copy once its records are merged, unless it changed since it was
// found: a sync tool may have put a newer one in its place meanwhile, whose
// records are not merged yet. True when it is gone.
bool RemoveMergedCopy(const StoreCopy &copy);

// Whether the file is one of the copies in Data (a sync tool's, or a store of
// another protection), which a merge settles.
bool IsCopyInData(const QString &path, const StorePaths &paths, Scope current);

// The copy a user names by hand: a store file (its protection by its
// extension), or a program folder or Data folder holding one. Nothing, with
// the reason in problem, when it names none, or names the store in use.
std::optional<StoreCopy> StoreCopyAt(const QString &path, const StorePaths &paths, Scope current,
                                     QString *problem);

// A copy's records, read where they lie.
struct CopyRecords {
    QByteArray block;
    std::vector<QByteArrayView> lines;
    std::vector<RecordMeta> meta; // a strong copy of the newest version; empty before it
    std::vector<Tombstone> tombstones;
    // A copy without ids read for the strong store: the one-time code each
    // record kept in Other Info (taken out of its line), by its line.
    QHash<QByteArray, QByteArray> codes;
    bool identified() const { return !meta.empty() || !tombstones.empty(); }
    StoreContents contents() const { return {lines, meta, tombstones}; }
    void wipe();
};

enum class CopyStatus {
    Ok,
    NeedsPassword, // under a password or passphrase not known here: ask for it
    WrongPassword, // the one given does not open it
    Failed,        // damaged, not a store, or unreadable: never merged
};

// A copy that was not merged, and why.
QString CopyFailedText(const QString &path, const QString &reason);

// Reads a copy, to be merged into a store under the protection into. A
// strong copy opens with the keys of the open strong store when it shares
// them, or with password; an enciphered copy with password (or key, the
// master password in force). why names a failure for the user.
CopyStatus ReadStoreCopy(const StoreCopy &copy, Scope into, const Strong::Keys *keys,
                         const QByteArray &key, const QByteArray *password, CopyRecords &out,
                         QString *why = nullptr);
