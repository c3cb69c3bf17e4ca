#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstring>
#include <vector>

// How the store's lines are read: each ends at LF, a CR before the LF is part
// of the ending, and a last line without an ending counts too. Commas and
// quotes are ordinary characters. Empty lines are dropped: a store never
// writes them. With endedLast the content is read as if CR LF followed it, so
// a last line without an ending keeps a CR it ends with.
template <typename F> void ForEachLine(QByteArrayView content, F &&take, bool endedLast = false) {
    const char *const data = content.data();
    const qsizetype size = content.size();
    qsizetype from = 0;
    while (from < size) {
        const auto *lf =
            static_cast<const char *>(std::memchr(data + from, '\n', size_t(size - from)));
        const qsizetype end = lf ? lf - data : size;
        qsizetype stop = end;
        if (stop > from && data[stop - 1] == '\r' && (lf || !endedLast))
            --stop;
        if (stop > from)
            take(QByteArrayView(data + from, stop - from));
        from = end + 1;
    }
}

// The lines of content as copies, and as views into it for a pass that needs none.
QList<QByteArray> SplitLines(const QByteArray &content);
std::vector<QByteArrayView> LineViews(QByteArrayView content);
// The same views appended to lines.
void AppendLineViews(QByteArrayView content, std::vector<QByteArrayView> &lines);
