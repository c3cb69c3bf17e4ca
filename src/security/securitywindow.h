#pragma once

#include "expiry.h"
#include "uihooks.h"

#include <QDate>
#include <QWidget>

class Session;
enum class SessionStatus;
enum class Scope;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The security settings: master password, its expiry, the protection scope,
// and the password proposals. "Accept" goes through the session it is given.
class SecurityWindow : public QWidget {
    Q_OBJECT
public:
    SecurityWindow(Session &session, const UiHooks &hooks);

    // Puts a password into the box, selected.
    void setPassword(const QByteArray &password);
    // Shows the stored settings: the password (selected), and the stored
    // protection and expiry, which filling the box alone would not keep.
    void showStored();
    // Whether showStored has run for this window.
    bool filled() const { return m_filled; }
    // The window locks: a box showing the stored password lets go of it
    // (typed text stays), and after the unlock it shows it again.
    void forgetStoredPassword();
    void restoreStoredPassword();

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
    void propose();
    void acceptSettings();
    void resetWindow();
    void acceptStrong();
    // What Accept came to: the window closes, says why, or stays for a new try.
    void finishAccept(SessionStatus status);
    void showStoredScope();
    // Edited: the password box changed. ScopeChosen: a protection was ticked,
    // the box as it was.
    enum class Because { Edited, ScopeChosen };
    void passwordChanged(Because because = Because::Edited);
    void neverExpiresToggled();
    void expiryFocused();
    void expiryLeft();
    void suggestToggled();
    void level3Toggled();
    void level3Left();
    void lengthChanged();
    void proposeExpiry();
    void correctExpiry();
    // A new password in place of one that has expired (or expires today)
    // gets a date a month on: the old date, kept, would remind at once.
    void renewExpiryFor(bool newPassword);
    // Refusals that keep the window open with what was typed.
    bool refuse(const QString &text);
    bool passwordRefused(const QByteArray &password, Scope scope);
    // Asks before the protection is lowered; true when the user says no.
    bool lowering(const QByteArray &password, Scope scope);
    void setLengthBackground(bool white);

    QLabel *m_passwordCaption = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QLabel *m_lengthLabel = nullptr;
    QGroupBox *m_expiryFrame = nullptr;
    QCheckBox *m_neverExpires = nullptr;
    QLineEdit *m_expiryEdit = nullptr;
    QGroupBox *m_reachFrame = nullptr;
    QRadioButton *m_scopeProgramAndDBase = nullptr; // scope 1
    QRadioButton *m_scopeNone = nullptr;            // scope 0
    QRadioButton *m_scopeProgramOnly = nullptr;     // scope 2
    QRadioButton *m_scopeStrong = nullptr;          // the strong store
    QPushButton *m_acceptButton = nullptr;          // Accept
    QPushButton *m_resetButton = nullptr;           // Reset
    // The proposals.
    QGroupBox *m_suggestFrame = nullptr;
    QCheckBox *m_suggest = nullptr;
    QGroupBox *m_levelFrame = nullptr;
    QRadioButton *m_level1 = nullptr, *m_level2 = nullptr, *m_level3 = nullptr;
    QLineEdit *m_lengthEdit = nullptr;
    QLabel *m_charactersLabel = nullptr;
    QPushButton *m_goButton = nullptr; // Go

    Session &m_session;
    UiHooks m_hooks;
    bool m_filled = false;
    bool m_boxWasEmpty = true;
    bool m_refillAfterLock = false;
};
