#pragma once

#include "database.h"
#include "storepaths.h"

#include <QByteArray>
#include <QList>

// Moving the store when the security settings change. New settings take effect
// all or nothing: the new store and the new settings are first written beside
// the old ones, the new settings file is the point of no return, and the rest
// is finished by whoever comes next, this call or the next start-up.

// Writes the records, enciphered under password, as the staged copy.
StoreStatus EncipherDatabase(const StorePaths &paths, const QList<QByteArray> &records,
                             const QByteArray &password);
// Writes the records as the staged database file.
StoreStatus DecipherDatabase(const StorePaths &paths, const QList<QByteArray> &records);

// The field-ciphered lines of the store as the settings on disk describe it.
StoreStatus ReadCurrentStore(const StorePaths &paths, QList<QByteArray> &records);

enum class AcceptStatus {
    Ok,
    ConfigWriteFailed, // nothing changed
    StoreFailed,       // the store could not be read or written; nothing changed
    UnsafeRecord,      // a record would not survive the new password; nothing changed
};

// Replaces the settings with settingsLine and moves or re-keys the store to
// match its scope and password.
AcceptStatus ApplySettings(const StorePaths &paths, const QByteArray &settingsLine);

// Finishes or undoes a change of settings that was cut short, and clears the
// remains of any write that never finished. Run at start-up before the
// settings are read.
void RecoverPendingSettings(const StorePaths &paths);

// The names the staged files go by.
QString StagedPath(const QString &path);
