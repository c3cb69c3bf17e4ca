#pragma once

#include "recordlist.h"
#include "storepaths.h"

#include <QByteArray>
#include <QList>

// The record store on disk. Scope 0 ("None") and 2 ("Program Only") keep the
// field-ciphered lines in the database file; scope 1 ("Program and DBase") keeps
// them enciphered again under the master password in the enciphered copy.
enum class StoreStatus {
    Ok,
    Missing,      // the file to read does not exist
    ReadFailed,   // it exists but cannot be read
    WriteFailed,  // the store could not be written; what was on disk is whole
    TempFailed,   // the temporary file could not be made
    NoKey,        // scope 1 with an empty master password
    UnsafeRecord, // the line would not read back as one record
};

// Fills list from the database file (scope 0, 2) or from the temporary file
// (scope 1, filled by DecipherToTemp). Entries are added to what list holds.
StoreStatus LoadDatabase(const StorePaths &paths, int scope, RecordList &list);

// Adds the records a store file's field-ciphered bytes hold to list.
void AddStoredRecords(QByteArray content, RecordList &list);

// Deciphers the enciphered copy into the temporary file. On a failure no
// temporary file is left.
StoreStatus DecipherToTemp(const StorePaths &paths, const QByteArray &key);

// Rebuilds the enciphered copy from the temporary file. The old copy stays
// whole when the temporary file cannot be read or the copy not written.
StoreStatus EncipherFromTemp(const StorePaths &paths, const QByteArray &key);

// Appends one field-ciphered line, enciphered under key, to the copy.
StoreStatus AppendEnciphered(const StorePaths &paths, const QByteArray &cipherLine,
                             const QByteArray &key);

// The write of a new record: its line appended to the store of the scope.
StoreStatus AppendRecord(const StorePaths &paths, int scope, const QByteArray &line,
                         const QByteArray &key);

// Replaces the whole store of the scope with lines, in their order. Under
// scope 1 the copy is enciphered in memory, and no temporary file is left.
StoreStatus RewriteDatabase(const StorePaths &paths, int scope, const QList<QByteArray> &lines,
                            const QByteArray &key);

// Whether a record line can be stored under the scope and key so that it
// reads back as the same single line.
StoreStatus CheckStorable(const QByteArray &line, int scope, const QByteArray &key);

// Removes the temporary file; true when none is left.
bool DeleteTempFile(const StorePaths &paths);

// The whole load of start-up for one scope: under scope 1 the copy is
// deciphered into the temporary file, read and the file deleted.
StoreStatus LoadStore(const StorePaths &paths, int scope, const QByteArray &key, RecordList &list);
