#include "recordfind.h"

#include "fold.h"
#include "recordline.h"

#include <string_view>

namespace {

// Whether the folded needle occurs in the bytes, folded into scratch first.
bool containsFolded(const char *data, qsizetype size, const QByteArray &needle,
                    QByteArray &scratch) {
    if (size < needle.size())
        return false;
    scratch.resize(size);
    auto *dst = reinterpret_cast<unsigned char *>(scratch.data());
    const auto *src = reinterpret_cast<const unsigned char *>(data);
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = kFold[src[i]];
    return std::string_view(scratch.constData(), size_t(size))
               .find(std::string_view(needle.constData(), size_t(needle.size()))) !=
           std::string_view::npos;
}

} // namespace

QList<qsizetype> FindRecords(const RecordList &records, QByteArrayView text) {
    QList<qsizetype> found;
    QByteArray needle(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        needle[i] = char(kFold[static_cast<unsigned char>(text[i])]);
    QByteArray scratch;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QByteArrayView line = records.line(i);
        if (needle.isEmpty()) {
            found.append(i);
            continue;
        }
        // The password is the third field: the text before it and the text
        // after it are searched apart, so no match reaches into it.
        const qsizetype first = line.indexOf(kSeparator);
        const qsizetype second = first < 0 ? -1 : line.indexOf(kSeparator, first + 2);
        const qsizetype third = second < 0 ? -1 : line.indexOf(kSeparator, second + 2);
        const qsizetype before = second < 0 ? line.size() : second;
        bool match = containsFolded(line.data(), before, needle, scratch);
        if (!match && third >= 0)
            match =
                containsFolded(line.data() + third + 2, line.size() - third - 2, needle, scratch);
        if (match)
            found.append(i);
    }
    return found;
}
