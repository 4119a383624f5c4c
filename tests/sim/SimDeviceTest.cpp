#include "sim/SimDevice.h"

#include <gtest/gtest.h>

namespace {
using Table = CSimDevice::Table;

// The answer PDU, or {} when the unit says nothing.
CByteArray Ask(CSimDevice& device, const CByteArray& pdu, BYTE unit = 1) {
    CByteArray answer{0xDE, 0xAD};
    if (!device.ProcessPdu(unit, pdu.data(), pdu.size(), answer)) {
        EXPECT_TRUE(answer.empty());
        return {};
    }
    return answer;
}

CByteArray Exception(BYTE byFunction, BYTE code) {
    return {static_cast<BYTE>(byFunction | 0x80), code};
}
}  // namespace

TEST(SimDevice, ReadsPackBitsLsbFirstAndRegistersBigEndian) {
    CSimDevice device;
    for (size_t a : {3, 5, 12}) {
        device.SetCoil(a, TRUE);
    }
    device.SetDiscreteInput(9999, TRUE);
    device.SetHoldingRegister(7, 0x1234);
    device.SetInputRegister(9999, 0xABCD);

    // Coils 3..13: bits 0, 2 and 9 set.
    EXPECT_EQ(Ask(device, {1, 0, 3, 0, 11}), (CByteArray{1, 2, 0x05, 0x02}));
    EXPECT_EQ(Ask(device, {2, 0x27, 0x0E, 0, 2}), (CByteArray{2, 1, 0x02}));
    EXPECT_EQ(Ask(device, {3, 0, 6, 0, 2}), (CByteArray{3, 4, 0, 0, 0x12, 0x34}));
    EXPECT_EQ(Ask(device, {4, 0x27, 0x0F, 0, 1}), (CByteArray{4, 2, 0xAB, 0xCD}));
}

TEST(SimDevice, WritesEchoAndReadBack) {
    CSimDevice device;
    EXPECT_EQ(Ask(device, {5, 0, 4, 0xFF, 0}), (CByteArray{5, 0, 4, 0xFF, 0}));
    EXPECT_TRUE(device.GetCoil(4));
    EXPECT_EQ(Ask(device, {5, 0, 4, 0, 0}), (CByteArray{5, 0, 4, 0, 0}));
    EXPECT_FALSE(device.GetCoil(4));

    EXPECT_EQ(Ask(device, {6, 0, 9, 0xBE, 0xEF}), (CByteArray{6, 0, 9, 0xBE, 0xEF}));
    EXPECT_EQ(device.GetHoldingRegister(9), 0xBEEF);

    // Ten coils from 20: 1,0,1,1,0,0,0,0 | 1,1.
    EXPECT_EQ(Ask(device, {15, 0, 20, 0, 10, 2, 0x0D, 0x03}), (CByteArray{15, 0, 20, 0, 10}));
    EXPECT_EQ(Ask(device, {1, 0, 20, 0, 10}), (CByteArray{1, 2, 0x0D, 0x03}));
    EXPECT_EQ(Ask(device, {16, 0, 30, 0, 2, 4, 0x11, 0x22, 0x33, 0x44}),
              (CByteArray{16, 0, 30, 0, 2}));
    EXPECT_EQ(Ask(device, {3, 0, 30, 0, 2}), (CByteArray{3, 4, 0x11, 0x22, 0x33, 0x44}));

    EXPECT_EQ(Ask(device, {8, 0, 0, 0xA5, 0x37, 0x01}), (CByteArray{8, 0, 0, 0xA5, 0x37, 0x01}));

    // Mask write: (0x12 AND 0xF2) OR (0x25 AND NOT 0xF2) is 0x17.
    device.SetHoldingRegister(4, 0x12);
    EXPECT_EQ(Ask(device, {22, 0, 4, 0, 0xF2, 0, 0x25}), (CByteArray{22, 0, 4, 0, 0xF2, 0, 0x25}));
    EXPECT_EQ(device.GetHoldingRegister(4), 0x17);
    // Read/write: the write first, so the read sees it.
    EXPECT_EQ(Ask(device, {23, 0, 29, 0, 2, 0, 30, 0, 1, 2, 0xAB, 0xCD}),
              (CByteArray{23, 4, 0, 0, 0xAB, 0xCD}));
}

