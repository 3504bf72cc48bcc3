// Fuzzes the reading of a typed host with arbitrary text.
//
// An address read is written back with addressText, and that text must read as the
// same address (family, bytes, scope) and be written the same again. Bare addresses
// without an interface number are also held against this machine's own conversion
// (inet_pton, which the program itself never uses): whatever it takes, the reading
// takes with the same bytes, and without dotted parts they refuse the same texts. A
// name read is the text without its blanks around, made of labels.
#include <arpa/inet.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/endpoint.h"
#include "net/host.h"

namespace {

void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "host: %s for \"%s\"\n", what, text.c_str());
    std::abort();
}

bool sameAddress(const Endpoint& a, const Endpoint& b) {
    return a.family == b.family && std::memcmp(a.address, b.address, sizeof a.address) == 0 &&
           a.scope == b.scope;
}

std::string withoutBlanksAround(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void checkRoundTrip(HostKind kind, const Endpoint& address, const std::string& text) {
    if (address.family != (kind == HOST_IPV4 ? FAMILY_IPV4 : FAMILY_IPV6)) fail("the wrong family", text);
    if (address.port != 0) fail("an address with a port", text);
    const std::string written = addressText(address);
    Endpoint again = {0, {}, 0, 0};
    std::string name;
    if (readHost(written, &again, &name) != kind) fail("its text reads as another kind", text);
    if (!sameAddress(address, again)) fail("its text reads as another address", text);
    if (addressText(again) != written) fail("its text is written otherwise again", text);
}

// The machine's conversion, for a bare address without an interface number.
void checkAgainstConversion(HostKind kind, const Endpoint& address, const std::string& text) {
    const std::string host = withoutBlanksAround(text);
    if (host.find_first_of("[]%") != std::string::npos) return;
    unsigned char bytes[16] = {};
    const bool converts4 = inet_pton(AF_INET, host.c_str(), bytes) == 1;
    if (converts4 && (kind != HOST_IPV4 || std::memcmp(bytes, address.address, 4) != 0))
        fail("an IPv4 address the conversion takes is read otherwise", text);
    const bool converts6 = inet_pton(AF_INET6, host.c_str(), bytes) == 1;
    if (converts6 && (kind != HOST_IPV6 || std::memcmp(bytes, address.address, 16) != 0))
        fail("an IPv6 address the conversion takes is read otherwise", text);
    if (host.find('.') == std::string::npos && kind == HOST_IPV6 && !converts6)
        fail("an IPv6 address the conversion refuses", text);
}

void checkName(const std::string& name, const std::string& text) {
    if (name != withoutBlanksAround(text)) fail("a name that is not the text typed", text);
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'))
            fail("a name with a character outside labels", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Endpoint address = {0, {}, 0, 0};
    std::string name;
    const HostKind kind = readHost(text, &address, &name);
    if (kind == HOST_IPV4 || kind == HOST_IPV6) checkRoundTrip(kind, address, text);
    if (kind == HOST_NAME) checkName(name, text);
    if (text.find('\0') == std::string::npos) checkAgainstConversion(kind, address, text);
    return 0;
}
