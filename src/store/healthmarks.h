#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "platform.h"

#include <set>
#include <utility>
#include <vector>

// The records the user marked "not a concern" in the password health report,
// kept in a small file of their own beside the store so no protection's
// record format has to change. The file holds no name or password: only a
// keyed hash of each marked record's identity, under a random key kept in
// the file, so it can not be read back into the records it marks.
//
// Two computers that mark records apart leave the sync tool's conflict copy
// of the file beside it; its marks count too, and the next write takes them
// in (each under its own key, for the identities can not be got back to
// hash them again) and removes the copy.
class HealthMarks {
public:
    // The marks in the file and in the conflict copies beside it; none where
    // a file is missing or is not such a file.
    static HealthMarks read(const QString &path);
    // Replaces the file in one step, then removes the conflict copies taken
    // in. False when it could not be written.
    bool write(const QString &path) const;

    bool marked(QByteArrayView identity) const;
    void setMarked(QByteArrayView identity, bool marked);
    qsizetype size() const;

private:
    struct Section {
        QByteArray key;
        std::set<QByteArray> tags;
        QByteArray tagOf(QByteArrayView identity) const;
    };
    bool readFile(const QString &path); // false: not a marks file
    std::vector<Section> m_sections;    // the first is this computer's own
    std::vector<std::pair<QString, Platform::FileStamp>> m_copies;
};
