// DNS-SD browsing over the Avahi client library, driven by the Qt main loop through a small poll
// adapter (socket notifiers for watches, single-shot timers for time-outs).

#include "Platform/Net/DnsSdBrowser.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>

// The poll adapter's watch and time-out objects (opaque to Avahi).
struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent wanted{};
    AvahiWatchEvent happened{};
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    QPointer<QSocketNotifier> reader;
    QPointer<QSocketNotifier> writer;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QPointer<QTimer> timer;
};

namespace vt::net {

namespace {

void dropNotifier(QPointer<QSocketNotifier>& notifier) {
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    notifier = nullptr;
}

void fire(AvahiWatch* watch, AvahiWatchEvent event) {
    watch->happened = event;
    watch->callback(watch, watch->fd, event, watch->userdata);
}

void applyWatchEvents(AvahiWatch* watch, AvahiWatchEvent events) {
    watch->wanted = events;
    const bool wantsRead = (events & AVAHI_WATCH_IN) != 0;
    const bool wantsWrite = (events & AVAHI_WATCH_OUT) != 0;
    if (wantsRead && !watch->reader) {
        watch->reader = new QSocketNotifier(watch->fd, QSocketNotifier::Read);
        QObject::connect(watch->reader, &QSocketNotifier::activated, watch->reader,
                         [watch] { fire(watch, AVAHI_WATCH_IN); });
    } else if (!wantsRead) {
        dropNotifier(watch->reader);
    }
    if (wantsWrite && !watch->writer) {
        watch->writer = new QSocketNotifier(watch->fd, QSocketNotifier::Write);
        QObject::connect(watch->writer, &QSocketNotifier::activated, watch->writer,
                         [watch] { fire(watch, AVAHI_WATCH_OUT); });
    } else if (!wantsWrite) {
        dropNotifier(watch->writer);
    }
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    auto* watch = new AvahiWatch;
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    applyWatchEvents(watch, events);
    return watch;
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) {
    applyWatchEvents(watch, events);
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch) {
    return watch->happened;
}

void watchFree(AvahiWatch* watch) {
    dropNotifier(watch->reader);
    dropNotifier(watch->writer);
    // The notifiers' lambdas hold the pointer; they are disabled now and die on a later turn,
    // so the watch itself goes then as well.
    QTimer::singleShot(0, QCoreApplication::instance(), [watch] { delete watch; });
}

void armTimeout(AvahiTimeout* timeout, const struct timeval* when) {
    if (!when) {
        timeout->timer->stop();
        return;
    }
    const AvahiUsec age = avahi_age(when); // negative while in the future
    const long long millis = age >= 0 ? 0 : (-age + 999) / 1000;
    timeout->timer->start(static_cast<int>(std::min<long long>(millis, 2'000'000'000)));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const struct timeval* when, AvahiTimeoutCallback callback,
                         void* userdata) {
    auto* timeout = new AvahiTimeout;
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer = new QTimer();
    timeout->timer->setSingleShot(true);
    QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer,
                     [timeout] { timeout->callback(timeout, timeout->userdata); });
    armTimeout(timeout, when);
    return timeout;
}

void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* when) {
    armTimeout(timeout, when);
}

void timeoutFree(AvahiTimeout* timeout) {
    if (timeout->timer) {
        timeout->timer->stop();
        timeout->timer->deleteLater();
    }
    QTimer::singleShot(0, QCoreApplication::instance(), [timeout] { delete timeout; });
}

const AvahiPoll* qtPoll() {
    static const AvahiPoll poll{nullptr,   watchNew,   watchUpdate,   watchGetEvents,
                                watchFree, timeoutNew, timeoutUpdate, timeoutFree};
    return &poll;
}

std::string text(const char* value) {
    return value ? std::string(value) : std::string();
}

// Avahi names its domains without the final dot; DNS-SD endpoints carry it ("local.").
std::string fullyQualified(std::string domain) {
    if (!domain.empty() && domain.back() != '.')
        domain.push_back('.');
    return domain;
}

std::optional<std::string> interfaceNameOf(AvahiIfIndex index) {
    char name[IF_NAMESIZE] = {};
    if (index < 0 || !if_indextoname(static_cast<unsigned>(index), name))
        return std::nullopt;
    return std::string(name);
}

std::map<std::string, std::string> txtPairs(AvahiStringList* list) {
    std::map<std::string, std::string> pairs;
    for (AvahiStringList* item = list; item; item = avahi_string_list_get_next(item)) {
        char* key = nullptr;
        char* value = nullptr;
        if (avahi_string_list_get_pair(item, &key, &value, nullptr) == 0) {
            pairs.emplace(key, value ? value : "");
            avahi_free(key);
            avahi_free(value);
        }
    }
    return pairs;
}

std::optional<SocketAddress> socketAddressOf(const AvahiAddress* address, std::uint16_t port,
                                             AvahiIfIndex index) {
    if (!address)
        return std::nullopt;
    if (address->proto == AVAHI_PROTO_INET) {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&v4.sin_addr, &address->data.ipv4.address, sizeof v4.sin_addr);
        return SocketAddress::fromSockaddr(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
    }
    if (address->proto == AVAHI_PROTO_INET6) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&v6.sin6_addr, address->data.ipv6.address, sizeof v6.sin6_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&v6.sin6_addr) && index >= 0)
            v6.sin6_scope_id = static_cast<std::uint32_t>(index);
        return SocketAddress::fromSockaddr(reinterpret_cast<sockaddr*>(&v6), sizeof v6);
    }
    return std::nullopt;
}

