// Command targets: each keeps a map from command ids (and, for controls, the
// notification code) to handlers. Frames pass a command along the active
// view, its document, themselves and the application, in that order.
#pragma once

#include <functional>
#include <vector>

#include "WinUser.h"
#include "platform/Object.h"

class CCmdUI;

constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;

// Filled instead of running the handler when the caller only asks whether a
// target handles a command.
struct AFX_CMDHANDLERINFO {
    class CCmdTarget* pTarget;
};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)

public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // nCode is CN_COMMAND (or a control's notification code) to run the
    // handler of nID, CN_UPDATE_COMMAND_UI to let its update handler set the
    // state of pExtra (a CCmdUI). Returns TRUE when this target handled it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo);

protected:
    // Entries added later win, so a derived class overrides its base.
    void MapCommand(UINT nID, std::function<void()> pfn);
    void MapCommandRange(UINT nFirst, UINT nLast, std::function<void(UINT)> pfn);
    void MapNotify(UINT nID, int nCode, std::function<void()> pfn);
    void MapUpdateCommandUI(UINT nID, std::function<void(CCmdUI*)> pfn);

private:
    struct Entry {
        UINT nFirst;
        UINT nLast;
        int nCode;
        std::function<void(UINT)> pfnCommand;
        std::function<void(CCmdUI*)> pfnUpdate;
    };
    std::vector<Entry> m_map;
};
