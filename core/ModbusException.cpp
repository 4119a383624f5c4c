#include "ModbusException.h"

#include <cstdio>

IMPLEMENT_DYNAMIC(CModbusException, CException)

BOOL CModbusException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT*) {
    char text[200];
    if (m_wStatus != 0) {
        std::snprintf(text, sizeof text, "%s error #%d", m_strText.c_str(), m_wStatus);
    } else {
        std::snprintf(text, sizeof text, "%s error", m_strText.c_str());
    }
    AfxCopyErrorMessage(text, lpszError, nMaxError);
    return TRUE;
}
