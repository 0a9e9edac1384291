// The connection-state library: one exported function that tells whether
// this machine can reach the Internet and how, from the network interfaces,
// the routing tables and the proxy environment. Loaded by name at run time
// (TWebDetect), so that the program starts without it.

#include "shell/connstate/conn_flags.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string read_text(const char* path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<wavrell::connstate::Interface> current_interfaces() {
    std::vector<wavrell::connstate::Interface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name) continue;
        wavrell::connstate::Interface* entry = nullptr;
        for (auto& i : result)
            if (i.name == a->ifa_name) entry = &i;
        if (!entry) {
            result.push_back({a->ifa_name, a->ifa_flags, false});
            entry = &result.back();
        }
        entry->flags |= a->ifa_flags;
        if (a->ifa_addr && (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6))
            entry->has_address = true;
    }
    freeifaddrs(list);
    return result;
}

bool proxy_configured() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

}  // namespace

/// Fills *flags with the connection-state word (modem 0x01, LAN 0x02,
/// proxy 0x04, configured 0x40) and returns non-zero when connected (a LAN
/// or point-to-point interface carries a default route). `reserved` must be
/// 0. Any thread.
extern "C" __attribute__((visibility("default"))) int InternetGetConnectedState(uint32_t* flags,
                                                                               uint32_t reserved) {
    (void)reserved;
    const auto routes = wavrell::connstate::default_route_interfaces(read_text("/proc/net/route"),
                                                                     read_text("/proc/net/ipv6_route"));
    bool connected = false;
    uint32_t f = wavrell::connstate::connection_flags(current_interfaces(), routes, proxy_configured(),
                                                      &connected);
    if (flags) *flags = f;
    return connected ? 1 : 0;
}
