#include "strongstore.h"

#include "parallel.h"
#include "recordidentity.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <sodium.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

namespace Strong {

namespace {

// The layout, byte by byte, is docs/format.md's.
constexpr char kMagic[8] = {'V', 'L', 'S', 'T', 'R', 'O', 'N', 'G'};
// Version 4 gives each record an id, its times and its earlier versions, and
// keeps a mark for each removed record, so copies of a store can be merged.
// Version 3 checks its header and every frame's length on their own, so a
// crash's torn append is told from damage by the bytes. Version 2 frames hold
// one record or more; a version 1 frame, which holds exactly one, reads the
// same way. All still open, and a whole write turns them into version 5.
constexpr quint16 kVersion = 5;
// Version 5 keeps a record's one-time-code secret in its entry.
constexpr quint16 kOneTimeCodeVersion = 5;
constexpr quint16 kCheckedVersion = 3;
constexpr quint16 kIdentityVersion = 4;
constexpr quint16 kOldestVersion = 1;
constexpr quint8 kArgon2id13 = 2;
constexpr qsizetype kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr qsizetype kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr qsizetype kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr qsizetype kSaltBytes = 16;
constexpr qsizetype kIdBytes = 16;
constexpr qsizetype kChecksumBytes = 16;
// magic 8, version 2, kdf 1, reserved 1, passes 4, memory 8, salt 16, file id
// 16, record count 8: what the wrapped key's check covers.
constexpr qsizetype kCoveredBytes = 64;
constexpr qsizetype kUncheckedHeader = kCoveredBytes + kNonceBytes + kKeyBytes + kTagBytes;
constexpr qsizetype kPadStep = 64;
constexpr quint32 kMaxFrame = quint32(512) << 20;
// A whole write groups records into frames of about this much plaintext: one
// cipher set-up per frame instead of per record is what lets a rewrite keep
// pace with the disk.
constexpr qsizetype kGroupBytes = 64 * 1024;
// Frames made between two writes of a rewrite, and the least plaintext worth
// spreading over the cores.
constexpr qsizetype kBatchBytes = 2 << 20;
constexpr qsizetype kParallelBytes = 256 * 1024;

// The header, then its checksum from version 3 on.
constexpr qsizetype HeaderSize(quint16 version) {
    return kUncheckedHeader + (version >= kCheckedVersion ? kChecksumBytes : 0);
}
// A frame's length, its check from version 3 on, then its nonce.
constexpr qsizetype FrameHeadSize(quint16 version) {
    return 4 + (version >= kCheckedVersion ? 4 : 0) + kNonceBytes;
}
constexpr qsizetype kFrameHead = FrameHeadSize(kVersion);

static_assert(kSaltBytes == crypto_pwhash_argon2id_SALTBYTES);
static_assert(HeaderSize(1) == 136 && HeaderSize(kVersion) == 152);

// A version 4 entry: a record (kind, id, created, changed, the count of
// earlier versions, each as its time, length and bytes, then the line) or
// the mark of a removed record (kind, id, removal time).
constexpr char kRecordEntry = 'R';
constexpr char kTombstoneEntry = 'T';
constexpr qsizetype kRecordEntryHead = 1 + 16 + 8 + 8 + 1;
constexpr qsizetype kEarlierHead = 8 + 4;
// From version 5, before the line: the one-time code's length (2) and its URI.
constexpr qsizetype kCodeHead = 2;
constexpr qsizetype kLongestCode = 0xFFFF;
constexpr qsizetype kTombstoneEntrySize = 1 + 16 + 8;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const unsigned char *bytes(const char *p) {
    return reinterpret_cast<const unsigned char *>(p);
}

template <typename T> void appendLe(QByteArray &out, T value) {
    char le[sizeof(T)];
    qToLittleEndian(value, le);
    out.append(le, sizeof le);
}

// What a version 3 header ends with: BLAKE2b of everything before it.
std::array<unsigned char, kChecksumBytes> headerChecksum(const char *header) {
    std::array<unsigned char, kChecksumBytes> sum{};
    crypto_generichash(sum.data(), sum.size(), bytes(header), kUncheckedHeader, nullptr, 0);
    return sum;
}

} // namespace

// The keys' inner parts, for this file alone.
struct Access {
    static unsigned char *derived(Keys &k) { return k.m_secret; }
    static const unsigned char *derived(const Keys &k) { return k.m_secret; }
    static unsigned char *data(Keys &k) { return k.m_secret + kKeyBytes; }
    static const unsigned char *data(const Keys &k) { return k.m_secret + kKeyBytes; }
    static unsigned char *salt(Keys &k) { return k.m_salt; }
    static const unsigned char *salt(const Keys &k) { return k.m_salt; }
    static const KdfParams &params(const Keys &k) { return k.m_params; }
    static unsigned char *fileId(Keys &k) { return k.m_fileId; }
    static const unsigned char *fileId(const Keys &k) { return k.m_fileId; }
    static KdfParams &params(Keys &k) { return k.m_params; }
    static quint64 &frames(Keys &k) { return k.m_frames; }
    static quint16 &version(Keys &k) { return k.m_version; }
    static quint16 version(const Keys &k) { return k.m_version; }
    static quint64 frames(const Keys &k) { return k.m_frames; }
    static void setValid(Keys &k, bool valid) { k.m_valid = valid; }
};

Keys::Keys() {
    if (sodiumReady())
        m_secret = static_cast<unsigned char *>(sodium_malloc(2 * kKeyBytes));
}

Keys::~Keys() {
    clear();
    if (m_secret)
        sodium_free(m_secret); // wipes and unlocks it too
}

void Keys::swap(Keys &other) noexcept {
    std::swap(m_secret, other.m_secret);
    std::swap(m_valid, other.m_valid);
    std::swap(m_salt, other.m_salt);
    std::swap(m_fileId, other.m_fileId);
    std::swap(m_params, other.m_params);
    std::swap(m_frames, other.m_frames);
    std::swap(m_version, other.m_version);
}

void Keys::clear() {
    if (m_secret)
        sodium_memzero(m_secret, 2 * kKeyBytes);
    m_valid = false;
    m_frames = 0;
}

bool ParamsAllowed(const KdfParams &params) {
    return params.passes >= kMinPasses && params.passes <= kMaxPasses &&
           params.memoryBytes >= kMinMemory && params.memoryBytes <= kMaxMemory;
}

void Wipe(QByteArray &secret) {
    if (secret.isDetached() && !secret.isEmpty())
        sodium_memzero(secret.data(), size_t(secret.size()));
    secret.clear();
}

QByteArray PassphraseBytes(const QString &typed) {
    QString normal = typed.normalized(QString::NormalizationForm_C);
    QByteArray bytes = normal.toUtf8();
    // A normal form of its own is one more copy of the passphrase.
    if (normal.constData() != typed.constData() && normal.isDetached())
        normal.fill(QChar());
    return bytes;
}

namespace {

// The key from the password, into the keys' locked memory. Parameters out of
// range are refused before any memory is asked for.
Status derive(Keys &keys, QByteArrayView password, const KdfParams &params) {
    if (!ParamsAllowed(params))
        return Status::Refused;
    if (!sodiumReady() || !Access::derived(keys))
        return Status::OutOfMemory;
    if (crypto_pwhash(Access::derived(keys), kKeyBytes, password.data(),
                      static_cast<unsigned long long>(password.size()), Access::salt(keys),
                      params.passes, size_t(params.memoryBytes), crypto_pwhash_ALG_ARGON2ID13) != 0)
        return Status::OutOfMemory;
    Access::params(keys) = params;
    return Status::Ok;
}

// The header for these keys and count in the keys' version, its data key
// wrapped under a fresh nonce.
QByteArray header(Keys &keys, quint64 count) {
    const quint16 version = Access::version(keys);
    QByteArray out;
    out.reserve(HeaderSize(version));
    out.append(kMagic, sizeof kMagic);
    appendLe<quint16>(out, version);
    appendLe<quint8>(out, kArgon2id13);
    appendLe<quint8>(out, 0);
    appendLe<quint32>(out, Access::params(keys).passes);
    appendLe<quint64>(out, Access::params(keys).memoryBytes);
    out.append(reinterpret_cast<const char *>(Access::salt(keys)), kSaltBytes);
    out.append(reinterpret_cast<const char *>(Access::fileId(keys)), kIdBytes);
    appendLe<quint64>(out, count);
    unsigned char nonce[kNonceBytes];
    randombytes_buf(nonce, sizeof nonce);
    out.append(reinterpret_cast<const char *>(nonce), kNonceBytes);
    const qsizetype at = out.size();
    out.resize(kUncheckedHeader);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        reinterpret_cast<unsigned char *>(out.data() + at), &written, Access::data(keys), kKeyBytes,
        bytes(out.constData()), kCoveredBytes, nullptr, nonce, Access::derived(keys));
    if (version >= kCheckedVersion) {
        const auto sum = headerChecksum(out.constData());
        out.append(reinterpret_cast<const char *>(sum.data()), kChecksumBytes);
    }
    return out;
}

// What binds a frame to its file and its place.
constexpr qsizetype kAdBytes = kIdBytes + 8;
void frameAd(const Keys &keys, quint64 index, unsigned char *ad) {
    std::memcpy(ad, Access::fileId(keys), kIdBytes);
    qToLittleEndian(index, ad + kIdBytes);
}

// The check beside a frame's length: the first four bytes of BLAKE2b over
// the file id, the frame's index and the length, so a changed length, or a
// frame from another place, never reads as an append cut short.
quint32 lengthCheck(const Keys &keys, quint64 index, quint32 length) {
    unsigned char in[kAdBytes + 4];
    frameAd(keys, index, in);
    qToLittleEndian(length, in + kAdBytes);
    unsigned char sum[crypto_generichash_BYTES_MIN];
    crypto_generichash(sum, sizeof sum, in, sizeof in, nullptr, 0);
    return qFromLittleEndian<quint32>(sum);
}

// A one-time code's length and bytes at dst; where they end.
char *writeCode(char *dst, const QByteArray &code) {
    const qsizetype length = std::min(code.size(), kLongestCode);
    qToLittleEndian(quint16(length), dst);
    std::memcpy(dst + kCodeHead, code.constData(), size_t(length));
    return dst + kCodeHead + length;
}

// From version 5: a one-time code's length and bytes at used, into code;
// false when they run past the entry.
bool readCode(const char *at, qsizetype size, qsizetype &used, QByteArray &code) {
    if (size - used < kCodeHead)
        return false;
    const qsizetype length = qFromLittleEndian<quint16>(at + used);
    if (length > size - used - kCodeHead)
        return false;
    code = QByteArray(at + used + kCodeHead, length);
    used += kCodeHead + length;
    return true;
}

// What a write puts in frames, one entry after another: the records, each
// with its identity, then the marks of removed records. A record without
// identity of its own is given the one its content makes.
struct Entries {
    StoreContents contents;

