// SPDX-License-Identifier: GPL-3.0-or-later
// TLS on the lobby's port: the server tells TLS from plain by the first byte, and the client
// says nothing, not even its hello, to a server whose certificate does not check out.
#include "lobbytls.h"
#include "protocol/protocolsocket.h"
#include "support/testserver.h"
#include "support/wire.h"
#include "tlsidentity.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

using Plain = std::tuple<bool, bool, quint32>;
using Trust = std::tuple<QString, QString, bool>;

class TlsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const QString& name) const { return dir.filePath(name); }

    // Makes certificates with the script a private lobby uses: CAs "ca" and "other", and
    // server certificates for localhost (good, "foreign" from the other CA, "expired") and
    // one for another host.
    bool makeCertificates()
    {
        const QStringList runs[] = {{"ca", dir.path(), "ca"},
                                    {"ca", dir.path(), "other"},
                                    {"server", dir.path(), "ca", "localhost", "localhost"},
                                    {"server", dir.path(), "other", "foreign", "localhost"},
                                    {"server", dir.path(), "ca", "expired", "localhost", "-1"},
                                    {"server", dir.path(), "ca", "wronghost", "lobby.invalid"}};
        return std::all_of(std::begin(runs), std::end(runs), [](const QStringList& arguments) {
            return QProcess::execute(CERTIFICATE_SCRIPT, arguments) == 0;
        });
    }

    // The server with a copy of the localhost certificate, which a test may replace.
    bool launch(TestServer& server, bool required)
    {
        const QString ini("[tls]\ncertificate=%1/server.pem\nkey=%1/server.key\nrequired=%2\n");
        return QFile::copy(file("localhost.pem"), server.data.filePath("server.pem")) &&
               QFile::copy(file("localhost.key"), server.data.filePath("server.key")) &&
               server.launch(ini.arg(server.data.path(), required ? "true" : "false").toUtf8(), {});
    }

    bool handshake(QSslSocket& socket, quint16 port)
    {
        QString error;
        if (!prepareLobbyTls(socket, file("ca.pem"), error))
            return false;
        socket.connectToHostEncrypted("localhost", port);
        return socket.waitForEncrypted(10000);
    }

  private slots:
    void initTestCase() { QVERIFY(makeCertificates()); }

    // Renewed in place, the files are read again on SIGHUP; unreadable ones leave the old.
    void serverReloadsItsCertificate()
    {
        TestServer server;
        QVERIFY(launch(server, false));
        const auto reload = [&](const QString& name, const QByteArray& logged) {
            for (const QString suffix : {".pem", ".key"}) {
                QFile::remove(server.data.filePath("server" + suffix));
                QFile::copy(file(name + suffix), server.data.filePath("server" + suffix));
            }
            return server.hangUp(logged);
        };
        QVERIFY(reload("missing", "TLS settings not reloaded"));
        QSslSocket kept;
        QVERIFY(handshake(kept, server.port()));
        QVERIFY(reload("expired", "configuration reloaded"));
        QSslSocket renewed;
        QVERIFY(!handshake(renewed, server.port()));
        QCOMPARE(renewed.sslHandshakeErrors().value(0).error(), QSslError::CertificateExpired);
    }

    // Whether the server requires TLS, whether the client speaks it, and the hello's result.
    void serverTellsTlsFromPlain_data()
    {
        QTest::addColumn<Plain>("row");
        QTest::newRow("plain beside TLS") << Plain{false, false, HelloAccepted};
        QTest::newRow("TLS beside plain") << Plain{false, true, HelloAccepted};
        QTest::newRow("plain where TLS is required") << Plain{true, false, HelloPlainRefused};
        QTest::newRow("TLS where it is required") << Plain{true, true, HelloAccepted};
    }

    void serverTellsTlsFromPlain()
    {
        QFETCH(Plain, row);
        const auto& [required, tls, result] = row;
        TestServer server;
        QVERIFY(launch(server, required));
        QSslSocket socket;
        if (tls) {
            QVERIFY(handshake(socket, server.port()));
        } else {
            socket.connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(socket.waitForConnected(10000));
        }
        socket.write(clientHello());
        const QByteArray expected = serverHello(result);
        QByteArray answer;
        while (answer.size() < expected.size() && socket.waitForReadyRead(10000))
            answer += socket.readAll();
        QCOMPARE(answer, expected);
        if (result != HelloAccepted)
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                    socket.waitForDisconnected(10000));
    }

    // The server's certificate, the client's CA file, and whether the client trusts the server.
    void clientTalksOnlyToAConfirmedServer_data()
    {
        QTest::addColumn<Trust>("row");
        QTest::newRow("from the lobby's CA") << Trust{"localhost", "ca.pem", true};
        QTest::newRow("from another CA") << Trust{"foreign", "ca.pem", false};
        QTest::newRow("expired") << Trust{"expired", "ca.pem", false};
        QTest::newRow("for another host") << Trust{"wronghost", "ca.pem", false};
        QTest::newRow("no certificate in the CA file") << Trust{"localhost", "ca.key", false};
    }

    // A TLS stand-in server records what reaches it inside the tunnel.
    void clientTalksOnlyToAConfirmedServer()
    {
        QFETCH(Trust, row);
        const auto& [certificate, authorities, confirmed] = row;
        QString error;
        const auto identity =
            loadTlsIdentity(file(certificate + ".pem"), file(certificate + ".key"), error);
        QVERIFY2(identity, qPrintable(error));
        QSslServer standIn;
        standIn.setSslConfiguration(*identity);
        QVERIFY(standIn.listen(QHostAddress::LocalHost));
        QByteArray received;
        int ended = 0;
        // Taken at the handshake's start: a refused one never becomes a pending connection.
        connect(&standIn, &QSslServer::startedEncryptionHandshake, this, [&](QSslSocket* peer) {
            connect(peer, &QTcpSocket::readyRead, this, [&, peer] { received += peer->readAll(); });
            connect(peer, &QTcpSocket::disconnected, this, [&] { ++ended; });
        });

        qputenv("TILEPARLOR_LOBBY_HOST", "localhost");
        qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(standIn.serverPort()));
        qputenv("TILEPARLOR_LOBBY_TLS", "1");
        qputenv("TILEPARLOR_LOBBY_CA", file(authorities).toUtf8());
        ProtocolSocket socket(nullptr);
        QSignalSpy closed(&socket, &ProtocolSocket::close);
        socket.connectToServer();
        if (confirmed) {
            QTRY_COMPARE_WITH_TIMEOUT(received, clientHello(), 10000);
            QCOMPARE(closed.count(), 0);
            return;
        }
        QVERIFY(closed.wait(10000));
        QCOMPARE(closed.first().first().value<ProtocolSocket::CloseReason>(),
                 ProtocolSocket::IdentityUnconfirmed);
        // A handshake that reached the stand-in must have ended there too, with nothing in it.
        if (authorities != "ca.key")
            QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 10000);
        QCOMPARE(received, QByteArray());
    }
};

QTEST_MAIN(TlsTest)
#include "tst_tls.moc"
