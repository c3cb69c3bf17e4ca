#include "securitywindow.h"

#include "ansi.h"
#include "outcometext.h"
#include "session.h"
#include "settings.h"
#include "strongstore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

// Accept: what is refused, what is asked before the protection is lowered,
// and the settings handed to the session.

bool SecurityWindow::refuse(const QString &text) {
    m_hooks.message(QMessageBox::Warning, kProgramTitle, text);
    return true;
}

bool SecurityWindow::passwordRefused(const QByteArray &password, Scope scope) {
    // A passphrase may hold any character; only an empty one with nothing to keep is refused.
    if (scope == Scope::Strong)
        return password.isEmpty() && m_session.scope() != Scope::Strong &&
               refuse(QStringLiteral("\"Program and DBase, strong\" needs a passphrase to "
                                     "derive its key from. Nothing was changed: type one."));
    const QString bad = Ansi::firstUnencodable(m_passwordEdit->text());
    if (!bad.isEmpty())
        return refuse(QStringLiteral("The password holds \"%1\", a character Varnlock can not "
                                     "store: its files use the Windows-1252 character set. "
                                     "Nothing was changed: replace that character and try again.")
                          .arg(bad));
    if (password == kUnsetPassword && !m_passwordEdit->text().isEmpty())
        return refuse(QStringLiteral("\"UNSETMARK\" can not be a password: Varnlock stores it "
                                     "to mean that no password is set. Nothing was changed: "
                                     "choose another password."));
    if (password.isEmpty() && scope == Scope::ProgramAndDBase)
        return refuse(QStringLiteral("\"Program and DBase\" needs a password to encipher the "
                                     "records with, and the password ends at its first blank, "
                                     "so here it is empty. Nothing was changed: type a password "
                                     "without blanks in front."));
    // Stored empty, it would open the program on an empty Enter.
    if (password.isEmpty() && scope == Scope::ProgramOnly)
        return refuse(QStringLiteral("\"Program Only\" asks for the password at every start, "
                                     "and the password ends at its first blank, so here it is "
                                     "empty. Nothing was changed: type a password without "
                                     "blanks in front."));
    return false;
}

bool SecurityWindow::lowering(const QByteArray &password, Scope scope) {
    QStringList changes;
    const bool hadPassword = m_session.needsPassword();
    if (hadPassword && (password == kUnsetPassword || scope == Scope::None))
        changes << QStringLiteral("remove the master password: Varnlock will start without "
                                  "asking for it");
    if (m_session.scope() == Scope::Strong && scope != Scope::Strong)
        changes << QStringLiteral("move the records out of the strong store into %1 (their "
                                  "earlier versions are not kept there, and their one-time "
                                  "codes go into Other Info)")
                       .arg(scope == Scope::ProgramAndDBase
                                ? QStringLiteral("Data/CW2DB.edb, enciphered only with the "
                                                 "repeating password")
                                : QStringLiteral("Data/CW2DB.pdb, where only the fixed letter "
                                                 "substitution hides them"));
    else if (m_session.scope() == Scope::ProgramAndDBase && scope != Scope::ProgramAndDBase)
        changes << QStringLiteral("move the records out of the enciphered copy into "
                                  "Data/CW2DB.pdb, where only the fixed letter substitution "
                                  "hides them");
    if (changes.isEmpty())
        return false;
    const QString text = QStringLiteral("These settings lower the protection. Accepting them will "
                                        "%1.\n\nAccept them?")
                             .arg(changes.join(QStringLiteral(", and ")));
    return !m_hooks.confirm(kProgramTitle, text);
}

