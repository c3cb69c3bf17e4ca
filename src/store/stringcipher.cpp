#include "stringcipher.h"

#include "linefile.h"

#include <QList>

#include <cstdint>
#include <cstring>

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
        *dst++ =
            static_cast<char>(~(static_cast<unsigned char>(t) ^ static_cast<unsigned char>(k[p])));
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

bool XorInvertContent(const QByteArray &content, const QByteArray &key, QByteArray &out,
                      bool *lineSafe) {
    const QList<QByteArrayView> lines = LineViews(content);
    if (lines.isEmpty())
        return true;
    if (key.isEmpty())
        return false;
    qsizetype total = 0;
    for (const QByteArrayView line : lines)
        total += line.size() + 2;
    const qsizetype start = out.size();
    out.resize(start + total);
    char *dst = out.data() + start;
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const qsizetype keyLength = key.size();
    bool safe = true;
    for (const QByteArrayView line : lines) {
        qsizetype p = 0;
        for (const char t : line) {
            const auto c = static_cast<unsigned char>(~(static_cast<unsigned char>(t) ^ k[p]));
            safe = safe && c != '\r' && c != '\n';
            *dst++ = static_cast<char>(c);
            if (++p == keyLength)
                p = 0;
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
    if (lineSafe)
        *lineSafe = safe;
    return true;
}

bool XorInvertInPlace(QByteArray &content, const QByteArray &key, bool *lineSafe) {
    if (key.isEmpty())
        return content.isEmpty();
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const qsizetype keyLength = key.size();
    char *c = content.data();
    char *const end = c + content.size();
    bool safe = true;
    qsizetype p = 0;
    while (c < end) {
        if (*c == '\r' && c + 1 < end && c[1] == '\n') {
            c += 2;
            p = 0;
            continue;
        }
        const auto out = static_cast<unsigned char>(~(static_cast<unsigned char>(*c) ^ k[p]));
        safe = safe && out != '\r' && out != '\n';
        *c++ = static_cast<char>(out);
        if (++p == keyLength)
            p = 0;
    }
    if (lineSafe)
        *lineSafe = safe;
    return true;
}

namespace {

// Whether any byte of the word equals the byte repeated in pattern.
constexpr bool hasByte(std::uint64_t word, std::uint64_t pattern) {
    const std::uint64_t v = word ^ pattern;
    return ((v - 0x0101010101010101ULL) & ~v & 0x8080808080808080ULL) != 0;
}

} // namespace

bool XorInvertSpan(char *data, qsizetype size, const char *keyStream) {
    // Eight bytes at a time: a store holds millions of them.
    constexpr std::uint64_t kCR = 0x0d0d0d0d0d0d0d0dULL, kLF = 0x0a0a0a0a0a0a0a0aULL;
    bool broken = false;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t d, k;
        std::memcpy(&d, data + i, 8);
        std::memcpy(&k, keyStream + i, 8);
        const std::uint64_t out = ~(d ^ k);
        broken |= hasByte(out, kCR) || hasByte(out, kLF);
        std::memcpy(data + i, &out, 8);
    }
    for (; i < size; ++i) {
        const auto out = static_cast<unsigned char>(
            ~(static_cast<unsigned char>(data[i]) ^ static_cast<unsigned char>(keyStream[i])));
        broken |= out == '\r' || out == '\n';
        data[i] = static_cast<char>(out);
    }
    return !broken;
}

QByteArray KeyStream(const QByteArray &key, qsizetype length) {
    QByteArray stream;
    if (key.isEmpty())
        return stream;
    stream.reserve(length + key.size());
    while (stream.size() < length)
        stream.append(key);
    return stream;
}
