#pragma once

#include "database.h"
#include "merge.h"
#include "platform.h"
#include "recordlist.h"
#include "reencipher.h"
#include "settings.h"
#include "storepaths.h"
#include "strongstore.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>

#include <functional>
#include <optional>
#include <utility>

// What a record command or a change of settings came to.
enum class SessionStatus {
    Ok,
    Duplicate,     // an identical record is stored already
    NoChange,      // the new line equals a stored record
    BadIndex,      // no record at that index
    ChangedOnDisk, // the files are no longer what this session read or wrote
    Unreadable,    // the store could not be read, so it is never written over
    OtherKey,      // the copy on disk is under another password: its settings are still to come
    Untrusted,     // the records' folder is not this user's alone (see untrusted())
    HeldElsewhere, // Data was swapped for a folder another running copy holds
    Damaged,       // the strong store failed a check: nothing is written to it
    WriteFailed,
    NoKey,
    UnsafeRecord,
    NothingToImport,   // the old database is missing or unreadable
    ConfigWriteFailed, // only from applySettings; nothing changed
};

// How opening a program folder's records ended (Session::open).
enum class OpenStatus {
    Opened,             // the settings are read and the records loaded (see loaded())
    HeldElsewhere,      // another running copy holds the folder
    Untrusted,          // the folder is not this user's alone (see Session::untrusted())
    SettingsUnreadable, // the settings file is there but can not be read
    NotGiven,           // the master password was not given
};

// What a change did to the records, for whoever shows them: one record in or
// out (a replace is one out, then one in), or anything (read again).
struct RecordsChange {
    enum class Kind { Reset, Inserted, Removed, Replaced };
    Kind kind = Kind::Reset;
    qsizetype removed = -1;  // Removed, Replaced: the index the old record had
    qsizetype inserted = -1; // Inserted, Replaced: the index the new one has
};

// The one owner of the records of a program folder while the program runs: it
// holds the folder against a second running copy, knows the scope and the key
// the files are written under, keeps the records as they were read, and
// writes nothing over files that changed since it last read or wrote them.
class Session {
public:
    explicit Session(StorePaths paths);

    const StorePaths &paths() const { return m_paths; }

    // Creates Data when it is missing and holds it for this process, once it
    // is found to be this user's alone.
    Platform::FolderLock::Result lock();
    bool locked() const { return m_lock.held(); }
    // What made the folder untrusted at the last look.
    const Platform::Untrusted &untrusted() const { return m_untrusted; }
    // Looks at the folder again: still ours alone, and still the one held. A
    // folder swapped in since is held instead when no other copy holds it.
    SessionStatus checkFolder();

    // Asks the user for the master password and unlocks the session with it
    // (unlock()), as many times as its rules allow; true once it opened.
    using PasswordAsker = std::function<bool(Session &)>;
    // The one way the window, the command line and the tools open a program
    // folder's records: hold the folder, settle what an interrupted change
    // left, read the settings, ask for the password where they need one, and
    // load the records. Steps prepare() took already are not taken again, and
    // records it read are not read again while the file is as it was. A
    // folder that could not be held (for want of a lock file) is used all the
    // same: its first write says so.
    OpenStatus open(const PasswordAsker &ask);
    // Opens the records only to read them, as the command line's reading
    // commands do, even while a window holds the folder: nothing is created,
    // settled or cut back, and every write is refused (HeldElsewhere).
    OpenStatus openToRead(const PasswordAsker &ask);
    bool readOnly() const { return m_readOnly; }
    // The steps that need nobody at the keyboard, ahead of open() (the window
    // takes them while its title shows): the hold, the recovery, the
    // settings, and the records where no password guards them (or their
    // bytes read ahead, where one does).
    void prepare();
    // What the last load of the records found.
    StoreStatus loaded() const { return m_loaded; }

