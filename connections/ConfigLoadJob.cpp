#include "ConfigLoadJob.h"

#include "BackgroundJob.h"
#include "ConfigFile.h"
#include "platform/com/ComApi.h"

CConfigLoadJob::CConfigLoadJob(CConnections& connections, CString strPath)
    : m_strPath(std::move(strPath)) {
    TakeRecords(connections);
}

CConfigLoadJob::CConfigLoadJob(CConnections& connections, CByteArray image, CString strSource)
    : m_strPath(std::move(strSource)), m_image(std::move(image)), m_bImage(true) {
    TakeRecords(connections);
}

void CConfigLoadJob::TakeRecords(CConnections& connections) {
    while (!connections.IsEmpty()) {
        POSITION pos = connections.GetStartPosition();
        CString strName;
        CConnection* pConnection = nullptr;
        connections.GetNextAssoc(pos, strName, pConnection);
        m_previous.emplace_back(connections.Detach(strName));
    }
}

CConfigLoadJob::~CConfigLoadJob() = default;

void CConfigLoadJob::Run(CBackgroundJob& job) {
    // Local/DCom records reach their server from this thread.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_pJob = &job;
    {
        CConnections records;
        records.SetLoadObserver(this);
        std::vector<std::unique_ptr<CConnection>> previous;
        CString strError;
        const auto opened = [&] {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_bFinished) {
                return false;
            }
            m_bOpened = true;
            previous.swap(m_previous);
            return true;
        };
        const BOOL bResult =
            m_bImage ? LoadConnectionsObserved(records, m_image, m_strPath, &strError, opened)
                     : LoadConnectionsObserved(records, m_strPath, &strError, opened);
        // Off the GUI thread too: releasing a server object is a call to it.
        previous.clear();
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bDone = true;
        m_bResult = bResult;
        m_strError = strError;
        // Records loaded after Finish die here with the private collection.
    }
    m_pJob = nullptr;
    CoUninitialize();
}

bool CConfigLoadJob::OnRecord(int nRecord, int nCount, const CString& strName) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_bFinished) {
            return false;
        }
        m_progress = {nRecord, nCount, strName};
    }
    m_pJob->Wake();
    return true;
}

bool CConfigLoadJob::OnKept(CConnection* pConnection) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bFinished) {
        return false;
    }
    m_loaded.emplace_back(pConnection);
    return true;
}

CConfigLoadJob::Progress CConfigLoadJob::GetProgress() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_progress;
}

BOOL CConfigLoadJob::Finish(CConnections& connections, CString* pstrError) {
    std::vector<std::unique_ptr<CConnection>> records;
    BOOL bResult = TRUE;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bFinished = true;
        records.swap(m_bOpened ? m_loaded : m_previous);
        if (m_bDone && !m_bResult) {
            bResult = FALSE;
            if (pstrError != nullptr) {
                *pstrError = m_strError;
            }
        }
    }
    for (auto& pConnection : records) {
        connections.Adopt(pConnection.release());
    }
    return bResult;
}
