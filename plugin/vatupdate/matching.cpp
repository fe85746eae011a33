// Product matching and rate application: one pass over the product file of a warehouse.
#include "vatupdate/matching.h"

#include <string.h>

#include "host/calls.h"
#include "common/mazovia.h"
#include "host/table_pass.h"
#include "host/tables.h"
#include "startup/startup.h"
#include "lookup/hooks.h"
#include "lookup/lookup.h"
#include "vatupdate/run.h"

namespace {

enum { PATH_SIZE = 260 };

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
  ProductLookup& lookup = *static_cast<ProductLookup*>(context);
  if (RateEntry* entry = productRate(lookup, product.index, product.record))
    applyEntry(entry, product, lookup.format);
}

}  // namespace

bool vatCodeForRate(int32_t rate, uint16_t* code) {
  for (const RateCode& rc : HOST_VAT_CODES)
    if (rc.rate == rate) {
      *code = rc.code;
      return true;
    }
  return false;
}

void applyRates(int32_t warehouse) {
  // Without the host's table there is no product to read, and the host is not asked: every entry
  // stays unmatched, as when the product file cannot be opened.
  TableDescriptor* table = productTable;
  if (!table) return;
  const int format = commandRun.choices.format.get();

  char path[PATH_SIZE];
  memset(path, 0, sizeof path);
  host::warehouseFilePath(warehouse, path, MZ("MMM"), MZ(".MGR"), PRODUCT_FILE_KIND);
  path[PATH_SIZE - 1] = 0;
  ProductLookup& lookup = commandRun.lookup;
  beginProductLookup(lookup, format, commandRun.rates, commandRun.extraCodes);
  passOverTable(table, PRODUCT_FILE_MODE, path, PRODUCT_RECORD_SIZE, &visitProduct, &lookup);
  endProductLookup(lookup);
}
