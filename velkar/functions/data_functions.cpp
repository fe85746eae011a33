// The host's data functions: the settings store, file names in the shop folder, table
// descriptors and table cursors over the product and extra-code files.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>
#include <algorithm>

#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/core/reset.h"
#include "velkar/shop/settings.h"
#include "velkar/shop/shop.h"

namespace velkar {
namespace {

namespace fs = std::filesystem;

// TableDescriptor: bytes 0..5 the host's own (table number at 0), record size int16 at 6,
// recordBuffer pointer at 8, layout value uint16 at 12; the rest the host's own.
constexpr size_t DESCRIPTOR_SIZE = 32;
constexpr size_t DESCRIPTOR_RECORD_SIZE = 6;
constexpr size_t DESCRIPTOR_RECORD_BUFFER = 8;
constexpr size_t DESCRIPTOR_LAYOUT = 12;
static_assert(sizeof(void*) == 4, "the host's records hold 32-bit pointers");

// The record buffer takes the largest record size a descriptor can state, so it never moves
// while the plug-in holds its address, whatever size a test configures.
constexpr size_t RECORD_BUFFER_SIZE = 32768;

// The cursor block (188 bytes, the caller's): magic at 0, the host's cursor id at 4, the record
// count at 116.
constexpr size_t CURSOR_MAGIC = 0;
constexpr size_t CURSOR_ID = 4;
constexpr size_t CURSOR_RECORD_COUNT = 116;
constexpr uint32_t MAGIC_OPEN = 0x5255434B;  // "KCUR"

struct Table {
  int number;
  int nominalSize;  // the record size of this host's files on disk
  alignas(4) unsigned char descriptor[DESCRIPTOR_SIZE];
  unsigned char buffer[RECORD_BUFFER_SIZE];
  // In the strict buffer readings: a block of exactly the record size, a guard page after it.
  GuardedBlock guarded;
  bool open = false;
};

Table& productTable() {
  static Table t{shop::PRODUCT_TABLE, shop::PRODUCT_RECORD_SIZE, {}, {}, {}, false};
  return t;
}
Table& extraCodeTable() {
  static Table t{shop::EXTRA_CODE_TABLE, shop::EXTRA_CODE_RECORD_SIZE, {}, {}, {}, false};
  return t;
}

const HostVariants& variants() {
  return host().config.variants;
}

int16_t configuredSize(const Table& t) {
  int16_t size;
  std::memcpy(&size, t.descriptor + DESCRIPTOR_RECORD_SIZE, 2);
  return size;
}

// The record buffer the table works with now: the fixed one, or the guarded block.
unsigned char* recordBuffer(Table& t) {
  return variants().guardedRecordBuffer() ? t.guarded.data : t.buffer;
}

void setDescriptorBuffer(Table& t, const unsigned char* buffer) {
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  std::memcpy(t.descriptor + DESCRIPTOR_RECORD_BUFFER, &address, 4);
}

// A fresh guarded block for the table's records; the previous one is given back.
void moveGuardedBuffer(Table& t) {
  const int16_t size = configuredSize(t);
  // The new block is taken while the old one still stands, so it lies elsewhere.
  GuardedBlock fresh = allocateGuarded(size > 0 ? static_cast<size_t>(size) : 1, 0);
  releaseGuarded(t.guarded);
  t.guarded = fresh;
}

// Bytes the host fills beyond a shorter disk record: zero, or in the host-bytes reading the
// same non-zero bytes each time for the same place.
unsigned char hostByte(size_t offset) {
  if (!variants().hostBytes) return 0;
  const uint32_t x = static_cast<uint32_t>(offset) * 2654435761u + 0x9E37u;
  return static_cast<unsigned char>((x >> 13) % 255 + 1);
}

Table* tableFor(const void* descriptor) {
  if (descriptor == productTable().descriptor) return &productTable();
  if (descriptor == extraCodeTable().descriptor) return &extraCodeTable();
  return nullptr;
}

struct OpenCursor {
  void* block;
  std::FILE* file;
  Table* table;
  long recordSize;
  long count;
  long next = 0;      // the record the next read takes
  long current = -1;  // the record last read, -1 before the first
  std::string path;
  long diskSize = 0;                 // the size of a record in the file
  std::vector<unsigned char> spare;  // a disk record longer than the record shown
};

std::map<uint32_t, OpenCursor>& cursors() {
  static std::map<uint32_t, OpenCursor> open;
  return open;
}
uint32_t nextCursorId = 1;  // never reused, not even across resets

void markClosed(void* block) {
  unsigned char* b = static_cast<unsigned char*>(block);
  std::memset(b + CURSOR_MAGIC, 0, 8);
  std::memset(b + CURSOR_RECORD_COUNT, 0, 4);
}

OpenCursor* cursorFor(void* block) {
  if (!block) return nullptr;
  uint32_t magic, id;
  std::memcpy(&magic, static_cast<unsigned char*>(block) + CURSOR_MAGIC, 4);
  std::memcpy(&id, static_cast<unsigned char*>(block) + CURSOR_ID, 4);
  if (magic != MAGIC_OPEN) return nullptr;
  auto it = cursors().find(id);
  if (it == cursors().end() || it->second.block != block) return nullptr;
  return &it->second;
}

void closeAll() {
  for (auto& [id, c] : cursors()) std::fclose(c.file);
  cursors().clear();
  for (Table* t : {&productTable(), &extraCodeTable()}) {
    std::memset(t->buffer, 0, RECORD_BUFFER_SIZE);
    releaseGuarded(t->guarded);
    t->open = false;
  }
}
ResetHook resetHook(&closeAll);

// A name relative to the shop folder means a file in it.
fs::path inShop(const char* name) {
  fs::path p(name);
  if (p.is_relative() && !host().shopDir.empty()) return host().shopDir / p;
  return p;
}

}  // namespace

int openCursorCount() {
  return static_cast<int>(cursors().size());
}

namespace fn {

int hostSettings(int operation, const char* section, const char* key, const char* format,
                 va_list args) {
  if (enterCall(52224, "hostSettings",
                {arg(operation), arg(section), arg(key), arg(format), argPtr(args)}))
    return variants().settingsHighHalf ? static_cast<int>(0xABCD0001u) : 1;
  const int result = settings::access(operation, section, key, format, args);
  // Only the low half tells the outcome; a host may put anything in the high half.
  if (variants().settingsHighHalf) return static_cast<int>(0xABCD0000u | (result & 0xFFFF));
  return result;
}

char* warehouseFilePath(int warehouse, char* path, const char* prefix, const char* extension,
                        int kind) {
  if (enterCall(52311, "warehouseFilePath",
                {arg(warehouse), argPtr(path), arg(prefix), arg(extension), arg(kind)})) {
    if (path) path[0] = 0;
    return nullptr;
  }
  if (!path) return nullptr;
  const std::string name =
      shop::warehouseFileName(warehouse, prefix ? prefix : "", extension ? extension : "");
  std::snprintf(path, 260, "%s", name.c_str());
  return variants().nullTextResults ? nullptr : path;
}

char* dataFilePath(int fileNumber, int variant, char* path, int reserved) {
  if (enterCall(51425, "dataFilePath",
                {arg(fileNumber), arg(variant), argPtr(path), arg(reserved)})) {
    if (path) path[0] = 0;
    return nullptr;
  }
  if (!path) return nullptr;
  std::snprintf(path, 256, "%s", shop::dataFileName(fileNumber).c_str());
  return variants().nullTextResults ? nullptr : path;
}

TableDescriptor* getTableDescriptor(int table) {
  if (enterCall(52256, "getTableDescriptor", {arg(table)})) return nullptr;
  Table* t = table == shop::PRODUCT_TABLE      ? &productTable()
             : table == shop::EXTRA_CODE_TABLE ? &extraCodeTable()
                                               : nullptr;
  if (!t) return nullptr;
  const TableConfig& config =
      table == shop::PRODUCT_TABLE ? host().config.products : host().config.extraCodes;
  if (!config.present) return nullptr;
  unsigned char* d = t->descriptor;
  std::memset(d, 0, DESCRIPTOR_SIZE);
  const uint16_t number = static_cast<uint16_t>(table);
  std::memcpy(d, &number, 2);
  std::memcpy(d + DESCRIPTOR_RECORD_SIZE, &config.recordSize, 2);
  std::memcpy(d + DESCRIPTOR_LAYOUT, &config.layout, 2);
  const HostVariants& v = variants();
  if (v.guardedRecordBuffer() && !t->guarded.data && !v.bufferNullUntilOpen) moveGuardedBuffer(*t);
  // A host may hand out no buffer until the table is open.
  setDescriptorBuffer(*t, v.bufferNullUntilOpen && !t->open ? nullptr : recordBuffer(*t));
  return reinterpret_cast<TableDescriptor*>(d);
}

int openTableCursor(void* cursor, TableDescriptor* table, int mode, const char* path, int a,
                    int b) {
  const bool fault =
      enterCall(52278, "openTableCursor",
                {argPtr(cursor), argPtr(table), arg(mode), arg(path), arg(a), arg(b)});
  if (!cursor) return 0;
  markClosed(cursor);
  if (fault || !path) return 0;
  Table* t = tableFor(table);
  if (!t) {
    std::fprintf(stderr, "velkar: openTableCursor: not a table descriptor of this host\n");
    return 0;
  }
  const int16_t recordSize = configuredSize(*t);
  if (recordSize <= 0) {
    std::fprintf(stderr, "velkar: openTableCursor: table %d has no record size\n", t->number);
    return 0;
  }
  // The files keep their own record size; the table presents each record in the size its
  // descriptor states.
  const long diskSize = t->nominalSize;
  const fs::path file = inShop(path);
  std::FILE* f = std::fopen(file.string().c_str(), "r+b");
  if (!f) return 0;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (size < 0 || size % diskSize != 0) {
    std::fprintf(stderr,
                 "velkar: %s: %ld bytes is not a whole number of %ld-byte records; not opened\n",
                 path, size, diskSize);
    std::fclose(f);
    return 0;
  }
  const HostVariants& v = variants();
  if (v.guardedRecordBuffer()) {
    if (v.bufferMovesAtOpen || !t->guarded.data)
      moveGuardedBuffer(*t);
    else
      protectGuarded(t->guarded, false);
  }
  t->open = true;
  setDescriptorBuffer(*t, recordBuffer(*t));
  const uint32_t id = nextCursorId++;
  const long records = size / diskSize;
  OpenCursor c{cursor, f, t, recordSize, records, 0, -1, path, diskSize};
  cursors()[id] = c;
  unsigned char* block = static_cast<unsigned char*>(cursor);
  long stated = records;
  switch (v.recordCount) {
    case RecordCountMode::EXACT:
      break;
    case RecordCountMode::PLUS_FIVE:
      stated = records + 5;
      break;
    case RecordCountMode::HALF:
      stated = records / 2;
      break;
    case RecordCountMode::ZERO:
      stated = 0;
      break;
  }
  const int32_t count = static_cast<int32_t>(stated);
  std::memcpy(block + CURSOR_MAGIC, &MAGIC_OPEN, 4);
  std::memcpy(block + CURSOR_ID, &id, 4);
  std::memcpy(block + CURSOR_RECORD_COUNT, &count, 4);
  return v.openResult;
}

int readNextRecord(void* cursor) {
  if (enterCall(52279, "readNextRecord", {argPtr(cursor)})) return 0;
  OpenCursor* c = cursorFor(cursor);
  const int end = variants().endOfTableResult;
  if (!c) return 0;
  if (c->next >= c->count) return end;
  unsigned char* buffer = recordBuffer(*c->table);
  if (!buffer) return end;
  const size_t disk = static_cast<size_t>(c->diskSize);
  const size_t shown = static_cast<size_t>(c->recordSize);
  // Read straight into the buffer when the whole disk record fits it.
  unsigned char* into = buffer;
  if (shown < disk) {
    c->spare.resize(disk);
    into = c->spare.data();
  }
  if (std::fseek(c->file, c->next * c->diskSize, SEEK_SET) != 0 ||
      std::fread(into, 1, disk, c->file) != disk) {
    c->current = -1;
    return end;
  }
  const size_t kept = std::min(shown, disk);
  if (into != buffer) std::memcpy(buffer, into, kept);
  for (size_t i = kept; i < shown; ++i) buffer[i] = hostByte(i);
  // The fixed buffer of a host with smaller records holds nothing stale after the record.
  if (!variants().guardedRecordBuffer() && shown < static_cast<size_t>(c->table->nominalSize))
    std::memset(buffer + shown, 0, static_cast<size_t>(c->table->nominalSize) - shown);
  c->current = c->next++;
  return 1;
}

int writeCurrentRecord(void* cursor) {
  if (enterCall(52280, "writeCurrentRecord", {argPtr(cursor)})) return 0;
  OpenCursor* c = cursorFor(cursor);
  if (!c || c->current < 0) return 0;
  const unsigned char* buffer = recordBuffer(*c->table);
  if (!buffer) return 0;
  host().recordsWritten.emplace_back(c->path, c->current);
  const size_t shown = static_cast<size_t>(c->recordSize);
  const size_t kept = std::min(shown, static_cast<size_t>(c->diskSize));
  // Bytes beyond the disk record are the host's: a write may not change them.
  for (size_t i = kept; i < shown; ++i)
    if (buffer[i] != hostByte(i)) {
      ++host().writesBeyondRecord;
      break;
    }
  if (std::fseek(c->file, c->current * c->diskSize, SEEK_SET) != 0 ||
      std::fwrite(buffer, 1, kept, c->file) != kept || std::fflush(c->file) != 0)
    return 0;
  return 1;
}

int closeTableCursor(void* cursor) {
  // Closing cannot fail in this host: an injected fault is journalled, the file still closed.
  enterCall(52281, "closeTableCursor", {argPtr(cursor)});
  OpenCursor* c = cursorFor(cursor);
  if (!c) return 0;
  std::fclose(c->file);
  uint32_t id;
  std::memcpy(&id, static_cast<unsigned char*>(cursor) + CURSOR_ID, 4);
  Table& t = *c->table;
  cursors().erase(id);
  markClosed(cursor);
  t.open = false;
  const HostVariants& v = variants();
  if (v.bufferUnreadableAfterClose) protectGuarded(t.guarded, true);
  if (v.bufferNullUntilOpen) setDescriptorBuffer(t, nullptr);
  return 1;
}

}  // namespace fn
}  // namespace velkar