void SecurityWindow::acceptSettings() {
    const Scope scope = m_scopeProgramAndDBase->isChecked() ? Scope::ProgramAndDBase
                        : m_scopeProgramOnly->isChecked()   ? Scope::ProgramOnly
                        : m_scopeStrong->isChecked()        ? Scope::Strong
                                                            : Scope::None;
    if (scope == Scope::Strong) {
        acceptStrong();
        return;
    }
    const QByteArray box = Ansi::fromUnicode(m_passwordEdit->text());
    const qsizetype blank = box.indexOf(' ');
    QByteArray password = blank < 0 ? box : box.left(blank);
    const bool emptyBox = box.isEmpty();
    if (emptyBox)
        password = kUnsetPassword;
    if (passwordRefused(password, scope))
        return;
    if (emptyBox)
        m_neverExpires->setChecked(true);
    // The date is checked as leaving its box checks it, so only a whole
    // MM-DD-YYYY date is ever stored; a blank in it is refused below first.
    if (!m_expiryEdit->text().isEmpty() && !m_expiryEdit->text().contains(u' '))
        correctExpiry();
    renewExpiryFor(password != m_session.key());
    const QByteArray expiry = m_expiryEdit->text().isEmpty()
                                  ? QByteArray(kNeverExpires)
                                  : Ansi::fromUnicode(m_expiryEdit->text());
    const QByteArray line = BuildSettingsLine(expiry, password, TodayText(), scope);
    const UiHooks &hooks = m_hooks;
    if (line.contains(' ')) {
        hooks.message(QMessageBox::Critical, QStringLiteral("Error - i77"),
                      QStringLiteral("There can not be spaces on a password"));
        return;
    }
    if (lowering(password, scope))
        return;
    finishAccept(m_session.applySettings(line));
}

void SecurityWindow::renewExpiryFor(bool newPassword) {
    const QString date = m_expiryEdit->text();
    // Only the date stored with the old password is renewed, not one set now;
    // an empty box is "Do Not Expire" (before any settings file, the stored
    // date is empty too).
    if (!newPassword || date.isEmpty() || Ansi::fromUnicode(date) != m_session.settings().expiry)
        return;
    if (CheckExpiry(Ansi::fromUnicode(date), TodayText()) != Expiry::NotExpired)
        m_expiryEdit->setText(ExpiryProposal(Clock::today()));
}

void SecurityWindow::acceptStrong() {
    // The passphrase as typed (a proposal without its remark); empty keeps
    // the one the store has.
    QString typed = m_passwordEdit->text();
    if (m_suggest->isChecked() && typed.contains(u' '))
        typed = typed.left(typed.indexOf(u' '));
    const QByteArray passphrase = Strong::PassphraseBytes(typed);
    if (passwordRefused(passphrase, Scope::Strong))
        return;
    if (!m_expiryEdit->text().isEmpty() && !m_expiryEdit->text().contains(u' '))
        correctExpiry();
    renewExpiryFor(!passphrase.isEmpty());
    const QByteArray expiry = m_expiryEdit->text().isEmpty()
                                  ? QByteArray(kNeverExpires)
                                  : Ansi::fromUnicode(m_expiryEdit->text());
    if (expiry.contains(' ')) {
        m_hooks.message(QMessageBox::Critical, QStringLiteral("Error - i77"),
                        QStringLiteral("There can not be spaces on a password"));
        return;
    }
    const QByteArray line =
        BuildSettingsLine(expiry, StrongSettingsPassword(), TodayText(), Scope::Strong);
    // The derivation is tuned to this machine once, when the passphrase is set.
    const Strong::KdfParams params =
        passphrase.isEmpty() ? Strong::KdfParams{} : Strong::CalibratedParams();
    finishAccept(m_session.applySettings(line, passphrase, params));
}

void SecurityWindow::finishAccept(SessionStatus status) {
    const UiHooks &hooks = m_hooks;
    switch (status) {
    case SessionStatus::Ok:
        emit accepted();
        break;
    case SessionStatus::UnsafeRecord: {
        // Nothing changed; the user may choose another password here, or
        // mend the record that only the strong store could keep.
        const QString lineBreak =
            m_session.scope() == Scope::Strong ? LineBreakKeptText(m_session.records()) : QString();
        hooks.message(QMessageBox::Warning, kProgramTitle,
                      !lineBreak.isEmpty()
                          ? lineBreak
                          : QStringLiteral("A stored record can not be enciphered safely under "
                                           "this password. Nothing was changed: choose another "
                                           "password."));
        return;
    }
    case SessionStatus::ChangedOnDisk:
    case SessionStatus::OtherKey:
        // Nothing was written; the window that owns the records reads them
        // again and tells the user. What was typed here stays for a new try.
        emit changedOnDisk();
        return;
    default: {
        const OutcomeText outcome = SessionOutcomeText(status, m_session);
        hooks.message(QMessageBox::Critical, outcome.title, outcome.text);
        break;
    }
    }
    close();
}
