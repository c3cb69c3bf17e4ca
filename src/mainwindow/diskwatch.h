#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Notices writes to the program's files by anything else (a second machine's
// sync, a restore): the Data folder and its files are watched, and a burst of
// changes is reported once, after it has settled.
class DiskWatch : public QObject {
    Q_OBJECT
public:
    DiskWatch(const QString &folder, const QStringList &files, QObject *parent = nullptr);

signals:
    void settled();

private:
    void rewatch();

    QFileSystemWatcher m_watcher;
    QString m_folder;
    QStringList m_files;
    QTimer m_settle;
};
