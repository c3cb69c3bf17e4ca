#include "strongstore.h"

#include <QElapsedTimer>

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace Strong {

namespace {

// The layout, byte by byte, is docs/format.md's.
constexpr char kMagic[8] = {'V', 'L', 'S', 'T', 'R', 'O', 'N', 'G'};
constexpr quint16 kVersion = 1;
constexpr quint8 kArgon2id13 = 2;
constexpr qsizetype kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr qsizetype kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr qsizetype kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr qsizetype kSaltBytes = 16;
constexpr qsizetype kIdBytes = 16;
// magic 8, version 2, kdf 1, reserved 1, passes 4, memory 8, salt 16, file id
// 16, record count 8: what the wrapped key's check covers.
constexpr qsizetype kCoveredBytes = 64;
constexpr qsizetype kHeaderBytes = kCoveredBytes + kNonceBytes + kKeyBytes + kTagBytes;
constexpr qsizetype kFrameHead = 4 + kNonceBytes;
constexpr qsizetype kPadStep = 64;
constexpr quint32 kMaxFrame = quint32(512) << 20;

static_assert(kSaltBytes == crypto_pwhash_argon2id_SALTBYTES);
static_assert(kHeaderBytes == 136);

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

void putLe(QByteArray &out, quint64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

quint64 getLe(const char *in, int bytes) {
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[i]);
    return value;
}

const unsigned char *bytes(const char *p) {
    return reinterpret_cast<const unsigned char *>(p);
}

} // namespace

// The keys' inner parts, for this file alone.
struct Access {
    static unsigned char *derived(Keys &k) { return k.m_secret; }
    static const unsigned char *derived(const Keys &k) { return k.m_secret; }
    static unsigned char *data(Keys &k) { return k.m_secret + kKeyBytes; }
    static const unsigned char *data(const Keys &k) { return k.m_secret + kKeyBytes; }
    static unsigned char *salt(Keys &k) { return k.m_salt; }
    static unsigned char *fileId(Keys &k) { return k.m_fileId; }
    static const unsigned char *fileId(const Keys &k) { return k.m_fileId; }
    static KdfParams &params(Keys &k) { return k.m_params; }
    static quint64 &frames(Keys &k) { return k.m_frames; }
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
    return typed.normalized(QString::NormalizationForm_C).toUtf8();
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

// The header for these keys and count, its data key wrapped under a fresh nonce.
QByteArray header(Keys &keys, quint64 count) {
    QByteArray out;
    out.reserve(kHeaderBytes);
    out.append(kMagic, sizeof kMagic);
    putLe(out, kVersion, 2);
    putLe(out, kArgon2id13, 1);
    putLe(out, 0, 1);
    putLe(out, Access::params(keys).passes, 4);
    putLe(out, Access::params(keys).memoryBytes, 8);
    out.append(reinterpret_cast<const char *>(Access::salt(keys)), kSaltBytes);
    out.append(reinterpret_cast<const char *>(Access::fileId(keys)), kIdBytes);
    putLe(out, count, 8);
    unsigned char nonce[kNonceBytes];
    randombytes_buf(nonce, sizeof nonce);
    out.append(reinterpret_cast<const char *>(nonce), kNonceBytes);
    const qsizetype at = out.size();
    out.resize(kHeaderBytes);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        reinterpret_cast<unsigned char *>(out.data() + at), &written, Access::data(keys), kKeyBytes,
        bytes(out.constData()), kCoveredBytes, nullptr, nonce, Access::derived(keys));
    return out;
}

// What binds a frame to its file and its place.
void frameAd(const Keys &keys, quint64 index, unsigned char (&ad)[kIdBytes + 8]) {
    std::memcpy(ad, Access::fileId(keys), kIdBytes);
    for (int i = 0; i < 8; ++i)
        ad[kIdBytes + i] = static_cast<unsigned char>((index >> (8 * i)) & 0xff);
}

qsizetype paddedSize(qsizetype recordSize) {
    return (4 + recordSize + kPadStep - 1) / kPadStep * kPadStep;
}

qsizetype frameSize(qsizetype recordSize) {
    return kFrameHead + paddedSize(recordSize) + kTagBytes;
}

// One record as a frame at dst: length, nonce, then the record (its length
// first, padded with zeros to a 64-byte step) enciphered in place and tagged.
void writeFrame(char *dst, const Keys &keys, quint64 index, QByteArrayView record,
                const unsigned char *nonce) {
    const qsizetype padded = paddedSize(record.size());
    for (int i = 0; i < 4; ++i)
        dst[i] = char((quint64(padded + kTagBytes) >> (8 * i)) & 0xff);
    std::memcpy(dst + 4, nonce, kNonceBytes);
    auto *plain = reinterpret_cast<unsigned char *>(dst + kFrameHead);
    for (int i = 0; i < 4; ++i)
        plain[i] = static_cast<unsigned char>((quint64(record.size()) >> (8 * i)) & 0xff);
    std::memcpy(plain + 4, record.data(), size_t(record.size()));
    std::memset(plain + 4 + record.size(), 0, size_t(padded - 4 - record.size()));
    unsigned char ad[kIdBytes + 8];
    frameAd(keys, index, ad);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(plain, &written, plain,
                                               static_cast<unsigned long long>(padded), ad,
                                               sizeof ad, nullptr, nonce, Access::data(keys));
}

// Runs work(begin, end) over [0, count) in a few slices at once: each frame is
// enciphered on its own, so a large store uses every core.
template <typename Work> void inSlices(size_t count, const Work &work) {
    const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    const size_t slices = count < 4096 ? 1 : cores;
    std::vector<std::thread> helpers;
    for (size_t s = 1; s < slices; ++s)
        helpers.emplace_back(
            [&work, count, slices, s] { work(count * s / slices, count * (s + 1) / slices); });
    work(0, count / slices);
    for (std::thread &helper : helpers)
        helper.join();
}

// Frames for records from index on, appended to out in one allocation, their
// nonces drawn from the system in one go.
void appendFrames(QByteArray &out, const Keys &keys, quint64 index,
                  std::span<const QByteArrayView> records) {
    qsizetype total = 0;
    for (const QByteArrayView record : records)
        total += frameSize(record.size());
    QByteArray nonces(qsizetype(records.size()) * kNonceBytes, Qt::Uninitialized);
    randombytes_buf(nonces.data(), size_t(nonces.size()));
    std::vector<qsizetype> offsets(records.size());
    qsizetype at = out.size();
    for (size_t i = 0; i < records.size(); ++i) {
        offsets[i] = at;
        at += frameSize(records[i].size());
    }
    out.resize(at);
    char *data = out.data();
    inSlices(records.size(), [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            writeFrame(data + offsets[i], keys, index + i, records[i],
                       bytes(nonces.constData() + qsizetype(i) * kNonceBytes));
    });
}

QByteArray wholeStore(Keys &keys, std::span<const QByteArrayView> records) {
    QByteArray out = header(keys, records.size());
    appendFrames(out, keys, 0, records);
    return out;
}

// The whole store handed to write a piece at a time: the header, then the
// frames of a few thousand records at a time in one reused buffer, so a large
// store is never held twice in memory.
bool streamStore(Keys &keys, std::span<const QByteArrayView> records,
                 const Platform::ChunkWriter &write) {
    if (!write(header(keys, records.size())))
        return false;
    constexpr size_t kSlice = 16384;
    QByteArray buffer;
    for (size_t first = 0; first < records.size(); first += kSlice) {
        const auto slice = records.subspan(first, std::min(kSlice, records.size() - first));
        buffer.resize(0);
        appendFrames(buffer, keys, first, slice);
        if (!write(buffer))
            return false;
    }
    sodium_memzero(buffer.data(), size_t(buffer.size()));
    return true;
}

} // namespace

