#include "fieldcipher.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

struct Tables {
    std::array<char, 256> encode{};
    std::array<char, 256> decode{};
};

constexpr Tables makeTables() {
    Tables t;
    for (int i = 0; i < 256; ++i) {
        t.encode[i] = static_cast<char>(i);
        t.decode[i] = static_cast<char>(i);
    }
    for (int i = 0; kCipherPlain[i] != '\0'; ++i) {
        const auto plain = static_cast<unsigned char>(kCipherPlain[i]);
        const auto image = static_cast<unsigned char>(kCipherImage[i]);
        t.encode[plain] = static_cast<char>(image);
        t.decode[image] = static_cast<char>(plain);
    }
    return t;
}

constexpr Tables kTables = makeTables();

QByteArray mapLine(const QByteArray &line, const std::array<char, 256> &table) {
    QByteArray out(line.size(), Qt::Uninitialized);
    char *dst = out.data();
    for (const char c : line)
        *dst++ = table[static_cast<unsigned char>(c)];
    return out;
}

void mapInPlace(QByteArray &content, const std::array<char, 256> &table) {
    auto *data = reinterpret_cast<unsigned char *>(content.data());
    const qsizetype size = content.size();
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        for (int j = 0; j < 8; ++j)
            word |= std::uint64_t(static_cast<unsigned char>(table[data[i + j]])) << (8 * j);
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i)
        data[i] = static_cast<unsigned char>(table[data[i]]);
}

} // namespace

static_assert(sizeof(kCipherPlain) == 64 && sizeof(kCipherImage) == 64);

void EncodeText(char cipherChar, QByteArray &cipherLine) {
    cipherLine.append(kTables.encode[static_cast<unsigned char>(cipherChar)]);
}

void DecodeText(const QByteArray &text, QByteArray &result) {
    result.append(mapLine(text, kTables.decode));
}

QByteArray EncodeLine(const QByteArray &line) {
    return mapLine(line, kTables.encode);
}

QByteArray DecodeLine(const QByteArray &line) {
    return mapLine(line, kTables.decode);
}

void EncodeInPlace(QByteArray &content) {
    mapInPlace(content, kTables.encode);
}

void DecodeInPlace(QByteArray &content) {
    mapInPlace(content, kTables.decode);
}

void EncodeInto(const QByteArray &line, char *dst) {
    // Eight bytes to a store: the table lookups are the whole cost here.
    const auto *src = reinterpret_cast<const unsigned char *>(line.constData());
    const qsizetype size = line.size();
    const auto &table = kTables.encode;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        for (int j = 0; j < 8; ++j)
            word |= std::uint64_t(static_cast<unsigned char>(table[src[i + j]])) << (8 * j);
        std::memcpy(dst + i, &word, 8);
    }
    for (; i < size; ++i)
        dst[i] = table[src[i]];
}