    size_t count() const { return contents.lines.size() + contents.tombstones.size(); }
    qsizetype size(size_t i) const {
        if (i >= contents.lines.size())
            return kTombstoneEntrySize;
        qsizetype size = kRecordEntryHead + kCodeHead + contents.lines[i].size();
        if (!contents.meta.empty()) {
            for (const EarlierVersion &version : contents.meta[i].earlier)
                size += kEarlierHead + version.line.size() + kCodeHead +
                        std::min(version.oneTimeCode.size(), kLongestCode);
            size += std::min(contents.meta[i].oneTimeCode.size(), kLongestCode);
        }
        return size;
    }
    void write(size_t i, char *dst) const {
        if (i >= contents.lines.size()) {
            const Tombstone &mark = contents.tombstones[i - contents.lines.size()];
            dst[0] = kTombstoneEntry;
            std::memcpy(dst + 1, mark.id.bytes.data(), 16);
            qToLittleEndian<qint64>(mark.removed, dst + 17);
            return;
        }
        const QByteArrayView line = contents.lines[i];
        const RecordMeta meta = contents.meta.empty() ? ContentMeta(line) : RecordMeta();
        const RecordMeta &own = contents.meta.empty() ? meta : contents.meta[i];
        const size_t earlier = std::min(own.earlier.size(), kEarlierVersionsKept);
        dst[0] = kRecordEntry;
        std::memcpy(dst + 1, own.id.bytes.data(), 16);
        qToLittleEndian<qint64>(own.created, dst + 17);
        qToLittleEndian<qint64>(own.changed, dst + 25);
        dst[33] = char(earlier);
        char *at = dst + kRecordEntryHead;
        for (size_t v = 0; v < earlier; ++v) {
            const EarlierVersion &version = own.earlier[v];
            qToLittleEndian<qint64>(version.changed, at);
            qToLittleEndian(quint32(version.line.size()), at + 8);
            std::memcpy(at + kEarlierHead, version.line.constData(), size_t(version.line.size()));
            at = writeCode(at + kEarlierHead + version.line.size(), version.oneTimeCode);
        }
        at = writeCode(at, own.oneTimeCode);
        std::memcpy(at, line.data(), size_t(line.size()));
    }
};

// A frame's plaintext: each entry after its length, then zeros to a
// 64-byte step.
qsizetype paddedSize(const Entries &entries, size_t from, size_t to) {
    qsizetype plain = 0;
    for (size_t i = from; i < to; ++i)
        plain += 4 + entries.size(i);
    return (plain + kPadStep - 1) / kPadStep * kPadStep;
}

// The entries [from, to) as a frame at dst, in the newest version: length,
// its check, nonce, then the entries enciphered in place and tagged.
void writeFrame(char *dst, const Keys &keys, quint64 index, const Entries &entries, size_t from,
                size_t to, const unsigned char *nonce) {
    const qsizetype padded = paddedSize(entries, from, to);
    const auto length = quint32(padded + kTagBytes);
    qToLittleEndian(length, dst);
    qToLittleEndian(lengthCheck(keys, index, length), dst + 4);
    std::memcpy(dst + 8, nonce, kNonceBytes);
    auto *plain = reinterpret_cast<unsigned char *>(dst + kFrameHead);
    qsizetype at = 0;
    for (size_t i = from; i < to; ++i) {
        const qsizetype size = entries.size(i);
        qToLittleEndian(quint32(size), plain + at);
        entries.write(i, reinterpret_cast<char *>(plain + at + 4));
        at += 4 + size;
    }
    std::memset(plain + at, 0, size_t(padded - at));
    unsigned char ad[kAdBytes];
    frameAd(keys, index, ad);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(plain, &written, plain,
                                               static_cast<unsigned long long>(padded), ad,
                                               sizeof ad, nullptr, nonce, Access::data(keys));
}

// Runs work(begin, end) over [0, count) in a few slices at once when there is
// enough of it: each frame is enciphered on its own, so a large store uses
// every core.
template <typename Work> void inSlices(size_t count, bool parallel, const Work &work) {
    Parallel::InSlices(count, parallel ? Parallel::Cores(4) : 1, work);
}

// Where each frame's entries begin, then the end: entries in groups of up to
// kGroupBytes of plaintext, a larger one in a frame of its own.
std::vector<size_t> frameBounds(const Entries &entries) {
    std::vector<size_t> bounds;
    qsizetype filled = 0;
    for (size_t i = 0; i < entries.count(); ++i) {
        const qsizetype need = 4 + entries.size(i);
        if (bounds.empty() || filled + need > kGroupBytes) {
            bounds.push_back(i);
            filled = 0;
        }
        filled += need;
    }
    bounds.push_back(entries.count());
    return bounds;
}

// The frames [first, last) of bounds laid out at the end of out (grown in one
// allocation), their nonces drawn from the system in one go, ready to be
// filled a slice at a time from any thread.
struct FrameRun {
    size_t first = 0, count = 0;
    QByteArray nonces;
    std::vector<qsizetype> offsets;
};

FrameRun layOutFrames(QByteArray &out, const Entries &records, const std::vector<size_t> &bounds,
                      size_t first, size_t last) {
    FrameRun run{first, last - first,
                 QByteArray(qsizetype(last - first) * kNonceBytes, Qt::Uninitialized),
                 std::vector<qsizetype>(last - first)};
    randombytes_buf(run.nonces.data(), size_t(run.nonces.size()));
    qsizetype at = out.size();
    for (size_t f = 0; f < run.count; ++f) {
        run.offsets[f] = at;
        const size_t from = bounds[first + f], to = bounds[first + f + 1];
        at += kFrameHead + paddedSize(records, from, to) + kTagBytes;
    }
    out.resize(at);
    return run;
}

// Frames [begin, end) of the run, enciphered into data (the laid-out buffer).
void fillFrames(char *data, const FrameRun &run, const Keys &keys, const Entries &records,
                const std::vector<size_t> &bounds, size_t begin, size_t end) {
    for (size_t f = begin; f < end; ++f) {
        const size_t from = bounds[run.first + f], to = bounds[run.first + f + 1];
        writeFrame(data + run.offsets[f], keys, run.first + f, records, from, to,
                   bytes(run.nonces.constData() + qsizetype(f) * kNonceBytes));
    }
}

// The frames [first, last) of bounds, appended to out, made on every core when
// there are enough of them.
void appendFrames(QByteArray &out, const Keys &keys, const Entries &records,
                  const std::vector<size_t> &bounds, size_t first, size_t last) {
    const qsizetype start = out.size();
    const FrameRun run = layOutFrames(out, records, bounds, first, last);
    char *const data = out.data();
    inSlices(run.count, out.size() - start >= kParallelBytes, [&](size_t begin, size_t end) {
        fillFrames(data, run, keys, records, bounds, begin, end);
    });
}

QByteArray wholeStore(Keys &keys, const Entries &records, quint64 &frames) {
    const std::vector<size_t> bounds = frameBounds(records);
    frames = bounds.size() - 1;
    QByteArray out = header(keys, frames);
    appendFrames(out, keys, records, bounds, 0, frames);
    return out;
}

// The whole store handed to write a piece at a time: the header, then a few
// megabytes of frames at a time, so a large store is never held twice in
// memory. While this thread writes the last frames, helpers (one fewer than
// the cores) make most of the next ones, and this thread makes the rest once
// its write is done: a helper more than that would only take turns with them.
bool streamStore(Keys &keys, const Entries &records, quint64 &frames,
                 const Platform::ChunkWriter &write) {
    const std::vector<size_t> bounds = frameBounds(records);
    frames = bounds.size() - 1;
    if (!write(header(keys, frames)))
        return false;
    const size_t perBatch = size_t(kBatchBytes / kGroupBytes);
    const size_t batches = (size_t(frames) + perBatch - 1) / perBatch;
    const auto batchEnd = [&](size_t batch) {
        return std::min<size_t>(size_t(frames), (batch + 1) * perBatch);
    };
    QByteArray ready, next;
    if (batches > 0)
        appendFrames(ready, keys, records, bounds, 0, batchEnd(0));
    bool written = true;
    for (size_t batch = 0; batch < batches && written; ++batch) {
        if (batch + 1 == batches) {
            written = write(ready);
            break;
        }
        next.resize(0);
        const FrameRun run =
            layOutFrames(next, records, bounds, batch * perBatch + perBatch, batchEnd(batch + 1));
        char *const data = next.data();
        // The writer's share is half a helper's: the write is the rest of its work.
        const size_t helpers = std::max<size_t>(Parallel::Cores(4), 2) - 1;
        const size_t helped = run.count * 2 * helpers / (2 * helpers + 1);
        Parallel::Helpers team;
        for (size_t h = 0; h < helpers; ++h)
            team.start([&, h] {
                fillFrames(data, run, keys, records, bounds, helped * h / helpers,
                           helped * (h + 1) / helpers);
            });
        written = write(ready);
        if (written)
            fillFrames(data, run, keys, records, bounds, helped, run.count);
        team.join();
        std::swap(ready, next);
    }
    sodium_memzero(ready.data(), size_t(ready.size()));
    sodium_memzero(next.data(), size_t(next.size()));
    return written;
}

} // namespace

