#include "reencipher.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "onetimecode.h"
#include "platform.h"
#include "recordlist.h"
#include "settings.h"
#include "stringcipher.h"

#include <QFileInfo>

#include <algorithm>

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

// The field-ciphered lines of the store as the settings on disk describe it,
// as views into block: a copy's lines are deciphered where they stand.
StoreStatus readCurrentStore(const StorePaths &paths, const StoreKey &current, QByteArray &block,
                             std::vector<QByteArrayView> &lines, Strong::Keys *keys) {
    const QString path = StoreFile(paths, current.scope);
    lines.clear();
    if (!Platform::exists(path))
        return StoreStatus::Ok;
    if (current.scope == Scope::Strong) {
        // Its records in the form the other stores hold them: field-ciphered.
        Strong::Opened opened;
        if (!keys || Strong::Reopen(path, *keys, opened) != Strong::Status::Ok)
            return StoreStatus::NoKey;
        // The other stores hold only the five fields, and keep a one-time code
        // in Other Info: there it goes, or it would be lost with the move.
        std::vector<QByteArray> withCodes;
        if (opened.meta.size() == opened.views.size()) {
            withCodes.reserve(opened.views.size()); // the views below point into these
            for (size_t i = 0; i < opened.views.size(); ++i)
                if (!opened.meta[i].oneTimeCode.isEmpty()) {
                    withCodes.push_back(
                        WithOneTimeCodeAdded(opened.views[i], opened.meta[i].oneTimeCode));
                    opened.views[i] = withCodes.back();
                }
        }
        // In list order, as every whole write of the other stores is: appends
        // stand at the end of the strong file.
        if (!std::is_sorted(opened.views.begin(), opened.views.end(), RecordList::lessThan))
            std::stable_sort(opened.views.begin(), opened.views.end(), RecordList::lessThan);
        qsizetype total = 0;
        for (const QByteArrayView record : opened.views)
            total += record.size();
        block = QByteArray(total, Qt::Uninitialized);
        char *dst = block.data();
        for (const QByteArrayView record : opened.views) {
            // A line break the strong store keeps would split the record
            // in two in the others' files, a line a record.
            if (!EncodeInto(record, dst)) {
                lines.clear();
                Strong::Wipe(block);
                return StoreStatus::UnsafeRecord;
            }
            lines.emplace_back(dst, record.size());
            dst += record.size();
        }
        return StoreStatus::Ok;
    }
    if (!Platform::readFile(path, block))
        return StoreStatus::ReadFailed;
    if (current.scope != Scope::ProgramAndDBase) {
        lines = LineViews(block);
        return StoreStatus::Ok;
    }
    bool whole = true;
    return XorInvertLinesInPlace(block, current.key, lines, whole) ? StoreStatus::Ok
                                                                   : StoreStatus::NoKey;
}

// The strong store keeps a record's one-time code apart from its five fields:
// a code kept in Other Info leaves it for the record's own place. Identities
// as the strong store gives records that came without (from their content,
// the code still in it, so records that differ only by a code stay apart);
// none when no record has a code, so such a store is written as ever.
std::vector<RecordMeta> CodesOutOfOtherInfo(std::vector<QByteArrayView> &records,
                                            std::vector<QByteArray> &withoutCodes) {
    std::vector<RecordMeta> meta;
    withoutCodes.reserve(records.size()); // records point into these
    for (size_t i = 0; i < records.size(); ++i) {
        std::optional<std::pair<QByteArray, QByteArray>> taken = OneTimeCodeTakenOut(records[i]);
        if (!taken)
            continue;
        if (meta.empty())
            for (const QByteArrayView line : records)
                meta.push_back(ContentMeta(line));
        meta[i].oneTimeCode = std::move(taken->first);
        withoutCodes.push_back(std::move(taken->second));
        records[i] = withoutCodes.back();
    }
    return meta;
}

