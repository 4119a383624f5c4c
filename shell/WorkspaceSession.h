// The workspace the main window has open: taking what is on the screen into
// a workspace and saving it, opening one (its connections loaded off the
// window's thread, its windows as they were, polling again only if the user
// agrees), the recent list and the preference to start with the last one.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "workspace/Workspace.h"

class CMainFrame;
class CRegprobeView;
class QMdiSubWindow;
class QProgressDialog;
class QSettings;

class CWorkspaceSession : public QObject {
    Q_OBJECT

public:
    explicit CWorkspaceSession(CMainFrame& frame);
    ~CWorkspaceSession() override;

    // What is open now: the connections, the test windows bottom first, the
    // traffic window and the main window.
    CWorkspace Capture() const;

    // The file's workspace in place of what is open. Nothing changes when
    // the file cannot be read, or the user cancels saving the changes of the
    // one open now. false when it was not opened.
    bool Open(const CString& strPath);
    // Saves what is open to strPath, which becomes the open workspace's
    // file; false with a message when it could not be written.
    bool SaveAs(const CString& strPath);

    // At start-up, with the program's arguments: opens the first one that
    // names a workspace file, else the last workspace when the preference
    // says so, once the main window's events flow.
    void OpenFromCommandLine(const QStringList& args);

    // The menu's commands.
    void OnOpen();
    void OnSave();
    void OnSaveAs();
    void OnRecent(UINT nIndex);
    void OnPreferences();

    // The open workspace's file; empty for none.
    const CString& GetPath() const { return m_strPath; }
    // Whether what is open differs from the workspace file as last saved or
    // opened. Only a workspace with a file has changes to save.
    bool IsModified() const;
    // Before the open workspace goes: asks to save its changes (Yes, No,
    // Cancel). false when the user cancelled, or saving failed.
    bool ConfirmDiscard();

    // Most recent first, at most RECENT_WORKSPACE_COUNT.
    QStringList GetRecent() const;
    bool GetStartWithLast() const;
    void SetStartWithLast(bool bOn);

    // Tests answer instead of the dialogs: the file to open or save to
    // (empty to cancel), and the answer to a question (IDYES, IDNO,
    // IDCANCEL). Unset, the dialogs ask.
    std::function<QString(bool bSave)> m_chooseFile;
    std::function<int(const CString& strQuestion, UINT nType)> m_ask;
    // Tests see the connections' loading progress, and may give it up.
    std::function<void(QProgressDialog& progress, int nRecord, int nCount)> m_onLoading;

    // Where the recent list and the preferences are kept.
    static QSettings* Settings();

private:
    int Ask(const CString& strQuestion, UINT nType) const;
    QString ChooseFile(bool bSave) const;
    void NoteRecent(const CString& strPath);
    // Closes every test window, waiting for their workers; false when one
    // stays open.
    bool CloseWindows();
    // The workspace's records in place of the application's, off the
    // window's thread; false when the user gave up. strError: why loading
    // stopped early, if it did.
    bool LoadConnections(const CWorkspace& workspace, const CString& strPath, CString& strError);
    void OpenWindow(const CWorkspaceWindow& window, bool bResume);
    void RestoreTraffic(const CWorkspaceTraffic& traffic);
    void Track(QMdiSubWindow* pWindow);

    CMainFrame& m_frame;
    CString m_strPath;
    std::string m_strSavedText;  // the file's text as last saved or opened
};
