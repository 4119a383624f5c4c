#include "RegprobeResources.h"
#include "Resource.h"

namespace {
constexpr DWORD kModal = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
constexpr DWORD kDropList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kNumber = ES_AUTOHSCROLL | ES_NUMBER;

CDialogTemplate AboutBox() {
    return {IDD_ABOUTBOX,
            kModal | WS_SYSMENU,
            217,
            55,
            "About Regprobe",
            8,
            "MS Sans Serif",
            {
                ICON(IDR_MAINFRAME, IDC_STATIC, 11, 17, 20, 20),
                LTEXT("Regprobe Version 1.0", IDC_STATIC, 40, 10, 119, 8, SS_NOPREFIX),
                LTEXT("Modbus master for testing devices", IDC_STATIC, 40, 25, 119, 8),
                DEFPUSHBUTTON("OK", IDOK, 178, 7, 32, 14, WS_GROUP),
            }};
}

CDialogTemplate TestForm() {
    return {IDD_REGPROBE_FORM,
            DS_SETFONT | WS_CHILD,
            372,
            196,
            "",
            8,
            "MS Sans Serif",
            {
                GROUPBOX("Device", IDC_STATIC, 7, 7, 175, 29),
                LTEXT("Device:", IDC_STATIC, 11, 20, 26, 10),
                EDITTEXT(IDC_EDIT_DEVICE, 38, 18, 18, 12, kNumber),
                COMBOBOX(IDC_COMBO_CONNECTION, 67, 18, 89, 55, kDropList),
                GROUPBOX("Read Function ", IDC_GROUP_READ, 7, 39, 175, 45),
                COMBOBOX(IDC_COMBO_READ_FUNCTION, 13, 50, 89, 55, kDropList),
                LTEXT("Address:", IDC_STATIC, 13, 68, 28, 10),
                EDITTEXT(IDC_EDIT_READ_ADDRESS, 44, 66, 52, 12, kNumber),
                LTEXT("Quantity:", IDC_STATIC, 105, 66, 29, 10),
                EDITTEXT(IDC_EDIT_QUANTITY, 140, 66, 27, 12, kNumber),
                GROUPBOX("Write Function", IDC_GROUP_WRITE, 7, 85, 175, 45),
                COMBOBOX(IDC_COMBO_WRITE_FUNCTION, 18, 98, 89, 55, kDropList),
                PUSHBUTTON("Write", IDC_BUTTON_WRITE, 135, 98, 32, 10),
                LTEXT("Address:", IDC_STATIC, 13, 116, 28, 10),
                EDITTEXT(IDC_EDIT_WRITE_ADDRESS, 44, 114, 52, 12, kNumber),
                LTEXT("Value:", IDC_STATIC, 105, 117, 21, 9),
                EDITTEXT(IDC_EDIT_WRITE_VALUE, 128, 114, 39, 12, ES_AUTOHSCROLL),
                GROUPBOX("Poll Thread", IDC_STATIC, 7, 131, 175, 45),
                CONTROL("Enable Poll", IDC_CHECK_ENABLE_POLL, CtlClass::Button, kCheck, 15, 151, 53,
                        11),
                LTEXT("Interval(ms):", IDC_STATIC, 80, 153, 41, 9),
                EDITTEXT(IDC_EDIT_INTERVAL, 125, 150, 39, 12, ES_AUTOHSCROLL),
                CONTROL("Log to File...", IDC_CHECK_LOG_TO_FILE, CtlClass::Button, kCheck, 15, 163,
                        60, 10),
                LTEXT("", IDC_STATIC_STATISTICS, 186, 14, 174, 15, WS_BORDER),
                LISTBOX(IDC_LIST_VALUES, 186, 31, 174, 105,
                        LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP),
                LTEXT("Data Type ", IDC_STATIC, 185, 142, 37, 10),
                COMBOBOX(IDC_COMBO_DATA_TYPE, 225, 141, 133, 150, kDropList),
                LTEXT("", IDC_STATIC_RESULT, 185, 159, 174, 15, WS_BORDER),
                // Read times below everything else, across the whole form.
                LTEXT("", IDC_STATIC_RESPONSE_TIMES, 7, 179, 353, 12, WS_BORDER),
            }};
}

CDialogTemplate CommParams() {
    constexpr DWORD kSortedList = kDropList | CBS_SORT;
    return {IDD_COMM_PARAMS,
            kModal | WS_SYSMENU,
            269,
            190,
            "Communications Parameters",
            8,
            "MS Sans Serif",
            {
                LTEXT("Port", IDC_STATIC, 13, 16, 15, 9),
                COMBOBOX(IDC_COMBO_PORT, 32, 15, 41, 48, kSortedList),
                LTEXT("Baudrate", IDC_STATIC, 85, 16, 31, 10),
                COMBOBOX(IDC_COMBO_BAUDRATE, 119, 15, 54, 48, kDropList),
                LTEXT("&Stop Bits:", IDC_STATIC, 173, 17, 40, 10),
                COMBOBOX(IDC_COMBO_STOPBITS, 218, 15, 32, 35, kDropList),
                LTEXT("Parity", IDC_STATIC, 14, 34, 20, 9),
                COMBOBOX(IDC_COMBO_PARITY, 34, 30, 65, 48, kSortedList),
                CONTROL("&Active", IDC_CHECK_ACTIVE, CtlClass::Button, kCheck, 119, 33, 37, 10),
                LTEXT("Byte Size:", IDC_STATIC, 179, 34, 32, 10),
                COMBOBOX(IDC_COMBO_BYTESIZE, 217, 33, 32, 35, kDropList),
                LTEXT("Time-out (ms)", IDC_STATIC, 13, 50, 44, 10),
                EDITTEXT(IDC_EDIT_TIMEOUT, 13, 60, 46, 12, ES_AUTOHSCROLL),
                LTEXT("Error Delay (ms)", IDC_STATIC, 105, 49, 53, 10),
                EDITTEXT(IDC_EDIT_ERROR_DELAY, 105, 60, 46, 12, ES_AUTOHSCROLL),
                LTEXT("Silent Interval (ms)", IDC_STATIC, 197, 49, 57, 10),
                EDITTEXT(IDC_EDIT_SILENT_INTERVAL, 197, 60, 51, 12, ES_AUTOHSCROLL),
                LTEXT("F&low:", IDC_STATIC, 13, 75, 17, 10),
                CONTROL("DTR/DSR", IDC_CHECK_DTRDSR, CtlClass::Button, kCheck, 33, 75, 50, 10),
                CONTROL("RTS/CTS", IDC_CHECK_RTSCTS, CtlClass::Button, kCheck, 33, 85, 50, 10),
                CONTROL("XON/XOFF", IDC_CHECK_XONXOFF, CtlClass::Button, kCheck, 33, 95, 50, 10),
                GROUPBOX("Transmission Mode", IDC_STATIC, 128, 78, 121, 28),
                CONTROL("RTU", IDC_RADIO_RTU, CtlClass::Button,
                        BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 145, 91, 38, 11),
                CONTROL("ASCII", IDC_RADIO_ASCII, CtlClass::Button, BS_AUTORADIOBUTTON, 201, 91, 38,
                        11),
                GROUPBOX("DCOM", IDC_STATIC, 7, 106, 242, 26),
                LTEXT("Server", IDC_STATIC, 13, 118, 23, 10),
                EDITTEXT(IDC_EDIT_SERVER, 40, 115, 205, 12, ES_AUTOHSCROLL),
                GROUPBOX("Server", IDC_STATIC, 7, 135, 142, 50),
                LTEXT("IP Address", IDC_STATIC, 13, 143, 49, 9),
                EDITTEXT(IDC_EDIT_TCP_ADDRESS, 13, 153, 76, 12, ES_AUTOHSCROLL),
                LTEXT("Port", IDC_STATIC, 94, 143, 37, 8),
                EDITTEXT(IDC_EDIT_TCP_PORT, 93, 153, 42, 12, kNumber),
                CONTROL("Enable TCP Server", IDC_CHECK_TCP_SERVER, CtlClass::Button, kCheck, 13,
                        164, 75, 15),
                PUSHBUTTON("&Find IP", IDC_BUTTON_FIND_IP, 93, 169, 41, 10),
                PUSHBUTTON("&Ok", IDC_BUTTON_OK, 153, 154, 39, 12),
                PUSHBUTTON("Cancel", IDCANCEL, 201, 154, 39, 13),
            }};
}

CDialogTemplate Connections() {
    return {IDD_CONNECTIONS,
            kModal,  // no system menu, so no close box
            270,
            130,
            "Connections",
            8,
            "MS Sans Serif",
            {
                PUSHBUTTON("&Add", IDC_BUTTON_ADD, 23, 20, 39, 12),
                COMBOBOX(IDC_COMBO_TYPE, 67, 20, 90, 46, kDropList),
                PUSHBUTTON("&Edit", IDC_BUTTON_EDIT, 162, 20, 39, 12),
                PUSHBUTTON("&Remove", IDC_BUTTON_REMOVE, 206, 20, 39, 12),
                LISTBOX(IDC_LIST_CONNECTIONS, 22, 35, 225, 56,
                        LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT |
                            WS_TABSTOP),
                PUSHBUTTON("&Save", IDC_BUTTON_SAVE, 60, 98, 40, 12),
                PUSHBUTTON("&Load", IDC_BUTTON_LOAD, 114, 98, 40, 12),
                PUSHBUTTON("Cancel", IDCANCEL, 168, 97, 40, 12),
            }};
}

CDialogTemplate RemoteServer() {
    return {IDD_REMOTE_SERVER,
            kModal | WS_SYSMENU,
            186,
            95,
            "Remote Server Connection",
            8,
            "MS Sans Serif",
            {
                GROUPBOX("Remote Server", IDC_STATIC, 13, 13, 159, 50),
                LTEXT("IP Address", IDC_STATIC, 20, 21, 49, 9),
                EDITTEXT(IDC_EDIT_ADDRESS, 20, 31, 103, 12, ES_AUTOHSCROLL),
                LTEXT("Port", IDC_STATIC, 126, 21, 37, 8),
                EDITTEXT(IDC_EDIT_PORT, 127, 31, 42, 12, kNumber),
                LTEXT("Time-out (ms)", IDC_STATIC, 19, 50, 44, 9),
                EDITTEXT(IDC_EDIT_TIMEOUT, 68, 46, 54, 12, ES_AUTOHSCROLL),
                DEFPUSHBUTTON("&OK", IDC_OK_BUTTON, 24, 65, 50, 14),
                PUSHBUTTON("Cancel", IDCANCEL, 112, 65, 50, 14),
            }};
}

// Remote Server Connection's controls where they are, the three files of a
// Modbus/TCP Security connection below them, and its buttons below those.
CDialogTemplate TlsServer() {
    CDialogTemplate tls = RemoteServer();
    tls.nID = IDD_TLS_SERVER;
    tls.cy = 178;
    tls.strCaption = "Modbus/TCP Security Connection";
    tls.items.resize(tls.items.size() - 2);  // the buttons, placed again below
    tls.items.insert(tls.items.end(),
                     {
                         GROUPBOX("Certificates (PEM)", IDC_STATIC, 13, 67, 159, 83),
                         LTEXT("CA certificate", IDC_STATIC, 20, 77, 100, 8),
                         EDITTEXT(IDC_EDIT_CA_FILE, 20, 87, 103, 12, ES_AUTOHSCROLL),
                         PUSHBUTTON("Browse...", IDC_BUTTON_BROWSE_CA, 127, 87, 42, 12),
                         LTEXT("Client certificate", IDC_STATIC, 20, 102, 100, 8),
                         EDITTEXT(IDC_EDIT_CERT_FILE, 20, 112, 103, 12, ES_AUTOHSCROLL),
                         PUSHBUTTON("Browse...", IDC_BUTTON_BROWSE_CERT, 127, 112, 42, 12),
                         LTEXT("Private key", IDC_STATIC, 20, 127, 100, 8),
                         EDITTEXT(IDC_EDIT_KEY_FILE, 20, 137, 103, 12, ES_AUTOHSCROLL),
                         PUSHBUTTON("Browse...", IDC_BUTTON_BROWSE_KEY, 127, 137, 42, 12),
                         DEFPUSHBUTTON("&OK", IDC_OK_BUTTON, 24, 156, 50, 14),
                         PUSHBUTTON("Cancel", IDCANCEL, 112, 156, 50, 14),
                     });
    return tls;
}
}  // namespace

void AddDialogTemplates(CResourceModule& module) {
    module.m_dialogs.push_back(AboutBox());
    module.m_dialogs.push_back(TestForm());
    module.m_dialogs.push_back(CommParams());
    module.m_dialogs.push_back(Connections());
    module.m_dialogs.push_back(RemoteServer());
    module.m_dialogs.push_back(TlsServer());
}
