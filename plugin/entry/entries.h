// The entry points the host drives the module through, and the CommandRecord it learns the
// command from. DllMain (entry/dll_main.cpp) is the loader's.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "entry/exports.h"
#include "host/command_record.h"
#include "host/host_list.h"

extern const CommandRecord commandRecord;

extern "C" {
HOST_STDCALL int pluginStart(HostCallback callback,
                             char* titleBuffer) __asm__(ASM_NAME("vatupdate_pluginStart"));
HOST_STDCALL int pluginNotify(int flag) __asm__(ASM_NAME("vatupdate_pluginNotify"));
HOST_STDCALL int pluginIdle(void) __asm__(ASM_NAME("vatupdate_pluginIdle"));
HOST_STDCALL int pluginSignature(int unused) __asm__(ASM_NAME("vatupdate_pluginSignature"));
}

// The export table as the native loader reads it: ordinal and address, ended by ordinal 0.
struct PluginExport {
  uint32_t ordinal;
  void* address;
};
