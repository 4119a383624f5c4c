#include "ResourceModule.h"

#include <QCoreApplication>
#include <QIcon>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace {
HINSTANCE g_hInstResource = nullptr;

template <typename T>
const T* FindById(const std::vector<T>& table, UINT nID) {
    auto it = std::find_if(table.begin(), table.end(), [nID](const T& r) { return r.nID == nID; });
    return it == table.end() ? nullptr : &*it;
}

// Shared icons live until the application object goes; QIcon must not
// outlive it.
std::map<std::pair<HINSTANCE, UINT>, std::unique_ptr<QIcon>>& IconCache() {
    static std::map<std::pair<HINSTANCE, UINT>, std::unique_ptr<QIcon>> cache;
    return cache;
}

void ClearIconCache() {
    IconCache().clear();
}
}  // namespace

const CDialogTemplate* CResourceModule::FindDialog(UINT nID) const {
    return FindById(m_dialogs, nID);
}
const CMenuTemplate* CResourceModule::FindMenu(UINT nID) const {
    return FindById(m_menus, nID);
}
const CAcceleratorTable* CResourceModule::FindAccelerators(UINT nID) const {
    return FindById(m_accelerators, nID);
}
const CToolBarTemplate* CResourceModule::FindToolBar(UINT nID) const {
    return FindById(m_toolBars, nID);
}
const CStringEntry* CResourceModule::FindString(UINT nID) const {
    return FindById(m_strings, nID);
}
const CImageEntry* CResourceModule::FindIcon(UINT nID) const {
    return FindById(m_icons, nID);
}
const CImageEntry* CResourceModule::FindBitmap(UINT nID) const {
    return FindById(m_bitmaps, nID);
}

void AfxSetResourceHandle(HINSTANCE hInstResource) {
    g_hInstResource = hInstResource;
}

HINSTANCE AfxGetResourceHandle() {
    return g_hInstResource;
}

int LoadString(HINSTANCE hInstance, UINT nID, char* lpBuffer, int nBufferMax) {
    if (lpBuffer == nullptr || nBufferMax <= 0) {
        return 0;
    }
    const CStringEntry* pEntry = hInstance ? hInstance->FindString(nID) : nullptr;
    if (pEntry == nullptr) {
        lpBuffer[0] = '\0';
        return 0;
    }
    size_t n = std::min(pEntry->str.size(), static_cast<size_t>(nBufferMax - 1));
    std::memcpy(lpBuffer, pEntry->str.data(), n);
    lpBuffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL AfxLoadString(UINT nID, CString& rString) {
    const CStringEntry* pEntry = g_hInstResource ? g_hInstResource->FindString(nID) : nullptr;
    if (pEntry == nullptr) {
        rString.clear();
        return FALSE;
    }
    rString = pEntry->str;
    return TRUE;
}

CString AfxLoadString(UINT nID) {
    CString str;
    AfxLoadString(nID, str);
    return str;
}

HICON LoadIcon(HINSTANCE hInstance, UINT nID) {
    const CImageEntry* pEntry = hInstance ? hInstance->FindIcon(nID) : nullptr;
    if (pEntry == nullptr || QCoreApplication::instance() == nullptr) {
        return nullptr;
    }
    auto& cache = IconCache();
    auto key = std::make_pair(hInstance, nID);
    auto it = cache.find(key);
    if (it != cache.end()) {
        return it->second.get();
    }
    auto pIcon = std::make_unique<QIcon>();
    for (const std::string& file : pEntry->files) {
        QPixmap pixmap(QString::fromStdString(file));
        if (!pixmap.isNull()) {
            pIcon->addPixmap(pixmap);
        }
    }
    if (pIcon->isNull()) {
        return nullptr;
    }
    if (cache.empty()) {
        qAddPostRoutine(ClearIconCache);
    }
    return cache.emplace(key, std::move(pIcon)).first->second.get();
}

QPixmap AfxLoadBitmap(UINT nID) {
    const CImageEntry* pEntry = g_hInstResource ? g_hInstResource->FindBitmap(nID) : nullptr;
    if (pEntry == nullptr || pEntry->files.empty()) {
        return QPixmap();
    }
    return QPixmap(QString::fromStdString(pEntry->files.front()));
}
