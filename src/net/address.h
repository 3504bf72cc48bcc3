// Validation of the listening address and port.
#ifndef ORU_ADDRESS_H
#define ORU_ADDRESS_H

#include <cstdint>

const std::uint32_t NO_ADDRESS = 0xFFFFFFFFu;
const char ADDRESS_ERROR_TEXT[] = "Erreur de format de l'adresse IP";
const char PORT_ERROR_TEXT[] = "Erreur sur numero de port";
const char VALIDATION_CAPTION[] = "Erreur";

// One end of a connection: its family (4 or 6), its address in network order (an
// IPv4 address in the first 4 bytes) and its port.
const unsigned char FAMILY_IPV4 = 4;
const unsigned char FAMILY_IPV6 = 6;
struct Endpoint {
    unsigned char family;
    unsigned char address[16];
    std::uint16_t port;
};
// An IPv4 end, its address in network order as the sockets give it.
Endpoint ipv4Endpoint(std::uint32_t networkOrderAddress, std::uint16_t port);

// Result of the last conversion, network byte order; all bits set until then.
extern std::uint32_t listenAddress;

// Strict check of dotted IPv4 text followed by the platform's conversion. 0 when
// accepted, -1 when refused; listenAddress takes the conversion's result whenever
// the pre-check passed.
int checkListenAddress(const char* text);
// Checks serverAddress, then serverPort, telling the user about the first fault:
// 0 valid, 1 address refused, 2 port refused.
int validateServerSettings();

#endif
