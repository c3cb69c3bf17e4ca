#include "csv.h"

#include "ansi.h"
#include "onetimecode.h"
#include "recordline.h"

#include <QStringDecoder>
#include <QUrl>

namespace Csv {

namespace {
constexpr qint64 kReadPiece = 64 * 1024;
} // namespace

bool Reader::fill() {
    if (m_atEnd)
        return false;
    m_buffer = m_device.read(kReadPiece);
    m_at = 0;
    if (m_buffer.isEmpty()) {
        m_atEnd = true;
        if (!m_device.atEnd())
            m_error = QStringLiteral("the file could not be read to its end");
        return false;
    }
    if (!m_started) {
        m_started = true;
        if (m_buffer.startsWith("\xEF\xBB\xBF")) {
            m_at = 3;
            m_consumed = 3;
        }
    }
    return m_at < m_buffer.size() || fill();
}

bool Reader::next(Row &row) {
    row.fields.clear();
    if (!m_error.isEmpty())
        return false;
    QByteArray field;
    bool inQuotes = false;
    bool quoted = false; // the current field began with a quote
    qsizetype rowBytes = 0;
    row.line = m_line;
    const auto endField = [&] {
        row.fields.append(field);
        field.clear();
        quoted = false;
    };
    for (;;) {
        if (m_at >= m_buffer.size() && !fill()) {
            if (!m_error.isEmpty())
                return false;
            if (inQuotes) {
                m_error = QStringLiteral("the quoted field that begins on line %1 is never closed")
                              .arg(row.line);
                return false;
            }
            if (rowBytes == 0)
                return false;
            endField();
            return true;
        }
        const char c = m_buffer.at(m_at++);
        ++m_consumed;
        if (++rowBytes > kMaxRowBytes) {
            m_error = QStringLiteral("the row that begins on line %1 is longer than %2 MiB, more "
                                     "than any password record holds")
                          .arg(row.line)
                          .arg(kMaxRowBytes >> 20);
            return false;
        }
        if (inQuotes) {
            if (c != '"') {
                if (c == '\n')
                    ++m_line;
                field.append(c);
                continue;
            }
            // A doubled quote stands for one; a single one closes the field.
            if (m_at >= m_buffer.size())
                fill();
            if (m_at < m_buffer.size() && m_buffer.at(m_at) == '"') {
                ++m_at;
                ++m_consumed;
                ++rowBytes;
                field.append('"');
            } else {
                inQuotes = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            // Only a quote that opens a field quotes it; one inside text is text.
            if (field.isEmpty() && !quoted)
                inQuotes = quoted = true;
            else
                field.append(c);
            break;
        case ',':
            endField();
            break;
        case '\r':
            if (m_at >= m_buffer.size())
                fill();
            if (m_at < m_buffer.size() && m_buffer.at(m_at) == '\n') {
                ++m_at;
                ++m_consumed;
            }
            [[fallthrough]];
        case '\n':
            ++m_line;
            if (row.fields.isEmpty() && field.isEmpty() && !quoted) {
                // A blank line holds no row.
                rowBytes = 0;
                row.line = m_line;
                break;
            }
            endField();
            return true;
        default:
            field.append(c);
        }
    }
}

QByteArray FormatRow(const QList<QByteArray> &fields) {
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out.append(',');
        const QByteArray &field = fields[i];
        const bool quote = field.contains(',') || field.contains('"') || field.contains('\r') ||
                           field.contains('\n') || field.startsWith(' ') || field.endsWith(' ');
        if (!quote) {
            out.append(field);
            continue;
        }
        out.append('"');
        for (const char c : field) {
            if (c == '"')
                out.append('"');
            out.append(c);
        }
        out.append('"');
    }
    out.append("\r\n");
    return out;
}

} // namespace Csv

