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
    if (Platform::exists(paths.dataFolder()) || QFileInfo(executableFolder).isWritable())
        return paths;
    // An installed program's folder is not the user's to write.
    paths.programFolder = userDataFolder();
    if (!QFileInfo::exists(paths.programFolder) && QDir().mkpath(paths.programFolder))
        Platform::setHidden(paths.programFolder); // owner-only
    return paths;
}
