// The record line split, and the sorted record list under any series of
// adds, replaces and removes.
#include "fuzzinput.h"

#include "linefile.h"
#include "recordline.h"
#include "recordlist.h"

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

    // Each line's first byte chooses what is done with it.
    RecordList list;
    for (const QByteArray &line : SplitLines(content)) {
        const qsizetype before = list.size();
        const int op = static_cast<unsigned char>(line[0]) % 3;
        if (op == 0 || list.isEmpty()) {
            const bool had = list.contains(line);
            list.add(line);
            FUZZ_CHECK(list.size() == before + (had ? 0 : 1));
        } else if (op == 1) {
            list.replace(line.size() % list.size(), line);
        } else {
            list.remove(line.size() % list.size());
            FUZZ_CHECK(list.size() == before - 1);
        }
        for (qsizetype i = 1; i < list.size(); ++i)
            FUZZ_CHECK(RecordList::lessThan(list.line(i - 1), list.line(i)));
        for (qsizetype i = 0; i < list.size(); ++i)
            FUZZ_CHECK(list.indexOf(list.line(i)) == i);
    }
    return 0;
}
