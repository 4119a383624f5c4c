// The object root with run-time class information, and the exception root.
// Exceptions are created on the heap, thrown as pointers and deleted by the
// catcher with Delete().
#pragma once

#include <cstring>

#include "WinTypes.h"

class CArchive;

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;

    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)               \
public:                                           \
    static const CRuntimeClass class##class_name; \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                    \
    const CRuntimeClass class_name::class##class_name = {#class_name,                     \
                                                         RUNTIME_CLASS(base_class_name)}; \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                            \
        return RUNTIME_CLASS(class_name);                                                 \
    }

class CObject {
public:
    static const CRuntimeClass classCObject;

    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual void Serialize(CArchive& ar);

    BOOL IsKindOf(const CRuntimeClass* pClass) const;
};

class CException : public CObject {
    DECLARE_DYNAMIC(CException)

public:
    // Writes the message into lpszError (at most nMaxError - 1 characters and a
    // terminator). Returns TRUE when a message was written.
    virtual BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr);
    void Delete() { delete this; }
};

// Formats into a text of at most 199 characters and copies at most nMaxError - 1
// of them into the caller's buffer, terminated; the exceptions' common step.
void AfxCopyErrorMessage(const char* pszText, char* lpszError, UINT nMaxError);