namespace {

// The column names each record field is taken from, in order of preference.
QList<QByteArray> ColumnNames(Field field) {
    switch (field) {
    case Field::Service:
        return {"title", "name", "service"};
    case Field::UserName:
        return {"username", "login_username", "login", "user name", "user"};
    case Field::Password:
        return {"password", "login_password"};
    case Field::OtherInfo:
        return {"notes", "note", "other", "other info"};
    case Field::Path:
        break;
    }
    return {"url", "login_uri", "path", "uri"};
}

QString HostOf(const QString &address) {
    if (address.isEmpty())
        return {};
    QUrl url(address, QUrl::TolerantMode);
    if (url.host().isEmpty())
        url = QUrl(QStringLiteral("https://") + address, QUrl::TolerantMode);
    return url.host();
}

// Text as the file holds it, when it is UTF-8; a record is one line, so the
// line breaks inside a field become spaces.
bool DecodeField(const QByteArray &raw, QString &text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder.decode(raw);
    if (decoder.hasError())
        return false;
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return true;
}

QString Refusal(CsvImportRow &row) {
    for (const Field field : kFields) {
        const QString &text = row.text[field];
        if (text.isEmpty())
            continue;
        const QString bad = Ansi::firstUnencodable(text);
        if (!bad.isEmpty())
            return QStringLiteral("the %1 holds \"%2\", a character Varnlock can not store (its "
                                  "files use the Windows-1252 character set)")
                .arg(FieldCaption(field), bad);
        if (!FitsRecordLine(field, text.toLatin1()))
            return QStringLiteral("the %1 holds \":!\", which separates the fields of a stored "
                                  "record")
                .arg(FieldCaption(field));
    }
    const bool noUser = row.text[Field::UserName].isEmpty();
    const bool noPassword = row.text[Field::Password].isEmpty();
    if (row.text[Field::Service].isEmpty())
        return QStringLiteral("no service name, and no address to take one from");
    if (noUser && noPassword)
        return QStringLiteral("no user name and no password");
    if (noUser)
        return QStringLiteral("no user name");
    if (noPassword)
        return QStringLiteral("no password");
    return {};
}

// The record as a store under into keeps it, so that a row exported under
// another protection is found identical to the record it came from: the
// weaker protections keep the code in Other Info, the strong store beside
// the record. code is the row's own, made canonical; it is left for the
// store to keep beside the record, or emptied.
QByteArray RowAsStored(QByteArray line, QByteArray &code, Scope into) {
    if (into != Scope::Strong) {
        // Other Info holding this code already keeps it where it stands; one
        // holding another keeps that too, behind this one.
        const std::optional<OneTimeCode> already = ReadOneTimeCode(OneTimeCodeIn(line), nullptr);
        if (!code.isEmpty() && !(already && OneTimeCodeUri(*already) == code))
            line = WithOneTimeCodeAdded(line, code);
        code.clear();
        return line;
    }
    // Other Info with one code, the row's or none, gives it up; any other
    // stays as written.
    if (auto taken = OneTimeCodeTakenOut(line); taken && (code.isEmpty() || code == taken->first)) {
        code = taken->first;
        return taken->second;
    }
    return line;
}

} // namespace

QString CsvLayout::describe() const {
    QStringList parts;
    for (const Field field : kFields) {
        QString from;
        if (column[field] >= 0)
            from = headers.value(column[field]);
        else if (field == Field::Service && column[Field::Path] >= 0)
            from = QStringLiteral("the host of %1").arg(headers.value(column[Field::Path]));
        else
            continue;
        parts << from + QStringLiteral(" \u2192 ") + FieldCaption(field);
    }
    if (codeColumn >= 0)
        parts << headers.value(codeColumn) + QStringLiteral(" \u2192 one-time code");
    return parts.join(QStringLiteral(", "));
}

QStringList CsvLayout::leftOut() const {
    QStringList out;
    for (qsizetype i = 0; i < headers.size(); ++i)
        if (std::find(column.begin(), column.end(), int(i)) == column.end() &&
            int(i) != codeColumn && !headers[i].isEmpty())
            out << headers[i];
    return out;
}

QString CsvImportRow::describe() const {
    switch (outcome) {
    case Outcome::New:
        return withCode ? QStringLiteral("new, with a one-time code") : QStringLiteral("new");
    case Outcome::Identical:
        return sameAs > 0 ? QStringLiteral("skipped: identical to line %1 of this file").arg(sameAs)
                          : QStringLiteral("skipped: identical to a stored record");
    case Outcome::Refused:
        break;
    }
    return QStringLiteral("refused: ") + reason;
}

