#include "idlewatch.h"

#include <QCoreApplication>
#include <QEvent>

IdleWatch::IdleWatch(QObject *parent) : QObject(parent) {
    timer.setSingleShot(true);
    timer.setInterval(kIdleMs);
    connect(&timer, &QTimer::timeout, this, &IdleWatch::idle);
    QCoreApplication::instance()->installEventFilter(this);
    timer.start();
}

bool IdleWatch::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        timer.start();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