    // The steps of the start, one at a time: settle what an interrupted
    // change left, read the settings, load the records.
    void recover();
    // Part of the recovery, and again whenever the records on disk are under
    // another password: settings a sync tool set aside that open them take
    // force (TakeSettingsThatOpenTheRecords). tookSettingsFromCopy() says
    // whether they did since it was last asked.
    void takeSettingsThatOpenTheRecords();
    bool tookSettingsFromCopy() { return std::exchange(m_settingsTakenFromCopy, false); }
    // The enciphered copy on disk is under another password than the one in
    // force: most likely the one before another computer changed it, under
    // which records were stored there meanwhile. Given that one, the records
    // are written again under the one in force (and then loaded); OtherKey
    // when they are not under it either. Nothing is written unless every
    // record can be stored under the password in force.
    SessionStatus takeRecordsUnder(const QByteArray &password);
    SettingsStatus readSettings();
    StoreStatus loadRecords();
    // Reads the store's bytes ahead of loadRecords (while the splash shows),
    // which then deciphers them instead of reading the file, if the file is
    // still as it was. The strong store is read by the unlock instead.
    void prefetchStore();

    bool settingsUnreadable() const { return m_settingsUnreadable; }
    // What the last read of the settings file found.
    SettingsStatus settingsRead() const { return m_settingsRead; }
    // The settings as read or last accepted.
    Scope scope() const { return m_scope; }
    const ParsedSettings &settings() const { return m_settings; }
    // Whether the store was read whole at the last load (a missing strong
    // store, one under another password or a damaged one is not).
    bool readable() const { return m_readable; }
    // The master password where the settings keep one (empty under None).
    const QByteArray &key() const { return m_key; }
    // A prompt is due: a scope with a password that is not the "no password" mark.
    bool needsPassword() const;
    // Whether typed is the master password. Under Strong that is whether it
    // opens the strong store, whose records it then loads; nothing else about
    // the password is kept anywhere. Unopenable when the strong store can not
    // be opened by any password (strongStatus() says why).
    enum class Unlock { Opened, WrongPassword, Unopenable };
    Unlock unlock(const QString &typed);
    // What the last open of the strong store found (Ok under the other protections).
    Strong::Status strongStatus() const { return m_strongStatus; }
    // The window locked: the records, the master password and the strong
    // store's keys leave memory (zeroed) until the next unlock, which reads
    // the settings again; the records are read again by the load after it.
    void forgetRecords();
    // Whether the master password in force was given here, at a prompt or in
    // the settings window: a reload asks again only when it was not.
    bool passwordConfirmed() const { return m_passwordConfirmed; }
    // The keys of the strong store, while it is open.
    Strong::Keys &strongKeys() { return m_strong; }

    const RecordList &records() const { return m_records; }
    // Called right after the records change (a load, a command, a reload),
    // before anything else runs: whoever shows them never sees a stale list.
    // Every listener added is called, in the order they were added.
    void onRecordsChanged(std::function<void(const RecordsChange &)> listener) {
        m_recordsChanged.push_back(std::move(listener));
    }

    // The store or the configuration file is no longer what was read or written.
    bool changedOnDisk() const;
    bool settingsChangedOnDisk() const;

    // The record commands: the disk first, then the list.
    // add() stores the record with a one-time code where one is given.
    SessionStatus add(const QByteArray &line, qsizetype *index = nullptr,
                      const QByteArray &oneTimeCode = {});
    SessionStatus replace(qsizetype index, const QByteArray &line, qsizetype *newIndex = nullptr);
    SessionStatus remove(qsizetype index);
    // Adds every record of the old database file.
    SessionStatus importOldDatabase();
    // Adds records in one write of the whole store: all of them or none;
    // codes, where given, are the one-time codes of the records at the same
    // places (empty: none).
    SessionStatus importRecords(const QList<QByteArray> &lines,
                                const QList<QByteArray> &codes = {});
    // Whether a record line reads back whole from the store it would go to.
    bool storable(QByteArrayView line) const;

    // The one-time-code secret of the record at index, as an otpauth:// URI
    // (empty: none). The strong protection keeps it with the record; the
    // others, whose records are five fields only, in its Other Info.
    QByteArray oneTimeCode(qsizetype index) const;
    // Gives the record its code (an empty uri takes it away), durably;
    // newIndex is where the record is then (its Other Info may move it).
    SessionStatus setOneTimeCode(qsizetype index, const QByteArray &uri,
                                 qsizetype *newIndex = nullptr);

    // What identifies the record at index across starts, for marks kept
    // beside the store: its id where the store keeps one, otherwise its
    // service and user name.
    QByteArray recordIdentity(qsizetype index) const;
    // The day the record's password was set, where the store knows it (the
    // strong protection): the oldest of its unbroken run of versions with
    // that password. Invalid where not known.
    QDate passwordSince(qsizetype index) const;

