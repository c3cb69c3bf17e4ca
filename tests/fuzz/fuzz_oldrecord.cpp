// The old database's conversion on any bytes.
#include "fuzzinput.h"

#include "fieldcipher.h"
#include "oldimport.h"
#include "recordline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    for (const QByteArray &record : ConvertOldDatabase(content)) {
        FUZZ_CHECK(!record.isEmpty() && !record.contains('\n') && !record.contains('\r'));
        RecordFields fields;
        SplitRecordLine(record, fields);
    }
    // A single record: what it converts to is one record line.
    const QByteArray converted = ConvertOldRecord(content);
    FUZZ_CHECK(converted.size() <= 2 * content.size() + 8);
    // The field cipher is a permutation: decoding never loses a byte.
    FUZZ_CHECK(EncodeLine(DecodeLine(content)) == content);
    return 0;
}
