#include "passreq.h"

#include "ansi.h"
#include "forcedclose.h"
#include "windowicon.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

PassReq::PassReq(const UiHooks &hooks, QWidget *parent) : QWidget(parent), m_hooks(hooks) {
    setWindowTitle(QStringLiteral("Password Required"));
    setWindowIcon(VarnlockIcon());
    setFixedSize(Twips(3900), Twips(1380));
    Label1 = new QLabel(QStringLiteral("Password"), this);
    Label1->setGeometry(Twips(180), Twips(240), Twips(900), Twips(285));
    Text1 = new QLineEdit(this);
    Text1->setEchoMode(QLineEdit::Password);
    Text1->setGeometry(Twips(1080), Twips(180), Twips(2580), Twips(360));
    Text1->installEventFilter(this);
    Command2 = new QPushButton(QStringLiteral("Ok"), this);
    Command2->setGeometry(Twips(2460), Twips(720), Twips(1200), Twips(420));
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    // Destroyed from outside, the prompt can never be answered: a refusal.
    OnForcedClose(this, [this] {
        hide();
        if (!m_done) {
            m_done = true;
            emit refused();
        }
    });
}

void PassReq::Command2_Click() {
    if (m_done)
        return;
    const bool right = Ansi::fromUnicode(Text1->text()) == Label2;
    if (!right && Attempts == 3) {
        m_done = true;
        m_hooks.message(QMessageBox::Critical, QStringLiteral("Access Error"),
                        QStringLiteral("You are not allowed to use this application"));
        hide();
        emit refused();
        return;
    }
    if (!right) {
        ++Attempts;
        Text1->clear();
        return;
    }
    m_done = true;
    Text1->clear();
    hide();
    emit accepted();
}

void PassReq::reset() {
    m_pressed.clear();
    m_done = false;
    Attempts = 1;
    Text1->clear();
}

bool PassReq::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Text1 && event->type() == QEvent::KeyPress)
        m_pressed.pressed(static_cast<QKeyEvent *>(event));
    if (watched == Text1 && event->type() == QEvent::KeyRelease) {
        // Only an Enter that went down here: one that closed another window
        // must not count as a try.
        auto *key = static_cast<QKeyEvent *>(event);
        if (m_pressed.released(key) &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
            Command2_Click();
    }
    return QWidget::eventFilter(watched, event);
}

void PassReq::closeEvent(QCloseEvent *event) {
    event->accept();
    if (!m_done) {
        m_done = true;
        emit refused();
    }
}
