// What a master's status after a unit's read says of the unit.
#include "scan/UnitScan.h"

#include <gtest/gtest.h>

#include <ostream>

#include "core/Modbus.h"
#include "transport/RemoteModbus.h"

namespace {

struct CCase {
    WORD wStatus;
    BOOL bTimedOut;
    CUnitAnswer::EResult result;
};

void PrintTo(const CCase& c, std::ostream* pOut) {
    *pOut << "status " << c.wStatus << (c.bTimedOut ? ", timed out" : "");
}

class UnitScanClassify : public ::testing::TestWithParam<CCase> {};

TEST_P(UnitScanClassify, TellsAnAnswerFromSilence) {
    EXPECT_EQ(Classify(GetParam().wStatus, GetParam().bTimedOut), GetParam().result);
}

using R = CUnitAnswer::EResult;
INSTANTIATE_TEST_SUITE_P(Statuses, UnitScanClassify,
                         ::testing::Values(CCase{MODBUS_OK, FALSE, R::DATA},
                                           // Any exception but a gateway's is the unit itself.
                                           CCase{MODBUS_EXCEPTION_BASE + 2, FALSE, R::EXCEPTION},
                                           CCase{MODBUS_EXCEPTION_BASE + 1, FALSE, R::EXCEPTION},
                                           CCase{MODBUS_EXCEPTION_BASE + 0x0A, FALSE, R::SILENT},
                                           CCase{MODBUS_EXCEPTION_BASE + 0x0B, FALSE, R::SILENT},
                                           CCase{MODBUS_TIMEOUT, FALSE, R::SILENT},
                                           CCase{REMOTE_SOCKET_ERROR, TRUE, R::SILENT},
                                           // Something came, or the connection failed: not silence.
                                           CCase{REMOTE_SOCKET_ERROR, FALSE, R::ERROR},
                                           CCase{MODBUS_CRC_ERROR, FALSE, R::ERROR},
                                           CCase{MODBUS_INVALID_RESPONSE, FALSE, R::ERROR},
                                           CCase{REMOTE_NOT_CONNECTED, FALSE, R::ERROR}));

}  // namespace
