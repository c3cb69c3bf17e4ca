#include "stringcipher.h"

#include "linefile.h"
#include "vectorwidth.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace {

// Whether any byte of the word equals the byte repeated in pattern.
constexpr bool hasByte(std::uint64_t word, std::uint64_t pattern) {
    const std::uint64_t v = word ^ pattern;
    return ((v - 0x0101010101010101ULL) & ~v & 0x8080808080808080ULL) != 0;
}

qsizetype longestLine(std::span<const QByteArrayView> lines) {
    qsizetype longest = 0;
    for (const QByteArrayView line : lines)
        longest = std::max(longest, line.size());
    return longest;
}

// Each line through the cipher where it stands, the key starting afresh at
// each; whether no result holds a CR or LF.
bool xorInvertEach(char *data, std::span<const QByteArrayView> lines, const QByteArray &key) {
    const QByteArray stream = KeyStream(key, longestLine(lines));
    bool whole = true;
    for (const QByteArrayView line : lines) {
        char *at = data + (line.data() - data);
        whole &= XorInvertSpan(at, at, line.size(), stream.constData());
    }
    return whole;
}

} // namespace

#if defined(__GNUC__)
namespace {

// The cipher on width bytes at a time, the last width bytes taken before any
// is overwritten and stored last, so no tail goes a byte at a time. Returns
// how many bytes it did (none below width) and adds a CR or LF made to broken.
template <int width>
__attribute__((always_inline)) inline qsizetype
invertBlocks(const char *src, char *dst, qsizetype size, const char *keyStream, bool &broken) {
    typedef unsigned char Bytes __attribute__((vector_size(width)));
    static_assert(sizeof(Bytes) == width);
    if (size < width)
        return 0;
    Bytes breaks{}, in, key;
    std::memcpy(&in, src + size - width, width);
    std::memcpy(&key, keyStream + size - width, width);
    const Bytes last = ~(in ^ key);
    breaks |= Bytes((last == '\r') | (last == '\n'));
    for (qsizetype i = 0; i + width <= size; i += width) {
        std::memcpy(&in, src + i, width);
        std::memcpy(&key, keyStream + i, width);
        const Bytes out = ~(in ^ key);
        breaks |= Bytes((out == '\r') | (out == '\n'));
        std::memcpy(dst + i, &out, width);
    }
    std::memcpy(dst + size - width, &last, width);
    std::uint64_t words[width / 8];
    std::memcpy(words, &breaks, width);
    for (const std::uint64_t word : words)
        broken |= word != 0;
    return size;
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) qsizetype
invertThirtyTwos(const char *src, char *dst, qsizetype size, const char *keyStream, bool &broken) {
    return invertBlocks<32>(src, dst, size, keyStream, broken);
}
#endif

} // namespace
#endif

bool XorInvertSpan(const char *src, char *dst, qsizetype size, const char *keyStream) {
    // The one loop of the cipher, thirty-two, sixteen or eight bytes at a
    // time: a store holds millions of them. src and dst may be the same.
    bool broken = false;
    qsizetype i = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (VectorWidth() >= 32)
        i = invertThirtyTwos(src, dst, size, keyStream, broken);
#endif
#if defined(__GNUC__)
    if (i == 0)
        i = invertBlocks<16>(src, dst, size, keyStream, broken);
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
    whole = xorInvertEach(begin, lines, key);
    return true;
}

bool DecipherLinesInPlace(char *data, qsizetype size, const QByteArray &key,
                          std::vector<QByteArrayView> &records) {
    const size_t first = records.size();
    AppendLineViews(QByteArrayView(data, size), records);
    if (records.size() == first)
        return true;
    if (key.isEmpty())
        return false;
    if (xorInvertEach(data, std::span(records).subspan(first), key))
        return true;
    // A deciphered line that holds a line break of its own is read as the
    // records it then holds, each as though the line stood alone.
    const std::vector<QByteArrayView> lines(records.begin() + qsizetype(first), records.end());
    records.resize(first);
    for (const QByteArrayView line : lines)
        ForEachLine(
            line, [&records](QByteArrayView record) { records.push_back(record); }, true);
    return true;
}
