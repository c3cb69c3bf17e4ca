#include "recordline.h"

#include "strongstore.h"

RecordFields::~RecordFields() {
    for (QByteArray &field : *this)
        Strong::Wipe(field);
}

bool FitsRecordLine(Field field, QByteArrayView text) {
    return field == Field::Path || !text.contains(QByteArrayView(kSeparator));
}

bool HoldsLineBreak(QByteArrayView line) {
    return line.contains('\n') || line.contains('\r');
}

QLatin1String FieldCaption(Field field) {
    switch (field) {
    case Field::Service:
        return QLatin1String("Service");
    case Field::UserName:
        return QLatin1String("Username");
    case Field::Password:
        return QLatin1String("Password");
    case Field::OtherInfo:
        return QLatin1String("Other Info");
    case Field::Path:
        break;
    }
    return QLatin1String("Path");
}

QByteArray ComposeRecordLine(const RecordFields &fields) {
    qsizetype size = 2 * (kFieldCount - 1);
    for (const QByteArray &field : fields)
        size += field.size();
    QByteArray line;
    line.reserve(size);
    for (const Field field : kFields) {
        if (field != Field::Service)
            line.append(kSeparator, 2);
        line.append(fields[field]);
    }
    return line;
}

bool SplitRecordLine(QByteArrayView line, RecordFields &fields) {
    qsizetype from = 0;
    for (const Field field : kFields) {
        if (field == Field::Path)
            break;
        const qsizetype p = line.indexOf(kSeparator, from);
        if (p < 0)
            return false;
        fields[field] = line.sliced(from, p - from).toByteArray();
        from = p + 2;
    }
    if (from < line.size())
        fields[Field::Path] = line.sliced(from).toByteArray();
    return true;
}

QByteArray ServiceName(QByteArrayView line) {
    const qsizetype p = line.indexOf(kSeparator);
    return (p < 0 ? line : line.first(p)).toByteArray();
}

QByteArrayView FieldView(QByteArrayView line, Field field) {
    qsizetype from = 0;
    for (const Field each : kFields) {
        const qsizetype p = each == Field::Path ? line.size() : line.indexOf(kSeparator, from);
        if (p < 0)
            return each == Field::Service && field == Field::Service ? line : QByteArrayView();
        if (each == field)
            return line.sliced(from, p - from);
        from = p + 2;
    }
    return {};
}
