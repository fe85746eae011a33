// Product matching and rate application: one pass over the product file of a warehouse.
#include "vatupdate/matching.h"

#include <string.h>

#include "host/calls.h"
#include "common/mazovia.h"
#include "host/table_pass.h"
#include "host/tables.h"
#include "startup/startup.h"
#include "vatupdate/rate_index.h"

namespace {

enum {
  PATH_SIZE = 260,
  WORK_TEXT_SIZE = 256,
};

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Copies at most limit bytes of a text that may lack its zero byte, and ends it with one.
void copyBounded(char* out, const char* in, int limit) {
  const int n = boundedLength(in, limit);
  memcpy(out, in, static_cast<size_t>(n));
  out[n] = 0;
}

// The entry that applies to a product, by the matching order of the format. Only the fields the
// order needs are read: the name, or the barcode and, when it finds nothing, the product number.
RateEntry* findProductRate(const HostRecord& product, int format) {
  if (format == FORMAT_NAME_RATE) {
    char name[PRODUCT_NAME_LIMIT + 1];
    if (recordText(product, offsetof(ProductRecord, name), PRODUCT_NAME_LIMIT, name) == 0)
      return nullptr;
    return findRateByName(name);
  }

  char barcode[PRODUCT_BARCODE_LIMIT + 1];
  if (recordText(product, offsetof(ProductRecord, barcode), PRODUCT_BARCODE_LIMIT, barcode) == 0)
    return nullptr;
  if (RateEntry* entry = findRateByCode(barcode)) return entry;

  const uint16_t productNo = recordField16(product, offsetof(ProductRecord, productNo));
  RateEntry* byExtraCode;
  if (indexedRateByExtraCode(productNo, &byExtraCode)) return byExtraCode;
  for (int32_t i = 0; i < extraCodeIndex.count; ++i) {
    const ExtraCodeEntry& extra = extraCodeIndex.entries[i];
    if (extra.productNo.get() != productNo) continue;
    char code[EXTRA_CODE_SIZE];
    copyBounded(code, extra.code, EXTRA_CODE_CHARS);
    if (RateEntry* entry = findRateByCode(code)) return entry;
  }
  return nullptr;
}

void addOne(les32& counter) {
  counter.set(counter.get() + 1);
}

// Writes the entry's value into the format's field of the product, in the host's buffer; true
// when a byte of the field changed. Only the field is looked at: nothing else of the record is
// touched. A field that lies beyond the host's record cannot take the value, and nothing changes.
bool writeField(const RateEntry* entry, const HostRecord& product, int format) {
  if (format == FORMAT_BARCODE_CN) {
    const int at = offsetof(ProductRecord, cnCode);
    if (!recordHolds(product, at, CN_CODE_SIZE)) return false;
    // copyText writes at most the 14 characters and their zero byte: the field's bytes after
    // those stay as the host had them.
    unsigned char before[CN_CODE_SIZE];
    memcpy(before, product.bytes + at, CN_CODE_SIZE);
    host::copyText(reinterpret_cast<char*>(product.bytes + at), entry->cnCode, CN_CODE_CHARS);
    return memcmp(before, product.bytes + at, CN_CODE_SIZE) != 0;
  }
  uint16_t code;
  const int at = offsetof(ProductRecord, newVatCode);
  if (!vatCodeForRate(entry->rate.get(), &code) || !recordHolds(product, at, 2)) return false;
  const unsigned char value[2] = {static_cast<unsigned char>(code & 0xFF),
                                  static_cast<unsigned char>(code >> 8)};
  if (memcmp(product.bytes + at, value, 2) == 0) return false;
  memcpy(product.bytes + at, value, 2);
  return true;
}

// Applies the entry to the product in the host's buffer, and writes the record back only when a
// byte changed.
void applyEntry(RateEntry* entry, const TableVisit& product, int format) {
  addOne(entry->matchCount);
  entry->status.set(RATE_MATCHED);
  if (writeField(entry, product.record, format)) {
    addOne(entry->changedCount);
    entry->status.set(RATE_CHANGED);
    host::writeCurrentRecord(product.cursor);
  } else {
    addOne(entry->unchangedCount);
    entry->status.set(RATE_UNCHANGED);
  }
}

void visitProduct(TableVisit& product, void* context) {
  const int format = *static_cast<const int*>(context);
  RateEntry* entry;
  if (!replayedMatch(product.index, &entry))
    entry = recordMatch(product.index, findProductRate(product.record, format));
  if (entry) applyEntry(entry, product, format);
}

}  // namespace

int stricmpAscii(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = static_cast<unsigned char>(lowerAscii(*a));
    const unsigned char y = static_cast<unsigned char>(lowerAscii(*b));
    if (x != y || x == 0) return x - y;
  }
}

bool vatCodeForRate(int32_t rate, uint16_t* code) {
  for (const RateCode& rc : HOST_VAT_CODES)
    if (rc.rate == rate) {
      *code = rc.code;
      return true;
    }
  return false;
}

RateEntry* findRateByCodeScan(const char* code) {
  for (int32_t i = 0; i < rateList.count; ++i) {
    RateEntry* entry = &rateList.entries[i];
    if (entry->key[0] == 0) {
      entry->status.set(RATE_INVALID);
      continue;
    }
    if (stricmpAscii(entry->key, code) == 0) return entry;
  }
  return nullptr;
}

RateEntry* findRateByCode(const char* code) {
  RateEntry* found;
  if (indexedRateByCode(code, &found)) return found;
  return findRateByCodeScan(code);
}

RateEntry* findRateByNameScan(const char* name) {
  char normalName[WORK_TEXT_SIZE];
  copyBounded(normalName, name, WORK_TEXT_SIZE - 1);
  host::normaliseText(normalName);
  normalName[WORK_TEXT_SIZE - 1] = 0;

  char normalKey[WORK_TEXT_SIZE];
  for (int32_t i = 0; i < rateList.count; ++i) {
    RateEntry* entry = &rateList.entries[i];
    if (entry->key[0] != 0) {
      copyBounded(normalKey, entry->key, RATE_KEY_CHARS);
      host::normaliseText(normalKey);
      normalKey[WORK_TEXT_SIZE - 1] = 0;
      // A key that normalises to nothing names no product (an empty text occurs in every name).
      if (normalKey[0] != 0) {
        if (strstr(normalName, normalKey)) return entry;
        continue;
      }
    }
    entry->status.set(RATE_INVALID);
  }
  return nullptr;
}

RateEntry* findRateByName(const char* name) {
  RateEntry* found;
  if (indexedRateByName(name, &found)) return found;
  return findRateByNameScan(name);
}

void applyRates(int32_t warehouse) {
  // Without the host's table there is no product to read, and the host is not asked: every entry
  // stays unmatched, as when the product file cannot be opened.
  TableDescriptor* table = productTable;
  if (!table) return;
  int format = importDialogData.format.get();

  char path[PATH_SIZE];
  memset(path, 0, sizeof path);
  host::warehouseFilePath(warehouse, path, MZ("MMM"), MZ(".MGR"), PRODUCT_FILE_KIND);
  path[PATH_SIZE - 1] = 0;
  beginIndexedMatching(format);
  passOverTable(table, PRODUCT_FILE_MODE, path, PRODUCT_RECORD_SIZE, &visitProduct, &format);
  endIndexedMatching();
}
