#pragma once

#include "keys.h"
#include "uihooks.h"

#include <QDialog>

class QLineEdit;

// The prompt for the master password, at start and after a lock: three tries.
class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    explicit PasswordPrompt(const UiHooks &hooks, QWidget *parent = nullptr);

    // Shows the prompt and waits for its answer: true once the entry equals
    // expected; false after the third wrong entry (with its message), or when
    // the prompt was closed or destroyed without one.
    bool ask(const QByteArray &expected);
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
    QByteArray m_expected;
    int m_tries = 0;
};
