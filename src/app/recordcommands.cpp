#include "recordcommands.h"

#include "ansi.h"
#include "csvcommand.h"
#include "fold.h"
#include "generator.h"
#include "merge.h"
#include "onetimecode.h"
#include "outcometext.h"
#include "recordfind.h"
#include "recordline.h"
#include "session.h"
#include "storecopies.h"
#include "strongstore.h"
#include "terminal.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <numeric>
#include <optional>

namespace {

// How much of the other info tells records alike by name apart in a list.
constexpr qsizetype kHintLength = 30;

const char *const kFieldOptionNames[kFieldCount] = {"service", "username", "password", "other",
                                                    "path"};

QString Text(QByteArrayView bytes) {
    return Ansi::toUnicode(bytes.toByteArray());
}

void PrintJson(const QJsonValue &value) {
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    Write(stdout, document.toJson(QJsonDocument::Compact) + '\n');
}

bool FoldEqual(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return kFold[static_cast<unsigned char>(x)] == kFold[static_cast<unsigned char>(y)];
           });
}

// Those of the records among whose field equals text with letter case
// ignored; where several do, those equal exactly, if any are.
QList<qsizetype> Matching(const RecordList &records, const QList<qsizetype> &among, Field field,
                          QByteArrayView text) {
    QList<qsizetype> exact, folded;
    for (const qsizetype i : among) {
        const QByteArrayView value = FieldView(records.line(i), field);
        if (FoldEqual(value, text))
            folded << i;
        if (value == text)
            exact << i;
    }
    return folded.size() > 1 && !exact.isEmpty() ? exact : folded;
}

QString Named(QByteArrayView line) {
    return RecordNameText(line);
}

// Text given for a field, as the files hold it; nothing, said why, when the
// files can not hold it.
std::optional<QByteArray> FieldBytes(Field field, const QString &text) {
    if (const QString refusal = FieldRefusalText(field, text); !refusal.isEmpty()) {
        Say(refusal);
        return std::nullopt;
    }
    return Ansi::fromUnicode(text);
}

// The fields the options give (--service, --username, --other, --path) into
// fields; the others keep what they hold. False, said why, when one can not
// be stored.
bool TakeFieldOptions(const CommandArguments &args, RecordFields &fields) {
    for (const Field field : {Field::Service, Field::UserName, Field::OtherInfo, Field::Path}) {
        if (!args.given(kFieldOptionNames[int(field)]))
            continue;
        const std::optional<QByteArray> bytes =
            FieldBytes(field, args.value(kFieldOptionNames[int(field)]));
        if (!bytes)
            return false;
        fields[field] = *bytes;
    }
    return true;
}

// The record's password: generated, typed twice on a terminal, or one line
// of standard input.
std::optional<QByteArray> RecordPassword(const CommandArguments &args) {
    if (args.generate) {
        if (args.level == 3 && (args.length < 1 || args.length > kMaxProposalLength)) {
            Say(QStringLiteral("a generated password has 1 to %1 characters.")
                    .arg(kMaxProposalLength));
            return std::nullopt;
        }
        return GenerateProposal(args.level, args.length, SystemDraw());
    }
    QString typed, again;
    if (!ReadSecretLine("Password for the record: ", typed)) {
        Say(QStringLiteral("no password was given for the record. Nothing was stored."));
        return std::nullopt;
    }
    const auto forget = qScopeGuard([&] {
        typed.fill(u'\0');
        again.fill(u'\0');
    });
    if (InputIsTerminal() && (!ReadSecretLine("The same again: ", again) || again != typed)) {
        Say(QStringLiteral("the two passwords typed differ. Nothing was stored."));
        return std::nullopt;
    }
    if (typed.isEmpty()) {
        Say(QStringLiteral("a record needs a password. Nothing was stored."));
        return std::nullopt;
    }
    return FieldBytes(Field::Password, typed);
}

// The one-time code an option gives, as the records keep it; nothing, said
// why, when it is not one. An empty option is no code.
std::optional<QByteArray> OneTimeCodeOption(const QString &given) {
    if (given.isEmpty())
        return QByteArray();
    QString problem;
    const std::optional<OneTimeCode> code = ReadOneTimeCode(given.toUtf8(), &problem);
    if (!code) {
        Say(QStringLiteral("the one-time code can not be used: %1. Nothing was stored.")
                .arg(problem));
        return std::nullopt;
    }
    return OneTimeCodeUri(*code);
}

