#pragma once

#include <QByteArray>
#include <QString>

// The files hold Windows-1252 text. Qt has no converter for it without ICU,
// so the table lives here; the windows convert at their boundary with these.
namespace Ansi {

// Characters the code page cannot hold become '?'.
QByteArray fromUnicode(const QString &text);
QString toUnicode(const QByteArray &bytes);

} // namespace Ansi
