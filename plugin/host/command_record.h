// The record through which the host learns a module's command (registerCommand).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

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
