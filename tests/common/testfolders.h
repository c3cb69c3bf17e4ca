#pragma once

#include "ansi.h"
#include "fieldcipher.h"
#include "platform.h"
#include "recordlist.h"
#include "settings.h"
#include "storepaths.h"
#include "stringcipher.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// A throwaway program folder with its own temporary folder, so no test ever
// touches a real installation or the user's temporary files.
struct TestFolders {
    QTemporaryDir root;
    StorePaths paths;

    explicit TestFolders(bool withData = true) {
        QDir(root.path()).mkpath(QStringLiteral("program"));
        QDir(root.path()).mkpath(QStringLiteral("tmp"));
        paths.programFolder = root.path() + QStringLiteral("/program");
        paths.tempFolder = root.path() + QStringLiteral("/tmp");
        if (withData)
            Platform::createHiddenFolder(paths.dataFolder());
    }
};

inline QByteArray fileBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// Writes a file a test needs; a test that cannot set up its files stops
// here rather than going on against the wrong ones.
inline void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("the test could not write %s", qPrintable(path));
}

// The permission bits as the file system holds them.
inline int modeOf(const QString &path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// The settings line of a password that never expires under this scope (the
// strong store keeps its mark in the password's place).
inline QByteArray settingsLine(Scope scope, const QByteArray &password) {
    return BuildSettingsLine(kNeverExpires,
                             scope == Scope::Strong ? StrongSettingsPassword() : password,
                             "12-01-2026", scope);
}

// The bytes a store of these records holds, one enciphered line each.
inline QByteArray storeBytes(const QList<QByteArray> &records) {
    QByteArray out;
    for (const QByteArray &r : records)
        out += EncodeLine(r) + "\r\n";
    return out;
}

// The string cipher by its definition, a byte at a time: each output code is
// 255 minus (text code XOR key code), the key repeating from its start.
inline QByteArray xorInverted(const QByteArray &text, const QByteArray &key) {
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = char(255 - (static_cast<unsigned char>(text[i]) ^
                             static_cast<unsigned char>(key[i % key.size()])));
    return out;
}

// The bytes of the enciphered copy of these records under this key.
inline QByteArray copyBytes(const QList<QByteArray> &records, const QByteArray &key) {
    QByteArray out;
    for (const QByteArray &r : records)
        out += xorInverted(EncodeLine(r), key) + "\r\n";
    return out;
}

// The service names the list shows for these records, in list order.
inline QStringList serviceNames(const QList<QByteArray> &records) {
    const RecordList list(records);
    QStringList out;
    for (qsizetype i = 0; i < list.size(); ++i)
        out << Ansi::toUnicode(list.serviceName(i));
    return out;
}

// Every file the program and temporary folders hold, by name, with its bytes:
// two snapshots are equal when nothing was written, left behind or removed.
inline QMap<QString, QByteArray> snapshot(const TestFolders &f) {
    QMap<QString, QByteArray> out;
    for (const QString &folder : {f.paths.programFolder, f.paths.tempFolder}) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            out.insert(path, fileBytes(path));
        }
    }
    return out;
}
