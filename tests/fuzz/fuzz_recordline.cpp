// The record line split, and the sorted record list under any series of
// adds, replaces and removes.
#include "fuzzinput.h"

#include "database.h"
#include "linefile.h"
#include "recordline.h"
#include "recordlist.h"

#include <algorithm>

namespace {

qsizetype separators(const QByteArray &line) {
    qsizetype count = 0;
    for (qsizetype at = line.indexOf(kSeparator); at >= 0; at = line.indexOf(kSeparator, at + 2))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    RecordFields fields;
    const bool complete = SplitRecordLine(content, fields);
    FUZZ_CHECK(complete == (separators(content) >= 4));
    if (separators(content) == 4)
        FUZZ_CHECK(ComposeRecordLine(fields) == content);
    FUZZ_CHECK(content.startsWith(ServiceName(content)));

    // The list starts as a store loaded from the same bytes; a copy taken then
    // must not change, whatever is done to the list. Each line's first byte
    // chooses what is done with it, and a plain sorted list follows along.
    RecordList list;
    AddStoredRecords(content, Scope::None, "", list);
    const RecordList copy = list;
    const QList<QByteArray> copied = copy.toList();
    QList<QByteArray> model = copied;
    const auto insert = [&model](const QByteArray &line) {
        model.insert(std::upper_bound(model.begin(), model.end(), line, RecordList::lessThan) -
                         model.begin(),
                     line);
    };
    for (const QByteArray &line : SplitLines(content)) {
        const int op = static_cast<unsigned char>(line[0]) % 4;
        const qsizetype at = list.isEmpty() ? 0 : line.size() % list.size();
        if (op == 0 || list.isEmpty()) {
            if (!model.contains(line))
                insert(line);
            list.add(line);
        } else if (op == 1 || op == 2) {
            // A piece of another record's own bytes may be the new text.
            const QByteArray text =
                op == 1 ? line : list.line(line.size() % list.size()).first(1).toByteArray();
            const QByteArrayView given =
                op == 1 ? QByteArrayView(line) : list.line(line.size() % list.size()).first(1);
            if (!model.contains(text)) {
                model.removeAt(at);
                insert(text);
            }
            list.replace(at, given);
        } else {
            model.removeAt(at);
            list.remove(at);
        }
        FUZZ_CHECK(list.toList() == model);
    }
    // A loaded store may hold a line twice: the first of equal lines is found.
    for (qsizetype i = 0; i < list.size(); ++i) {
        const qsizetype found = list.indexOf(list.line(i));
        FUZZ_CHECK(found <= i && list.line(found) == list.line(i));
    }
    FUZZ_CHECK(copy.toList() == copied);
    return 0;
}
