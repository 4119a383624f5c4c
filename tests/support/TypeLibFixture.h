// A scratch directory that stands in for the XDG data directory while a
// type-library test runs, and what the tests read back from it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Unicode.h"
#include "platform/com/ComPtr.h"
#include "tests/support/FileLines.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TypeLibBuilder.h"

namespace {
const GUID kLibId = {0x12345678, 0x9ABC, 0xDEF0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
const char* const kLibIdText = "{12345678-9ABC-DEF0-1122-334455667788}";

std::vector<std::string> RegistryLines() {
    return FileLines(TypeLibRegistryPath());
}

class TypeLibTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }

    std::string Path(const char* pszName) const { return m_dir.Path() + "/" + pszName; }

    // Loads the file; the attributes, or the failure.
    HRESULT Load(const std::string& strPath, TLIBATTR& attr) {
        CComPtr<ITypeLib> pLib;
        HRESULT hr = LoadTypeLib(MultiByteToWide(strPath).c_str(), &pLib);
        if (SUCCEEDED(hr)) {
            TLIBATTR* pAttr = nullptr;
            EXPECT_EQ(pLib->GetLibAttr(&pAttr), S_OK);
            attr = *pAttr;
            pLib->ReleaseTLibAttr(pAttr);
        }
        return hr;
    }

    CTempDir m_dir;
    CScopedEnv m_data{"XDG_DATA_HOME", (m_dir.Path() + "/data").c_str()};
};
}  // namespace
