// The store reader on any bytes, and the promise a rewrite rests on: what
// the store holds, written back, reads back as the same records.
#include "fuzzinput.h"

#include "database.h"
#include "fieldcipher.h"
#include "linefile.h"
#include "recordline.h"
#include "stringcipher.h"

namespace {

void checkList(const RecordList &list) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QByteArrayView line = list.line(i);
        FUZZ_CHECK(!line.isEmpty() && !line.contains('\n'));
        FUZZ_CHECK(list.serviceName(i) == ServiceName(line));
        FUZZ_CHECK(i == 0 || !RecordList::lessThan(line, list.line(i - 1)));
        RecordFields fields;
        SplitRecordLine(line, fields);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);

    // Scope 0 and 2: the database file as start-up reads it.
    RecordList list;
    AddStoredRecords(content, Scope::None, "", list);
    checkList(list);
    QList<QByteArray> storable;
    for (const QByteArray &line : list.toList())
        if (CheckStorable(line, Scope::None, "") == StoreStatus::Ok)
            storable.append(EncodeLine(line));
    RecordList reread;
    AddStoredRecords(JoinLines(storable), Scope::None, "", reread);
    FUZZ_CHECK(reread.size() == storable.size());

    // Scope 1: the copy deciphered line by line; the in-place pass that
    // rewrites use must agree with the line-by-line one.
    const QByteArray key("key7");
    QByteArray deciphered;
    FUZZ_CHECK(XorInvertContent(content, key, deciphered));
    RecordList fromCopy;
    AddStoredRecords(deciphered, Scope::None, "", fromCopy);
    // The copy read as start-up reads it gives the same records.
    RecordList started;
    AddStoredRecords(content, Scope::ProgramAndDBase, key, started);
    FUZZ_CHECK(started.toList() == fromCopy.toList());
    checkList(fromCopy);
    const QList<QByteArray> lines = SplitLines(content);
    QByteArray byLines;
    FUZZ_CHECK(XorInvertLines(lines, key, byLines));
    FUZZ_CHECK(byLines == deciphered);
    QList<QByteArray> clean;
    for (const QByteArray &line : lines)
        if (!line.contains('\r'))
            clean.append(line);
    QByteArray inPlace = JoinLines(clean), expected;
    FUZZ_CHECK(XorInvertLines(clean, key, expected));
    XorInvertInPlace(inPlace, key);
    FUZZ_CHECK(inPlace == expected);
    return 0;
}
