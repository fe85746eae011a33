// The command's records: the import choices; the rate entries and the additional barcodes the
// lookups work on are in lookup/records.h, the host's own records in host/tables.h. Every record is
// packed and little-endian.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"
#include "lookup/records.h"

// --- Import choices ------------------------------------------------------------------------------

enum { FILE_NAME_SIZE = 129 };

// The block the import dialog reads and writes: fileName, then format.
struct ImportDialogData {
  char fileName[FILE_NAME_SIZE];  // at most 128 characters and a zero byte
  les16 format;                   // index of the chosen radio item
};
static_assert(sizeof(ImportDialogData) == 131);
static_assert(alignof(ImportDialogData) == 1);
static_assert(offsetof(ImportDialogData, fileName) == 0);
static_assert(offsetof(ImportDialogData, format) == 129);
