#include "killmodel.h"

#include "database.h"
#include "fieldcipher.h"
#include "oldimport.h"
#include "platform.h"
#include "reencipher.h"
#include "settings.h"

#include <QRandomGenerator>

namespace KillModel {

namespace {

constexpr int kRecords = 10000;
const QByteArray kFirstPassword = "first7key";

QByteArray recordLine(QByteArray service, int n) {
    return service + ":!user" + QByteArray::number(n) + "@example.org:!Pw" +
           QByteArray::number(n * 7919 % 100003) + ":!note, \"" + QByteArray::number(n) +
           "\":!https://" + service + ".example.org/";
}

QByteArray settingsLine(const State &state) {
    return BuildSettingsLine(kNeverExpires,
                             state.scope == 0 ? QByteArray(kUnsetPassword) : state.password,
                             "12-06-2026", state.scope);
}

QList<QByteArray> importedLines() {
    return {"old mail:!ann:!x1:!:!http://mail.example:8080/a", "old bank:!ann:!pin:!:!/srv/bank"};
}

} // namespace

Kind kindFromName(const QString &name) {
    for (Kind k : {Kind::Replace, Kind::Remove, Kind::Add, Kind::Import, Kind::Scope}) {
        if (nameOf(k) == name)
            return k;
    }
    return Kind::Replace;
}

QString nameOf(Kind kind) {
    switch (kind) {
    case Kind::Replace:
        return QStringLiteral("replace");
    case Kind::Remove:
        return QStringLiteral("remove");
    case Kind::Add:
        return QStringLiteral("add");
    case Kind::Import:
        return QStringLiteral("import");
    case Kind::Scope:
        return QStringLiteral("scope");
    }
    return {};
}

bool State::operator==(const State &other) const {
    return scope == other.scope && (scope == 0 || password == other.password) &&
           records.lines() == other.records.lines();
}

State initialState(int scope) {
    State state;
    QList<QByteArray> lines;
    lines.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i)
        lines.append(recordLine("service" + QByteArray::number(i), i));
    state.records = RecordList(lines);
    state.scope = scope;
    state.password = scope == 0 ? QByteArray(kUnsetPassword) : kFirstPassword;
    return state;
}

QByteArray oldDatabaseBytes() {
    return EncodeLine("old mail:ann:x1:http://mail.example:8080/a") + "\r\n" +
           EncodeLine("old bank:ann:pin:/srv/bank") + "\r\n";
}

bool writeInitialState(const StorePaths &paths, const State &state) {
    return Platform::createHiddenFolder(paths.dataFolder()) &&
           WriteSettingsFile(paths, settingsLine(state)) == SettingsStatus::Ok &&
           RewriteDatabase(paths, state.scope, state.records.lines(), state.password) ==
               StoreStatus::Ok;
}

State next(const State &before, Kind kind, int index) {
    State after = before;
    QRandomGenerator random(quint32(index) * 2654435761u + 17);
    const auto pick = [&] { return qsizetype(random.bounded(int(after.records.size()))); };
    switch (kind) {
    case Kind::Replace:
        after.records.replace(pick(), recordLine("changed" + QByteArray::number(index), index));
        break;
    case Kind::Remove:
        after.records.remove(pick());
        break;
    case Kind::Add:
        after.records.add(recordLine("added" + QByteArray::number(index), index));
        break;
    case Kind::Import:
        after.records.append(importedLines());
        break;
    case Kind::Scope:
        // None, then Program and DBase, then Program Only with a new password.
        switch (index % 3) {
        case 0:
            after.scope = 1;
            after.password = "key" + QByteArray::number(index);
            break;
        case 1:
            after.scope = 2;
            after.password = "other" + QByteArray::number(index);
            break;
        default:
            after.scope = 0;
            after.password = kUnsetPassword;
            break;
        }
        break;
    }
    return after;
}

bool applyToFiles(const StorePaths &paths, const State &before, Kind kind, int index) {
    const State after = next(before, kind, index);
    switch (kind) {
    case Kind::Add: {
        const QByteArray added = recordLine("added" + QByteArray::number(index), index);
        return AppendRecord(paths, before.scope, added, before.password) == StoreStatus::Ok;
    }
    case Kind::Import: {
        QList<QByteArray> imported;
        if (ReadOldDatabase(paths.oldDatabase(), imported) != StoreStatus::Ok ||
            imported != importedLines())
            return false;
        [[fallthrough]];
    }
    case Kind::Replace:
    case Kind::Remove:
        return RewriteDatabase(paths, before.scope, after.records.lines(), before.password) ==
               StoreStatus::Ok;
    case Kind::Scope:
        return ApplySettings(paths, settingsLine(after)) == AcceptStatus::Ok;
    }
    return false;
}

bool readBack(const StorePaths &paths, State &found) {
    RecoverPendingSettings(paths);
    QByteArray line;
    if (ReadSettingsFile(paths, line) != SettingsStatus::Ok)
        return false;
    const ParsedSettings settings = ParseSettingsLine(line);
    found.scope = settings.scope;
    found.password = settings.password;
    found.records = RecordList();
    return LoadStore(paths, settings.scope, settings.password, found.records) == StoreStatus::Ok;
}

} // namespace KillModel
