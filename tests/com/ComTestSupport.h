// Shared pieces of the remoting tests: private directories, safe-array
// variants, fake commands and bounded waits.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serialapi/ModbusSerialServer.h"
#include "tests/support/TempDir.h"

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
long MillisSince(std::chrono::steady_clock::time_point start);
// Polls the condition every 10 ms for at most nMillis.
bool WaitUntil(const std::function<bool()>& condition, int nMillis);
