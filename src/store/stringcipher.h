#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The string cipher: each output code is 255 minus (text code XOR key code),
// the key repeated from its first character. It is its own inverse.
// Appends to result. An empty key with a non-empty text cannot encipher
// anything: the call fails and result is left as it was.
bool XorInvert(const QByteArray &text, const QByteArray &key, QByteArray &result);

// Convenience form; an empty result on failure is indistinguishable from an
// empty text, so callers that can meet an empty key use XorInvert.
QByteArray XorInverted(const QByteArray &text, const QByteArray &key);

// True when the enciphered form of text under key holds no CR or LF, so it
// reads back as the same single line.
bool EnciphersToOneLine(const QByteArray &text, const QByteArray &key);

// A whole store: every line passed through XorInvert with the key starting
// afresh, joined with CR LF. False on an empty key with a non-empty line.
bool XorInvertLines(const QList<QByteArray> &lines, const QByteArray &key, QByteArray &content);

// A whole file's content, line by line as SplitLines reads it, each line
// through XorInvert with the key starting afresh, joined with CR LF. False on
// an empty key. When lineSafe is given it tells whether every enciphered line
// is free of CR and LF.
bool XorInvertContent(const QByteArray &content, const QByteArray &key, QByteArray &out,
                      bool *lineSafe = nullptr);

// The one loop of the cipher: size bytes from src through the key stream
// (the key repeated from its first character, see KeyStream) into dst, which
// may be src. False when the result holds a CR or LF.
bool XorInvertSpan(const char *src, char *dst, qsizetype size, const char *keyStream);
// The key repeated to the given length; empty for an empty key.
QByteArray KeyStream(const QByteArray &key, qsizetype length);

// The same in place over content made of lines that each end in CR LF and hold
// no other CR or LF, as the store writes them.
bool XorInvertInPlace(QByteArray &content, const QByteArray &key, bool *lineSafe = nullptr);

// A copy's content deciphered where it stands, line by line as
// XorInvertContent reads it; records become views of the record lines it then
// holds: the same lines XorInvertContent's result is read as.
// False on an empty key with a non-empty content.
bool DecipherLinesInPlace(QByteArray &content, const QByteArray &key,
                          std::vector<QByteArrayView> &records);
