#include "healthmarks.h"

#include "linefile.h"
#include "platform.h"

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
    QByteArray content;
    if (Platform::readFile(path, content)) {
        const std::vector<QByteArrayView> lines = LineViews(content);
        const QByteArrayView key =
            lines.size() >= 2 && lines[0] == kHeader && lines[1].startsWith(kKeyLabel)
                ? lines[1].sliced(qsizetype(sizeof kKeyLabel) - 1)
                : QByteArrayView();
        if (IsHex(key, 2 * kKeySize)) {
            marks.m_key = QByteArray::fromHex(key.toByteArray());
            for (size_t i = 2; i < lines.size(); ++i)
                if (IsHex(lines[i], 2 * kTagSize))
                    marks.m_tags.insert(QByteArray::fromHex(lines[i].toByteArray()));
        }
    }
    return marks;
}

bool HealthMarks::write(const QString &path) const {
    QByteArray content = QByteArray(kHeader) + '\n' + kKeyLabel + m_key.toHex() + '\n';
    for (const QByteArray &tag : m_tags)
        content += tag.toHex() + '\n';
    return Platform::writeFileAtomically(path, content);
}

QByteArray HealthMarks::tagOf(QByteArrayView identity) const {
    QByteArray tag(kTagSize, Qt::Uninitialized);
    crypto_generichash(
        reinterpret_cast<unsigned char *>(tag.data()), size_t(tag.size()),
        reinterpret_cast<const unsigned char *>(identity.data()), size_t(identity.size()),
        reinterpret_cast<const unsigned char *>(m_key.constData()), size_t(m_key.size()));
    return tag;
}

bool HealthMarks::marked(QByteArrayView identity) const {
    return !m_key.isEmpty() && m_tags.count(tagOf(identity)) > 0;
}

void HealthMarks::setMarked(QByteArrayView identity, bool marked) {
    if (m_key.isEmpty()) {
        if (!marked)
            return;
        m_key.resize(kKeySize);
        randombytes_buf(m_key.data(), size_t(m_key.size()));
    }
    if (marked)
        m_tags.insert(tagOf(identity));
    else
        m_tags.erase(tagOf(identity));
}
