// Connections > Load off the GUI thread: the file's records are loaded (and
// so connected, or their servers started) on a job's thread into a private
// collection, and handed over one by one as each is kept. The GUI thread
// takes what is there when the job ends or when the user gives up.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Connections.h"

class CBackgroundJob;

class CConfigLoadJob : private CConnections::CLoadObserver {
public:
    struct Progress {
        int nRecord = 0;  // from 1; 0 before the first
        int nCount = 0;
        CString strName;
    };

    // Takes the collection's records: they go once the file has opened, as
    // ReplaceConnections has them go, or come back through Finish.
    CConfigLoadJob(CConnections& connections, CString strPath);
    // The same from an image of the file (a workspace's records);
    // strSource names it in messages.
    CConfigLoadJob(CConnections& connections, CByteArray image, CString strSource);
    ~CConfigLoadJob() override;

    // On the job's thread; blocks while records connect.
    void Run(CBackgroundJob& job);
    Progress GetProgress() const;
    // Once, on the GUI thread, at the end or on giving up: gives connections
    // the records loaded so far, or its own back when the file never opened.
    // Records still loading are dropped by the job's thread. FALSE, with
    // *pstrError as ReplaceConnections sets it, when a finished load failed.
    BOOL Finish(CConnections& connections, CString* pstrError);

private:
    // The collection's records into m_previous.
    void TakeRecords(CConnections& connections);
    bool OnRecord(int nRecord, int nCount, const CString& strName) override;
    bool OnKept(CConnection* pConnection) override;

    // The file, or the image's name in messages when there is one.
    const CString m_strPath;
    const CByteArray m_image;
    const bool m_bImage = false;
    CBackgroundJob* m_pJob = nullptr;  // while Run runs
    mutable std::mutex m_mutex;
    // Under m_mutex from here on.
    std::vector<std::unique_ptr<CConnection>> m_previous;
    std::vector<std::unique_ptr<CConnection>> m_loaded;
    Progress m_progress;
    bool m_bOpened = false;
    bool m_bDone = false;
    bool m_bFinished = false;
    BOOL m_bResult = TRUE;
    CString m_strError;
};
