#pragma once

#include <QObject>
#include <QString>

// A window's part, found by its object name as a person's tools would find it.
template <typename T> T *part(const QObject *window, const QString &name) {
    T *found = window->findChild<T *>(name);
    if (!found)
        qFatal("%s has no %s", window->metaObject()->className(), qPrintable(name));
    return found;
}
template <typename T> T *part(const QObject &window, const QString &name) {
    return part<T>(&window, name);
}
