// The command's records: the rate entries read from the rate file, the additional barcodes of one
// warehouse, the import choices, and the layouts of the two host records the command touches.
// Every record is packed and little-endian; 32-bit fields of the packed records stand unaligned
// and are reached only through the byte-array field types of common/bytes.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"
#include "shell/startup.h"

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

// ImportDialogData::format. Every value other than 1 and 2 is read and matched as 0.
enum { FORMAT_BARCODE_RATE = 0, FORMAT_NAME_RATE = 1, FORMAT_BARCODE_CN = 2 };

// Host result and key codes (16 bits; key codes carry the scan code in the high byte).
enum : uint16_t {
  DIALOG_OK = 0x5001,
  DIALOG_CANCEL = 0x5002,
  KEY_F3 = 0x3D00,
  KEY_F12 = 0x8600,
};

// Growing arrays are enlarged by this many entries at a time.
enum { LIST_GROWTH = 1000 };

// --- Rate entries --------------------------------------------------------------------------------

enum { RATE_KEY_SIZE = 41, RATE_KEY_CHARS = 40, CN_CODE_SIZE = 15, CN_CODE_CHARS = 14 };

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

// --- Host records (PRODUCT_RECORD_SIZE and EXTRA_CODE_RECORD_SIZE bytes) ---------------------

// One record of host table 49, the product file of a warehouse. The module changes only cnCode and
// newVatCode; every other byte is kept as read.
struct ProductRecord {
  unsigned char host0[2];
  char name[121];     // bytes 2..122; a name without its zero byte ends at byte 122
  char barcode[405];  // from byte 123; a barcode without its zero byte runs on to the record's end
  char cnCode[CN_CODE_SIZE];  // at most 14 characters
  unsigned char host543[164];
  le16 newVatCode;  // host VAT code of the new rate
  unsigned char host709[313];
  le16 productNo;  // links the product to its additional codes
};
static_assert(sizeof(ProductRecord) == PRODUCT_RECORD_SIZE);
static_assert(alignof(ProductRecord) == 1);
static_assert(offsetof(ProductRecord, name) == 2);
static_assert(offsetof(ProductRecord, barcode) == 123);
static_assert(offsetof(ProductRecord, cnCode) == 528);
static_assert(offsetof(ProductRecord, newVatCode) == 707);
static_assert(offsetof(ProductRecord, productNo) == 1022);

// How far a text field may run when it has no zero byte of its own.
enum {
  PRODUCT_NAME_LIMIT = 121,                           // the name ends at byte 122
  PRODUCT_BARCODE_LIMIT = PRODUCT_RECORD_SIZE - 123,  // the barcode at the record's end
};

// One record of host table 117, the additional barcodes of all warehouses.
struct ExtraCodeRecord {
  char code[140];  // zero-terminated; a code without its zero byte runs on to the record's end
  les16 warehouse;
  le16 productNo;  // 0: the code belongs to no product
};
static_assert(sizeof(ExtraCodeRecord) == EXTRA_CODE_RECORD_SIZE);
static_assert(alignof(ExtraCodeRecord) == 1);
static_assert(offsetof(ExtraCodeRecord, code) == 0);
static_assert(offsetof(ExtraCodeRecord, warehouse) == 140);
static_assert(offsetof(ExtraCodeRecord, productNo) == 142);

enum { EXTRA_CODE_LIMIT = EXTRA_CODE_RECORD_SIZE };  // the code may run to the record's end

// --- The command's state -------------------------------------------------------------------------

// Empty (null, 0, 0) whenever the command is not running.
extern RateList rateList;
extern ExtraCodeIndex extraCodeIndex;
// The import choices of the current run.
extern ImportDialogData importDialogData;

// Length of text, but never more than limit bytes: a text field read within its record.
inline int boundedLength(const char* text, int limit) {
  int n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}
