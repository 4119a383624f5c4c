// The test document: it holds nothing of its own, refuses to come into being
// while no connection exists, and stops its views' workers before its
// windows go.
#pragma once

#include <memory>

#include "platform/ui/Document.h"

class CRegprobeView;
class QObject;

class CRegprobeDoc : public CDocument {
    DECLARE_DYNAMIC(CRegprobeDoc)

public:
    CRegprobeDoc();
    ~CRegprobeDoc() override;

    BOOL OnNewDocument() override;
    // Asks every view's worker to stop, waits for all of them without
    // blocking the window, then closes. A close that arrives while this one
    // waits is left to it.
    void OnCloseDocument() override;
    // No window of the document closes while its workers are being waited for.
    BOOL CanCloseFrame(CMDIChildWnd* pFrame) override;
    // One of several windows closing: its worker ends before its view goes.
    void PreCloseFrame(CMDIChildWnd* pFrame) override;
    void Serialize(CArchive& ar) override;

    // TRUE while any document waits for workers; the application's exit
    // then comes back later.
    static BOOL IsAnyWaiting();

private:
    // Stops the workers of the given views and waits for them, serving the
    // window's events meanwhile.
    void StopAndWait(const std::vector<CRegprobeView*>& views);
    std::vector<CRegprobeView*> PollViews(CMDIChildWnd* pFrame) const;

    BOOL m_bClosing = FALSE;
    int m_nWaiting = 0;
    // Context of deferred closes: they die with the document.
    std::unique_ptr<QObject> m_pContext;
};
