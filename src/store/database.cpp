#include "database.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "platform.h"
#include "stringcipher.h"

#include <algorithm>
#include <cstring>

namespace {

// The store's content for record lines: each field-ciphered, and under a key
// enciphered again, ended by CR LF. One pass, one buffer. False when a line is
// empty or holds a line break, or when a key makes one; content is then unusable.
bool encodeLines(const QList<QByteArray> &lines, QByteArray &content,
                 const QByteArray &key = QByteArray()) {
    qsizetype total = 0;
    qsizetype longest = 0;
    for (const QByteArray &line : lines) {
        total += line.size() + 2;
        longest = std::max(longest, line.size());
    }
    const QByteArray keyStream = KeyStream(key, longest);
    content = QByteArray(total, Qt::Uninitialized);
    char *dst = content.data();
    bool safe = true;
    for (const QByteArray &line : lines) {
        const qsizetype size = line.size();
        // The field cipher leaves CR and LF as they are, so the fresh image
        // shows whether the line held one; it is still in the cache.
        EncodeInto(line, dst);
        safe &= size > 0 && !std::memchr(dst, '\n', size) && !std::memchr(dst, '\r', size);
        if (!keyStream.isEmpty())
            safe &= XorInvertSpan(dst, dst, size, keyStream.constData());
        dst += size;
        *dst++ = '\r';
        *dst++ = '\n';
    }
    return safe;
}

bool containsLineBreak(const QByteArray &line) {
    return line.contains('\n') || line.contains('\r');
}

} // namespace

QString StoreFile(const StorePaths &paths, Scope scope) {
    return scope == Scope::ProgramAndDBase ? paths.copy() : paths.database();
}

StoreStatus LoadDatabase(const StorePaths &paths, Scope scope, const QByteArray &key,
                         RecordList &list, Platform::FileStamp *stamp) {
    const QString path = StoreFile(paths, scope);
    if (stamp)
        *stamp = Platform::stampOf(path);
    if (!Platform::exists(path))
        return StoreStatus::Missing;
    QByteArray content;
    if (!Platform::readFile(path, content, stamp))
        return StoreStatus::ReadFailed;
    return AddStoredRecords(std::move(content), scope, key, list);
}

StoreStatus AddStoredRecords(QByteArray content, Scope scope, const QByteArray &key,
                             RecordList &list) {
    if (scope == Scope::ProgramAndDBase && !content.isEmpty()) {
        QByteArray deciphered;
        if (!XorInvertContent(content, key, deciphered))
            return StoreStatus::NoKey;
        content = std::move(deciphered);
    }
    DecodeInPlace(content);
    list.append(SplitLines(content));
    return StoreStatus::Ok;
}

StoreStatus CheckStorable(const QByteArray &line, Scope scope, const QByteArray &key) {
    if (line.isEmpty() || containsLineBreak(line))
        return StoreStatus::UnsafeRecord;
    if (scope == Scope::ProgramAndDBase) {
        if (key.isEmpty())
            return StoreStatus::NoKey;
        if (!EnciphersToOneLine(EncodeLine(line), key))
            return StoreStatus::UnsafeRecord;
    }
    return StoreStatus::Ok;
}

StoreStatus AppendRecord(const StorePaths &paths, Scope scope, const QByteArray &line,
                         const QByteArray &key) {
    const StoreStatus storable = CheckStorable(line, scope, key);
    if (storable != StoreStatus::Ok)
        return storable;
    QByteArray stored = EncodeLine(line);
    if (scope == Scope::ProgramAndDBase) {
        QByteArray enciphered;
        XorInvert(stored, key, enciphered);
        stored = std::move(enciphered);
    }
    stored.append("\r\n", 2);
    if (!Platform::appendToFile(StoreFile(paths, scope), stored))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus RewriteDatabase(const StorePaths &paths, Scope scope, const QList<QByteArray> &lines,
                            const QByteArray &key) {
    const bool inCopy = scope == Scope::ProgramAndDBase;
    if (inCopy && key.isEmpty() && !lines.isEmpty())
        return StoreStatus::NoKey;
    // A line that would not read back whole leaves the store as it was.
    QByteArray content;
    if (!encodeLines(lines, content, inCopy ? key : QByteArray()))
        return StoreStatus::UnsafeRecord;
    if (!Platform::writeFileAtomically(StoreFile(paths, scope), content))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

void RemoveStaleTempFile(const StorePaths &paths) {
    Platform::removeOwnLeftover(paths.tempFile());
}