bool rollForward(const StorePaths &paths) {
    const QString stagedConfig = StagedPath(paths.config());
    const QString stagedCopy = StagedPath(paths.copy());
    const QString stagedDatabase = StagedPath(paths.database());
    const QString stagedStrong = StagedPath(paths.strongStore());
    if (!QFileInfo(stagedConfig).isFile()) {
        // Cut short before the point of no return: the old state is whole.
        Platform::removeFile(stagedCopy);
        Platform::removeFile(stagedDatabase);
        Platform::removeFile(stagedStrong);
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
    if (Platform::exists(stagedStrong))
        ok = Platform::replaceFile(stagedStrong, paths.strongStore()) && ok;
    if (!ok)
        return false;
    // The old store file goes only when the records moved to another one;
    // in the strong store they are nowhere else.
    const QString kept = StoreFile(paths, after.scope);
    if (after.scope == Scope::Strong) {
        for (const QString &other : {paths.database(), paths.copy()})
            ok = Platform::removeFile(other) && ok;
    } else if (StoreFile(paths, before.scope) != kept) {
        ok = Platform::removeFile(StoreFile(paths, before.scope));
    }
    if (!ok || !Platform::replaceFile(stagedConfig, paths.config()))
        return false;
    Platform::setHidden(paths.config());
    return true;
}

} // namespace

QString StagedPath(const QString &path) {
    return path + QStringLiteral(".new");
}

AcceptStatus ApplySettings(const StorePaths &paths, const QByteArray &settingsLine,
                           const StrongChange &strong) {
    // Whatever an earlier attempt left half done is settled first.
    RecoverPendingSettings(paths);
    StoreKey before;
    if (!currentSettings(paths, before))
        return AcceptStatus::ConfigWriteFailed;
    const StoreKey after = settingsIn(settingsLine);

    // The store is moved as it is read: one block, its lines as views, written
    // again a piece at a time.
    QByteArray block;
    std::vector<QByteArrayView> records;
    const bool withinStrong = before.scope == Scope::Strong && after.scope == Scope::Strong;
    if (!withinStrong) {
        const StoreStatus read = readCurrentStore(paths, before, block, records, strong.current);
        if (read != StoreStatus::Ok)
            return read == StoreStatus::UnsafeRecord ? AcceptStatus::UnsafeRecord
                                                     : AcceptStatus::StoreFailed;
    }

    StoreStatus staged = StoreStatus::Ok;
    if (withinStrong && strong.passphrase.isEmpty()) {
        // The passphrase stays: the store stays as it is, only the settings change.
    } else if (withinStrong) {
        // A new passphrase wraps the same data key again; the frames are copied.
        staged = strong.current && strong.next &&
                         Strong::ChangePassword(
                             paths.strongStore(), *strong.current, strong.passphrase, strong.params,
                             *strong.next, StagedPath(paths.strongStore())) == Strong::Status::Ok
                     ? StoreStatus::Ok
                     : StoreStatus::WriteFailed;
    } else if (after.scope == Scope::Strong) {
        // The strong store holds the records as typed, not field-ciphered.
        DecodeInPlace(block);
        std::vector<QByteArray> withoutCodes;
        const std::vector<RecordMeta> meta = CodesOutOfOtherInfo(records, withoutCodes);
        staged = strong.next && Strong::Create(StagedPath(paths.strongStore()), strong.passphrase,
                                               strong.params, {records, meta, {}},
                                               *strong.next) == Strong::Status::Ok
                     ? StoreStatus::Ok
                     : StoreStatus::WriteFailed;
    } else if (after.scope == Scope::ProgramAndDBase)
        staged = after.key.isEmpty() && !records.empty()
                     ? StoreStatus::NoKey
                     : WriteStoredLines(StagedPath(paths.copy()), records, after.key);
    else if (before.scope == Scope::ProgramAndDBase || before.scope == Scope::Strong)
        staged = WriteStoredLines(StagedPath(paths.database()), records, QByteArray());
    if (staged != StoreStatus::Ok) {
        Platform::removeFile(StagedPath(paths.copy()));
        Platform::removeFile(StagedPath(paths.database()));
        Platform::removeFile(StagedPath(paths.strongStore()));
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
    for (const QString &file : {paths.database(), paths.copy(), paths.config(), paths.strongStore(),
                                paths.healthMarks()}) {
        Platform::removeFile(Platform::unfinishedPath(file));
        Platform::removeFile(Platform::unfinishedPath(StagedPath(file)));
    }
    rollForward(paths);
}
