#include "fieldcipher.h"

#include "vectorwidth.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

// The cipher's characters, '0' (0x30) to 'z' (0x7A), lie in the five rows of
// sixteen bytes whose high nibble is 3 to 7; every other byte maps to itself.
constexpr int kFirstRow = 3;
constexpr int kRowCount = 5;
using Rows = std::array<std::array<unsigned char, 16>, kRowCount>;

constexpr Rows rowsOf(const std::array<char, 256> &table) {
    Rows rows{};
    for (int r = 0; r < kRowCount; ++r)
        for (int low = 0; low < 16; ++low)
            rows[size_t(r)][size_t(low)] =
                static_cast<unsigned char>(table[size_t((kFirstRow + r) << 4 | low)]);
    return rows;
}

constexpr bool onlyRowsChange(const std::array<char, 256> &table) {
    for (int byte = 0; byte < 256; ++byte)
        if ((byte >> 4 < kFirstRow || byte >> 4 >= kFirstRow + kRowCount) &&
            static_cast<unsigned char>(table[size_t(byte)]) != byte)
            return false;
    return true;
}

static_assert(onlyRowsChange(kTables.encode) && onlyRowsChange(kTables.decode));
constexpr Rows kEncodeRows = rowsOf(kTables.encode);
constexpr Rows kDecodeRows = rowsOf(kTables.decode);

#if defined(__x86_64__) || defined(__i386__)
#define VARNLOCK_SSSE3 __attribute__((target("ssse3")))

// The image of sixteen bytes: each row is one shuffle by the low nibble, kept
// where the high nibble picks that row. CR and LF seen are added to breaks.
struct SixteenMap {
    __m128i row[kRowCount], high[kRowCount], low4, cr, lf, breaks;

    VARNLOCK_SSSE3 explicit SixteenMap(const Rows &rows)
        : low4(_mm_set1_epi8(0x0F)), cr(_mm_set1_epi8('\r')), lf(_mm_set1_epi8('\n')),
          breaks(_mm_setzero_si128()) {
        for (int r = 0; r < kRowCount; ++r) {
            row[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[size_t(r)].data()));
            high[r] = _mm_set1_epi8(char(kFirstRow + r));
        }
    }

    VARNLOCK_SSSE3 inline __m128i mapped(const char *src) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
        const __m128i low = _mm_and_si128(in, low4);
        const __m128i nibble = _mm_and_si128(_mm_srli_epi16(in, 4), low4);
        __m128i out = in;
        for (int r = 0; r < kRowCount; ++r) {
            const __m128i pick = _mm_cmpeq_epi8(nibble, high[r]);
            out = _mm_or_si128(_mm_and_si128(pick, _mm_shuffle_epi8(row[r], low)),
                               _mm_andnot_si128(pick, out));
        }
        breaks = _mm_or_si128(breaks, _mm_or_si128(_mm_cmpeq_epi8(in, cr), _mm_cmpeq_epi8(in, lf)));
        return out;
    }
};

// Returns how many bytes it did; the rest go through the table.
VARNLOCK_SSSE3 qsizetype mapSixteens(const char *src, char *dst, qsizetype size, const Rows &rows,
                                     bool &lineBreak) {
    if (size < 16)
        return 0;
    SixteenMap sixteen(rows);
    // The last sixteen bytes, taken before any is overwritten and stored
    // last, cover the tail that would otherwise go a byte at a time.
    const __m128i last = sixteen.mapped(src + size - 16);
    for (qsizetype i = 0; i + 16 <= size; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), sixteen.mapped(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + size - 16), last);
    lineBreak |= _mm_movemask_epi8(sixteen.breaks) != 0;
    return size;
}

#define VARNLOCK_AVX2 __attribute__((target("avx2")))

// The same, thirty-two bytes at a time: the shuffle works within each half,
// so each half gets the rows.
struct ThirtyTwoMap {
    __m256i row[kRowCount], high[kRowCount], low4, cr, lf, breaks;

