#pragma once
// One running program per user: the first launch holds a lock file and listens on a local
// socket (user-only access) in the runtime folder; a later launch finds the lock taken and
// forwards its messages (URLs) to the running one, which emits them. Messages are bounded in
// count and size; anything else that arrives on the socket is dropped.

#include "Platform/Core/Paths.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QTimer;

namespace vt {

class SingleInstance final : public QObject {
    Q_OBJECT

public:
    static constexpr int maximumMessages = 32;
    static constexpr int maximumMessageBytes = 8 * 1024;
    static constexpr int maximumPayloadBytes = 64 * 1024;

    // folder: where the lock file and the socket live (the user's runtime folder); access: what
    // it must satisfy before use (see preparePrivateFolder).
    SingleInstance(std::filesystem::path folder, QString name,
                   FolderAccess access = FolderAccess::noOtherWriters, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        primary,     // this process owns the lock and listens
        secondary,   // another instance runs: forward to it
        unavailable, // the folder or socket cannot be used; this process runs on its own
    };

    // Takes the lock and starts listening when no other instance runs. The folder is created
    // with user-only access when missing; an existing one must pass the access check, and its
    // permissions are never changed.
    Claim claim();
    // Why the last claim() was unavailable, for a person to read; empty otherwise.
    const QString& unavailableReason() const { return reason; }
    bool isPrimary() const { return primary; }
    std::filesystem::path socketPath() const;

    // Sends messages to the running instance without blocking; emits forwarded() when done.
    // Retries for a short while when the running instance is not listening yet.
    void forward(const QStringList& messages);

    // The wire form of messages; empty when they exceed the limits.
    static QByteArray encode(const QStringList& messages);

signals:
    void messagesReceived(const QStringList& messages);
    void forwarded(bool delivered);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);
    void attemptForward();
    Claim unavailable(QString why);

    std::filesystem::path folder;
    QString name;
    FolderAccess access;
    QString reason;
    std::unique_ptr<QLockFile> lock;
    QLocalServer* server = nullptr;
    bool primary = false;
    QByteArray pendingPayload;
    int attemptsLeft = 0;
};

} // namespace vt
