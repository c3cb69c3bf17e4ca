#pragma once

#include <functional>

class QWidget;

// Calls gone() when the window system destroys the window's native window
// without asking it first (another program's forced close, not the close
// button). Qt would go on taking the window for shown, so whoever waits on
// it would wait for ever. Only the X11 window system reports this; elsewhere
// gone() is never called.
void OnForcedClose(QWidget *window, std::function<void()> gone);
