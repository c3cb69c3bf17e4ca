#include "recordidentity.h"

#include "strongstore.h"

#include <QDateTime>

#include <sodium.h>

QByteArray RecordId::hex() const {
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()))
        .toHex();
}

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

RecordId NewRecordId() {
    RecordId id;
    if (sodium_init() >= 0)
        randombytes_buf(id.bytes.data(), id.bytes.size());
    return id;
}

RecordMeta NewRecordMeta(qint64 now) {
    RecordMeta meta;
    meta.id = NewRecordId();
    meta.created = now;
    meta.changed = now;
    return meta;
}

RecordMeta ContentMeta(QByteArrayView line) {
    // Keyed by a fixed word, so this id is never the plain hash of a record
    // that someone could look up elsewhere.
    static constexpr unsigned char kKey[16] = {'v', 'a', 'r', 'n', 'l', 'o', 'c', 'k',
                                               ' ', 'r', 'e', 'c', 'o', 'r', 'd', 0};
    RecordMeta meta;
    crypto_generichash(meta.id.bytes.data(), meta.id.bytes.size(),
                       reinterpret_cast<const unsigned char *>(line.data()),
                       static_cast<unsigned long long>(line.size()), kKey, sizeof kKey);
    return meta;
}

RecordMeta ChangedMeta(const RecordMeta &meta, QByteArrayView oldLine, qint64 now) {
    RecordMeta next;
    next.id = meta.id;
    next.created = meta.created;
    // A clock set back never makes a change look older than what it replaced.
    next.changed = std::max(now, meta.changed + 1);
    next.oneTimeCode = meta.oneTimeCode; // a change of the fields keeps the record's code
    next.earlier.reserve(std::min(meta.earlier.size() + 1, kEarlierVersionsKept));
    next.earlier.push_back({meta.changed, oldLine.toByteArray(), meta.oneTimeCode});
    for (const EarlierVersion &version : meta.earlier)
        if (next.earlier.size() < kEarlierVersionsKept)
            next.earlier.push_back(version);
    return next;
}

void WipeEarlier(std::vector<RecordMeta> &meta) {
    for (RecordMeta &record : meta) {
        for (EarlierVersion &version : record.earlier) {
            Strong::Wipe(version.line);
            Strong::Wipe(version.oneTimeCode);
        }
        Strong::Wipe(record.oneTimeCode);
    }
    meta.clear();
}
