#include "storepaths.h"

#include "platform.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The user's own data folder for the program, as the desktop's base
// directory rules name it.
QString userDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/varnlock");
}

} // namespace

StorePaths StorePaths::forExecutableFolder(const QString &executableFolder) {
    StorePaths paths{executableFolder, Platform::specialFolderPath(2), executableFolder};
    // Installed, the program's folder is no user's: not even root's, whose
    // one start would otherwise leave a Data there that every user then gets.
    const bool installed =
        QFileInfo::exists(executableFolder + u'/' + QLatin1String(kInstalledMark));
    if (!installed && Platform::ownedByMe(executableFolder))
        return paths;
    paths.programFolder = userDataFolder();
    if (!QFileInfo::exists(paths.programFolder) && QDir().mkpath(paths.programFolder))
        Platform::setHidden(paths.programFolder); // owner-only
    return paths;
}
