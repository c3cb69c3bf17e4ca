#include "passwordprompt.h"

#include "forcedclose.h"
#include "windowicon.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kTries = 3;

} // namespace

PasswordPrompt::PasswordPrompt(const UiHooks &hooks, QWidget *parent)
    : QDialog(parent), m_hooks(hooks) {
    setWindowTitle(QStringLiteral("Password Required"));
    setWindowIcon(VarnlockIcon());
    setFixedSize(Twips(3900), Twips(1380));
    auto *caption = new QLabel(QStringLiteral("Password"), this);
    caption->setGeometry(Twips(180), Twips(240), Twips(900), Twips(285));
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_passwordEdit->setGeometry(Twips(1080), Twips(180), Twips(2580), Twips(360));
    m_passwordEdit->installEventFilter(this);
    auto *ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setGeometry(Twips(2460), Twips(720), Twips(1200), Twips(420));
    ok->setAutoDefault(false); // Enter is the box's, counted where it went down
    connect(ok, &QPushButton::clicked, this, [this] { check(); });
    // Destroyed from outside, the prompt can never be answered: a refusal.
    OnForcedClose(this, [this] { reject(); });
}

bool PasswordPrompt::ask(std::function<Verdict(const QString &typed)> check) {
    m_check = std::move(check);
    m_tries = 0;
    m_pressed.clear();
    m_passwordEdit->clear();
    setModal(true);
    QMetaObject::invokeMethod(
        this,
        [this] {
            raise();
            activateWindow();
            focusPassword();
        },
        Qt::QueuedConnection);
    return exec() == QDialog::Accepted;
}

void PasswordPrompt::focusPassword() {
    m_passwordEdit->setFocus();
}

void PasswordPrompt::check() {
    if (!isVisible())
        return;
    QString typed = m_passwordEdit->text();
    m_passwordEdit->clear();
    const Verdict verdict = m_check ? m_check(typed) : Verdict::Wrong;
    // The box has let go of it: this is the last copy, zeroed in place.
    typed.fill(QChar());
    if (verdict == Verdict::Right) {
        accept();
        return;
    }
    if (verdict == Verdict::GiveUp) {
        reject();
        return;
    }
    if (++m_tries < kTries)
        return;
    hide(); // the refusal stands alone, nothing left to type into behind it
    m_hooks.message(QMessageBox::Critical, QStringLiteral("Access Error"),
                    QStringLiteral("You are not allowed to use this application"));
    reject();
}

void PasswordPrompt::keyPressEvent(QKeyEvent *event) {
    // Escape does not dismiss the prompt (a refusal would end the program);
    // Enter is handled where it went down, in the box.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool PasswordPrompt::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_passwordEdit && event->type() == QEvent::KeyPress)
        m_pressed.pressed(static_cast<QKeyEvent *>(event));
    if (watched == m_passwordEdit && event->type() == QEvent::KeyRelease) {
        // Only an Enter that went down here: one that closed another window
        // must not count as a try.
        auto *key = static_cast<QKeyEvent *>(event);
        if (m_pressed.released(key) &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
            check();
    }
    return QDialog::eventFilter(watched, event);
}