TEST(SimDevice, RefusesWithTheStandardExceptions) {
    CSimDevice device;
    device.Resize(Table::HoldingRegisters, 100);
    struct Case {
        CByteArray pdu;
        BYTE code;  // 0: must succeed
    } cases[] = {
        {{7}, 1},
        {{0x2B, 0x0E, 1, 0}, 1},
        {{8, 0, 1, 0, 0}, 1},
        // Quantities: 0 and one above each limit refused, the limit itself served.
        {{1, 0, 0, 0, 0}, 3},
        {{1, 0, 0, 0x07, 0xD1}, 3},
        {{2, 0, 0, 0x07, 0xD0}, 0},
        {{3, 0, 0, 0, 0}, 3},
        {{4, 0, 0, 0, 126}, 3},
        {{4, 0, 0, 0, 125}, 0},
        {{16, 0, 0, 0, 0, 0}, 3},
        {{5, 0, 0, 0x12, 0x34}, 3},
        {{5, 0, 0, 0x00, 0xFF}, 3},
        // Byte counts that disagree with the quantity or the data sent.
        {{16, 0, 0, 0, 1, 4, 0, 1, 0, 2}, 3},
        {{16, 0, 0, 0, 2, 4, 0, 1, 0}, 3},
        {{15, 0, 0, 0, 9, 1, 0xFF}, 3},
        {{15, 0, 0, 0, 9, 2, 0xFF}, 3},
        {{3, 0, 0, 0}, 3},
        // Ranges leaving a table, including ones that would wrap at 64 K.
        {{3, 0, 99, 0, 1}, 0},
        {{3, 0, 99, 0, 2}, 2},
        {{6, 0, 100, 0, 1}, 2},
        {{3, 0xFF, 0xFF, 0, 2}, 2},
        {{1, 0x27, 0x10, 0, 1}, 2},
        {{5, 0x27, 0x10, 0xFF, 0}, 2},
        {{16, 0, 99, 0, 2, 4, 0, 1, 0, 2}, 2},
        {{15, 0x27, 0x0F, 0, 2, 1, 3}, 2},
        {{22, 0, 100, 0, 0, 0, 0}, 2},
        {{22, 0, 1, 0, 0, 0}, 3},
        {{23, 0, 0, 0, 126, 0, 0, 0, 1, 2, 0, 0}, 3},
        {{23, 0, 0, 0, 1, 0, 0, 0, 1, 4, 0, 0}, 3},
        {{23, 0, 99, 0, 2, 0, 0, 0, 1, 2, 0, 0}, 2},
        {{23, 0, 0, 0, 1, 0, 99, 0, 2, 4, 0, 0, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        CByteArray answer = Ask(device, c.pdu);
        SCOPED_TRACE(testing::Message()
                     << "function " << int(c.pdu[0]) << ", " << c.pdu.size() << " bytes");
        ASSERT_FALSE(answer.empty());
        if (c.code == 0) {
            EXPECT_EQ(answer[0], c.pdu[0]);
        } else {
            EXPECT_EQ(answer, Exception(c.pdu[0], c.code));
        }
    }
    // The largest bit writes.
    CByteArray write{15, 0, 0, 0x07, 0xB0, 246};
    write.resize(6 + 246, 0xFF);
    EXPECT_EQ(Ask(device, write), (CByteArray{15, 0, 0, 0x07, 0xB0}));
    write[4] = 0xB1;
    write[5] = 247;
    write.push_back(0xFF);
    EXPECT_EQ(Ask(device, write), Exception(15, 3));
    // A refused write leaves the table alone.
    EXPECT_EQ(device.GetHoldingRegister(99), 0);
}

TEST(SimDevice, OnlyChosenUnitsAnswer) {
    CSimDevice device;
    EXPECT_FALSE(Ask(device, {3, 0, 0, 0, 1}, 0).empty());
    EXPECT_FALSE(Ask(device, {3, 0, 0, 0, 1}, 255).empty());
    device.SetAllUnits(FALSE);
    device.SetUnit(17, TRUE);
    EXPECT_TRUE(Ask(device, {3, 0, 0, 0, 1}, 1).empty());
    // Not even an exception: the unit is absent.
    EXPECT_TRUE(Ask(device, {7}, 1).empty());
    EXPECT_EQ(Ask(device, {3, 0, 0, 0, 1}, 17), (CByteArray{3, 2, 0, 0}));
}

TEST(SimDevice, WideValuesKeepTheirWordOrder) {
    CSimDevice device;
    // 1.5f is 0x3FC00000; 1.0 is 0x3FF0000000000000.
    device.SetFloat(Table::HoldingRegisters, 0, 1.5f, FALSE);
    device.SetFloat(Table::HoldingRegisters, 2, 1.5f, TRUE);
    EXPECT_EQ(device.GetHoldingRegister(0), 0x0000);
    EXPECT_EQ(device.GetHoldingRegister(1), 0x3FC0);
    EXPECT_EQ(device.GetHoldingRegister(2), 0x3FC0);
    EXPECT_EQ(device.GetHoldingRegister(3), 0x0000);
    device.SetDouble(Table::InputRegisters, 0, 1.0, FALSE);
    device.SetDouble(Table::InputRegisters, 4, 1.0, TRUE);
    EXPECT_EQ(device.GetValue(Table::InputRegisters, 3), 0x3FF0);
    EXPECT_EQ(device.GetValue(Table::InputRegisters, 4), 0x3FF0);
    EXPECT_EQ(device.GetFloat(Table::HoldingRegisters, 2, TRUE), 1.5f);
    EXPECT_EQ(device.GetDouble(Table::InputRegisters, 0, FALSE), 1.0);
    EXPECT_NE(device.GetDouble(Table::InputRegisters, 0, TRUE), 1.0);
    // A value that would not fit is not stored in part.
    EXPECT_FALSE(device.SetDouble(Table::HoldingRegisters, 9998, 2.0, FALSE));
    EXPECT_EQ(device.GetHoldingRegister(9998), 0);
}

TEST(SimDevice, ResizeFillsAndBounds) {
    CSimDevice device;
    EXPECT_FALSE(device.Resize(Table::Coils, CSimDevice::MAX_SIZE + 1));
    EXPECT_TRUE(device.Resize(Table::Coils, CSimDevice::MAX_SIZE, 7));
    EXPECT_EQ(device.GetValue(Table::Coils, 65535), 1);
    EXPECT_TRUE(device.Resize(Table::InputRegisters, 3, 0x5555));
    EXPECT_EQ(Ask(device, {4, 0, 2, 0, 1}), (CByteArray{4, 2, 0x55, 0x55}));
    EXPECT_EQ(Ask(device, {4, 0, 3, 0, 1}), Exception(4, 2));
    EXPECT_FALSE(device.SetValue(Table::InputRegisters, 3, 1));
}
