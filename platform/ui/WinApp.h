// The application object: owns the Qt application (unless one exists), the
// document templates and the main window; reads the command line; runs the
// message loop, offering every input message to PreTranslateMessage first.
#pragma once

#include <memory>
#include <vector>

#include "CmdTarget.h"
#include "CommandLineInfo.h"

class QApplication;
class QObject;
class QWidget;
class CMultiDocTemplate;
class CDocument;

class CWinApp : public CCmdTarget {
    DECLARE_DYNAMIC(CWinApp)

public:
    // The title comes from string AFX_IDS_APP_TITLE when the resource
    // module is set, else from the program's file name.
    CWinApp(int& argc, char** argv);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance's result.
    virtual int Run();
    virtual int ExitInstance();
    // TRUE when the message was used up and must go no further.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // After input, once the queue is empty.
    virtual BOOL OnIdle(LONG lCount);

    void AddDocTemplate(CMultiDocTemplate* pTemplate);
    const std::vector<std::unique_ptr<CMultiDocTemplate>>& GetDocTemplates() const {
        return m_templates;
    }
    virtual CDocument* OpenDocumentFile(const char* lpszFileName);
    void ParseCommandLine(CCommandLineInfo& rCmdInfo);
    // FALSE ends the application. Opens what the command line asks for;
    // FileNothing does nothing.
    BOOL ProcessShellCommand(CCommandLineInfo& rCmdInfo);
    void CloseAllDocuments(BOOL bEndSession);
    BOOL SaveAllModified();
    void HideApplication();
    HICON LoadIcon(UINT nIDResource) const;
    const std::vector<CString>& GetArguments() const { return m_args; }

    QWidget* m_pMainWnd = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    CString m_strAppName;

protected:
    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();

private:
    void ScheduleIdle();

    std::vector<CString> m_args;
    std::unique_ptr<QApplication> m_pOwnedApp;
    std::unique_ptr<QObject> m_pMessageFilter;
    std::vector<std::unique_ptr<CMultiDocTemplate>> m_templates;
    bool m_bIdleScheduled = false;

    friend class CMessageFilter;
};

CWinApp* AfxGetApp();
QWidget* AfxGetMainWnd();
// The application's title; string AFX_IDS_APP_TITLE without an application.
CString AfxGetAppName();
// Ends the message loop of Run; nothing outside it.
void AfxPostQuitMessage(int nExitCode);
// InitInstance, then Run; a failed InitInstance destroys a main window that
// exists and returns ExitInstance's result.
int AfxWinMain(CWinApp& app);
