#include "killmodel.h"

#include "database.h"
#include "fieldcipher.h"
#include "oldimport.h"
#include "platform.h"
#include "reencipher.h"
#include "settings.h"

#include <QRandomGenerator>

#include <algorithm>

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
    const QByteArray password = state.scope == Scope::None     ? QByteArray(kUnsetPassword)
                                : state.scope == Scope::Strong ? StrongSettingsPassword()
                                                               : state.password;
    return BuildSettingsLine(kNeverExpires, password, "12-06-2026", state.scope);
}

// The cheapest derivation a strong store may ask for: every kill reopens it.
const Strong::KdfParams kQuickKdf{Strong::kMinPasses, Strong::kMinMemory};

// The record an operation picks, the same for the model and the session.
qsizetype pickIndex(const RecordList &records, int index) {
    QRandomGenerator random(quint32(index) * 2654435761u + 17);
    return qsizetype(random.bounded(int(records.size())));
}

QList<QByteArray> importedLines() {
    return {"old mail:!ann:!x1:!:!http://mail.example:8080/a", "old bank:!ann:!pin:!:!/srv/bank"};
}

// The protections a kind of change goes round, each with the password (or
// passphrase) it is set with, numbered by the operation; none for None.
struct Step {
    Scope scope;
    const char *password;
};
// None, then Program and DBase, then Program Only with a new password.
constexpr Step kScopeCycle[] = {
    {Scope::ProgramAndDBase, "key"}, {Scope::ProgramOnly, "other"}, {Scope::None, nullptr}};
// Into the strong store, out to Program and DBase, in again under another
// passphrase, out to None.
constexpr Step kStrongCycle[] = {{Scope::Strong, "pass phrase "},
                                 {Scope::ProgramAndDBase, "key"},
                                 {Scope::Strong, "pass phrase "},
                                 {Scope::None, nullptr}};

template <size_t N> void takeStep(State &state, const Step (&cycle)[N], int index) {
    const Step &step = cycle[size_t(index) % N];
    state.scope = step.scope;
    state.password =
        step.password ? step.password + QByteArray::number(index) : QByteArray(kUnsetPassword);
}

} // namespace

namespace {
const std::pair<Kind, const char *> kKindNames[] = {
    {Kind::Replace, "replace"}, {Kind::Remove, "remove"}, {Kind::Add, "add"},
    {Kind::Import, "import"},   {Kind::Scope, "scope"},   {Kind::Strong, "strong"},
    {Kind::Merge, "merge"}};
} // namespace

Kind kindFromName(const QString &name) {
    for (const auto &[kind, text] : kKindNames) {
        if (name == QLatin1String(text))
            return kind;
    }
    return Kind::Replace;
}

bool State::operator==(const State &other) const {
    return scope == other.scope && (scope == Scope::None || password == other.password) &&
           records.toList() == other.records.toList();
}

State initialState(Scope scope) {
    State state;
    QList<QByteArray> lines;
    lines.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i)
        lines.append(recordLine("service" + QByteArray::number(i), i));
    state.records = RecordList(lines);
    state.scope = scope;
    state.password = scope == Scope::None ? QByteArray(kUnsetPassword) : kFirstPassword;
    return state;
}

QByteArray oldDatabaseBytes() {
    return EncodeLine("old mail:ann:x1:http://mail.example:8080/a") + "\r\n" +
           EncodeLine("old bank:ann:pin:/srv/bank") + "\r\n";
}

bool writeInitialState(const StorePaths &paths, const State &state) {
    if (state.scope == Scope::Strong) {
        const QList<QByteArray> lines = state.records.toList();
        const std::vector<QByteArrayView> views(lines.cbegin(), lines.cend());
        Strong::Keys keys;
        return Platform::createHiddenFolder(paths.dataFolder()) &&
               WriteSettingsFile(paths, settingsLine(state)) == SettingsStatus::Ok &&
               Strong::Create(paths.strongStore(), state.password, kQuickKdf, views, keys) ==
                   Strong::Status::Ok;
    }
    return Platform::createHiddenFolder(paths.dataFolder()) &&
           WriteSettingsFile(paths, settingsLine(state)) == SettingsStatus::Ok &&
           RewriteDatabase(paths, state.scope, state.records.toList(), state.password) ==
               StoreStatus::Ok;
}