CsvLayout RecogniseCsvHeader(const QList<QByteArray> &header) {
    CsvLayout layout;
    QList<QByteArray> names;
    for (const QByteArray &name : header) {
        names << name.trimmed().toLower();
        layout.headers << QString::fromUtf8(name.trimmed());
    }
    for (const Field field : kFields) {
        for (const QByteArray &wanted : ColumnNames(field)) {
            if (const qsizetype at = names.indexOf(wanted); at >= 0) {
                layout.column[field] = int(at);
                break;
            }
        }
    }
    for (const QByteArray wanted : {"totp", "login_totp", "otp"})
        if (const qsizetype at = names.indexOf(wanted); at >= 0 && layout.codeColumn < 0)
            layout.codeColumn = int(at);
    if (layout.column[Field::UserName] < 0 || layout.column[Field::Password] < 0 ||
        (layout.column[Field::Service] < 0 && layout.column[Field::Path] < 0))
        return layout;
    if (names.contains("group") && names.contains("title"))
        layout.format = QStringLiteral("KeePassXC");
    else if (names.contains("login_password"))
        layout.format = QStringLiteral("Bitwarden");
    else if (names.contains("httprealm") && names.contains("formactionorigin"))
        layout.format = QStringLiteral("Firefox");
    else if (names.mid(0, 4) == QList<QByteArray>{"name", "url", "username", "password"})
        layout.format = QStringLiteral("Chrome");
    else
        layout.format = QStringLiteral("generic");
    return layout;
}

qsizetype CsvImportPlan::count(CsvImportRow::Outcome outcome) const {
    return std::count_if(rows.begin(), rows.end(),
                         [outcome](const CsvImportRow &row) { return row.outcome == outcome; });
}

QList<QByteArray> CsvImportPlan::newRecords() const {
    QList<QByteArray> records;
    for (const CsvImportRow &row : rows)
        if (row.outcome == CsvImportRow::Outcome::New)
            records.append(row.record);
    return records;
}

CsvImportPlanner::CsvImportPlanner(QIODevice &file, RecordList stored, Scope into,
                                   std::function<bool(QByteArrayView)> storable)
    : m_reader(file), m_stored(std::move(stored)), m_into(into), m_storable(std::move(storable)) {}

bool CsvImportPlanner::readHeader() {
    Csv::Row row;
    if (!m_reader.next(row)) {
        m_plan.error =
            m_reader.error().isEmpty() ? QStringLiteral("the file is empty") : m_reader.error();
        return false;
    }
    m_plan.layout = RecogniseCsvHeader(row.fields);
    if (m_plan.layout.format.isEmpty()) {
        // Two slips a spreadsheet makes when a file is saved from it: said as
        // such, they are put right at once.
        const QByteArray first = row.fields.isEmpty() ? QByteArray() : row.fields.front();
        const bool wide = std::any_of(row.fields.cbegin(), row.fields.cend(),
                                      [](const QByteArray &field) { return field.contains('\0'); });
        if (wide || first.startsWith("\xFF\xFE") || first.startsWith("\xFE\xFF")) {
            m_plan.error = QStringLiteral("it is written in UTF-16 (\"Unicode text\"): save or "
                                          "export it as CSV in UTF-8, then import that");
            return false;
        }
        if (row.fields.size() == 1 && (first.contains(';') || first.contains('\t'))) {
            m_plan.error =
                QStringLiteral("its columns are separated by \"%1\", not by commas: "
                               "save or export it as CSV with commas, then import that")
                    .arg(first.contains(';') ? QStringLiteral(";") : QStringLiteral("tabs"));
            return false;
        }
        m_plan.error = QStringLiteral(
            "its first line is not a header Varnlock knows: it needs a column for the user name "
            "(username or login), one for the password (password), and one for the service "
            "(title, name or service) or its address (url)");
        return false;
    }
    return true;
}

