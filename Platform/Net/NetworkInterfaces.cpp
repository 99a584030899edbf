#include "Platform/Net/NetworkInterfaces.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/resource.h>

namespace vt::net {

std::optional<std::vector<InterfaceAddress>> PosixInterfaceSource::interfaces() const {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<InterfaceAddress> result;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        InterfaceAddress item;
        item.name = entry->ifa_name ? entry->ifa_name : "";
        item.flags = entry->ifa_flags;
        if (entry->ifa_addr) {
            const socklen_t length = entry->ifa_addr->sa_family == AF_INET6  ? sizeof(sockaddr_in6)
                                     : entry->ifa_addr->sa_family == AF_INET ? sizeof(sockaddr_in)
                                                                             : sizeof(sockaddr);
            item.address = SocketAddress::fromSockaddr(entry->ifa_addr, length);
        }
        result.push_back(std::move(item));
    }
    freeifaddrs(list);
    return result;
}

std::size_t raiseOpenFileLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace vt::net
