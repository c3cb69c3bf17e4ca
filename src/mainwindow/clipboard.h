#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QMimeData;

// The mark that keeps a copied text out of clipboard managers' histories.
inline constexpr char kSecretHintFormat[] = "x-kde-passwordManagerHint";
// Whether data came with that mark, from this program or another.
bool MarkedSecret(const QMimeData *data);

// The window's side of the system clipboard. What a caption click copies is
// offered as a secret, which clipboard managers and their histories skip, and
// is taken off the clipboard again after a while and at the end of the
// program, but only while the clipboard still holds it: what the user copied
// since is never touched. The text that capture mode shows is read when the
// clipboard changes, not asked of its owner at every tick.
class SecretClipboard : public QObject {
    Q_OBJECT
public:
    explicit SecretClipboard(QObject *parent = nullptr);
    ~SecretClipboard() override;

    // How long a copied secret stays.
    static constexpr int kForgetMs = 20000;

    void copySecret(const QString &text);
    // Empties the clipboard at once, whoever filled it.
    void clear();
    // Takes the program's own secret off the clipboard if it is still there.
    void forgetOurs();
    // Leaves the secret copied last on the clipboard, for good.
    void leave();
    // Whether the clipboard still holds the secret copied last.
    bool holdsOurs() const;
    // The clipboard's text as of its last change, when another program put it
    // there; empty while the clipboard holds the program's own copy, which
    // capture must not take into a field (a password in clear in Other Info).
    const QString &textCopiedElsewhere() const { return m_text; }

    QTimer forgetTimer;

signals:
    // The secret was taken off the clipboard.
    void forgotten();

private:
    QPointer<QMimeData> m_ours;
    QString m_oursText;
    QString m_text;
};
