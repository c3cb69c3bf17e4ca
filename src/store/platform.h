#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <functional>

// The few file system services the program relies on, written once for each
// platform: existence by modification date, hidden (owner-only on POSIX)
// files and folders, the temporary folder, private and atomic writes.
namespace Platform {

struct FileStamp;

// True when the file system can give a modification date for the path.
bool exists(const QString &path);

// Windows: the hidden attribute alone. POSIX, where hiding has no meaning:
// owner-only permissions (0700 for a folder, 0600 for a file).
bool setHidden(const QString &path);

// Creates a folder and hides it. False when it could not be created.
bool createHiddenFolder(const QString &path);

// Special folder 2 is the user's temporary folder, without a trailing separator.
// Other numbers give an empty path.
QString specialFolderPath(int folder);

// Replaces the file with the content as one step: the old file stays whole
// until the new one is complete and synced. The result is hidden. With a stamp
// asked for, it gets the stamp of the file this call wrote, taken through its
// own descriptor the moment it took the name: whatever another program puts
// at the path after that never passes for this write.
bool writeFileAtomically(const QString &path, const QByteArray &content,
                         FileStamp *written = nullptr);

// The same with the content made piece by piece: fill hands each piece to the
// writer it is given, and the whole file is never held in memory. False from
// the writer means the piece was not written; false from fill abandons the
// write, leaving the old file as it was.
using ChunkWriter = std::function<bool(QByteArrayView chunk)>;
using ContentSource = std::function<bool(const ChunkWriter &write)>;
bool writeFileAtomically(const QString &path, const ContentSource &fill,
                         FileStamp *written = nullptr);

// The same for a file that must not exist yet: whatever is at the path is
// never written over, even when it appears while the content is made.
enum class NewFileStatus { Written, Exists, Failed };
NewFileStatus writeNewFile(const QString &path, const ContentSource &fill);

// Where writeFileAtomically builds the new content; one left behind is the
// remains of a write that never finished.
QString unfinishedPath(const QString &path);

// Appends bytes to a file, creating it hidden when missing. On a failure the
// file is cut back to its old length so no partial line is left. With a stamp
// asked for, it gets the file's stamp through the descriptor right after the
// bytes went in, before they are synced. A file of lines gets a line ending
// before the new bytes when its last line has none; other files (lines false)
// get the bytes as they are.
bool appendToFile(const QString &path, const QByteArray &content, FileStamp *written = nullptr,
                  bool lines = true);

// Cuts a plain file back to size, synced; a link or a pipe is not opened.
bool truncateFile(const QString &path, qint64 size);

// Renames over an existing file in one step.
bool replaceFile(const QString &from, const QString &to);

// Removes a file; true when nothing is left at the path.
bool removeFile(const QString &path);
// Removes the file only if it is still as the stamp found it: one put in its
// place since (by a sync tool, say) stays. True when it is gone.
bool removeFileIfUnchanged(const QString &path, const FileStamp &stamp);

// Removes a file left behind in a shared folder, but only a plain file of this
// user's own: anything else at the path (another user's file, a link, a pipe,
// a folder) is left alone without being opened, followed or read.
void removeOwnLeftover(const QString &path);

// Pushes a folder's entries to the disk, so a rename or a new file in it
// survives a power cut.
bool syncFolder(const QString &folder);

// What a file was when it was read or written: enough to see later that
// anything (a sync tool, a restore, another program) has written or replaced
// it since. A missing file has a stamp too, so its appearance is noticed.
struct FileStamp {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // set by the system at every write or rename

    bool operator==(const FileStamp &other) const = default;
};
FileStamp stampOf(const QString &path);

// Reads a whole file. False when it is missing or cannot be read. With a
// stamp asked for, it gets the stamp of what was read: a file that changes
// while it is read is read again.
bool readFile(const QString &path, QByteArray &content, FileStamp *stamp = nullptr);

// Opens a file the user named, to read it: a link is followed, but anything
// that is not a plain file (a pipe, a device, a folder) is refused rather
// than waited on for ever.
bool openFileToRead(QFile &file, QIODevice::OpenMode extra = {});

// Holds a folder for this process alone. The kernel drops the hold when the
// process ends in any way, so a crash or a kill never leaves a stale lock.
class FolderLock {
public:
    // Untrusted: the folder is not this user's alone (see findUntrusted).
    enum class Result { Locked, Busy, Failed, Untrusted };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    Result lock(const QString &folder);
    void unlock();
    bool held() const { return m_handle >= 0; }
    // The folder now at the path is the one held (not one swapped in since).
    bool holds(const QString &folder) const;

private:
    int m_handle = -1;
};

// A window's mark on its program folder, kept while the process runs. A
// command that finds the records held tells by it a window, which stays,
// from another command, which ends in a moment and is worth waiting for.
// Where no mark can be made, every holder counts as a window.
void markWindowOn(const QString &programFolder);
bool windowMarks(const QString &programFolder);

// What makes a folder unfit to hold the records: it, or something in it, is
// not this user's alone. Another user who may write there could read the
// records, plant a pipe that hangs every read, or swap the files.
struct Untrusted {
    enum class Kind {
        None,
        Link,           // a link where a folder or file should be
        NotFolder,      // the folder is something else
        NotPlainFile,   // a pipe, a device or a folder among the files
        OthersOwn,      // it belongs to another user
        OthersMayWrite, // its group or others may write it
    };
    Kind kind = Kind::None;
    QString path;
    QString owner; // the other user's name, for OthersOwn

    explicit operator bool() const { return kind != Kind::None; }
};
// The first such thing in a folder, the folder itself first. A missing folder
// is fine: it is made owner-only when it is created.
Untrusted findUntrusted(const QString &folder);

// The folder belongs to this user (where the system keeps owners).
bool ownedByMe(const QString &path);

// Gives each of standard input, output and error that the process was started
// without the null device: otherwise the next file opened (an export, the
// store) takes its number, and a message meant for the terminal lands in it.
void keepStandardStreamsOpen();

// Keeps the records and the master password out of reach of other processes:
// no debugger attach or /proc memory read by another process of the same user,
// and no core file when the program crashes. Called first thing at start-up.
void protectProcessMemory();

// Asks the system to back a large block of memory that is about to be filled
// with large pages: a store of many megabytes is then read and walked many
// times faster than through small pages, most of all in a virtual machine.
void adviseLargeBlock(void *data, qsizetype size);

// The most memory the process has held at once (its peak resident set), in
// bytes; 0 where the system does not tell.
qint64 peakMemoryBytes();

// Every step that makes a write durable is reported here when a tracer is
// set: "sync" (a file's data and size), "datasync" (an append's data),
// "rename" (to the path given) and "syncdir" (a folder). Tests check the order.
void setDurabilityTracer(std::function<void(const char *step, const QString &path)> tracer);

} // namespace Platform
