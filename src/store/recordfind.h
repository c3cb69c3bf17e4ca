#pragma once

#include "recordlist.h"

#include <QByteArrayView>
#include <QList>

// The records whose service, user name, other info or path contain text,
// letter case ignored, by their index in the list, in list order. The
// password is never searched. An empty text finds every record. With within
// given (record indexes in list order), only those records are searched: a
// text that extends the last one needs to look only at its matches.
QList<qsizetype> FindRecords(const RecordList &records, QByteArrayView text,
                             const QList<qsizetype> *within = nullptr);

// Whether the records that contain text are all among those that contain
// previous (text holds previous, letter case ignored), so a search for text
// may look only at previous's matches.
bool FindNarrows(QByteArrayView previous, QByteArrayView text);
