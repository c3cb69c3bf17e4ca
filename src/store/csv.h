#pragma once

#include "platform.h"
#include "recordline.h"
#include "recordlist.h"
#include "settings.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QString>

#include <functional>

// Comma-separated text as RFC 4180 has it: fields in double quotes may hold
// commas, line breaks and doubled quotes; lines end in CR LF or LF.
namespace Csv {

// No password record needs more; a row past this is not read into memory.
inline constexpr qsizetype kMaxRowBytes = 1 << 20;

struct Row {
    qint64 line = 0; // the line the row begins on, from 1
    QList<QByteArray> fields;
};

// Reads rows from a device a piece at a time, so a file is never held whole.
// A byte-order mark at the start is skipped.
class Reader {
public:
    explicit Reader(QIODevice &device) : m_device(device) {}

    // False at the end of the file, or at an error (error() then says which).
    bool next(Row &row);
    // Why reading stopped early: empty at a clean end.
    const QString &error() const { return m_error; }
    qint64 bytesRead() const { return m_consumed; }

private:
    bool fill();

    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    qint64 m_consumed = 0;
    qint64 m_line = 1;
    bool m_started = false;
    bool m_atEnd = false;
    QString m_error;
};

// One row of text ended by CR LF, each field quoted where it must be.
QByteArray FormatRow(const QList<QByteArray> &fields);

} // namespace Csv

// Where a column of a known export lands among the record's five fields.
struct CsvLayout {
    QString format;           // the program the header is recognised as
    PerField<int> column{-1}; // the column each field is read from; -1 when absent
    int codeColumn = -1;      // the one-time code's (totp, login_totp, otp); -1 when absent
    QStringList headers;      // the header's own names, for the description
    // "Title → Service, Username → Username, ...": how the preview and the
    // command line say what goes where.
    QString describe() const;
    // The header's columns that go nowhere (a one-time code, a group, custom
    // fields): named, so nothing is dropped without a word.
    QStringList leftOut() const;
};

// The layout a header line names, or an empty format when it is not one
// Varnlock knows (a user name and a password column, and a service name or
// an address column, are needed).
CsvLayout RecogniseCsvHeader(const QList<QByteArray> &header);

// What an import of a CSV file would do, row by row, before anything is stored.
struct CsvImportRow {
    enum class Outcome { New, Identical, Refused };
    qint64 line = 0;
    Outcome outcome = Outcome::Refused;
    QString reason;         // why a row is refused
    qint64 sameAs = 0;      // Identical: the earlier line of the file it repeats; 0 a stored record
    PerField<QString> text; // the five fields as read, for the preview (Other Info as stored)
    QByteArray record;      // the record line to store, for a new one
    bool withCode = false;  // it brings a one-time code, kept where its store keeps codes
    // Its one-time code as an otpauth:// URI, for a store that keeps codes
    // beside the records; empty: none, or it is in the record's Other Info.
    QByteArray oneTimeCode;
    // "new", "new, with a one-time code", "skipped: identical to line 3 of
    // this file", "refused: ...".
    QString describe() const;
};

struct CsvImportPlan {
    QString error; // set when the file as a whole can not be imported
    CsvLayout layout;
    std::vector<CsvImportRow> rows;
    qsizetype count(CsvImportRow::Outcome outcome) const;
    QList<QByteArray> newRecords() const;
    // The new records' one-time codes, at the same places (empty: none).
    QList<QByteArray> newCodes() const;
};

// Reads a CSV file and sorts its rows into new records, records identical to
// a stored one (or to an earlier row), and refused ones with the reason. It
// reads a slice of rows at a time, so a window stays responsive meanwhile.
class CsvImportPlanner {
public:
    // into is the protection of the store the rows would go to: each row is
    // compared with the stored records in the form that store keeps it.
    // storable says whether a record line reads back whole from that store.
    // The file is read from where it stands.
    CsvImportPlanner(QIODevice &file, RecordList stored, Scope into,
                     std::function<bool(QByteArrayView)> storable);
    // Without a preview to show, the rows that are not refused keep only
    // their record, not their text: a million rows then take a third of
    // the memory.
    void dropTextOfAcceptedRows() { m_keepText = false; }
    // Reads up to rows more rows; false once the plan is complete.
    bool step(qsizetype rows);
    qint64 bytesRead() const { return m_reader.bytesRead(); }
    const CsvImportPlan &plan() const { return m_plan; }
    CsvImportPlan takePlan() { return std::move(m_plan); }

private:
    bool readHeader();

    Csv::Reader m_reader;
    RecordList m_stored;
    Scope m_into;
    std::function<bool(QByteArrayView)> m_storable;
    CsvImportPlan m_plan;
    QHash<QByteArray, qint64> m_seen; // each new record, by the line it came from
    bool m_keepText = true;
    bool m_headerRead = false;
    bool m_done = false;
};

// The whole plan at once.
CsvImportPlan PlanCsvImport(QIODevice &file, const RecordList &stored, Scope into,
                            const std::function<bool(QByteArrayView)> &storable);

// The records as CSV under a header every program above reads: UTF-8, one
// row per record, fields quoted where they must be.
// The last column, totp, holds the record's one-time code where it has one.
QByteArray CsvExportHeader();
QByteArray CsvExportRow(QByteArrayView record, const QByteArray &oneTimeCode = {});
// The header and every record, handed to a file writer a row at a time; the
// list must outlive the write. codeOf gives the record's one-time code by
// its index.
Platform::ContentSource CsvExport(const RecordList &records,
                                  std::function<QByteArray(qsizetype)> codeOf = {});
