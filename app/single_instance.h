#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace zapfer {

// One Zapfer per user: the first process listens on a local socket in the
// user's runtime folder (user-only access); a later one hands its file paths
// over and asks the first to come to the front.
//
// Hand-over message: a QDataStream (Qt 6.4 format) holding a QStringList of
// absolute paths; the running instance answers with one byte once the paths
// are taken, so the second process can end knowing they arrived.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket's path: "zapfer" in the runtime folder of the user.
    static QString socketPath();

    // Becomes the running instance, or hands `paths` to the one that already
    // is. Returns true when this process is now the running instance; false
    // when another instance took the paths (or could not be reached twice).
    bool claim(const QStringList& paths);

Q_SIGNALS:
    // The running instance received a hand-over (possibly with no paths).
    void handedOver(const QStringList& paths);

private:
    enum class HandOver { Delivered, NoServer, NoAnswer };
    HandOver handOver(const QStringList& paths);
    void readHandOver(QLocalSocket* socket);

    QLocalServer* m_server = nullptr;
};

} // namespace zapfer
