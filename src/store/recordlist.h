#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

// The stored records in their list order: sorted by the whole record line with
// letter case ignored. The visible service names are derived from the same
// entries, so a name and its record can never fall out of step.
//
// A loaded store stays one block of bytes and every record is a view into it:
// a million records cost one allocation, not a million, and are never copied.
class RecordList {
public:
    enum class Change { Done, Duplicate, NoChange, BadIndex };

    RecordList() = default;
    explicit RecordList(const QList<QByteArray> &lines);

    qsizetype size() const { return qsizetype(m_lines.size()); }
    bool isEmpty() const { return m_lines.empty(); }
    QByteArrayView line(qsizetype i) const { return m_lines.at(size_t(i)); }
    std::span<const QByteArrayView> lines() const { return m_lines; }
    QList<QByteArray> toList() const;
    QByteArray serviceName(qsizetype i) const;

    // Exact, case-sensitive match; -1 when absent.
    qsizetype indexOf(QByteArrayView line) const;
    bool contains(QByteArrayView line) const { return indexOf(line) >= 0; }

    // Adds lines read from a store: none is dropped, duplicates included.
    void append(const QList<QByteArray> &lines);
    // The same for a block of bytes the lines are views into: the block is
    // kept as it is, so the views stay valid, and a block already in list
    // order is not sorted again.
    // sortedUntil, where the caller has found it, is where the lines' sorted
    // run ends (as std::is_sorted_until gives it).
    void adopt(QByteArray block, std::vector<QByteArrayView> lines,
               std::optional<size_t> sortedUntil = std::nullopt);

    // Adds one record unless an identical one is there.
    Change add(QByteArrayView line, qsizetype *index = nullptr);
    // Replaces the record at index unless the new line equals any stored line.
    Change replace(qsizetype index, QByteArrayView line, qsizetype *newIndex = nullptr);
    Change remove(qsizetype index);
    // Becomes a copy of other in the memory this list already has: a copy of
    // a million records then touches no fresh pages, which cost more than
    // the copy itself.
    void assign(const RecordList &other);
    // Empties the list but keeps its memory for the next assign().
    void release();
    // Zeroes the bytes the records were read into (those no other list
    // shares) and empties the list: the window locked.
    void wipe();

    // The list order: letter case ignored, ties broken by the exact bytes so
    // the order is the same at every start.
    static bool lessThan(QByteArrayView a, QByteArrayView b);

    friend bool operator==(const RecordList &a, const RecordList &b) {
        return std::equal(a.m_lines.begin(), a.m_lines.end(), b.m_lines.begin(), b.m_lines.end());
    }

private:
    QByteArrayView keep(QByteArrayView line);
    qsizetype insertSorted(QByteArrayView stored);
    void release(QByteArrayView line);

    std::vector<QByteArrayView> m_lines;
    // The bytes the views point into. They are never written after they are
    // added, so copies of the list share them safely.
    QList<QByteArray> m_blocks;
};
