// Compatibility checks and start-up diagnostics.
#pragma once

#include <stdint.h>

#include "binding/host_list.h"

// Host features the module needs and the host lacks; filled at load (see completeStartup).
extern uint32_t missingFeatures;

// The rest of the start-up after a successful binding.
void completeStartup();

int checkRecordSizes();
int checkVersion();
void showStartupFailure();

// The descriptors recorded by checkRecordSizes (null until then, or when the host lacks a table).
extern TableDescriptor* productTable;
extern TableDescriptor* extraCodeTable;
