#pragma once

#include "database.h"
#include "storepaths.h"
#include "strongstore.h"

#include <QByteArray>

// Moving the store when the security settings change. New settings take effect
// all or nothing: the new store and the new settings are first written beside
// the old ones, the new settings file is the point of no return, and the rest
// is finished by whoever comes next, this call or the next start-up.

enum class AcceptStatus {
    Ok,
    ConfigWriteFailed, // nothing changed
    StoreFailed,       // the store could not be read or written; nothing changed
    UnsafeRecord,      // a record would not survive the new password; nothing changed
};

// What a change into, out of or within the strong store needs.
struct StrongChange {
    Strong::Keys *current = nullptr; // the open strong store's keys, where the records are now
    QByteArray passphrase;           // the new password, where the records go
    Strong::KdfParams params;
    Strong::Keys *next = nullptr; // gets the new strong store's keys
};

// Replaces the settings with settingsLine and moves or re-keys the store to
// match its scope and password. Entering the strong store removes every other
// copy of the records.
AcceptStatus ApplySettings(const StorePaths &paths, const QByteArray &settingsLine,
                           const StrongChange &strong = {});

// Finishes or undoes a change of settings that was cut short, and clears the
// remains of any write that never finished. Run at start-up before the
// settings are read.
void RecoverPendingSettings(const StorePaths &paths);

// The names the staged files go by.
QString StagedPath(const QString &path);
