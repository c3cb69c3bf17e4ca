#include "keys.h"

#include <QKeyEvent>

int KeyCode(const QKeyEvent *event) {
    const int key = event->key();
    switch (key) {
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    default:
        break;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 65 + (key - Qt::Key_A);
    return 0;
}

void PressedKeys::pressed(const QKeyEvent *event) {
    if (!event->isAutoRepeat())
        m_down.insert(event->key());
}

bool PressedKeys::released(const QKeyEvent *event) {
    if (event->isAutoRepeat())
        return false;
    return m_down.remove(event->key());
}
