// Compatibility checks and start-up diagnostics.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "binding/host_list.h"

// Host features the module needs and the host lacks: 0xFFFFFFFF at load, filled by
// completeStartup once every host function has been bound (bits in checks.cpp).
extern uint32_t missingFeatures;

// The rest of the start-up after a successful binding.
void completeStartup();

// Record sizes the module is built for, and the layout values under which the host accepts a
// table whose record size differs.
enum {
  PRODUCT_TABLE = 49,
  PRODUCT_RECORD_SIZE = 1024,
  PRODUCT_ACCEPTED_LAYOUT = 240,
  EXTRA_CODE_TABLE = 117,
  EXTRA_CODE_RECORD_SIZE = 144,
  EXTRA_CODE_ACCEPTED_LAYOUT = 0,
};

// The one module date the host is asked about, in the form of __DATE__.
#define MODULE_BUILD_DATE_TEXT "Mar 11 2020"
// A module date that means "the host forbids this version of the module".
enum : uint32_t { FORBIDDEN_MODULE_DATE = 0x7FFFFFFFu };
enum { REQUIRED_INTERFACE_LEVEL = 112, DIAGNOSTIC_TEXT_SIZE = 3072 };

// One checked table: the size the module expects against the host's.
struct TableSizeRecord {
  int32_t expectedSize;
  int32_t hostSize;  // 0 when the host has no such table
  const char* name;
  TableSizeRecord* next;  // the next record of the mismatch list
};
static_assert(sizeof(TableSizeRecord) == 16);
static_assert(offsetof(TableSizeRecord, hostSize) == 4);
static_assert(offsetof(TableSizeRecord, name) == 8);
static_assert(offsetof(TableSizeRecord, next) == 12);

// 0 = the host's tables fit; -1 = they do not, and the user has been told.
int checkRecordSizes();
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
