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

// Eight bytes to a store: the table lookups are the whole cost. src and dst may
// be the same place.
void mapBytes(const char *src, char *dst, qsizetype size, const std::array<char, 256> &table) {
    const auto *in = reinterpret_cast<const unsigned char *>(src);
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        for (int j = 0; j < 8; ++j)
            word |= std::uint64_t(static_cast<unsigned char>(table[in[i + j]])) << (8 * j);
        std::memcpy(dst + i, &word, 8);
    }
    for (; i < size; ++i)
        dst[i] = table[in[i]];
}

QByteArray mapLine(const QByteArray &line, const std::array<char, 256> &table) {
    QByteArray out(line.size(), Qt::Uninitialized);
    mapBytes(line.constData(), out.data(), line.size(), table);
    return out;
}

void mapInPlace(QByteArray &content, const std::array<char, 256> &table) {
    mapBytes(content.constData(), content.data(), content.size(), table);
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

void DecodeInPlace(QByteArray &content) {
    mapInPlace(content, kTables.decode);
}

void EncodeInto(const QByteArray &line, char *dst) {
    mapBytes(line.constData(), dst, line.size(), kTables.encode);
}
