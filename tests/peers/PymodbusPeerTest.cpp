// Our Modbus/TCP master against pymodbus's TCP server in a child process,
// whose contents follow pymodbus_peer.py. Reads are checked against
// those contents, so reading back what the master wrote is fair.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/peers/WordOrder.h"
#include "tests/support/ChildProcess.h"
#include "testview/ReadCycle.h"
#include "testview/RowFormat.h"
#include "transport/RemoteModbus.h"

namespace {
constexpr int kSize = 1000;

WORD Holding(int i) {
    return static_cast<WORD>(i * 7919 + 13);
}

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

TEST_F(PymodbusPeer, ReadsTheDatastoreAndPymodbusPackingInBothWordOrders) {
    CByteArray coils(997), inputs(999);
    CWordArray input(125);
    ASSERT_EQ(m_master.ReadOutputStatus(1, 3, 997, coils), 0);
    ASSERT_EQ(m_master.ReadInputStatus(1, 1, 999, inputs), 0);
    ASSERT_EQ(m_master.ReadInputRegisters(1, 333, 125, input), 0);
    const CWordArray holding = Holdings(775, 125);
    for (int i = 0; i < 997; ++i) {
        ASSERT_EQ(coils[i], i % 3 == 0) << "coil " << 3 + i;
        ASSERT_EQ(inputs[i], i % 5 == 0 || i % 5 == 1) << "input " << 1 + i;
    }
    for (int i = 0; i < 125; ++i) {
        ASSERT_EQ(holding[i], Holding(775 + i)) << "holding register " << 775 + i;
        ASSERT_EQ(input[i], static_cast<WORD>((333 + i) * 40503 + 101)) << "input register " << i;
    }

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

// The test window's 32-bit types against pymodbus's own packing in each byte
// order, then written by the window's write and read back.
TEST_F(PymodbusPeer, ThirtyTwoBitValuesInEachOrderAsPymodbusPacksThem) {
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
}

TEST_F(PymodbusPeer, WritesLandAtTheAddressGivenAndLoopbackIsEchoed) {
    for (BYTE byState : {1, 0}) {
        ASSERT_EQ(m_master.ForceSingleCoil(1, 10, byState), 0);
        CByteArray coils(3);
        ASSERT_EQ(m_master.ReadOutputStatus(1, 9, 3, coils), 0);
        EXPECT_EQ(coils, (CByteArray{1, byState, 0}));
    }
    ASSERT_EQ(m_master.PresetSingleRegister(1, 100, 0xBEEF), 0);
    EXPECT_EQ(Holdings(99, 3), (CWordArray{Holding(99), 0xBEEF, Holding(101)}));
    CWordArray values(123);
    for (WORD i = 0; i < 123; ++i) {
        values[i] = static_cast<WORD>(0xA000 + 7 * i);
    }
    ASSERT_EQ(m_master.PresetMultipleRegisters(1, 200, 123, values), 0);
    values.insert(values.begin(), Holding(199));
    values.push_back(Holding(323));
    EXPECT_EQ(Holdings(199, 125), values);
    for (BOOL bReverse : {FALSE, TRUE}) {
        ASSERT_EQ(m_master.PresetRegisterFloat(1, 400, 2.5e-7f, bReverse), 0);
        ASSERT_EQ(m_master.PresetRegisterDouble(1, 410, -6.02214076e23, bReverse), 0);
        EXPECT_EQ(Holdings(400, 2), WordsOf(2.5e-7f, bReverse)) << "reverse " << bReverse;
        EXPECT_EQ(Holdings(410, 4), WordsOf(-6.02214076e23, bReverse)) << "reverse " << bReverse;
    }
    EXPECT_EQ(m_master.LoopbackTest(17), 0);
}

TEST_F(PymodbusPeer, ExceptionsOfTheServerAreReported) {
    CByteArray states(8);
    CWordArray values(3);
    EXPECT_EQ(m_master.ReadOutputStatus(1, kSize - 7, 8, states), 0x8002);
    EXPECT_EQ(m_master.ReadInputRegisters(1, 0xFFFF, 1, values), 0x8002);
    EXPECT_EQ(m_master.PresetMultipleRegisters(1, kSize - 2, 3, values), 0x8002);
    // The connection stays usable.
    EXPECT_EQ(Holdings(7, 1), CWordArray{Holding(7)});
}
}  // namespace