namespace {

// The header's fields, as read from a file.
struct Header {
    quint16 version = 0;
    KdfParams params;
    std::array<unsigned char, kSaltBytes> salt{};
    std::array<unsigned char, kIdBytes> fileId{};
    quint64 count = 0;
    qsizetype size = 0; // where the frames begin
};

// A header whose checksum proves it was written in a checked version other
// than the one its version field now says: the field was damaged.
bool versionDamaged(const QByteArray &file, quint16 field) {
    if (file.size() < HeaderSize(kVersion))
        return false;
    QByteArray asWritten = file.left(kUncheckedHeader);
    for (quint16 version = kCheckedVersion; version <= kVersion; ++version) {
        if (version == field)
            continue;
        qToLittleEndian(version, asWritten.data() + 8);
        if (std::memcmp(headerChecksum(asWritten.constData()).data(),
                        file.constData() + kUncheckedHeader, kChecksumBytes) == 0)
            return true;
    }
    return false;
}

} // namespace

bool BeginsAsStore(const QString &path) {
    QFile file(path);
    char start[sizeof kMagic];
    return file.open(QIODevice::ReadOnly) && file.read(start, sizeof start) == sizeof start &&
           std::memcmp(start, kMagic, sizeof kMagic) == 0;
}

namespace {

// Step 1: is it a store, of a version and parameters this build reads, with
// a whole header? Nothing is derived or asked for before this holds.
Status readHeader(const QByteArray &file, Header &header) {
    if (file.size() < qsizetype(sizeof kMagic) ||
        std::memcmp(file.constData(), kMagic, sizeof kMagic) != 0)
        return Status::NotAStore;
    if (file.size() < 10)
        return Status::HeaderDamaged;
    header.version = qFromLittleEndian<quint16>(file.constData() + 8);
    if (versionDamaged(file, header.version))
        return Status::HeaderDamaged;
    if (header.version > kVersion)
        return Status::NewerVersion;
    if (header.version < kOldestVersion)
        return Status::HeaderDamaged;
    header.size = HeaderSize(header.version);
    if (file.size() < header.size)
        return Status::HeaderDamaged;
    // Only the newest version can tell damage from a wrong password: its
    // header carries a checksum of its own.
    if (header.version >= kCheckedVersion &&
        std::memcmp(headerChecksum(file.constData()).data(), file.constData() + kUncheckedHeader,
                    kChecksumBytes) != 0)
        return Status::HeaderDamaged;
    // Read from a copy of its own: the fields are then plainly within bounds.
    std::array<char, kUncheckedHeader> head;
    std::copy_n(file.cbegin(), head.size(), head.begin());
    if (quint8(head[10]) != kArgon2id13)
        return header.version >= kCheckedVersion ? Status::NewerVersion : Status::NotAStore;
    header.params = {qFromLittleEndian<quint32>(head.data() + 12),
                     qFromLittleEndian<quint64>(head.data() + 16)};
    if (!ParamsAllowed(header.params))
        return Status::Refused;
    std::memcpy(header.salt.data(), head.data() + 24, kSaltBytes);
    std::memcpy(header.fileId.data(), head.data() + 40, kIdBytes);
    header.count = qFromLittleEndian<quint64>(head.data() + 56);
    return Status::Ok;
}

// Step 2: the derived key, from the password or as the keys hold it when
// the file still asks for the same salt and parameters.
Status deriveFor(const Header &header, const QByteArrayView *password, Keys &keys) {
    if (password) {
        keys.clear();
        std::memcpy(Access::salt(keys), header.salt.data(), kSaltBytes);
        return derive(keys, *password, header.params);
    }
    if (!keys.valid() || std::memcmp(Access::salt(keys), header.salt.data(), kSaltBytes) != 0 ||
        Access::params(keys).passes != header.params.passes ||
        Access::params(keys).memoryBytes != header.params.memoryBytes)
        return Status::NeedsPassword;
    return Status::Ok;
}

// Step 3: the data key unwrapped; a failure is a wrong password (or, before
// the checked header, a header changed by accident).
Status unwrapKey(const QByteArray &file, const Header &header, Keys &keys) {
    unsigned char dataKey[kKeyBytes];
    unsigned long long unwrapped = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            dataKey, &unwrapped, nullptr, bytes(file.constData() + kCoveredBytes + kNonceBytes),
            kKeyBytes + kTagBytes, bytes(file.constData()), kCoveredBytes,
            bytes(file.constData() + kCoveredBytes), Access::derived(keys)) != 0)
        return Status::WrongPassword;
    std::memcpy(Access::data(keys), dataKey, kKeyBytes);
    sodium_memzero(dataKey, sizeof dataKey);
    std::memcpy(Access::fileId(keys), header.fileId.data(), kIdBytes);
    Access::version(keys) = header.version;
    Access::setValid(keys, true);
    return Status::Ok;
}