// Says what a failed record command came to; its exit code.
int Failed(SessionStatus status, const Session &session) {
    const OutcomeText outcome = SessionOutcomeText(status, session);
    Say(outcome.text.isEmpty() ? QStringLiteral("nothing was changed.") : outcome.text);
    return kExitFailed;
}

QJsonObject RecordJson(QByteArrayView line, bool withPassword) {
    RecordFields fields;
    SplitRecordLine(line, fields);
    QJsonObject object;
    for (const Field field : kFields)
        if (field != Field::Password || withPassword)
            object.insert(QLatin1String(kFieldOptionNames[int(field)]), Text(fields[field]));
    return object;
}

} // namespace

std::optional<qsizetype> PickRecord(const RecordList &records, const CommandArguments &args,
                                    int &code) {
    QList<qsizetype> all(records.size());
    std::iota(all.begin(), all.end(), qsizetype(0));
    const QString name = args.words.value(0);
    // The user name first: "mail" for bob finds his "Mail" beside ann's "mail".
    QList<qsizetype> found = all;
    if (args.given("user"))
        found = Matching(records, found, Field::UserName, Ansi::fromUnicode(args.value("user")));
    found = Matching(records, found, Field::Service, Ansi::fromUnicode(name));
    if (args.given("number")) {
        // Records alike in service and user name can only be told apart by
        // their place among the candidates, as the list shows them.
        bool ok = false;
        const qsizetype number = args.value("number").toLongLong(&ok);
        if (!ok || number < 1) {
            Say(QStringLiteral("--number takes 1 for the first record named, 2 for the next..."));
            code = kExitUsage;
            return std::nullopt;
        }
        if (number <= found.size())
            return found[number - 1];
    } else if (found.size() == 1) {
        return found.front();
    }
    if (found.isEmpty() || args.given("number")) {
        const QString named = args.given("user")
                                  ? QStringLiteral("the service \"%1\" and the user name \"%2\"")
                                        .arg(name, args.value("user"))
                                  : QStringLiteral("the service \"%1\"").arg(name);
        Say(found.isEmpty() ? QStringLiteral("no record has %1.").arg(named)
                            : QStringLiteral("%1 records have %2: --number %3 is none of them.")
                                  .arg(found.size())
                                  .arg(named, args.value("number")));
        code = kExitFailed;
        return std::nullopt;
    }
    Say(QStringLiteral("\"%1\" names %2 records; pick one with --user or --number:")
            .arg(name)
            .arg(found.size()));
    QStringList names;
    for (const qsizetype i : found)
        names << Named(records.line(i));
    for (qsizetype n = 0; n < found.size(); ++n) {
        QString candidate = QStringLiteral("  %1  %2").arg(n + 1).arg(names[n]);
        // Alike by name: the start of what else tells them apart.
        if (names.count(names[n]) > 1) {
            RecordFields fields;
            SplitRecordLine(records.line(found[n]), fields);
            const QByteArray hint = !fields[Field::OtherInfo].isEmpty()
                                        ? QByteArray(fields[Field::OtherInfo])
                                        : QByteArray(fields[Field::Path]);
            if (!hint.isEmpty())
                candidate += QStringLiteral("  %1").arg(Text(hint).left(kHintLength) +
                                                        (hint.size() > kHintLength ? "..." : ""));
        }
        Write(stderr, candidate.toLocal8Bit() + '\n');
    }
    code = kExitUsage;
    return std::nullopt;
}

bool FieldByOptionName(const QString &name, Field &field) {
    for (const Field each : kFields)
        if (name == QLatin1String(kFieldOptionNames[int(each)])) {
            field = each;
            return true;
        }
    return false;
}

namespace {

// The records the text finds, one a line (or a JSON array): their service
// names, or with the user names too.
int ListMatches(const Session &session, const CommandArguments &args, bool withUserName) {
    const RecordList &records = session.records();
    QJsonArray found;
    QByteArray out;
    for (const qsizetype i : FindRecords(records, Ansi::fromUnicode(args.words.value(0)))) {
        const QByteArrayView service = FieldView(records.line(i), Field::Service);
        const QByteArrayView userName = FieldView(records.line(i), Field::UserName);
        if (args.has("json") && withUserName) {
            found.append(QJsonObject{{"service", Text(service)}, {"username", Text(userName)}});
        } else if (args.has("json")) {
            found.append(Text(service));
        } else {
            // The terminal's encoding, which Qt takes for UTF-8 on every Unix.
            Ansi::appendUtf8(out, service);
            if (withUserName) {
                out += '\t';
                Ansi::appendUtf8(out, userName);
            }
            out += '\n';
        }
    }
    if (args.has("json"))
        PrintJson(found);
    else
        Write(stdout, out);
    return kExitOk;
}

} // namespace

