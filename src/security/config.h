#pragma once

#include "expiry.h"
#include "uihooks.h"

#include <QDate>
#include <QWidget>

class Session;
enum class Scope;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The security settings: master password, its expiry, the protection scope,
// and the password proposals. "Accept" goes through the session it is given.
class Config : public QWidget {
    Q_OBJECT
public:
    Config(Session &session, const UiHooks &hooks);

    // Puts a password into the box, selected.
    void setPassword(const QByteArray &password);
    // Shows the stored settings: the password (selected), and the stored
    // protection and expiry, which filling the box alone would not keep.
    void showStored();
    // Whether showStored has run for this window.
    bool filled() const { return m_filled; }

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QCheckBox *Check2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QRadioButton *Option4 = nullptr; // scope 1
    QRadioButton *Option5 = nullptr; // scope 0
    QRadioButton *Option6 = nullptr; // scope 2
    QPushButton *Command2 = nullptr; // Accept
    QPushButton *Command3 = nullptr; // Reset
    // The proposals.
    QGroupBox *Frame2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QRadioButton *Option1 = nullptr, *Option2 = nullptr, *Option3 = nullptr;
    QLineEdit *Text3 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Command1 = nullptr; // Go

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

signals:
    // New settings are stored and in force.
    void accepted();
    // Nothing was written: the files changed on disk since they were read.
    void changedOnDisk();
    // The window closed and is gone; the next showing starts afresh.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Text1_Change();
    void Check2_Click();
    void Text2_GotFocus();
    void Text2_LostFocus();
    void Check1_Click();
    void Option3_Click();
    void Option3_LostFocus();
    void Text3_Change();
    void proposeExpiry();
    void correctExpiry();
    // Refusals that keep the window open with what was typed.
    bool refuse(const QString &text);
    bool passwordRefused(const QByteArray &password, Scope scope);
    // Asks before the protection is lowered; true when the user says no.
    bool lowering(const QByteArray &password, Scope scope);
    void setText3Background(bool white);

    Session &m_session;
    UiHooks m_hooks;
    bool m_filled = false;
    bool m_boxWasEmpty = true;
};
