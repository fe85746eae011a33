// The module's view of the host's TableDescriptor: the host owns the record and the module only
// reads the three fields below. The host's record is longer; its other bytes are the host's own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"

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
