#include "instance.h"

#include <QLocalSocket>

namespace {

QString socketPath(const QString &dataFolder) {
    return dataFolder + QStringLiteral("/.varnlock-window");
}

} // namespace

FrontRequests::FrontRequests(const QString &dataFolder, QObject *parent) : QObject(parent) {
    const QString path = socketPath(dataFolder);
    QLocalServer::removeServer(path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    // A folder path too long for a socket only costs the bringing to front.
    if (!m_server.listen(path))
        return;
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server.nextPendingConnection()) {
            client->disconnectFromServer();
            client->deleteLater();
            emit requested();
        }
    });
}

bool FrontRequests::ask(const QString &dataFolder) {
    QLocalSocket socket;
    socket.connectToServer(socketPath(dataFolder));
    if (!socket.waitForConnected(1000))
        return false;
    socket.disconnectFromServer();
    return true;
}
