#include "outcometext.h"

#include "ansi.h"
#include "database.h"
#include "merge.h"
#include "session.h"
#include "storecopies.h"

#include <QDir>
#include <QFileInfo>

const QString kOtherKeyText = QStringLiteral(
    "The enciphered copy of the records on disk does not decipher under the master password "
    "that the settings here hold. Most likely another computer's new password has arrived only "
    "in part; otherwise the copy is damaged. Nothing is listed from it and nothing is written to "
    "it, and the fields keep what you typed. Varnlock reads the files again as soon as they "
    "change.");

namespace {

const QString kChangedOnDiskText = QStringLiteral(
    "The records were changed on disk by another program (or another copy of Varnlock) since "
    "this window read them, so nothing was written. The list now shows the records as they are "
    "on disk, and the fields still hold what you typed: check them and repeat the command.");
const QString kUnsafeRecordText = QStringLiteral(
    "This record can not be stored safely under the current master password: one of its "
    "characters would break the line it is stored on. Change the characters outside A-Z, "
    "a-z and 0-9, or the master password, and try again.");

QString Shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QString StrongStoreCopyBeside(const QString &path) {
    const QFileInfo store(path);
    for (const QString &name : store.dir().entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        Scope format = Scope::None;
        if (IsStoreCopyName(name, &format) && format == Scope::Strong)
            return name;
    }
    return {};
}

namespace {

// A store of another protection beside the strong store at path, or nothing.
QString OtherProtectionBeside(const QString &path) {
    const QString stem = path.chopped(QFileInfo(path).suffix().size());
    for (const QString &other : {stem + QStringLiteral("pdb"), stem + QStringLiteral("edb")})
        if (QFileInfo::exists(other))
            return other;
    return {};
}

} // namespace

bool StrongStoreMissingForAMoment(const QString &path) {
    return !QFileInfo::exists(path) &&
           (!OtherProtectionBeside(path).isEmpty() || !StrongStoreCopyBeside(path).isEmpty());
}

QString StrongStoreText(Strong::Status status, const QString &path) {
    const QString file = Shown(path);
    switch (status) {
    case Strong::Status::Damaged:
        return QStringLiteral(
                   "The strong store %1 failed its check: it was damaged or changed by someone "
                   "else. The records before the damage are listed; nothing will be written to "
                   "the file. Put back a backup of it, or export what is listed by hand.")
            .arg(file);
    case Strong::Status::HeaderDamaged:
        return QStringLiteral("The strong store %1 is damaged: its header is cut short or fails "
                              "its checksum, so no password can open it. This is not a wrong "
                              "password. Nothing was read or written: put back a backup of it.")
            .arg(file);
    case Strong::Status::NotAStore:
        return QStringLiteral("%1 is not a Varnlock strong store: it does not begin as one, so no "
                              "password can open it. Nothing was read or written: put back a "
                              "backup of your store there.")
            .arg(file);
    case Strong::Status::NewerVersion:
        return QStringLiteral("The strong store %1 was written by a newer version of Varnlock, "
                              "which this one can not read. Nothing was read or written: open it "
                              "with that version.")
            .arg(file);
    case Strong::Status::Refused:
        return QStringLiteral(
                   "The strong store %1 asks for a key derivation outside what Varnlock allows "
                   "(too weak to protect it, or heavy enough to exhaust this computer): it was "
                   "damaged or changed by someone else, and was not opened. Nothing was read or "
                   "written: put back a backup of it.")
            .arg(file);
    case Strong::Status::OutOfMemory:
        return QStringLiteral("There is not enough free memory to open the strong store %1. "
                              "Nothing was read or written: close other programs and try again.")
            .arg(file);
    case Strong::Status::Missing: {
        // A store of another protection still beside it: most likely a change
        // of protection from another computer, synced in part.
        if (const QString other = OtherProtectionBeside(path); !other.isEmpty())
            return QStringLiteral(
                       "The strong store %1 is missing, though the settings say your records "
                       "are kept there, and %2 is still beside it: most likely another "
                       "computer moved the records into the strong store and its change has "
                       "arrived only in part. Nothing was read or written: wait for the sync "
                       "to finish and try again (or put back a backup of the strong store).")
                .arg(file, Shown(other));
        if (const QString copy = StrongStoreCopyBeside(path); !copy.isEmpty())
            return QStringLiteral("The strong store %1 is missing, and %2, a sync tool's copy of "
                                  "it, is beside it: most likely the sync tool is putting another "
                                  "computer's store in its place. Nothing was read or written: "
                                  "wait for the sync to finish and try again (a Varnlock window "
                                  "reads the store again by itself, and merges the copy).")
                .arg(file, Shown(copy));
        return QStringLiteral("The strong store %1 is missing, though the settings say your "
                              "records are kept there. Nothing was read or written: put back a "
                              "backup of it (or, while a sync tool is bringing this folder from "
                              "another computer, wait for it to finish and try again).")
            .arg(file);
    }
    case Strong::Status::ReadFailed:
        return QStringLiteral("The strong store %1 could not be read. Nothing was read or "
                              "written: make it readable by you again, then try again.")
            .arg(file);
    case Strong::Status::Ok:
    case Strong::Status::WrongPassword:
    case Strong::Status::NeedsPassword:
    case Strong::Status::WriteFailed:
        break;
    }
    return {};
}

QString StrongStoreOnItsWayText(const QString &path) {
    return QStringLiteral(
               "The settings on disk now keep the records in the strong store, %1, which is not "
               "there yet: most likely another computer moved them there and its change has "
               "arrived only in part. Nothing is listed or written until it is there, and the "
               "fields keep what you typed. Varnlock asks for the passphrase as soon as it comes.")
        .arg(Shown(path));
}

QString UnopenableText(const Session &session) {
    if (session.settingsUnreadable())
        return UnreadableSettingsText(session.paths().config());
    return StrongStoreText(session.strongStatus(), session.paths().strongStore());
}

QString UntrustedFolderText(const Platform::Untrusted &untrusted) {
    using Kind = Platform::Untrusted::Kind;
    const QString path = Shown(untrusted.path);
    QString what;
    QString remedy = QStringLiteral("Remove it (or have it removed)");
    switch (untrusted.kind) {
    case Kind::Link:
        what = QStringLiteral("%1 is a link to another place").arg(path);
        remedy = QStringLiteral("Remove the link");
        break;
    case Kind::NotFolder:
        what = QStringLiteral("%1 is not a folder of yours alone").arg(path);
        remedy = QStringLiteral("Move it away");
        break;
    case Kind::NotPlainFile:
        what =
            QStringLiteral("%1 is not a plain file (it is a pipe, a device or a folder)").arg(path);
        break;
    case Kind::OthersOwn:
        what = QStringLiteral("%1 belongs to another user, %2").arg(path, untrusted.owner);
        remedy = QStringLiteral("Have it moved away (its owner, or an administrator, can)");
        break;
    case Kind::OthersMayWrite:
        what = QStringLiteral("other users may write to %1").arg(path);
        remedy = QStringLiteral("Make it yours alone (chmod go-w \"%1\")").arg(path);
        break;
    case Kind::None:
        break;
    }
    return QStringLiteral("Varnlock keeps your records only where nobody else can change them, "
                          "but %1. Nothing was read or written there. %2, then try again.")
        .arg(what, remedy);
}

QString UnreadableSettingsText(const QString &path) {
    return QStringLiteral("Varnlock can not read its settings file %1. It holds your master "
                          "password and the protection of your records, so nothing was read or "
                          "written. Make the file readable by you again (or restore it from a "
                          "backup), then try again.")
        .arg(Shown(path));
}

OutcomeText SessionOutcomeText(SessionStatus status, const Session &session) {
    using Severity = OutcomeText::Severity;
    const QString title = QStringLiteral("Varnlock");
    switch (status) {
    case SessionStatus::Ok:
    case SessionStatus::BadIndex:
    case SessionStatus::NothingToImport:
        return {};
    case SessionStatus::Duplicate:
        return {Severity::Information, title,
                QStringLiteral("There is an identical record already filed")};
    case SessionStatus::NoChange:
        return {Severity::Information, title, QStringLiteral("There were no changes")};
    case SessionStatus::UnsafeRecord:
        return {Severity::Warning, title, kUnsafeRecordText};
    case SessionStatus::OtherKey:
        return {Severity::Warning, title, kOtherKeyText};
    case SessionStatus::Damaged:
        return {Severity::Critical, title,
                QStringLiteral("Nothing was written. ") +
                    StrongStoreText(Strong::Status::Damaged,
                                    StoreFile(session.paths(), Scope::Strong))};
    case SessionStatus::Untrusted:
        return {Severity::Critical, title, UntrustedFolderText(session.untrusted())};
    case SessionStatus::HeldElsewhere:
        return {Severity::Warning, title,
                QStringLiteral("The Data folder was replaced by another one, which another "
                               "Varnlock window holds. Nothing was written, and the fields "
                               "keep what you typed: use that window.")};
    case SessionStatus::ChangedOnDisk:
        return {Severity::Warning, title, kChangedOnDiskText};
    case SessionStatus::ConfigWriteFailed:
        return {Severity::Critical, QStringLiteral("Disk Error - i64"),
                QStringLiteral("Failed to access configuration file")};
    case SessionStatus::NoKey:
        if (session.scope() == Scope::Strong && !Platform::exists(session.paths().strongStore()))
            return {Severity::Warning, title,
                    StrongStoreOnItsWayText(session.paths().strongStore())};
        break;
    case SessionStatus::Unreadable:
    case SessionStatus::WriteFailed:
        break;
    }
    return {Severity::Critical, QStringLiteral("Disk Error - i66"), kDiskErrorText};
}

namespace {

QString named(const MergeChange &change) {
    return RecordNameText(change.service, change.userName);
}

} // namespace

QString CountText(qsizetype n, const char *one, const char *many) {
    return n == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one))
                  : QStringLiteral("%1 %2").arg(n).arg(QLatin1String(many));
}

