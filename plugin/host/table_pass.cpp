// One pass over a host table: open, take the record buffer, read with progress and stop, close.
#include "host/table_pass.h"

#include <string.h>

#include "host/calls.h"
#include "common/bytes.h"
#include "host/codes.h"

int recordText(const HostRecord& record, int offset, int limit, char* out) {
  int n = 0;
  if (offset >= 0 && offset < record.size) {
    const int room = record.size - offset < limit ? record.size - offset : limit;
    const unsigned char* text = record.bytes + offset;
    while (n < room && text[n] != 0) ++n;
    memcpy(out, text, static_cast<size_t>(n));
  }
  out[n] = 0;
  return n;
}

void passOverTable(TableDescriptor* table, int mode, const char* path, int maxRecordSize,
                   TableVisitor visitor, void* context) {
  unsigned char cursor[TABLE_CURSOR_SIZE];
  memset(cursor, 0, sizeof cursor);
  const bool open = host::openTableCursor(cursor, table, mode, path, 1, 0) != 0;
  // The host may hand its record buffer out, or move it, when the table is opened: take it now,
  // once, and never after the close.
  HostRecord record = {nullptr, 0};
  if (open) {
    record.bytes = static_cast<unsigned char*>(tableRecordBuffer(table));
    const int size = tableRecordSize(table);
    record.size = size < 0 ? 0 : size > maxRecordSize ? maxRecordSize : size;
  }
  host::beginProgress(PROGRESS_KIND);
  if (open && record.bytes) {
    const int total = static_cast<int>(readLe32(cursor + TABLE_CURSOR_RECORD_COUNT));
    int32_t recordsRead = 0;
    while (!host::stopRequested()) {
      host::updateProgress(recordsRead, total);
      host::progressIdle(0);
      if (host::readNextRecord(cursor) != 1) break;
      TableVisit visit = {cursor, record, recordsRead};
      ++recordsRead;
      visitor(visit, context);
    }
  }
  host::closeTableCursor(cursor);
  host::endProgress();
}
