// One pass over a host table, record by record, in the host's own record buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host/tables.h"

// A record of a host table as it stands in the host's record buffer. Only its first `size` bytes
// exist: the table's record size, never more than the layout the module knows. A field that does
// not lie wholly inside them is absent: it reads as zero or as an empty text, and it is never
// written.
struct HostRecord {
  unsigned char* bytes;
  int size;
};

inline bool recordHolds(const HostRecord& record, int offset, int width) {
  return offset >= 0 && width >= 0 && offset + width <= record.size;
}

// A 16-bit field; 0 when it lies beyond the record.
inline uint16_t recordField16(const HostRecord& record, int offset) {
  if (!recordHolds(record, offset, 2)) return 0;
  return static_cast<uint16_t>(record.bytes[offset] | record.bytes[offset + 1] << 8);
}

// Copies a text field into out (room for limit + 1 bytes): at most limit bytes, up to its zero
// byte and never past the end of the record; out always ends with a zero byte.
int recordText(const HostRecord& record, int offset, int limit, char* out);

// What a pass hands to its visitor for each record read.
struct TableVisit {
  void* cursor;       // the open cursor: writeCurrentRecord writes the record back
  HostRecord record;  // the record as read, in the host's buffer
  int32_t index;      // its position in the pass, from 0
};

typedef void (*TableVisitor)(TableVisit& visit, void* context);

// Opens the table at path with openTableCursor (the descriptor, mode, the path, 1, 0), takes the
// record buffer and the record size from the descriptor once the table is open, begins the
// progress display, and reads record after record (stop request, progress, readNextRecord) until
// the table ends or the user stops; then closes the cursor and ends the progress display. A table
// that cannot be opened, or that has no record buffer once open, is read no further, and is still
// closed. Records are seen no further than maxRecordSize bytes.
void passOverTable(TableDescriptor* table, int mode, const char* path, int maxRecordSize,
                   TableVisitor visitor, void* context);
