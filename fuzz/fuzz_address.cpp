// Fuzzes the listening-address check with arbitrary terminated text.
//
// Before each call listenAddress is set to a value that differs from the platform's
// conversion of the text, so afterwards it tells whether the dotted pre-check let the
// text through. That is compared with a separate reading of the dotted rules (split
// at the dots: exactly four fields, the first non-empty, none longer than three
// characters, the first three reading no greater than 255), and the result must be
// the conversion's verdict exactly when the pre-check passed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/address.h"
#include "platform.h"

namespace {

void fail(const char* what, const char* text) {
    std::fprintf(stderr, "address check: %s for \"%s\"\n", what, text);
    std::abort();
}

bool dottedRulesHold(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == '.') fields.emplace_back();
        else fields.back() += c;
    }
    if (fields.size() != 4 || fields[0].empty()) return false;
    for (const std::string& field : fields)
        if (field.size() > 3) return false;
    for (int i = 0; i < 3; i++)
        if (std::atoi(fields[i].c_str()) > 255) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size terminated copy, so a read past the terminator is caught.
    char* text = static_cast<char*>(std::malloc(size + 1));
    if (text == nullptr) return 0;
    if (size > 0) std::memcpy(text, data, size);
    text[size] = '\0';
    std::string copy(text);

    std::uint32_t converted = convertIpv4Address(text);
    const std::uint32_t untouched = converted ^ 1u;
    listenAddress = untouched;
    int result = checkListenAddress(text);

    if (std::strcmp(text, copy.c_str()) != 0) fail("text changed", copy.c_str());
    if (result != 0 && result != -1) fail("result is neither 0 nor -1", text);
    bool passed = listenAddress != untouched;
    if (passed && listenAddress != converted) fail("stored something else", text);
    if (passed != dottedRulesHold(copy)) fail("pre-check disagrees with the dotted rules", text);
    if (!passed && result != -1) fail("accepted without the pre-check", text);
    if (passed && result != (converted == NO_ADDRESS ? -1 : 0))
        fail("result is not the conversion's verdict", text);
    if (result == 0) {
        std::size_t dots = 0;
        for (const char* p = text; *p != '\0'; ++p) dots += *p == '.';
        if (dots != 3) fail("accepted without exactly three dots", text);
        if (std::strlen(text) > 15) fail("accepted more than 15 characters", text);
        if (listenAddress == NO_ADDRESS) fail("accepted the refused address", text);
    }
    std::free(text);
    return 0;
}
