#include "CmdTarget.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
    for (auto it = m_map.rbegin(); it != m_map.rend(); ++it) {
        if (nID < it->nFirst || nID > it->nLast) {
            continue;
        }
        if (nCode == CN_UPDATE_COMMAND_UI) {
            if (it->pfnUpdate) {
                it->pfnUpdate(static_cast<CCmdUI*>(pExtra));
                return TRUE;
            }
            continue;
        }
        if (it->nCode != nCode || !it->pfnCommand) {
            continue;
        }
        if (pHandlerInfo != nullptr) {
            pHandlerInfo->pTarget = this;
            return TRUE;
        }
        // The handler may destroy this target; copy it first.
        std::function<void(UINT)> pfn = it->pfnCommand;
        pfn(nID);
        return TRUE;
    }
    return FALSE;
}

void CCmdTarget::MapCommand(UINT nID, std::function<void()> pfn) {
    m_map.push_back({nID, nID, CN_COMMAND, [pfn](UINT) { pfn(); }, {}});
}

void CCmdTarget::MapCommandRange(UINT nFirst, UINT nLast, std::function<void(UINT)> pfn) {
    m_map.push_back({nFirst, nLast, CN_COMMAND, std::move(pfn), {}});
}

void CCmdTarget::MapNotify(UINT nID, int nCode, std::function<void()> pfn) {
    m_map.push_back({nID, nID, nCode, [pfn](UINT) { pfn(); }, {}});
}

void CCmdTarget::MapUpdateCommandUI(UINT nID, std::function<void(CCmdUI*)> pfn) {
    m_map.push_back({nID, nID, CN_COMMAND, {}, std::move(pfn)});
}
