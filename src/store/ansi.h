#pragma once

#include <QByteArray>
#include <QString>

// The files hold Windows-1252 text. Qt has no converter for it without ICU,
// so the table lives here; the windows convert at their boundary with these.
namespace Ansi {

// Characters the code page cannot hold become '?'.
QByteArray fromUnicode(const QString &text);

// The first character of text the code page cannot hold (a surrogate pair
// counts as one), or an empty string when it can hold them all.
QString firstUnencodable(const QString &text);
QString toUnicode(const QByteArray &bytes);
// Appends the text as UTF-8, with no QString between: what the command line
// prints, many records at a time.
void appendUtf8(QByteArray &out, QByteArrayView bytes);

} // namespace Ansi