QString RecordNameText(QByteArrayView service, QByteArrayView userName) {
    const QString shown = Ansi::toUnicode(service.toByteArray());
    return userName.isEmpty()
               ? shown
               : QStringLiteral("%1 (%2)").arg(shown, Ansi::toUnicode(userName.toByteArray()));
}

QString RecordNameText(QByteArrayView line) {
    return RecordNameText(ServiceName(line), FieldView(line, Field::UserName));
}

QString LineBreakKeptText(const RecordList &records) {
    for (const QByteArrayView line : records.lines())
        if (HoldsLineBreak(line))
            return QStringLiteral(
                       "The record %1 holds a line break (a field of the window shows it "
                       "as a space), which only the strong store can keep. Nothing was "
                       "changed: take the line break out of that record, then choose "
                       "again.")
                .arg(RecordNameText(line));
    return {};
}

QString MergeSummaryText(const MergeResult &merged, const QString &copyName) {
    using Kind = MergeChange::Kind;
    const qsizetype added = merged.count(Kind::Added) + merged.count(Kind::KeptAfterRemoval);
    qsizetype changed = merged.count(Kind::Changed);
    for (const MergeChange &change : merged.changes)
        changed += change.kind == Kind::BothChanged && change.otherWon;
    QString text =
        QStringLiteral("%1 added and %2 changed from a copy made on another computer (%3).")
            .arg(CountText(added, "record", "records"))
            .arg(changed)
            .arg(copyName);
    if (const qsizetype removed = merged.count(Kind::Removed))
        text += QStringLiteral(" %1 removed there %2 removed here too.")
                    .arg(CountText(removed, "record", "records"),
                         removed == 1 ? QStringLiteral("is") : QStringLiteral("are"));
    if (const qsizetype both = merged.count(Kind::BothChanged))
        text += QStringLiteral(" %1 changed on both computers: the later change is kept, and the "
                               "other is under Menu \u2192 Earlier versions\u2026")
                    .arg(CountText(both, "record was", "records were"));
    return text;
}

