#include "database.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "platform.h"
#include "stringcipher.h"

#include <algorithm>

namespace {

// The store's content for record lines: each field-ciphered, and under a key
// enciphered again, ended by CR LF. One pass, one buffer. lineSafe tells
// whether every enciphered line stays free of CR and LF.
QByteArray encodeLines(const QList<QByteArray> &lines, const QByteArray &key = QByteArray(),
                       bool *lineSafe = nullptr) {
    qsizetype total = 0;
    qsizetype longest = 0;
    for (const QByteArray &line : lines) {
        total += line.size() + 2;
        longest = std::max(longest, line.size());
    }
    const QByteArray keyStream = KeyStream(key, longest);
    QByteArray content(total, Qt::Uninitialized);
    char *dst = content.data();
    bool safe = true;
    for (const QByteArray &line : lines) {
        EncodeInto(line, dst);
        if (!keyStream.isEmpty())
            safe &= XorInvertSpan(dst, line.size(), keyStream.constData());
        dst += line.size();
        *dst++ = '\r';
        *dst++ = '\n';
    }
    if (lineSafe)
        *lineSafe = safe;
    return content;
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
    DecodeInPlace(content);
    list.append(SplitLines(content));
    return StoreStatus::Ok;
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
    for (const QByteArray &line : lines) {
        if (line.isEmpty() || containsLineBreak(line))
            return StoreStatus::UnsafeRecord;
    }
    if (scope == 1 && key.isEmpty() && !lines.isEmpty())
        return StoreStatus::NoKey;
    if (scope == 0 || scope == 2) {
        if (!Platform::writeFileAtomically(paths.database(), encodeLines(lines)))
            return StoreStatus::WriteFailed;
        return StoreStatus::Ok;
    }
    if (scope != 1)
        return StoreStatus::Ok;
    // The copy is enciphered straight from memory: a rewrite never puts the
    // records into the shared temporary folder, and a line that would not
    // read back whole under this key leaves the old copy as it was.
    bool lineSafe = true;
    const QByteArray content = encodeLines(lines, key, &lineSafe);
    if (!lineSafe)
        return StoreStatus::UnsafeRecord;
    if (!Platform::writeFileAtomically(paths.copy(), content))
        return StoreStatus::WriteFailed;
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
