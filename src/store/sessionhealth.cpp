#include "sessionhealth.h"

#include "recordline.h"
#include "session.h"

HealthReport SessionHealthReport(const Session &session, const HealthMarks &marks,
                                 const QDate &today, const std::vector<bool> *breached) {
    const RecordList &records = session.records();
    std::vector<HealthRecord> given(size_t(records.size()));
    for (qsizetype i = 0; i < records.size(); ++i) {
        HealthRecord &record = given[size_t(i)];
        record.line = records.line(i);
        record.passwordSince = session.passwordSince(i);
        record.notAConcern = marks.size() > 0 && marks.marked(session.recordIdentity(i));
    }
    HealthReport report = BuildHealthReport(given, today, breached);
    report.master = CheckMasterPassword(session.needsPassword(), session.settings().expiry, today);
    return report;
}

std::vector<QByteArrayView> SessionPasswords(const Session &session) {
    std::vector<QByteArrayView> passwords;
    passwords.reserve(size_t(session.records().size()));
    for (const QByteArrayView line : session.records().lines())
        passwords.push_back(FieldView(line, Field::Password));
    return passwords;
}
