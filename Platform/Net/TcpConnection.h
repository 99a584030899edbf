#pragma once
// One non-blocking TCP client socket driven by the Qt main loop (QSocketNotifier). Events are
// reported through the handler callbacks on the main thread; cancel() closes the socket and
// stops every further event. The object must be used from the main thread only.

#include "Platform/Net/SocketAddress.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string_view>

class QSocketNotifier;

namespace vt::net {

class TcpConnection final : public QObject {
public:
    struct Handlers {
        std::function<void()> connected;
        // Bytes that arrived; each call carries at most the read size (65536 bytes).
        std::function<void(std::string_view bytes)> received;
        // The peer closed its side (end of stream).
        std::function<void()> peerClosed;
        // The connection could not be made (refused, unreachable): it is left waiting.
        std::function<void(const NetworkError& error)> waiting;
        // Sending or receiving failed after the connection was made (reset, broken pipe).
        std::function<void(const NetworkError& error)> failed;
    };

    static constexpr std::size_t readSize = 65536;

    explicit TcpConnection(Handlers handlers);
    ~TcpConnection() override;

    void start(const SocketAddress& address);
    // Queues bytes for sending; they go out as the socket accepts them.
    void send(std::string bytes);
    // Closes the socket; no handler runs afterwards.
    void cancel();
    bool isOpen() const { return fd >= 0; }

private:
    void onWritable();
    void onReadable();
    void finishConnect();
    // Closes the socket, then reports the error code as a failure.
    void fail(int code);
    void closeSocket();

    Handlers handlers;
    int fd = -1;
    bool isConnected = false;
    std::string pending;
    std::size_t pendingOffset = 0;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vt::net
