// A go-between for a PostgreSQL server's Unix socket, for the tests of a
// commit whose connection is lost: it passes every session through, and
// cuts the first session that sends COMMIT just after passing the COMMIT
// on, so that the server commits and the client never hears of it.
//   usage: pg_commit_cut_proxy LISTEN_FOLDER SERVER_FOLDER
// It prints "listening" when ready and "cut" once it has cut a session.
// Clients name LISTEN_FOLDER as the server's host (its socket folder).
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cstdio>

namespace {

const QString kSocketName = QStringLiteral("/.s.PGSQL.5432");
// The simple-query message COMMIT: 'Q', its length (4 + 7), the text with its NUL.
const QByteArray kCommit("Q\0\0\0\x0b" "COMMIT\0", 12);
bool g_cutDone = false;

void relay(QLocalSocket* client, QLocalSocket* server)
{
    auto cutting = std::make_shared<bool>(false);
    auto tail = std::make_shared<QByteArray>();
    QObject::connect(client, &QLocalSocket::readyRead, server, [=] {
        const QByteArray data = client->readAll();
        server->write(data);
        if (g_cutDone) return;
        const QByteArray seen = *tail + data;
        if (seen.contains(kCommit)) {
            g_cutDone = true;
            *cutting = true;
            server->flush();
            // The server commits meanwhile; its answer never reaches the client.
            QTimer::singleShot(500, server, [=] {
                client->abort();
                server->abort();
                std::printf("cut\n");
                std::fflush(stdout);
            });
        }
        *tail = seen.right(kCommit.size() - 1);
    });
    QObject::connect(server, &QLocalSocket::readyRead, client, [=] {
        const QByteArray data = server->readAll();
        if (!*cutting) client->write(data);
    });
    QObject::connect(client, &QLocalSocket::disconnected, server, [=] { if (!*cutting) server->disconnectFromServer(); });
    QObject::connect(server, &QLocalSocket::disconnected, client, [=] { if (!*cutting) client->disconnectFromServer(); });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) return 2;
    const QString listenPath = QString::fromLocal8Bit(argv[1]) + kSocketName;
    const QString serverPath = QString::fromLocal8Bit(argv[2]) + kSocketName;
    QLocalServer::removeServer(listenPath);
    QLocalServer listener;
    listener.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!listener.listen(listenPath)) {
        std::fprintf(stderr, "cannot listen on %s: %s\n", qPrintable(listenPath), qPrintable(listener.errorString()));
        return 1;
    }
    QObject::connect(&listener, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* client = listener.nextPendingConnection()) {
            auto* server = new QLocalSocket(client);
            server->connectToServer(serverPath);
            if (!server->waitForConnected(5000)) {
                client->abort();
                client->deleteLater();
                continue;
            }
            relay(client, server);
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            if (client->bytesAvailable() > 0) emit client->readyRead();
        }
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
