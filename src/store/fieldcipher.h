#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The field cipher: a fixed one-to-one substitution over a-z, A-Z, 0-9 and ':'.
// Every other byte passes unchanged, so lengths never change.

// The table is part of the file format: files written with it can only be
// read back with it, so it must never change.
inline constexpr char kCipherPlain[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789:";
inline constexpr char kCipherImage[] =
    "E9DVhmORIidy7A6KLBJa4TtgFoXpPfNqb8eun2ZCYwM1:jvUHsWGlQ3Sck50zrx";

// Appends the image of one character to cipherLine.
void EncodeText(char cipherChar, QByteArray &cipherLine);

// Appends the deciphered text to result; result is not emptied first.
void DecodeText(const QByteArray &text, QByteArray &result);

// A whole line through EncodeText.
QByteArray EncodeLine(const QByteArray &line);
QByteArray DecodeLine(const QByteArray &line);

// Writes the image of a line to dst, which has room for line.size() bytes.
// False when the line holds a CR or LF.
bool EncodeInto(QByteArrayView line, char *dst);

// Deciphers a whole file's content at once; line endings pass unchanged.
void DecodeInPlace(QByteArray &content);
void DecodeInPlace(char *data, qsizetype size);
