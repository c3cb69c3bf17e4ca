#include "clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

SecretClipboard::SecretClipboard(QObject *parent) : QObject(parent) {
    forgetTimer.setSingleShot(true);
    forgetTimer.setInterval(kForgetMs);
    connect(&forgetTimer, &QTimer::timeout, this, &SecretClipboard::forgetOurs);
    QClipboard *clipboard = QGuiApplication::clipboard();
    m_text = clipboard->text();
    connect(clipboard, &QClipboard::dataChanged, this,
            [this, clipboard] { m_text = holdsOurs() ? QString() : clipboard->text(); });
}

bool MarkedSecret(const QMimeData *data) {
    return data && data->data(QLatin1String(kSecretHintFormat)) == "secret";
}

SecretClipboard::~SecretClipboard() {
    // The window that would hear of it is going too.
    blockSignals(true);
    forgetOurs();
}

void SecretClipboard::copySecret(const QString &text) {
    auto *data = new QMimeData;
    data->setText(text);
    // The hint the desktop's clipboard managers read to keep a copy out of
    // their history.
    data->setData(QLatin1String(kSecretHintFormat), "secret");
    m_ours = data;
    m_oursText = text;
    QGuiApplication::clipboard()->setMimeData(data); // the clipboard owns it now
    m_text.clear();
    forgetTimer.start();
}

void SecretClipboard::clear() {
    forgetTimer.stop();
    m_ours.clear();
    QGuiApplication::clipboard()->clear();
    m_text.clear();
}

void SecretClipboard::leave() {
    forgetTimer.stop();
    m_ours.clear();
}

bool SecretClipboard::holdsOurs() const {
    // Replaced since, the clipboard let ours go.
    const QClipboard *clipboard = QGuiApplication::clipboard();
    return m_ours && clipboard->mimeData() == m_ours && clipboard->text() == m_oursText;
}

void SecretClipboard::forgetOurs() {
    forgetTimer.stop();
    const bool stillOurs = holdsOurs();
    m_ours.clear();
    if (!stillOurs)
        return;
    QGuiApplication::clipboard()->clear();
    m_text.clear();
    emit forgotten();
}