int ListCommand(Session &session, const CommandArguments &args) {
    return ListMatches(session, args, false);
}

int SearchCommand(Session &session, const CommandArguments &args) {
    return ListMatches(session, args, true);
}

int ShowCommand(Session &session, const CommandArguments &args) {
    Field only = Field::Service;
    if (args.given("field") && !FieldByOptionName(args.value("field"), only)) {
        Say(QStringLiteral("--field is one of service, username, password, other and path."));
        return kExitUsage;
    }
    int code = kExitOk;
    const std::optional<qsizetype> index = PickRecord(session.records(), args, code);
    if (!index)
        return code;
    const QByteArrayView line = session.records().line(*index);
    RecordFields fields;
    SplitRecordLine(line, fields);
    if (args.has("totp")) {
        QString problem;
        const std::optional<OneTimeCode> code =
            ReadOneTimeCode(session.oneTimeCode(*index), &problem);
        if (!code) {
            Say(session.oneTimeCode(*index).isEmpty()
                    ? QStringLiteral("%1 has no one-time code.").arg(Named(line))
                    : QStringLiteral("the one-time code of %1 can not be used: %2.")
                          .arg(Named(line), problem));
            return kExitFailed;
        }
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (args.has("json"))
            PrintJson(QJsonObject{{"code", QString::fromLatin1(CodeAt(*code, now))},
                                  {"seconds_left", SecondsLeft(*code, now)}});
        else
            Print(QString::fromLatin1(CodeAt(*code, now)) + u'\n');
        return kExitOk;
    }
    if (args.given("field")) {
        if (args.has("json"))
            PrintJson(QJsonObject{{args.value("field"), Text(fields[only])}});
        else
            Print(Text(fields[only]) + u'\n');
        return kExitOk;
    }
    const bool password = args.has("show-password");
    if (args.has("json")) {
        PrintJson(RecordJson(line, password));
        return kExitOk;
    }
    QString out;
    for (const Field field : kFields)
        out += QStringLiteral("%1: %2\n")
                   .arg(FieldCaption(field),
                        field != Field::Password || password
                            ? Text(fields[field])
                            : QStringLiteral("(hidden: --show-password shows it)"));
    if (!session.oneTimeCode(*index).isEmpty())
        out += QStringLiteral("One-time code: set (--totp shows the current code)\n");
    Print(out);
    return kExitOk;
}

int AddCommand(Session &session, const CommandArguments &args) {
    RecordFields fields;
    if (!TakeFieldOptions(args, fields))
        return kExitFailed;
    if (fields[Field::Service].isEmpty() || fields[Field::UserName].isEmpty()) {
        Say(QStringLiteral("a record needs a service and a user name: give --service and "
                           "--username."));
        return kExitUsage;
    }
    const std::optional<QByteArray> password = RecordPassword(args);
    if (!password)
        return kExitFailed;
    fields[Field::Password] = *password;
    const std::optional<QByteArray> code = OneTimeCodeOption(args.value("totp"));
    if (!code)
        return kExitFailed;
    QByteArray line = ComposeRecordLine(fields);
    const auto forget = qScopeGuard([&] { Strong::Wipe(line); });
    const SessionStatus status = session.add(line, nullptr, *code);
    if (status != SessionStatus::Ok)
        return Failed(status, session);
    Print(QStringLiteral("Stored %1%2.\n")
              .arg(Named(line),
                   args.generate ? QStringLiteral(", with a generated password") : QString()));
    return kExitOk;
}

