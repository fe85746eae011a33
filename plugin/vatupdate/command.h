// The VAT update command.
#pragma once

#include "binding/host_list.h"

extern "C" HOST_CDECL void vatUpdateCommand(void);
