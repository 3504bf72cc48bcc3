// Identifiers of the menu, the dialogs and their controls.
#ifndef ORU_RESOURCE_H
#define ORU_RESOURCE_H

#define IDR_MENU 500
#define IDM_QUIT 501
#define IDM_LISTEN 505
#define IDM_DISCONNECT 506
#define IDM_CAPTURE 510
#define IDM_CAPTURE_STOP 511
#define IDM_CAPTURE_PAUSE 512
#define IDM_CAPTURE_RESUME 513
#define IDM_PROPERTIES 515
#define IDM_ABOUT 520
// Items added to the window's system menu: below 0xF000, the low four bits clear.
#define IDM_OCTET_VIEW 0x1000
#define IDM_FIND 0x1010
#define IDM_SEND 0x1020
#define IDM_KEEP_LISTENING 0x1030
#define IDM_RULES 0x1040
#define IDM_ANSI_SEQUENCES 0x1050
#define IDM_LOCAL_ECHO 0x1060
// The "Touche Entree" submenu's radio items.
#define IDM_ENTER_CR 0x1070
#define IDM_ENTER_LF 0x1080
#define IDM_ENTER_CR_LF 0x1090
#define IDM_JOURNAL 0x10A0
#define IDM_SAVE_OCTETS 0x10B0
#define IDM_CONNECT 0x10C0
// Commands of keys that no menu item holds.
#define IDM_FIND_NEXT 0x1011
#define IDM_FIND_PREVIOUS 0x1012

#define IDD_PROPERTIES 100
#define IDC_ADDRESS 101
#define IDC_PORT 102
#define IDC_AUTOWRAP 103

#define IDD_CAPTURE 200
#define IDC_CAPTURE_PATH 201
#define IDC_BROWSE 202

#define IDD_ABOUT 300
#define IDI_ABOUT_ICON 2

// The send dialog, modeless.
#define IDD_SEND 400
#define IDC_SEND_TEXT 1001
#define IDC_SEND_AS_TEXT 1002
#define IDC_SEND_AS_HEX 1003
#define IDC_SEND_FILE 1004
#define IDC_SEND_LINE 1005

// The reply rules dialog, modeless.
#define IDD_RULES 600
#define IDC_RULES_TEXT 1101
#define IDC_RULES_LINE 1102
#define IDC_RULES_ACTIVE 1103
#define IDC_RULES_COUNTS 1104
#define IDC_RULES_OPEN 1105
#define IDC_RULES_SAVE 1106

// "Se connecter a": the host (an editable combo box), the port, trying again.
#define IDD_CONNECT 700
#define IDC_CONNECT_HOST 1201
#define IDC_CONNECT_PORT 1202
#define IDC_CONNECT_RECONNECT 1203

#endif
