#pragma once

#include "keys.h"
#include "uihooks.h"

#include <QDialog>

#include <functional>

class QLineEdit;

// The prompt for the master password, at start and after a lock: three tries.
class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    explicit PasswordPrompt(const UiHooks &hooks, QWidget *parent = nullptr);

    // Shows the prompt and waits for its answer: true once accepts takes an
    // entry; false after the third entry it refuses (with its message), or
    // when the prompt was closed or destroyed without one.
    bool ask(std::function<bool(const QString &typed)> accepts);
    // The password box takes the focus (the window system may have moved it).
    void focusPassword();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void check();

    UiHooks m_hooks;
    QLineEdit *m_passwordEdit = nullptr;
    PressedKeys m_pressed;
    std::function<bool(const QString &)> m_accepts;
    int m_tries = 0;
};
