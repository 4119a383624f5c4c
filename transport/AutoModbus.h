// The master of a serial line behind the external automation server: each
// request frame goes to the server's Transfer in a safe array, the answer
// comes back the same way, and the server's status becomes a master status.
#pragma once

#include <atomic>

#include "core/Modbus.h"
#include "platform/com/ComPtr.h"
#include "serialapi/ModbusSerialServer.h"

enum : WORD {
    AUTO_AUTOMATION_ERROR = 2000,
    AUTO_BUILD_ARRAY_ERROR = 2001,
};

class CAutoModbus : public CModbus {
    DECLARE_DYNAMIC(CAutoModbus)

public:
    CAutoModbus();
    // Releases the server objects; the port's settings and the server's TCP
    // server stay as they are.
    ~CAutoModbus() override;

    // The base's part, then the line's settings as the server has them now
    // and its TCP server's.
    void WriteSettings(CArchive& ar) override;
    void Load(CArchive& ar, ELoad mode) override;
    WORD Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                  DWORD dwResponseLength, BOOL bFlag) override;
    CString GetErrorText(WORD wStatus) override;
    // TRUE when the server reports the port open (by any of its clients).
    BOOL IsConnected() override;

    // Creates the server object on this machine (empty name) or on the named
    // one, and selects the port ("com1".."com8"). 0, or the failing HRESULT.
    HRESULT Create(CString strServer, CString strPort);
    void ReleaseServer();
    // Takes other's server objects, names and exchange limit, leaving it
    // without; no call reaches the server. This master must have none.
    void TakeServerFrom(CAutoModbus& other);
    // Takes only other's exchange limit: the port's settings changed through
    // another object.
    void TakeExchangeLimitFrom(const CAutoModbus& other) {
        m_dwExchangeLimit = other.m_dwExchangeLimit.load();
    }
    CString GetServerName() const { return m_strServer; }

    // The port's settings on the server. Without a server object getters
    // answer 0 and setters do nothing.
    BYTE GetPort();
    void SetPort(BYTE nPort);
    LONG GetBaudRate();
    void SetBaudRate(LONG nBaudRate);
    BYTE GetParity();
    void SetParity(BYTE nParity);
    BYTE GetFlowControl();
    void SetFlowControl(BYTE nFlowControl);
    BYTE GetStopBits();
    void SetStopBits(BYTE nStopBits);
    SHORT GetByteSize();
    void SetByteSize(SHORT nByteSize);
    SHORT GetMode();
    void SetMode(SHORT nMode);
    LONG GetTimeout();
    void SetTimeout(LONG nTimeout);
    LONG GetSilentInterval();
    void SetSilentInterval(LONG nSilentInterval);
    LONG GetErrorDelay();
    void SetErrorDelay(LONG nErrorDelay);
    // Opens the port with the current settings; TRUE when the server did.
    // *phr (when given): the server's HRESULT, which says why it did not.
    BOOL Connect(HRESULT* phr = nullptr);

    CComPtr<IModbusSerialPort> m_pPort;
    CComPtr<IModbusTcpServer> m_pTcpServer;
    CString m_strServer;
    CString m_strPort;

    // Bounds of the calls to the server: a property call, and the slack an
    // exchange gets beyond the port's time-out and error delay.
    static constexpr DWORD kPropertyCallMillis = 5000;
    static constexpr DWORD kExchangeMarginMillis = 2000;
    // How long an exchange may take on a port with these settings.
    static DWORD ExchangeLimitOf(LONG nTimeout, LONG nErrorDelay);

private:
    // The exchange through the server; *pnServerStatus: the status it returned.
    WORD Transfer(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                  DWORD dwResponseLength, BOOL bFlag, LONG* pnServerStatus);
    // A property of the port within the call limit: 0 without a server
    // object, and a setter then does nothing (false).
    template <typename T>
    T GetProperty(HRESULT (IModbusSerialPort::*get)(T*));
    template <typename T, typename V>
    bool SetProperty(HRESULT (IModbusSerialPort::*put)(T), V n);
    // The archive's record of the port and its TCP server, in file order.
    void StoreSettings(CArchive& ar);
    void LoadSettings(CArchive& ar, ELoad mode);
    // The nine settings as the record holds them, then the port, then open.
    void ApplyPortSettings(const DWORD (&v)[9], DWORD dwPort);
    // Reads the port's time-out and error delay into the exchange limit.
    void RefreshExchangeLimit();

    // Read by the poll worker's exchanges while the window changes settings.
    std::atomic<DWORD> m_dwExchangeLimit{kPropertyCallMillis + kExchangeMarginMillis};
};
