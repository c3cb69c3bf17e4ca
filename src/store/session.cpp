#include "session.h"

#include "ansi.h"
#include "healthmarks.h"
#include "oldimport.h"
#include "onetimecode.h"
#include "recordline.h"
#include "settingscopies.h"

#include <QDateTime>
#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <cstring>

namespace {

void EnsureDataFolder(const StorePaths &paths) {
    if (!Platform::exists(paths.dataFolder()))
        Platform::createHiddenFolder(paths.dataFolder()); // a failure shows at the first write
}

// How the health report's marks name a record: by its id where it has one,
// else by its service and user name.
QByteArray IdIdentity(const RecordId &id) {
    return QByteArrayLiteral("id ") + id.hex();
}

QByteArray NameIdentity(QByteArrayView line) {
    return QByteArrayLiteral("name ") + FieldView(line, Field::Service).toByteArray() + '\0' +
           FieldView(line, Field::UserName).toByteArray();
}

} // namespace

Session::Session(StorePaths paths) : m_paths(std::move(paths)) {}

Platform::FolderLock::Result Session::lock() {
    EnsureDataFolder(m_paths);
    // Looked at before it is held or read: a folder another user made, or a
    // file they planted, is never used.
    m_untrusted = Platform::findUntrusted(m_paths.dataFolder());
    if (m_untrusted)
        return Platform::FolderLock::Result::Untrusted;
    const Platform::FolderLock::Result held = m_lock.lock(m_paths.dataFolder());
    if (held == Platform::FolderLock::Result::Untrusted)
        m_untrusted = {Platform::Untrusted::Kind::NotFolder, m_paths.dataFolder(), {}};
    return held;
}

SessionStatus Session::checkFolder() {
    m_untrusted = Platform::findUntrusted(m_paths.dataFolder());
    if (m_untrusted)
        return SessionStatus::Untrusted;
    // A folder moved away and not yet replaced keeps the old hold for now.
    if (!m_lock.held() || !Platform::exists(m_paths.dataFolder()) ||
        m_lock.holds(m_paths.dataFolder()))
        return SessionStatus::Ok;
    // Data was replaced (a backup put back by hand): the hold moves to the
    // folder now in use, unless another running copy holds that one.
    m_lock.unlock();
    switch (m_lock.lock(m_paths.dataFolder())) {
    case Platform::FolderLock::Result::Locked:
        return SessionStatus::Ok;
    case Platform::FolderLock::Result::Busy:
        return SessionStatus::HeldElsewhere;
    case Platform::FolderLock::Result::Untrusted:
        m_untrusted = {Platform::Untrusted::Kind::NotFolder, m_paths.dataFolder(), {}};
        return SessionStatus::Untrusted;
    case Platform::FolderLock::Result::Failed:
        break;
    }
    return SessionStatus::WriteFailed;
}

void Session::prepare() {
    if (!m_lock.held() && lock() != Platform::FolderLock::Result::Locked)
        return; // open() meets it again and says so
    recover();
    if (readSettings() == SettingsStatus::ReadFailed)
        return;
    if (needsPassword() || m_scope == Scope::ProgramAndDBase) {
        prefetchStore();
        return;
    }
    if (loadRecords() == StoreStatus::Ok)
        m_loadedEarly = m_scope;
}

OpenStatus Session::open(const PasswordAsker &ask) {
    if (!m_lock.held()) {
        switch (lock()) {
        case Platform::FolderLock::Result::Busy:
            return OpenStatus::HeldElsewhere;
        case Platform::FolderLock::Result::Untrusted:
            return OpenStatus::Untrusted;
        case Platform::FolderLock::Result::Locked:
        case Platform::FolderLock::Result::Failed:
            break;
        }
    }
    if (!m_recovered)
        recover();
    // Read again even after prepare(): the settings may have changed since.
    if (readSettings() == SettingsStatus::ReadFailed)
        return OpenStatus::SettingsUnreadable;
    if (needsPassword() && !(ask && ask(*this)))
        return OpenStatus::NotGiven;
    const bool listed = m_loadedEarly == m_scope && !changedOnDisk();
    m_loadedEarly.reset();
    if (!listed)
        loadRecords();
    return OpenStatus::Opened;
}

