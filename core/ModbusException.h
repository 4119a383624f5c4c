// Raised by a master in throwing mode after the last failed attempt.
#pragma once

#include "platform/Object.h"

class CModbusException : public CException {
    DECLARE_DYNAMIC(CModbusException)

public:
    CModbusException(const CString& strText, WORD wStatus)
        : m_wStatus(wStatus), m_strText(strText) {}

    // "<text> error #<status>", or "<text> error" for status 0.
    BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;

    int m_wStatus;
    CString m_strText;
};
