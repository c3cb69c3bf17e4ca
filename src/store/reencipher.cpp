#include "reencipher.h"

#include "linefile.h"
#include "platform.h"
#include "settings.h"
#include "stringcipher.h"

#include <QFileInfo>

namespace {

struct StoreKey {
    Scope scope = Scope::None;
    QByteArray key;
};

StoreKey settingsIn(const QByteArray &line) {
    const ParsedSettings parsed = ParseSettingsLine(line);
    return StoreKey{parsed.scope, parsed.password};
}

bool readSettingsAt(const QString &path, QByteArray &line) {
    QByteArray content;
    if (!Platform::readFile(path, content))
        return false;
    line = SettingsLineFromFile(std::move(content)); // the one reader of the file's form
    return true;
}

// The settings on disk; a missing file is scope 0 with no password.
bool currentSettings(const StorePaths &paths, StoreKey &current) {
    QByteArray line;
    const SettingsStatus status = ReadSettingsFile(paths, line);
    if (status == SettingsStatus::Missing) {
        current = StoreKey{};
        return true;
    }
    if (status != SettingsStatus::Ok)
        return false;
    current = settingsIn(line);
    return true;
}

StoreStatus readStoreLines(const QString &path, QList<QByteArray> &lines) {
    if (!Platform::exists(path)) {
        lines.clear();
        return StoreStatus::Ok;
    }
    QByteArray content;
    if (!Platform::readFile(path, content))
        return StoreStatus::ReadFailed;
    lines = SplitLines(content);
    return StoreStatus::Ok;
}

bool rollForward(const StorePaths &paths) {
    const QString stagedConfig = StagedPath(paths.config());
    const QString stagedCopy = StagedPath(paths.copy());
    const QString stagedDatabase = StagedPath(paths.database());
    if (!QFileInfo(stagedConfig).isFile()) {
        // Cut short before the point of no return: the old state is whole.
        Platform::removeFile(stagedCopy);
        Platform::removeFile(stagedDatabase);
        return true;
    }
    StoreKey before;
    QByteArray newLine;
    if (!currentSettings(paths, before) || !readSettingsAt(stagedConfig, newLine))
        return false;
    const StoreKey after = settingsIn(newLine);
    bool ok = true;
    if (Platform::exists(stagedCopy))
        ok = Platform::replaceFile(stagedCopy, paths.copy()) && ok;
    if (Platform::exists(stagedDatabase))
        ok = Platform::replaceFile(stagedDatabase, paths.database()) && ok;
    if (!ok)
        return false;
    // The old store file goes only when the records moved to the other one.
    const bool beforeInCopy = before.scope == Scope::ProgramAndDBase;
    const bool afterInCopy = after.scope == Scope::ProgramAndDBase;
    if (beforeInCopy != afterInCopy)
        ok = Platform::removeFile(beforeInCopy ? paths.copy() : paths.database());
    if (!ok || !Platform::replaceFile(stagedConfig, paths.config()))
        return false;
    Platform::setHidden(paths.config());
    return true;
}

} // namespace

QString StagedPath(const QString &path) {
    return path + QStringLiteral(".new");
}

StoreStatus EncipherDatabase(const StorePaths &paths, const QList<QByteArray> &records,
                             const QByteArray &password) {
    for (const QByteArray &line : records) {
        if (!EnciphersToOneLine(line, password))
            return StoreStatus::UnsafeRecord;
    }
    QByteArray content;
    if (!XorInvertLines(records, password, content))
        return StoreStatus::NoKey;
    if (!Platform::writeFileAtomically(StagedPath(paths.copy()), content))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus DecipherDatabase(const StorePaths &paths, const QList<QByteArray> &records) {
    if (!Platform::writeFileAtomically(StagedPath(paths.database()), JoinLines(records)))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus ReadCurrentStore(const StorePaths &paths, QList<QByteArray> &records) {
    StoreKey current;
    if (!currentSettings(paths, current))
        return StoreStatus::ReadFailed;
    if (current.scope != Scope::ProgramAndDBase)
        return readStoreLines(paths.database(), records);
    QList<QByteArray> enciphered;
    const StoreStatus status = readStoreLines(paths.copy(), enciphered);
    if (status != StoreStatus::Ok)
        return status;
    records.clear();
    records.reserve(enciphered.size());
    for (const QByteArray &line : enciphered) {
        QByteArray plain;
        if (!XorInvert(line, current.key, plain))
            return StoreStatus::NoKey;
        records.append(plain);
    }
    return StoreStatus::Ok;
}

AcceptStatus ApplySettings(const StorePaths &paths, const QByteArray &settingsLine) {
    // Whatever an earlier attempt left half done is settled first.
    RecoverPendingSettings(paths);
    StoreKey before;
    if (!currentSettings(paths, before))
        return AcceptStatus::ConfigWriteFailed;
    const StoreKey after = settingsIn(settingsLine);

    QList<QByteArray> records;
    if (ReadCurrentStore(paths, records) != StoreStatus::Ok)
        return AcceptStatus::StoreFailed;

    StoreStatus staged = StoreStatus::Ok;
    if (after.scope == Scope::ProgramAndDBase)
        staged = EncipherDatabase(paths, records, after.key);
    else if (before.scope == Scope::ProgramAndDBase)
        staged = DecipherDatabase(paths, records);
    if (staged != StoreStatus::Ok) {
        Platform::removeFile(StagedPath(paths.copy()));
        Platform::removeFile(StagedPath(paths.database()));
        return staged == StoreStatus::UnsafeRecord ? AcceptStatus::UnsafeRecord
                                                   : AcceptStatus::StoreFailed;
    }
    if (!Platform::writeFileAtomically(StagedPath(paths.config()),
                                       SettingsFileContent(settingsLine))) {
        rollForward(paths); // no staged settings: this undoes the staged store
        return AcceptStatus::ConfigWriteFailed;
    }
    if (!rollForward(paths))
        return AcceptStatus::StoreFailed;
    return AcceptStatus::Ok;
}

void RecoverPendingSettings(const StorePaths &paths) {
    // Writes cut short left their old files whole; what they were building goes.
    for (const QString &file : {paths.database(), paths.copy(), paths.config()}) {
        Platform::removeFile(Platform::unfinishedPath(file));
        Platform::removeFile(Platform::unfinishedPath(StagedPath(file)));
    }
    rollForward(paths);
}
