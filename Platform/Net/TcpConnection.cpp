#include "Platform/Net/TcpConnection.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace vt::net {

namespace {
// Reads per readiness event before the loop gets a turn again: few enough that a receiver that
// decodes what arrives (a phone's list of tens of thousands of samples) keeps each turn short.
constexpr int readsPerEvent = 4;
} // namespace

TcpConnection::TcpConnection(Handlers handlers) : handlers(std::move(handlers)) {}

TcpConnection::~TcpConnection() {
    *alive = false;
    closeSocket();
}

void TcpConnection::start(const SocketAddress& address) {
    fd = ::socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(errno);
        return;
    }
    readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    readNotifier->setEnabled(false);
    writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(readNotifier.get(), &QSocketNotifier::activated, this, [this] { onReadable(); });
    QObject::connect(writeNotifier.get(), &QSocketNotifier::activated, this, [this] { onWritable(); });
    if (::connect(fd, address.data(), address.length()) == 0) {
        writeNotifier->setEnabled(false);
        finishConnect();
        return;
    }
    if (errno != EINPROGRESS) {
        const int code = errno;
        closeSocket();
        if (handlers.waiting)
            handlers.waiting(NetworkError(code));
        return;
    }
    writeNotifier->setEnabled(true);
}

void TcpConnection::finishConnect() {
    isConnected = true;
    readNotifier->setEnabled(true);
    auto stillAlive = alive;
    if (handlers.connected)
        handlers.connected();
    if (*stillAlive && fd >= 0 && pendingOffset < pending.size())
        writeNotifier->setEnabled(true);
}

void TcpConnection::onWritable() {
    if (fd < 0)
        return;
    if (!isConnected) {
        int code = 0;
        socklen_t length = sizeof code;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
            code = errno;
        if (code != 0) {
            closeSocket();
            if (handlers.waiting)
                handlers.waiting(NetworkError(code));
            return;
        }
        writeNotifier->setEnabled(false);
        finishConnect();
        return;
    }
    while (pendingOffset < pending.size()) {
        const ssize_t written =
            ::send(fd, pending.data() + pendingOffset, pending.size() - pendingOffset, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                writeNotifier->setEnabled(true);
                return;
            }
            fail(errno);
            return;
        }
        pendingOffset += static_cast<std::size_t>(written);
    }
    pending.clear();
    pendingOffset = 0;
    writeNotifier->setEnabled(false);
}

void TcpConnection::send(std::string bytes) {
    pending.append(bytes);
    if (isConnected && fd >= 0)
        onWritable();
}

void TcpConnection::onReadable() {
    static thread_local std::string buffer(readSize, '\0');
    auto stillAlive = alive;
    for (int round = 0; round < readsPerEvent && fd >= 0; ++round) {
        const ssize_t count = ::recv(fd, buffer.data(), readSize, 0);
        if (count > 0) {
            if (handlers.received)
                handlers.received(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
            if (!*stillAlive)
                return;
            continue;
        }
        if (count == 0) {
            closeSocket();
            if (handlers.peerClosed)
                handlers.peerClosed();
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        fail(errno);
        return;
    }
}

void TcpConnection::cancel() {
    closeSocket();
}

void TcpConnection::fail(int code) {
    closeSocket();
    if (handlers.failed)
        handlers.failed(NetworkError(code));
}

void TcpConnection::closeSocket() {
    // The notifiers may be the sender of the signal being handled: disable, delete later.
    for (auto* notifier : {&readNotifier, &writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    isConnected = false;
}

} // namespace vt::net