int EditCommand(Session &session, const CommandArguments &args) {
    bool anything = args.has("password") || args.generate || args.given("totp");
    for (const Field field : {Field::Service, Field::UserName, Field::OtherInfo, Field::Path})
        anything = anything || args.given(kFieldOptionNames[int(field)]);
    if (!anything) {
        Say(QStringLiteral("edit changes nothing without --service, --username, --password, "
                           "--generate, --other, --path or --totp."));
        return kExitUsage;
    }
    int code = kExitOk;
    const std::optional<qsizetype> index = PickRecord(session.records(), args, code);
    if (!index)
        return code;
    RecordFields fields;
    SplitRecordLine(session.records().line(*index), fields);
    if (!TakeFieldOptions(args, fields))
        return kExitFailed;
    if (fields[Field::Service].isEmpty() || fields[Field::UserName].isEmpty()) {
        Say(QStringLiteral("a record needs a service and a user name. Nothing was changed."));
        return kExitUsage;
    }
    if (args.has("password") || args.generate) {
        const std::optional<QByteArray> password = RecordPassword(args);
        if (!password)
            return kExitFailed;
        fields[Field::Password] = *password;
    }
    const std::optional<QByteArray> uri =
        args.given("totp") ? OneTimeCodeOption(args.value("totp")) : session.oneTimeCode(*index);
    if (!uri)
        return kExitFailed;
    // Where the code lives in Other Info, the fields given keep it there.
    if (session.scope() != Scope::Strong)
        fields[Field::OtherInfo] =
            FieldView(WithOneTimeCode(ComposeRecordLine(fields), *uri), Field::OtherInfo)
                .toByteArray();
    QByteArray line = ComposeRecordLine(fields);
    const auto forget = qScopeGuard([&] { Strong::Wipe(line); });
    // The fields of another record: the store stays as it is, as the window
    // keeps it, but a script must learn that the edit was not made.
    if (line != session.records().line(*index) && session.records().contains(line)) {
        Say(QStringLiteral("There were no changes: another record, %1, holds these very fields.")
                .arg(Named(line)));
        return kExitFailed;
    }
    qsizetype at = *index;
    SessionStatus status = session.replace(*index, line, &at);
    if (status == SessionStatus::NoChange)
        at = *index;
    const SessionStatus coded = status == SessionStatus::Ok || status == SessionStatus::NoChange
                                    ? session.setOneTimeCode(at, *uri)
                                    : status;
    if (status == SessionStatus::NoChange && coded == SessionStatus::NoChange) {
        Print(QStringLiteral("There were no changes\n"));
        return kExitOk;
    }
    if (coded != SessionStatus::Ok && coded != SessionStatus::NoChange)
        return Failed(coded, session);
    Print(QStringLiteral("Changed %1.\n").arg(Named(line)));
    return kExitOk;
}

int RemoveCommand(Session &session, const CommandArguments &args) {
    int code = kExitOk;
    const std::optional<qsizetype> index = PickRecord(session.records(), args, code);
    if (!index)
        return code;
    const QString named = Named(session.records().line(*index));
    const SessionStatus status = session.remove(*index);
    if (status != SessionStatus::Ok)
        return Failed(status, session);
    Print(QStringLiteral("Removed %1.\n").arg(named));
    return kExitOk;
}

std::optional<QString> ClipUsageProblem(const CommandArguments &args) {
    Field field = Field::Password;
    if (args.given("field") && !FieldByOptionName(args.value("field"), field))
        return QStringLiteral("--field is one of service, username, password, other and path.");
    bool number = true;
    const int seconds = args.given("timeout") ? args.value("timeout").toInt(&number) : 20;
    if (!number || seconds < 0 || seconds > 24 * 3600)
        return QStringLiteral("--timeout is a number of seconds, 0 to 86400.");
    return std::nullopt;
}

int GenerateCommand(const CommandArguments &args) {
    const QString level = args.given("level") ? args.value("level") : QStringLiteral("3");
    if (level != QLatin1String("1") && level != QLatin1String("2") && level != QLatin1String("3")) {
        Say(QStringLiteral("--level is 1, 2 or 3."));
        return kExitUsage;
    }
    bool number = true;
    const int length = args.given("length") ? args.value("length").toInt(&number) : 20;
    if (args.given("length") && level != QLatin1String("3")) {
        Say(QStringLiteral("--length is for level 3: level 1 is 6 characters, level 2 is 8."));
        return kExitUsage;
    }
    if (!number || length < 1 || length > kMaxProposalLength) {
        Say(QStringLiteral("--length is 1 to %1.").arg(kMaxProposalLength));
        return kExitUsage;
    }
    QByteArray proposal = GenerateProposal(level.toInt(), length, SystemDraw());
    std::fwrite(proposal.constData(), 1, size_t(proposal.size()), stdout);
    std::fputc('\n', stdout);
    Strong::Wipe(proposal);
    return kExitOk;
}

