// The module's side of the contract as the host calls it: its entry points by ordinal and the
// command record it registers, read as the host reads them.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/command_record.h"
#include "host/host_list.h"

namespace velkar {

typedef int(HOST_STDCALL* StartEntry)(HostCallback callback, char* titleBuffer);  // 30001
typedef int(HOST_STDCALL* NotifyEntry)(int flag);                                 // 30008
typedef void(HOST_CDECL* CommandRoutine)(void);

// A command record (registerCommand) as the host reads it: field by field, at the record's
// offsets, wherever the module put it.
struct RegisteredCommand {
  const char* title;  // host code page, as the module wrote it; may be null
  uint16_t id;
  CommandRoutine routine;
};

inline RegisteredCommand readCommandRecord(const void* record) {
  const auto* bytes = static_cast<const unsigned char*>(record);
  RegisteredCommand c{};
  std::memcpy(&c.title, bytes + offsetof(CommandRecord, title), sizeof c.title);
  std::memcpy(&c.id, bytes + offsetof(CommandRecord, commandId), sizeof c.id);
  std::memcpy(&c.routine, bytes + offsetof(CommandRecord, routine), sizeof c.routine);
  return c;
}

}  // namespace velkar
