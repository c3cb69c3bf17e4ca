#pragma once

#include "database.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The older database kept one field-ciphered record per line with the fields
// separated by a single ":". A remaining text that begins with "http" is not
// split further, so the colon of a web address stays in its field.
QByteArray ConvertOldRecord(const QByteArray &oldRecord);

// Converts every record an old database file's bytes hold; empty ones are skipped.
QList<QByteArray> ConvertOldDatabase(QByteArray content);

// Reads the old database and converts every record. Empty records are skipped.
StoreStatus ReadOldDatabase(const QString &path, QList<QByteArray> &recordLines);