namespace {

const char *KindName(MergeChange::Kind kind) {
    switch (kind) {
    case MergeChange::Kind::Added:
        return "added";
    case MergeChange::Kind::Changed:
        return "changed";
    case MergeChange::Kind::BothChanged:
        return "changed-on-both";
    case MergeChange::Kind::Removed:
        return "removed";
    case MergeChange::Kind::KeptAfterRemoval:
        return "kept-after-removal";
    }
    return "";
}

// What a merge did, to be printed as text or as JSON.
struct MergeReport {
    QString text;
    QJsonObject json;
};

// The merge of a copy that knows its records' ids; nothing, said why, when
// it could not be written.
std::optional<MergeReport> MergeIdentified(Session &session, const CopyRecords &copy,
                                           const QString &name, bool dry) {
    MergeResult merged;
    if (dry) {
        merged = MergeStores(session.contents(), copy.contents());
    } else if (const SessionStatus status = session.mergeCopy(copy.contents(), &merged);
               status != SessionStatus::Ok) {
        Failed(status, session);
        return std::nullopt;
    }
    QJsonArray changes;
    for (const MergeChange &change : merged.changes) {
        QJsonObject row{{"change", KindName(change.kind)},
                        {"service", Text(change.service)},
                        {"username", Text(change.userName)}};
        if (change.kind == MergeChange::Kind::BothChanged)
            row.insert("kept", change.otherWon ? "copy" : "here");
        changes.append(row);
    }
    MergeReport report;
    report.json =
        QJsonObject{{"copy", name}, {"written", !dry && merged.differs}, {"changes", changes}};
    if (merged.changes.empty())
        report.text =
            QStringLiteral("The copy %1 holds nothing that is not stored here.\n").arg(name);
    else
        report.text = (dry ? QStringLiteral("A merge would change this (nothing was written):\n")
                           : MergeSummaryText(merged, name) + u'\n') +
                      MergeDetailsText(merged) + u'\n';
    return report;
}

// The merge of a copy without ids, compared by service and user name: what
// is only in the copy is added, and a record that differs is added beside
// the one here, as the window's preview offers them first.
std::optional<MergeReport> MergeCompared(Session &session, const CopyRecords &copy,
                                         const QString &name, bool dry) {
    const std::vector<CopyRecord> rows = CompareCopy(session.records(), copy.lines);
    QList<QByteArray> added;
    QJsonArray changes;
    QString listed;
    qsizetype identical = 0;
    for (const CopyRecord &row : rows) {
        if (row.kind == CopyRecord::Kind::Identical) {
            ++identical;
            continue;
        }
        added << row.line;
        const bool isNew = row.kind == CopyRecord::Kind::New;
        RecordFields fields;
        SplitRecordLine(row.line, fields);
        changes.append(QJsonObject{{"change", isNew ? "new" : "differs"},
                                   {"service", Text(fields[Field::Service])},
                                   {"username", Text(fields[Field::UserName])}});
        listed += (isNew ? QStringLiteral("New: ") : QStringLiteral("Differs, added beside: ")) +
                  Named(row.line) + u'\n';
    }
    const auto forget = qScopeGuard([&] {
        for (QByteArray &line : added)
            Strong::Wipe(line);
    });
    if (!dry && !added.isEmpty())
        if (const SessionStatus status = session.takeFromCopy(added, {}, copy.codes);
            status != SessionStatus::Ok) {
            Failed(status, session);
            return std::nullopt;
        }
    MergeReport report;
    report.json = QJsonObject{{"copy", name},
                              {"written", !dry && !added.isEmpty()},
                              {"identical", qint64(identical)},
                              {"changes", changes}};
    if (added.isEmpty())
        report.text =
            QStringLiteral("The copy %1 holds nothing that is not stored here.\n").arg(name);
    else
        report.text =
            (dry ? QStringLiteral("A merge would add these records (nothing was written):\n")
                 : QStringLiteral("Added %1 from the copy %2:\n")
                       .arg(CountText(added.size(), "record", "records"), name)) +
            listed;
    return report;
}

} // namespace