namespace {

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
    if (file.size() < kHeaderBytes || std::memcmp(file.constData(), kMagic, sizeof kMagic) != 0 ||
        getLe(file.constData() + 8, 2) != kVersion ||
        getLe(file.constData() + 10, 1) != kArgon2id13)
        return Status::NotAStore;
    const KdfParams params{quint32(getLe(file.constData() + 12, 4)),
                           getLe(file.constData() + 16, 8)};
    if (!ParamsAllowed(params))
        return Status::Refused;
    const quint64 count = getLe(file.constData() + 56, 8);
    if (password) {
        keys.clear();
        std::memcpy(Access::salt(keys), file.constData() + 24, kSaltBytes);
        if (const Status derived = derive(keys, *password, params); derived != Status::Ok)
            return derived;
    } else if (!keys.valid() ||
               std::memcmp(Access::salt(keys), file.constData() + 24, kSaltBytes) != 0 ||
               Access::params(keys).passes != params.passes ||
               Access::params(keys).memoryBytes != params.memoryBytes) {
        return Status::NeedsPassword;
    }
    unsigned char dataKey[kKeyBytes];
    unsigned long long unwrapped = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            dataKey, &unwrapped, nullptr, bytes(file.constData() + kCoveredBytes + kNonceBytes),
            kKeyBytes + kTagBytes, bytes(file.constData()), kCoveredBytes,
            bytes(file.constData() + kCoveredBytes), Access::derived(keys)) != 0) {
        if (password)
            keys.clear();
        return Status::WrongPassword;
    }
    std::memcpy(Access::data(keys), dataKey, kKeyBytes);
    sodium_memzero(dataKey, sizeof dataKey);
    std::memcpy(Access::fileId(keys), file.constData() + 40, kIdBytes);
    Access::setValid(keys, true);

    file.detach();
    // First the frames' places, from their lengths; then every frame checked
    // and deciphered where it stands, a slice of them on each core.
    std::vector<qsizetype> frames;
    qsizetype at = kHeaderBytes;
    Status status = Status::Ok;
    while (at < file.size()) {
        const qsizetype left = file.size() - at;
        const quint64 length = left >= 4 ? getLe(file.constData() + at, 4) : 0;
        if (left < kFrameHead || qsizetype(length) > left - kFrameHead) {
            opened.torn = true; // an append cut short: its frame is not whole
            break;
        }
        if (length < kPadStep + kTagBytes || length > kMaxFrame ||
            (length - kTagBytes) % kPadStep != 0) {
            status = Status::Damaged;
            break;
        }
        frames.push_back(at);
        at += kFrameHead + qsizetype(length);
    }
    opened.wholeSize = at;
    // The records, as views into the file's bytes; the first frame that fails
    // its check ends them.
    std::vector<QByteArrayView> views(frames.size());
    std::atomic<size_t> firstBad = frames.size();
    char *data = file.data();
    inSlices(frames.size(), [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end && i < firstBad.load(); ++i) {
            unsigned char ad[kIdBytes + 8];
            frameAd(keys, i, ad);
            const quint64 length = getLe(data + frames[i], 4);
            auto *frame = reinterpret_cast<unsigned char *>(data + frames[i] + kFrameHead);
            unsigned long long got = 0;
            const bool good = crypto_aead_xchacha20poly1305_ietf_decrypt(
                                  frame, &got, nullptr, frame, length, ad, sizeof ad,
                                  bytes(data + frames[i] + 4), Access::data(keys)) == 0 &&
                              getLe(reinterpret_cast<const char *>(frame), 4) <= got - 4;
            if (!good) {
                size_t seen = firstBad.load();
                while (i < seen && !firstBad.compare_exchange_weak(seen, i)) {
                }
                break;
            }
            views[i] = QByteArrayView(reinterpret_cast<const char *>(frame) + 4,
                                      qsizetype(getLe(reinterpret_cast<const char *>(frame), 4)));
        }
    });
    quint64 index = firstBad.load();
    views.resize(index);
    if (index < frames.size()) {
        status = Status::Damaged;
        opened.wholeSize = frames[index];
    }
    opened.views = std::move(views);
    // Frames missing below the count of the last rewrite: cut, not torn.
    if (status == Status::Ok && index < count)
        status = Status::Damaged;
    opened.block = std::move(file);
    Access::frames(keys) = index;
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

