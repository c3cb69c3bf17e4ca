#include "stringcipher.h"

#include <QList>

bool XorInvert(const QByteArray &text, const QByteArray &key, QByteArray &result) {
    if (text.isEmpty())
        return true;
    if (key.isEmpty())
        return false;
    const qsizetype start = result.size();
    result.resize(start + text.size());
    char *dst = result.data() + start;
    const char *k = key.constData();
    const qsizetype keyLength = key.size();
    qsizetype p = 0;
    for (const char t : text) {
        *dst++ = static_cast<char>(~(static_cast<unsigned char>(t) ^ static_cast<unsigned char>(k[p])));
        if (++p == keyLength)
            p = 0;
    }
    return true;
}

QByteArray XorInverted(const QByteArray &text, const QByteArray &key) {
    QByteArray out;
    XorInvert(text, key, out);
    return out;
}

bool EnciphersToOneLine(const QByteArray &text, const QByteArray &key) {
    if (text.isEmpty() || key.isEmpty())
        return true;
    qsizetype p = 0;
    for (const char t : text) {
        const auto c = static_cast<unsigned char>(
            ~(static_cast<unsigned char>(t) ^ static_cast<unsigned char>(key[p])));
        if (c == '\r' || c == '\n')
            return false;
        if (++p == key.size())
            p = 0;
    }
    return true;
}

bool XorInvertLines(const QList<QByteArray> &lines, const QByteArray &key, QByteArray &content) {
    qsizetype total = 0;
    for (const QByteArray &line : lines)
        total += line.size() + 2;
    content.reserve(content.size() + total);
    for (const QByteArray &line : lines) {
        if (!XorInvert(line, key, content))
            return false;
        content.append("\r\n", 2);
    }
    return true;
}
