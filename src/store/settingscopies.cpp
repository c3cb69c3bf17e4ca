#include "settingscopies.h"

#include "database.h"
#include "recordlist.h"
#include "strongstore.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

namespace {

const QString kBase = QStringLiteral("chestward");
const QString kExtension = QStringLiteral(".cnf");

// Whether the records' enciphered copy reads as records under key.
bool OpensUnder(const StorePaths &paths, const QByteArray &key) {
    RecordList records;
    const bool opens = LoadDatabase(paths, Scope::ProgramAndDBase, key, records) == StoreStatus::Ok;
    records.wipe();
    return opens;
}

// Whether the settings ask for a master password. Under None the stored one
// asks nothing; under the strong store it is a random mark.
bool AsksPassword(const ParsedSettings &settings) {
    return settings.scope != Scope::None && settings.scope != Scope::Strong &&
           settings.hasPassword && settings.password != kUnsetPassword;
}

QString ProtectionName(Scope scope) {
    switch (scope) {
    case Scope::None:
        return QStringLiteral("None");
    case Scope::ProgramAndDBase:
        return QStringLiteral("Program and DBase");
    case Scope::ProgramOnly:
        return QStringLiteral("Program Only");
    case Scope::Strong:
        return QStringLiteral("Program and DBase, strong");
    }
    return {};
}

} // namespace

const QString kSettingsTakenFromCopyText = QStringLiteral(
    "The settings were changed on two computers at once, and the sync tool kept the ones that do "
    "not open the records on disk. The settings chosen with those records on another computer "
    "are in force again, and the other change is undone: make it again in Security settings if "
    "you still want it. Type the master password chosen on that computer to go on.");

bool IsSettingsCopyName(const QString &name) {
    if (!name.startsWith(kBase) || !name.endsWith(kExtension) ||
        name.size() <= kBase.size() + kExtension.size())
        return false;
    // Every sync tool's mark: "sync-conflict", "conflicted copy", "-conflict".
    return name.mid(kBase.size(), name.size() - kBase.size() - kExtension.size())
        .contains(QLatin1String("conflict"), Qt::CaseInsensitive);
}

std::vector<SettingsCopy> FindSettingsCopies(const StorePaths &paths) {
    std::vector<SettingsCopy> copies;
    const QStringList names = QDir(paths.dataFolder())
                                  .entryList({kBase + QStringLiteral("*")},
                                             QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (!IsSettingsCopyName(name))
            continue;
        SettingsCopy copy{paths.dataFolder() + u'/' + name, {}, {}};
        QByteArray content;
        if (!Platform::readFile(copy.path, content, &copy.stamp))
            continue; // a copy that can not be read is left as it is
        QByteArray line = SettingsLineFromFile(std::move(content));
        copy.settings = ParseSettingsLine(line);
        Strong::Wipe(line);
        copies.push_back(std::move(copy));
    }
    return copies;
}

void WipeSettingsCopies(std::vector<SettingsCopy> &copies) {
    for (SettingsCopy &copy : copies)
        Strong::Wipe(copy.settings.password);
}

SettingsDifference CompareSettings(const ParsedSettings &inForce, const ParsedSettings &copy) {
    SettingsDifference difference;
    difference.protection = inForce.scope != copy.scope;
    difference.password =
        AsksPassword(copy) && (!AsksPassword(inForce) || inForce.password != copy.password);
    // No expiry date asks anything of a copy without a password.
    difference.expiry = copy.scope != Scope::None && inForce.expiry != copy.expiry;
    return difference;
}

bool TakeSettingsThatOpenTheRecords(const StorePaths &paths) {
    std::vector<SettingsCopy> copies = FindSettingsCopies(paths);
    const auto wipe = qScopeGuard([&copies] { WipeSettingsCopies(copies); });
    if (copies.empty())
        return false;
    QByteArray line;
    Platform::FileStamp stamp;
    if (ReadSettingsFile(paths, line, &stamp) != SettingsStatus::Ok)
        return false;
    ParsedSettings inForce = ParseSettingsLine(line);
    const auto forget = qScopeGuard([&] {
        Strong::Wipe(line);
        Strong::Wipe(inForce.password);
    });
    if (inForce.scope != Scope::ProgramAndDBase || !Platform::exists(paths.copy()))
        return false;
    bool opensInForce = false;
    bool tried = false;
    for (const SettingsCopy &copy : copies) {
        if (copy.settings.scope != Scope::ProgramAndDBase || !copy.settings.hasPassword ||
            copy.settings.password == inForce.password)
            continue;
        if (!tried) {
            opensInForce = OpensUnder(paths, inForce.password);
            tried = true;
        }
        if (opensInForce)
            return false; // the settings in force are the records' own
        if (!OpensUnder(paths, copy.settings.password))
            continue;
        // Nothing is written over settings that changed since they were read.
        if (Platform::stampOf(paths.config()) != stamp ||
            Platform::stampOf(copy.path) != copy.stamp)
            return false;
        QByteArray content;
        if (!Platform::readFile(copy.path, content))
            return false;
        QByteArray taken = SettingsLineFromFile(std::move(content));
        const bool written = WriteSettingsFile(paths, taken) == SettingsStatus::Ok;
        Strong::Wipe(taken);
        if (!written)
            return false;
        Platform::removeFileIfUnchanged(copy.path, copy.stamp);
        return true;
    }
    return false;
}

QString SettingsSetAsideText(const SettingsCopy &copy, const SettingsDifference &difference) {
    QStringList asked;
    if (difference.protection)
        asked << QStringLiteral("the protection %1").arg(ProtectionName(copy.settings.scope));
    if (difference.password)
        asked << QStringLiteral("another master password");
    if (difference.expiry)
        asked << (copy.settings.expiry == kNeverExpires
                      ? QStringLiteral("a master password that does not expire")
                      : QStringLiteral("the master password to expire on %1")
                            .arg(QString::fromLatin1(copy.settings.expiry)));
    return QStringLiteral(
               "A change of the settings made on another computer at the same time as one here "
               "was set aside by the sync tool (%1). It asked for %2. The settings in force are "
               "kept and the copy is removed: make that change again in Security settings if you "
               "want it.")
        .arg(QFileInfo(copy.path).fileName(), asked.join(QStringLiteral(" and ")));
}
