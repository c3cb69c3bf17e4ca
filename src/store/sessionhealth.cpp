#include "sessionhealth.h"

#include "ansi.h"
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

QString RecordNameText(const Session &session, qsizetype index) {
    const QByteArrayView line = session.records().line(index);
    const QString service = Ansi::toUnicode(ServiceName(line));
    const QByteArrayView user = FieldView(line, Field::UserName);
    return user.isEmpty()
               ? service
               : QStringLiteral("%1 (%2)").arg(service, Ansi::toUnicode(user.toByteArray()));
}
