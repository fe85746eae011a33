// Product matching and rate application: one pass over the product file of a warehouse.
#include "vatupdate/matching.h"

#include <string.h>

#include "binding/host.h"
#include "common/mazovia.h"
#include "shell/startup.h"
#include "shell/table_descriptor.h"
#include "vatupdate/rate_index.h"

namespace {

enum {
  PRODUCT_FILE_MODE = 4,
  PRODUCT_FILE_KIND = 103,
  PATH_SIZE = 260,
  CURSOR_SIZE = 188,
  CURSOR_RECORD_COUNT = 116,
  PROGRESS_KIND = 238,
  WORK_TEXT_SIZE = 256,
};

struct RateCode {
  int32_t rate;
  uint16_t code;
};

// The host's VAT codes of the rates in percent.
constexpr RateCode rateCodes[] = {
    {RATE_EXEMPT, 5}, {0, 3}, {5, 15}, {8, 18}, {23, 33},
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

// The entry that applies to a product, by the matching order of the format.
RateEntry* findProductRate(const ProductRecord& product, int format) {
  const char* record = reinterpret_cast<const char*>(&product);
  if (format == FORMAT_NAME_RATE) {
    char name[PRODUCT_NAME_LIMIT + 1];
    copyBounded(name, record + offsetof(ProductRecord, name), PRODUCT_NAME_LIMIT);
    if (name[0] == 0) return nullptr;
    return findRateByName(name);
  }

  char barcode[PRODUCT_BARCODE_LIMIT + 1];
  copyBounded(barcode, record + offsetof(ProductRecord, barcode), PRODUCT_BARCODE_LIMIT);
  if (barcode[0] == 0) return nullptr;
  if (RateEntry* entry = findRateByCode(barcode)) return entry;

  const uint16_t productNo = product.productNo.get();
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

// Applies the entry to the product held in work; the host's record buffer holds the record as
// read (its first recordSize bytes). Writes back only when a byte changed.
void applyEntry(RateEntry* entry, ProductRecord& work, void* buffer, int recordSize, void* cursor,
                int format) {
  addOne(entry->matchCount);
  entry->status.set(RATE_MATCHED);
  if (format == FORMAT_BARCODE_CN) {
    host::copyText(work.cnCode, entry->cnCode, CN_CODE_CHARS);
    work.cnCode[CN_CODE_CHARS] = 0;
  } else {
    uint16_t code;
    if (vatCodeForRate(entry->rate.get(), &code)) work.newVatCode.set(code);
  }

  if (memcmp(&work, buffer, static_cast<size_t>(recordSize)) != 0) {
    memcpy(buffer, &work, static_cast<size_t>(recordSize));
    addOne(entry->changedCount);
    entry->status.set(RATE_CHANGED);
    host::writeCurrentRecord(cursor);
  } else {
    addOne(entry->unchangedCount);
    entry->status.set(RATE_UNCHANGED);
  }
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
  for (const RateCode& rc : rateCodes)
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
  TableDescriptor* table = productTable;
  void* buffer = table ? tableRecordBuffer(table) : nullptr;
  // Without the host's table (or its record buffer) there is no product to read: every entry
  // stays unmatched, as when the product file cannot be opened.
  if (!buffer) return;
  // A record is read and compared no further than the host's own record size.
  int recordSize = tableRecordSize(table);
  if (recordSize < 0) recordSize = 0;
  if (recordSize > PRODUCT_RECORD_SIZE) recordSize = PRODUCT_RECORD_SIZE;
  const int format = importDialogData.format.get();

  char path[PATH_SIZE];
  memset(path, 0, sizeof path);
  unsigned char cursor[CURSOR_SIZE];
  memset(cursor, 0, sizeof cursor);

  host::warehouseFilePath(warehouse, path, MZ("MMM"), MZ(".MGR"), PRODUCT_FILE_KIND);
  path[PATH_SIZE - 1] = 0;
  const bool open = host::openTableCursor(cursor, table, PRODUCT_FILE_MODE, path, 1, 0) != 0;
  host::beginProgress(PROGRESS_KIND);
  int recordsRead = 0;
  if (open) {
    const int total = static_cast<int>(readLe32(cursor + CURSOR_RECORD_COUNT));
    beginIndexedMatching(format);
    while (!host::stopRequested()) {
      host::updateProgress(recordsRead, total);
      host::progressIdle(0);
      if (host::readNextRecord(cursor) != 1) break;
      ++recordsRead;
      ProductRecord work;
      memset(&work, 0, sizeof work);
      memcpy(&work, buffer, static_cast<size_t>(recordSize));
      RateEntry* entry;
      if (!replayedMatch(recordsRead - 1, &entry))
        entry = recordMatch(recordsRead - 1, findProductRate(work, format));
      if (entry) applyEntry(entry, work, buffer, recordSize, cursor, format);
    }
    endIndexedMatching();
  }
  host::closeTableCursor(cursor);
  host::endProgress();
}
