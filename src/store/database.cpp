#include "database.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "parallel.h"
#include "platform.h"
#include "stringcipher.h"

#include <algorithm>
#include <cstring>

namespace {

// A store this large is cut into lines and decoded on two cores at once.
constexpr qsizetype kSplitLoadAt = 4 << 20;

// Large enough that the disk sees few writes, small enough to stay in cache.
constexpr qsizetype kChunk = qsizetype(1) << 20;

// The string cipher over line after line, its key stream kept as long as the
// longest line so far needs. UnsafeRecord when a result holds a line break.
class KeyCover {
public:
    explicit KeyCover(const QByteArray &key) : m_key(key) {}
    StoreStatus encipher(const char *src, char *dst, qsizetype size) {
        if (m_stream.size() < size)
            m_stream = KeyStream(m_key, std::max(size, qsizetype(256)));
        return XorInvertSpan(src, dst, size, m_stream.constData()) ? StoreStatus::Ok
                                                                   : StoreStatus::UnsafeRecord;
    }

private:
    QByteArray m_key;
    QByteArray m_stream;
};

// Hands a store's content to write a piece at a time: each line shaped into
// its stored form by shape(line, dst), which says whether it may be stored,
// and ended by CR LF. Stops, with refused set, at a line that may not.
template <typename Shape>
bool streamLines(std::span<const QByteArrayView> lines, Shape &&shape,
                 const Platform::ChunkWriter &write, StoreStatus &refused) {
    // One buffer serves every rewrite: fresh memory is not free, and a store
    // is rewritten at every replace and remove. It grows to a megabyte, or to
    // the longest line, and no further.
    static thread_local QByteArray buffer;
    qsizetype needed = 0;
    for (auto it = lines.begin(); it != lines.end() && needed < kChunk; ++it)
        needed += it->size() + 2;
    if (buffer.size() < std::min(needed, kChunk))
        buffer.resize(std::min(needed, kChunk));
    qsizetype used = 0;
    for (const QByteArrayView line : lines) {
        const qsizetype size = line.size();
        if (used + size + 2 > buffer.size()) {
            if (used > 0 && !write(QByteArrayView(buffer.constData(), used)))
                return false;
            used = 0;
            if (size + 2 > buffer.size())
                buffer.resize(size + 2);
        }
        char *dst = buffer.data() + used;
        if (const StoreStatus shaped = shape(line, dst); shaped != StoreStatus::Ok) {
            refused = shaped;
            return false;
        }
        dst[size] = '\r';
        dst[size + 1] = '\n';
        used += size + 2;
    }
    return used == 0 || write(QByteArrayView(buffer.constData(), used));
}

// Writes the file in one step from lines through shape.
template <typename Shape>
StoreStatus writeLines(const QString &path, std::span<const QByteArrayView> lines, Shape &&shape,
                       Platform::FileStamp *stamp = nullptr) {
    StoreStatus refused = StoreStatus::Ok;
    const bool written = Platform::writeFileAtomically(
        path,
        [&](const Platform::ChunkWriter &write) {
            return streamLines(lines, shape, write, refused);
        },
        stamp);
    if (refused != StoreStatus::Ok)
        return refused;
    return written ? StoreStatus::Ok : StoreStatus::WriteFailed;
}

// A record line in the form the scope's store holds it, written to dst (room
// for line.size() bytes): field-ciphered, and in the copy enciphered again.
// UnsafeRecord when it would not read back as the same single line. The
// field cipher leaves CR and LF as they are, so its pass sees them; the key's
// pass sees any it makes.
class StoredForm {
public:
    StoredForm(Scope scope, const QByteArray &key)
        : m_inCopy(scope == Scope::ProgramAndDBase), m_key(key), m_stream(key) {}

    StoreStatus operator()(QByteArrayView line, char *dst) {
        if (!EncodeInto(line, dst) || line.isEmpty())
            return StoreStatus::UnsafeRecord;
        if (!m_inCopy)
            return StoreStatus::Ok;
        if (m_key.isEmpty())
            return StoreStatus::NoKey;
        return m_stream.encipher(dst, dst, line.size());
    }

private:
    bool m_inCopy;
    QByteArray m_key;
    KeyCover m_stream;
};

// Lines deciphered under another password than the one they were written
// with are noise: control bytes, no field separator. A copy none of whose
// lines reads as a record was written under another password (or is wholly
// damaged); one damaged line among records is still a store.
bool decipheredToRecords(std::span<const QByteArrayView> records) {
    bool anyLine = false;
    for (const QByteArrayView record : records) {
        if (record.isEmpty())
            continue;
        anyLine = true;
        const bool noise = std::any_of(record.begin(), record.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
        });
        if (!noise && record.contains(":!"))
            return true;
    }
    return !anyLine;
}

} // namespace

QString StoreFile(const StorePaths &paths, Scope scope) {
    switch (scope) {
    case Scope::ProgramAndDBase:
        return paths.copy();
    case Scope::Strong:
        return paths.strongStore();
    case Scope::None:
    case Scope::ProgramOnly:
        break;
    }
    return paths.database();
}

