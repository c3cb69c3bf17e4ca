#pragma once

#include "recordlist.h"
#include "session.h"
#include "storepaths.h"

#include <QByteArray>
#include <QString>

// A store that changes by a fixed series of operations, so that a process
// killed at any moment can be checked against the states just before and
// just after the operation it was in.
namespace KillModel {

// Merge: a copy made elsewhere (one record more, one changed) merged into
// the strong store.
enum class Kind { Replace, Remove, Add, Import, Scope, Strong, Merge };

Kind kindFromName(const QString &name);

struct State {
    RecordList records;
    Scope scope = Scope::None;
    QByteArray password; // under the strong store, its passphrase

    bool operator==(const State &other) const;
};

// The first state: 10,000 records under the given scope.
State initialState(Scope scope);
// The old database every import reads.
QByteArray oldDatabaseBytes();

// Writes the first state to the folders, as the program would have left it.
bool writeInitialState(const StorePaths &paths, const State &state);

// The state after operation number index (0 for the first) of this kind.
State next(const State &before, Kind kind, int index);
// Opens the folders as the program's start-up does: the folder held, an
// interrupted change settled, the settings read, the records loaded; a strong
// store opened with the first of the passphrases that opens it.
bool startSession(Session &session, const QList<QByteArray> &passphrases = {});
// Carries the same operation out through the session, as the window's command.
bool apply(Session &session, const State &before, Kind kind, int index);

// What a start-up finds in the folders. A killed holder must have left no lock.
bool readBack(const StorePaths &paths, State &found, const QList<QByteArray> &passphrases = {});

} // namespace KillModel