OpenStatus Session::openToRead(const PasswordAsker &ask) {
    m_readOnly = true;
    // What an interrupted change left is settled by whoever writes next; a
    // window may be writing right now.
    m_recovered = true;
    if (Platform::exists(m_paths.dataFolder())) {
        m_untrusted = Platform::findUntrusted(m_paths.dataFolder());
        if (m_untrusted)
            return OpenStatus::Untrusted;
    }
    if (readSettings() == SettingsStatus::ReadFailed)
        return OpenStatus::SettingsUnreadable;
    if (needsPassword() && !(ask && ask(*this)))
        return OpenStatus::NotGiven;
    loadRecords();
    return OpenStatus::Opened;
}

void Session::recover() {
    m_recovered = true;
    // A change of settings cut short is finished or undone before it is read,
    // and an older version's unpacked records go from the temporary folder.
    RecoverPendingSettings(m_paths);
    RemoveStaleTempFile(m_paths);
    takeSettingsThatOpenTheRecords();
}

SessionStatus Session::takeRecordsUnder(const QByteArray &password) {
    if (m_scope != Scope::ProgramAndDBase || !m_otherKey)
        return SessionStatus::Unreadable;
    if (m_readOnly)
        return SessionStatus::HeldElsewhere;
    if (const SessionStatus folder = checkFolder(); folder != SessionStatus::Ok)
        return folder;
    if (settingsChangedOnDisk())
        return SessionStatus::ChangedOnDisk;
    RecordList earlier;
    const auto wipe = qScopeGuard([&earlier] { earlier.wipe(); });
    Platform::FileStamp stamp;
    const StoreStatus read = LoadDatabase(m_paths, m_scope, password, earlier, &stamp);
    if (read == StoreStatus::OtherKey)
        return SessionStatus::OtherKey;
    if (read != StoreStatus::Ok)
        return SessionStatus::Unreadable;
    if (stamp != m_storeStamp)
        return SessionStatus::ChangedOnDisk; // not the file found under another password
    for (const QByteArrayView line : earlier.lines())
        if (CheckStorable(line, m_scope, m_key) != StoreStatus::Ok)
            return SessionStatus::UnsafeRecord;
    if (RewriteDatabase(m_paths, m_scope, earlier.lines(), m_key) != StoreStatus::Ok)
        return SessionStatus::WriteFailed;
    loadRecords();
    return m_loaded == StoreStatus::Ok ? SessionStatus::Ok : SessionStatus::Unreadable;
}

void Session::takeSettingsThatOpenTheRecords() {
    if (TakeSettingsThatOpenTheRecords(m_paths))
        m_settingsTakenFromCopy = true;
}

void Session::takeSettings(const ParsedSettings &settings) {
    if (settings.password != m_settings.password)
        m_passwordConfirmed = false;
    m_settings = settings;
    m_scope = settings.scope;
    // Under None the stored password means nothing and is not held.
    m_key = m_scope == Scope::None ? QByteArray() : settings.password;
    if (m_scope != Scope::Strong)
        m_strongStatus = Strong::Status::Ok;
}

SettingsStatus Session::readSettings() {
    QByteArray line;
    const SettingsStatus status = ReadSettingsFile(m_paths, line, &m_configStamp);
    m_settingsRead = status;
    // Settings that are there but can not be read are not "no settings": the
    // ones in force stay, and nothing is written until they can be read.
    m_settingsUnreadable = status == SettingsStatus::ReadFailed;
    if (m_settingsUnreadable)
        return status;
    // No settings: no password, the database file.
    takeSettings(status == SettingsStatus::Ok ? ParseSettingsLine(line) : ParsedSettings{});
    Strong::Wipe(line); // it holds the master password
    return status;
}

bool Session::needsPassword() const {
    return m_scope != Scope::None && m_settings.hasPassword &&
           m_settings.password != kUnsetPassword;
}

