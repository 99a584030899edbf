#include "Platform/Net/DnsSdBrowser.h"

namespace vt::net {

std::string DnsSdBrowserStateUpdate::description() const {
    switch (state) {
    case DnsSdBrowserState::setup:
        return "setup";
    case DnsSdBrowserState::ready:
        return "ready";
    case DnsSdBrowserState::waiting:
        return "waiting(" + errorDescription + ")";
    case DnsSdBrowserState::failed:
        return "failed(" + errorDescription + ")";
    case DnsSdBrowserState::cancelled:
        return "cancelled";
    }
    return "unknown";
}

void ServiceAddressBook::set(const Key& key, const SocketAddress& address) {
    std::lock_guard lock(mutex);
    entries.insert_or_assign(key, address);
}

void ServiceAddressBook::remove(const Key& key) {
    std::lock_guard lock(mutex);
    entries.erase(key);
}

std::optional<SocketAddress> ServiceAddressBook::lookup(const Key& key) const {
    std::lock_guard lock(mutex);
    if (auto found = entries.find(key); found != entries.end())
        return found->second;
    for (const auto& [entryKey, address] : entries)
        if (entryKey.name == key.name && entryKey.type == key.type && entryKey.domain == key.domain)
            return address;
    return std::nullopt;
}

} // namespace vt::net