bool allZero(const char *from, qsizetype size) {
    return std::all_of(from, from + size, [](char c) { return c == 0; });
}

// Step 4: where each frame begins, from the lengths. Only a frame appended
// since the last whole write, whose checked length runs past the end (or
// whose head never reached the disk), is taken for a crash during an
// append: anything else that does not fit is damage.
struct Scan {
    std::vector<qsizetype> frames;
    qsizetype wholeSize = 0;
    bool torn = false;
    Status status = Status::Ok;
};

Scan scanFrames(const QByteArray &file, const Header &header, const Keys &keys) {
    Scan scan;
    const bool checked = header.version >= kCheckedVersion;
    const qsizetype head = FrameHeadSize(header.version);
    qsizetype at = header.size;
    while (at < file.size()) {
        const qsizetype left = file.size() - at;
        const quint64 index = scan.frames.size();
        const bool appended = index >= header.count;
        // A torn append: the head not yet whole, or the space it took on the
        // disk before its bytes did.
        if (checked && appended && (left < 8 || allZero(file.constData() + at, left))) {
            scan.torn = true;
            break;
        }
        if (left < 8) {
            scan.status = Status::Damaged;
            break;
        }
        const char *const frameHead = file.constData() + at;
        const quint32 length = qFromLittleEndian<quint32>(frameHead);
        if (checked &&
            qFromLittleEndian<quint32>(frameHead + 4) != lengthCheck(keys, index, length)) {
            scan.status = Status::Damaged;
            break;
        }
        if (length < kPadStep + kTagBytes || length > kMaxFrame ||
            (length - kTagBytes) % kPadStep != 0) {
            scan.status = Status::Damaged;
            break;
        }
        if (qsizetype(length) > left - head) {
            // Before the checked length a cut can not be told from damage,
            // so an older file is never cut on a guess.
            if (checked && appended)
                scan.torn = true;
            else
                scan.status = Status::Damaged;
            break;
        }
        scan.frames.push_back(at);
        at += head + qsizetype(length);
    }
    scan.wholeSize = at;
    return scan;
}