StoreStatus Session::loadStrong(const QByteArray *passphrase) {
    const QString path = StoreFile(m_paths, Scope::Strong);
    Strong::Opened opened;
    const Strong::Status status =
        passphrase ? Strong::Open(path, *passphrase, m_strong, opened, &m_storeStamp)
                   : Strong::Reopen(path, m_strong, opened, &m_storeStamp);
    m_strongStatus = status;
    // A crash during an append leaves a torn last frame, which the file's own
    // checks prove: it is cut off.
    // A reader leaves it: the tail may be an append a window is making now.
    if (status == Strong::Status::Ok && opened.torn && !m_readOnly &&
        Strong::CutBack(path, opened.wholeSize))
        m_storeStamp = Platform::stampOf(path);
    WipeEarlier(m_meta);
    m_tombstones.clear();
    if (status == Strong::Status::Ok || status == Strong::Status::Damaged) {
        m_records = RecordList();
        if (opened.meta.empty()) {
            m_records.adopt(std::move(opened.block), std::move(opened.views));
        } else {
            // The identities follow their records into list order.
            std::vector<size_t> order(opened.views.size());
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            const auto before = [&](size_t a, size_t b) {
                return RecordList::lessThan(opened.views[a], opened.views[b]);
            };
            if (!std::is_sorted(order.begin(), order.end(), before))
                std::stable_sort(order.begin(), order.end(), before);
            std::vector<QByteArrayView> views(order.size());
            m_meta.resize(order.size());
            for (size_t i = 0; i < order.size(); ++i) {
                views[i] = opened.views[order[i]];
                m_meta[i] = std::move(opened.meta[order[i]]);
            }
            m_records.adopt(std::move(opened.block), std::move(views), views.size());
        }
        m_tombstones = std::move(opened.tombstones);
    }
    switch (status) {
    case Strong::Status::Ok:
        return StoreStatus::Ok;
    case Strong::Status::Damaged:
        return StoreStatus::Damaged;
    case Strong::Status::Missing:
        return StoreStatus::Missing;
    case Strong::Status::WrongPassword:
    case Strong::Status::NeedsPassword:
        return StoreStatus::NoKey;
    default:
        break;
    }
    return StoreStatus::ReadFailed;
}

Session::Unlock Session::unlock(const QString &typed) {
    // After a lock the password is known again only from the settings file
    // (which may have changed meanwhile).
    if (m_forgotten && readSettings() == SettingsStatus::ReadFailed)
        return Unlock::Unopenable;
    if (m_scope != Scope::Strong) {
        QByteArray given = Ansi::fromUnicode(typed);
        const bool right = given == m_key;
        Strong::Wipe(given);
        m_forgotten = m_forgotten && !right;
        m_passwordConfirmed = m_passwordConfirmed || right;
        return right ? Unlock::Opened : Unlock::WrongPassword;
    }
    QByteArray passphrase = Strong::PassphraseBytes(typed);
    m_records = RecordList();
    const StoreStatus status = loadStrong(&passphrase);
    Strong::Wipe(passphrase); // the keys are derived: the passphrase is not kept
    m_readable = status == StoreStatus::Ok;
    m_unlocked = status;
    recordsChanged();
    if (status == StoreStatus::Ok || status == StoreStatus::Damaged) {
        m_forgotten = false;
        m_passwordConfirmed = true;
        return Unlock::Opened;
    }
    return m_strongStatus == Strong::Status::WrongPassword ? Unlock::WrongPassword
                                                           : Unlock::Unopenable;
}

void Session::forgetRecords() {
    // Lists that share a block zero it once the last of them lets it go.
    m_records.wipe();
    m_spare.wipe();
    m_prefetched.reset();
    m_unlocked.reset();
    m_strong.clear();
    WipeEarlier(m_meta);
    m_tombstones.clear();
    // The key is shared with the settings it came from: both let go of it.
    Strong::Wipe(m_settings.password);
    Strong::Wipe(m_key);
    m_readable = false;
    m_forgotten = true;
    m_loadedEarly.reset();
    recordsChanged();
}

StoreStatus Session::appendLine(QByteArrayView line, const RecordMeta &meta,
                                Platform::FileStamp *stamp) {
    if (m_scope != Scope::Strong)
        return AppendRecord(m_paths, m_scope, line, m_key, stamp);
    if (Strong::NeedsWholeWrite(m_strong)) {
        // A file of an older version takes no appends: it is written whole,
        // in the newest version, with the new record.
        std::vector<QByteArrayView> lines(m_records.lines().begin(), m_records.lines().end());
        lines.push_back(line);
        std::vector<RecordMeta> identities = m_meta;
        identities.push_back(meta);
        return writeAll({lines, identities, m_tombstones}, stamp);
    }
    return Strong::Append(StoreFile(m_paths, m_scope), m_strong, line, meta, stamp) ==
                   Strong::Status::Ok
               ? StoreStatus::Ok
               : StoreStatus::WriteFailed;
}

