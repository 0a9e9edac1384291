#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavrell::connstate {

/// Flag bits of the connection-state word (the values callers of
/// InternetGetConnectedState know).
constexpr uint32_t CONNECTION_MODEM = 0x01;
constexpr uint32_t CONNECTION_LAN = 0x02;
constexpr uint32_t CONNECTION_PROXY = 0x04;
constexpr uint32_t CONNECTION_MODEM_BUSY = 0x08;
constexpr uint32_t RAS_INSTALLED = 0x10;
constexpr uint32_t CONNECTION_OFFLINE = 0x20;
constexpr uint32_t CONNECTION_CONFIGURED = 0x40;

/// One network interface as getifaddrs reports it, merged over its
/// addresses: `flags` are the IFF_* bits, `has_address` is true when an IPv4
/// or IPv6 address is assigned.
struct Interface {
    std::string name;
    unsigned flags = 0;
    bool has_address = false;
};

/// Names of the interfaces that carry a usable default route, read from the
/// text of /proc/net/route (IPv4) and /proc/net/ipv6_route (IPv6). Either
/// text may be empty.
std::vector<std::string> default_route_interfaces(const std::string& route4,
                                                  const std::string& route6);

/// The connection-state word and the connected answer:
/// - LAN: an interface that is up and running, neither loopback nor
///   point-to-point, carries a default route;
/// - modem: a point-to-point interface that is up and running carries a
///   default route;
/// - proxy: `proxy_configured`;
/// - configured: any non-loopback interface has an address.
/// Connected means LAN or modem.
uint32_t connection_flags(const std::vector<Interface>& interfaces,
                          const std::vector<std::string>& default_routes, bool proxy_configured,
                          bool* connected);

}  // namespace wavrell::connstate