// Step 5: every frame checked and deciphered where it stands, a slice of
// them on each core; the index of the first that fails, or the count.
size_t decipherFrames(QByteArray &file, const Header &header, const Keys &keys,
                      const std::vector<qsizetype> &frames) {
    const qsizetype head = FrameHeadSize(header.version);
    std::atomic<size_t> firstBad = frames.size();
    char *data = file.data();
    inSlices(frames.size(), file.size() >= kParallelBytes, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end && i < firstBad.load(); ++i) {
            unsigned char ad[kAdBytes];
            frameAd(keys, i, ad);
            const quint32 length = qFromLittleEndian<quint32>(data + frames[i]);
            auto *frame = reinterpret_cast<unsigned char *>(data + frames[i] + head);
            unsigned long long got = 0;
            if (crypto_aead_xchacha20poly1305_ietf_decrypt(
                    frame, &got, nullptr, frame, length, ad, sizeof ad,
                    bytes(data + frames[i] + head - kNonceBytes), Access::data(keys)) != 0) {
                size_t seen = firstBad.load();
                while (i < seen && !firstBad.compare_exchange_weak(seen, i)) {
                }
                break;
            }
        }
    });
    return firstBad.load();
}

// Step 6: the records, as views into the deciphered frames: each after its
// length, until a zero length or the end of the plaintext. A frame holds one
// at least; the index of the first frame that breaks that, or good.
size_t splitRecords(const QByteArray &file, const Header &header,
                    const std::vector<qsizetype> &frames, size_t good,
                    std::vector<QByteArrayView> &views, std::vector<size_t> &firstEntry) {
    const qsizetype head = FrameHeadSize(header.version);
    const char *data = file.constData();
    for (size_t index = 0; index < good; ++index) {
        const char *plain = data + frames[index] + head;
        const qsizetype size =
            qsizetype(qFromLittleEndian<quint32>(data + frames[index])) - kTagBytes;
        const size_t before = views.size();
        firstEntry.push_back(before);
        qsizetype at = 0;
        while (at + 4 <= size) {
            const qsizetype length = qsizetype(qFromLittleEndian<quint32>(plain + at));
            if (length == 0)
                break;
            if (length > size - at - 4) {
                views.resize(before);
                return index;
            }
            views.emplace_back(plain + at + 4, length);
            at += 4 + length;
        }
        if (views.size() == before)
            return index;
    }
    return good;
}

