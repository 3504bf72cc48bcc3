// Validation of the listening address and port.
#ifndef ORU_ADDRESS_H
#define ORU_ADDRESS_H

#include <cstdint>

const std::uint32_t NO_ADDRESS = 0xFFFFFFFFu;
const char ADDRESS_ERROR_TEXT[] = "Erreur de format de l'adresse IP";
const char PORT_ERROR_TEXT[] = "Erreur sur numero de port";
const char VALIDATION_CAPTION[] = "Erreur";

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
