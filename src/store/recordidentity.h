#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <array>
#include <compare>
#include <cstring>
#include <span>
#include <vector>

// What lets two copies of a store meet again: each record's lasting id, when
// it was made and last changed, and its earlier versions; and a mark for
// each record removed, so a removal travels like a change. Times are UTC
// milliseconds since 1970; 0 is "not known" (a record from a store that kept
// no times).
struct RecordId {
    std::array<unsigned char, 16> bytes{};
    // Compared as two big-endian words: a merge compares ids millions of times.
    friend std::strong_ordering operator<=>(const RecordId &a, const RecordId &b) {
        const quint64 a0 = qFromBigEndian<quint64>(a.bytes.data()),
                      b0 = qFromBigEndian<quint64>(b.bytes.data());
        if (a0 != b0)
            return a0 <=> b0;
        return qFromBigEndian<quint64>(a.bytes.data() + 8) <=>
               qFromBigEndian<quint64>(b.bytes.data() + 8);
    }
    friend bool operator==(const RecordId &a, const RecordId &b) {
        return std::memcmp(a.bytes.data(), b.bytes.data(), 16) == 0;
    }
    QByteArray hex() const;
};

struct EarlierVersion {
    qint64 changed = 0; // when this version was made
    QByteArray line;
    QByteArray oneTimeCode; // the record's one-time code then (see RecordMeta)
    friend bool operator==(const EarlierVersion &, const EarlierVersion &) = default;
};

// Earlier versions kept per record, newest first.
inline constexpr size_t kEarlierVersionsKept = 10;

struct RecordMeta {
    RecordId id;
    qint64 created = 0;
    qint64 changed = 0;
    std::vector<EarlierVersion> earlier; // newest first
    // The record's one-time-code secret, as an otpauth:// URI; empty: none.
    // It goes with the record's current version.
    QByteArray oneTimeCode;
};

struct Tombstone {
    RecordId id;
    qint64 removed = 0;
    friend bool operator==(const Tombstone &, const Tombstone &) = default;
};

// A store's records with what identifies them. meta is either empty (every
// record identified by its content alone, as a store that kept no ids is
// read) or one entry for each line, in the lines' order.
struct StoreContents {
    std::span<const QByteArrayView> lines;
    std::span<const RecordMeta> meta;
    std::span<const Tombstone> tombstones;

    StoreContents() = default;
    StoreContents(std::span<const QByteArrayView> lines_) : lines(lines_) {}
    StoreContents(const std::vector<QByteArrayView> &lines_) : lines(lines_) {}
    StoreContents(std::span<const QByteArrayView> lines_, std::span<const RecordMeta> meta_,
                  std::span<const Tombstone> tombstones_)
        : lines(lines_), meta(meta_), tombstones(tombstones_) {}
};

// The time now, UTC milliseconds.
qint64 NowMs();
// A fresh random id.
RecordId NewRecordId();
// A new record's identity: a fresh id, made and changed now.
RecordMeta NewRecordMeta(qint64 now = NowMs());
// The identity of a record from a store that kept none: an id from its
// content alone, so two computers that meet the same old store give its
// records the same ids; no times.
RecordMeta ContentMeta(QByteArrayView line);
// The record's identity after it was changed at now from oldLine: the old
// version first among the earlier ones, the oldest beyond the kept number
// let go (zeroed).
RecordMeta ChangedMeta(const RecordMeta &meta, QByteArrayView oldLine, qint64 now = NowMs());
// Zeroes the earlier versions' bytes (they hold passwords) and empties them.
void WipeEarlier(std::vector<RecordMeta> &meta);
