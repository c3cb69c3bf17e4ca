#pragma once

#include "recordlist.h"
#include "storepaths.h"

#include <QByteArray>
#include <QString>

// A store that changes by a fixed series of operations, so that a process
// killed at any moment can be checked against the states just before and
// just after the operation it was in.
namespace KillModel {

enum class Kind { Replace, Remove, Add, Import, Scope };

Kind kindFromName(const QString &name);
QString nameOf(Kind kind);

struct State {
    RecordList records;
    int scope = 0;
    QByteArray password;

    bool operator==(const State &other) const;
};

// The first state: 10,000 records under the given scope.
State initialState(int scope);
// The old database every import reads.
QByteArray oldDatabaseBytes();

// Writes the first state to the folders, as the program would have left it.
bool writeInitialState(const StorePaths &paths, const State &state);

// The state after operation number index (0 for the first) of this kind.
State next(const State &before, Kind kind, int index);
// Carries the same operation out on the files.
bool applyToFiles(const StorePaths &paths, const State &before, Kind kind, int index);

// What a start-up finds in the folders, after its recovery steps.
bool readBack(const StorePaths &paths, State &found);

} // namespace KillModel
