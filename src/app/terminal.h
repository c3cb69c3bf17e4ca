#pragma once

#include "session.h"

#include <QString>

#include <cstdio>

// The terminal side of the commands that run without a window: messages on
// standard error, answers on standard output, secrets typed without echo.

// "varnlock: text" on standard error.
void Say(const QString &text);
// Text on standard output, in the terminal's encoding.
void Print(const QString &text);
// Bytes (UTF-8) on a stream. On a terminal a control character a record
// holds (an escape sequence in an imported file, say) shows as U+FFFD
// instead of acting on the terminal; line breaks and tabs stay. Elsewhere
// (a pipe, a file) every byte goes as it is.
void Write(std::FILE *stream, QByteArrayView bytes);
// The same bytes as a terminal is shown them.
QByteArray ShownOnTerminal(QByteArrayView bytes);

// One line from standard input; on a terminal the prompt is shown and what is
// typed is not echoed. False at the end of the input.
bool ReadSecretLine(const char *prompt, QString &line);

// Whether standard error is a terminal (for progress and countdowns), and
// standard input (where a password is typed, and so asked twice).
bool ErrorIsTerminal();
bool InputIsTerminal();

enum class Access {
    Read,  // even beside a window that holds the folder; nothing is written
    Write, // holds the folder; refused while a window holds it
};

// Opens the records as a start of the window does, asking for the master
// password where the settings need it (three tries); says what went wrong
// and returns false when they can not be used.
bool OpenRecords(Session &session, Access access);

// Names the copies a sync tool left beside the records (and stores of
// another protection): what only they hold is missing from what a command
// shows until they are merged, and a terminal user sees no window say so.
void SayCopiesLeft(const Session &session);
