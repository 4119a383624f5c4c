// The application object: start-up checks in their order, each failure
// ending the program before the main window exists; the document template;
// the main frame; the splash screen seeing every input message first.
#pragma once

#include "platform/ui/WinApp.h"

class CRegprobeApp : public CWinApp {
    DECLARE_DYNAMIC(CRegprobeApp)

public:
    CRegprobeApp(int& argc, char** argv);

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Whether out-of-process automation servers can be reached.
    virtual BOOL IsDcomAvailable();
    // COM on this thread, in the multithreaded apartment.
    virtual BOOL InitializeCom();

protected:
    virtual BOOL InitializeSockets();
    void OnAppAbout();

private:
    // The workspace of the command line, or the last one if so preferred.
    void OpenStartWorkspace(class CMainFrame& frame);

    BOOL m_bComInitialized = FALSE;
};
