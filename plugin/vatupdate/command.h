// The VAT update command.
#pragma once

#include "platform/platform.h"

extern "C" HOST_CDECL void vatUpdateCommand(void);
