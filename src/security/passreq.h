#pragma once

#include "keys.h"
#include "uihooks.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The start-up prompt for the master password: three tries.
class PassReq : public QWidget {
    Q_OBJECT
public:
    explicit PassReq(const UiHooks &hooks, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command2 = nullptr;
    // The password the entry is compared with.
    QByteArray Label2;
    int Attempts = 1;

    void Command2_Click();
    // Ready for a new prompt: three tries again, an empty box.
    void reset();

signals:
    void accepted();
    // The third wrong entry, or the prompt closed without the password: the
    // program ends.
    void refused();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    UiHooks m_hooks;
    PressedKeys m_pressed;
    bool m_done = false;
};
