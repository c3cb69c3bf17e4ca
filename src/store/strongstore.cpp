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
// Version 2 frames hold one record or more; a version 1 frame, which holds
// exactly one, reads the same way.
constexpr quint16 kVersion = 2;
constexpr quint16 kOldestVersion = 1;
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
// A whole write groups records into frames of about this much plaintext: one
// cipher set-up per frame instead of per record is what lets a rewrite keep
// pace with the disk.
constexpr qsizetype kGroupBytes = 64 * 1024;
// Frames made between two writes of a rewrite, and the least plaintext worth
// spreading over the cores.
constexpr qsizetype kBatchBytes = 2 << 20;
constexpr qsizetype kParallelBytes = 256 * 1024;

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

// A frame's plaintext: each record after its length, then zeros to a
// 64-byte step.
qsizetype paddedSize(std::span<const QByteArrayView> records) {
    qsizetype plain = 0;
    for (const QByteArrayView record : records)
        plain += 4 + record.size();
    return (plain + kPadStep - 1) / kPadStep * kPadStep;
}

// The records of a frame at dst: length, nonce, then the records enciphered
// in place and tagged.
void writeFrame(char *dst, const Keys &keys, quint64 index, std::span<const QByteArrayView> records,
                const unsigned char *nonce) {
    const qsizetype padded = paddedSize(records);
    for (int i = 0; i < 4; ++i)
        dst[i] = char((quint64(padded + kTagBytes) >> (8 * i)) & 0xff);
    std::memcpy(dst + 4, nonce, kNonceBytes);
    auto *plain = reinterpret_cast<unsigned char *>(dst + kFrameHead);
    qsizetype at = 0;
    for (const QByteArrayView record : records) {
        for (int i = 0; i < 4; ++i)
            plain[at + i] = static_cast<unsigned char>((quint64(record.size()) >> (8 * i)) & 0xff);
        std::memcpy(plain + at + 4, record.data(), size_t(record.size()));
        at += 4 + record.size();
    }
    std::memset(plain + at, 0, size_t(padded - at));
    unsigned char ad[kIdBytes + 8];
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
    const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    const size_t slices = parallel ? std::min(cores, std::max<size_t>(count, 1)) : 1;
    std::vector<std::thread> helpers;
    for (size_t s = 1; s < slices; ++s)
        helpers.emplace_back(
            [&work, count, slices, s] { work(count * s / slices, count * (s + 1) / slices); });
    work(0, count / slices);
    for (std::thread &helper : helpers)
        helper.join();
}

// Where each frame's records begin, then the end: records in groups of up to
// kGroupBytes of plaintext, a larger record in a frame of its own.
std::vector<size_t> frameBounds(std::span<const QByteArrayView> records) {
    std::vector<size_t> bounds;
    qsizetype filled = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const qsizetype need = 4 + records[i].size();
        if (bounds.empty() || filled + need > kGroupBytes) {
            bounds.push_back(i);
            filled = 0;
        }
        filled += need;
    }
    bounds.push_back(records.size());
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

FrameRun layOutFrames(QByteArray &out, std::span<const QByteArrayView> records,
                      const std::vector<size_t> &bounds, size_t first, size_t last) {
    FrameRun run{first, last - first,
                 QByteArray(qsizetype(last - first) * kNonceBytes, Qt::Uninitialized),
                 std::vector<qsizetype>(last - first)};
    randombytes_buf(run.nonces.data(), size_t(run.nonces.size()));
    qsizetype at = out.size();
    for (size_t f = 0; f < run.count; ++f) {
        run.offsets[f] = at;
        const size_t from = bounds[first + f], to = bounds[first + f + 1];
        at += kFrameHead + paddedSize(records.subspan(from, to - from)) + kTagBytes;
    }
    out.resize(at);
    return run;
}

// Frames [begin, end) of the run, enciphered into data (the laid-out buffer).
void fillFrames(char *data, const FrameRun &run, const Keys &keys,
                std::span<const QByteArrayView> records, const std::vector<size_t> &bounds,
                size_t begin, size_t end) {
    for (size_t f = begin; f < end; ++f) {
        const size_t from = bounds[run.first + f], to = bounds[run.first + f + 1];
        writeFrame(data + run.offsets[f], keys, run.first + f, records.subspan(from, to - from),
                   bytes(run.nonces.constData() + qsizetype(f) * kNonceBytes));
    }
}