QString MergeDetailsText(const MergeResult &merged) {
    QStringList lines;
    for (const MergeChange &change : merged.changes) {
        switch (change.kind) {
        case MergeChange::Kind::Added:
            lines << QStringLiteral("Added: ") + named(change);
            break;
        case MergeChange::Kind::Changed:
            lines << QStringLiteral("Changed: ") + named(change);
            break;
        case MergeChange::Kind::BothChanged:
            lines << QStringLiteral("Changed on both computers, %1 kept: ")
                             .arg(change.otherWon ? QStringLiteral("the copy's change")
                                                  : QStringLiteral("this computer's change")) +
                         named(change);
            break;
        case MergeChange::Kind::Removed:
            lines << QStringLiteral("Removed: ") + named(change);
            break;
        case MergeChange::Kind::KeptAfterRemoval:
            lines << QStringLiteral("Kept, changed after it was removed on the other computer: ") +
                         named(change);
            break;
        }
    }
    return lines.join(u'\n');
}

QString FieldRefusalText(Field field, const QString &text) {
    // Stored, a character outside the set would come back as "?".
    if (const QString bad = Ansi::firstUnencodable(text); !bad.isEmpty())
        return QStringLiteral("The %1 field holds \"%2\", a character Varnlock can not store: its "
                              "files use the Windows-1252 character set. Nothing was stored: "
                              "replace that character and try again.")
            .arg(FieldCaption(field), bad);
    // A pasted text may bring one: a record is one line of its file.
    if (text.contains(u'\n') || text.contains(u'\r'))
        return QStringLiteral("The %1 field holds a line break (a field of the window shows it "
                              "as a space), which a record can not hold: it is one line of its "
                              "file. Nothing was stored: replace the line break and try again.")
            .arg(FieldCaption(field));
    if (!FitsRecordLine(field, Ansi::fromUnicode(text)))
        return QStringLiteral("The %1 field holds \":!\", which Varnlock puts between the fields "
                              "of a record: read back, the rest of the record would move into "
                              "the wrong fields. Nothing was stored: take it out and try again.")
            .arg(FieldCaption(field));
    return {};
}