StoreStatus Session::writeAll(const StoreContents &contents, Platform::FileStamp *stamp) {
    if (m_scope != Scope::Strong)
        return RewriteDatabase(m_paths, m_scope, contents.lines, m_key, stamp);
    return Strong::Rewrite(StoreFile(m_paths, m_scope), m_strong, contents, stamp) ==
                   Strong::Status::Ok
               ? StoreStatus::Ok
               : StoreStatus::WriteFailed;
}

void Session::identifyEach() {
    if (m_scope != Scope::Strong || m_meta.size() == size_t(m_records.size()))
        return;
    m_meta.clear();
    m_meta.reserve(size_t(m_records.size()));
    for (const QByteArrayView line : m_records.lines())
        m_meta.push_back(ContentMeta(line));
}

std::vector<RecordMeta> Session::identitiesFor(const RecordList &changed) {
    std::vector<RecordMeta> out;
    if (m_scope != Scope::Strong)
        return out;
    identifyEach();
    // Both lists are in list order: one walk pairs the records they share.
    out.reserve(size_t(changed.size()));
    const qsizetype had = m_records.size();
    qsizetype i = 0;
    const qint64 now = NowMs();
    for (const QByteArrayView line : changed.lines()) {
        while (i < had && RecordList::lessThan(m_records.line(i), line))
            ++i;
        if (i < had && m_records.line(i) == line)
            out.push_back(m_meta[size_t(i++)]);
        else
            out.push_back(NewRecordMeta(now));
    }
    return out;
}

std::vector<EarlierVersion> Session::earlierVersions(qsizetype index) const {
    if (m_scope != Scope::Strong || index < 0 || size_t(index) >= m_meta.size())
        return {};
    return m_meta[size_t(index)].earlier;
}

StoreStatus Session::loadRecords() {
    if (m_scope == Scope::Strong) {
        // What the unlock just read is not read again while the file is as it was.
        if (m_unlocked && Platform::stampOf(StoreFile(m_paths, m_scope)) == m_storeStamp) {
            m_loaded = *m_unlocked;
            m_unlocked.reset();
            return m_loaded;
        }
        m_unlocked.reset();
        // Read with the keys of the last unlock; a store now under another
        // password (changed elsewhere) waits for the prompt.
        m_records = RecordList();
        const StoreStatus status = loadStrong(nullptr);
        m_readable = status == StoreStatus::Ok;
        m_otherKey = false;
        m_loaded = status;
        recordsChanged();
        return status;
    }
    m_records = RecordList();
    StoreStatus status = StoreStatus::Ok;
    if (m_prefetched && m_prefetched->scope == m_scope &&
        Platform::stampOf(StoreFile(m_paths, m_scope)) == m_prefetched->stamp) {
        m_storeStamp = m_prefetched->stamp;
        status = AddStoredRecords(std::move(m_prefetched->bytes), m_scope, m_key, m_records);
    } else {
        status = LoadDatabase(m_paths, m_scope, m_key, m_records, &m_storeStamp);
    }
    m_prefetched.reset();
    WipeEarlier(m_meta);
    m_tombstones.clear();
    // A store that exists but could not be read or deciphered must never be
    // written over from a list that does not hold its records.
    m_readable = status == StoreStatus::Ok || status == StoreStatus::Missing;
    m_otherKey = status == StoreStatus::OtherKey;
    m_loaded = status;
    recordsChanged();
    return status;
}

void Session::prefetchStore() {
    m_prefetched.reset();
    if (m_scope == Scope::Strong)
        return;
    const QString path = StoreFile(m_paths, m_scope);
    Prefetched read{m_scope, {}, {}};
    if (Platform::exists(path) && Platform::readFile(path, read.bytes, &read.stamp))
        m_prefetched = std::move(read);
}

void Session::recordsChanged(const RecordsChange &change) const {
    for (const auto &listener : m_recordsChanged)
        listener(change);
}

bool Session::settingsChangedOnDisk() const {
    return Platform::stampOf(m_paths.config()) != m_configStamp;
}

bool Session::changedOnDisk() const {
    return settingsChangedOnDisk() ||
           Platform::stampOf(StoreFile(m_paths, m_scope)) != m_storeStamp;
}

void Session::stampStore() {
    m_storeStamp = Platform::stampOf(StoreFile(m_paths, m_scope));
}

