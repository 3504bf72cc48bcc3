#include "ui/properties.h"

#include "net/address.h"
#include "net/link.h"
#include "platform.h"
#include "session/settings.h"
#include "ui/resource.h"

void onPropertiesCommand() {
    if (runDialog(IDD_PROPERTIES) != 0) return;
    settingsChecked = validateServerSettings() == 0;
}

void onAboutCommand() {
    runDialog(IDD_ABOUT);
}

void fillPropertiesDefaults() {
    if (serverAddress[0] == '\0') {
        copyTextField(serverAddress, sizeof serverAddress, DEFAULT_SERVER_ADDRESS);
    }
    if (serverPort == 0) serverPort = DEFAULT_SERVER_PORT;
}

bool propertiesAddressEditable() {
    return serverState == SERVER_IDLE;
}

int acceptPropertiesDialog(bool autoWrapChecked, const char* addressText, std::uint32_t portRead) {
    autoWrap = autoWrapChecked;
    if (serverState != SERVER_IDLE) return -1;
    if (addressText != nullptr && addressText[0] != '\0') {
        copyTextField(serverAddress, sizeof serverAddress, addressText);
    }
    if (portRead != 0) serverPort = portRead;
    return 0;
}
