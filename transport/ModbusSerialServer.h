// Old place of the header; it goes once every includer names the new one.
#pragma once

#include "serialapi/ModbusSerialServer.h"