    VARNLOCK_AVX2 explicit ThirtyTwoMap(const Rows &rows)
        : low4(_mm256_set1_epi8(0x0F)), cr(_mm256_set1_epi8('\r')), lf(_mm256_set1_epi8('\n')),
          breaks(_mm256_setzero_si256()) {
        for (int r = 0; r < kRowCount; ++r) {
            row[r] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[size_t(r)].data())));
            high[r] = _mm256_set1_epi8(char(kFirstRow + r));
        }
    }

    VARNLOCK_AVX2 inline __m256i mapped(const char *src) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
        const __m256i low = _mm256_and_si256(in, low4);
        const __m256i nibble = _mm256_and_si256(_mm256_srli_epi16(in, 4), low4);
        __m256i out = in;
        for (int r = 0; r < kRowCount; ++r)
            out = _mm256_blendv_epi8(out, _mm256_shuffle_epi8(row[r], low),
                                     _mm256_cmpeq_epi8(nibble, high[r]));
        breaks = _mm256_or_si256(
            breaks, _mm256_or_si256(_mm256_cmpeq_epi8(in, cr), _mm256_cmpeq_epi8(in, lf)));
        return out;
    }
};

VARNLOCK_AVX2 qsizetype mapThirtyTwos(const char *src, char *dst, qsizetype size, const Rows &rows,
                                      bool &lineBreak) {
    if (size < 32)
        return 0;
    ThirtyTwoMap map(rows);
    const __m256i last = map.mapped(src + size - 32);
    for (qsizetype i = 0; i + 32 <= size; i += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), map.mapped(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + size - 32), last);
    lineBreak |= _mm256_movemask_epi8(map.breaks) != 0;
    return size;
}
#endif

// A store is millions of these bytes, so the common processors take sixteen
// at a time. src and dst may be the same place. Returns true when the bytes
// hold no CR or LF (the cipher passes both unchanged).
bool mapBytes(const char *src, char *dst, qsizetype size, const std::array<char, 256> &table,
              const Rows &rows) {
    bool lineBreak = false;
    qsizetype i = 0;
#if defined(__x86_64__) || defined(__i386__)
    const int width = VectorWidth();
    if (width >= 32)
        i = mapThirtyTwos(src, dst, size, rows, lineBreak);
    if (i == 0 && width >= 16)
        i = mapSixteens(src, dst, size, rows, lineBreak);
#else
    Q_UNUSED(rows);
#endif
    const auto *in = reinterpret_cast<const unsigned char *>(src);
    for (; i < size; ++i) {
        lineBreak |= in[i] == '\r' || in[i] == '\n';
        dst[i] = table[in[i]];
    }
    return !lineBreak;
}

QByteArray mapLine(const QByteArray &line, const std::array<char, 256> &table, const Rows &rows) {
    QByteArray out(line.size(), Qt::Uninitialized);
    mapBytes(line.constData(), out.data(), line.size(), table, rows);
    return out;
}

} // namespace

static_assert(sizeof(kCipherPlain) == 64 && sizeof(kCipherImage) == 64);

void EncodeText(char cipherChar, QByteArray &cipherLine) {
    cipherLine.append(kTables.encode[static_cast<unsigned char>(cipherChar)]);
}

void DecodeText(const QByteArray &text, QByteArray &result) {
    result.append(mapLine(text, kTables.decode, kDecodeRows));
}

QByteArray EncodeLine(const QByteArray &line) {
    return mapLine(line, kTables.encode, kEncodeRows);
}

QByteArray DecodeLine(const QByteArray &line) {
    return mapLine(line, kTables.decode, kDecodeRows);
}

void DecodeInPlace(QByteArray &content) {
    DecodeInPlace(content.data(), content.size());
}

void DecodeInPlace(char *data, qsizetype size) {
    mapBytes(data, data, size, kTables.decode, kDecodeRows);
}

bool EncodeInto(QByteArrayView line, char *dst) {
    return mapBytes(line.data(), dst, line.size(), kTables.encode, kEncodeRows);
}
