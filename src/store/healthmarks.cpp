#include "healthmarks.h"

#include "linefile.h"
#include "platform.h"

#include <QDir>
#include <QFileInfo>

#include <sodium.h>

namespace {

constexpr char kHeader[] = "varnlock health marks 1";
constexpr char kKeyLabel[] = "key ";
constexpr qsizetype kKeySize = 32;
constexpr qsizetype kTagSize = 16;

bool IsHex(QByteArrayView text, qsizetype size) {
    if (text.size() != size)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

HealthMarks HealthMarks::read(const QString &path) {
    HealthMarks marks;
    marks.m_sections.resize(1);
    marks.readFile(path);
    const QFileInfo file(path);
    const QStringList names = file.dir().entryList({file.fileName() + QStringLiteral("*")},
                                                   QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        if (name == file.fileName() ||
            !name.contains(QLatin1String("conflict"), Qt::CaseInsensitive))
            continue;
        // Stamped before it is read: a change after that keeps it.
        const QString copy = file.dir().filePath(name);
        const Platform::FileStamp stamp = Platform::stampOf(copy);
        if (marks.readFile(copy))
            marks.m_copies.emplace_back(copy, stamp); // only a marks file is ever removed
    }
    return marks;
}

// A file's sections: a "key" line, then the tags made with that key. The
// first section of the file itself is this computer's own.
bool HealthMarks::readFile(const QString &path) {
    QByteArray content;
    if (!Platform::readFile(path, content))
        return false;
    const std::vector<QByteArrayView> lines = LineViews(content);
    if (lines.empty() || lines[0] != kHeader)
        return false;
    const bool own = m_sections.size() == 1 && m_sections[0].key.isEmpty();
    Section *section = nullptr;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].startsWith(kKeyLabel)) {
            const QByteArrayView key = lines[i].sliced(qsizetype(sizeof kKeyLabel) - 1);
            section = nullptr;
            if (!IsHex(key, 2 * kKeySize))
                continue; // damaged: its tags mark nothing
            const QByteArray bytes = QByteArray::fromHex(key.toByteArray());
            // Both computers' files mostly share the key the first one made.
            for (Section &known : m_sections)
                if (known.key == bytes)
                    section = &known;
            if (!section && own && i == 1)
                section = &m_sections[0];
            if (!section) {
                m_sections.emplace_back();
                section = &m_sections.back();
            }
            section->key = bytes;
        } else if (section && IsHex(lines[i], 2 * kTagSize)) {
            section->tags.insert(QByteArray::fromHex(lines[i].toByteArray()));
        }
    }
    return true;
}

bool HealthMarks::write(const QString &path) const {
    QByteArray content = QByteArray(kHeader) + '\n';
    for (const Section &section : m_sections) {
        if (section.key.isEmpty() || (section.tags.empty() && &section != &m_sections[0]))
            continue;
        content += kKeyLabel + section.key.toHex() + '\n';
        for (const QByteArray &tag : section.tags)
            content += tag.toHex() + '\n';
    }
    if (!Platform::writeFileAtomically(path, content))
        return false;
    // A copy that changed since it was read holds marks not taken in: it stays.
    for (const auto &[copy, stamp] : m_copies)
        Platform::removeFileIfUnchanged(copy, stamp);
    return true;
}

QByteArray HealthMarks::Section::tagOf(QByteArrayView identity) const {
    QByteArray tag(kTagSize, Qt::Uninitialized);
    crypto_generichash(
        reinterpret_cast<unsigned char *>(tag.data()), size_t(tag.size()),
        reinterpret_cast<const unsigned char *>(identity.data()), size_t(identity.size()),
        reinterpret_cast<const unsigned char *>(key.constData()), size_t(key.size()));
    return tag;
}

bool HealthMarks::marked(QByteArrayView identity) const {
    for (const Section &section : m_sections)
        if (!section.key.isEmpty() && section.tags.count(section.tagOf(identity)) > 0)
            return true;
    return false;
}

void HealthMarks::setMarked(QByteArrayView identity, bool marked) {
    if (m_sections.empty())
        m_sections.resize(1);
    Section &own = m_sections[0];
    if (marked) {
        if (own.key.isEmpty()) {
            own.key.resize(kKeySize);
            randombytes_buf(own.key.data(), size_t(own.key.size()));
        }
        own.tags.insert(own.tagOf(identity));
        return;
    }
    // Taken away wherever it was made, here or on another computer.
    for (Section &section : m_sections)
        if (!section.key.isEmpty())
            section.tags.erase(section.tagOf(identity));
}

qsizetype HealthMarks::size() const { // the tags held, a record marked on both sides twice
    qsizetype count = 0;
    for (const Section &section : m_sections)
        count += qsizetype(section.tags.size());
    return count;
}
