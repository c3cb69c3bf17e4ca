#pragma once

#include <QByteArray>
#include <QList>

// The stored records in their list order: sorted by the whole record line with
// letter case ignored. The visible service names are derived from the same
// entries, so a name and its record can never fall out of step.
class RecordList {
public:
    enum class Change { Done, Duplicate, NoChange, BadIndex };

    RecordList() = default;
    explicit RecordList(QList<QByteArray> lines);

    qsizetype size() const { return m_lines.size(); }
    bool isEmpty() const { return m_lines.isEmpty(); }
    const QByteArray &line(qsizetype i) const { return m_lines.at(i); }
    const QList<QByteArray> &lines() const { return m_lines; }
    QByteArray serviceName(qsizetype i) const;

    // Exact, case-sensitive match; -1 when absent.
    qsizetype indexOf(const QByteArray &line) const;
    bool contains(const QByteArray &line) const { return indexOf(line) >= 0; }

    // Adds lines read from a store: none is dropped, duplicates included.
    void append(const QList<QByteArray> &lines);

    // Adds one record unless an identical one is there.
    Change add(const QByteArray &line, qsizetype *index = nullptr);
    // Replaces the record at index unless the new line equals any stored line.
    Change replace(qsizetype index, const QByteArray &line, qsizetype *newIndex = nullptr);
    Change remove(qsizetype index);

    // The list order: letter case ignored, ties broken by the exact bytes so
    // the order is the same at every start.
    static bool lessThan(const QByteArray &a, const QByteArray &b);

private:
    qsizetype insertSorted(const QByteArray &line);

    QList<QByteArray> m_lines;
};
