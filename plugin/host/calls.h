// The module's calls into the host. Each name is the call entry of one host function: a single
// indirect jump through its slot in the host-function table.
#pragma once

#include "host/host_list.h"

namespace host {

#define VELKAR_DECLARE_CALL_ENTRY(place, ordinal, name, CONV, Ret, params) \
  CONV Ret name params __asm__(ASM_NAME("velkarHost_" #name));
VELKAR_HOST_FUNCTIONS(VELKAR_DECLARE_CALL_ENTRY)
#undef VELKAR_DECLARE_CALL_ENTRY

}  // namespace host
