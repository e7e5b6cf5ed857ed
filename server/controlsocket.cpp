// SPDX-License-Identifier: GPL-3.0-or-later
#include "controlsocket.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <pwd.h>
#include <sys/socket.h>

namespace
{
constexpr int commandBytes = 4096;
constexpr int answerMs = 10000;

// The user on the other end of a local socket, by the kernel's word.
QString peerUser(const QLocalSocket& client)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(int(client.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return "unknown";
    const passwd* entry = getpwuid(peer.uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString("uid %1").arg(peer.uid);
}
const char installedControlSocket[] = "/run/tileparlor-server/control";
} // namespace

ControlSocket::ControlSocket(Handler handler) : handler(std::move(handler))
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server.nextPendingConnection())
            serve(client);
    });
}

bool ControlSocket::listen(const QString& path, QString& error)
{
    // A socket left by a server that did not stop in order would block the name.
    QLocalServer::removeServer(path);
    if (server.listen(path))
        return true;
    error = QString("cannot open the control socket %1: %2").arg(path, server.errorString());
    return false;
}

void ControlSocket::serve(QLocalSocket* client)
{
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // A peer that never finishes its line does not hold the connection for good.
    QTimer::singleShot(answerMs, client, [client] { client->abort(); });
    connect(client, &QLocalSocket::readyRead, client, [this, client] {
        if (!client->canReadLine() && client->bytesAvailable() < commandBytes)
            return;
        const QString line = QString::fromUtf8(client->readLine(commandBytes)).trimmed();
        // One command per connection: what follows is not read.
        QObject::disconnect(client, &QLocalSocket::readyRead, nullptr, nullptr);
        handler(peerUser(*client), line.split('\t', Qt::SkipEmptyParts),
                [client = QPointer<QLocalSocket>(client)](QStringList lines) {
                    if (!client)
                        return;
                    if (lines.isEmpty() || !lines.first().startsWith("error: "))
                        lines.prepend("ok");
                    client->write(lines.join('\n').toUtf8() + '\n');
                    client->disconnectFromServer();
                });
    });
}

QString controlSocketPath(const QString& dataFolder)
{
    const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY");
    const QString folder = runtime.isEmpty() ? dataFolder : runtime.split(':').first();
    return QDir(folder).filePath("control");
}

int runControlCommand(const QString& dataFolder, const QStringList& words)
{
    // The installed unit's server keeps it in /run; an operator's shell has no RUNTIME_DIRECTORY.
    QString path = controlSocketPath(dataFolder);
    if (qEnvironmentVariableIsEmpty("RUNTIME_DIRECTORY") && !QFile::exists(path) &&
        QFile::exists(installedControlSocket))
        path = installedControlSocket;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(answerMs)) {
        std::fprintf(stderr, "tileparlor-server: no running server answers at %s: %s\n",
                     qPrintable(path), qPrintable(socket.errorString()));
        return 1;
    }
    socket.write(words.join('\t').toUtf8() + '\n');
    QByteArray answer;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(answerMs))
        answer += socket.readAll();
    answer += socket.readAll();
    std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
    return answer.startsWith("ok\n") ? 0 : 1;
}
