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

    // What the check makes of an entry: the password, not it (another try),
    // or no use asking (the check has said why).
    enum class Verdict { Right, Wrong, GiveUp };
    // Shows the prompt and waits for its answer: true once check finds an
    // entry Right; false after the third Wrong one (with its message), after
    // GiveUp, or when the prompt was closed or destroyed without one.
    bool ask(std::function<Verdict(const QString &typed)> check);
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
    std::function<Verdict(const QString &)> m_check;
    int m_tries = 0;
};
