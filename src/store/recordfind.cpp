#include "recordfind.h"

#include "fold.h"
#include "recordline.h"

#include <algorithm>
#include <thread>

namespace {

// Whether the folded needle occurs in the bytes, each folded as it is read.
bool containsFolded(const char *data, qsizetype size, const QByteArray &needle) {
    const qsizetype length = needle.size();
    const auto *text = reinterpret_cast<const unsigned char *>(data);
    const auto *wanted = reinterpret_cast<const unsigned char *>(needle.constData());
    for (qsizetype i = 0; i + length <= size; ++i) {
        if (kFold[text[i]] != wanted[0])
            continue;
        qsizetype j = 1;
        while (j < length && kFold[text[i + j]] == wanted[j])
            ++j;
        if (j == length)
            return true;
    }
    return false;
}

// The password is the third field: the text before it and the text after it
// are searched apart, so no match reaches into it.
bool recordMatches(QByteArrayView line, const QByteArray &needle) {
    const qsizetype first = line.indexOf(kSeparator);
    const qsizetype second = first < 0 ? -1 : line.indexOf(kSeparator, first + 2);
    const qsizetype third = second < 0 ? -1 : line.indexOf(kSeparator, second + 2);
    const qsizetype before = second < 0 ? line.size() : second;
    return containsFolded(line.data(), before, needle) ||
           (third >= 0 && containsFolded(line.data() + third + 2, line.size() - third - 2, needle));
}

// Below this many records one core searches them all sooner than two can start.
constexpr qsizetype kSplitAt = 65536;

} // namespace

QList<qsizetype> FindRecords(const RecordList &records, QByteArrayView text,
                             const QList<qsizetype> *within) {
    const qsizetype count = within ? within->size() : records.size();
    const auto recordAt = [&](qsizetype i) { return within ? within->at(i) : i; };
    QByteArray needle(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        needle[i] = char(kFold[static_cast<unsigned char>(text[i])]);
    const auto search = [&](qsizetype begin, qsizetype end, QList<qsizetype> &found) {
        for (qsizetype i = begin; i < end; ++i) {
            const qsizetype record = recordAt(i);
            if (needle.isEmpty() || recordMatches(records.line(record), needle))
                found.append(record);
        }
    };
    QList<qsizetype> found;
    if (count < kSplitAt || std::thread::hardware_concurrency() < 2) {
        search(0, count, found);
        return found;
    }
    // Two halves at once, joined in list order.
    QList<qsizetype> later;
    std::thread helper([&] { search(count / 2, count, later); });
    search(0, count / 2, found);
    helper.join();
    found.append(later);
    return found;
}

bool FindNarrows(QByteArrayView previous, QByteArrayView text) {
    return !previous.isEmpty() && containsFolded(text.data(), text.size(), [&] {
        QByteArray folded(previous.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < previous.size(); ++i)
            folded[i] = char(kFold[static_cast<unsigned char>(previous[i])]);
        return folded;
    }());
}