// One entry (version 4 on) into opened; false when it does not parse.
bool readEntry(QByteArrayView entry, quint16 version, Opened &opened) {
    const char *at = entry.data();
    const qsizetype size = entry.size();
    if (size == kTombstoneEntrySize && at[0] == kTombstoneEntry) {
        Tombstone mark;
        std::memcpy(mark.id.bytes.data(), at + 1, 16);
        mark.removed = qFromLittleEndian<qint64>(at + 17);
        opened.tombstones.push_back(mark);
        return true;
    }
    if (size <= kRecordEntryHead || at[0] != kRecordEntry)
        return false;
    RecordMeta meta;
    std::memcpy(meta.id.bytes.data(), at + 1, 16);
    meta.created = qFromLittleEndian<qint64>(at + 17);
    meta.changed = qFromLittleEndian<qint64>(at + 25);
    const size_t earlier = quint8(at[33]);
    if (earlier > kEarlierVersionsKept)
        return false;
    qsizetype used = kRecordEntryHead;
    for (size_t v = 0; v < earlier; ++v) {
        if (size - used < kEarlierHead)
            return false;
        const qint64 changed = qFromLittleEndian<qint64>(at + used);
        const qsizetype length = qsizetype(qFromLittleEndian<quint32>(at + used + 8));
        if (length <= 0 || length > size - used - kEarlierHead)
            return false;
        meta.earlier.push_back({changed, QByteArray(at + used + kEarlierHead, length), {}});
        used += kEarlierHead + length;
        if (version >= kOneTimeCodeVersion &&
            !readCode(at, size, used, meta.earlier.back().oneTimeCode))
            return false;
    }
    if (version >= kOneTimeCodeVersion && !readCode(at, size, used, meta.oneTimeCode))
        return false;
    if (used >= size)
        return false; // a record is never empty
    opened.views.emplace_back(at + used, size - used);
    opened.meta.push_back(std::move(meta));
    return true;
}

