// The extra-code index: one pass over host table 117 ("Kody"), keeping the codes of one warehouse.
#include "vatupdate/extracodes.h"

#include <string.h>

#include "host/calls.h"
#include "host/memory.h"
#include "host/table_pass.h"
#include "host/tables.h"
#include "startup/startup.h"
#include "vatupdate/ratefile.h"
#include "vatupdate/run.h"

namespace {

enum { PATH_SIZE = 256 };

// Room for one more entry; false when memory ran out (the user has been told).
bool makeRoom() {
  ExtraCodeIndex& extraCodeIndex = commandRun.extraCodes;
  if (extraCodeIndex.count < extraCodeIndex.capacity) return true;
  if (growList(extraCodeIndex.entries, extraCodeIndex.capacity)) return true;
  showOutOfMemory();
  return false;
}

// Takes the record, as it stands in the host's buffer, into the index when it belongs to a
// product of the warehouse.
void takeRecord(TableVisit& visit, void* context) {
  const int32_t warehouse = *static_cast<const int32_t*>(context);
  const HostRecord& record = visit.record;
  const uint16_t productNo = recordField16(record, offsetof(ExtraCodeRecord, productNo));
  if (productNo == 0) return;
  if (static_cast<int16_t>(recordField16(record, offsetof(ExtraCodeRecord, warehouse))) !=
      warehouse)
    return;
  // A code longer than an entry holds is left out: cut short, it could name another product.
  char code[EXTRA_CODE_CHARS + 2];
  const int length =
      recordText(record, offsetof(ExtraCodeRecord, code), EXTRA_CODE_CHARS + 1, code);
  if (length > EXTRA_CODE_CHARS) return;

  ExtraCodeEntry entry;
  memset(&entry, 0, sizeof entry);
  memcpy(entry.code, code, static_cast<size_t>(length));
  entry.productNo.set(productNo);
  entry.warehouse.set(static_cast<int16_t>(warehouse));
  if (!makeRoom()) return;
  ExtraCodeIndex& extraCodeIndex = commandRun.extraCodes;
  memcpy(&extraCodeIndex.entries[extraCodeIndex.count], &entry, sizeof entry);
  ++extraCodeIndex.count;
}

}  // namespace

void buildExtraCodeIndex(int32_t warehouse) {
  // Without the host's table there is nothing to read, and the host is not asked: the index stays
  // empty, and products are matched by their main barcodes only.
  TableDescriptor* table = extraCodeTable;
  if (!table) return;

  char path[PATH_SIZE];
  memset(path, 0, sizeof path);
  host::dataFilePath(EXTRA_CODE_FILE, 0, path, 0);
  path[PATH_SIZE - 1] = 0;
  passOverTable(table, EXTRA_CODE_FILE, path, EXTRA_CODE_RECORD_SIZE, &takeRecord, &warehouse);
}

void releaseExtraCodeIndex() {
  ExtraCodeIndex& extraCodeIndex = commandRun.extraCodes;
  if (extraCodeIndex.entries) host::freeMemory(extraCodeIndex.entries);
  extraCodeIndex = ExtraCodeIndex{nullptr, 0, 0};
}
