#include "Platform/Desktop/SingleInstance.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <memory>

namespace vt {
namespace {

constexpr char magic[] = "VTSI1\n";
constexpr int magicLength = sizeof(magic) - 1;
constexpr int readTimeoutMs = 5000;
constexpr int forwardAttempts = 20;
constexpr int retryDelayMs = 100;

quint32 readBigEndian(const QByteArray& bytes, int offset) {
    auto byte = [&](int i) { return quint32(static_cast<unsigned char>(bytes[offset + i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

void appendBigEndian(QByteArray& bytes, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xff));
}

enum class Parse { incomplete, invalid, complete };

// magic, count, then each message as length + UTF-8 bytes.
Parse parse(const QByteArray& bytes, QStringList& messages) {
    if (bytes.size() > SingleInstance::maximumPayloadBytes)
        return Parse::invalid;
    if (bytes.size() < magicLength)
        return QByteArray(magic, magicLength).startsWith(bytes) ? Parse::incomplete : Parse::invalid;
    if (!bytes.startsWith(QByteArray(magic, magicLength)))
        return Parse::invalid;
    int offset = magicLength;
    if (bytes.size() < offset + 4)
        return Parse::incomplete;
    quint32 count = readBigEndian(bytes, offset);
    offset += 4;
    if (count > quint32(SingleInstance::maximumMessages))
        return Parse::invalid;
    QStringList parsed;
    for (quint32 i = 0; i < count; ++i) {
        if (bytes.size() < offset + 4)
            return Parse::incomplete;
        quint32 length = readBigEndian(bytes, offset);
        offset += 4;
        if (length > quint32(SingleInstance::maximumMessageBytes))
            return Parse::invalid;
        if (bytes.size() < offset + int(length))
            return Parse::incomplete;
        parsed.append(QString::fromUtf8(bytes.constData() + offset, int(length)));
        offset += int(length);
    }
    if (offset != bytes.size())
        return Parse::invalid;
    messages = parsed;
    return Parse::complete;
}

} // namespace

SingleInstance::SingleInstance(std::filesystem::path folder, QString name, FolderAccess access,
                               QObject* parent)
    : QObject(parent), folder(std::move(folder)), name(std::move(name)), access(access) {}

SingleInstance::~SingleInstance() {
    if (server)
        server->close();
    if (lock)
        lock->unlock();
}

std::filesystem::path SingleInstance::socketPath() const {
    return folder / (name.toStdString() + ".socket");
}

SingleInstance::Claim SingleInstance::unavailable(QString why) {
    reason = std::move(why);
    return Claim::unavailable;
}

SingleInstance::Claim SingleInstance::claim() {
    if (primary)
        return Claim::primary;
    reason.clear();
    if (std::string problem = preparePrivateFolder(folder, access); !problem.empty())
        return unavailable(QString::fromStdString(problem));
    lock = std::make_unique<QLockFile>(
        QString::fromStdString((folder / (name.toStdString() + ".lock")).string()));
    // Only a lock whose owner has died is stale; age alone never is.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError)
            return Claim::secondary;
        return unavailable(QStringLiteral("the lock file in %1 cannot be taken")
                               .arg(QString::fromStdString(folder.string())));
    }
    QString path = QString::fromStdString(socketPath().string());
    // A socket left by an owner that died: the lock is ours, so nobody listens on it.
    QLocalServer::removeServer(path);
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        QString why =
            QStringLiteral("the hand-off socket %1 cannot be opened: %2").arg(path, server->errorString());
        delete server;
        server = nullptr;
        lock->unlock();
        return unavailable(std::move(why));
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    primary = true;
    return Claim::primary;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        socket->setReadBufferSize(maximumPayloadBytes + 1);
        // Owned by the two handlers below, so it goes with the socket however that ends.
        auto buffer = std::make_shared<QByteArray>();
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        timer->start(readTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            QStringList messages;
            switch (parse(*buffer, messages)) {
            case Parse::incomplete:
                return;
            case Parse::invalid:
                socket->abort();
                return;
            case Parse::complete:
                socket->disconnectFromServer();
                emit messagesReceived(messages);
                return;
            }
        });
        connect(socket, &QLocalSocket::disconnected, socket, [socket] { socket->deleteLater(); });
    }
}

QByteArray SingleInstance::encode(const QStringList& messages) {
    if (messages.size() > maximumMessages)
        return {};
    QByteArray bytes(magic, magicLength);
    appendBigEndian(bytes, quint32(messages.size()));
    for (const QString& message : messages) {
        QByteArray utf8 = message.toUtf8();
        if (utf8.size() > maximumMessageBytes)
            return {};
        appendBigEndian(bytes, quint32(utf8.size()));
        bytes.append(utf8);
    }
    if (bytes.size() > maximumPayloadBytes)
        return {};
    return bytes;
}

void SingleInstance::forward(const QStringList& messages) {
    pendingPayload = encode(messages);
    if (pendingPayload.isEmpty()) {
        QTimer::singleShot(0, this, [this] { emit forwarded(false); });
        return;
    }
    attemptsLeft = forwardAttempts;
    attemptForward();
}

void SingleInstance::attemptForward() {
    --attemptsLeft;
    auto* socket = new QLocalSocket(this);
    // Once the payload is handed over, any end of the connection means it was delivered: the
    // running instance closes as soon as it has read a whole message.
    auto sent = std::make_shared<bool>(false);
    auto finished = std::make_shared<bool>(false);
    auto finish = [this, socket, sent, finished] {
        if (*finished)
            return;
        *finished = true;
        socket->deleteLater();
        if (!*sent && attemptsLeft > 0) {
            QTimer::singleShot(retryDelayMs, this, &SingleInstance::attemptForward);
            return;
        }
        // The connection may end inside connectToServer() itself: report from the loop, so a
        // caller that has not started its loop yet still hears it.
        bool delivered = *sent;
        QTimer::singleShot(0, this, [this, delivered] { emit forwarded(delivered); });
    };
    connect(socket, &QLocalSocket::connected, socket, [socket, sent, this] {
        socket->write(pendingPayload);
        socket->flush();
        *sent = true;
        socket->disconnectFromServer();
    });
    connect(socket, &QLocalSocket::disconnected, this, finish);
    connect(socket, &QLocalSocket::errorOccurred, this,
            [finish](QLocalSocket::LocalSocketError) { finish(); });
    socket->connectToServer(QString::fromStdString(socketPath().string()));
}

} // namespace vt
