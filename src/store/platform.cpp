#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Platform {

namespace {

constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kOwnerFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

std::filesystem::path fsPath(const QString &path) {
    return std::filesystem::path(path.toStdU16String());
}

} // namespace

bool exists(const QString &path) {
    QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

bool setHidden(const QString &path) {
#ifdef Q_OS_WIN
    return SetFileAttributesW(
               reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
               FILE_ATTRIBUTE_HIDDEN) != 0;
#else
    QFileInfo info(path);
    if (info.isSymLink())
        return false;
    return QFile::setPermissions(path, info.isDir() ? kOwnerFolder : kOwnerFile);
#endif
}

bool createHiddenFolder(const QString &path) {
    if (!QDir().mkdir(path))
        return false;
    return setHidden(path);
}

QString specialFolderPath(int folder) {
    if (folder != 2)
        return QString();
    QString temp = QDir::tempPath();
    while (temp.size() > 1 && (temp.endsWith(u'/') || temp.endsWith(u'\\')))
        temp.chop(1);
    return temp;
}

namespace {

// Pushes what was written to the disk itself, so a rename that follows never
// publishes a file whose bytes are still only in memory.
bool syncToDisk(QFile &file) {
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool writeNewFile(const QString &path, const QByteArray &content, bool sync) {
    if (QFileInfo(path).isSymLink() || QFileInfo::exists(path)) {
        if (!QFile::remove(path))
            return false;
    }
    QFile file(path);
    // NewOnly creates with O_EXCL: an existing file or link makes it fail
    // rather than be followed or reused.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerFile))
        return false;
    bool written = file.write(content) == content.size() && file.flush();
    if (written && sync)
        written = syncToDisk(file);
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(path);
        return false;
    }
    return true;
}

} // namespace

bool writePrivateFile(const QString &path, const QByteArray &content) {
    return writeNewFile(path, content, false);
}

QString unfinishedPath(const QString &path) {
    return path + QStringLiteral(".part");
}

bool writeFileAtomically(const QString &path, const QByteArray &content) {
    if (QFileInfo(path).isDir())
        return false;
    // The new content goes to a file of its own beside the old one, reaches
    // the disk, and only then takes the old one's name in one step. A write
    // cut short leaves the old file whole and a ".part" for start-up to clear.
    const QString part = unfinishedPath(path);
    if (!writeNewFile(part, content, true))
        return false;
    if (!replaceFile(part, path)) {
        QFile::remove(part);
        return false;
    }
    setHidden(path);
    return true;
}

bool appendToFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    const bool existed = QFileInfo::exists(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append, kOwnerFile))
        return false;
    const qint64 oldSize = file.size();
    QByteArray bytes = content;
    if (oldSize > 0) {
        // A last line without its ending would swallow the new line.
        if (!file.seek(oldSize - 1))
            return false;
        char last = 0;
        if (file.read(&last, 1) != 1)
            return false;
        if (last != '\n')
            bytes.prepend("\r\n");
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (!written) {
        // The file goes back to what it was; one the append made goes again.
        file.resize(oldSize);
        file.close();
        if (!existed)
            QFile::remove(path);
        return false;
    }
    file.close();
    if (!existed)
        setHidden(path);
    return true;
}

bool readFile(const QString &path, QByteArray &content) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (QFileInfo(path).isDir())
        return false;
    content = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool replaceFile(const QString &from, const QString &to) {
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    return !error;
}

bool removeFile(const QString &path) {
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir())
        return false;
    return QFile::remove(path);
}

} // namespace Platform