State next(const State &before, Kind kind, int index) {
    State after = before;
    switch (kind) {
    case Kind::Replace:
        after.records.replace(pickIndex(after.records, index),
                              recordLine("changed" + QByteArray::number(index), index));
        break;
    case Kind::Remove:
        after.records.remove(pickIndex(after.records, index));
        break;
    case Kind::Add:
        after.records.add(recordLine("added" + QByteArray::number(index), index));
        break;
    case Kind::Import:
        after.records.append(importedLines());
        break;
    case Kind::Scope:
        takeStep(after, kScopeCycle, index);
        break;
    case Kind::Strong:
        takeStep(after, kStrongCycle, index);
        break;
    case Kind::Merge:
        after.records.replace(pickIndex(after.records, index),
                              recordLine("merged change" + QByteArray::number(index), index));
        after.records.add(recordLine("merged" + QByteArray::number(index), index));
        break;
    }
    return after;
}

bool startSession(Session &session, const QList<QByteArray> &passphrases) {
    // The older protections' password guards only the window: their records
    // read without it, as they always did here.
    const auto firstThatOpens = [&](Session &asked) {
        return asked.scope() != Scope::Strong ||
               std::any_of(passphrases.cbegin(), passphrases.cend(), [&](const QByteArray &p) {
                   return asked.unlock(QString::fromUtf8(p)) == Session::Unlock::Opened;
               });
    };
    return session.open(firstThatOpens) == OpenStatus::Opened && session.locked() &&
           session.settingsRead() == SettingsStatus::Ok && session.loaded() == StoreStatus::Ok;
}

bool apply(Session &session, const State &before, Kind kind, int index) {
    if (!(session.records().toList() == before.records.toList()))
        return false;
    switch (kind) {
    case Kind::Add:
        return session.add(recordLine("added" + QByteArray::number(index), index)) ==
               SessionStatus::Ok;
    case Kind::Import:
        return session.importOldDatabase() == SessionStatus::Ok &&
               session.records().toList() == next(before, kind, index).records.toList();
    case Kind::Replace:
        return session.replace(pickIndex(before.records, index),
                               recordLine("changed" + QByteArray::number(index), index)) ==
               SessionStatus::Ok;
    case Kind::Remove:
        return session.remove(pickIndex(before.records, index)) == SessionStatus::Ok;
    case Kind::Scope:
        return session.applySettings(settingsLine(next(before, kind, index))) == SessionStatus::Ok;
    case Kind::Merge: {
        // The copy: these records with their identities, one changed later
        // and one added elsewhere.
        const StoreContents here = session.contents();
        std::vector<QByteArrayView> lines(here.lines.begin(), here.lines.end());
        std::vector<RecordMeta> meta;
        for (size_t i = 0; i < lines.size(); ++i)
            meta.push_back(here.meta.empty() ? ContentMeta(lines[i]) : here.meta[i]);
        const qsizetype at = pickIndex(before.records, index);
        const QByteArray changed = recordLine("merged change" + QByteArray::number(index), index);
        const QByteArray added = recordLine("merged" + QByteArray::number(index), index);
        meta[size_t(at)] = ChangedMeta(meta[size_t(at)], lines[size_t(at)]);
        lines[size_t(at)] = changed;
        lines.push_back(added);
        meta.push_back(NewRecordMeta());
        const std::vector<Tombstone> none;
        return session.mergeCopy({lines, meta, none}) == SessionStatus::Ok &&
               session.records().toList() == next(before, kind, index).records.toList();
    }
    case Kind::Strong: {
        const State after = next(before, kind, index);
        return session.applySettings(settingsLine(after),
                                     after.scope == Scope::Strong ? after.password : QByteArray(),
                                     kQuickKdf) == SessionStatus::Ok;
    }
    }
    return false;
}

bool readBack(const StorePaths &paths, State &found, const QList<QByteArray> &passphrases) {
    // Under the strong store, each passphrase in turn until one opens it.
    for (qsizetype tried = 0; tried < std::max<qsizetype>(passphrases.size(), 1); ++tried) {
        Session session(paths);
        const QList<QByteArray> one = passphrases.mid(tried, 1);
        if (!startSession(session, one)) {
            if (session.scope() == Scope::Strong)
                continue;
            return false;
        }
        found.scope = session.scope();
        found.password = found.scope == Scope::Strong ? one.value(0) : session.settings().password;
        found.records = session.records();
        return true;
    }
    return false;
}

} // namespace KillModel
