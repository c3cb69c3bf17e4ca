#include "keys.h"

#include <QKeyEvent>

namespace {

bool isModifier(int key) {
    return key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Shift ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

} // namespace

void PressedKeys::pressed(const QKeyEvent *event) {
    if (event->isAutoRepeat())
        return;
    const int key = event->key();
    if (event->type() == QEvent::ShortcutOverride) {
        // Only a chord's other key comes this way alone; it is not a press
        // of this widget's, but it ends any lone modifier.
        if (key != m_lone)
            m_lone = 0;
        return;
    }
    m_lone = isModifier(key) && m_down.isEmpty() ? key : key == m_lone ? m_lone : 0;
    m_down.insert(key);
}

bool PressedKeys::released(const QKeyEvent *event) {
    m_releasedAlone = false;
    if (event->isAutoRepeat())
        return false;
    const int key = event->key();
    if (!m_down.remove(key))
        return false;
    m_releasedAlone = key == m_lone;
    if (key == m_lone)
        m_lone = 0;
    return true;
}

void PressedKeys::clear() {
    m_down.clear();
    m_lone = 0;
    m_releasedAlone = false;
}
