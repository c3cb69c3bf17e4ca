#pragma once

#include <QByteArray>
#include <QString>

// The few file system services the program relies on, written once for each
// platform: existence by modification date, hidden (owner-only on POSIX)
// files and folders, the temporary folder, private and atomic writes.
namespace Platform {

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

// Writes the whole content to a new file made for this call only: whatever
// stands at the path is unlinked first (a planted link is removed, never
// followed), then the file is created exclusively, owner-only.
bool writePrivateFile(const QString &path, const QByteArray &content);

// Replaces the file with the content as one step: the old file stays whole
// until the new one is complete and synced. The result is hidden.
bool writeFileAtomically(const QString &path, const QByteArray &content);

// Where writeFileAtomically builds the new content; one left behind is the
// remains of a write that never finished.
QString unfinishedPath(const QString &path);

// Appends bytes to a file, creating it hidden when missing. On a failure the
// file is cut back to its old length so no partial line is left.
bool appendToFile(const QString &path, const QByteArray &content);

// Reads a whole file. False when it is missing or cannot be read.
bool readFile(const QString &path, QByteArray &content);

// Renames over an existing file in one step.
bool replaceFile(const QString &from, const QString &to);

// Removes a file; true when nothing is left at the path.
bool removeFile(const QString &path);

} // namespace Platform