Status Create(const QString &path, QByteArrayView password, const KdfParams &params,
              std::span<const QByteArrayView> records, Keys &keys, Platform::FileStamp *stamp) {
    keys.clear();
    if (!sodiumReady() || !Access::derived(keys))
        return Status::OutOfMemory;
    randombytes_buf(Access::salt(keys), kSaltBytes);
    randombytes_buf(Access::fileId(keys), kIdBytes);
    if (const Status derived = derive(keys, password, params); derived != Status::Ok)
        return derived;
    crypto_aead_xchacha20poly1305_ietf_keygen(Access::data(keys));
    Access::setValid(keys, true);
    if (!Platform::writeFileAtomically(path, wholeStore(keys, records), stamp)) {
        keys.clear();
        return Status::WriteFailed;
    }
    Access::frames(keys) = records.size();
    return Status::Ok;
}

Status Append(const QString &path, Keys &keys, QByteArrayView record, Platform::FileStamp *stamp) {
    if (!keys.valid())
        return Status::WriteFailed;
    QByteArray frame;
    const QByteArrayView one[] = {record};
    appendFrames(frame, keys, Access::frames(keys), one);
    if (!Platform::appendToFile(path, frame, stamp, false))
        return Status::WriteFailed;
    ++Access::frames(keys);
    return Status::Ok;
}

