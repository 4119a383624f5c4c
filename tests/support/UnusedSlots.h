// The serial port interface's unused slots, answered E_NOTIMPL, for the
// fakes that stand in for a port: derive from CUnusedSlots<Base>.
#pragma once

#include "serialapi/ModbusSerialServer.h"

template <class Base>
class CUnusedSlots : public Base {
public:
    using Base::Base;
#define UNUSED_SLOT(n)               \
    HRESULT Reserved##n() override { \
        return E_NOTIMPL;            \
    }
    UNUSED_SLOT(7)
    UNUSED_SLOT(18)
    UNUSED_SLOT(19)
    UNUSED_SLOT(20)
    UNUSED_SLOT(21)
    UNUSED_SLOT(22)
    UNUSED_SLOT(23)
    UNUSED_SLOT(24)
    UNUSED_SLOT(25)
    UNUSED_SLOT(26)
    UNUSED_SLOT(27)
    UNUSED_SLOT(28)
    UNUSED_SLOT(29)
    UNUSED_SLOT(31)
    UNUSED_SLOT(32)
    UNUSED_SLOT(33)
    UNUSED_SLOT(34)
    UNUSED_SLOT(37)
    UNUSED_SLOT(48)
#undef UNUSED_SLOT
};
