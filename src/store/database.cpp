#include "database.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "platform.h"
#include "stringcipher.h"

namespace {

QByteArray encodeLines(const QList<QByteArray> &lines) {
    qsizetype total = 0;
    for (const QByteArray &line : lines)
        total += line.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QByteArray &line : lines) {
        out.append(EncodeLine(line));
        out.append("\r\n", 2);
    }
    return out;
}

StoreStatus readLines(const QString &path, QList<QByteArray> &lines) {
    if (!Platform::exists(path))
        return StoreStatus::Missing;
    QByteArray content;
    if (!Platform::readFile(path, content))
        return StoreStatus::ReadFailed;
    lines = SplitLines(content);
    return StoreStatus::Ok;
}

bool containsLineBreak(const QByteArray &line) {
    return line.contains('\n') || line.contains('\r');
}

} // namespace

StoreStatus LoadDatabase(const StorePaths &paths, int scope, RecordList &list) {
    QList<QByteArray> lines;
    const StoreStatus status = readLines(scope == 1 ? paths.tempFile() : paths.database(), lines);
    if (status != StoreStatus::Ok)
        return status;
    for (QByteArray &line : lines)
        line = DecodeLine(line);
    list.append(lines);
    return StoreStatus::Ok;
}

StoreStatus DecipherToTemp(const StorePaths &paths, const QByteArray &key) {
    QList<QByteArray> lines;
    StoreStatus status = readLines(paths.copy(), lines);
    if (status == StoreStatus::Ok) {
        QByteArray content;
        if (!XorInvertLines(lines, key, content))
            status = StoreStatus::NoKey;
        else if (!Platform::writePrivateFile(paths.tempFile(), content))
            status = StoreStatus::TempFailed;
    }
    if (status != StoreStatus::Ok)
        DeleteTempFile(paths);
    return status;
}

StoreStatus EncipherFromTemp(const StorePaths &paths, const QByteArray &key) {
    QList<QByteArray> lines;
    const StoreStatus status = readLines(paths.tempFile(), lines);
    if (status != StoreStatus::Ok)
        return status;
    QByteArray content;
    if (!XorInvertLines(lines, key, content))
        return StoreStatus::NoKey;
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
        const StoreStatus storable = CheckStorable(line, scope, key);
        if (storable != StoreStatus::Ok)
            return storable;
    }
    const QByteArray content = encodeLines(lines);
    if (scope == 0 || scope == 2) {
        if (!Platform::writeFileAtomically(paths.database(), content))
            return StoreStatus::WriteFailed;
        return StoreStatus::Ok;
    }
    if (scope != 1)
        return StoreStatus::Ok;
    StoreStatus status = StoreStatus::TempFailed;
    if (Platform::writePrivateFile(paths.tempFile(), content))
        status = EncipherFromTemp(paths, key);
    if (status == StoreStatus::Missing || status == StoreStatus::ReadFailed)
        status = StoreStatus::TempFailed;
    DeleteTempFile(paths);
    return status;
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
