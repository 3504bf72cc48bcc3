// What the Winsock files share: an end read from the system's socket address.
#ifndef ORU_SOCKETS_WIN32_H
#define ORU_SOCKETS_WIN32_H

#include <winsock2.h>

#include "platform.h"

// False for a family other than IPv4 and IPv6.
bool endpointOfSocketAddress(const sockaddr* address, Endpoint* end);

#endif
