#include "linefile.h"

QList<QByteArrayView> LineViews(const QByteArray &content) {
    QList<QByteArrayView> lines;
    lines.reserve(content.size() / 64 + 1); // a guess; records run longer
    const char *data = content.constData();
    qsizetype from = 0;
    const qsizetype size = content.size();
    while (from < size) {
        qsizetype end = content.indexOf('\n', from);
        const qsizetype next = end < 0 ? size : end + 1;
        if (end < 0)
            end = size;
        qsizetype stop = end;
        if (stop > from && data[stop - 1] == '\r')
            --stop;
        if (stop > from)
            lines.append(QByteArrayView(data + from, stop - from));
        from = next;
    }
    return lines;
}

QList<QByteArray> SplitLines(const QByteArray &content) {
    QList<QByteArray> lines;
    const QList<QByteArrayView> views = LineViews(content);
    lines.reserve(views.size());
    for (const QByteArrayView view : views)
        lines.append(view.toByteArray());
    return lines;
}

QByteArray JoinLines(const QList<QByteArray> &lines) {
    qsizetype total = 0;
    for (const QByteArray &line : lines)
        total += line.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QByteArray &line : lines) {
        out.append(line);
        out.append("\r\n", 2);
    }
    return out;
}
