#include "storecopies.h"

#include "database.h"
#include "onetimecode.h"
#include "outcometext.h"
#include "strongstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace {

constexpr QLatin1String kBase("CW2DB");

bool formatOf(const QString &suffix, Scope &format) {
    if (suffix == QLatin1String(".sdb"))
        format = Scope::Strong;
    else if (suffix == QLatin1String(".edb"))
        format = Scope::ProgramAndDBase;
    else if (suffix == QLatin1String(".pdb"))
        format = Scope::ProgramOnly;
    else
        return false;
    return true;
}

// The copy's lines, in one block of their own, each changed by change (which
// gives nothing for a line it leaves as it is).
void changeLines(CopyRecords &copy,
                 const std::function<std::optional<QByteArray>(size_t)> &change) {
    std::vector<QByteArray> lines;
    lines.reserve(copy.lines.size());
    qsizetype total = 0;
    for (size_t i = 0; i < copy.lines.size(); ++i) {
        std::optional<QByteArray> changed = change(i);
        lines.push_back(changed ? std::move(*changed) : copy.lines[i].toByteArray());
        total += lines.back().size();
    }
    Strong::Wipe(copy.block);
    copy.block = QByteArray(total, Qt::Uninitialized);
    qsizetype at = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::copy(lines[i].begin(), lines[i].end(), copy.block.data() + at);
        copy.lines[i] = QByteArrayView(copy.block.constData() + at, lines[i].size());
        at += lines[i].size();
        Strong::Wipe(lines[i]);
    }
}

// The other stores keep a one-time code in Other Info: a strong copy's codes
// go there, or a merge into one of them would take its records without them.
void codesIntoOtherInfo(CopyRecords &copy) {
    if (copy.meta.size() != copy.lines.size() ||
        std::none_of(copy.meta.begin(), copy.meta.end(),
                     [](const RecordMeta &meta) { return !meta.oneTimeCode.isEmpty(); }))
        return;
    changeLines(copy, [&copy](size_t i) -> std::optional<QByteArray> {
        const QByteArray &code = copy.meta[i].oneTimeCode;
        if (code.isEmpty())
            return std::nullopt;
        return WithOneTimeCodeAdded(copy.lines[i], code);
    });
}

// The strong store keeps a code apart from the five fields: a code in Other
// Info leaves it, as a change of protection takes it out, so the record
// compares equal to the one it became here, and the code goes with it.
void codesOutOfOtherInfo(CopyRecords &copy) {
    changeLines(copy, [&copy](size_t i) -> std::optional<QByteArray> {
        std::optional<std::pair<QByteArray, QByteArray>> taken = OneTimeCodeTakenOut(copy.lines[i]);
        if (!taken)
            return std::nullopt;
        copy.codes.insert(taken->second, taken->first);
        return std::move(taken->second);
    });
}

} // namespace

QString CopyFailedText(const QString &path, const QString &reason) {
    return QStringLiteral("The copy %1 was not merged: %2. Nothing of it was taken, and it is "
                          "left where it is.")
        .arg(QDir::toNativeSeparators(path), reason);
}

bool IsStoreCopyName(const QString &name, Scope *format) {
    // The store's name, something with "conflict" in it (every tool's mark:
    // "sync-conflict", "conflicted copy", "-conflict"), the store's extension.
    if (!name.startsWith(kBase) || name.size() < kBase.size() + 4)
        return false;
    Scope found = Scope::Strong;
    if (!formatOf(name.right(4), found))
        return false;
    const QString between = name.mid(kBase.size(), name.size() - kBase.size() - 4);
    if (!between.contains(QLatin1String("conflict"), Qt::CaseInsensitive))
        return false;
    if (format)
        *format = found;
    return true;
}

std::vector<StoreCopy> FindStoreCopies(const StorePaths &paths, Scope current) {
    std::vector<StoreCopy> copies;
    const QString own = StoreFile(paths, current);
    // Only names are read here: a start with no copy pays for one listing.
    const QStringList names =
        QDir(paths.dataFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        const QString path = paths.dataFolder() + u'/' + name;
        StoreCopy copy{path, Scope::Strong, false, {}};
        if (IsStoreCopyName(name, &copy.format)) {
            // a sync tool's copy
        } else if (name.startsWith(kBase) && name.size() == kBase.size() + 4 &&
                   formatOf(name.right(4), copy.format) && path != own) {
            copy.otherProtection = true;
        } else {
            continue;
        }
        copy.stamp = Platform::stampOf(path);
        copies.push_back(copy);
    }
    return copies;
}

bool RemoveMergedCopy(const StoreCopy &copy) {
    return Platform::removeFileIfUnchanged(copy.path, copy.stamp);
}

bool IsCopyInData(const QString &path, const StorePaths &paths, Scope current) {
    const QString wanted = QFileInfo(path).absoluteFilePath();
    const std::vector<StoreCopy> copies = FindStoreCopies(paths, current);
    return std::any_of(copies.begin(), copies.end(), [&wanted](const StoreCopy &copy) {
        return QFileInfo(copy.path).absoluteFilePath() == wanted;
    });
}

void CopyRecords::wipe() {
    lines.clear();
    for (QByteArray &code : codes)
        Strong::Wipe(code);
    codes.clear();
    Strong::Wipe(block);
    WipeEarlier(meta);
    tombstones.clear();
}

