// PLACEHOLDER: replaced by the real implementation.
#include "velkar/host.h"
#include "velkar/host_functions.h"

namespace velkar::fn {

int hostSettings(int operation, const char* section, const char* key, const char* format,
                 va_list args) {
  (void)operation;
  (void)section;
  (void)key;
  (void)format;
  (void)args;
  enterCall(52224, "hostSettings", {});
  return 0;
}

char* warehouseFilePath(int warehouse, char* path, const char* prefix, const char* extension,
                        int kind) {
  (void)warehouse;
  (void)path;
  (void)prefix;
  (void)extension;
  (void)kind;
  enterCall(52311, "warehouseFilePath", {});
  return 0;
}

TableDescriptor* getTableDescriptor(int table) {
  (void)table;
  enterCall(52256, "getTableDescriptor", {});
  return 0;
}

char* dataFilePath(int fileNumber, int variant, char* path, int reserved) {
  (void)fileNumber;
  (void)variant;
  (void)path;
  (void)reserved;
  enterCall(51425, "dataFilePath", {});
  return 0;
}

int openTableCursor(void* cursor, TableDescriptor* table, int mode, const char* path, int a,
                    int b) {
  (void)cursor;
  (void)table;
  (void)mode;
  (void)path;
  (void)a;
  (void)b;
  enterCall(52278, "openTableCursor", {});
  return 0;
}

int readNextRecord(void* cursor) {
  (void)cursor;
  enterCall(52279, "readNextRecord", {});
  return 0;
}

int writeCurrentRecord(void* cursor) {
  (void)cursor;
  enterCall(52280, "writeCurrentRecord", {});
  return 0;
}

int closeTableCursor(void* cursor) {
  (void)cursor;
  enterCall(52281, "closeTableCursor", {});
  return 0;
}

}  // namespace velkar::fn
