// The entry points the host drives the module through, and the CommandRecord it learns the
// command from.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "binding/host_list.h"
#include "shell/exports.h"

struct CommandRecord {
  uint32_t tag;        // 0x40570000
  const char* title;   // the module title
  uint16_t commandId;  // 29902
  uint16_t reserved1;  // 0
  void(HOST_CDECL* routine)(void);
  uint32_t reserved2;  // 0
};
static_assert(sizeof(CommandRecord) == 20);
static_assert(offsetof(CommandRecord, tag) == 0);
static_assert(offsetof(CommandRecord, title) == 4);
static_assert(offsetof(CommandRecord, commandId) == 8);
static_assert(offsetof(CommandRecord, reserved1) == 10);
static_assert(offsetof(CommandRecord, routine) == 12);
static_assert(offsetof(CommandRecord, reserved2) == 16);

enum : uint32_t { COMMAND_TAG = 0x40570000u };
enum { COMMAND_ID = 29902 };

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
