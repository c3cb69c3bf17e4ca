#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
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

std::function<void(const char *, const QString &)> g_tracer;

void trace(const char *step, const QString &path) {
    if (g_tracer)
        g_tracer(step, path);
}

// Pushes what was written to the disk itself, so a rename that follows never
// publishes a file whose bytes are still only in memory. An append needs only
// its bytes there, not the file's times.
bool syncToDisk(QFile &file, bool dataOnly = false, const QString &path = QString()) {
    if (!file.flush())
        return false;
    trace(dataOnly ? "datasync" : "sync", path.isEmpty() ? file.fileName() : path);
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#elif defined(Q_OS_LINUX)
    return (dataOnly ? ::fdatasync(file.handle()) : ::fsync(file.handle())) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

QString parentOf(const QString &path) {
    return QFileInfo(path).absolutePath();
}

#ifndef Q_OS_WIN
FileStamp stampFrom(const struct stat &st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}
#endif

// The stamp of an open file, through its descriptor: what this process wrote,
// whatever the path names by now.
FileStamp stampOfOpen(QFile &file) {
#ifdef Q_OS_WIN
    return stampOf(file.fileName());
#else
    struct stat st {};
    return ::fstat(file.handle(), &st) == 0 ? stampFrom(st) : FileStamp();
#endif
}

// Opens an existing plain file (or creates one, with create) without following
// a link and without blocking: a pipe or a device planted at the path would
// otherwise hang the open, or the read, for ever.
bool openPlainFile(QFile &file, QIODevice::OpenMode mode, bool create = false) {
#ifdef Q_OS_WIN
    Q_UNUSED(create);
    if (QFileInfo(file.fileName()).isDir())
        return false;
    return file.open(mode, kOwnerFile);
#else
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    flags |= (mode & QIODevice::WriteOnly) ? O_RDWR : O_RDONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    if (create)
        flags |= O_CREAT;
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        !file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

// Writes the content to a new file made for this call only, synced to disk
// and left open: whatever stands at the path is unlinked first, never followed.
bool writeNewSyncedFile(QFile &file, const ContentSource &fill) {
    const QString path = file.fileName();
    if (QFileInfo(path).isSymLink() || QFileInfo::exists(path)) {
        if (!QFile::remove(path))
            return false;
    }
    // NewOnly creates with O_EXCL: an existing file or link makes it fail
    // rather than be followed or reused. The content comes in large pieces
    // that need no second buffer.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, kOwnerFile))
        return false;
    qint64 written = 0;
    const ChunkWriter write = [&file, &written](QByteArrayView chunk) {
        if (file.write(chunk.data(), chunk.size()) != chunk.size())
            return false;
#ifdef Q_OS_LINUX
        // The disk starts on each piece while the next is made; the sync at
        // the end then waits only for the last of them.
        ::sync_file_range(file.handle(), written, chunk.size(), SYNC_FILE_RANGE_WRITE);
#endif
        written += chunk.size();
        return true;
    };
    bool complete = fill(write) && syncToDisk(file) && file.error() == QFileDevice::NoError;
#ifndef Q_OS_WIN
    // Owner-only before it takes the name: no change of mode after it.
    complete = complete && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0;
#endif
    if (!complete) {
        file.close();
        QFile::remove(path);
        return false;
    }
    return true;
}

bool renameOver(const QString &from, const QString &to) {
    std::error_code error;
    trace("rename", to);
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    return !error;
}

} // namespace

QString unfinishedPath(const QString &path) {
    return path + QStringLiteral(".part");
}

bool writeFileAtomically(const QString &path, const QByteArray &content, FileStamp *written) {
    return writeFileAtomically(
        path, [&content](const ChunkWriter &write) { return write(content); }, written);
}

bool writeFileAtomically(const QString &path, const ContentSource &fill, FileStamp *written) {
    if (QFileInfo(path).isDir())
        return false;
    // The new content goes to a file of its own beside the old one, reaches
    // the disk, and only then takes the old one's name in one step. A write
    // cut short leaves the old file whole and a ".part" for start-up to clear.
    const QString part = unfinishedPath(path);
    QFile file(part);
    if (!writeNewSyncedFile(file, fill))
        return false;
#ifdef Q_OS_WIN
    file.close(); // an open file can not be renamed over here
#endif
    if (!renameOver(part, path)) {
        file.close();
        QFile::remove(part);
        return false;
    }
    // The stamp is taken before anything else can happen: a sync tool that
    // answers the rename within a millisecond changes another stamp than this.
    if (written)
        *written = file.isOpen() ? stampOfOpen(file) : stampOf(path);
    file.close();
    // The new name must outlive a power cut as surely as the bytes behind it.
    syncFolder(parentOf(path));
#ifdef Q_OS_WIN
    setHidden(path);
#endif
    return true;
}

NewFileStatus writeNewFile(const QString &path, const ContentSource &fill) {
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
        return NewFileStatus::Exists;
    // A name of its own beside the target, so no file of the user's is reused.
    const QString part =
        QStringLiteral("%1.%2.part")
            .arg(path)
            .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    QFile file(part);
    if (!writeNewSyncedFile(file, fill))
        return NewFileStatus::Failed;
    file.close();
    // The name is taken only if it is still free: a link fails where a
    // rename would replace.
    bool taken = false;
    NewFileStatus status = NewFileStatus::Failed;
#ifdef Q_OS_UNIX
    taken = ::link(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) == 0;
    if (!taken && errno == EEXIST)
        status = NewFileStatus::Exists;
#else
    taken = QFile::rename(part, path);
#endif
    QFile::remove(part);
    if (!taken)
        return status;
    syncFolder(parentOf(path));
    return NewFileStatus::Written;
}

bool appendToFile(const QString &path, const QByteArray &content, FileStamp *written, bool lines) {
    QFile file(path);
    const bool existed = QFileInfo::exists(path);
    if (!openPlainFile(file, QIODevice::ReadWrite | QIODevice::Append, true))
        return false;
#ifndef Q_OS_WIN
    // A file this append makes is owner-only from the start, whatever the umask.
    if (!existed && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.close();
        QFile::remove(path);
        return false;
    }
#endif
    const qint64 oldSize = file.size();
    QByteArray bytes = content;
    if (lines && oldSize > 0) {
        // A last line without its ending would swallow the new line.
        if (!file.seek(oldSize - 1))
            return false;
        char last = 0;
        if (file.read(&last, 1) != 1)
            return false;
        if (last != '\n')
            bytes.prepend("\r\n");
    }
    bool appended = file.write(bytes) == bytes.size() && file.flush();
    // What this append made of the file, before a reader of the change can
    // write: the sync that follows takes milliseconds.
    if (appended && written)
        *written = stampOfOpen(file);
    appended = appended && syncToDisk(file, true, path) && (existed || syncFolder(parentOf(path)));
    if (!appended) {
        // The file goes back to what it was; one the append made goes again.
        file.resize(oldSize);
        file.close();
        if (!existed)
            QFile::remove(path);
        return false;
    }
    file.close();
#ifdef Q_OS_WIN
    if (!existed)
        setHidden(path);
#endif
    return true;
}

namespace {

bool readOnce(const QString &path, QByteArray &content) {
    QFile file(path);
    // One read into a block of the file's size: no buffer between.
    if (!openPlainFile(file, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    content = QByteArray(file.size(), Qt::Uninitialized);
    adviseLargeBlock(content.data(), content.size());
    qint64 done = 0;
    while (done < content.size()) {
        const qint64 n = file.read(content.data() + done, content.size() - done);
        if (n < 0)
            return false;
        if (n == 0)
            break; // cut short while it was read
        done += n;
    }
    content.truncate(done);
    // A file that grew while it was read is read on to its end.
    content += file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace

bool openFileToRead(QFile &file, QIODevice::OpenMode extra) {
#ifdef Q_OS_WIN
    if (!QFileInfo(file.fileName()).isFile())
        return false;
    return file.open(QIODevice::ReadOnly | extra);
#else
    const int fd =
        ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        !file.open(fd, QIODevice::ReadOnly | extra, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

bool readFile(const QString &path, QByteArray &content, FileStamp *stamp) {
    if (!stamp)
        return readOnce(path, content);
    for (int attempt = 0; attempt < 5; ++attempt) {
        *stamp = stampOf(path);
        if (!readOnce(path, content))
            return false;
        if (stampOf(path) == *stamp)
            return true;
    }
    return false; // still being written: better unread than half read
}

bool truncateFile(const QString &path, qint64 size) {
    QFile file(path);
    if (!openPlainFile(file, QIODevice::ReadWrite))
        return false;
    return file.resize(size) && syncToDisk(file, false, path);
}

bool replaceFile(const QString &from, const QString &to) {
    if (!renameOver(from, to))
        return false;
    // The new name must outlive a power cut as surely as the bytes behind it.
    syncFolder(parentOf(to));
    return true;
}

bool removeFile(const QString &path) {
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir())
        return false;
    return QFile::remove(path);
}

bool removeFileIfUnchanged(const QString &path, const FileStamp &stamp) {
    return stampOf(path) == stamp && removeFile(path);
}

void removeOwnLeftover(const QString &path) {
#ifdef Q_OS_WIN
    QFileInfo info(path);
    if (info.isFile() && !info.isSymLink())
        QFile::remove(path);
#else
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    // lstat looks at the entry itself: a link is not followed and a pipe is
    // not opened, so nothing planted there can block or mislead us.
    if (::lstat(native.constData(), &st) != 0)
        return;
    if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        ::unlink(native.constData());
#endif
}

bool syncFolder(const QString &folder) {
    trace("syncdir", folder);
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return true; // the file system orders its own metadata
#else
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#endif
}

FileStamp stampOf(const QString &path) {
    FileStamp stamp;
#ifdef Q_OS_WIN
    QFileInfo info(path);
    if (!info.exists())
        return stamp;
    stamp.exists = true;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    stamp.changedNs = info.metadataChangeTime().toMSecsSinceEpoch() * 1000000;
#else
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
        stamp = stampFrom(st);
#endif
    return stamp;
}

#ifndef Q_OS_WIN
namespace {

QString userName(uid_t uid) {
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

// What is wrong with one entry, looked at without following or opening it.
// What a name in Data may be: the folder itself, one of our files (or the
// window's socket), or what a sync tool keeps beside them.
enum class Expected { Folder, File, FileOrFolder };

// The files and folders sync tools keep in a folder they sync: Syncthing's
// marker folder, ignore list and old versions; Nextcloud's and ownCloud's
// journal and log. They are allowed on the same terms as ours (no link, the
// user's own, nobody else may write), and never read or followed.
bool keptBySyncTool(const QByteArray &name) {
    return name == ".stfolder" || name == ".stignore" || name == ".stversions" ||
           name == ".owncloudsync.log" ||
           (name.startsWith(".sync_") &&
            (name.endsWith(".db") || name.endsWith(".db-wal") || name.endsWith(".db-shm")));
}

Untrusted judge(const QString &path, const struct stat &st, Expected expected) {
    using Kind = Untrusted::Kind;
    if (S_ISLNK(st.st_mode))
        return {Kind::Link, path, {}};
    if (expected == Expected::Folder && !S_ISDIR(st.st_mode))
        return {Kind::NotFolder, path, {}};
    // The window's own socket lives among the files; anything else must be a
    // plain file (or, for a sync tool, a folder).
    if (expected != Expected::Folder && !S_ISREG(st.st_mode) && !S_ISSOCK(st.st_mode) &&
        !(expected == Expected::FileOrFolder && S_ISDIR(st.st_mode)))
        return {Kind::NotPlainFile, path, {}};
    if (st.st_uid != ::geteuid())
        return {Kind::OthersOwn, path, userName(st.st_uid)};
    if (!S_ISSOCK(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)))
        return {Kind::OthersMayWrite, path, {}};
    return {};
}

} // namespace
#endif

Untrusted findUntrusted(const QString &folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return {}; // the folder's access list is the user's profile's
#else
    const QByteArray native = QFile::encodeName(folder);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return {};
    if (const Untrusted wrong = judge(folder, st, Expected::Folder))
        return wrong;
    DIR *dir = ::opendir(native.constData());
    if (!dir)
        return {};
    Untrusted found;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        found = judge(folder + u'/' + QFile::decodeName(name), st,
                      keptBySyncTool(name) ? Expected::FileOrFolder : Expected::File);
        if (found)
            break;
    }
    ::closedir(dir);
    return found;
#endif
}

bool ownedByMe(const QString &path) {
#ifdef Q_OS_WIN
    return QFileInfo(path).isWritable();
#else
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == ::geteuid();
#endif
}

void setDurabilityTracer(std::function<void(const char *step, const QString &path)> tracer) {
    g_tracer = std::move(tracer);
}

} // namespace Platform
