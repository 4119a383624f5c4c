// A workspace: the day's connections, test windows and traffic window, kept
// in a versioned JSON text file (".rpw") and opened again as they were.
//
// The connection records are the configuration file's own: a workspace
// holds each record's settings under named fields, and turns them back into
// the bytes the configuration file would hold, so a record loads (and
// connects, or starts its server) exactly as one from that file does.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

class CConnections;

constexpr const char* WORKSPACE_FORMAT = "regprobe-workspace";
constexpr int WORKSPACE_VERSION = 1;
constexpr const char* WORKSPACE_EXTENSION = ".rpw";

struct CWorkspaceConnection {
    CString strName;
    WORD nType = 0;
    // What the configuration file holds after the name and the kind: the
    // reserved text, then the master's settings, byte for byte.
    CByteArray record;
};

enum class EWindowState { NORMAL, MAXIMISED, MINIMISED };

struct CWindowGeometry {
    // The window's normal (restored) rectangle: for a test window in the
    // main window's client area, for the others on the screen. Width 0: none
    // kept, place it as a new window is placed.
    int x = 0;
    int y = 0;
    int nWidth = 0;
    int nHeight = 0;
    EWindowState state = EWindowState::NORMAL;
};

// A test window: its form as typed, so it opens exactly as it was left.
struct CWorkspaceWindow {
    CString strConnection;  // by name; empty for none selected
    CString strDevice;
    int nReadFunction = 1;  // the form's index, in the poller's kFunctions order
    CString strAddress;
    CString strQuantity;
    int nDataType = 2;       // the form's index, in the poller's kTypes order
    int nWriteFunction = 0;  // the form's index, in the poller's kWriteFunctions order
    CString strWriteAddress;
    CString strWriteValue;
    CString strInterval;
    bool bPolling = false;
    bool bLogging = false;
    CString strLogFile;   // the log's file while logging, else empty
    bool bChart = false;  // its trend chart open
    CWindowGeometry geometry;
};

struct CWorkspaceTraffic {
    bool bOpen = false;
    CString strConnection;  // the filter; empty for every connection
    bool bPaused = false;
    CWindowGeometry geometry;
};

struct CWorkspace {
    CWindowGeometry mainWindow;
    std::vector<CWorkspaceConnection> connections;
    // In stacking order, the bottom one first: the last is the active one.
    std::vector<CWorkspaceWindow> windows;
    CWorkspaceTraffic traffic;
};

// The file's text: UTF-8 JSON, two-space indents, a newline at the end.
std::string WorkspaceToText(const CWorkspace& workspace);
// false with strError naming the place ("line 4, column 9: ...",
// "windows[2].quantity: a text is expected", "version 3 is newer than this
// program reads (1)") and workspace untouched.
bool WorkspaceFromText(const std::string& strText, CWorkspace& workspace, CString& strError);

// Whole-file save (the old file stays on failure, a file's mode is kept);
// false with the reason, naming the file.
bool SaveWorkspace(const CWorkspace& workspace, const CString& strPath, CString& strError);
// false with the reason, naming the file and the place.
bool LoadWorkspace(const CString& strPath, CWorkspace& workspace, CString& strError);

// The records of the collection as the workspace keeps them, in the
// collection's order; nothing connects or reconnects.
std::vector<CWorkspaceConnection> WorkspaceConnectionsOf(const CConnections& connections);
// The records as the configuration file holds them (the count, then each
// record's name, kind and bytes), to load as that file is loaded.
CByteArray ConfigImageOf(const std::vector<CWorkspaceConnection>& connections);