Status Rewrite(const QString &path, Keys &keys, std::span<const QByteArrayView> records,
               Platform::FileStamp *stamp) {
    if (!keys.valid())
        return Status::WriteFailed;
    // A fresh file id: no frame of an older version of the file fits this one.
    unsigned char oldId[kIdBytes];
    std::memcpy(oldId, Access::fileId(keys), kIdBytes);
    randombytes_buf(Access::fileId(keys), kIdBytes);
    if (!Platform::writeFileAtomically(
            path,
            [&](const Platform::ChunkWriter &write) { return streamStore(keys, records, write); },
            stamp)) {
        std::memcpy(Access::fileId(keys), oldId, kIdBytes);
        return Status::WriteFailed;
    }
    Access::frames(keys) = records.size();
    return Status::Ok;
}

Status ChangePassword(const QString &path, const Keys &current, QByteArrayView newPassword,
                      const KdfParams &params, Keys &next, const QString &target,
                      Platform::FileStamp *stamp) {
    next.clear();
    if (!current.valid() || !Access::derived(next))
        return Status::WriteFailed;
    QByteArray file;
    if (!Platform::readFile(path, file) || file.size() < kHeaderBytes ||
        std::memcmp(file.constData() + 40, Access::fileId(current), kIdBytes) != 0)
        return Status::ReadFailed;
    // The same data key, file id and frames under a key from the new password.
    std::memcpy(Access::data(next), Access::data(current), kKeyBytes);
    std::memcpy(Access::fileId(next), Access::fileId(current), kIdBytes);
    randombytes_buf(Access::salt(next), kSaltBytes);
    if (const Status derived = derive(next, newPassword, params); derived != Status::Ok) {
        next.clear();
        return derived;
    }
    Access::setValid(next, true);
    Access::frames(next) = Access::frames(const_cast<Keys &>(current));
    // The frames as they are: only the header, and the key in it, change.
    const QByteArray rewrapped = header(next, Access::frames(next)) + file.mid(kHeaderBytes);
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
