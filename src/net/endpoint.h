// One end of a connection, whatever its family: how connections are named wherever
// they are kept (the journal, the records, the status line).
#ifndef ORU_ENDPOINT_H
#define ORU_ENDPOINT_H

#include <cstdint>
#include <cstring>
#include <string>

const unsigned char FAMILY_IPV4 = 4;
const unsigned char FAMILY_IPV6 = 6;

// Its family (4 or 6), its address in network order (an IPv4 address in the first 4
// bytes), its port, and for an IPv6 address of a link, the number of the interface
// it is reached through (0: none given).
struct Endpoint {
    unsigned char family;
    unsigned char address[16];
    std::uint16_t port;
    std::uint32_t scope;
};

// How a connection ended: the peer closed it, the program did, or the peer reset it.
enum TcpEnding { CLOSED_BY_PEER, CLOSED_HERE, RESET_BY_PEER };

// An IPv4 end, its address in network order as the sockets give it.
inline Endpoint ipv4Endpoint(std::uint32_t networkOrderAddress, std::uint16_t port) {
    Endpoint end = {FAMILY_IPV4, {}, port, 0};
    std::memcpy(end.address, &networkOrderAddress, sizeof networkOrderAddress);
    return end;
}

// An address as text: "192.168.1.20"; an IPv6 one in its short form, in brackets, with
// its interface number if any: "[::1]", "[fe80::1%3]". Written in host.cpp.
std::string addressText(const Endpoint& end);
// An end as text: "192.168.1.20:502", "[::1]:502".
std::string endpointText(const Endpoint& end);

#endif
