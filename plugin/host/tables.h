// The host's tables as the module sees them: the table descriptor (the host owns the record and
// the module only reads the three fields below), the numbers, record sizes and layouts of the two
// tables the command works on, the layouts of their records, and the cursor block.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"

// --- The table descriptor ------------------------------------------------------------------------

// The host's record is longer; its other bytes are the host's own.
struct TableDescriptor {
  unsigned char hostOwn[6];  // the host's own
  les16 recordSize;          // record size of the table in bytes
  le32 recordBuffer;         // where readNextRecord puts a record, writeCurrentRecord takes it
  le16 layout;               // the host's layout value
};
static_assert(sizeof(TableDescriptor) == 14);
static_assert(alignof(TableDescriptor) == 1);
static_assert(offsetof(TableDescriptor, recordSize) == 6);
static_assert(offsetof(TableDescriptor, recordBuffer) == 8);
static_assert(offsetof(TableDescriptor, layout) == 12);
static_assert(sizeof(void*) == 4, "the descriptor holds a 32-bit pointer");

inline int16_t tableRecordSize(const TableDescriptor* table) {
  return table->recordSize.get();
}

inline void* tableRecordBuffer(const TableDescriptor* table) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(table->recordBuffer.get()));
}

inline uint16_t tableLayout(const TableDescriptor* table) {
  return table->layout.get();
}

// --- The two tables ------------------------------------------------------------------------------

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

// How the command opens them: the product file of a warehouse (its path from warehouseFilePath
// with this kind, opened in this mode) and the additional-code file (its path from dataFilePath
// with this file number, which is also the mode it is opened in).
enum {
  PRODUCT_FILE_MODE = 4,
  PRODUCT_FILE_KIND = 103,
  EXTRA_CODE_FILE = 154,
};

// The cursor block the host fills on openTableCursor (the caller's), and where the number of
// records stands in it after a successful open.
enum { TABLE_CURSOR_SIZE = 188, TABLE_CURSOR_RECORD_COUNT = 116 };

// --- Records (PRODUCT_RECORD_SIZE and EXTRA_CODE_RECORD_SIZE bytes) ------------------------------
// Packed and little-endian; 32-bit fields would stand unaligned and are reached only through the
// byte-array field types of common/bytes.h.

enum { CN_CODE_SIZE = 15, CN_CODE_CHARS = 14 };

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

// The host's VAT codes of the rates in percent (RATE_EXEMPT, -1, for an exempt rate).
struct RateCode {
  int32_t rate;
  uint16_t code;
};
inline constexpr RateCode HOST_VAT_CODES[] = {
    {-1, 5}, {0, 3}, {5, 15}, {8, 18}, {23, 33},
};