// Step 7, from version 4 on: the entries split into the records, as views of
// their lines, with their identities, and the removal marks. An entry that
// does not parse is damage at its frame; the frames before it stand.
// firstEntry[f] is where frame f's entries begin. Returns the frames whose
// entries all parse.
size_t readEntries(Opened &opened, quint16 version, const std::vector<size_t> &firstEntry,
                   size_t frames) {
    const std::vector<QByteArrayView> entries = std::move(opened.views);
    opened.views = {};
    opened.views.reserve(entries.size());
    opened.meta.reserve(entries.size());
    for (size_t e = 0; e < entries.size(); ++e) {
        if (readEntry(entries[e], version, opened))
            continue;
        const size_t frame =
            size_t(std::upper_bound(firstEntry.begin(), firstEntry.end(), e) - firstEntry.begin()) -
            1;
        for (QByteArrayView &view : opened.views)
            view = {};
        opened.views.clear();
        WipeEarlier(opened.meta);
        opened.tombstones.clear();
        for (size_t keep = 0; keep < firstEntry[frame]; ++keep)
            readEntry(entries[keep], version, opened);
        return frame;
    }
    return frames;
}

// Reads the file; derives the key from the password, or, with none, uses the
// one the keys hold when the file still asks for the same salt and parameters.
Status openWith(const QString &path, const QByteArrayView *password, Keys &keys, Opened &opened,
                Platform::FileStamp *stamp) {
    opened = Opened();
    if (!Platform::exists(path))
        return Status::Missing;
    QByteArray file;
    if (!Platform::readFile(path, file, stamp))
        return Status::ReadFailed;
    Header header;
    if (const Status read = readHeader(file, header); read != Status::Ok)
        return read;
    if (const Status derived = deriveFor(header, password, keys); derived != Status::Ok)
        return derived;
    if (const Status unwrapped = unwrapKey(file, header, keys); unwrapped != Status::Ok) {
        if (password)
            keys.clear();
        return unwrapped;
    }
    const Scan scan = scanFrames(file, header, keys);
    file.detach();
    const size_t deciphered = decipherFrames(file, header, keys, scan.frames);
    std::vector<size_t> firstEntry;
    size_t whole = splitRecords(file, header, scan.frames, deciphered, opened.views, firstEntry);
    if (header.version >= kIdentityVersion)
        whole = readEntries(opened, header.version, firstEntry, whole);
    Status status = scan.status;
    opened.torn = scan.torn;
    opened.wholeSize = scan.wholeSize;
    if (whole < scan.frames.size()) {
        status = Status::Damaged;
        opened.torn = false;
        opened.wholeSize = scan.frames[whole];
    }
    // Frames missing below the count of the last whole write: cut, not torn.
    if (status == Status::Ok && whole < header.count)
        status = Status::Damaged;
    opened.block = std::move(file);
    opened.version = header.version;
    Access::frames(keys) = whole;
    return status;
}

} // namespace

Status Open(const QString &path, QByteArrayView password, Keys &keys, Opened &opened,
            Platform::FileStamp *stamp) {
    return openWith(path, &password, keys, opened, stamp);
}

Status Reopen(const QString &path, Keys &keys, Opened &opened, Platform::FileStamp *stamp) {
    return openWith(path, nullptr, keys, opened, stamp);
}

Status OpenCopy(const QString &path, const Keys &known, Opened &opened) {
    // The copy's own keys, so known stays the keys of the file it was read from.
    Keys keys;
    if (!known.valid() || !Access::derived(keys))
        return Status::NeedsPassword;
    std::memcpy(Access::derived(keys), Access::derived(known), kKeyBytes);
    std::memcpy(Access::salt(keys), Access::salt(known), kSaltBytes);
    Access::params(keys) = Access::params(known);
    Access::setValid(keys, true);
    return openWith(path, nullptr, keys, opened, nullptr);
}

Status Create(const QString &path, QByteArrayView password, const KdfParams &params,
              const StoreContents &records, Keys &keys, Platform::FileStamp *stamp) {
    keys.clear();
    if (!sodiumReady() || !Access::derived(keys))
        return Status::OutOfMemory;
    randombytes_buf(Access::salt(keys), kSaltBytes);
    randombytes_buf(Access::fileId(keys), kIdBytes);
    if (const Status derived = derive(keys, password, params); derived != Status::Ok)
        return derived;
    crypto_aead_xchacha20poly1305_ietf_keygen(Access::data(keys));
    Access::version(keys) = kVersion;
    Access::setValid(keys, true);
    quint64 frames = 0;
    if (!Platform::writeFileAtomically(path, wholeStore(keys, Entries{records}, frames), stamp)) {
        keys.clear();
        return Status::WriteFailed;
    }
    Access::frames(keys) = frames;
    return Status::Ok;
}

