#include "diskwatch.h"

#include <QFileInfo>

DiskWatch::DiskWatch(const QString &folder, const QStringList &files, QObject *parent)
    : QObject(parent), m_folder(folder), m_files(files) {
    // A sync tool writes in several steps; the reader waits for the last one.
    m_settle.setSingleShot(true);
    m_settle.setInterval(250);
    connect(&m_settle, &QTimer::timeout, this, &DiskWatch::settled);
    const auto changed = [this] {
        rewatch();
        m_settle.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    rewatch();
}

void DiskWatch::rewatch() {
    // A file replaced by a rename is a new file: the watch on the old one is
    // gone, so every file is watched again as it now stands.
    // The folder above as well: Data itself replaced (moved away, a backup
    // put in its place) shows there.
    QStringList wanted{m_folder, QFileInfo(m_folder).absolutePath()};
    for (const QString &file : m_files) {
        if (QFileInfo::exists(file))
            wanted.append(file);
    }
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    for (const QString &path : wanted) {
        if (!watched.contains(path))
            m_watcher.addPath(path);
    }
}