    // Under the strong protection: the earlier versions of the record at
    // index, newest first; none under the others, which keep no versions.
    std::vector<EarlierVersion> earlierVersions(qsizetype index) const;
    // The records with their identities and the marks of removed ones, as a
    // merge takes them (identities empty: identified by their content).
    StoreContents contents() const { return {m_records.lines(), m_meta, m_tombstones}; }
    // Merges another copy of the strong store into this one and writes the
    // outcome whole, durably, when it differs; what changed goes to report.
    SessionStatus mergeCopy(const StoreContents &other, MergeResult *report = nullptr);
    // What the user chose from a copy without ids, in one write: records to
    // add, and stored records (by index) to give the copy's version; under
    // the strong store, codes gives the one-time code of such a line.
    SessionStatus takeFromCopy(const QList<QByteArray> &added,
                               const std::vector<std::pair<qsizetype, QByteArray>> &replaced,
                               const QHash<QByteArray, QByteArray> &codes = {});

    // Stores new settings and moves or re-keys the records to match; under
    // Strong, the new store's key is derived from passphrase with params.
    SessionStatus applySettings(const QByteArray &settingsLine, const QByteArray &passphrase = {},
                                const Strong::KdfParams &params = {});
    // The strong store under passphrase from now on (one a copy from another
    // computer was under), its other settings as they are.
    SessionStatus takePassphrase(const QByteArray &passphrase);

private:
    SessionStatus checkWritable();
    SessionStatus storeStatus(StoreStatus status) const;
    SessionStatus rewrite(RecordList changed, const RecordsChange &change = {},
                          std::vector<RecordMeta> *meta = nullptr,
                          std::vector<Tombstone> *tombstones = nullptr);
    // The identities for changed, a list made from this one: those of the
    // records it keeps, new ones for the rest.
    std::vector<RecordMeta> identitiesFor(const RecordList &changed);
    // Writes these records (their identities beside them) whole, in list order.
    SessionStatus writeRecords(std::vector<std::pair<QByteArrayView, RecordMeta>> entries,
                               std::vector<Tombstone> *tombstones = nullptr);
    void identifyEach();
    void stampStore();
    void takeSettings(const ParsedSettings &settings);
    void recordsChanged(const RecordsChange &change = {}) const;

    StorePaths m_paths;
    Platform::FolderLock m_lock;
    ParsedSettings m_settings;
    Scope m_scope = Scope::None;
    QByteArray m_key;
    RecordList m_records;
    // The list a command builds its result in: the memory of the list before
    // the last command, kept for the next.
    RecordList m_spare;
    RecordList changeable();
    bool m_readable = true;
    bool m_otherKey = false;
    bool m_settingsUnreadable = false;
    bool m_forgotten = false;
    bool m_readOnly = false;
    bool m_recovered = false;
    bool m_settingsTakenFromCopy = false;
    SettingsStatus m_settingsRead = SettingsStatus::Missing;
    StoreStatus m_loaded = StoreStatus::Missing;
    // The records were read by prepare() under this protection.
    std::optional<Scope> m_loadedEarly;
    bool m_passwordConfirmed = false;
    Platform::Untrusted m_untrusted;
    Strong::Keys m_strong;
    Strong::Status m_strongStatus = Strong::Status::Ok;
    // What the last unlock read, until the load that follows it takes it.
    std::optional<StoreStatus> m_unlocked;
    StoreStatus loadStrong(const QByteArray *passphrase);
    // The scope's store: one record appended, or all written again.
    StoreStatus appendLine(QByteArrayView line, const RecordMeta &meta, Platform::FileStamp *stamp);
    StoreStatus writeAll(const StoreContents &contents, Platform::FileStamp *stamp);
    // Under the strong protection: each record's identity, in list order, or
    // none while every record is identified by its content (a store of an
    // older version, until its first change); and the marks of removed ones.
    std::vector<RecordMeta> m_meta;
    std::vector<Tombstone> m_tombstones;
    struct Prefetched {
        Scope scope;
        QByteArray bytes;
        Platform::FileStamp stamp;
    };
    std::optional<Prefetched> m_prefetched;
    Platform::FileStamp m_configStamp;
    Platform::FileStamp m_storeStamp;
    std::vector<std::function<void(const RecordsChange &)>> m_recordsChanged;
};
