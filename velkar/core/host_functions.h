// The stand-in's implementations of the host functions, declared from the same list the module
// binds. Each is exported by ordinal from VELKAR (VELKAR.dll, or libVELKAR.so natively).
#pragma once

#include "host/host_list.h"

namespace velkar::fn {

#define VELKAR_DECLARE_HOST_FUNCTION(place, ordinal, name, CONV, Ret, params) \
  CONV Ret name params __asm__(ASM_NAME("velkar_" #name));
VELKAR_HOST_FUNCTIONS(VELKAR_DECLARE_HOST_FUNCTION)
#undef VELKAR_DECLARE_HOST_FUNCTION

// Ordinal 30006: the host's callback. Ordinal 30007: looked up by the module, never called.
HOST_STDCALL int hostCallback(int a, int b) __asm__(ASM_NAME("velkar_hostCallback"));
HOST_STDCALL int hostOrdinal30007(int a, int b) __asm__(ASM_NAME("velkar_hostOrdinal30007"));

}  // namespace velkar::fn