SessionStatus Session::checkWritable() {
    if (m_readOnly)
        return SessionStatus::HeldElsewhere;
    if (m_otherKey)
        return SessionStatus::OtherKey;
    if (m_scope == Scope::Strong && m_strongStatus == Strong::Status::Damaged)
        return SessionStatus::Damaged;
    if (m_scope == Scope::Strong && !m_strong.valid())
        return SessionStatus::NoKey;
    if (!m_readable || m_settingsUnreadable)
        return SessionStatus::Unreadable;
    if (const SessionStatus folder = checkFolder(); folder != SessionStatus::Ok)
        return folder;
    if (changedOnDisk())
        return SessionStatus::ChangedOnDisk;
    return SessionStatus::Ok;
}

SessionStatus Session::storeStatus(StoreStatus status) const {
    switch (status) {
    case StoreStatus::Ok:
        return SessionStatus::Ok;
    case StoreStatus::NoKey:
        return SessionStatus::NoKey;
    case StoreStatus::UnsafeRecord:
        return SessionStatus::UnsafeRecord;
    case StoreStatus::OtherKey:
        return SessionStatus::OtherKey;
    case StoreStatus::Damaged:
        return SessionStatus::Damaged;
    case StoreStatus::Missing:
    case StoreStatus::ReadFailed:
    case StoreStatus::WriteFailed:
        break;
    }
    return SessionStatus::WriteFailed;
}

SessionStatus Session::add(const QByteArray &given, qsizetype *index,
                           const QByteArray &oneTimeCode) {
    // Where records are five fields only, the code goes into Other Info.
    const QByteArray line = oneTimeCode.isEmpty() || m_scope == Scope::Strong
                                ? given
                                : WithOneTimeCode(given, oneTimeCode);
    if (m_records.contains(line))
        return SessionStatus::Duplicate;
    if (const SessionStatus writable = checkWritable(); writable != SessionStatus::Ok)
        return writable;
    identifyEach();
    RecordMeta meta = NewRecordMeta();
    if (m_scope == Scope::Strong)
        meta.oneTimeCode = oneTimeCode;
    Platform::FileStamp stamp;
    const SessionStatus written = storeStatus(appendLine(line, meta, &stamp));
    if (written != SessionStatus::Ok) {
        // Even a failed append may have touched the file (and cut it back).
        stampStore();
        return written;
    }
    // What this append wrote, not what the path shows by now: another
    // program's write a moment later must still read as a change.
    m_storeStamp = stamp;
    qsizetype at = -1;
    m_records.add(line, &at);
    if (m_scope == Scope::Strong)
        m_meta.insert(m_meta.begin() + at, meta);
    if (index)
        *index = at;
    recordsChanged({RecordsChange::Kind::Inserted, -1, at});
    return SessionStatus::Ok;
}

RecordList Session::changeable() {
    RecordList changed = std::move(m_spare);
    m_spare = RecordList();
    changed.assign(m_records);
    return changed;
}

SessionStatus Session::rewrite(RecordList changed, const RecordsChange &change,
                               std::vector<RecordMeta> *meta, std::vector<Tombstone> *tombstones) {
    if (const SessionStatus writable = checkWritable(); writable != SessionStatus::Ok)
        return writable;
    std::vector<RecordMeta> identities;
    if (m_scope == Scope::Strong && !meta) {
        identities = identitiesFor(changed);
        meta = &identities;
    }
    Platform::FileStamp stamp;
    const SessionStatus written = storeStatus(writeAll(
        {changed.lines(), meta ? std::span<const RecordMeta>(*meta) : std::span<const RecordMeta>(),
         tombstones ? *tombstones : m_tombstones},
        &stamp));
    if (written != SessionStatus::Ok)
        return written;
    m_storeStamp = stamp;
    if (m_scope == Scope::Strong) {
        m_meta = std::move(*meta);
        if (tombstones)
            m_tombstones = std::move(*tombstones);
    }
    std::swap(m_records, changed);
    changed.release();
    m_spare = std::move(changed);
    recordsChanged(change);
    return SessionStatus::Ok;
}

SessionStatus Session::replace(qsizetype index, const QByteArray &line, qsizetype *newIndex) {
    if (m_records.contains(line))
        return SessionStatus::NoChange;
    if (index < 0 || index >= m_records.size())
        return SessionStatus::BadIndex;
    RecordList changed = changeable();
    qsizetype at = -1;
    changed.replace(index, line, &at);
    if (newIndex)
        *newIndex = at;
    if (m_scope != Scope::Strong)
        return rewrite(std::move(changed), {RecordsChange::Kind::Replaced, index, at});
    // The same record, changed: its old version goes first among its earlier ones.
    identifyEach();
    std::vector<RecordMeta> meta = m_meta;
    RecordMeta next = ChangedMeta(meta[size_t(index)], m_records.line(index));
    meta.erase(meta.begin() + index);
    meta.insert(meta.begin() + at, std::move(next));
    return rewrite(std::move(changed), {RecordsChange::Kind::Replaced, index, at}, &meta);
}