bool CsvImportPlanner::step(qsizetype rows) {
    if (m_done)
        return false;
    if (!m_headerRead) {
        m_headerRead = true;
        if (!readHeader()) {
            m_done = true;
            return false;
        }
    }
    Csv::Row row;
    for (qsizetype n = 0; n < rows; ++n) {
        if (!m_reader.next(row)) {
            m_done = true;
            if (!m_reader.error().isEmpty()) {
                m_plan.error = m_reader.error();
                m_plan.rows.clear();
            }
            return false;
        }
        CsvImportRow &item = m_plan.rows.emplace_back();
        item.line = row.line;
        bool readable = true;
        for (const Field field : kFields) {
            const int column = m_plan.layout.column[field];
            if (readable && column >= 0 && column < row.fields.size())
                readable = DecodeField(row.fields[column], item.text[field]);
        }
        if (!readable) {
            for (QString &text : item.text)
                text.clear();
            item.reason = QStringLiteral("an unreadable line: it is not UTF-8 text");
            continue;
        }
        if (item.text[Field::Service].isEmpty())
            item.text[Field::Service] = HostOf(item.text[Field::Path]);
        item.reason = Refusal(item);
        if (!item.reason.isEmpty())
            continue;
        const int codeColumn = m_plan.layout.codeColumn;
        if (codeColumn >= 0 && codeColumn < row.fields.size() &&
            !row.fields[codeColumn].trimmed().isEmpty()) {
            // A two-step secret that can not be used is said, never dropped.
            QString problem;
            const std::optional<OneTimeCode> code =
                ReadOneTimeCode(row.fields[codeColumn].trimmed(), &problem);
            if (!code) {
                item.reason = QStringLiteral("its one-time code can not be used: %1").arg(problem);
                continue;
            }
            item.oneTimeCode = OneTimeCodeUri(*code);
        }
        RecordFields fields;
        for (const Field field : kFields)
            fields[field] = Ansi::fromUnicode(item.text[field]);
        const bool codeColumnUsed = !item.oneTimeCode.isEmpty();
        item.record = RowAsStored(ComposeRecordLine(fields), item.oneTimeCode, m_into);
        item.withCode = codeColumnUsed || !item.oneTimeCode.isEmpty();
        // The preview shows Other Info as it is stored: a code may have left
        // it, or come into it.
        item.text[Field::OtherInfo] =
            Ansi::toUnicode(FieldView(item.record, Field::OtherInfo).toByteArray());
        if (m_storable && !m_storable(item.record)) {
            item.record.clear();
            item.reason = QStringLiteral(
                "it can not be stored safely under the current master password: one of its "
                "characters would break the line it is stored on");
            continue;
        }
        if (!m_keepText)
            for (QString &text : item.text)
                text = QString();
        const auto earlier = m_seen.constFind(item.record);
        if (m_stored.contains(item.record) || earlier != m_seen.cend()) {
            item.outcome = CsvImportRow::Outcome::Identical;
            item.sameAs = m_stored.contains(item.record) ? 0 : *earlier;
            item.record.clear();
            continue;
        }
        m_seen.insert(item.record, item.line);
        item.outcome = CsvImportRow::Outcome::New;
    }
    return true;
}

CsvImportPlan PlanCsvImport(QIODevice &file, const RecordList &stored, Scope into,
                            const std::function<bool(QByteArrayView)> &storable) {
    CsvImportPlanner planner(file, stored, into, storable);
    while (planner.step(4096)) {
    }
    return planner.takePlan();
}

QList<QByteArray> CsvImportPlan::newCodes() const {
    QList<QByteArray> codes;
    for (const CsvImportRow &row : rows)
        if (row.outcome == CsvImportRow::Outcome::New)
            codes.append(row.oneTimeCode);
    return codes;
}

QByteArray CsvExportHeader() {
    return Csv::FormatRow({"service", "username", "password", "notes", "url", "totp"});
}

Platform::ContentSource CsvExport(const RecordList &records,
                                  std::function<QByteArray(qsizetype)> codeOf) {
    return [&records, codeOf = std::move(codeOf)](const Platform::ChunkWriter &write) {
        if (!write(CsvExportHeader()))
            return false;
        for (qsizetype i = 0; i < records.size(); ++i)
            if (!write(CsvExportRow(records.line(i), codeOf ? codeOf(i) : QByteArray())))
                return false;
        return true;
    };
}

QByteArray CsvExportRow(QByteArrayView record, const QByteArray &oneTimeCode) {
    RecordFields fields;
    SplitRecordLine(record, fields);
    QList<QByteArray> row;
    for (const QByteArray &field : fields)
        row << Ansi::toUnicode(field).toUtf8();
    row << oneTimeCode;
    return Csv::FormatRow(row);
}
