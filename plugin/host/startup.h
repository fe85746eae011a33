// What the host's start-up of a module involves: the module date the host is asked about, the
// interface level, the table-size record of the mismatch report and the codes of the STOP message.
#pragma once

#include <stddef.h>
#include <stdint.h>

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

// The coded message window (showFormattedCoded) that explains a failed start.
enum : int { STOP_MESSAGE_CODE = 30000 };
enum : unsigned { STOP_MESSAGE_FLAGS = 0xF001, STOP_MESSAGE_TAG = 0x6E2E };
