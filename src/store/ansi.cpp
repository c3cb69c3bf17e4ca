#include "ansi.h"

#include <array>

namespace {

// Unicode code points of the bytes 0x80 to 0x9F; 0 marks the five unused bytes,
// which map to the C1 control of the same value, as Windows itself does.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte of a character, or -1 when the code page has none for it.
int byteOf(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == u)
            return 0x80 + i;
    }
    return -1;
}

char encodeOne(char16_t u) {
    const int b = byteOf(u);
    return b < 0 ? '?' : static_cast<char>(b);
}

} // namespace

namespace Ansi {

QByteArray fromUnicode(const QString &text) {
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i; // one character outside the code page
            out.append('?');
            continue;
        }
        out.append(encodeOne(c.unicode()));
    }
    return out;
}

QString firstUnencodable(const QString &text) {
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            return text.mid(i, 2);
        if (byteOf(c.unicode()) < 0)
            return QString(c);
    }
    return QString();
}

QString toUnicode(const QByteArray &bytes) {
    QString out;
    out.resize(bytes.size());
    QChar *dst = out.data();
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        *dst++ = QChar(b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char16_t(b));
    }
    return out;
}

void appendUtf8(QByteArray &out, QByteArrayView bytes) {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.append(c);
            continue;
        }
        const char16_t u = b >= 0xA0 ? char16_t(b) : kHighControls[b - 0x80];
        if (u < 0x800) {
            out.append(char(0xC0 | (u >> 6)));
        } else {
            out.append(char(0xE0 | (u >> 12)));
            out.append(char(0x80 | ((u >> 6) & 0x3F)));
        }
        out.append(char(0x80 | (u & 0x3F)));
    }
}

} // namespace Ansi