SessionStatus Session::remove(qsizetype index) {
    if (index < 0 || index >= m_records.size())
        return SessionStatus::BadIndex;
    RecordList changed = changeable();
    changed.remove(index);
    if (m_scope != Scope::Strong)
        return rewrite(std::move(changed), {RecordsChange::Kind::Removed, index, -1});
    // A removal leaves its mark, so a copy elsewhere does not bring the record back.
    identifyEach();
    std::vector<RecordMeta> meta = m_meta;
    std::vector<Tombstone> tombstones = m_tombstones;
    std::erase_if(tombstones, [&](const Tombstone &t) { return t.id == meta[size_t(index)].id; });
    tombstones.push_back(
        {meta[size_t(index)].id, std::max(NowMs(), meta[size_t(index)].changed + 1)});
    meta.erase(meta.begin() + index);
    return rewrite(std::move(changed), {RecordsChange::Kind::Removed, index, -1}, &meta,
                   &tombstones);
}

SessionStatus Session::importOldDatabase() {
    QList<QByteArray> imported;
    if (ReadOldDatabase(m_paths.oldDatabase(), imported) != StoreStatus::Ok)
        return SessionStatus::NothingToImport;
    RecordList changed = m_records;
    changed.append(imported);
    return rewrite(std::move(changed));
}

SessionStatus Session::importRecords(const QList<QByteArray> &lines,
                                     const QList<QByteArray> &codes) {
    const auto codeOf = [&](qsizetype i) { return i < codes.size() ? codes[i] : QByteArray(); };
    RecordList changed = m_records;
    if (m_scope != Scope::Strong) {
        QList<QByteArray> withCodes = lines;
        for (qsizetype i = 0; i < withCodes.size(); ++i)
            if (!codeOf(i).isEmpty())
                withCodes[i] = WithOneTimeCode(withCodes[i], codeOf(i));
        changed.append(withCodes);
        return rewrite(std::move(changed));
    }
    changed.append(lines);
    identifyEach();
    std::vector<RecordMeta> meta = identitiesFor(changed);
    // The codes go to the records just added, found by their lines.
    QHash<QByteArrayView, QByteArray> byLine;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (!codeOf(i).isEmpty())
            byLine.insert(lines[i], codeOf(i));
    if (!byLine.isEmpty())
        for (qsizetype i = 0; i < changed.size(); ++i)
            if (const auto code = byLine.constFind(changed.line(i));
                code != byLine.cend() && !m_records.contains(changed.line(i)))
                meta[size_t(i)].oneTimeCode = *code;
    return rewrite(std::move(changed), {}, &meta);
}

QByteArray Session::oneTimeCode(qsizetype index) const {
    if (index < 0 || index >= m_records.size())
        return {};
    if (m_scope == Scope::Strong)
        return size_t(index) < m_meta.size() ? m_meta[size_t(index)].oneTimeCode : QByteArray();
    return OneTimeCodeIn(m_records.line(index));
}

QByteArray Session::recordIdentity(qsizetype index) const {
    if (index < 0 || index >= m_records.size())
        return {};
    if (size_t(index) < m_meta.size())
        return IdIdentity(m_meta[size_t(index)].id);
    return NameIdentity(m_records.line(index));
}

