// Shared pieces of the remoting tests: private directories, safe-array
// variants, fake commands and bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/ComApi.h"
#include "platform/com/ComPtr.h"
#include "platform/com/rpc/RpcSettings.h"
#include "serialapi/ModbusSerialServer.h"
#include "serialapi/ModbusSerialServerPs.h"
#include "tests/support/TempDir.h"
#include "tests/support/Timing.h"

// COM on this thread with the serial server's proxies registered, runtime
// files in a private directory, every call bounded by 10 s.
class CComTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(RegisterModbusSerialServerPs(), S_OK);
        CoSetRuntimeDirectory(m_dir.Path().c_str());
        CoSetCallTimeout(10000);
    }
    void TearDown() override {
        CoSetRuntimeDirectory(nullptr);
        CoSetCallTimeout(0);
        CoUninitialize();
    }

    CTempDir m_dir;
};

// The port's TCP server, asked for through the dispatch interface it hands
// out (kept in *ppDispatch when given); null when either step fails.
CComPtr<IModbusTcpServer> TcpServerOf(IModbusSerialPort* pPort, IDispatch** ppDispatch = nullptr);

// A VT_ARRAY variant of VT_UI1, VT_I2 or VT_I4 elements.
VARIANT MakeArray(VARTYPE vtElement, LONG lLbound, const std::vector<LONG>& values);
std::vector<LONG> ArrayValues(const VARIANT& var);
// Transfers the bytes as a VT_UI1 array; the echo or answer comes in *pAnswer.
HRESULT TransferBytes(IModbusSerialPort* pPort, const std::vector<LONG>& bytes,
                      LONG nResponseLength = 4, std::vector<LONG>* pAnswer = nullptr,
                      LONG* pnStatus = nullptr);
// Runs a fake command (see FakeSerialPort.h) and returns its 4-byte answer;
// -1 when the call fails.
LONG RunFakeCommand(IModbusSerialPort* pPort, BYTE byCode);