int MergeCommand(Session &session, const CommandArguments &args) {
    QString problem;
    const std::optional<StoreCopy> copy =
        StoreCopyAt(args.words.value(0), session.paths(), session.scope(), &problem);
    if (!copy) {
        Say(problem);
        return kExitFailed;
    }
    const QString name = QDir::toNativeSeparators(copy->path);
    const Strong::Keys *keys = session.scope() == Scope::Strong && session.strongKeys().valid()
                                   ? &session.strongKeys()
                                   : nullptr;
    CopyRecords read;
    const auto forget = qScopeGuard([&read] { read.wipe(); });
    QString why;
    CopyStatus status =
        ReadStoreCopy(*copy, session.scope(), keys, session.key(), nullptr, read, &why);
    QByteArray copyPassphrase; // a strong copy's own, when it asked for one
    const auto forgetPassphrase = qScopeGuard([&copyPassphrase] { Strong::Wipe(copyPassphrase); });
    for (int tries = 0;
         tries < 3 && (status == CopyStatus::NeedsPassword || status == CopyStatus::WrongPassword);
         ++tries) {
        if (status == CopyStatus::WrongPassword && tries > 0)
            Say(QStringLiteral("that is not the password of the copy."));
        QString typed;
        if (!ReadSecretLine("Password of the copy: ", typed))
            break;
        QByteArray password = copy->format == Scope::Strong ? Strong::PassphraseBytes(typed)
                                                            : Ansi::fromUnicode(typed);
        typed.fill(u'\0');
        status = ReadStoreCopy(*copy, session.scope(), keys, session.key(), &password, read, &why);
        if (status == CopyStatus::Ok && copy->format == Scope::Strong)
            std::swap(copyPassphrase, password);
        Strong::Wipe(password);
    }
    if (status != CopyStatus::Ok) {
        Say(status == CopyStatus::Failed
                ? why
                : QStringLiteral("the copy %1 was not merged: its password was not given. "
                                 "Nothing was changed.")
                      .arg(name));
        return kExitFailed;
    }
    const bool dry = args.has("dry-run");
    std::optional<MergeReport> report = session.scope() == Scope::Strong && read.identified()
                                            ? MergeIdentified(session, read, name, dry)
                                            : MergeCompared(session, read, name, dry);
    if (!report)
        return kExitFailed;
    // A copy a sync tool left in Data is settled by its merge, as the window
    // settles it; a file named elsewhere is the user's own, and stays.
    const bool removed = !dry && IsCopyInData(copy->path, session.paths(), session.scope()) &&
                         RemoveMergedCopy(*copy);
    // A passphrase changed on another computer would come undone there once
    // this store syncs back under the old one: taken when asked for, else said.
    const bool ownPassphrase = !dry && session.scope() == Scope::Strong && read.identified() &&
                               !copyPassphrase.isEmpty() &&
                               !Strong::IsPasswordOf(session.strongKeys(), copyPassphrase);
    const bool take = ownPassphrase && args.has("take-passphrase");
    if (take)
        if (const SessionStatus status = session.takePassphrase(copyPassphrase);
            status != SessionStatus::Ok) {
            Failed(status, session);
            Say(QStringLiteral("The merge itself was made; the records here keep their "
                               "passphrase."));
            return kExitFailed;
        }
    if (args.has("json")) {
        report->json.insert("removed", removed);
        if (ownPassphrase)
            report->json.insert("passphrase", take ? "taken" : "kept");
        PrintJson(report->json);
    } else {
        Print(report->text +
              (removed ? QStringLiteral("The copy was removed: what it held is stored here now.\n")
                       : QString()) +
              (take ? QStringLiteral("The records here open with the copy's passphrase now.\n")
                    : QString()));
    }
    // A removed copy can not be merged again to take its passphrase.
    if (ownPassphrase && !take)
        Say(QStringLiteral("the copy was under another passphrase; the records here keep theirs "
                           "(%1).")
                .arg(removed ? QStringLiteral("Menu \u2192 Security in the window changes it; a "
                                              "merge with --take-passphrase takes a copy's")
                             : QStringLiteral("merge it with --take-passphrase to give them the "
                                              "copy's")));
    return kExitOk;
}

int ImportCsvCommand(Session &session, const CommandArguments &args) {
    return ImportCsvFile(session, args.words.value(0));
}

int ExportCsvCommand(Session &session, const CommandArguments &args) {
    return ExportCsvFile(session, args.words.value(0));
}