QDate Session::passwordSince(qsizetype index) const {
    if (index < 0 || size_t(index) >= m_meta.size())
        return {};
    const RecordMeta &meta = m_meta[size_t(index)];
    const QByteArrayView password = FieldView(m_records.line(index), Field::Password);
    qint64 since = meta.changed;
    bool all = true;
    for (const EarlierVersion &version : meta.earlier) {
        if (FieldView(version.line, Field::Password) != password) {
            all = false;
            break;
        }
        since = version.changed;
    }
    // Every version kept has it, and none was dropped: it dates from the record's making.
    if (all && meta.earlier.size() < kEarlierVersionsKept && meta.created > 0)
        since = meta.created;
    if (since <= 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(since).date();
}

SessionStatus Session::setOneTimeCode(qsizetype index, const QByteArray &uri, qsizetype *newIndex) {
    if (index < 0 || index >= m_records.size())
        return SessionStatus::BadIndex;
    if (oneTimeCode(index) == uri)
        return SessionStatus::NoChange;
    if (m_scope != Scope::Strong)
        return replace(index, WithOneTimeCode(m_records.line(index), uri), newIndex);
    identifyEach();
    std::vector<RecordMeta> meta = m_meta;
    // A change of the record: the version before goes first among its earlier ones.
    RecordMeta &record = meta[size_t(index)];
    record = ChangedMeta(record, m_records.line(index));
    record.oneTimeCode = uri;
    if (newIndex)
        *newIndex = index;
    RecordList same = changeable();
    return rewrite(std::move(same), {RecordsChange::Kind::Replaced, index, index}, &meta);
}

bool Session::storable(QByteArrayView line) const {
    return CheckStorable(line, m_scope, m_key) == StoreStatus::Ok;
}

SessionStatus Session::applySettings(const QByteArray &settingsLine, const QByteArray &passphrase,
                                     const Strong::KdfParams &params) {
    if (const SessionStatus writable = checkWritable(); writable != SessionStatus::Ok)
        return writable;
    // On a failure the stamps stay: if anything did change on disk, the next
    // command finds it and reads the files again instead of writing.
    Strong::Keys next;
    const StrongChange strong{&m_strong, passphrase, params, &next};
    const bool strongBefore = m_scope == Scope::Strong;
    const bool crossing = strongBefore != (ParseSettingsLine(settingsLine).scope == Scope::Strong);
    // Into the strong store a record is named by an id made from its content,
    // out of it by its service and user name: the health report's marks follow.
    std::vector<std::pair<QByteArray, QByteArray>> renamed;
    if (crossing)
        for (qsizetype i = 0; i < m_records.size(); ++i)
            renamed.emplace_back(recordIdentity(i),
                                 strongBefore ? NameIdentity(m_records.line(i))
                                              : IdIdentity(ContentMeta(m_records.line(i)).id));
    switch (ApplySettings(m_paths, settingsLine, strong)) {
    case AcceptStatus::Ok:
        break;
    case AcceptStatus::ConfigWriteFailed:
        return SessionStatus::ConfigWriteFailed;
    case AcceptStatus::StoreFailed:
        return SessionStatus::WriteFailed;
    case AcceptStatus::UnsafeRecord:
        return SessionStatus::UnsafeRecord;
    }
    takeSettings(ParseSettingsLine(settingsLine));
    m_passwordConfirmed = true; // given in the settings window
    // The keys of the store the records are in now, or none.
    if (m_scope != Scope::Strong) {
        m_strong.clear();
        WipeEarlier(m_meta);
        m_tombstones.clear();
    } else if (next.valid())
        m_strong.swap(next);
    m_configStamp = Platform::stampOf(m_paths.config());
    stampStore();
    // Into or out of the strong store the records change form (a one-time
    // code moves between Other Info and the record's own place): what is
    // shown and written next is what was just written.
    if (crossing) {
        m_prefetched.reset();
        m_unlocked.reset(); // what an unlock read is of the store before
        loadRecords();
        HealthMarks marks = HealthMarks::read(m_paths.healthMarks());
        bool carried = false;
        for (const auto &[before, after] : renamed)
            if (marks.marked(before) && !marks.marked(after)) {
                marks.setMarked(after, true);
                carried = true;
            }
        // The records are moved already; marks that could not follow are
        // only shown again as concerns.
        if (carried)
            marks.write(m_paths.healthMarks());
    }
    return SessionStatus::Ok;
}

SessionStatus Session::takePassphrase(const QByteArray &passphrase) {
    if (m_scope != Scope::Strong || !m_strong.valid())
        return SessionStatus::NoKey;
    const QByteArray expiry =
        m_settings.expiry.size() == 10 ? m_settings.expiry : QByteArray(kNeverExpires);
    const QByteArray line =
        BuildSettingsLine(expiry, StrongSettingsPassword(), TodayText(), Scope::Strong);
    return applySettings(line, passphrase, Strong::CalibratedParams());
}

SessionStatus Session::writeRecords(std::vector<std::pair<QByteArrayView, RecordMeta>> entries,
                                    std::vector<Tombstone> *tombstones) {
    const auto before = [](const auto &a, const auto &b) {
        return RecordList::lessThan(a.first, b.first);
    };
    // A merge hands them in list order already.
    if (!std::is_sorted(entries.begin(), entries.end(), before))
        std::stable_sort(entries.begin(), entries.end(), before);
    // The records in one block of their own, as a load leaves them.
    qsizetype total = 0;
    for (const auto &entry : entries)
        total += entry.first.size();
    QByteArray block(total, Qt::Uninitialized);
    std::vector<QByteArrayView> views;
    std::vector<RecordMeta> meta;
    views.reserve(entries.size());
    meta.reserve(entries.size());
    qsizetype at = 0;
    for (auto &entry : entries) {
        std::memcpy(block.data() + at, entry.first.data(), size_t(entry.first.size()));
        views.emplace_back(block.constData() + at, entry.first.size());
        at += entry.first.size();
        meta.push_back(std::move(entry.second));
    }
    entries.clear(); // they may point into records about to go
    RecordList changed;
    changed.adopt(std::move(block), std::move(views), meta.size());
    if (m_scope != Scope::Strong)
        return rewrite(std::move(changed));
    return rewrite(std::move(changed), {}, &meta, tombstones);
}

SessionStatus Session::mergeCopy(const StoreContents &other, MergeResult *report) {
    if (m_scope != Scope::Strong)
        return SessionStatus::NoKey;
    if (const SessionStatus writable = checkWritable(); writable != SessionStatus::Ok)
        return writable;
    identifyEach();
    MergeResult merged = MergeStores(contents(), other);
    if (merged.differs) {
        std::vector<std::pair<QByteArrayView, RecordMeta>> entries;
        entries.reserve(merged.lines.size());
        for (size_t i = 0; i < merged.lines.size(); ++i)
            entries.emplace_back(merged.lines[i], std::move(merged.meta[i]));
        merged.lines.clear();
        merged.meta.clear();
        if (const SessionStatus written = writeRecords(std::move(entries), &merged.tombstones);
            written != SessionStatus::Ok)
            return written;
    }
    // A "not a concern" mark follows a record whose id gave way to its twin's.
    if (!merged.joined.empty()) {
        HealthMarks marks = HealthMarks::read(m_paths.healthMarks());
        bool carried = false;
        for (const auto &[dropped, kept] : merged.joined)
            if (marks.marked(IdIdentity(dropped)) && !marks.marked(IdIdentity(kept))) {
                marks.setMarked(IdIdentity(kept), true);
                carried = true;
            }
        if (carried)
            marks.write(m_paths.healthMarks()); // else only shown again as a concern
    }
    if (report)
        *report = std::move(merged);
    return SessionStatus::Ok;
}

SessionStatus Session::takeFromCopy(const QList<QByteArray> &added,
                                    const std::vector<std::pair<qsizetype, QByteArray>> &replaced,
                                    const QHash<QByteArray, QByteArray> &codes) {
    if (const SessionStatus writable = checkWritable(); writable != SessionStatus::Ok)
        return writable;
    identifyEach();
    const bool strong = m_scope == Scope::Strong;
    const qint64 now = NowMs();
    std::vector<std::pair<QByteArrayView, RecordMeta>> entries;
    entries.reserve(size_t(m_records.size() + added.size()));
    for (qsizetype i = 0; i < m_records.size(); ++i)
        entries.emplace_back(m_records.line(i), strong ? m_meta[size_t(i)] : RecordMeta());
    for (const auto &[index, line] : replaced) {
        if (index < 0 || index >= m_records.size())
            return SessionStatus::BadIndex;
        if (strong) {
            RecordMeta &meta = entries[size_t(index)].second;
            meta = ChangedMeta(m_meta[size_t(index)], m_records.line(index), now);
            meta.oneTimeCode = codes.value(line, meta.oneTimeCode);
        }
        entries[size_t(index)].first = line;
    }
    QSet<QByteArrayView> present;
    for (const auto &entry : entries)
        present.insert(entry.first);
    for (const QByteArray &line : added)
        if (!present.contains(line)) {
            present.insert(line);
            RecordMeta meta = strong ? NewRecordMeta(now) : RecordMeta();
            if (strong)
                meta.oneTimeCode = codes.value(line);
            entries.emplace_back(line, std::move(meta));
        }
    return writeRecords(std::move(entries));
}
