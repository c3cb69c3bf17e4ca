#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The string cipher: each output code is 255 minus (text code XOR key code),
// the key repeated from its first character. It is its own inverse.
// Appends to result. An empty key with a non-empty text cannot encipher
// anything: the call fails and result is left as it was.
bool XorInvert(const QByteArray &text, const QByteArray &key, QByteArray &result);

// The one loop of the cipher: size bytes from src through the key stream
// (the key repeated from its first character, see KeyStream) into dst, which
// may be src. False when the result holds a CR or LF.
bool XorInvertSpan(const char *src, char *dst, qsizetype size, const char *keyStream);
// The key repeated to the given length; empty for an empty key.
QByteArray KeyStream(const QByteArray &key, qsizetype length);

// Every line of content, as the store's reader splits it, through the cipher
// where it stands, the key starting afresh at each; lines gets views of them.
// whole tells whether no result holds a CR or LF. False on an empty key with
// a non-empty content.
bool XorInvertLinesInPlace(QByteArray &content, const QByteArray &key,
                           std::vector<QByteArrayView> &lines, bool &whole);

// The size bytes of a copy's content at data deciphered where they stand;
// views of the record lines they then hold are appended to records, as
// start-up reads them: a deciphered line that holds a line break is read as
// the lines it holds. False on an empty key with a non-empty content.
bool DecipherLinesInPlace(char *data, qsizetype size, const QByteArray &key,
                          std::vector<QByteArrayView> &records);
