// What the Properties dialog decides, apart from its controls.
#ifndef ORU_PROPERTIES_H
#define ORU_PROPERTIES_H

#include <cstdint>

// The "&Proprietes" command: the dialog, then the validation after an accepted OK.
void onPropertiesCommand();
// The "A propos" command.
void onAboutCommand();

// At opening: an empty address becomes the default, a port of 0 becomes 9000.
void fillPropertiesDefaults();
// Address and port may be changed only while the link is idle.
bool propertiesAddressEditable();
// OK pressed. `addressText` is the address box's text, or null when the box is
// empty; `portRead` is the port box read as an unsigned number (0 when it does not
// convert). Returns the dialog's result: 0 when the settings are to be validated.
int acceptPropertiesDialog(bool autoWrapChecked, const char* addressText, std::uint32_t portRead);

#endif
