#pragma once

#include "platform.h"
#include "recordidentity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <span>
#include <vector>

// The strong store: the records under authenticated encryption with a random
// data key, which is itself kept in the file wrapped under a key derived from
// the master password with a memory-hard function. Someone holding a copy of
// the file and no password learns no record. docs/format.md gives the bytes.
namespace Strong {

// How hard the derivation from the password is; stored in the file.
struct KdfParams {
    quint32 passes = 3;
    quint64 memoryBytes = quint64(256) << 20;
};
// What a file may ask for: below, the password is too cheap to guess at;
// above, opening the file could exhaust the machine.
inline constexpr quint32 kMinPasses = 3;
inline constexpr quint32 kMaxPasses = 20;
inline constexpr quint64 kMinMemory = quint64(64) << 20;
inline constexpr quint64 kMaxMemory = quint64(1) << 30;
bool ParamsAllowed(const KdfParams &params);

// The parameters for a new password on this machine: 256 MiB, and as many
// passes (never below 3) as take about half a second here.
KdfParams CalibratedParams();

enum class Status {
    Ok,
    Missing,       // no file
    WrongPassword, // the key could not be unwrapped: a wrong password (before version 3,
                   // also a header changed by accident)
    Damaged,       // a frame failed its check, or frames are missing: damaged or tampered with
    HeaderDamaged, // the header is cut short or fails its checksum
    Refused,       // the file asks for derivation parameters out of range
    OutOfMemory,   // the derivation could not get its memory
    ReadFailed,
    WriteFailed,
    NotAStore,     // not a strong store at all
    NewerVersion,  // a version (or a derivation) newer than this build reads
    NeedsPassword, // a reopen found another salt or other parameters
};

// The keys of an open store, in locked memory that is wiped when they are
// dropped; never copied.
class Keys {
public:
    Keys();
    ~Keys();
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;

    bool valid() const { return m_valid; }
    // Wipes both keys.
    void clear();
    // Trades keys with other, as one store's keys become the next one's.
    void swap(Keys &other) noexcept;

private:
    friend struct Access;
    unsigned char *m_secret = nullptr; // derived key (32) then data key (32)
    bool m_valid = false;
    unsigned char m_salt[16] = {};
    unsigned char m_fileId[16] = {};
    KdfParams m_params;
    quint64 m_frames = 0;  // the frames the file holds, as this process last read or wrote it
    quint16 m_version = 0; // the format of that file
};

// What an open found.
struct Opened {
    // The records, as views into block, the file's bytes deciphered in place.
    QByteArray block;
    std::vector<QByteArrayView> views;
    // From version 4 on: each record's identity, in the order of views, and
    // the marks of removed records. Empty for an older file.
    std::vector<RecordMeta> meta;
    std::vector<Tombstone> tombstones;
    quint16 version = 0;
    QList<QByteArray> records() const {
        QList<QByteArray> out;
        for (const QByteArrayView view : views)
            out.append(view.toByteArray());
        return out;
    }
    // The size of the file that holds whole frames; smaller than the file
    // when its last frame was torn by a crash during an append.
    qint64 wholeSize = 0;
    bool torn = false;
};

// Whether the file begins as a store does: nothing else is read or checked.
bool BeginsAsStore(const QString &path);
// Reads the store, deriving the key from the password: every frame checked.
// On Damaged, records holds what could be read before the damage.
Status Open(const QString &path, QByteArrayView password, Keys &keys, Opened &opened,
            Platform::FileStamp *stamp = nullptr);
// The same, with the key derived at the last open: a reload, or a file that
// changed on disk, is read without deriving again. NeedsPassword when the file
// now asks for another salt or other parameters (a new password elsewhere).
Status Reopen(const QString &path, Keys &keys, Opened &opened,
              Platform::FileStamp *stamp = nullptr);
// Another file (a copy of the store made elsewhere) read with the key derived
// for known, when it asks for the same salt and parameters (NeedsPassword
// when not); known is left as it was.
Status OpenCopy(const QString &path, const Keys &known, Opened &opened);
// A new store of these records under a new random data key.
Status Create(const QString &path, QByteArrayView password, const KdfParams &params,
              const StoreContents &records, Keys &keys, Platform::FileStamp *stamp = nullptr);
// Whether the open file is in an older version, which takes no appends: the
// next record is stored by writing it whole (in the newest version).
bool NeedsWholeWrite(const Keys &keys);
// One more record at the end, with its identity, synced before this returns.
Status Append(const QString &path, Keys &keys, QByteArrayView record, const RecordMeta &meta,
              Platform::FileStamp *stamp = nullptr);
inline Status Append(const QString &path, Keys &keys, QByteArrayView record,
                     Platform::FileStamp *stamp = nullptr) {
    return Append(path, keys, record, NewRecordMeta(), stamp);
}
// The whole store again, under a fresh header, in one step. Records given
// without identities are identified by their content.
Status Rewrite(const QString &path, Keys &keys, const StoreContents &records,
               Platform::FileStamp *stamp = nullptr);
// The version of the file the keys last read or wrote.
quint16 FileVersion(const Keys &keys);
// A new password: the same data key, wrapped under a key from newPassword
// into next, and the frames copied as they are into target (path itself when
// empty). current stays the keys of the file at path.
Status ChangePassword(const QString &path, const Keys &current, QByteArrayView newPassword,
                      const KdfParams &params, Keys &next, const QString &target = {},
                      Platform::FileStamp *stamp = nullptr);
// Whether password is the one these keys were derived from (derived again
// with their salt and parameters, compared in constant time).
bool IsPasswordOf(const Keys &keys, QByteArrayView password);
// Cuts a torn last frame off, durably.
bool CutBack(const QString &path, qint64 wholeSize);

// The password as the store takes it: NFC, then UTF-8.
QByteArray PassphraseBytes(const QString &typed);
// Zeroes bytes that held a secret (where no other copy shares them) and empties them.
void Wipe(QByteArray &secret);

} // namespace Strong
