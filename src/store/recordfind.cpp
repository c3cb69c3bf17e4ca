#include "recordfind.h"

#include "parallel.h"

#include "fold.h"
#include "recordline.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The text searched for, folded, and the bytes its first character may be
// written as (every folded byte has one or two).
struct Needle {
    QByteArray folded;
    unsigned char first[2] = {0, 0};
};

Needle makeNeedle(QByteArrayView text) {
    Needle needle;
    needle.folded.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        needle.folded[i] = char(kFold[static_cast<unsigned char>(text[i])]);
    if (!text.isEmpty()) {
        const unsigned char wanted = static_cast<unsigned char>(needle.folded[0]);
        int found = 0;
        for (int b = 0; b < 256 && found < 2; ++b)
            if (kFold[b] == wanted)
                needle.first[found++] = static_cast<unsigned char>(b);
        if (found == 1)
            needle.first[1] = needle.first[0];
    }
    return needle;
}

bool matchesAt(const unsigned char *text, const Needle &needle) {
    const auto *wanted = reinterpret_cast<const unsigned char *>(needle.folded.constData());
    for (qsizetype j = 1; j < needle.folded.size(); ++j)
        if (kFold[text[j]] != wanted[j])
            return false;
    return true;
}

// Whether the folded needle occurs in the bytes, each folded as it is read.
// Where the processor has SSE2, sixteen places are tried at once for the
// first character, in both its cases.
bool containsFolded(const char *data, qsizetype size, const Needle &needle) {
    const qsizetype last = size - needle.folded.size(); // the last place it may begin
    const auto *text = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i one = _mm_set1_epi8(char(needle.first[0]));
    const __m128i other = _mm_set1_epi8(char(needle.first[1]));
    for (; i + 15 <= last; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        auto places = unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(block, one), _mm_cmpeq_epi8(block, other))));
        while (places) {
            if (matchesAt(text + i + std::countr_zero(places), needle))
                return true;
            places &= places - 1;
        }
    }
#endif
    const unsigned char wanted = static_cast<unsigned char>(needle.folded[0]);
    for (; i <= last; ++i)
        if (kFold[text[i]] == wanted && matchesAt(text + i, needle))
            return true;
    return false;
}

// Where the first separator at or after from begins, or -1: the colons are
// few, and memchr finds them faster than a search for two bytes.
qsizetype separatorAt(QByteArrayView line, qsizetype from) {
    const char *const data = line.data();
    const qsizetype size = line.size();
    while (from + 1 < size) {
        const auto *colon =
            static_cast<const char *>(std::memchr(data + from, ':', size_t(size - 1 - from)));
        if (!colon)
            return -1;
        if (colon[1] == kSeparator[1])
            return colon - data;
        from = colon - data + 1;
    }
    return -1;
}

// The password is the third field: the text before it and the text after it
// are searched apart, so no match reaches into it.
bool recordMatches(QByteArrayView line, const Needle &needle) {
    const qsizetype first = separatorAt(line, 0);
    const qsizetype second = first < 0 ? -1 : separatorAt(line, first + 2);
    const qsizetype third = second < 0 ? -1 : separatorAt(line, second + 2);
    const qsizetype before = second < 0 ? line.size() : second;
    return containsFolded(line.data(), before, needle) ||
           (third >= 0 && containsFolded(line.data() + third + 2, line.size() - third - 2, needle));
}

// Below this many records one core searches them all sooner than two can start.
constexpr qsizetype kSplitAt = 65536;

} // namespace

QList<qsizetype> FindRecords(const RecordList &records, QByteArrayView text,
                             const QList<qsizetype> *within) {
    const qsizetype count = within ? within->size() : records.size();
    const auto recordAt = [&](qsizetype i) { return within ? within->at(i) : i; };
    const Needle needle = makeNeedle(text);
    const auto search = [&](qsizetype begin, qsizetype end, QList<qsizetype> &found) {
        for (qsizetype i = begin; i < end; ++i) {
            const qsizetype record = recordAt(i);
            if (text.isEmpty() || recordMatches(records.line(record), needle))
                found.append(record);
        }
    };
    QList<qsizetype> found;
    if (count < kSplitAt || Parallel::Cores() < 2) {
        search(0, count, found);
        return found;
    }
    // Two halves at once, joined in list order.
    QList<qsizetype> later;
    Parallel::Both([&] { search(0, count / 2, found); }, [&] { search(count / 2, count, later); });
    found.append(later);
    return found;
}

bool FindNarrows(QByteArrayView previous, QByteArrayView text) {
    return !previous.isEmpty() && containsFolded(text.data(), text.size(), makeNeedle(previous));
}
