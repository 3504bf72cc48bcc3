// The host typed in a dialog read as an address or a name, and addresses written back.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "net/endpoint.h"
#include "net/host.h"

namespace {

// What a text reads as: "ipv4 " or "ipv6 " and the address written back, "name " and
// the name, or "wrong". An address read has no port, and an IPv4 one no scope.
std::string reading(const std::string& text) {
    Endpoint address = {0, {}, 9999, 77};
    std::string name = "untouched";
    switch (readHost(text, &address, &name)) {
    case HOST_IPV4:
        return (address.port == 0 && address.scope == 0 ? "ipv4 " : "ipv4 with more ") + addressText(address);
    case HOST_IPV6:
        return (address.port == 0 ? "ipv6 " : "ipv6 with a port ") + addressText(address);
    case HOST_NAME:
        return "name " + name;
    case HOST_WRONG:
        break;
    }
    return "wrong";
}

Endpoint ipv6Of(std::initializer_list<std::uint16_t> groups, std::uint32_t scope) {
    Endpoint end = {FAMILY_IPV6, {}, 0, scope};
    int at = 0;
    for (std::uint16_t group : groups) {
        end.address[at++] = static_cast<unsigned char>(group >> 8);
        end.address[at++] = static_cast<unsigned char>(group & 0xFF);
    }
    return end;
}

TEST(Host, TextsReadAsAddressesNamesOrWrong) {
    const std::string label63(63, 'a');
    const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    struct Case {
        std::string text;
        std::string reads;
    };
    const Case cases[] = {
        {"192.168.1.20", "ipv4 192.168.1.20"},
        {" \t10.0.0.1 \t", "ipv4 10.0.0.1"},
        {"010.001.000.009", "ipv4 10.1.0.9"},  // zeros in front, still decimal
        {"0.0.0.0", "ipv4 0.0.0.0"},
        {"255.255.255.255", "ipv4 255.255.255.255"},
        {"192.168.1.256", "wrong"},
        {"1.2.3", "wrong"},
        {"1.2.3.4.5", "wrong"},
        {"1.2.3.4.", "wrong"},
        {"1234.1.1.1", "wrong"},
        {"0001.1.1.1", "wrong"},
        {"1..2.3", "wrong"},
        {"123", "wrong"},
        {"1.2.3.4%3", "wrong"},
        {"[1.2.3.4]", "wrong"},

        {"::1", "ipv6 [::1]"},
        {"[::1]", "ipv6 [::1]"},
        {"  [::1]\t", "ipv6 [::1]"},
        {"::", "ipv6 [::]"},
        {"[::]", "ipv6 [::]"},
        {"fe80::1%3", "ipv6 [fe80::1%3]"},
        {"[fe80::1%3]", "ipv6 [fe80::1%3]"},
        {"FE80::AbCd%4294967295", "ipv6 [fe80::abcd%4294967295]"},
        {"fe80::1%007", "ipv6 [fe80::1%7]"},
        {"2001:0db8:0000:0000:0001:0000:0000:0001", "ipv6 [2001:db8::1:0:0:1]"},
        {"1:2:3:4:5:6:7:8", "ipv6 [1:2:3:4:5:6:7:8]"},
        {"1::", "ipv6 [1::]"},
        {"1:2:3:4:5:6:7::", "ipv6 [1:2:3:4:5:6:7:0]"},  // "::" for one group
        {"::2:3:4:5:6:7:8", "ipv6 [0:2:3:4:5:6:7:8]"},
        {"1:2::7:8", "ipv6 [1:2::7:8]"},
        {"::ffff:192.168.1.2", "ipv6 [::ffff:192.168.1.2]"},
        {"::FFFF:c0a8:0102", "ipv6 [::ffff:192.168.1.2]"},
        {"64:ff9b::192.0.2.33", "ipv6 [64:ff9b::c000:221]"},
        {"1:2:3:4:5:6:1.2.3.4", "ipv6 [1:2:3:4:5:6:102:304]"},
        {"::1.2.3.4", "ipv6 [::102:304]"},
        {"1::2::3", "wrong"},
        {":::", "wrong"},
        {"1:::2", "wrong"},
        {":1::", "wrong"},
        {"::1:", "wrong"},
        {":1:2:3:4:5:6:7", "wrong"},
        {"12345::", "wrong"},
        {"g::1", "wrong"},
        {"1:2:3:4:5:6:7", "wrong"},
        {"1:2:3:4:5:6:7:8:9", "wrong"},
        {"1:2:3:4:5:6:7:8::", "wrong"},
        {"::1:2:3:4:5:6:7:8", "wrong"},
        {"1:2:3:4:5:6:7:1.2.3.4", "wrong"},
        {"1.2.3.4::", "wrong"},
        {"::1.2.3.4:1", "wrong"},
        {"::1.2.3", "wrong"},
        {"::256.1.1.1", "wrong"},
        {"::1%0", "wrong"},
        {"::1%", "wrong"},
        {"::1%4294967296", "wrong"},
        {"::1%3%4", "wrong"},
        {"::1%eth0", "wrong"},
        {"%3", "wrong"},
        {"[%3]", "wrong"},
        {"[::1]%3", "wrong"},
        {"[::1", "wrong"},
        {"::1]", "wrong"},
        {"[]", "wrong"},
        {"[ ::1 ]", "wrong"},
        {"[::1]:23", "wrong"},

        {"localhost", "name localhost"},
        {"  PLC-2.Example.com\t", "name PLC-2.Example.com"},
        {"_modbus._tcp.local.", "name _modbus._tcp.local."},
        {"host.123", "name host.123"},
        {"1host", "name 1host"},
        {label63, "name " + label63},
        {name253, "name " + name253},
        {name253 + ".", "name " + name253 + "."},
        {label63 + "a", "wrong"},
        {name253 + "b", "wrong"},
        {"host:23", "wrong"},
        {"host%3", "wrong"},
        {"[host]", "wrong"},
        {"-host", "wrong"},
        {"host-.example", "wrong"},
        {"a..b", "wrong"},
        {".host", "wrong"},
        {"host..", "wrong"},
        {".", "wrong"},
        {"ho st", "wrong"},
        {"host/x", "wrong"},
        {"h\xc3\xb4te", "wrong"},
        {"", "wrong"},
        {" \t ", "wrong"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.reads, reading(c.text)) << "'" << c.text << "'";
}

TEST(Host, Ipv6AddressesAreWrittenInTheirShortForm) {
    struct Case {
        Endpoint end;
        const char* text;
    };
    const Case cases[] = {
        {ipv6Of({0, 0, 0, 0, 0, 0, 0, 0}, 0), "[::]"},
        {ipv6Of({0, 0, 0, 0, 0, 0, 0, 1}, 0), "[::1]"},
        {ipv6Of({1, 0, 0, 0, 0, 0, 0, 0}, 0), "[1::]"},
        {ipv6Of({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, 0), "[2001:db8::1:0:0:1]"},  // tie: the first
        {ipv6Of({1, 0, 0, 2, 0, 0, 0, 3}, 0), "[1:0:0:2::3]"},                 // the longest
        {ipv6Of({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}, 0), "[2001:db8:0:1:1:1:1:1]"},
        {ipv6Of({1, 0, 2, 0, 3, 0, 4, 0}, 0), "[1:0:2:0:3:0:4:0]"},
        {ipv6Of({0x2001, 0x0DB8, 0x00AB, 0xF00D, 0x0A0B, 0xC00, 0xFFFF, 0x10}, 0),
         "[2001:db8:ab:f00d:a0b:c00:ffff:10]"},
        {ipv6Of({0xfe80, 0, 0, 0, 0, 0, 0, 1}, 3), "[fe80::1%3]"},
        {ipv6Of({0xfe80, 0, 0, 0, 0x21a, 0x2bff, 0xfe3c, 0x4d5e}, 4294967295u),
         "[fe80::21a:2bff:fe3c:4d5e%4294967295]"},
        {ipv6Of({0, 0, 0, 0, 0, 0xffff, 0xc0a8, 0x114}, 0), "[::ffff:192.168.1.20]"},
        {ipv6Of({0, 0, 0, 0, 0, 0xfffe, 0xc0a8, 0x114}, 0), "[::fffe:c0a8:114]"},
        {ipv6Of({0, 0, 0, 0, 0, 0x00ff, 0xc0a8, 0x114}, 0), "[::ff:c0a8:114]"},
        {ipv6Of({0, 0, 0, 0, 1, 0xffff, 0xc0a8, 0x114}, 0), "[::1:ffff:c0a8:114]"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, addressText(c.end));
}

TEST(Host, EndsAreTheirAddressAndPort) {
    EXPECT_EQ("192.168.1.20:502", endpointText(ipv4Endpoint(0x1401A8C0, 502)));
    Endpoint loopback = ipv6Of({0, 0, 0, 0, 0, 0, 0, 1}, 0);
    loopback.port = 502;
    EXPECT_EQ("[::1]:502", endpointText(loopback));
    Endpoint link = ipv6Of({0xfe80, 0, 0, 0, 0, 0, 0, 1}, 3);
    link.port = 65535;
    EXPECT_EQ("[fe80::1%3]:65535", endpointText(link));
}

}  // namespace
