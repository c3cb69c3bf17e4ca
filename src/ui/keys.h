#pragma once

#include <QSet>

class QKeyEvent;

// The keys that went down in one widget. A release counts only where its key
// went down: the release of a key that closed a message box or a menu reaches
// the widget behind it, which must not act on it.
class PressedKeys {
public:
    // A key press, or the shortcut check Qt makes before it: a chord such as
    // Alt+E is taken by the menu bar before the widget sees its press.
    void pressed(const QKeyEvent *event);
    // True when this widget saw the key go down.
    bool released(const QKeyEvent *event);
    // The key just released was a modifier pressed and released with no other
    // key in between: a lone Alt or Ctrl, not the end of Alt+E or Ctrl+V.
    bool releasedAlone() const { return m_releasedAlone; }
    // The widget just got the focus: nothing went down in it yet.
    void clear();

private:
    QSet<int> m_down;
    int m_lone = 0; // the modifier that went down with nothing else, until another key does
    bool m_releasedAlone = false;
};