constexpr int reconnectDelayMs = 2000;
constexpr const char* noDaemonText = "The DNS-SD service (avahi-daemon) is not running.";

class AvahiDnsSdBrowser final : public DnsSdBrowser {
public:
    AvahiDnsSdBrowser(std::string serviceType, std::shared_ptr<ServiceAddressBook> addressBook)
        : serviceType(std::move(serviceType)), addressBook(std::move(addressBook)) {}

    ~AvahiDnsSdBrowser() override { teardown(); }

    void setStateHandler(StateHandler handler) override { stateHandler = std::move(handler); }
    void setResultsHandler(ResultsHandler handler) override { resultsHandler = std::move(handler); }

    void start() override {
        if (started || cancelled)
            return;
        started = true;
        connectClient();
    }

    void cancel() override {
        cancelled = true;
        teardown();
    }

private:
    struct Key {
        AvahiIfIndex interfaceIndex;
        AvahiProtocol protocol;
        std::string name, type, domain;
        auto operator<=>(const Key&) const = default;
    };
    struct Entry {
        AvahiServiceResolver* resolver = nullptr;
        std::optional<DnsSdService> service;
    };

    void connectClient() {
        int error = 0;
        client =
            avahi_client_new(qtPoll(), AVAHI_CLIENT_NO_FAIL, &AvahiDnsSdBrowser::onClientState, this, &error);
        if (client)
            return;
        // Without a system bus or daemon the browser waits and tries again, as it does when the
        // daemon goes away later.
        if (error != AVAHI_ERR_DBUS_ERROR && error != AVAHI_ERR_NO_DAEMON &&
            error != AVAHI_ERR_DISCONNECTED) {
            reportState({DnsSdBrowserState::failed, avahi_strerror(error)});
            return;
        }
        reportState({DnsSdBrowserState::waiting, noDaemonText});
        scheduleReconnect();
    }

    void scheduleReconnect() {
        QTimer::singleShot(reconnectDelayMs, &context, [this] {
            if (cancelled)
                return;
            freeClient();
            connectClient();
        });
    }

