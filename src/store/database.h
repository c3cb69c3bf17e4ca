#pragma once

#include "platform.h"
#include "recordlist.h"
#include "settings.h"
#include "storepaths.h"

#include <QByteArray>
#include <QList>

#include <span>

// The record store on disk. "None" and "Program Only" keep the field-ciphered
// lines in the database file; "Program and DBase" keeps them enciphered again
// under the master password in the enciphered copy.
enum class StoreStatus {
    Ok,
    Missing,      // the file to read does not exist
    ReadFailed,   // it exists but cannot be read
    WriteFailed,  // the store could not be written; what was on disk is whole
    NoKey,        // the copy with an empty master password
    UnsafeRecord, // the line would not read back as one record
    OtherKey,     // the copy deciphers to noise: it was written under another password
    Damaged,      // the strong store failed a check: damaged or tampered with
};

// The file that holds the records under a scope.
QString StoreFile(const StorePaths &paths, Scope scope);

// Adds the records of the scope's store to list. The copy is deciphered in
// memory: no record ever passes through the shared temporary folder.
// With a stamp asked for, it gets the stamp of the file as read (or found missing).
StoreStatus LoadDatabase(const StorePaths &paths, Scope scope, const QByteArray &key,
                         RecordList &list, Platform::FileStamp *stamp = nullptr);

// Adds the records the bytes of the scope's store hold to list; the copy's
// bytes are deciphered under key first.
StoreStatus AddStoredRecords(QByteArray content, Scope scope, const QByteArray &key,
                             RecordList &list);

// The write of a new record: its line appended to the store of the scope and
// on the disk before this returns.
// With a stamp asked for, it gets the stamp of the file as this write left it.
StoreStatus AppendRecord(const StorePaths &paths, Scope scope, QByteArrayView line,
                         const QByteArray &key, Platform::FileStamp *written = nullptr);

// Replaces the whole store of the scope with lines, in their order, in one
// step. The new content is made and written a piece at a time.
StoreStatus RewriteDatabase(const StorePaths &paths, Scope scope,
                            std::span<const QByteArrayView> lines, const QByteArray &key,
                            Platform::FileStamp *written = nullptr);
StoreStatus RewriteDatabase(const StorePaths &paths, Scope scope, const QList<QByteArray> &lines,
                            const QByteArray &key);

// Writes lines already in their field-ciphered form to path in one step, each
// enciphered again under key when one is given, ended by CR LF: how a change
// of protection moves a store. UnsafeRecord, with nothing written, when an
// enciphered line would hold a line break.
StoreStatus WriteStoredLines(const QString &path, std::span<const QByteArrayView> lines,
                             const QByteArray &key);

// Whether a record line can be stored under the scope and key so that it
// reads back as the same single line.
StoreStatus CheckStorable(QByteArrayView line, Scope scope, const QByteArray &key);

// Clears a temporary file that an older version left in the temporary folder,
// when it is a plain file of this user's; anything else there is left alone.
void RemoveStaleTempFile(const StorePaths &paths);
