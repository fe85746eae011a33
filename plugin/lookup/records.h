// The records a lookup works on: the rate entries read from the rate file and the additional
// barcodes of one warehouse (the host's own records are in host/tables.h). Every record is packed
// and little-endian; 32-bit fields of the packed records stand unaligned and are reached only
// through the byte-array field types of common/bytes.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"
#include "host/tables.h"

// --- Codes ---------------------------------------------------------------------------------------

// RateEntry::status: the outcome of matching.
enum {
  RATE_UNMATCHED = 0,  // no product matched the entry
  RATE_MATCHED = 1,    // a product matched; replaced by CHANGED or UNCHANGED in the same step
  RATE_CHANGED = 2,    // the latest matched product was changed and written back
  RATE_UNCHANGED = 3,  // the latest matched product already held the value
  RATE_INVALID = 6,    // the entry's key is empty; it never matches
};

// RateEntry::rate of an exempt rate ("zw").
enum { RATE_EXEMPT = -1 };
static_assert(HOST_VAT_CODES[0].rate == RATE_EXEMPT);

// The rate file's format, which also sets the matching order. Every value other than 1 and 2 is
// read and matched as 0.
enum { FORMAT_BARCODE_RATE = 0, FORMAT_NAME_RATE = 1, FORMAT_BARCODE_CN = 2 };

// A list index that names no entry: larger than every list index.
enum { NO_ENTRY = INT32_MAX };

// --- Rate entries --------------------------------------------------------------------------------

enum { RATE_KEY_SIZE = 41, RATE_KEY_CHARS = 40 };

// One accepted line of the rate file with its match counters.
struct RateEntry {
  les32 status;
  char key[RATE_KEY_SIZE];  // barcode (formats 0, 2) or name fragment (format 1), host code page
  les32 rate;               // percent; RATE_EXEMPT; 0 in format 2
  les32 matchCount;
  les32 changedCount;
  les32 unchangedCount;
  char cnCode[CN_CODE_SIZE];  // format 2 only
};
static_assert(sizeof(RateEntry) == 76);
static_assert(alignof(RateEntry) == 1);
static_assert(offsetof(RateEntry, status) == 0);
static_assert(offsetof(RateEntry, key) == 4);
static_assert(offsetof(RateEntry, rate) == 45);
static_assert(offsetof(RateEntry, matchCount) == 49);
static_assert(offsetof(RateEntry, changedCount) == 53);
static_assert(offsetof(RateEntry, unchangedCount) == 57);
static_assert(offsetof(RateEntry, cnCode) == 61);

// The entries of the rate file in line order, in one block from the host's reallocMemory.
struct RateList {
  RateEntry* entries;  // null when nothing is allocated
  int32_t capacity;
  int32_t count;
};

// --- Additional barcodes -------------------------------------------------------------------------

enum { EXTRA_CODE_SIZE = 17, EXTRA_CODE_CHARS = 16 };

// One additional barcode of a product of the chosen warehouse.
struct ExtraCodeEntry {
  char code[EXTRA_CODE_SIZE];  // zero-terminated; the bytes after the terminator are zero
  le16 productNo;
  les16 warehouse;
};
static_assert(sizeof(ExtraCodeEntry) == 21);
static_assert(alignof(ExtraCodeEntry) == 1);
static_assert(offsetof(ExtraCodeEntry, code) == 0);
static_assert(offsetof(ExtraCodeEntry, productNo) == 17);
static_assert(offsetof(ExtraCodeEntry, warehouse) == 19);

// The additional barcodes of one warehouse in file order, in one block from reallocMemory.
struct ExtraCodeIndex {
  ExtraCodeEntry* entries;  // null when nothing is allocated
  int32_t capacity;
  int32_t count;
};

// Length of text, but never more than limit bytes: a text field read within its record.
inline int boundedLength(const char* text, int limit) {
  int n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}
