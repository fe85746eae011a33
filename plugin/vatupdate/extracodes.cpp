// The extra-code index: one pass over host table 117 ("Kody"), keeping the codes of one warehouse.
#include "vatupdate/extracodes.h"

#include <string.h>

#include "binding/host.h"
#include "shell/startup.h"
#include "shell/table_descriptor.h"
#include "vatupdate/ratefile.h"

ExtraCodeIndex extraCodeIndex = {nullptr, 0, 0};

namespace {

enum {
  EXTRA_CODE_FILE = 154,
  PATH_SIZE = 256,
  CURSOR_SIZE = 188,
  CURSOR_RECORD_COUNT = 116,
  PROGRESS_KIND = 238,
};

// Room for one more entry; false when memory ran out (the user has been told).
bool makeRoom() {
  if (extraCodeIndex.count < extraCodeIndex.capacity) return true;
  const int size = extraCodeIndex.capacity > INT32_MAX - LIST_GROWTH
                       ? -1
                       : blockSize(extraCodeIndex.capacity + LIST_GROWTH, sizeof(ExtraCodeEntry));
  void* grown = size < 0 ? nullptr : host::reallocMemory(extraCodeIndex.entries, size);
  if (!grown) {
    showOutOfMemory();
    return false;
  }
  extraCodeIndex.entries = static_cast<ExtraCodeEntry*>(grown);
  extraCodeIndex.capacity += LIST_GROWTH;
  return true;
}

// Takes the record into the index when it belongs to a product of warehouse.
void takeRecord(const ExtraCodeRecord& record, int32_t warehouse) {
  const uint16_t productNo = record.productNo.get();
  if (productNo == 0) return;
  if (record.warehouse.get() != warehouse) return;
  // A code longer than an entry holds is left out: cut short, it could name another product.
  const char* code = reinterpret_cast<const char*>(&record);
  const int length = boundedLength(code, EXTRA_CODE_LIMIT);
  if (length > EXTRA_CODE_CHARS) return;

  ExtraCodeEntry entry;
  memset(&entry, 0, sizeof entry);
  memcpy(entry.code, code, static_cast<size_t>(length));
  entry.productNo.set(productNo);
  entry.warehouse.set(record.warehouse.get());
  if (!makeRoom()) return;
  memcpy(&extraCodeIndex.entries[extraCodeIndex.count], &entry, sizeof entry);
  ++extraCodeIndex.count;
}

}  // namespace

void buildExtraCodeIndex(int32_t warehouse) {
  TableDescriptor* table = extraCodeTable;
  const void* buffer = table ? tableRecordBuffer(table) : nullptr;
  // Without the host's table (or its record buffer) there is nothing to read: the index stays
  // empty, and products are matched by their main barcodes only.
  if (!buffer) return;
  int recordSize = tableRecordSize(table);
  if (recordSize < 0) recordSize = 0;
  if (recordSize > EXTRA_CODE_RECORD_SIZE) recordSize = EXTRA_CODE_RECORD_SIZE;

  char path[PATH_SIZE];
  memset(path, 0, sizeof path);
  unsigned char cursor[CURSOR_SIZE];
  memset(cursor, 0, sizeof cursor);

  host::dataFilePath(EXTRA_CODE_FILE, 0, path, 0);
  path[PATH_SIZE - 1] = 0;
  const bool open = host::openTableCursor(cursor, table, EXTRA_CODE_FILE, path, 1, 0) != 0;
  host::beginProgress(PROGRESS_KIND);
  int recordsRead = 0;
  if (open) {
    const int total = static_cast<int>(readLe32(cursor + CURSOR_RECORD_COUNT));
    while (!host::stopRequested()) {
      host::updateProgress(recordsRead, total);
      host::progressIdle(0);
      if (host::readNextRecord(cursor) != 1) break;
      // The record as the host holds it, read no further than its own size.
      ExtraCodeRecord record;
      memset(&record, 0, sizeof record);
      memcpy(&record, buffer, static_cast<size_t>(recordSize));
      takeRecord(record, warehouse);
      ++recordsRead;
    }
  }
  host::closeTableCursor(cursor);
  host::endProgress();
}

void releaseExtraCodeIndex() {
  if (extraCodeIndex.entries) host::freeMemory(extraCodeIndex.entries);
  extraCodeIndex = ExtraCodeIndex{nullptr, 0, 0};
}
