// Our Modbus/TCP master against pymodbus's TCP server in a child process,
// whose contents follow pymodbus_peer.py. Reads are checked against
// those contents, so reading back what the master wrote is fair.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/ChildProcess.h"
#include "testview/ReadWrite.h"
#include "testview/RowFormat.h"
#include "transport/RemoteModbus.h"

namespace {
class PymodbusPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/python3", X_OK) != 0) {
            GTEST_SKIP() << "no /usr/bin/python3";
        }
        std::string strLine;
        ASSERT_TRUE(m_server.Start({"/usr/bin/python3", REGPROBE_PYMODBUS_PEER, "tcp"}));
        ASSERT_TRUE(m_server.ReadLine(strLine, 20000)) << "the pymodbus server did not start";
        if (strLine.rfind("skip ", 0) == 0) {
            GTEST_SKIP() << strLine;
        }
        ASSERT_EQ(strLine.rfind("port ", 0), 0u) << strLine;
        ASSERT_TRUE(
            m_master.Connect("127.0.0.1", static_cast<WORD>(std::stoi(strLine.substr(5))), 2000));
    }
    CWordArray Holdings(WORD wAddress, WORD wCount) {
        CWordArray values(wCount);
        EXPECT_EQ(m_master.ReadOutputRegisters(1, wAddress, wCount, values), 0);
        return values;
    }

    CChildProcess m_server;
    CRemoteModbus m_master;
};

// Reads, writes and exceptions through the same master are checked against
// libmodbus; here what pymodbus alone does: its own packing, and loopback.
TEST_F(PymodbusPeer, FloatsAndDoublesAsPymodbusPacksThemAndLoopback) {
    EXPECT_EQ(m_master.LoopbackTest(17), 0);
    // A float and a double packed by pymodbus, most significant word first
    // at 900 and 904, least significant first at 902 and 908.
    for (BOOL bReverse : {TRUE, FALSE}) {
        const WORD wFloatAt = bReverse ? 900 : 902, wDoubleAt = bReverse ? 904 : 908;
        CFloatArray floats(1), inputFloats(1);
        CDoubleArray doubles(1), inputDoubles(1);
        ASSERT_EQ(m_master.ReadOutputRegistersFloat(1, wFloatAt, 1, floats, bReverse), 0);
        ASSERT_EQ(m_master.ReadInputRegistersFloat(1, wFloatAt, 1, inputFloats, bReverse), 0);
        ASSERT_EQ(m_master.ReadOutputRegistersDouble(1, wDoubleAt, 1, doubles, bReverse), 0);
        ASSERT_EQ(m_master.ReadInputRegistersDouble(1, wDoubleAt, 1, inputDoubles, bReverse), 0);
        EXPECT_EQ(floats[0], -1234.5625f) << "reverse " << bReverse;
        EXPECT_EQ(inputFloats[0], -1234.5625f) << "reverse " << bReverse;
        EXPECT_EQ(doubles[0], 3.141592653589793) << "reverse " << bReverse;
        EXPECT_EQ(inputDoubles[0], 3.141592653589793) << "reverse " << bReverse;
    }
}

