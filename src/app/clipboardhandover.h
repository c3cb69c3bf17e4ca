#pragma once

#include <QString>

// Where a program's clipboard text goes when the program ends (X11 and
// Wayland, where the program that copied serves the text itself), a small
// process of its own takes the text over and holds it until another program
// takes the clipboard. True once it holds it; false where no such process is
// needed or it could not start (the caller then leaves the text as it is).
bool HandOverClipboard(const QString &text, bool secret);

// That process: reads the text from standard input, takes the clipboard
// (as a secret with --secret), says so on standard output, and ends when
// another program takes the clipboard.
inline constexpr char kHoldClipboardArgument[] = "--hold-clipboard";
int HoldClipboard(int argc, char *argv[]);