StoreStatus LoadDatabase(const StorePaths &paths, Scope scope, const QByteArray &key,
                         RecordList &list, Platform::FileStamp *stamp) {
    if (scope == Scope::Strong)
        return StoreStatus::NoKey; // the strong store has its own reader
    const QString path = StoreFile(paths, scope);
    if (!Platform::exists(path)) {
        if (stamp)
            *stamp = Platform::stampOf(path);
        return StoreStatus::Missing;
    }
    QByteArray content;
    if (!Platform::readFile(path, content, stamp))
        return StoreStatus::ReadFailed;
    return AddStoredRecords(std::move(content), scope, key, list);
}

StoreStatus AddStoredRecords(QByteArray content, Scope scope, const QByteArray &key,
                             RecordList &list) {
    // Deciphered and decoded where it was read: the records stay views into
    // this one block, which the list then keeps. A large store is cut into
    // lines, deciphered and decoded a half on each core; a half ends with a
    // line, so the lines are the ones one pass would find.
    content.detach();
    char *const data = content.data();
    const qsizetype size = content.size();
    const bool keyed = scope == Scope::ProgramAndDBase;
    // Each part also finds where its sorted run ends, while its lines are
    // fresh in the cache.
    const auto readSpan = [keyed, &key](char *from, qsizetype length,
                                        std::vector<QByteArrayView> &lines, size_t &sorted) {
        if (!keyed)
            AppendLineViews(QByteArrayView(from, length), lines);
        else if (!DecipherLinesInPlace(from, length, key, lines))
            return false;
        DecodeInPlace(from, length);
        sorted = size_t(std::is_sorted_until(lines.begin(), lines.end(), RecordList::lessThan) -
                        lines.begin());
        return true;
    };
    std::vector<QByteArrayView> records;
    bool read = true;
    size_t sorted = 0;
    const qsizetype split = size < kSplitLoadAt ? -1 : content.indexOf('\n', size / 2) + 1;
    if (split <= 0 || Parallel::Cores() < 2) {
        read = readSpan(data, size, records, sorted);
    } else {
        // Room for both halves, so the second joins the first without a move.
        records.reserve(size_t(size / 32 + 16));
        Platform::adviseLargeBlock(records.data(),
                                   qsizetype(records.capacity() * sizeof(QByteArrayView)));
        std::vector<QByteArrayView> later;
        bool laterRead = true;
        size_t laterSorted = 0;
        Parallel::Both(
            [&] { read = readSpan(data, split, records, sorted); },
            [&] { laterRead = readSpan(data + split, size - split, later, laterSorted); });
        read = read && laterRead;
        if (sorted == records.size() &&
            (later.empty() || records.empty() || !RecordList::lessThan(later[0], records.back())))
            sorted += laterSorted;
        records.insert(records.end(), later.begin(), later.end());
    }
    if (!read)
        return StoreStatus::NoKey;
    // A copy written under another password (its new settings not here yet)
    // is neither listed nor ever written to.
    if (scope == Scope::ProgramAndDBase && !decipheredToRecords(records))
        return StoreStatus::OtherKey;
    list.adopt(std::move(content), std::move(records), sorted);
    return StoreStatus::Ok;
}

StoreStatus CheckStorable(QByteArrayView line, Scope scope, const QByteArray &key) {
    QByteArray stored(line.size(), Qt::Uninitialized);
    return StoredForm(scope, key)(line, stored.data());
}

StoreStatus AppendRecord(const StorePaths &paths, Scope scope, QByteArrayView line,
                         const QByteArray &key, Platform::FileStamp *written) {
    if (scope == Scope::Strong)
        return StoreStatus::NoKey; // the strong store has its own writer
    QByteArray stored(line.size() + 2, Qt::Uninitialized);
    if (const StoreStatus form = StoredForm(scope, key)(line, stored.data());
        form != StoreStatus::Ok)
        return form;
    stored[line.size()] = '\r';
    stored[line.size() + 1] = '\n';
    if (!Platform::appendToFile(StoreFile(paths, scope), stored, written))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus RewriteDatabase(const StorePaths &paths, Scope scope,
                            std::span<const QByteArrayView> lines, const QByteArray &key,
                            Platform::FileStamp *written) {
    if ((scope == Scope::ProgramAndDBase && key.isEmpty() && !lines.empty()) ||
        scope == Scope::Strong)
        return StoreStatus::NoKey;
    // A line that would not read back whole abandons the write and leaves the
    // store as it was.
    return writeLines(StoreFile(paths, scope), lines, StoredForm(scope, key), written);
}

StoreStatus WriteStoredLines(const QString &path, std::span<const QByteArrayView> lines,
                             const QByteArray &key) {
    KeyCover keyStream(key);
    return writeLines(path, lines, [&](QByteArrayView line, char *dst) {
        if (key.isEmpty()) {
            std::memcpy(dst, line.data(), size_t(line.size()));
            return StoreStatus::Ok;
        }
        return keyStream.encipher(line.data(), dst, line.size());
    });
}

StoreStatus RewriteDatabase(const StorePaths &paths, Scope scope, const QList<QByteArray> &lines,
                            const QByteArray &key) {
    const std::vector<QByteArrayView> views(lines.cbegin(), lines.cend());
    return RewriteDatabase(paths, scope, views, key);
}

void RemoveStaleTempFile(const StorePaths &paths) {
    Platform::removeOwnLeftover(paths.tempFile());
}
