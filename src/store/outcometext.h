#pragma once

#include "platform.h"
#include "recordline.h"
#include "recordlist.h"
#include "strongstore.h"

#include <QString>

class Session;
struct MergeResult;
enum class SessionStatus;

// What the user is told about a store outcome, said once here: the windows
// show it in a box, the command line prints it.
struct OutcomeText {
    enum class Severity { Information, Warning, Critical };
    Severity severity = Severity::Information;
    QString title;
    QString text; // empty: nothing to say
};

// How messages name a record: "Service (user name)", or the service alone
// where it has no user name.
QString RecordNameText(QByteArrayView service, QByteArrayView userName);
QString RecordNameText(QByteArrayView line);

// A change of protection out of the strong store refused for a record
// holding a line break, which only the strong store keeps (an earlier
// version let one be pasted there); empty when no record holds one.
QString LineBreakKeptText(const RecordList &records);

// The message for what a record command or a change of settings came to.
OutcomeText SessionOutcomeText(SessionStatus status, const Session &session);

// Why the strong store at path could not be opened with any password (a file
// that is no store, is damaged, newer, or asks for too much), or was opened
// only in part (Damaged).
QString StrongStoreText(Strong::Status status, const QString &path);
// The name of a sync tool's copy of the strong store at path lying beside it,
// or nothing: with the store missing, most likely the sync tool is putting
// another computer's store in its place.
QString StrongStoreCopyBeside(const QString &path);
// The strong store at path is missing, and what is beside it (a store of
// another protection, a sync tool's copy of it) says it is on its way: a
// wait, not a loss.
bool StrongStoreMissingForAMoment(const QString &path);

// Why an unlock found the records out of any password's reach: the settings
// could not be read again, or the strong store can not be opened.
QString UnopenableText(const Session &session);

// The records' folder is not this user's alone.
QString UntrustedFolderText(const Platform::Untrusted &untrusted);
// The settings file is there but can not be read.
QString UnreadableSettingsText(const QString &path);

// A second start on the same program folder.
inline const QString kOpenElsewhereText =
    QStringLiteral("The records of this program folder are already open in another Varnlock "
                   "window. Use that window; this one closes without changing anything.");
// The records are held by a command run from a terminal, not by a window.
inline const QString kCommandAtWorkText =
    QStringLiteral("A varnlock command is at work on the records of this program folder (waiting "
                   "for a password, perhaps). Let it end, then start Varnlock again; nothing was "
                   "changed.");
// The copy on disk is under another password.
extern const QString kOtherKeyText;
// Asks for the password the copy on disk is under.
inline const QString kEarlierPasswordText = QStringLiteral(
    "The records on disk are under another master password than the one in force, most likely "
    "the one before it was changed on another computer, where records were stored under it "
    "meanwhile. Type that earlier password to keep them under the one in force, or Cancel to "
    "leave them as they are:");
// The settings read again ask for a master password not given here.
inline const QString kPasswordChangedElsewhereText =
    QStringLiteral("The settings on disk now ask for another master password, most likely set on "
                   "another computer. Type that password to go on.");
// The strong store read again is under a passphrase chosen on another computer.
inline const QString kStoreRekeyedElsewhereText =
    QStringLiteral("The records on disk are now under another passphrase, most likely chosen on "
                   "another computer. Type that passphrase to go on.");
// The settings say the strong store, and it is not there yet.
QString StrongStoreOnItsWayText(const QString &path);
// A store that could not be read or written.
inline const QString kDiskErrorText = QStringLiteral("Can not access the DataBase.");

// A count with its noun: "1 record", "3 records".
QString CountText(qsizetype n, const char *one, const char *many);

// What a merge from a copy brought: one sentence, and a line for each record.
QString MergeSummaryText(const MergeResult &merged, const QString &copyName);
QString MergeDetailsText(const MergeResult &merged);

// Why text can not be the field of a stored record (a character the
// Windows-1252 files can not hold, a line break, the separator of the
// fields); empty when it can.
QString FieldRefusalText(Field field, const QString &text);
