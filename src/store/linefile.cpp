#include "linefile.h"

#include "platform.h"

void AppendLineViews(QByteArrayView content, std::vector<QByteArrayView> &lines) {
    // Room for records of 32 bytes on average, real ones are longer: the
    // space never touched costs no memory, and large pages make filling a
    // million entries cheap.
    if (lines.empty()) {
        lines.reserve(size_t(content.size() / 32 + 16));
        Platform::adviseLargeBlock(lines.data(),
                                   qsizetype(lines.capacity() * sizeof(QByteArrayView)));
    }
    ForEachLine(content, [&lines](QByteArrayView line) { lines.push_back(line); });
}

std::vector<QByteArrayView> LineViews(QByteArrayView content) {
    std::vector<QByteArrayView> lines;
    AppendLineViews(content, lines);
    return lines;
}

QList<QByteArray> SplitLines(const QByteArray &content) {
    QList<QByteArray> lines;
    ForEachLine(content, [&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}
