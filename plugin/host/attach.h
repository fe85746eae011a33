// The module's attachment to the host: the host's library and the two callbacks looked up at
// attach. One static record, alive while the library is loaded.
#pragma once

#include "host/host_list.h"

struct HostAttachment {
  HMODULE hostModule;         // "VELKAR", or null when it is not loaded
  HostCallback hostCallback;  // ordinal 30006, replaced by entry 30001
  HostCallback ordinal30007;  // looked up at attach, never called
};

extern HostAttachment hostAttachment;

// Finds the host's library and its callbacks (once: a second call changes nothing).
void attachHost();
