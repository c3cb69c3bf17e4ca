#pragma once

#include "recordlist.h"

#include <QByteArrayView>
#include <QList>

// The records whose service, user name, other info or path contain text,
// letter case ignored, by their index in the list, in list order. The
// password is never searched. An empty text finds every record.
QList<qsizetype> FindRecords(const RecordList &records, QByteArrayView text);
