#pragma once

#include <QByteArray>
#include <QList>

// Splits file content into lines: each ends at LF, a CR before the LF is part of
// the ending, and a last line without an ending counts too. Commas and quotes
// are ordinary characters. Empty lines are dropped: a store never writes them.
QList<QByteArray> SplitLines(const QByteArray &content);

// The same lines as views into content, for a pass that needs no copies.
QList<QByteArrayView> LineViews(const QByteArray &content);

// Joins lines, each ended by CR LF.
QByteArray JoinLines(const QList<QByteArray> &lines);
