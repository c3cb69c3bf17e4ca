#include "recordlist.h"

#include "fold.h"
#include "recordline.h"

#include <algorithm>
#include <array>

namespace {} // namespace

RecordList::RecordList(QList<QByteArray> lines) : m_lines(std::move(lines)) {
    std::stable_sort(m_lines.begin(), m_lines.end(), lessThan);
}

bool RecordList::lessThan(const QByteArray &a, const QByteArray &b) {
    const qsizetype n = std::min(a.size(), b.size());
    const auto *pa = reinterpret_cast<const unsigned char *>(a.constData());
    const auto *pb = reinterpret_cast<const unsigned char *>(b.constData());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char fa = kFold[pa[i]];
        const unsigned char fb = kFold[pb[i]];
        if (fa != fb)
            return fa < fb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

QByteArray RecordList::serviceName(qsizetype i) const {
    return ServiceName(m_lines.at(i));
}

qsizetype RecordList::indexOf(const QByteArray &line) const {
    const auto it = std::lower_bound(m_lines.cbegin(), m_lines.cend(), line, lessThan);
    if (it != m_lines.cend() && *it == line)
        return it - m_lines.cbegin();
    return -1;
}

void RecordList::append(const QList<QByteArray> &lines) {
    const qsizetype before = m_lines.size();
    m_lines.append(lines);
    // A store is written in list order, so what is read is usually in order
    // already: then only the seam between old and new entries needs merging.
    const auto middle = m_lines.begin() + before;
    if (!std::is_sorted(middle, m_lines.end(), lessThan))
        std::stable_sort(middle, m_lines.end(), lessThan);
    std::inplace_merge(m_lines.begin(), middle, m_lines.end(), lessThan);
}

qsizetype RecordList::insertSorted(const QByteArray &line) {
    const auto it = std::upper_bound(m_lines.cbegin(), m_lines.cend(), line, lessThan);
    const qsizetype index = it - m_lines.cbegin();
    m_lines.insert(index, line);
    return index;
}

RecordList::Change RecordList::add(const QByteArray &line, qsizetype *index) {
    if (contains(line))
        return Change::Duplicate;
    const qsizetype at = insertSorted(line);
    if (index)
        *index = at;
    return Change::Done;
}

RecordList::Change RecordList::replace(qsizetype index, const QByteArray &line,
                                       qsizetype *newIndex) {
    if (index < 0 || index >= m_lines.size())
        return Change::BadIndex;
    if (contains(line))
        return Change::NoChange;
    m_lines.removeAt(index);
    const qsizetype at = insertSorted(line);
    if (newIndex)
        *newIndex = at;
    return Change::Done;
}

RecordList::Change RecordList::remove(qsizetype index) {
    if (index < 0 || index >= m_lines.size())
        return Change::BadIndex;
    m_lines.removeAt(index);
    return Change::Done;
}