// The test window's 32- and 64-bit types against pymodbus's own packing in
// each byte order, then written by the window's write and read back, or
// compared with pymodbus's registers.
TEST_F(PymodbusPeer, WideValuesInEachOrderAsPymodbusPacksThem) {
    const char* const orders[] = {"ABCD", "CDAB", "BADC", "DCBA"};
    auto read = [&](int nType, const std::string& strAt) {
        CReadSettings settings;
        settings.pModbus = &m_master;
        settings.nReadFunction = READ_OUTPUT_REGISTERS;
        settings.nDataType = nType;
        settings.strDevice = "1";
        settings.strAddress = strAt;
        settings.strQuantity = "1";
        return ReadOnce(settings);
    };
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(orders[k]);
        const std::string strAt = std::to_string(920 + 2 * k);
        const std::string strFloatAt = std::to_string(928 + 2 * k);
        CReadResult r = read(TYPE_UNSIGNED_32_FIRST + k, strAt);
        ASSERT_EQ(r.wStatus, 0);
        EXPECT_EQ(r.list.rows, std::vector<CString>{"[" + strAt + "]=305419896 "});
        r = read(TYPE_FLOAT_32_FIRST + k, strFloatAt);
        ASSERT_EQ(r.wStatus, 0);
        EXPECT_EQ(r.list.rows, std::vector<CString>{"[" + strFloatAt + "]=123456 "});

        // Written as the window writes it, read back as pymodbus holds it.
        const std::string strTo = std::to_string(950 + 2 * k);
        CWriteResult w = WriteOnce({&m_master, WRITE_PRESET_SINGLE_REGISTER,
                                    TYPE_SIGNED_32_FIRST + k, "1", strTo, "-123456789"});
        ASSERT_TRUE(w.bWritten);
        EXPECT_EQ(w.wStatus, 0) << w.strError;
        r = read(TYPE_SIGNED_32_FIRST + k, strTo);
        EXPECT_EQ(r.list.rows, std::vector<CString>{"[" + strTo + "]=-123456789 "});
    }
    // The same value in two orders is laid out differently on the device.
    EXPECT_NE(Holdings(920, 2), Holdings(922, 2));
    EXPECT_EQ(Holdings(920, 2), (CWordArray{0x1234, 0x5678}));

    // Each 64-bit kind in each order from 1000 as pymodbus packed it; the
    // window's write of the same text sends the same registers.
    const struct {
        int nFirst;
        const char* pszText;
        const char* pszExact;
    } kWide[] = {{TYPE_SIGNED_64_FIRST, "-81985529216486896", "-81985529216486896"},
                 {TYPE_UNSIGNED_64_FIRST, "9843086184167632639", "9843086184167632639"},
                 {TYPE_FLOAT_64_FIRST, "3.141592653589793", "3.1415926535897931"}};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(std::string(kWide[i].pszText) + " " + orders[k]);
            const WORD wAt = WORD(1000 + 16 * i + 4 * k), wTo = WORD(wAt + 60);
            const CReadResult r = read(kWide[i].nFirst + k, std::to_string(wAt));
            ASSERT_EQ(r.wStatus, 0);
            ASSERT_EQ(r.values.size(), 1u);
            EXPECT_EQ(ExactText(r.values[0]), kWide[i].pszExact);
            const CWriteResult w =
                WriteOnce({&m_master, WRITE_PRESET_SINGLE_REGISTER, kWide[i].nFirst + k, "1",
                           std::to_string(wTo), kWide[i].pszText});
            ASSERT_TRUE(w.bWritten);
            EXPECT_EQ(w.wStatus, 0) << w.strError;
            EXPECT_EQ(Holdings(wTo, 4), Holdings(wAt, 4));
        }
    }
}

}  // namespace

namespace {
// What the master's raw exchange gives back for the bytes given (device
// address first), or the status when it is not 0.
CByteArray Raw(CRemoteModbus& master, CByteArray request) {
    CByteArray answer;
    const WORD wStatus = master.Transact(request, DWORD(request.size()), answer, 256, FALSE);
    EXPECT_EQ(wStatus, 0);
    return answer;
}
}  // namespace

// The functions the form does not offer, as the poller's --raw sends them
// and as pymodbus serves them.
TEST_F(PymodbusPeer, WriteCoilsMaskWriteAndReadWriteRegisters) {
    EXPECT_EQ(Raw(m_master, {1, 0x0F, 0, 50, 0, 10, 2, 0xCD, 0x01}),
              (CByteArray{1, 0x0F, 0, 50, 0, 10}));
    CByteArray coils(10);
    ASSERT_EQ(m_master.ReadOutputStatus(1, 50, 10, coils), 0);
    EXPECT_EQ(coils, (CByteArray{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));

    const WORD wBefore = Holdings(60, 1)[0];
    EXPECT_EQ(Raw(m_master, {1, 0x16, 0, 60, 0x00, 0xF2, 0x00, 0x25}),
              (CByteArray{1, 0x16, 0, 60, 0x00, 0xF2, 0x00, 0x25}));
    EXPECT_EQ(Holdings(60, 1)[0], WORD((wBefore & 0x00F2) | (0x0025 & ~0x00F2)));

    const WORD wNext = Holdings(71, 1)[0];
    EXPECT_EQ(Raw(m_master, {1, 0x17, 0, 70, 0, 2, 0, 70, 0, 1, 2, 0xAB, 0xCD}),
              (CByteArray{1, 0x17, 4, 0xAB, 0xCD, BYTE(wNext >> 8), BYTE(wNext)}));
}
