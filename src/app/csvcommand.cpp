#include "csvcommand.h"

#include "csv.h"
#include "outcometext.h"
#include "session.h"
#include "terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int ImportCsvFile(Session &session, const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Say(QStringLiteral("%1 could not be read: %2. Nothing was changed.")
                .arg(QDir::toNativeSeparators(path), file.errorString()));
        return 1;
    }
    CsvImportPlanner planner(file, session.records(), session.scope(),
                             [&session](QByteArrayView line) { return session.storable(line); });
    planner.dropTextOfAcceptedRows();
    const qint64 size = std::max<qint64>(file.size(), 1);
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    while (planner.step(8192)) {
        // A read that takes longer than half a second tells how far it is.
        if (clock.elapsed() > 500) {
            std::fprintf(stderr, "\rvarnlock: reading %s: %lld %%", qPrintable(path),
                         static_cast<long long>(planner.bytesRead() * 100 / size));
            told = true;
        }
    }
    if (told)
        std::fprintf(stderr, "\n");
    const CsvImportPlan plan = planner.takePlan();
    if (!plan.error.isEmpty()) {
        Say(QStringLiteral("%1 can not be imported: %2. Nothing was changed.")
                .arg(QDir::toNativeSeparators(path), plan.error));
        return 1;
    }
    // The file's own text (its column names, a refused character) goes
    // through Print, which keeps its control characters off a terminal.
    Print(QStringLiteral("Read %1 as a %2 export: %3\n")
              .arg(QDir::toNativeSeparators(path), plan.layout.format, plan.layout.describe()));
    if (const QStringList leftOut = plan.layout.leftOut(); !leftOut.isEmpty())
        Print(QStringLiteral("Not carried into the records: %1\n")
                  .arg(leftOut.join(QStringLiteral(", "))));
    for (const CsvImportRow &row : plan.rows)
        if (row.outcome != CsvImportRow::Outcome::New)
            Print(QStringLiteral("line %1: %2\n").arg(row.line).arg(row.describe()));
    const QList<QByteArray> records = plan.newRecords();
    const qsizetype identical = plan.count(CsvImportRow::Outcome::Identical);
    const qsizetype refused = plan.count(CsvImportRow::Outcome::Refused);
    if (!records.isEmpty()) {
        const SessionStatus status = session.importRecords(records, plan.newCodes());
        if (status != SessionStatus::Ok) {
            Say(status == SessionStatus::ChangedOnDisk
                    ? QStringLiteral("the records changed on disk while the file was read. "
                                     "Nothing was changed: run the command again.")
                    : QStringLiteral("the records could not be written. Nothing was changed."));
            return 1;
        }
    }
    std::printf("Added %lld, skipped %lld already stored or repeated, refused %lld.\n",
                static_cast<long long>(records.size()), static_cast<long long>(identical),
                static_cast<long long>(refused));
    return records.isEmpty() && (refused > 0 || identical == 0) ? 1 : 0;
}

int ExportCsvFile(const Session &session, const QString &path) {
    const RecordList &records = session.records();
    const Platform::NewFileStatus written = Platform::writeNewFile(
        path, CsvExport(records, [&session](qsizetype i) { return session.oneTimeCode(i); }));
    const QString shown = QDir::toNativeSeparators(path);
    if (written == Platform::NewFileStatus::Exists) {
        Say(QStringLiteral("%1 exists already, and Varnlock never writes over a file here. "
                           "Nothing was written: name a new file.")
                .arg(shown));
        return 1;
    }
    if (written != Platform::NewFileStatus::Written) {
        Say(QStringLiteral("%1 could not be written. Nothing was exported.").arg(shown));
        return 1;
    }
    std::printf("Wrote %s to %s. It holds every password in plain text: delete it when you no "
                "longer need it.\n",
                qPrintable(CountText(records.size(), "record", "records")), qPrintable(shown));
    return 0;
}
