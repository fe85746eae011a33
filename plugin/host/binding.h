// The host-function table: one slot per host function, bound by ordinal at load.
#pragma once

#include <stdint.h>

#include "host/host_list.h"

// An entry is an ordinal (below 0x10000) or the address of a zero-terminated function name.
typedef uintptr_t HostEntryRef;

enum { FALLBACK_STUB_COUNT = 15 };

extern "C" {
extern void* hostSlots[HOST_FUNCTION_COUNT] __asm__(ASM_NAME("velkarHostSlots"));
}

// Set to 1 by the first Ignore in the missing-entry dialog; never cleared.
extern int32_t ignoreAllMissing;

// The stubs that return 0 and remove 4 * index bytes of arguments.
extern void* const fallbackStubs[FALLBACK_STUB_COUNT];

void bindHostFunction(HostEntryRef entry, void** slot);
int reportMissingEntry(HostEntryRef entry, const char* moduleName);
void chooseFallback(HostEntryRef entry, void** slot);
int slotState(const void* value);

// Runs the 46 probes in table order; stops at the first that fails. 0 = every slot holds an
// address.
int runHostProbes();

// Per-entry facts, by table index (place - 1).
uint16_t hostOrdinalAt(int index);
void* firstCallEntryAt(int index);
void* typedFallbackAt(int index);
// True when the slot holds a fallback instead of the host's own function.
bool slotOnFallback(int index);
