#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <set>

// The records the user marked "not a concern" in the password health report,
// kept in a small file of their own beside the store so no protection's
// record format has to change. The file holds no name or password: only a
// keyed hash of each marked record's identity, under a random key kept in
// the file, so it can not be read back into the records it marks.
class HealthMarks {
public:
    // The marks in the file; none when it is missing or is not such a file.
    static HealthMarks read(const QString &path);
    // Replaces the file in one step. False when it could not be written.
    bool write(const QString &path) const;

    bool marked(QByteArrayView identity) const;
    void setMarked(QByteArrayView identity, bool marked);
    qsizetype size() const { return qsizetype(m_tags.size()); }

private:
    QByteArray tagOf(QByteArrayView identity) const;
    QByteArray m_key;
    std::set<QByteArray> m_tags;
};
