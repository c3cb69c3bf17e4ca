#include "stringcipher.h"

#include "linefile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Whether any byte of the word equals the byte repeated in pattern.
constexpr bool hasByte(std::uint64_t word, std::uint64_t pattern) {
    const std::uint64_t v = word ^ pattern;
    return ((v - 0x0101010101010101ULL) & ~v & 0x8080808080808080ULL) != 0;
}

qsizetype longestLine(const std::vector<QByteArrayView> &lines) {
    qsizetype longest = 0;
    for (const QByteArrayView line : lines)
        longest = std::max(longest, line.size());
    return longest;
}

} // namespace

bool XorInvertSpan(const char *src, char *dst, qsizetype size, const char *keyStream) {
    // The one loop of the cipher, sixteen or eight bytes at a time: a store
    // holds millions of them. src and dst may be the same.
    bool broken = false;
    qsizetype i = 0;
#if defined(__GNUC__)
    using Bytes = unsigned char __attribute__((vector_size(16)));
    Bytes breaks{};
    const auto invert = [&](qsizetype at) {
        Bytes d, k;
        std::memcpy(&d, src + at, 16);
        std::memcpy(&k, keyStream + at, 16);
        const Bytes out = ~(d ^ k);
        breaks |= Bytes((out == '\r') | (out == '\n'));
        return out;
    };
    if (size >= 16) {
        // The last sixteen bytes, taken before any is overwritten and stored
        // last, cover the tail that would otherwise go a byte at a time.
        const Bytes last = invert(size - 16);
        for (; i + 16 <= size; i += 16) {
            const Bytes out = invert(i);
            std::memcpy(dst + i, &out, 16);
        }
        std::memcpy(dst + size - 16, &last, 16);
        i = size;
    }
    for (int lane = 0; lane < 16; ++lane)
        broken |= breaks[lane] != 0;
#endif
    constexpr std::uint64_t kCR = 0x0d0d0d0d0d0d0d0dULL, kLF = 0x0a0a0a0a0a0a0a0aULL;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t d, k;
        std::memcpy(&d, src + i, 8);
        std::memcpy(&k, keyStream + i, 8);
        const std::uint64_t out = ~(d ^ k);
        broken |= hasByte(out, kCR) || hasByte(out, kLF);
        std::memcpy(dst + i, &out, 8);
    }
    for (; i < size; ++i) {
        const auto out = static_cast<unsigned char>(
            ~(static_cast<unsigned char>(src[i]) ^ static_cast<unsigned char>(keyStream[i])));
        broken |= out == '\r' || out == '\n';
        dst[i] = static_cast<char>(out);
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

bool XorInvert(const QByteArray &text, const QByteArray &key, QByteArray &result) {
    if (text.isEmpty())
        return true;
    if (key.isEmpty())
        return false;
    const qsizetype start = result.size();
    result.resize(start + text.size());
    XorInvertSpan(text.constData(), result.data() + start, text.size(),
                  KeyStream(key, text.size()).constData());
    return true;
}

bool XorInvertLinesInPlace(QByteArray &content, const QByteArray &key,
                           std::vector<QByteArrayView> &lines, bool &whole) {
    char *const begin = content.data(); // unshared from here on: the views stay valid
    lines = LineViews(content);
    whole = true;
    if (lines.empty())
        return true;
    if (key.isEmpty())
        return false;
    const QByteArray stream = KeyStream(key, longestLine(lines));
    for (const QByteArrayView line : lines) {
        char *at = begin + (line.data() - begin);
        whole &= XorInvertSpan(at, at, line.size(), stream.constData());
    }
    return true;
}

bool DecipherLinesInPlace(QByteArray &content, const QByteArray &key,
                          std::vector<QByteArrayView> &records) {
    std::vector<QByteArrayView> lines;
    bool whole = true;
    if (!XorInvertLinesInPlace(content, key, lines, whole))
        return false;
    if (whole) {
        records = std::move(lines);
        return true;
    }
    // A deciphered line that holds a line break of its own is read as the
    // records it then holds, each as though the line stood alone.
    records.clear();
    for (const QByteArrayView line : lines)
        ForEachLine(
            line, [&records](QByteArrayView record) { records.push_back(record); }, true);
    return true;
}
