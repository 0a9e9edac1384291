#include "shell/connstate/conn_flags.h"

#include <net/if.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace wavrell::connstate {

namespace {
constexpr unsigned long RTF_UP_FLAG = 0x0001;   // route usable
constexpr unsigned long RTF_REJECT_FLAG = 0x0200;  // unreachable route

bool all_zero(const std::string& hex) {
    return !hex.empty() && std::all_of(hex.begin(), hex.end(), [](char c) { return c == '0'; });
}

unsigned long hex_value(const std::string& hex, bool* ok) {
    char* end = nullptr;
    unsigned long v = std::strtoul(hex.c_str(), &end, 16);
    *ok = !hex.empty() && end && *end == '\0';
    return v;
}

void add_unique(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}
}  // namespace

std::vector<std::string> default_route_interfaces(const std::string& route4,
                                                  const std::string& route6) {
    std::vector<std::string> names;

    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first
    // line is a heading.
    std::istringstream in4(route4);
    std::string line;
    bool heading = true;
    while (std::getline(in4, line)) {
        if (heading) {
            heading = false;
            continue;
        }
        std::istringstream fields(line);
        std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
        bool ok = false;
        unsigned long f = hex_value(flags, &ok);
        if (!ok || !(f & RTF_UP_FLAG) || (f & RTF_REJECT_FLAG)) continue;
        if (all_zero(dest) && all_zero(mask)) add_unique(names, iface);
    }

    // dest(32 hex) plen src splen nexthop metric refcnt use flags device; no
    // heading.
    std::istringstream in6(route6);
    while (std::getline(in6, line)) {
        std::istringstream fields(line);
        std::string dest, plen, src, splen, nexthop, metric, refcnt, use, flags, device;
        if (!(fields >> dest >> plen >> src >> splen >> nexthop >> metric >> refcnt >> use >> flags >>
              device))
            continue;
        bool ok = false;
        unsigned long f = hex_value(flags, &ok);
        if (!ok || !(f & RTF_UP_FLAG) || (f & RTF_REJECT_FLAG)) continue;
        if (all_zero(dest) && all_zero(plen)) add_unique(names, device);
    }
    return names;
}

uint32_t connection_flags(const std::vector<Interface>& interfaces,
                          const std::vector<std::string>& default_routes, bool proxy_configured,
                          bool* connected) {
    uint32_t flags = 0;
    for (const Interface& i : interfaces) {
        if (i.flags & IFF_LOOPBACK) continue;
        if (i.has_address) flags |= CONNECTION_CONFIGURED;
        const bool running = (i.flags & IFF_UP) && (i.flags & IFF_RUNNING);
        const bool routed =
            std::find(default_routes.begin(), default_routes.end(), i.name) != default_routes.end();
        if (!running || !routed) continue;
        flags |= (i.flags & IFF_POINTOPOINT) ? CONNECTION_MODEM : CONNECTION_LAN;
    }
    if (proxy_configured) flags |= CONNECTION_PROXY;
    if (connected) *connected = (flags & (CONNECTION_LAN | CONNECTION_MODEM)) != 0;
    return flags;
}

}  // namespace wavrell::connstate