    static void onClientState(AvahiClient* changed, AvahiClientState state, void* userdata) {
        auto* self = static_cast<AvahiDnsSdBrowser*>(userdata);
        if (self->cancelled)
            return;
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            self->startServiceBrowser(changed);
            break;
        case AVAHI_CLIENT_CONNECTING:
            self->dropServices();
            self->reportState({DnsSdBrowserState::waiting, noDaemonText});
            break;
        case AVAHI_CLIENT_FAILURE:
            self->onClientFailure(avahi_client_errno(changed));
            break;
        }
    }

    void onClientFailure(int error) {
        dropServices();
        reportState({DnsSdBrowserState::waiting, error == AVAHI_ERR_DISCONNECTED
                                                     ? std::string(noDaemonText)
                                                     : std::string(avahi_strerror(error))});
        // The client cannot be freed inside its own callback: rebuild it on a later turn.
        scheduleReconnect();
    }

    void startServiceBrowser(AvahiClient* running) {
        if (serviceBrowser)
            return;
        serviceBrowser =
            avahi_service_browser_new(running, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, serviceType.c_str(),
                                      nullptr, AvahiLookupFlags(0), &AvahiDnsSdBrowser::onBrowse, this);
        if (!serviceBrowser) {
            reportState({DnsSdBrowserState::failed, avahi_strerror(avahi_client_errno(running))});
            return;
        }
        reportState({DnsSdBrowserState::ready, {}});
    }

    static void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
                         AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                         AvahiLookupResultFlags, void* userdata) {
        auto* self = static_cast<AvahiDnsSdBrowser*>(userdata);
        if (self->cancelled)
            return;
        Key key{interfaceIndex, protocol, text(name), text(type), text(domain)};
        switch (event) {
        case AVAHI_BROWSER_NEW:
            self->addService(browser, key);
            break;
        case AVAHI_BROWSER_REMOVE:
            self->removeService(key);
            break;
        case AVAHI_BROWSER_FAILURE:
            self->reportState({DnsSdBrowserState::failed, avahi_strerror(avahi_client_errno(
                                                              avahi_service_browser_get_client(browser)))});
            break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    void addService(AvahiServiceBrowser* browser, const Key& key) {
        if (services.count(key))
            return;
        Entry entry;
        entry.resolver = avahi_service_resolver_new(avahi_service_browser_get_client(browser),
                                                    key.interfaceIndex, key.protocol, key.name.c_str(),
                                                    key.type.c_str(), key.domain.c_str(), AVAHI_PROTO_UNSPEC,
                                                    AvahiLookupFlags(0), &AvahiDnsSdBrowser::onResolve, this);
        services.emplace(key, std::move(entry));
    }

    void removeService(const Key& key) {
        auto found = services.find(key);
        if (found == services.end())
            return;
        const bool wasReported = found->second.service.has_value();
        if (found->second.resolver)
            avahi_service_resolver_free(found->second.resolver);
        if (addressBook && wasReported)
            addressBook->remove(bookKey(*found->second.service));
        services.erase(found);
        if (wasReported)
            reportResults();
    }

    static void onResolve(AvahiServiceResolver*, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
                          AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                          const char* hostName, const AvahiAddress* address, uint16_t port,
                          AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
        auto* self = static_cast<AvahiDnsSdBrowser*>(userdata);
        if (self->cancelled || event != AVAHI_RESOLVER_FOUND)
            return; // a failed resolve leaves the service unreported
        auto found = self->services.find(Key{interfaceIndex, protocol, text(name), text(type), text(domain)});
        if (found == self->services.end())
            return;
        DnsSdService service;
        service.name = text(name);
        service.type = text(type);
        service.domain = fullyQualified(text(domain));
        service.interfaceName = interfaceNameOf(interfaceIndex);
        service.txtRecord = txtPairs(txt);
        service.hostName = text(hostName);
        service.address = socketAddressOf(address, port, interfaceIndex);
        if (self->addressBook && service.address)
            self->addressBook->set(bookKey(service), *service.address);
        const bool changed = !found->second.service || !(*found->second.service == service) ||
                             found->second.service->address.has_value() != service.address.has_value();
        found->second.service = std::move(service);
        if (changed)
            self->reportResults();
    }

    static ServiceAddressBook::Key bookKey(const DnsSdService& service) {
        return {service.name, service.type, service.domain, service.interfaceName.value_or("")};
    }

    void dropServices() {
        const bool hadReported = std::any_of(services.begin(), services.end(), [](const auto& item) {
            return item.second.service.has_value();
        });
        for (auto& [key, entry] : services) {
            if (entry.resolver)
                avahi_service_resolver_free(entry.resolver);
            if (addressBook && entry.service)
                addressBook->remove(bookKey(*entry.service));
        }
        services.clear();
        if (serviceBrowser) {
            avahi_service_browser_free(serviceBrowser);
            serviceBrowser = nullptr;
        }
        if (hadReported)
            reportResults();
    }

    void freeClient() {
        if (client) {
            avahi_client_free(client);
            client = nullptr;
        }
    }

    void teardown() {
        for (auto& [key, entry] : services)
            if (entry.resolver)
                avahi_service_resolver_free(entry.resolver);
        services.clear();
        if (serviceBrowser) {
            avahi_service_browser_free(serviceBrowser);
            serviceBrowser = nullptr;
        }
        freeClient();
        *alive = false;
    }

    // Reports go out one per loop turn in order; a cancelled or destroyed browser drops them.
    void post(std::function<void()> report) {
        auto stillAlive = alive;
        QMetaObject::invokeMethod(
            &context,
            [stillAlive, report = std::move(report)] {
                if (*stillAlive)
                    report();
            },
            Qt::QueuedConnection);
    }

    // Only changes are reported: retrying to reach a missing daemon says "waiting" once.
    void reportState(DnsSdBrowserStateUpdate update) {
        if (lastState && lastState->state == update.state &&
            lastState->errorDescription == update.errorDescription)
            return;
        lastState = update;
        post([this, update] {
            if (stateHandler)
                stateHandler(update);
        });
    }

    void reportResults() {
        std::vector<DnsSdService> current;
        for (const auto& [key, entry] : services)
            if (entry.service)
                current.push_back(*entry.service);
        post([this, current] {
            if (resultsHandler)
                resultsHandler(current);
        });
    }

    std::string serviceType;
    std::shared_ptr<ServiceAddressBook> addressBook;
    StateHandler stateHandler;
    ResultsHandler resultsHandler;
    AvahiClient* client = nullptr;
    AvahiServiceBrowser* serviceBrowser = nullptr;
    std::map<Key, Entry> services;
    std::optional<DnsSdBrowserStateUpdate> lastState;
    bool started = false;
    bool cancelled = false;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    QObject context;
};

} // namespace

AvahiBrowserFactory::AvahiBrowserFactory(std::shared_ptr<ServiceAddressBook> addressBook)
    : addressBook(std::move(addressBook)) {}

std::unique_ptr<DnsSdBrowser> AvahiBrowserFactory::makeBrowser(const std::string& serviceType) {
    return std::make_unique<AvahiDnsSdBrowser>(serviceType, addressBook);
}

} // namespace vt::net
