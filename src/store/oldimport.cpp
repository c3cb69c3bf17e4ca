#include "oldimport.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "platform.h"

#include <cstring>

QByteArray ConvertOldRecord(const QByteArray &oldRecord) {
    QByteArray converted;
    converted.reserve(oldRecord.size() + oldRecord.size() / 2 + 4);
    const char *const data = oldRecord.constData();
    const qsizetype size = oldRecord.size();
    // The rest is what follows "from": walked once, never copied.
    qsizetype from = 0;
    for (;;) {
        const QByteArrayView rest(data + from, size - from);
        // The address test comes before the fifth character is looked at: an
        // address is the last field, colons and all. It takes the same place
        // as any other last field, so it lands in the path.
        const qsizetype scan = rest.size() > 4 && rest.startsWith("http") ? 4 : rest.size();
        const void *colon = std::memchr(rest.data(), ':', size_t(scan));
        if (!colon)
            break;
        const qsizetype field = static_cast<const char *>(colon) - rest.data();
        converted.append(rest.first(field));
        converted.append(":!");
        from += field + 1;
    }
    if (from == size)
        return converted;
    converted.append(":!");
    converted.append(QByteArrayView(data + from, size - from));
    return converted;
}

StoreStatus ReadOldDatabase(const QString &path, QList<QByteArray> &recordLines) {
    if (!Platform::exists(path))
        return StoreStatus::Missing;
    QByteArray content;
    if (!Platform::readFile(path, content))
        return StoreStatus::ReadFailed;
    recordLines = ConvertOldDatabase(std::move(content));
    return StoreStatus::Ok;
}

QList<QByteArray> ConvertOldDatabase(QByteArray content) {
    // Old records never hold a CR or LF, so any of CR, LF or CR LF ends one.
    content.replace('\r', '\n');
    const QList<QByteArray> lines = SplitLines(content);
    QList<QByteArray> recordLines;
    recordLines.reserve(lines.size());
    for (const QByteArray &line : lines) {
        const QByteArray converted = ConvertOldRecord(DecodeLine(line));
        if (!converted.isEmpty())
            recordLines.append(converted);
    }
    return recordLines;
}
