// Resource and control identifiers. The same number may name controls of
// different dialogs.
#pragma once

#include "platform/WinTypes.h"

// Frames, menus, icons and the document template.
constexpr UINT IDR_MAINFRAME = 128;
constexpr UINT IDR_REGPROTYPE = 129;
constexpr UINT IDR_TRAYICON = 134;

// Dialogs and bitmaps.
constexpr UINT IDD_ABOUTBOX = 100;
constexpr UINT IDD_REGPROBE_FORM = 101;
constexpr UINT IDB_SPLASH = 102;
constexpr UINT IDD_COMM_PARAMS = 130;
constexpr UINT IDD_CONNECTIONS = 131;
constexpr UINT IDD_REMOTE_SERVER = 133;
constexpr UINT IDD_TLS_SERVER = 135;

// Strings.
constexpr UINT IDP_OLE_INIT_FAILED = 100;
constexpr UINT IDP_SOCKETS_INIT_FAILED = 104;

// The program's own commands.
constexpr UINT ID_OPTIONS_CONNECTIONS = 32775;
constexpr UINT ID_TRAY_TERMINATE = 32776;
constexpr UINT ID_OPTIONS_REGISTER_TYPELIB = 32777;
constexpr UINT ID_TRAY_CONNECTIONS = 32803;
constexpr UINT ID_TRAY_POLL_DEVICE = 32805;
constexpr UINT ID_VIEW_TRAFFIC = 32810;
constexpr UINT ID_TOOLS_SCAN_UNITS = 32811;
constexpr UINT ID_TOOLS_SCAN_ADDRESSES = 32812;
constexpr UINT ID_TOOLS_SEND_REQUEST = 32813;
constexpr UINT ID_VIEW_TREND_CHART = 32814;
constexpr UINT ID_FILE_OPEN_WORKSPACE = 32815;
constexpr UINT ID_FILE_SAVE_WORKSPACE = 32816;
constexpr UINT ID_FILE_SAVE_WORKSPACE_AS = 32817;
constexpr UINT ID_OPTIONS_PREFERENCES = 32818;
// The recent workspaces, most recent first.
constexpr UINT ID_FILE_RECENT_WORKSPACE1 = 32819;
constexpr UINT RECENT_WORKSPACE_COUNT = 4;

// Test form (101).
constexpr int IDC_LIST_VALUES = 1000;
constexpr int IDC_GROUP_WRITE = 1001;
constexpr int IDC_GROUP_READ = 1002;
constexpr int IDC_COMBO_READ_FUNCTION = 1003;
constexpr int IDC_EDIT_DEVICE = 1004;
constexpr int IDC_EDIT_READ_ADDRESS = 1005;
constexpr int IDC_EDIT_QUANTITY = 1006;
constexpr int IDC_COMBO_WRITE_FUNCTION = 1009;
constexpr int IDC_COMBO_CONNECTION = 1010;
constexpr int IDC_CHECK_ENABLE_POLL = 1011;
constexpr int IDC_STATIC_STATISTICS = 1013;
constexpr int IDC_EDIT_WRITE_VALUE = 1014;
constexpr int IDC_BUTTON_WRITE = 1015;
constexpr int IDC_EDIT_INTERVAL = 1016;
constexpr int IDC_STATIC_RESULT = 1017;
constexpr int IDC_EDIT_WRITE_ADDRESS = 1018;
constexpr int IDC_COMBO_DATA_TYPE = 1019;
constexpr int IDC_STATIC_RESPONSE_TIMES = 1020;
constexpr int IDC_CHECK_LOG_TO_FILE = 1021;

// Communications Parameters (130).
constexpr int IDC_COMBO_STOPBITS = 548;
constexpr int IDC_CHECK_DTRDSR = 549;
constexpr int IDC_CHECK_RTSCTS = 550;
constexpr int IDC_CHECK_XONXOFF = 551;
constexpr int IDC_COMBO_BYTESIZE = 552;
constexpr int IDC_EDIT_SERVER = 1002;
constexpr int IDC_CHECK_TCP_SERVER = 1003;
constexpr int IDC_EDIT_TCP_ADDRESS = 1004;
constexpr int IDC_EDIT_TCP_PORT = 1005;
constexpr int IDC_COMBO_BAUDRATE = 1010;
constexpr int IDC_COMBO_PARITY = 1011;
constexpr int IDC_EDIT_TIMEOUT = 1012;
constexpr int IDC_EDIT_SILENT_INTERVAL = 1013;
constexpr int IDC_COMBO_PORT = 1014;
constexpr int IDC_BUTTON_FIND_IP = 1015;
constexpr int IDC_BUTTON_OK = 1016;
constexpr int IDC_CHECK_ACTIVE = 1017;
constexpr int IDC_EDIT_ERROR_DELAY = 1018;
constexpr int IDC_RADIO_RTU = 1031;
constexpr int IDC_RADIO_ASCII = 1032;

// Connections (131).
constexpr int IDC_LIST_CONNECTIONS = 1004;
constexpr int IDC_BUTTON_ADD = 1006;
constexpr int IDC_BUTTON_EDIT = 1007;
constexpr int IDC_BUTTON_REMOVE = 1008;
constexpr int IDC_COMBO_TYPE = 1009;
constexpr int IDC_BUTTON_SAVE = 1011;
constexpr int IDC_BUTTON_LOAD = 1012;

// Remote Server Connection (133); its time-out is IDC_EDIT_TIMEOUT.
constexpr int IDC_EDIT_ADDRESS = 1004;
constexpr int IDC_EDIT_PORT = 1005;
constexpr int IDC_OK_BUTTON = 1010;

// Modbus/TCP Security Connection (135): the controls of 133, then the files.
constexpr int IDC_EDIT_CA_FILE = 1020;
constexpr int IDC_BUTTON_BROWSE_CA = 1021;
constexpr int IDC_EDIT_CERT_FILE = 1022;
constexpr int IDC_BUTTON_BROWSE_CERT = 1023;
constexpr int IDC_EDIT_KEY_FILE = 1024;
constexpr int IDC_BUTTON_BROWSE_KEY = 1025;
