#include "CommandLineInfo.h"

#include <strings.h>

#include <cstring>

void CCommandLineInfo::ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) {
    if (bFlag) {
        ParseParamFlag(pszParam);
    } else {
        ParseParamNotFlag(pszParam);
    }
    ParseLast(bLast);
}

void CCommandLineInfo::ParseParamFlag(const char* pszParam) {
    // Shell switches are case-sensitive, automation switches are not.
    if (std::strcmp(pszParam, "pt") == 0) {
        m_nShellCommand = FilePrintTo;
    } else if (std::strcmp(pszParam, "p") == 0) {
        m_nShellCommand = FilePrint;
    } else if (strcasecmp(pszParam, "Register") == 0 || strcasecmp(pszParam, "Regserver") == 0) {
        m_nShellCommand = AppRegister;
    } else if (strcasecmp(pszParam, "Unregister") == 0 ||
               strcasecmp(pszParam, "Unregserver") == 0) {
        m_nShellCommand = AppUnregister;
    } else if (std::strcmp(pszParam, "dde") == 0) {
        m_nShellCommand = FileDDE;
    } else if (strcasecmp(pszParam, "Embedding") == 0) {
        m_bRunEmbedded = TRUE;
        m_bShowSplash = FALSE;
    } else if (strcasecmp(pszParam, "Automation") == 0) {
        m_bRunAutomated = TRUE;
        m_bShowSplash = FALSE;
    }
}

void CCommandLineInfo::ParseParamNotFlag(const char* pszParam) {
    if (m_strFileName.empty()) {
        m_strFileName = pszParam;
    } else if (m_nShellCommand == FilePrintTo && m_strPrinterName.empty()) {
        m_strPrinterName = pszParam;
    } else if (m_nShellCommand == FilePrintTo && m_strDriverName.empty()) {
        m_strDriverName = pszParam;
    } else if (m_nShellCommand == FilePrintTo && m_strPortName.empty()) {
        m_strPortName = pszParam;
    }
}

void CCommandLineInfo::ParseLast(BOOL bLast) {
    if (bLast) {
        if (m_nShellCommand == FileNew && !m_strFileName.empty()) {
            m_nShellCommand = FileOpen;
        }
        m_bShowSplash = !m_bRunEmbedded && !m_bRunAutomated;
    }
}
