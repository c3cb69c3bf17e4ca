#pragma once

#include <QString>

struct CommandArguments;

// What needs a display (the window, and the clipboard of clip) lives in a
// library of its own beside the program, loaded only when it is needed: the
// commands start without loading the window's libraries.
struct GuiEntry {
    int (*runWindow)(int argc, char *argv[]);
    // clip, its arguments read already.
    int (*runClip)(int argc, char *argv[], const CommandArguments &args);
    // The process that holds a clipboard text after clip ends.
    int (*holdClipboard)(int argc, char *argv[]);
};

// The library's one entry.
extern "C" const GuiEntry *VarnlockGuiEntry();

// Loads the library (found beside the program, or in the build tree where
// the program was built); nothing, with the reason in why, when it can not.
const GuiEntry *LoadGui(QString *why);
