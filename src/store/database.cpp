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
            safe &= XorInvertSpan(dst, size, keyStream.constData());
        dst += size;
        *dst++ = '\r';
        *dst++ = '\n';
    }
    return safe;
}

StoreStatus readContent(const QString &path, QByteArray &content) {
    if (!Platform::exists(path))
        return StoreStatus::Missing;
    if (!Platform::readFile(path, content))
        return StoreStatus::ReadFailed;
    return StoreStatus::Ok;
}

bool containsLineBreak(const QByteArray &line) {
    return line.contains('\n') || line.contains('\r');
}

} // namespace

StoreStatus LoadDatabase(const StorePaths &paths, int scope, RecordList &list) {
    QByteArray content;
    const StoreStatus status =
        readContent(scope == 1 ? paths.tempFile() : paths.database(), content);
    if (status != StoreStatus::Ok)
        return status;
    AddStoredRecords(std::move(content), list);
    return StoreStatus::Ok;
}

void AddStoredRecords(QByteArray content, RecordList &list) {
    DecodeInPlace(content);
    list.append(SplitLines(content));
}

StoreStatus DecipherToTemp(const StorePaths &paths, const QByteArray &key) {
    QByteArray content;
    StoreStatus status = readContent(paths.copy(), content);
    if (status == StoreStatus::Ok) {
        QByteArray deciphered;
        if (!XorInvertContent(content, key, deciphered))
            status = StoreStatus::NoKey;
        else if (!Platform::writePrivateFile(paths.tempFile(), deciphered))
            status = StoreStatus::TempFailed;
    }
    if (status != StoreStatus::Ok)
        DeleteTempFile(paths);
    return status;
}

StoreStatus EncipherFromTemp(const StorePaths &paths, const QByteArray &key) {
    QByteArray content;
    const StoreStatus status = readContent(paths.tempFile(), content);
    if (status != StoreStatus::Ok)
        return status;
    bool lineSafe = true;
    if (!XorInvertInPlace(content, key, &lineSafe))
        return StoreStatus::NoKey;
    if (!lineSafe)
        return StoreStatus::UnsafeRecord;
    if (!Platform::writeFileAtomically(paths.copy(), content))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus AppendEnciphered(const StorePaths &paths, const QByteArray &cipherLine,
                             const QByteArray &key) {
    QByteArray content;
    if (!XorInvert(cipherLine, key, content))
        return StoreStatus::NoKey;
    if (!EnciphersToOneLine(cipherLine, key))
        return StoreStatus::UnsafeRecord;
    content.append("\r\n", 2);
    if (!Platform::appendToFile(paths.copy(), content))
        return StoreStatus::WriteFailed;
    return StoreStatus::Ok;
}

StoreStatus CheckStorable(const QByteArray &line, int scope, const QByteArray &key) {
    if (line.isEmpty() || containsLineBreak(line))
        return StoreStatus::UnsafeRecord;
    if (scope == 1) {
        if (key.isEmpty())
            return StoreStatus::NoKey;
        if (!EnciphersToOneLine(EncodeLine(line), key))
            return StoreStatus::UnsafeRecord;
    }
    return StoreStatus::Ok;
}

StoreStatus AppendRecord(const StorePaths &paths, int scope, const QByteArray &line,
                         const QByteArray &key) {
    const StoreStatus storable = CheckStorable(line, scope, key);
    if (storable != StoreStatus::Ok)
        return storable;
    const QByteArray cipherLine = EncodeLine(line);
    if (scope == 0 || scope == 2) {
        if (!Platform::appendToFile(paths.database(), cipherLine + "\r\n"))
            return StoreStatus::WriteFailed;
        return StoreStatus::Ok;
    }
    if (scope == 1)
        return AppendEnciphered(paths, cipherLine, key);
    return StoreStatus::Ok;
}

StoreStatus RewriteDatabase(const StorePaths &paths, int scope, const QList<QByteArray> &lines,
                            const QByteArray &key) {
    if (scope == 1 && key.isEmpty() && !lines.isEmpty())
        return StoreStatus::NoKey;
    if (scope != 0 && scope != 1 && scope != 2)
        return StoreStatus::Ok;
    // Under scope 1 the copy is enciphered straight from memory: a rewrite
    // never puts the records into the shared temporary folder. A line that
    // would not read back whole leaves the store as it was.
    QByteArray content;
    if (!encodeLines(lines, content, scope == 1 ? key : QByteArray()))
        return StoreStatus::UnsafeRecord;
    if (!Platform::writeFileAtomically(scope == 1 ? paths.copy() : paths.database(), content))
        return StoreStatus::WriteFailed;
    if (scope == 1)
        DeleteTempFile(paths); // nothing of an earlier session is left behind
    return StoreStatus::Ok;
}

bool DeleteTempFile(const StorePaths &paths) {
    return Platform::removeFile(paths.tempFile());
}

StoreStatus LoadStore(const StorePaths &paths, int scope, const QByteArray &key, RecordList &list) {
    if (scope != 1)
        return LoadDatabase(paths, scope, list);
    StoreStatus status = DecipherToTemp(paths, key);
    if (status == StoreStatus::Ok)
        status = LoadDatabase(paths, scope, list);
    DeleteTempFile(paths);
    return status;
}
