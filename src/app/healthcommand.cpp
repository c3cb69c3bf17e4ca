#include "ansi.h"
#include "breachlist.h"
#include "outcometext.h"
#include "recordcommands.h"
#include "recordline.h"
#include "session.h"
#include "sessionhealth.h"
#include "settings.h"
#include "terminal.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

QString IsoDate(const QDate &date) {
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

const char *MasterStateName(MasterPasswordHealth::State state) {
    using State = MasterPasswordHealth::State;
    switch (state) {
    case State::None:
        return "none";
    case State::NeverExpires:
        return "never_expires";
    case State::Expires:
        return "expires";
    case State::ExpiresSoon:
        return "expires_soon";
    case State::ExpiresToday:
        return "expires_today";
    case State::Expired:
        return "expired";
    }
    return "";
}

QJsonObject NameJson(const Session &session, qsizetype index) {
    const QByteArrayView line = session.records().line(index);
    return {{"service", Ansi::toUnicode(ServiceName(line))},
            {"username", Ansi::toUnicode(FieldView(line, Field::UserName).toByteArray())}};
}

QJsonObject ReportJson(const Session &session, const HealthReport &report) {
    QJsonArray rows;
    for (const RecordHealth &row : report.rows) {
        QJsonObject object = NameJson(session, row.index);
        QJsonArray concerns;
        for (const Concern concern : kConcerns)
            if (row.has(concern))
                concerns << QLatin1String(ConcernName(concern));
        object["concerns"] = concerns;
        object["strength_bits"] = std::round(row.strengthBits * 10) / 10;
        object["length"] = row.length;
        QJsonArray shared;
        for (const qsizetype other : row.sharedWith)
            shared << NameJson(session, other);
        object["reused_with"] = shared; // the first few
        object["reused_count"] = row.sharedCount;
        if (row.passwordSince.isValid())
            object["password_since"] = IsoDate(row.passwordSince);
        rows << object;
    }
    QJsonObject master{{"state", QLatin1String(MasterStateName(report.master.state))}};
    if (report.master.expires.isValid())
        master["expires"] = IsoDate(report.master.expires);
    return {{"checked", report.checked},
            {"not_a_concern", report.notAConcern},
            {"breach_checked", report.breachChecked},
            {"master_password", master},
            {"records", rows}};
}

} // namespace

int HealthCommand(Session &session, const CommandArguments &args) {
    std::optional<std::vector<bool>> breached;
    if (args.given("breached")) {
        const QString path = args.value("breached");
        const BreachCheck check(SessionPasswords(session));
        // A list of many gigabytes takes a while: a terminal is shown how far it got.
        QElapsedTimer shown;
        shown.start();
        const bool terminal = ErrorIsTerminal();
        BreachCheck::Result result = check.checkFile(path, nullptr, [&](qint64 done, qint64 total) {
            if (terminal && total > 0 && shown.elapsed() >= 200) {
                std::fprintf(stderr, "\rReading the breach list: %lld %%",
                             static_cast<long long>(done * 100 / total));
                shown.restart();
            }
        });
        if (terminal && shown.isValid())
            std::fputs("\r                                  \r", stderr);
        if (const QString problem = BreachProblemText(result.status, path); !problem.isEmpty()) {
            Say(problem);
            return kExitFailed;
        }
        breached = std::move(result.found);
    }
    const HealthMarks marks = HealthMarks::read(session.paths().healthMarks());
    const HealthReport report =
        SessionHealthReport(session, marks, Clock::today(), breached ? &*breached : nullptr);
    if (args.has("json")) {
        Write(stdout,
              QJsonDocument(ReportJson(session, report)).toJson(QJsonDocument::Compact) + '\n');
        return kExitOk;
    }
    QString text = HealthSummaryText(report) + u'\n' + MasterPasswordText(report.master) + u'\n';
    if (!report.rows.empty())
        text += u'\n';
    const RecordName name = [&](qsizetype i) { return RecordNameText(session.records().line(i)); };
    for (const RecordHealth &row : report.rows)
        text += name(row.index) + u'\t' + ConcernsText(row, name) + u'\n';
    Print(text);
    return kExitOk;
}
