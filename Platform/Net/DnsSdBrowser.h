#pragma once
// Browsing for a DNS-SD service type. Each found service is resolved (address, port, TXT
// record) before it is reported; every report carries the whole current set of services.
// Reports reach the handlers on the main thread, one per loop turn, in the order they happened;
// after cancel() nothing more is reported.

#include "Platform/Net/SocketAddress.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vt::net {

struct DnsSdService {
    std::string name;
    std::string type;
    std::string domain;
    std::optional<std::string> interfaceName;
    std::map<std::string, std::string> txtRecord;
    std::string hostName;
    std::optional<SocketAddress> address;
    bool operator==(const DnsSdService& other) const {
        return name == other.name && type == other.type && domain == other.domain &&
               interfaceName == other.interfaceName && txtRecord == other.txtRecord &&
               hostName == other.hostName;
    }
};

enum class DnsSdBrowserState { setup, ready, waiting, failed, cancelled };

struct DnsSdBrowserStateUpdate {
    DnsSdBrowserState state = DnsSdBrowserState::setup;
    std::string errorDescription;    // for waiting and failed
    std::string description() const; // "setup", "ready", ... (with the error when there is one)
};

class DnsSdBrowser {
public:
    using StateHandler = std::function<void(const DnsSdBrowserStateUpdate&)>;
    using ResultsHandler = std::function<void(const std::vector<DnsSdService>&)>;

    virtual ~DnsSdBrowser() = default;
    virtual void setStateHandler(StateHandler handler) = 0;
    virtual void setResultsHandler(ResultsHandler handler) = 0;
    virtual void start() = 0;
    virtual void cancel() = 0;
};

class DnsSdBrowserFactory {
public:
    virtual ~DnsSdBrowserFactory() = default;
    virtual std::unique_ptr<DnsSdBrowser> makeBrowser(const std::string& serviceType) = 0;
};

// Addresses of resolved services, written by browsers and read by clients that connect to a
// service by name. Keyed by name, type, domain and interface.
class ServiceAddressBook {
public:
    struct Key {
        std::string name, type, domain, interfaceName;
        auto operator<=>(const Key&) const = default;
    };
    void set(const Key& key, const SocketAddress& address);
    void remove(const Key& key);
    // An exact match, else any entry with the same name, type and domain.
    std::optional<SocketAddress> lookup(const Key& key) const;

private:
    mutable std::mutex mutex;
    std::map<Key, SocketAddress> entries;
};

// The Avahi client library on the Qt main loop (through a poll adapter of our own). Without a
// running daemon the browser reports waiting and keeps trying to connect.
class AvahiBrowserFactory final : public DnsSdBrowserFactory {
public:
    explicit AvahiBrowserFactory(std::shared_ptr<ServiceAddressBook> addressBook = nullptr);
    std::unique_ptr<DnsSdBrowser> makeBrowser(const std::string& serviceType) override;

private:
    std::shared_ptr<ServiceAddressBook> addressBook;
};

} // namespace vt::net
