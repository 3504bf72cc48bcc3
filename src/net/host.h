// The host a person types in a dialog, read as an IPv4 address, an IPv6 address or a
// name; the text of an address is written beside it (endpoint.h).
#ifndef ORU_HOST_H
#define ORU_HOST_H

#include <string>

#include "net/endpoint.h"

enum HostKind { HOST_WRONG, HOST_IPV4, HOST_IPV6, HOST_NAME };

// Reads a host, blanks around it ignored: a dotted IPv4 address ("192.168.1.20"), an
// IPv6 address bare or in brackets, with its interface number after % ("fe80::1%3",
// "[::1]"), or a name of dotted labels ("plc-2.example"). An address goes to `address`
// (port 0), a name to `name` as typed; the kind says which one to read. A port inside
// the text ("host:23"), or digits and dots that make no IPv4 address, are wrong.
HostKind readHost(const std::string& text, Endpoint* address, std::string* name);

#endif