CopyStatus ReadStoreCopy(const StoreCopy &copy, Scope into, const Strong::Keys *keys,
                         const QByteArray &key, const QByteArray *password, CopyRecords &out,
                         QString *why) {
    out.wipe();
    const auto failed = [&](const QString &text) {
        if (why)
            *why = text;
        out.wipe();
        return CopyStatus::Failed;
    };
    if (copy.format == Scope::Strong) {
        // Nobody is asked for the passphrase of a file that is no store.
        if (!Strong::BeginsAsStore(copy.path))
            return failed(CopyFailedText(copy.path, "it is not a Varnlock store"));
        Strong::Opened opened;
        Strong::Status status = Strong::Status::NeedsPassword;
        if (password) {
            Strong::Keys own;
            status = Strong::Open(copy.path, *password, own, opened);
        } else if (keys) {
            status = Strong::OpenCopy(copy.path, *keys, opened);
        }
        switch (status) {
        case Strong::Status::Ok:
            break;
        case Strong::Status::NeedsPassword:
            return CopyStatus::NeedsPassword;
        case Strong::Status::WrongPassword:
            return password ? CopyStatus::WrongPassword : CopyStatus::NeedsPassword;
        case Strong::Status::Damaged:
            return failed(
                CopyFailedText(copy.path, "it is damaged or was changed by someone else"));
        case Strong::Status::HeaderDamaged:
            return failed(CopyFailedText(copy.path, "its header is damaged"));
        case Strong::Status::NotAStore:
            return failed(CopyFailedText(copy.path, "it is not a Varnlock store"));
        case Strong::Status::NewerVersion:
            return failed(CopyFailedText(copy.path, "a newer version of Varnlock wrote it"));
        case Strong::Status::Refused:
            return failed(CopyFailedText(
                copy.path, "it asks for a key derivation outside what Varnlock allows"));
        default:
            return failed(CopyFailedText(copy.path, "it could not be read"));
        }
        out.block = std::move(opened.block);
        out.lines = std::move(opened.views);
        out.meta = std::move(opened.meta);
        out.tombstones = std::move(opened.tombstones);
        if (into != Scope::Strong) {
            for (const QByteArrayView line : out.lines)
                if (HoldsLineBreak(line))
                    return failed(CopyFailedText(
                        copy.path, QStringLiteral("its record %1 holds a line break, which only "
                                                  "the strong store can keep")
                                       .arg(RecordNameText(line))));
            codesIntoOtherInfo(out);
        }
        return CopyStatus::Ok;
    }
    QByteArray content;
    if (!Platform::readFile(copy.path, content))
        return failed(CopyFailedText(copy.path, "it could not be read"));
    const bool enciphered = copy.format == Scope::ProgramAndDBase;
    const QByteArray &with = password ? *password : key;
    if (enciphered && with.isEmpty())
        return CopyStatus::NeedsPassword;
    RecordList list;
    const StoreStatus status = AddStoredRecords(std::move(content), copy.format, with, list);
    if (status == StoreStatus::OtherKey || status == StoreStatus::NoKey)
        return password ? CopyStatus::WrongPassword : CopyStatus::NeedsPassword;
    if (status != StoreStatus::Ok)
        return failed(CopyFailedText(copy.path, "it could not be read"));
    // The list's own copy of the lines, in one block.
    qsizetype total = 0;
    for (const QByteArrayView line : list.lines())
        total += line.size();
    out.block = QByteArray(total, Qt::Uninitialized);
    qsizetype at = 0;
    for (const QByteArrayView line : list.lines()) {
        std::copy(line.begin(), line.end(), out.block.data() + at);
        out.lines.emplace_back(out.block.constData() + at, line.size());
        at += line.size();
    }
    list.wipe();
    if (into == Scope::Strong)
        codesOutOfOtherInfo(out);
    return CopyStatus::Ok;
}

std::optional<StoreCopy> StoreCopyAt(const QString &given, const StorePaths &paths, Scope current,
                                     QString *problem) {
    QString path = given;
    if (QFileInfo(path).isDir()) {
        // A program folder, or its Data folder: its store of whichever protection.
        const QString data = QFileInfo::exists(path + QStringLiteral("/Data"))
                                 ? path + QStringLiteral("/Data")
                                 : path;
        path.clear();
        for (const char *file : {"/CW2DB.sdb", "/CW2DB.edb", "/CW2DB.pdb"})
            if (path.isEmpty() && QFileInfo::exists(data + QLatin1String(file)))
                path = data + QLatin1String(file);
        if (path.isEmpty()) {
            *problem =
                QStringLiteral("%1 holds no Varnlock store.").arg(QDir::toNativeSeparators(given));
            return std::nullopt;
        }
    } else if (!QFileInfo(path).isFile()) {
        *problem = (QFileInfo::exists(path) ? QStringLiteral("%1 is not a file.")
                                            : QStringLiteral("%1 is not there."))
                       .arg(QDir::toNativeSeparators(given));
        return std::nullopt;
    }
    if (QFileInfo(path).absoluteFilePath() ==
        QFileInfo(StoreFile(paths, current)).absoluteFilePath()) {
        *problem = QStringLiteral("That is the store in use here, not another copy.");
        return std::nullopt;
    }
    StoreCopy copy{path, Scope::Strong, false, Platform::stampOf(path)};
    const QString suffix = path.right(4).toLower();
    copy.format = suffix == QLatin1String(".edb")   ? Scope::ProgramAndDBase
                  : suffix == QLatin1String(".pdb") ? Scope::ProgramOnly
                                                    : Scope::Strong;
    // Any other file is taken for a strong store: one that is not is said so
    // before a password is asked for it.
    if (copy.format == Scope::Strong && !Strong::BeginsAsStore(path)) {
        *problem = QStringLiteral("%1 is not a Varnlock store: a store's file ends in .sdb, "
                                  ".edb or .pdb (a CSV export comes in with an import instead).")
                       .arg(QDir::toNativeSeparators(given));
        return std::nullopt;
    }
    return copy;
}
