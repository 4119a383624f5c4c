// The settings moved to the wire library; kept for includers not yet moved.
#pragma once

#include "wire/SerialSettings.h"
