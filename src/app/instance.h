#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// The running copy listens beside its records, in the owner-only Data folder,
// so a second start can ask it to come to the front instead of opening the
// same records twice.
class FrontRequests : public QObject {
    Q_OBJECT
public:
    // Listens for requests; the holder of the folder's lock calls this, so a
    // socket left by a copy that was killed is stale and replaced.
    explicit FrontRequests(const QString &dataFolder, QObject *parent = nullptr);

    // Asks the copy that holds the folder to come to the front; false when
    // none answers.
    static bool ask(const QString &dataFolder);

signals:
    void requested();

private:
    QLocalServer m_server;
};
