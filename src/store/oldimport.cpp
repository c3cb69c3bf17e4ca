#include "oldimport.h"

#include "fieldcipher.h"
#include "linefile.h"
#include "platform.h"

QByteArray ConvertOldRecord(const QByteArray &oldRecord) {
    QByteArray converted;
    QByteArray rest = oldRecord;
    bool split = true;
    while (split) {
        split = false;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            // The address test comes before the fifth character is looked at:
            // an address is the last field, colons and all. It takes the same
            // place as any other last field, so it lands in the path.
            if (i == 4 && rest.startsWith("http"))
                break;
            if (rest.at(i) == ':') {
                converted.append(rest.left(i));
                converted.append(":!");
                rest = rest.mid(i + 1);
                split = true;
                break;
            }
        }
    }
    if (rest.isEmpty())
        return converted;
    return converted + ":!" + rest;
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