// The frames [first, last) of bounds, appended to out, made on every core when
// there are enough of them.
void appendFrames(QByteArray &out, const Keys &keys, std::span<const QByteArrayView> records,
                  const std::vector<size_t> &bounds, size_t first, size_t last) {
    const qsizetype start = out.size();
    const FrameRun run = layOutFrames(out, records, bounds, first, last);
    char *const data = out.data();
    inSlices(run.count, out.size() - start >= kParallelBytes, [&](size_t begin, size_t end) {
        fillFrames(data, run, keys, records, bounds, begin, end);
    });
}

QByteArray wholeStore(Keys &keys, std::span<const QByteArrayView> records, quint64 &frames) {
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
bool streamStore(Keys &keys, std::span<const QByteArrayView> records, quint64 &frames,
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
        const size_t helpers = std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 4) - 1;
        const size_t helped = run.count * 2 * helpers / (2 * helpers + 1);
        std::vector<std::thread> team;
        for (size_t h = 0; h < helpers; ++h)
            team.emplace_back([&, h] {
                fillFrames(data, run, keys, records, bounds, helped * h / helpers,
                           helped * (h + 1) / helpers);
            });
        written = write(ready);
        if (written)
            fillFrames(data, run, keys, records, bounds, helped, run.count);
        for (std::thread &helper : team)
            helper.join();
        std::swap(ready, next);
    }
    sodium_memzero(ready.data(), size_t(ready.size()));
    sodium_memzero(next.data(), size_t(next.size()));
    return written;
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
        getLe(file.constData() + 8, 2) < kOldestVersion ||
        getLe(file.constData() + 8, 2) > kVersion || getLe(file.constData() + 10, 1) != kArgon2id13)
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
    // Every frame checked and deciphered where it stands; the first that
    // fails ends the records.
    std::atomic<size_t> firstBad = frames.size();
    char *data = file.data();
    inSlices(frames.size(), file.size() >= kParallelBytes, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end && i < firstBad.load(); ++i) {
            unsigned char ad[kIdBytes + 8];
            frameAd(keys, i, ad);
            const quint64 length = getLe(data + frames[i], 4);
            auto *frame = reinterpret_cast<unsigned char *>(data + frames[i] + kFrameHead);
            unsigned long long got = 0;
            if (crypto_aead_xchacha20poly1305_ietf_decrypt(frame, &got, nullptr, frame, length, ad,
                                                           sizeof ad, bytes(data + frames[i] + 4),
                                                           Access::data(keys)) != 0) {
                size_t seen = firstBad.load();
                while (i < seen && !firstBad.compare_exchange_weak(seen, i)) {
                }
                break;
            }
        }
    });
    // The records, as views into the deciphered bytes: each after its length,
    // until a zero length or the end of the plaintext. A frame holds one at least.
    std::vector<QByteArrayView> views;
    size_t index = 0;
    for (; index < firstBad.load(); ++index) {
        const char *plain = data + frames[index] + kFrameHead;
        const qsizetype size = qsizetype(getLe(data + frames[index], 4)) - kTagBytes;
        const size_t before = views.size();
        qsizetype at = 0;
        bool good = true;
        while (at + 4 <= size) {
            const qsizetype length = qsizetype(getLe(plain + at, 4));
            if (length == 0)
                break;
            if (length > size - at - 4) {
                good = false;
                break;
            }
            views.emplace_back(plain + at + 4, length);
            at += 4 + length;
        }
        if (!good || views.size() == before) {
            views.resize(before);
            break;
        }
    }
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
    quint64 frames = 0;
    if (!Platform::writeFileAtomically(path, wholeStore(keys, records, frames), stamp)) {
        keys.clear();
        return Status::WriteFailed;
    }
    Access::frames(keys) = frames;
    return Status::Ok;
}

Status Append(const QString &path, Keys &keys, QByteArrayView record, Platform::FileStamp *stamp) {
    if (!keys.valid())
        return Status::WriteFailed;
    // One frame of its own, at the next index.
    QByteArray frame(kFrameHead + paddedSize({&record, 1}) + kTagBytes, Qt::Uninitialized);
    unsigned char nonce[kNonceBytes];
    randombytes_buf(nonce, sizeof nonce);
    writeFrame(frame.data(), keys, Access::frames(keys), {&record, 1}, nonce);
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
    quint64 frames = 0;
    if (!Platform::writeFileAtomically(
            path,
            [&](const Platform::ChunkWriter &write) {
                return streamStore(keys, records, frames, write);
            },
            stamp)) {
        std::memcpy(Access::fileId(keys), oldId, kIdBytes);
        return Status::WriteFailed;
    }
    Access::frames(keys) = frames;
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
