#pragma once

#include <QObject>
#include <QTimer>

// Notices that nobody has used the program's windows for a while: any key
// or mouse input to any of them starts the wait again.
class IdleWatch : public QObject {
    Q_OBJECT
public:
    explicit IdleWatch(QObject *parent = nullptr);

    static constexpr int kIdleMs = 5 * 60 * 1000;
    // The wait; tests shorten it instead of waiting five minutes.
    QTimer timer;

signals:
    void idle();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