quint16 FileVersion(const Keys &keys) {
    return Access::version(keys);
}

bool NeedsWholeWrite(const Keys &keys) {
    return keys.valid() && Access::version(keys) < kVersion;
}

Status Append(const QString &path, Keys &keys, QByteArrayView record, const RecordMeta &meta,
              Platform::FileStamp *stamp) {
    // Frames are appended only in the newest version; an older file is
    // written whole first (NeedsWholeWrite).
    if (!keys.valid() || NeedsWholeWrite(keys))
        return Status::WriteFailed;
    // One frame of its own, at the next index.
    const Entries entry{{{&record, 1}, {&meta, 1}, {}}};
    QByteArray frame(kFrameHead + paddedSize(entry, 0, 1) + kTagBytes, Qt::Uninitialized);
    unsigned char nonce[kNonceBytes];
    randombytes_buf(nonce, sizeof nonce);
    writeFrame(frame.data(), keys, Access::frames(keys), entry, 0, 1, nonce);
    if (!Platform::appendToFile(path, frame, stamp, false))
        return Status::WriteFailed;
    ++Access::frames(keys);
    return Status::Ok;
}

Status Rewrite(const QString &path, Keys &keys, const StoreContents &records,
               Platform::FileStamp *stamp) {
    if (!keys.valid())
        return Status::WriteFailed;
    // A fresh file id: no frame of an older version of the file fits this one.
    unsigned char oldId[kIdBytes];
    std::memcpy(oldId, Access::fileId(keys), kIdBytes);
    randombytes_buf(Access::fileId(keys), kIdBytes);
    const quint16 oldVersion = Access::version(keys);
    Access::version(keys) = kVersion;
    quint64 frames = 0;
    if (!Platform::writeFileAtomically(
            path,
            [&](const Platform::ChunkWriter &write) {
                return streamStore(keys, Entries{records}, frames, write);
            },
            stamp)) {
        std::memcpy(Access::fileId(keys), oldId, kIdBytes);
        Access::version(keys) = oldVersion;
        return Status::WriteFailed;
    }
    Access::frames(keys) = frames;
    return Status::Ok;
}

bool IsPasswordOf(const Keys &keys, QByteArrayView password) {
    if (!keys.valid())
        return false;
    Keys trial;
    if (!Access::derived(trial))
        return false;
    std::memcpy(Access::salt(trial), Access::salt(keys), kSaltBytes);
    return derive(trial, password, Access::params(keys)) == Status::Ok &&
           sodium_memcmp(Access::derived(trial), Access::derived(keys), kKeyBytes) == 0;
}

Status ChangePassword(const QString &path, const Keys &current, QByteArrayView newPassword,
                      const KdfParams &params, Keys &next, const QString &target,
                      Platform::FileStamp *stamp) {
    next.clear();
    if (!current.valid() || !Access::derived(next))
        return Status::WriteFailed;
    const qsizetype headerSize = HeaderSize(Access::version(current));
    QByteArray file;
    if (!Platform::readFile(path, file) || file.size() < headerSize ||
        std::memcmp(file.constData() + 40, Access::fileId(current), kIdBytes) != 0)
        return Status::ReadFailed;
    // The same data key, file id, version and frames under a key from the
    // new password.
    std::memcpy(Access::data(next), Access::data(current), kKeyBytes);
    std::memcpy(Access::fileId(next), Access::fileId(current), kIdBytes);
    randombytes_buf(Access::salt(next), kSaltBytes);
    if (const Status derived = derive(next, newPassword, params); derived != Status::Ok) {
        next.clear();
        return derived;
    }
    Access::version(next) = Access::version(current);
    Access::setValid(next, true);
    Access::frames(next) = Access::frames(current);
    // The frames as they are: only the header, and the key in it, change.
    const QByteArray rewrapped = header(next, Access::frames(next)) + file.mid(headerSize);
    if (!Platform::writeFileAtomically(target.isEmpty() ? path : target, rewrapped, stamp)) {
        next.clear();
        return Status::WriteFailed;
    }
    return Status::Ok;
}

bool CutBack(const QString &path, qint64 wholeSize) {
    return Platform::truncateFile(path, wholeSize);
}

KdfParams CalibratedParams() {
    KdfParams params;
    if (!sodiumReady())
        return params;
    // One derivation at the minimum passes, then as many passes as fit half
    // a second at that pace.
    unsigned char salt[kSaltBytes] = {};
    unsigned char out[kKeyBytes];
    QElapsedTimer clock;
    clock.start();
    if (crypto_pwhash(out, sizeof out, "calibrate", 9, salt, kMinPasses, size_t(params.memoryBytes),
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        return params;
    const double perPass = std::max(1.0, double(clock.elapsed())) / kMinPasses;
    params.passes = std::clamp(quint32(500.0 / perPass), kMinPasses, kMaxPasses);
    sodium_memzero(out, sizeof out);
    return params;
}

} // namespace Strong
