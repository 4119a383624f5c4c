#include "Object.h"

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass) {
        if (p == pBaseClass) {
            return TRUE;
        }
    }
    return FALSE;
}

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

IMPLEMENT_DYNAMIC(CException, CObject)

BOOL CException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    if (lpszError != nullptr && nMaxError > 0) {
        *lpszError = '\0';
    }
    return FALSE;
}

void AfxCopyErrorMessage(const char* pszText, char* lpszError, UINT nMaxError) {
    if (lpszError == nullptr || nMaxError == 0) {
        return;
    }
    size_t n = std::strlen(pszText);
    if (n > 199) {
        n = 199;
    }
    if (n > nMaxError - 1) {
        n = nMaxError - 1;
    }
    std::memcpy(lpszError, pszText, n);
    lpszError[n] = '\0';
}
