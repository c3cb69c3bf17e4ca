#include "recordline.h"

QByteArray ComposeRecordLine(const RecordFields &fields) {
    QByteArray line;
    line.reserve(fields[0].size() + fields[1].size() + fields[2].size() + fields[3].size() +
                 fields[4].size() + 8);
    for (int i = 0; i < kFieldCount; ++i) {
        if (i > 0)
            line.append(kSeparator, 2);
        line.append(fields[i]);
    }
    return line;
}

bool SplitRecordLine(QByteArrayView line, RecordFields &fields) {
    qsizetype from = 0;
    for (int i = 0; i < kFieldCount - 1; ++i) {
        const qsizetype p = line.indexOf(kSeparator, from);
        if (p < 0)
            return false;
        fields[i] = line.sliced(from, p - from).toByteArray();
        from = p + 2;
    }
    if (from < line.size())
        fields[kFieldCount - 1] = line.sliced(from).toByteArray();
    return true;
}

QByteArray ServiceName(QByteArrayView line) {
    const qsizetype p = line.indexOf(kSeparator);
    return (p < 0 ? line : line.first(p)).toByteArray();
}
