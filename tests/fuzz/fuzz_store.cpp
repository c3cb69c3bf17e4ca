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
    AddStoredRecords(storable.join("\r\n"), Scope::None, "", reread);
    FUZZ_CHECK(reread.size() == storable.size());

    // Scope 1: the copy as start-up reads it gives the records of its lines
    // deciphered one by one, each read again as a store line; the in-place pass
    // a change of protection uses deciphers each line alone.
    const QByteArray key("key7");
    const QList<QByteArray> lines = SplitLines(content);
    QByteArray deciphered;
    for (const QByteArray &line : lines)
        XorInvert(line, key, deciphered), deciphered += "\r\n";
    RecordList fromCopy;
    AddStoredRecords(deciphered, Scope::None, "", fromCopy);
    RecordList started;
    // Unless none of its lines reads as a record: then nothing is listed.
    if (AddStoredRecords(content, Scope::ProgramAndDBase, key, started) == StoreStatus::OtherKey)
        FUZZ_CHECK(started.isEmpty() && !fromCopy.isEmpty());
    else
        FUZZ_CHECK(started.toList() == fromCopy.toList());
    checkList(fromCopy);
    QByteArray block = content;
    std::vector<QByteArrayView> views;
    bool whole = false;
    FUZZ_CHECK(XorInvertLinesInPlace(block, key, views, whole));
    FUZZ_CHECK(qsizetype(views.size()) == lines.size());
    bool anyBreak = false;
    for (size_t i = 0; i < views.size(); ++i) {
        QByteArray one;
        XorInvert(lines[qsizetype(i)], key, one);
        FUZZ_CHECK(views[i] == one);
        anyBreak |= views[i].contains('\r') || views[i].contains('\n');
    }
    FUZZ_CHECK(whole == !anyBreak);
    return 0;
}
