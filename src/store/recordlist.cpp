#include "recordlist.h"

#include "strongstore.h"

#include "fold.h"
#include "parallel.h"
#include "platform.h"
#include "recordline.h"

#include <algorithm>

namespace {

using Lines = std::vector<QByteArrayView>;

// Where the sorted run at the start of lines ends. Every start checks the
// whole store, so a large one is checked a half on each core.
Lines::iterator sortedRun(Lines &lines) {
    constexpr size_t kHalvesFrom = 1 << 16;
    if (lines.size() < kHalvesFrom || Parallel::Cores() < 2)
        return std::is_sorted_until(lines.begin(), lines.end(), RecordList::lessThan);
    const auto middle = lines.begin() + std::ptrdiff_t(lines.size() / 2);
    Lines::iterator first, later;
    Parallel::Both(
        [&] { first = std::is_sorted_until(lines.begin(), middle, RecordList::lessThan); },
        [&] { later = std::is_sorted_until(middle - 1, lines.end(), RecordList::lessThan); });
    return first != middle ? first : later;
}

// Merges the sorted tail into the sorted run before it, as std::inplace_merge
// would (a tail record goes after the run's records equal to it). A few
// appended records each find their place by a binary search and the run moves
// once, where a merge would compare every record of the run.
void mergeTail(Lines &lines, Lines::iterator tail) {
    const auto run = lines.begin();
    if ((lines.end() - tail) * 64 > tail - run) {
        std::inplace_merge(run, tail, lines.end(), RecordList::lessThan);
        return;
    }
    const Lines added(tail, lines.end());
    auto write = lines.end();
    auto unmoved = tail;
    for (auto record = added.rbegin(); record != added.rend(); ++record) {
        const auto place = std::upper_bound(run, unmoved, *record, RecordList::lessThan);
        write = std::move_backward(place, unmoved, write);
        *--write = *record;
        unmoved = place;
    }
}

} // namespace

RecordList::RecordList(const QList<QByteArray> &lines) {
    append(lines);
}

bool RecordList::lessThan(QByteArrayView a, QByteArrayView b) {
    const qsizetype n = std::min(a.size(), b.size());
    const auto *pa = reinterpret_cast<const unsigned char *>(a.data());
    const auto *pb = reinterpret_cast<const unsigned char *>(b.data());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char fa = kFold[pa[i]];
        const unsigned char fb = kFold[pb[i]];
        if (fa != fb)
            return fa < fb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a.compare(b) < 0;
}

QList<QByteArray> RecordList::toList() const {
    QList<QByteArray> out;
    out.reserve(size());
    for (const QByteArrayView line : m_lines)
        out.append(line.toByteArray());
    return out;
}

QByteArray RecordList::serviceName(qsizetype i) const {
    return ServiceName(line(i));
}

void RecordList::assign(const RecordList &other) {
    m_lines.assign(other.m_lines.begin(), other.m_lines.end());
    m_blocks = other.m_blocks;
}

void RecordList::release() {
    m_lines.clear();
    m_blocks.clear();
}

void RecordList::wipe() {
    m_lines.clear();
    for (QByteArray &block : m_blocks)
        Strong::Wipe(block);
    m_blocks.clear();
}

qsizetype RecordList::indexOf(QByteArrayView line) const {
    const auto it = std::lower_bound(m_lines.cbegin(), m_lines.cend(), line, lessThan);
    if (it != m_lines.cend() && *it == line)
        return it - m_lines.cbegin();
    return -1;
}

void RecordList::append(const QList<QByteArray> &lines) {
    // One block for all of them, laid out as a store would hold them.
    qsizetype total = 0;
    for (const QByteArray &line : lines)
        total += line.size();
    QByteArray block(total, Qt::Uninitialized);
    Platform::adviseLargeBlock(block.data(), total);
    std::vector<QByteArrayView> views;
    views.reserve(size_t(lines.size()));
    char *dst = block.data();
    for (const QByteArray &line : lines) {
        std::copy(line.cbegin(), line.cend(), dst);
        views.emplace_back(dst, line.size());
        dst += line.size();
    }
    adopt(std::move(block), std::move(views));
}

void RecordList::adopt(QByteArray block, std::vector<QByteArrayView> lines,
                       std::optional<size_t> sortedUntil) {
    if (lines.empty())
        return;
    m_blocks.append(std::move(block)); // moved, not copied: the views stay valid
    // A store is written in list order and added to at its end, so what is
    // read is a long sorted run and a short tail of appended records: only
    // the tail is sorted, then merged in, so a start after an Add costs what
    // a start of a sorted store does.
    const auto tail = sortedUntil ? lines.begin() + std::ptrdiff_t(*sortedUntil) : sortedRun(lines);
    if (tail != lines.end()) {
        std::stable_sort(tail, lines.end(), lessThan);
        mergeTail(lines, tail);
    }
    if (m_lines.empty()) {
        m_lines = std::move(lines);
        return;
    }
    const size_t before = m_lines.size();
    m_lines.insert(m_lines.end(), lines.begin(), lines.end());
    std::inplace_merge(m_lines.begin(), m_lines.begin() + std::ptrdiff_t(before), m_lines.end(),
                       lessThan);
}

QByteArrayView RecordList::keep(QByteArrayView line) {
    // Each added record gets a block of its own, freed again when it goes.
    m_blocks.append(line.toByteArray());
    return m_blocks.constLast();
}

qsizetype RecordList::insertSorted(QByteArrayView stored) {
    const auto it = std::upper_bound(m_lines.cbegin(), m_lines.cend(), stored, lessThan);
    const qsizetype index = it - m_lines.cbegin();
    m_lines.insert(it, stored);
    return index;
}

void RecordList::release(QByteArrayView line) {
    // Only a block holding exactly this line belongs to it alone; the bytes
    // of a loaded store stay until the list goes.
    for (qsizetype i = m_blocks.size() - 1; i >= 0; --i) {
        const QByteArray &block = m_blocks.at(i);
        if (block.constData() == line.data() && block.size() == line.size()) {
            m_blocks.removeAt(i);
            return;
        }
    }
}

RecordList::Change RecordList::add(QByteArrayView line, qsizetype *index) {
    if (contains(line))
        return Change::Duplicate;
    const qsizetype at = insertSorted(keep(line));
    if (index)
        *index = at;
    return Change::Done;
}

RecordList::Change RecordList::replace(qsizetype index, QByteArrayView line, qsizetype *newIndex) {
    if (index < 0 || index >= size())
        return Change::BadIndex;
    if (contains(line))
        return Change::NoChange;
    // Copied before the old record goes: line may be a view into its bytes.
    const QByteArrayView stored = keep(line);
    remove(index);
    const qsizetype at = insertSorted(stored);
    if (newIndex)
        *newIndex = at;
    return Change::Done;
}

RecordList::Change RecordList::remove(qsizetype index) {
    if (index < 0 || index >= size())
        return Change::BadIndex;
    const QByteArrayView line = m_lines.at(size_t(index));
    m_lines.erase(m_lines.begin() + index);
    release(line);
    return Change::Done;
}
