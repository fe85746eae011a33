#include "host/memory.h"

#include "host/calls.h"

int blockSize(int32_t count, int entrySize) {
  if (count < 0 || entrySize <= 0 || count > INT32_MAX / entrySize) return -1;
  return count * entrySize;
}

void* reallocHostBlock(void* block, int64_t bytes) {
  if (bytes < 0 || bytes > INT32_MAX) return nullptr;
  return host::reallocMemory(block, static_cast<int>(bytes));
}

void* growListBlock(void* block, int32_t capacity, int entrySize) {
  const int size =
      capacity > INT32_MAX - LIST_GROWTH ? -1 : blockSize(capacity + LIST_GROWTH, entrySize);
  return reallocHostBlock(block, size);
}
