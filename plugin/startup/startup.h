// Compatibility checks and start-up diagnostics: what the module checks of the host before it
// offers its command.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host/startup.h"
#include "host/tables.h"

// Host features the module needs and the host lacks: 0xFFFFFFFF at load, filled by
// completeStartup once every host function has been bound (bits in checks.cpp).
extern uint32_t missingFeatures;

// The rest of the start-up after a successful binding.
void completeStartup();

// 0 = the host's tables fit; -1 = they do not, and the user has been told.
int checkRecordSizes();
// True while the last checkRecordSizes refused a table: the command stays registered, but the
// records are of a layout the module does not know, so the command touches none of them.
extern bool tablesRefused;
// "Potrzebna nowsza wtyczka!": the host's tables are not the ones the module was built for.
void showNewerModuleNeeded();
// 0 = the host fits; -1 = it does not.
int checkVersion();
// Entry 30008 with a non-zero flag: the one message that explains why the module did not start.
void showStartupFailure();

// Mode 0: the host must not be older than the module; any other mode: the dates must be equal.
// 0 = fits; -1 = does not, with the reason in buffer when one is given.
int compareBuildDates(uint32_t hostDate, uint32_t moduleDate, int mode, char* buffer);
// Appends a record whose sizes differ to the mismatch list (once).
void addTableSizeRecord(TableSizeRecord* record);
// Builds the mismatch list once; the number of records in it.
int registerTableSizes();
// 0 = no mismatch, buffer empty; -1 = buffer holds the report (far less than 3072 bytes).
int reportTableSizes(char* buffer);

// The descriptors recorded by checkRecordSizes (null until then, or when the host lacks a table).
extern TableDescriptor* productTable;
extern TableDescriptor* extraCodeTable;
