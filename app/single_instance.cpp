#include "single_instance.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace zapfer {

namespace {
constexpr int kHandOverTimeoutMs = 5000;
constexpr auto kStreamVersion = QDataStream::Qt_6_4;
} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/zapfer");
}

bool SingleInstance::claim(const QStringList& paths) {
    const QString path = socketPath();
    // Two tries: a socket left behind by a crashed instance answers no
    // connection, is removed, and the second round listens.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const HandOver result = handOver(paths);
        if (result == HandOver::Delivered)
            return false;
        // A live instance that does not answer keeps its socket.
        if (result == HandOver::NoAnswer)
            return true;
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (server->listen(path)) {
            m_server = server;
            connect(server, &QLocalServer::newConnection, this, [this] {
                while (QLocalSocket* socket = m_server->nextPendingConnection()) {
                    connect(socket, &QLocalSocket::readyRead, this,
                            [this, socket] { readHandOver(socket); });
                    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                    readHandOver(socket);
                }
            });
            return true;
        }
        delete server;
        if (attempt == 0)
            QLocalServer::removeServer(path);
    }
    // Neither reachable nor free: go on without hand-over rather than refuse
    // to start.
    return true;
}

SingleInstance::HandOver SingleInstance::handOver(const QStringList& paths) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kHandOverTimeoutMs))
        return HandOver::NoServer;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << paths;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame.setVersion(kStreamVersion);
    frame << message;
    socket.write(framed);
    // The reply byte tells that the running instance took the paths.
    socket.flush();
    if (socket.waitForReadyRead(kHandOverTimeoutMs) && socket.read(1) == "1")
        return HandOver::Delivered;
    return HandOver::NoAnswer;
}

void SingleInstance::readHandOver(QLocalSocket* socket) {
    QDataStream in(socket);
    in.setVersion(kStreamVersion);
    in.startTransaction();
    QByteArray message;
    in >> message;
    if (!in.commitTransaction())
        return; // wait for the rest
    QDataStream body(message);
    body.setVersion(kStreamVersion);
    QStringList paths;
    body >> paths;
    if (body.status() != QDataStream::Ok) {
        socket->abort();
        return;
    }
    socket->write("1");
    socket->flush();
    Q_EMIT handedOver(paths);
}

} // namespace zapfer
