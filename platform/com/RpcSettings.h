// Old place of the header; it goes once every includer names the new one.
#pragma once

#include "platform/com/rpc/RpcSettings.h"
